#include "platform/ui/DesktopOpen.h"

#include "platform/Dialogs.h"
#include "platform/Shell.h"

namespace sonarvex {

bool OpenWithDesktop(Dialogs& dialogs, const std::string& path) {
  if (ShellOpen(path)) return true;
  dialogs.Message("Не удалось открыть файл '" + path +
                      "': программа xdg-open не найдена или не запускается.",
                  kProgramTitle, MsgIcon::Warning, MsgButtons::Ok);
  return false;
}

}  // namespace sonarvex

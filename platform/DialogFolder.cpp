#include "platform/DialogFolder.h"

#include "platform/Files.h"

namespace sonarvex {

std::string DialogStartFolder(const std::string& asked, const std::string& lastUsed,
                              const std::string& music, const std::string& home) {
  if (!asked.empty()) return asked;
  if (!lastUsed.empty() && DirectoryExists(lastUsed)) return lastUsed;
  if (!music.empty() && DirectoryExists(music)) return music;
  return home;
}

}  // namespace sonarvex

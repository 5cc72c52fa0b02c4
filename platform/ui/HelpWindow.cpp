#include "platform/ui/HelpWindow.h"

#include <QDialog>
#include <QTextBrowser>
#include <QVBoxLayout>

#include "platform/Dialogs.h"
#include "platform/Files.h"
#include "platform/ui/QtText.h"

namespace sonarvex {

QWidget* ShowHelpWindow(QWidget* owner, const std::string& path, std::string* error) {
  std::string problem;
  const std::optional<std::string> text = ReadFileBytes(path, 4u << 20, &problem);
  if (!text) {
    if (error) *error = problem.empty() ? "файл '" + path + "' не найден" : problem;
    return nullptr;
  }
  auto* window = new QDialog(owner);
  window->setObjectName("HelpWindow");
  window->setAttribute(Qt::WA_DeleteOnClose);
  window->setWindowTitle(Q(std::string(kProgramTitle) + " - Помощь"));
  window->setModal(false);
  auto* layout = new QVBoxLayout(window);
  layout->setContentsMargins(0, 0, 0, 0);
  auto* browser = new QTextBrowser(window);
  browser->setObjectName("HelpText");
  browser->setOpenExternalLinks(true);
  browser->setMarkdown(Q(*text));
  layout->addWidget(browser);
  window->resize(760, 560);
  window->show();
  window->raise();
  window->activateWindow();
  return window;
}

std::string AboutText() {
  return std::string(kProgramTitle) + "\nАудио CD: копирование, сжатие, запись и воспроизведение.";
}

}  // namespace sonarvex

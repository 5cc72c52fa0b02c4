// The Dialogs service shown with Qt message boxes and file dialogs.
#pragma once

#include <string>

#include "platform/Dialogs.h"

class QWidget;

namespace sonarvex {

class QtDialogs : public Dialogs {
 public:
  // parent: the window the boxes are modal to (may change, may be null).
  explicit QtDialogs(QWidget* parent = nullptr) : parent_(parent) {}
  void SetParent(QWidget* parent) { parent_ = parent; }

  int Message(const std::string& text, const std::string& caption, MsgIcon icon,
              MsgButtons buttons) override;
  // A message box that is shown and not waited for.
  void Notice(const std::string& text, const std::string& caption, MsgIcon icon) override;
  std::vector<std::string> OpenFiles(const std::string& title,
                                     const std::vector<FileFilter>& filters,
                                     const std::string& folder, bool multiple) override;
  std::optional<std::string> SaveFile(const std::string& title,
                                      const std::vector<FileFilter>& filters,
                                      const std::string& defaultSuffix,
                                      const std::string& initialPath) override;
  std::optional<std::string> ChooseFolder(const std::string& title,
                                          const std::string& initialFolder) override;

 private:
  // Where a dialog opens when the caller names no folder (DialogStartFolder).
  std::string StartFolder(const std::string& asked) const;
  // Remembers the folder of what the user chose.
  void Chosen(const std::string& path, bool isFolder);

  QWidget* parent_;
  std::string lastFolder_;
};

}  // namespace sonarvex

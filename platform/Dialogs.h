// Message boxes and file/folder choosers, behind one service so that every
// window and every long operation can be driven by tests.
//
// All texts are UTF-8. Buttons and answers use the classic message-box codes
// the program's logic is written in.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/Version.h"

namespace sonarvex {

enum class MsgIcon { None, Information, Warning, Error, Question };

enum class MsgButtons {
  Ok,
  OkCancel,
  YesNo,
  YesNoCancel,
  RetryCancel,
  AbortRetryIgnore,
  YesYesAllNo,  // "Да", "Да для всех", "Нет"
};

// Answers of a message box.
enum MsgAnswer : int {
  IdOk = 1,
  IdCancel = 2,
  IdAbort = 3,
  IdRetry = 4,
  IdIgnore = 5,
  IdYes = 6,
  IdNo = 7,
  IdYesAll = 8,  // "Да для всех"
};

// The caption of every message box unless a window names another.
inline constexpr const char* kProgramTitle = "Sonarvex v" SONARVEX_VERSION;

struct FileFilter {
  std::string description;            // "Audio files"
  std::vector<std::string> patterns;  // {"*.wav", "*.mp3"}
};

class Dialogs {
 public:
  virtual ~Dialogs() = default;

  virtual int Message(const std::string& text, const std::string& caption, MsgIcon icon,
                      MsgButtons buttons) = 0;
  // A message that does not wait for the user (a missing sound device at
  // start-up must not hold the program up). Shown as a message box by
  // default.
  virtual void Notice(const std::string& text, const std::string& caption, MsgIcon icon) {
    Message(text, caption, icon, MsgButtons::Ok);
  }

  // File choosers return native paths; an empty result means cancelled.
  virtual std::vector<std::string> OpenFiles(const std::string& title,
                                             const std::vector<FileFilter>& filters,
                                             const std::string& folder, bool multiple) = 0;
  virtual std::optional<std::string> SaveFile(const std::string& title,
                                              const std::vector<FileFilter>& filters,
                                              const std::string& defaultSuffix,
                                              const std::string& initialPath) = 0;
  virtual std::optional<std::string> ChooseFolder(const std::string& title,
                                                  const std::string& initialFolder) = 0;

  // Shorthands for the common boxes.
  void Info(const std::string& text, const std::string& caption = kProgramTitle) {
    Message(text, caption, MsgIcon::Information, MsgButtons::Ok);
  }
  void Warning(const std::string& text, const std::string& caption = kProgramTitle) {
    Message(text, caption, MsgIcon::Warning, MsgButtons::Ok);
  }
  void Error(const std::string& text, const std::string& caption = kProgramTitle) {
    Message(text, caption, MsgIcon::Error, MsgButtons::Ok);
  }
  bool AskYesNo(const std::string& text, const std::string& caption = kProgramTitle) {
    return Message(text, caption, MsgIcon::Question, MsgButtons::YesNo) == IdYes;
  }
};

// A Dialogs service for programs without a window: there is no one to choose
// a file or folder, so every chooser is cancelled. Subclasses decide what a
// message box does.
class WindowlessDialogs : public Dialogs {
 public:
  std::vector<std::string> OpenFiles(const std::string&, const std::vector<FileFilter>&,
                                     const std::string&, bool) override {
    return {};
  }
  std::optional<std::string> SaveFile(const std::string&, const std::vector<FileFilter>&,
                                      const std::string&, const std::string&) override {
    return std::nullopt;
  }
  std::optional<std::string> ChooseFolder(const std::string&, const std::string&) override {
    return std::nullopt;
  }
};

// Turns every message box of a component into a notice of another service.
class NoticeDialogs : public WindowlessDialogs {
 public:
  explicit NoticeDialogs(Dialogs& target) : target_(target) {}
  int Message(const std::string& text, const std::string& caption, MsgIcon icon,
              MsgButtons) override {
    target_.Notice(text, caption, icon);
    return IdOk;
  }

 private:
  Dialogs& target_;
};

}  // namespace sonarvex

// A Dialogs service for tests: each call must match the next scripted
// expectation exactly (text, caption, icon, buttons); it then gives the scripted
// answer. Anything unexpected is recorded as a failure and answered with
// Cancel (or nothing), so a test sees both the mismatch and a safe outcome.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "platform/Dialogs.h"

namespace sonarvex {

class ScriptedDialogs : public Dialogs {
 public:
  // Expect a message box.
  ScriptedDialogs& ExpectMessage(std::string text, std::string caption, MsgIcon icon,
                                 MsgButtons buttons, int answer = IdOk);
  // Expect a file or folder chooser; an empty answer means cancelled.
  ScriptedDialogs& ExpectOpenFiles(std::vector<std::string> answer);
  ScriptedDialogs& ExpectSaveFile(std::string answer);
  ScriptedDialogs& ExpectFolder(std::string answer);

  int Message(const std::string& text, const std::string& caption, MsgIcon icon,
              MsgButtons buttons) override;
  // Notices need no script: they are kept, as "caption|text".
  void Notice(const std::string& text, const std::string& caption, MsgIcon) override {
    notices_.push_back(caption + "|" + text);
  }
  const std::vector<std::string>& Notices() const { return notices_; }
  std::vector<std::string> OpenFiles(const std::string& title,
                                     const std::vector<FileFilter>& filters,
                                     const std::string& folder, bool multiple) override;
  std::optional<std::string> SaveFile(const std::string& title,
                                      const std::vector<FileFilter>& filters,
                                      const std::string& defaultSuffix,
                                      const std::string& initialPath) override;
  std::optional<std::string> ChooseFolder(const std::string& title,
                                          const std::string& initialFolder) override;

  // Mismatches and unexpected calls so far.
  const std::vector<std::string>& Failures() const { return failures_; }
  // Expectations not yet consumed.
  std::size_t Pending() const { return script_.size(); }
  // Every message box shown, as "caption|text".
  const std::vector<std::string>& Shown() const { return shown_; }
  // True when nothing failed and the whole script was used; otherwise the
  // description of what went wrong in *why.
  bool Clean(std::string* why = nullptr) const;

 private:
  enum class Kind { Message, OpenFiles, SaveFile, Folder };
  struct Step {
    Kind kind;
    std::string text, caption;
    MsgIcon icon = MsgIcon::None;
    MsgButtons buttons = MsgButtons::Ok;
    int answer = IdOk;
    std::vector<std::string> paths;
  };
  bool Next(Kind kind, const std::string& what, Step* step);

  std::deque<Step> script_;
  std::vector<std::string> failures_;
  std::vector<std::string> shown_;
  std::vector<std::string> notices_;
};

const char* ToString(MsgIcon icon);
const char* ToString(MsgButtons buttons);

}  // namespace sonarvex

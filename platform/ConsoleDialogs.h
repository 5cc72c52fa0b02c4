// A Dialogs service for programs without a window: every message goes to
// standard error as one line; questions get the answer a script wants
// (the safe one: do not cancel, do not overwrite, do not go on without space).
#pragma once

#include <functional>
#include <string>

#include "platform/Dialogs.h"

namespace sonarvex {

class ConsoleDialogs : public WindowlessDialogs {
 public:
  // answer(text, buttons) decides a question; by default No (Cancel for the
  // other kinds).
  explicit ConsoleDialogs(std::function<int(const std::string&, MsgButtons)> answer = {});

  int Message(const std::string& text, const std::string& caption, MsgIcon icon,
              MsgButtons buttons) override;

  // The last warning or error shown (one line), for the program's exit text.
  const std::string& LastProblem() const { return lastProblem_; }

  // Where the lines go (standard error when not set): a front end that
  // writes its own lines to a stream keeps them in one order there.
  void SetOutput(std::function<void(const std::string& line)> print) { print_ = std::move(print); }

 private:
  std::function<int(const std::string&, MsgButtons)> answer_;
  std::function<void(const std::string&)> print_;
  std::string lastProblem_;
};

}  // namespace sonarvex

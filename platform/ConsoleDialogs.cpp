#include "platform/ConsoleDialogs.h"

#include <cstdio>

namespace sonarvex {
namespace {
std::string OneLine(std::string text) {
  for (char& c : text)
    if (c == '\n' || c == '\r') c = ' ';
  return text;
}
}  // namespace

ConsoleDialogs::ConsoleDialogs(std::function<int(const std::string&, MsgButtons)> answer)
    : answer_(std::move(answer)) {}

int ConsoleDialogs::Message(const std::string& text, const std::string&, MsgIcon icon,
                            MsgButtons buttons) {
  std::string line = OneLine(text);
  int result = IdOk;
  switch (buttons) {
    case MsgButtons::Ok: result = IdOk; break;
    case MsgButtons::YesNo:
    case MsgButtons::YesAllNo: result = IdNo; break;
    case MsgButtons::AbortRetryIgnore: result = IdAbort; break;
    default: result = IdCancel; break;
  }
  if (buttons != MsgButtons::Ok && answer_) result = answer_(text, buttons);
  if (icon == MsgIcon::Warning || icon == MsgIcon::Error) lastProblem_ = line;
  if (print_)
    print_(line);
  else
    std::fprintf(stderr, "%s\n", line.c_str());
  return result;
}

}  // namespace sonarvex

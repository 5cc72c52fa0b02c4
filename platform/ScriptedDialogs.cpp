#include "platform/ScriptedDialogs.h"

namespace sonarvex {

const char* ToString(MsgIcon icon) {
  switch (icon) {
    case MsgIcon::None: return "none";
    case MsgIcon::Information: return "information";
    case MsgIcon::Warning: return "warning";
    case MsgIcon::Error: return "error";
    case MsgIcon::Question: return "question";
  }
  return "?";
}

const char* ToString(MsgButtons buttons) {
  switch (buttons) {
    case MsgButtons::Ok: return "Ok";
    case MsgButtons::OkCancel: return "OkCancel";
    case MsgButtons::YesNo: return "YesNo";
    case MsgButtons::YesNoCancel: return "YesNoCancel";
    case MsgButtons::RetryCancel: return "RetryCancel";
    case MsgButtons::AbortRetryIgnore: return "AbortRetryIgnore";
    case MsgButtons::YesAllNo: return "YesAllNo";
  }
  return "?";
}

ScriptedDialogs& ScriptedDialogs::ExpectMessage(std::string text, std::string caption,
                                                MsgIcon icon, MsgButtons buttons, int answer) {
  Step s{Kind::Message, std::move(text), std::move(caption), icon, buttons, answer, {}};
  script_.push_back(std::move(s));
  return *this;
}

ScriptedDialogs& ScriptedDialogs::ExpectOpenFiles(std::vector<std::string> answer) {
  Step s{Kind::OpenFiles, {}, {}, MsgIcon::None, MsgButtons::Ok, 0, std::move(answer)};
  script_.push_back(std::move(s));
  return *this;
}

ScriptedDialogs& ScriptedDialogs::ExpectSaveFile(std::string answer) {
  Step s{Kind::SaveFile, {}, {}, MsgIcon::None, MsgButtons::Ok, 0, {}};
  if (!answer.empty()) s.paths.push_back(std::move(answer));
  script_.push_back(std::move(s));
  return *this;
}

ScriptedDialogs& ScriptedDialogs::ExpectFolder(std::string answer) {
  Step s{Kind::Folder, {}, {}, MsgIcon::None, MsgButtons::Ok, 0, {}};
  if (!answer.empty()) s.paths.push_back(std::move(answer));
  script_.push_back(std::move(s));
  return *this;
}

bool ScriptedDialogs::Next(Kind kind, const std::string& what, Step* step) {
  if (script_.empty()) {
    failures_.push_back("unexpected " + what);
    return false;
  }
  *step = std::move(script_.front());
  script_.pop_front();
  if (step->kind != kind) {
    failures_.push_back("expected another kind of dialog, got " + what);
    return false;
  }
  return true;
}

int ScriptedDialogs::Message(const std::string& text, const std::string& caption, MsgIcon icon,
                             MsgButtons buttons) {
  shown_.push_back(caption + "|" + text);
  std::string what = std::string("message [") + caption + "] \"" + text + "\" icon " +
                     ToString(icon) + " buttons " + ToString(buttons);
  Step s;
  if (!Next(Kind::Message, what, &s)) return IdCancel;
  if (s.text != text || s.caption != caption || s.icon != icon || s.buttons != buttons) {
    failures_.push_back("expected message [" + s.caption + "] \"" + s.text + "\" icon " +
                        ToString(s.icon) + " buttons " + ToString(s.buttons) + ", got " + what);
  }
  return s.answer;
}

std::vector<std::string> ScriptedDialogs::OpenFiles(const std::string& title,
                                                    const std::vector<FileFilter>&,
                                                    const std::string&, bool) {
  Step s;
  if (!Next(Kind::OpenFiles, "file chooser \"" + title + "\"", &s)) return {};
  return s.paths;
}

std::optional<std::string> ScriptedDialogs::SaveFile(const std::string& title,
                                                     const std::vector<FileFilter>&,
                                                     const std::string&, const std::string&) {
  Step s;
  if (!Next(Kind::SaveFile, "save chooser \"" + title + "\"", &s) || s.paths.empty())
    return std::nullopt;
  return s.paths.front();
}

std::optional<std::string> ScriptedDialogs::ChooseFolder(const std::string& title,
                                                         const std::string&) {
  Step s;
  if (!Next(Kind::Folder, "folder chooser \"" + title + "\"", &s) || s.paths.empty())
    return std::nullopt;
  return s.paths.front();
}

bool ScriptedDialogs::Clean(std::string* why) const {
  std::string text;
  for (const auto& f : failures_) text += f + "\n";
  if (!script_.empty()) text += std::to_string(script_.size()) + " scripted dialog(s) not shown\n";
  if (why) *why = text;
  return text.empty();
}

}  // namespace sonarvex

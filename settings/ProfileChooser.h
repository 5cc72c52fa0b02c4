// The small chooser the profile commands ask with: a label, a list that may
// be editable, a preset text or selection. The main window backs it with
// its chooser window; tests script it.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace sonarvex {

struct ChooserRequest {
  std::string Label;               // UTF-8
  bool Editable = false;           // the list also takes typed text
  std::vector<std::string> Items;  // UTF-8
  int Index = -1;                  // preselected item (-1: none)
  std::string Text;                // preset text of an editable list
};

struct ChooserAnswer {
  std::string Text;  // the list's text after closing (UTF-8)
  int Index = -1;    // the selected item, -1 when the text matches none
};

class ProfileChooser {
 public:
  virtual ~ProfileChooser() = default;
  // Shows the chooser modally; nullopt when it was closed without an answer.
  virtual std::optional<ChooserAnswer> Choose(const ChooserRequest& request) = 0;
};

}  // namespace sonarvex

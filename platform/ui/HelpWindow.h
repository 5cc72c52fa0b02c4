// The program's help, shown in a window of its own (the README rendered),
// and the text of its about box.
#pragma once

#include <string>

class QWidget;

namespace sonarvex {

// Shows the Markdown file at path in a window owned by owner (not modal:
// the user reads it beside the program). Null with the reason in *error
// when the file cannot be read.
QWidget* ShowHelpWindow(QWidget* owner, const std::string& path, std::string* error);

// The about box's text.
std::string AboutText();

}  // namespace sonarvex

// Handing a file to the desktop's own program (xdg-open), with the user told
// when that cannot be done.
#pragma once

#include <string>

namespace sonarvex {

class Dialogs;

// Opens path with xdg-open; when xdg-open cannot be started, says so
// (naming the file) and returns false.
bool OpenWithDesktop(Dialogs& dialogs, const std::string& path);

}  // namespace sonarvex

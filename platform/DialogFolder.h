// Where the program's file and folder dialogs open.
#pragma once

#include <string>

namespace sonarvex {

// The folder a file or folder dialog opens in: `asked` when it is given,
// else the last folder the user chose in one (when it still exists), else
// the user's music folder (when it exists), else the home folder.
std::string DialogStartFolder(const std::string& asked, const std::string& lastUsed,
                              const std::string& music, const std::string& home);

}  // namespace sonarvex

// The program folder: the folder of the running executable. setting/,
// TempFiles/, TempFile/ and WCDDATF/ lie beside the program.
#pragma once

#include <string>

namespace sonarvex {

// The folder of /proc/self/exe, with a trailing '/'.
std::string ExecutableFolder();

// Full path of the running executable.
std::string ExecutablePath();

}  // namespace sonarvex

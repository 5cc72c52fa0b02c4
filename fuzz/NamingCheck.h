// The naming rule the loaders' fuzz targets check: a relative output name
// never leaves the output folder (no part is empty or only dots).
#pragma once

#include <string>

namespace sonarvex::fuzz {

inline void CheckRelativeName(const std::string& name) {
  if (name.empty()) __builtin_trap();
  std::size_t start = 0;
  while (true) {
    const std::size_t end = name.find('\\', start);
    const std::string part = name.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (part.empty() || part.find_first_not_of('.') == std::string::npos) __builtin_trap();
    if (part.find('/') != std::string::npos || part.find('\0') != std::string::npos) __builtin_trap();
    if (end == std::string::npos) break;
    start = end + 1;
  }
}

}  // namespace sonarvex::fuzz

// The genre names of the ID3v1 genre table (codes 0 to 125, with the usual
// extensions), as the tag editor offers them.
#pragma once

#include <string>
#include <vector>

namespace sonarvex {

// The 126 names by code.
const std::vector<std::string>& GenreNamesByCode();
// The same names sorted alphabetically (without regard to case).
const std::vector<std::string>& GenreNamesSorted();

}  // namespace sonarvex

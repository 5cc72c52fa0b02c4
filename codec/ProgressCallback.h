// The progress routine through which long codec operations report and are
// cancelled.
#pragma once

#include <cstdint>
#include <functional>

namespace sonarvex {

// (done, total, cancel, mode): done and total are byte counts of source audio.
// Writers call it with mode 0 before each block and a cancel flag the callee
// may set to true; the source reader calls it with no flag (nullptr) and
// mode -1 while converting.
using ProgressCallback =
    std::function<void(std::uint32_t done, std::uint32_t total, bool* cancel, int mode)>;

}  // namespace sonarvex

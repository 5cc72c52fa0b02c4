// What the main window is doing; commands check it before they run.
#pragma once

namespace sonarvex {

enum class WindowState : int {
  Idle = 1,
  Paused = 2,
  Playing = 3,
  Copying = 4,
  Compressing = 5,
  Searching = 6,
  FileList = 7,
};

}  // namespace sonarvex

// Where the recording window and the command line keep converted files:
// WCDDATF/ beside the program when it runs portable (its temporary folder is
// TempFiles/ there), else inside the run's temporary folder.
#pragma once

#include <string>

namespace sonarvex {

inline std::string RecordingTempFolder(const std::string& programFolder, const std::string& tempFolder) {
  std::string base = programFolder;
  if (!base.empty() && base.back() != '/') base += '/';
  if (tempFolder.empty() || tempFolder == base + "TempFiles/") return base + "WCDDATF/";
  std::string t = tempFolder;
  if (t.back() != '/') t += '/';
  return t + "WCDDATF/";
}

}  // namespace sonarvex

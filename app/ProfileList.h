// The profile list "setting/prof.lst": line 0 is the active profile index
// (-1: the default file "set.dat"), lines 1..10 the profile file names
// ("name.prof"). Lines end in CR LF.
#pragma once

#include <string>
#include <vector>

namespace sonarvex {

class ProfileList {
 public:
  static constexpr int kMaxProfiles = 10;

  // Reads the list; a missing file gives the single line "-1". A first line
  // that is not a number counts as -1. Returns false when the file was missing.
  bool Load(const std::string& settingFolder);
  // Writes the list (line 0 updated from the active index).
  bool Save(const std::string& settingFolder);

  int Active() const { return active_; }
  void SetActive(int index);

  // The settings file of the active profile as it is named on disk (UTF-8):
  // "set.dat" when the index is negative, names no line, or the line is not
  // a plain file name (see IsUsableFileName).
  std::string ActiveFileName() const;

  int ProfileCount() const { return static_cast<int>(lines_.size()) - 1; }
  // Profile file name k (0-based).
  const std::string& FileName(int k) const { return lines_.at(static_cast<std::size_t>(k) + 1); }
  // The menu caption of profile k: the file name up to its first '.'.
  std::string Caption(int k) const;
  // The lines hold CP1251 text; profile k's file name on disk is its UTF-8 form.
  std::string DiskFileName(int k) const;

  // A line names a file inside setting/ only when it is not empty, holds no
  // '/' and no NUL and is not "." or "..". Other lines (a damaged or edited
  // list) are shown but never read, written or deleted.
  static bool IsUsableFileName(const std::string& line);

  const std::vector<std::string>& Lines() const { return lines_; }
  std::vector<std::string>& MutableLines() { return lines_; }

 private:
  std::vector<std::string> lines_{"-1"};
  int active_ = -1;
};

}  // namespace sonarvex

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

  // The settings file of the active profile: "set.dat" when the index is
  // negative or names no line.
  std::string ActiveFileName() const;

  int ProfileCount() const { return static_cast<int>(lines_.size()) - 1; }
  // Profile file name k (0-based).
  const std::string& FileName(int k) const { return lines_.at(static_cast<std::size_t>(k) + 1); }
  // The menu caption of profile k: the file name up to its first '.'.
  std::string Caption(int k) const;

  const std::vector<std::string>& Lines() const { return lines_; }
  std::vector<std::string>& MutableLines() { return lines_; }

 private:
  std::vector<std::string> lines_{"-1"};
  int active_ = -1;
};

}  // namespace sonarvex

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
  // Profile k's file name on disk (UTF-8): the text of its line.
  std::string DiskFileName(int k) const;

  // A line's text (UTF-8). Lines hold CP1251, as the list always has, except
  // names that CP1251 cannot hold, which are kept as UTF-8; a line is taken
  // as UTF-8 when it is valid UTF-8 with other than ASCII in it.
  static std::string LineText(const std::string& line);
  // The line for a text: CP1251 when it holds the text whole, else UTF-8.
  static std::string LineOf(const std::string& utf8);

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

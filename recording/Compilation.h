// The compilation of a recording: its rows (folder, file, audio length),
// the totals as the recording window shows them, adding files and folders
// (WAV files that are not CD audio are converted into the temporary folder
// first), moving rows, project files, the recording settings file, and the
// checks made before a recording.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "records/RecordingSettings.h"

namespace sonarvex {

class Dialogs;

inline constexpr const char* kRecordingSettingsName = "wset.dat";
inline constexpr const char* kRecordingTempFolderName = "WCDDATF";
inline constexpr std::uint32_t kOrangeTimeColor = 0x649AEC;  // COLORREF: an orange

struct CompilationRow {
  std::string folder;  // with a trailing '/'
  std::string name;
  std::uint32_t bytes = 0;  // audio data length
  int image = 2;            // 2 added, 1 recorded
  std::string Path() const { return folder + name; }
};

// "MM:SS:FF" of a sector count (each part two digits at least).
std::string SectorTimeText(std::uint32_t sectors);
// "%2.2f Мб" of bytes / 1048576.
std::string MegabyteText(std::uint64_t bytes);

class Compilation {
 public:
  // tempFolder: where converted files go (ends in '/'); created on first use.
  Compilation(std::string tempFolder, Dialogs& dialogs);

  const std::vector<CompilationRow>& Rows() const { return rows_; }
  std::vector<CompilationRow>& Rows() { return rows_; }
  std::vector<std::string> Paths() const;
  const std::string& TempFolder() const { return tempFolder_; }

  // Adds one file as the recording window does; false when it was left out.
  bool AddFile(const std::string& path, bool skipCompressed);
  // Every .wav below the folder (folders starting with '.' are skipped).
  int AddFolder(const std::string& folder, bool skipCompressed);
  void Remove(int row);
  void Clear() { rows_.clear(); }
  // Moves a row onto another: before the target, or to the end when the
  // target is the last row. Returns the moved row's new index.
  int Move(int from, int to);

  std::uint64_t TotalBytes() const;
  std::uint32_t TotalSectors() const { return static_cast<std::uint32_t>(TotalBytes() / 2352); }
  std::string SizePanelText() const;   // "Размер 12.34 Мб"
  std::string TimePanelText() const;   // "Время MM:SS:FF"
  std::string FilePanelText() const;   // "Файлов N"
  // 76 minutes or more: the time panel turns orange.
  bool TimeWarning() const { return TotalSectors() / 4500 >= 76; }
  // 79 minutes or more: the recording asks first.
  bool OverLength() const { return TotalSectors() / 4500 > 78; }

  // The converted files made so far; DeleteConverted removes them and the
  // temporary folder when it is empty.
  const std::vector<std::string>& Converted() const { return converted_; }
  void DeleteConverted();

 private:
  std::string tempFolder_;
  Dialogs& dialogs_;
  std::vector<CompilationRow> rows_;
  std::vector<std::string> converted_;
};

// wset.dat in the settings folder: the defaults when it is missing or not
// 280 bytes.
RecordingSettings LoadRecordingSettings(const std::string& settingFolder);
// Replaces wset.dat atomically (the folder is made when missing); on failure
// "Не могу сохранить настройки!!!" and false.
bool SaveRecordingSettings(const std::string& settingFolder, const RecordingSettings& settings,
                           Dialogs& dialogs);

// Project files (.cgp): one full path a line, UTF-8.
bool SaveProject(const std::string& path, const std::vector<std::string>& files);
std::optional<std::vector<std::string>> LoadProject(const std::string& path);

}  // namespace sonarvex

// Reading audio sectors as the ripping loop and digital playback do, and the
// read-command detection test (nine read forms x three transfer sizes).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "drive/CommandBlock.h"

namespace sonarvex {

class Transport;

inline constexpr int kDefaultSectorsPerRead = 26;
inline constexpr int kPlaybackSectorsPerRead = 10;

// Sectors per request of the setting (0 means 26).
int EffectiveSectorsPerRead(int setting);

// One chunk as it came from the drive: `sectors` sectors from `lba` in
// `data` (sectors x 2352 bytes; the buffer's contents whatever the result).
// Return false to stop.
using AudioChunkSink = std::function<bool(std::int32_t lba, int sectors, const std::uint8_t* data,
                                          CommandResult result)>;

// Reads sectors first .. first+count-1 in requests of sectorsPerRead
// sectors (0 means 26) through ReadCDDA of the current device, handing each
// chunk to the sink. Like the ripping loop it neither tests the completion
// code nor reads again; the sink sees the code and decides. Returns the
// number of chunks whose read did not succeed.
int ReadAudioRange(Transport& transport, std::int32_t first, std::int32_t count,
                   int sectorsPerRead, const AudioChunkSink& sink);

// Reads a range into memory (count x 2352 bytes); false when a request failed
// or the range is empty/too large (over 100 minutes).
bool ReadAudioSectors(Transport& transport, std::int32_t first, std::int32_t count,
                      int sectorsPerRead, std::vector<std::uint8_t>& out);

// One row of the detection list.
struct DetectionRow {
  int number = 0;       // 1..27
  int readCommand = 0;  // 0..8
  int sectors = 0;      // 1, 26 or the setting
  bool success = false;
  int rowData = 0;      // readCommand + sectors x 256
  std::string name;     // "Стандартная (MMC1)", ...
  std::string result;   // "успешно" / "неудачно"
};

// The detection test on `device` of the transport (closing an open SPTI
// device first and selecting the device with drive type 0): for every read
// command 0..8 and the counts 1, 26 and sectorsSetting, SetReadCommand and a
// ReadCDDA at LBA 150. `sectorsSetting` is the settings dialog's value taken
// as a byte. Rows are reported to onRow as they are made (may be empty).
std::vector<DetectionRow> RunReadCommandDetection(
    Transport& transport, int device, std::uint8_t sectorsSetting,
    const std::function<void(const DetectionRow&)>& onRow = {});

}  // namespace sonarvex

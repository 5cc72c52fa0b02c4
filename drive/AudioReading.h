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

// ---- The drive's read offset -------------------------------------------------
//
// Few drives start an audio read exactly at the sector asked for. The read
// offset (in samples, counted as AccurateRip counts it) says how far off a
// drive is: a drive with offset +N delivers audio that lies N samples
// earlier on the disc, so the corrected read takes what the drive gives N
// samples later (reading into the next track where it must), and -N the
// other way. Audio that would have to come from before the disc's first
// sector or from beyond its audio end is silence.

class IniStore;

inline constexpr int kMaxReadOffset = 5880;  // ten sectors either way
// Where the offsets are kept in the settings folder's INI store: one key a
// drive, named by its identification text.
inline constexpr const char* kReadOffsetIniSection = "ReadOffset";

// The offset stored for a drive (0 when none, or an unusable value).
int ReadOffsetFor(const IniStore& ini, const std::string& driveIdentification);
// Stores it (0 removes the key); false for a value beyond kMaxReadOffset.
bool StoreReadOffset(IniStore& ini, const std::string& driveIdentification, int samples);
// The INI key of a drive: its identification text with '=', '[', ']' and
// control characters replaced by '_' and the ends trimmed.
std::string ReadOffsetKey(const std::string& driveIdentification);

// Reads the true audio of sectors first .. first+count-1 from a drive with
// the given read offset, in chunks of sectorsPerRead sectors handed to the
// sink with the true positions. The drive is asked only for sectors in
// 0 .. audioEnd-1 (audioEnd: the sector after the disc's last audio
// sector); the rest is silence. A chunk's result is the first failed
// request's code, else the last one's. Returns the number of chunks that
// had a failed request. With offset 0 this reads exactly as ReadAudioRange.
int ReadAudioRangeCorrected(Transport& transport, std::int32_t first, std::int32_t count,
                            int offsetSamples, std::int32_t audioEnd, int sectorsPerRead,
                            const AudioChunkSink& sink);

// A hidden track before track 1: audio in track 1's pregap, when the first
// track's INDEX 01 lies after sector 0. Reads sectors 0 .. firstTrackLba-1
// corrected by the read offset; the number of sectors the hidden track has
// (firstTrackLba) when any sample there is not zero, 0 when the pregap is
// digital silence, the disc has none, or a read failed (*readFailed set
// when given).
std::int32_t HiddenTrackSectors(Transport& transport, std::int32_t firstTrackLba, int offsetSamples,
                                std::int32_t audioEnd, int sectorsPerRead, bool* readFailed = nullptr);

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

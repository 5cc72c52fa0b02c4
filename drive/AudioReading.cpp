#include "drive/AudioReading.h"

#include <algorithm>

#include "drive/DriveCommands.h"
#include "drive/Transport.h"
#include "platform/IniStore.h"

namespace sonarvex {

int EffectiveSectorsPerRead(int setting) {
  return setting <= 0 ? kDefaultSectorsPerRead : setting;
}

int ReadAudioRange(Transport& transport, std::int32_t first, std::int32_t count,
                   int sectorsPerRead, const AudioChunkSink& sink) {
  const int per = std::min(EffectiveSectorsPerRead(sectorsPerRead), 0xFFFF);
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(per) * kBytesPerSector);
  int failures = 0;
  std::int32_t lba = first;
  std::int32_t left = count;
  while (left > 0) {
    const int n = static_cast<int>(std::min<std::int32_t>(per, left));
    const CommandResult r =
        ReadCDDA(transport, buffer.data(), lba, static_cast<std::uint32_t>(n) * kBytesPerSector);
    if (!transport.Succeeded(r)) ++failures;
    if (sink && !sink(lba, n, buffer.data(), r)) break;
    lba += n;
    left -= n;
  }
  return failures;
}

bool ReadAudioSectors(Transport& transport, std::int32_t first, std::int32_t count,
                      int sectorsPerRead, std::vector<std::uint8_t>& out) {
  out.clear();
  if (count <= 0 || count > 100 * 4500) return false;
  out.resize(static_cast<std::size_t>(count) * kBytesPerSector);
  const int failures = ReadAudioRange(
      transport, first, count, sectorsPerRead,
      [&](std::int32_t lba, int sectors, const std::uint8_t* data, CommandResult) {
        std::copy(data, data + static_cast<std::size_t>(sectors) * kBytesPerSector,
                  out.begin() + static_cast<std::ptrdiff_t>(lba - first) * kBytesPerSector);
        return true;
      });
  return failures == 0;
}

std::string ReadOffsetKey(const std::string& driveIdentification) {
  std::string key;
  for (char c : driveIdentification) {
    const auto u = static_cast<unsigned char>(c);
    key += (u < 0x20 || c == '=' || c == '[' || c == ']' || u == 0x7F) ? '_' : c;
  }
  const auto begin = key.find_first_not_of(' ');
  if (begin == std::string::npos) return {};
  return key.substr(begin, key.find_last_not_of(' ') - begin + 1);
}

int ReadOffsetFor(const IniStore& ini, const std::string& driveIdentification) {
  const auto v = ini.GetInt(kReadOffsetIniSection, ReadOffsetKey(driveIdentification));
  if (!v || *v < -kMaxReadOffset || *v > kMaxReadOffset) return 0;
  return static_cast<int>(*v);
}

bool StoreReadOffset(IniStore& ini, const std::string& driveIdentification, int samples) {
  if (samples < -kMaxReadOffset || samples > kMaxReadOffset) return false;
  const std::string key = ReadOffsetKey(driveIdentification);
  if (samples == 0)
    ini.Remove(kReadOffsetIniSection, key);
  else
    ini.SetInt(kReadOffsetIniSection, key, samples);
  return true;
}

int ReadAudioRangeCorrected(Transport& transport, std::int32_t first, std::int32_t count,
                            int offsetSamples, std::int32_t audioEnd, int sectorsPerRead,
                            const AudioChunkSink& sink) {
  if (offsetSamples == 0) return ReadAudioRange(transport, first, count, sectorsPerRead, sink);
  const int per = std::min(EffectiveSectorsPerRead(sectorsPerRead), 0xFFFF);
  const std::int64_t shift = static_cast<std::int64_t>(offsetSamples) * 4;
  const std::int64_t sector = kBytesPerSector;
  auto floorDiv = [](std::int64_t a, std::int64_t b) { return a >= 0 ? a / b : -((-a + b - 1) / b); };
  std::vector<std::uint8_t> drive;
  std::vector<std::uint8_t> chunk(static_cast<std::size_t>(per) * kBytesPerSector);
  int failures = 0;
  for (std::int32_t lba = first, left = count; left > 0;) {
    const int n = static_cast<int>(std::min<std::int32_t>(per, left));
    // The drive's bytes that hold the true audio of this chunk.
    const std::int64_t from = lba * sector + shift;
    const std::int64_t to = (lba + n) * sector + shift;
    const std::int64_t firstSector = floorDiv(from, sector);
    const std::int64_t lastSector = floorDiv(to - 1, sector);
    const std::int64_t readFirst = std::max<std::int64_t>(firstSector, 0);
    const std::int64_t readLast = std::min<std::int64_t>(lastSector, audioEnd - 1);
    drive.assign(static_cast<std::size_t>(lastSector - firstSector + 1) * kBytesPerSector, 0);
    // A chunk wholly beyond the disc needs no request: it is silence.
    CommandResult result = transport.SuccessCode();
    bool failed = false;
    for (std::int64_t at = readFirst; at <= readLast;) {
      const std::int64_t m = std::min<std::int64_t>(per, readLast - at + 1);
      std::uint8_t* dest = drive.data() + (at - firstSector) * sector;
      const CommandResult r = ReadCDDA(transport, dest, static_cast<std::int32_t>(at),
                                       static_cast<std::uint32_t>(m) * kBytesPerSector);
      if (!transport.Succeeded(r)) {
        if (!failed) result = r;
        failed = true;
      } else if (!failed) {
        result = r;
      }
      at += m;
    }
    if (failed) ++failures;
    const std::int64_t skip = from - firstSector * sector;
    std::copy(drive.begin() + skip, drive.begin() + skip + static_cast<std::int64_t>(n) * sector,
              chunk.begin());
    if (sink && !sink(lba, n, chunk.data(), result)) break;
    lba += n;
    left -= n;
  }
  return failures;
}

std::vector<DetectionRow> RunReadCommandDetection(
    Transport& transport, int device, std::uint8_t sectorsSetting,
    const std::function<void(const DetectionRow&)>& onRow) {
  const int counts[3] = {1, 26, sectorsSetting};
  std::vector<std::uint8_t> buffer(
      static_cast<std::size_t>(std::max<int>(sectorsSetting, 26)) * kBytesPerSector);
  if (transport.Kind() == TransportKind::Spti) transport.Close();
  transport.SelectDevice(device, 0);
  std::vector<DetectionRow> rows;
  int number = 0;
  for (int r = 0; r < kReadCommandCount; ++r)
    for (int c : counts) {
      DetectionRow row;
      row.number = ++number;
      row.readCommand = r;
      row.sectors = c;
      row.name = std::string(ReadCommandName(r));
      SetReadCommand(transport, r);
      row.success = transport.Succeeded(ReadCDDA(transport, buffer.data(), 150,
                                                 static_cast<std::uint32_t>(c) * kBytesPerSector));
      row.result = row.success ? "успешно" : "неудачно";
      row.rowData = r + c * 256;
      if (onRow) onRow(row);
      rows.push_back(std::move(row));
    }
  return rows;
}

std::int32_t HiddenTrackSectors(Transport& transport, std::int32_t firstTrackLba, int offsetSamples,
                                std::int32_t audioEnd, int sectorsPerRead, bool* readFailed) {
  if (readFailed) *readFailed = false;
  if (firstTrackLba <= 0 || firstTrackLba > 100 * 4500) return 0;
  bool audible = false, failed = false;
  ReadAudioRangeCorrected(transport, 0, firstTrackLba, offsetSamples, audioEnd, sectorsPerRead,
                          [&](std::int32_t, int sectors, const std::uint8_t* data, CommandResult r) {
                            if (!transport.Succeeded(r)) {
                              failed = true;
                              return false;
                            }
                            const std::size_t bytes = static_cast<std::size_t>(sectors) * kBytesPerSector;
                            for (std::size_t i = 0; i < bytes && !audible; ++i) audible = data[i] != 0;
                            return !audible;
                          });
  if (readFailed) *readFailed = failed;
  return audible && !failed ? firstTrackLba : 0;
}

}  // namespace sonarvex

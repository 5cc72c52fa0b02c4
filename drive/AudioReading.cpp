#include "drive/AudioReading.h"

#include <algorithm>

#include "drive/DriveCommands.h"
#include "drive/Transport.h"

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

}  // namespace sonarvex

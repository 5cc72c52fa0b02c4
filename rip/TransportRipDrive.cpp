#include "rip/TransportRipDrive.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "drive/AudioReading.h"
#include "drive/DriveCommands.h"
#include "drive/Transport.h"

namespace sonarvex {

bool TransportRipDrive::ReadCdda(std::uint8_t* buffer, std::uint32_t sector,
                                 std::uint32_t sectors) {
  auto lba = static_cast<std::int32_t>(sector) + shift_;
  if (offset_ != 0) {
    bool ok = true;
    const int count = static_cast<int>(sectors);
    ReadAudioRangeCorrected(transport_, lba, count, offset_, audioEnd_, count,
                            [&](std::int32_t, int n, const std::uint8_t* data, CommandResult r) {
                              ok = transport_.Succeeded(r);
                              std::memcpy(buffer, data, static_cast<std::size_t>(n) * kBytesPerSector);
                              return ok;
                            });
    return ok;
  }
  return transport_.Succeeded(
      sonarvex::ReadCDDA(transport_, buffer, lba, sectors * static_cast<std::uint32_t>(kBytesPerSector)));
}

bool TransportRipDrive::ReadCddaC2(std::uint8_t* buffer, std::uint8_t* c2, std::uint32_t sector,
                                   std::uint32_t sectors) {
  if (!c2_) return RipDrive::ReadCddaC2(buffer, c2, sector, sectors);
  const std::int64_t lba = static_cast<std::int64_t>(sector) + shift_;
  if (offset_ == 0)
    return transport_.Succeeded(ReadCDDAWithC2(transport_, buffer, c2,
                                               static_cast<std::int32_t>(lba), sectors));
  // The true audio of the sectors lies offset samples further in what the
  // drive delivers: the drive's sectors that hold it are read (silence, and
  // no pointers, before the disc's start and from the audio's end on) and
  // the audio with its pointers is taken from there.
  constexpr std::int64_t kSector = kBytesPerSector;
  auto floorDiv = [](std::int64_t a, std::int64_t b) { return a >= 0 ? a / b : -((-a + b - 1) / b); };
  const std::int64_t from = lba * kSector + static_cast<std::int64_t>(offset_) * 4;
  const std::int64_t bytes = static_cast<std::int64_t>(sectors) * kSector;
  const std::int64_t first = floorDiv(from, kSector);
  const std::int64_t last = floorDiv(from + bytes - 1, kSector);
  const std::size_t count = static_cast<std::size_t>(last - first + 1);
  std::vector<std::uint8_t> audio(count * kBytesPerSector, 0), flags(count * kC2PointerBytes, 0);
  const std::int64_t lo = std::max<std::int64_t>(first, 0);
  const std::int64_t hi = std::min<std::int64_t>(last, static_cast<std::int64_t>(audioEnd_) - 1);
  bool ok = true;
  if (lo <= hi)
    ok = transport_.Succeeded(ReadCDDAWithC2(
        transport_, audio.data() + static_cast<std::size_t>(lo - first) * kBytesPerSector,
        flags.data() + static_cast<std::size_t>(lo - first) * kC2PointerBytes,
        static_cast<std::int32_t>(lo), static_cast<std::uint32_t>(hi - lo + 1)));
  const std::size_t skip = static_cast<std::size_t>(from - first * kSector);
  std::memcpy(buffer, audio.data() + skip, static_cast<std::size_t>(bytes));
  std::fill(c2, c2 + static_cast<std::size_t>(sectors) * kC2PointerBytes, std::uint8_t{0});
  for (std::size_t b = 0; b < static_cast<std::size_t>(bytes); ++b) {
    const std::size_t at = skip + b;
    if (flags[at / 8] & (0x80 >> (at % 8))) c2[b / 8] |= static_cast<std::uint8_t>(0x80 >> (b % 8));
  }
  return ok;
}

void TransportRipDrive::SetReadSpeed(int factor) { sonarvex::SetReadSpeed(transport_, factor); }

void TransportRipDrive::LockMedium(bool lock) { sonarvex::LockMedium(transport_, lock); }

void TransportRipDrive::Seek(std::uint32_t sector) {
  sonarvex::Seek(transport_, static_cast<std::int32_t>(sector) + shift_);
}

bool TransportRipDrive::MediumReady() { return TestUnitReadySense(transport_) == 0; }

}  // namespace sonarvex

#include "rip/TransportRipDrive.h"

#include <cstring>

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

void TransportRipDrive::SetReadSpeed(int factor) { sonarvex::SetReadSpeed(transport_, factor); }

void TransportRipDrive::LockMedium(bool lock) { sonarvex::LockMedium(transport_, lock); }

void TransportRipDrive::Seek(std::uint32_t sector) {
  sonarvex::Seek(transport_, static_cast<std::int32_t>(sector) + shift_);
}

bool TransportRipDrive::MediumReady() { return TestUnitReadySense(transport_) == 0; }

}  // namespace sonarvex

#include "app/TransportRipDrive.h"

#include "drive/DriveCommands.h"
#include "drive/Transport.h"

namespace sonarvex {

bool TransportRipDrive::ReadCdda(std::uint8_t* buffer, std::uint32_t sector,
                                 std::uint32_t sectors) {
  auto lba = static_cast<std::int32_t>(sector) + shift_;
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

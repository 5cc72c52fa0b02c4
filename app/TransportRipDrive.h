// The ripping loop's drive: audio reads and the drive settings through the
// current device of a transport.
#pragma once

#include "app/RipPipeline.h"

namespace sonarvex {

class Transport;

class TransportRipDrive : public RipDrive {
 public:
  // firstTrackOffset: the album's; sector numbers of the album record count
  // from the first track, the drive's from 00:02:00.
  TransportRipDrive(Transport& transport, int firstTrackOffset)
      : transport_(transport), shift_(firstTrackOffset - 150) {}

  bool ReadCdda(std::uint8_t* buffer, std::uint32_t sector, std::uint32_t sectors) override;
  void SetReadSpeed(int factor) override;
  void LockMedium(bool lock) override;
  void Seek(std::uint32_t sector) override;
  // TEST UNIT READY answers GOOD: the disc is there and was not changed.
  bool MediumReady() override;

 private:
  Transport& transport_;
  int shift_;
};

}  // namespace sonarvex

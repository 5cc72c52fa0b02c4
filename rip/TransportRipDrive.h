// The ripping loop's drive: audio reads and the drive settings through the
// current device of a transport.
#pragma once

#include "rip/RipPipeline.h"

namespace sonarvex {

class Transport;

class TransportRipDrive : public RipDrive {
 public:
  // firstTrackOffset: the album's; sector numbers of the album record count
  // from the first track, the drive's from 00:02:00.
  TransportRipDrive(Transport& transport, int firstTrackOffset)
      : transport_(transport), shift_(firstTrackOffset - 150) {}

  // Every read is corrected by the drive's read offset (samples): the audio
  // comes from where it truly lies on the disc, silence before the disc's
  // first sector and from audioEnd (the sector after the last audio sector,
  // counted as the album counts) on.
  void SetReadOffset(int samples, std::uint32_t audioEnd) {
    offset_ = samples;
    audioEnd_ = static_cast<std::int32_t>(audioEnd) + shift_;
  }

  // Reads with the C2 error pointers (READ CD) when on: for a drive whose
  // capabilities page says it has them (DriveHasC2Pointers).
  void SetC2Reads(bool on) { c2_ = on; }

  bool ReadCdda(std::uint8_t* buffer, std::uint32_t sector, std::uint32_t sectors) override;
  bool HasC2() override { return c2_; }
  // Corrected by the read offset as ReadCdda is; the pointers follow their audio.
  bool ReadCddaC2(std::uint8_t* buffer, std::uint8_t* c2, std::uint32_t sector,
                  std::uint32_t sectors) override;
  std::uint32_t AudioEnd() override {
    return audioEnd_ > shift_ ? static_cast<std::uint32_t>(audioEnd_ - shift_) : 0;
  }
  void SetReadSpeed(int factor) override;
  void LockMedium(bool lock) override;
  void Seek(std::uint32_t sector) override;
  // TEST UNIT READY answers GOOD: the disc is there and was not changed.
  bool MediumReady() override;

 private:
  Transport& transport_;
  int shift_;
  int offset_ = 0;
  std::int32_t audioEnd_ = 0;
  bool c2_ = false;
};

}  // namespace sonarvex

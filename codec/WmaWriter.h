// WMA output. No WMA encoder is bound yet: the writer reports itself
// unavailable, and every attempt to write WMA fails with the message the
// program gives when the Windows Media encoder is missing.
#pragma once

#include <cstdint>
#include <string>

#include "codec/AudioWriter.h"

namespace sonarvex {

// WMA bitrates (kbit/s) by index 0..8.
inline constexpr int kWmaBitrates[9] = {32, 40, 48, 64, 80, 96, 128, 160, 192};

inline constexpr const char* kWmaUnavailableText =
    "Кодирование в WMA невозможно т.к. кодер не установлен.";

class WmaWriter : public AudioWriter {
 public:
  WmaWriter() = default;

  // 0 when the encoder is usable.
  std::uint32_t Unavailable() const { return unavailable_; }
  bool Available() const override { return unavailable_ == 0; }
  // Takes WmaBitrateIndex and WmaDrm.
  void Configure(const SettingsRecord& s) override {
    bitrateIndex_ = s.WmaBitrateIndex;
    drm_ = s.WmaDrm != 0;
  }

  WriteResult Open(const TrackTagRecord* tag, const std::string& fileName) override;
  WriteResult Write(const void* pcm, std::size_t byteCount) override;
  WriteResult Close() override;
  void Abort() override;
  bool IsOpen() const override { return false; }
  WriteResult ConvertFile(const std::string& source, const std::string& output,
                          const TrackTagRecord* tag) override;

 private:
  std::uint32_t unavailable_ = 1;
  int bitrateIndex_ = 0;
  bool drm_ = false;
};

}  // namespace sonarvex

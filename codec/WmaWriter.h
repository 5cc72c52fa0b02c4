// WMA output. No WMA encoder is bound yet: the writer reports itself
// unavailable, and WMA output then produces nothing, quietly.
#pragma once

#include <cstdint>
#include <string>

#include "codec/AudioFormat.h"
#include "codec/ProgressCallback.h"
#include "records/TrackTagRecord.h"

namespace sonarvex {

// WMA bitrates (kbit/s) by index 0..8.
inline constexpr int kWmaBitrates[9] = {32, 40, 48, 64, 80, 96, 128, 160, 192};

class WmaWriter {
 public:
  WmaWriter() = default;

  // 0 when the encoder is usable.
  std::uint32_t Unavailable() const { return unavailable_; }
  bool Available() const { return unavailable_ == 0; }

  bool Open(const std::string& fileName, int bitrateIndex, bool drm);
  // 0, or 1 on an error (always 1 while unavailable).
  int Write(const void* pcm, std::size_t byteCount);
  void Close(const TrackTagRecord* tag);
  void ConvertFile(const std::string& source, const std::string& output, const TrackTagRecord* tag,
                   bool drm, int bitrateIndex);

  void SetSourceFormat(const AudioFormatRecord& f) { source_ = f; }
  const AudioFormatRecord& SourceFormat() const { return source_; }
  void SetProgress(ProgressCallback cb) { progress_ = std::move(cb); }
  void SetNormalize(bool on) { normalize_ = on; }
  void SetGain(double g) { gain_ = g; }

 private:
  ProgressCallback progress_;
  std::uint32_t unavailable_ = 1;
  double gain_ = 1.0;
  bool normalize_ = false;
  AudioFormatRecord source_ = CdAudioFormat;
};

}  // namespace sonarvex

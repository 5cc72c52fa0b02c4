// What an MP3 file says about itself before it is decoded: whether it is a
// readable regular file with any bytes, and, from the VBR header of its first
// frame (Xing/Info with the encoder's delay and padding, or VBRI), how many
// frames it holds. The conversion compares that count with what was decoded,
// so that a file cut short is not taken for a whole one.
#pragma once

#include <cstdint>
#include <string>

namespace sonarvex {

struct Mp3StreamInfo {
  bool hasFrameCount = false;   // a VBR header with a frame count
  std::uint32_t frames = 0;     // audio frames after the header frame
  int samplesPerFrame = 0;      // 384, 576 or 1152
  bool hasGaplessInfo = false;  // the encoder's delay and padding are known
  int encoderDelay = 0;
  int encoderPadding = 0;

  // The fewest sample frames (per channel) a whole file decodes to; 0 when
  // the file does not say.
  std::uint64_t MinimumSamples() const;
};

// Checks the source of an MP3 conversion: a regular file (opened without
// waiting on a FIFO or device) that is not empty. Returns an empty text when
// it can be decoded, else the reason ("это не обычный файл", "в файле нет
// звука MP3", the system's text). Fills info from the first frame's VBR header.
std::string InspectMp3Source(const std::string& path, Mp3StreamInfo* info);

}  // namespace sonarvex

// CD addresses: minutes, seconds and frames, the frame arithmetic and the
// size of an audio sector.
#pragma once

#include <cstdint>

namespace sonarvex {

// Minutes, seconds, frames (75 frames a second).
#pragma pack(push, 1)
struct Msf {
  std::uint8_t minute;
  std::uint8_t second;
  std::uint8_t frame;
};
#pragma pack(pop)
static_assert(sizeof(Msf) == 3);

inline constexpr int kFramesPerSecond = 75;
inline constexpr int kFramesPerMinute = 4500;
inline constexpr int kBytesPerSector = 2352;

inline constexpr int MsfToFrames(Msf m) {
  return m.minute * kFramesPerMinute + m.second * kFramesPerSecond + m.frame;
}
// Frames to minutes, seconds, frames (minutes saturate at 255).
inline constexpr Msf FramesToMsf(int frames) {
  if (frames < 0) frames = 0;
  int minutes = frames / kFramesPerMinute;
  return Msf{static_cast<std::uint8_t>(minutes > 255 ? 255 : minutes),
             static_cast<std::uint8_t>((frames / kFramesPerSecond) % 60),
             static_cast<std::uint8_t>(frames % kFramesPerSecond)};
}

}  // namespace sonarvex

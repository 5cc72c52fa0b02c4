#include "playback/SoundVolume.h"

#include <cmath>
#include <cstdint>
#include <cstring>

namespace sonarvex {

int BufferVolumeFromLevel(int level) {
  if (level < 0) level = 0;
  if (level > 255) level = 255;
  const double v = level / 255.0 * 10000.0;
  const double ln = v == 0.0 ? 1.0 : std::log(v);
  return static_cast<int>(std::lround((v - 10000.0) / ln));
}

double GainFromHundredthsDb(int hundredths) {
  if (hundredths >= 0) return 1.0;
  if (hundredths <= kSilentVolume) return 0.0;
  return std::pow(10.0, hundredths / 2000.0);
}

void ApplyGain(unsigned char* pcm, long bytes, double gain) {
  if (gain >= 1.0) return;
  for (long i = 0; i + 1 < bytes; i += 2) {
    std::int16_t s;
    std::memcpy(&s, pcm + i, 2);  // the host is little-endian like CD audio
    const long scaled = std::lround(s * gain);
    s = static_cast<std::int16_t>(scaled);
    std::memcpy(pcm + i, &s, 2);
  }
}

}  // namespace sonarvex

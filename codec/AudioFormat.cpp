#include "codec/AudioFormat.h"

#include <cstring>

namespace sonarvex {

AudioFormatRecord MakePcmFormat(std::uint32_t sampleRate, std::uint16_t channels) {
  AudioFormatRecord f{};
  f.FormatTag = kFormatPcm;
  f.Channels = channels;
  f.SampleRate = sampleRate;
  f.BlockAlign = static_cast<std::uint16_t>(channels * 2);
  f.AvgBytesPerSec = sampleRate * f.BlockAlign;
  f.BitsPerSample = 16;
  f.ExtraSize = 20;
  return f;
}

bool SameFormat(const AudioFormatRecord& a, const AudioFormatRecord& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

}  // namespace sonarvex

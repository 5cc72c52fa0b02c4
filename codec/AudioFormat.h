// The program's one description of a PCM or compressed audio format: the 18
// bytes of the classic wave format header followed by two zero bytes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sonarvex {

#pragma pack(push, 1)
struct AudioFormatRecord {
  std::uint16_t FormatTag;       // 1 = PCM, 85 = MPEG Layer-3
  std::uint16_t Channels;        // 1 or 2
  std::uint32_t SampleRate;      // Hz
  std::uint32_t AvgBytesPerSec;
  std::uint16_t BlockAlign;      // bytes per sample frame
  std::uint16_t BitsPerSample;   // 16 for all PCM the program produces
  std::uint16_t ExtraSize;       // 20 in every record the program builds
  std::uint8_t Reserved[2];
};
#pragma pack(pop)

static_assert(sizeof(AudioFormatRecord) == 20);
static_assert(offsetof(AudioFormatRecord, Channels) == 2);
static_assert(offsetof(AudioFormatRecord, SampleRate) == 4);
static_assert(offsetof(AudioFormatRecord, AvgBytesPerSec) == 8);
static_assert(offsetof(AudioFormatRecord, BlockAlign) == 12);
static_assert(offsetof(AudioFormatRecord, BitsPerSample) == 14);
static_assert(offsetof(AudioFormatRecord, ExtraSize) == 16);

inline constexpr std::uint16_t kFormatPcm = 1;
inline constexpr std::uint16_t kFormatMpegLayer3 = 85;

// Ripped CD audio: PCM, 2 channels, 44100 Hz, 16 bits.
inline constexpr AudioFormatRecord CdAudioFormat = {1, 2, 44100, 176400, 4, 16, 20, {0, 0}};

// A 16-bit PCM record for the given rate and channels (extra size 20).
AudioFormatRecord MakePcmFormat(std::uint32_t sampleRate, std::uint16_t channels);

bool SameFormat(const AudioFormatRecord& a, const AudioFormatRecord& b);

}  // namespace sonarvex

// Test material of rips: disc images of noise written as CUE/BIN, the audio
// of WAV files, and AccurateRip checksums and database entries computed here
// from the description of the format.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "accuraterip/AccurateRip.h"
#include "platform/Files.h"
#include "platform/SafeFile.h"

namespace sonarvex {
namespace {

constexpr std::int32_t kSector = 2352;

// A disc image of audio tracks of noise whose first and last twelve sectors
// are silent, as discs begin and end: a read offset of up to ten sectors
// either way then has true audio to give at both ends.
struct NoiseImage {
  std::string cue;
  std::string audio;  // the whole program area
  std::vector<std::int32_t> starts;
  std::int32_t end = 0;
  std::string Track(int i) const {
    const std::int32_t to = i + 1 < static_cast<int>(starts.size()) ? starts[i + 1] : end;
    return audio.substr(static_cast<std::size_t>(starts[i]) * kSector,
                        static_cast<std::size_t>(to - starts[i]) * kSector);
  }
};

std::string CueTimeOf(std::int32_t sectors) {
  char b[16];
  std::snprintf(b, sizeof b, "%02d:%02d:%02d", sectors / 4500, sectors / 75 % 60, sectors % 75);
  return b;
}

NoiseImage MakeNoiseImage(const std::string& folder, const std::string& name,
                          const std::vector<std::int32_t>& lengths, std::uint32_t seed,
                          std::int32_t corruptSector = -1) {
  NoiseImage image;
  for (std::int32_t n : lengths) {
    image.starts.push_back(image.end);
    image.end += n;
  }
  image.audio.resize(static_cast<std::size_t>(image.end) * kSector);
  std::uint32_t x = seed;
  for (std::size_t k = 12 * kSector; k + 12 * kSector < image.audio.size(); ++k) {
    x = x * 1664525u + 1013904223u;
    image.audio[k] = static_cast<char>(x >> 24);
  }
  std::string bin = image.audio;
  if (corruptSector >= 0) bin[static_cast<std::size_t>(corruptSector) * kSector + 1000] ^= 0x5A;
  EXPECT_TRUE(WriteFileAtomically(folder + name + ".bin", bin));
  std::string cue = "FILE \"" + name + ".bin\" BINARY\n";
  for (std::size_t i = 0; i < lengths.size(); ++i) {
    char number[24];
    std::snprintf(number, sizeof number, "%02zu", i + 1);
    cue += std::string("  TRACK ") + number + " AUDIO\n    INDEX 01 " + CueTimeOf(image.starts[i]) + "\n";
  }
  image.cue = folder + name + ".cue";
  EXPECT_TRUE(WriteFileAtomically(image.cue, cue));
  return image;
}

// The audio of a WAV file (what follows its "data" chunk header).
std::string WavAudio(const std::string& path) {
  auto bytes = ReadFileBytes(path);
  if (!bytes) return {};
  const auto at = bytes->find("data", 12);
  return at == std::string::npos ? std::string() : bytes->substr(at + 8);
}

// AccurateRip's two checksums of a track, computed here from the
// description of the format: v1 adds each sample (a 32-bit word) times its
// position; v2 adds both halves of the 64-bit products. The disc's first
// track leaves out its first five sectors but one sample, the last its last
// five sectors.
std::pair<std::uint32_t, std::uint32_t> ArOf(const std::string& pcm, bool first, bool last) {
  const std::uint64_t samples = pcm.size() / 4;
  const std::uint64_t from = first ? 5 * 588 : 1;
  const std::uint64_t to = last ? samples - 5 * 588 : samples;
  std::uint32_t v1 = 0, v2 = 0;
  for (std::uint64_t pos = 1; pos <= samples; ++pos) {
    if (pos < from || pos > to) continue;
    std::uint32_t word;
    std::memcpy(&word, pcm.data() + (pos - 1) * 4, 4);
    v1 += static_cast<std::uint32_t>(word * pos);
    const std::uint64_t product = static_cast<std::uint64_t>(word) * (pos & 0xFFFFFFFFu);
    v2 += static_cast<std::uint32_t>(product >> 32) + static_cast<std::uint32_t>(product);
  }
  return {v1, v2};
}

// A database entry of one submission with the given confidence.
std::string EntryOf(const ArDiscIds& ids, const std::vector<std::uint32_t>& v1s,
                    std::uint8_t confidence) {
  std::string s(1, static_cast<char>(ids.trackCount));
  auto put = [&](std::uint32_t v) {
    for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  };
  put(ids.id1);
  put(ids.id2);
  put(ids.cddb);
  for (std::uint32_t v : v1s) {
    s.push_back(static_cast<char>(confidence));
    put(v);
    put(0);
  }
  return s;
}

}  // namespace
}  // namespace sonarvex

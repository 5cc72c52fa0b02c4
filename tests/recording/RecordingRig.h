// Test rig for the recording layer: a software reader and a software
// recorder (instant writes) reached through the program's transports, and
// CD-audio WAV files whose every sector can be told apart.
#pragma once

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "codec/AudioFormat.h"
#include "drive/AspiTransport.h"
#include "drive/DeviceDirectory.h"
#include "drive/SptiTransport.h"
#include "drive/virtual/VirtualDisc.h"
#include "drive/virtual/VirtualDrive.h"
#include "platform/Files.h"
#include "tests/codec/CodecTestUtil.h"

namespace sonarvex::test {

struct RecordingRig {
  TempDir dir;
  DeviceDirectory directory{false};
  SptiTransport spti{directory};
  AspiTransport aspi{directory};
  std::shared_ptr<VirtualDrive> reader, recorder;
  std::string cue;

  // A reader first (device 0) unless noReader, then the recorder.
  explicit RecordingRig(bool rewritable = false, bool noReader = false) {
    if (!noReader) {
      reader = std::make_shared<VirtualDrive>();
      reader->InsertDisc(BuildAudioDisc({1000}));
      directory.AddVirtual(reader);
    }
    VirtualDriveConfig config;
    config.capabilities = VirtualDriveConfig::DefaultCapabilities(true);
    config.simulateWriteTime = false;
    recorder = std::make_shared<VirtualDrive>(config);
    cue = dir.File("out.cue");
    recorder->SetBurnTarget(cue, rewritable);
    directory.AddVirtual(recorder);
  }
  int RecorderDevice() const { return reader ? 1 : 0; }
};

// Sample value of byte pair i of the file with this seed.
inline std::vector<std::uint8_t> PatternAudio(int seed, std::size_t bytes) {
  std::vector<std::uint8_t> v(bytes);
  std::uint32_t x = 0x9E3779B9u * static_cast<std::uint32_t>(seed + 1);
  for (std::size_t i = 0; i < bytes; ++i) {
    x = x * 1664525u + 1013904223u;
    v[i] = static_cast<std::uint8_t>(x >> 24);
  }
  return v;
}

// Audio that sounds like audio (a tone per seed, a slow ramp in the low bits
// so that no two sectors are alike): peers that guess the byte order from
// the signal, as cd-paranoia does, guess it right.
inline std::vector<std::uint8_t> ToneAudio(int seed, std::size_t bytes) {
  std::vector<std::uint8_t> v(bytes);
  const double step = 2 * 3.141592653589793 * (220.0 + 70.0 * seed) / 44100.0;
  for (std::size_t i = 0; i + 1 < bytes; i += 2) {
    const std::size_t frame = i / 4;
    const auto s = static_cast<std::int16_t>(9000.0 * std::sin(step * static_cast<double>(frame)) +
                                             static_cast<double>((frame / 588) % 64));
    v[i] = static_cast<std::uint8_t>(s & 0xFF);
    v[i + 1] = static_cast<std::uint8_t>((s >> 8) & 0xFF);
  }
  return v;
}

// A CD-audio WAV holding exactly these bytes of audio.
inline std::string WriteCdWav(const std::string& path, const std::vector<std::uint8_t>& audio) {
  std::vector<std::int16_t> samples(audio.size() / 2);
  if (!samples.empty()) std::memcpy(samples.data(), audio.data(), samples.size() * 2);
  WriteWav(path, samples, CdAudioFormat);
  return path;
}

}  // namespace sonarvex::test

// Helpers for the codec tests: temporary folders, synthesised tones, running
// the peer programs, reading MP3 frame headers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "codec/AudioFormat.h"

namespace sonarvex::test {

// A fresh folder below the system's temporary folder, removed on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Interleaved 16-bit samples of a tone: 440 Hz left (or mono), 660 Hz right.
std::vector<std::int16_t> Tone(std::size_t frames, int channels, int rate = 44100,
                               double amplitude = 12000.0);

// Writes a WAV with the program's own 48-byte header.
void WriteWav(const std::string& path, const std::vector<std::int16_t>& samples,
              const AudioFormatRecord& format);

// Runs a command line through the shell; returns its standard output.
// exitCode receives the exit status when given.
std::string Run(const std::string& command, int* exitCode = nullptr);
std::string Quote(const std::string& s);

std::vector<std::uint8_t> ReadAll(const std::string& path);
void WriteAll(const std::string& path, const std::vector<std::uint8_t>& bytes);

// The value of key=value in ffprobe's "default" output, or "".
std::string ProbeValue(const std::string& probeOutput, const std::string& key);

// Decodes any audio file with ffmpeg to 16-bit little-endian PCM.
std::vector<std::int16_t> DecodeWithFfmpeg(const std::string& path, const std::string& extra = "");

// The first MPEG audio frame header at or after offset.
struct Mp3Frame {
  std::size_t offset = 0;
  int version = 0;  // 1, 2 (or 25 for 2.5)
  int bitrateKbps = 0;
  int sampleRate = 0;
  int mode = 0;  // 0 stereo, 1 joint stereo, 2 dual channel, 3 mono
  bool original = false;
  std::size_t length = 0;
};
bool FindMp3Frame(const std::vector<std::uint8_t>& file, std::size_t from, Mp3Frame* frame);

// The size of the ID3v2 tag at the start of the file (0 when none).
std::size_t Id3v2Size(const std::vector<std::uint8_t>& file);

}  // namespace sonarvex::test

// Shared helpers of the decoder tests: loading libkelpra.so, temporary
// folders, WAV files and test signals.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "kelpra/Mp3DecoderOptions.h"

namespace kelpra_test {

// ConvertMP3ToWAV of the built libkelpra.so (dlopen from the bin folder).
MP3_CONVERT_FUNCTION LoadConvert();

// The shared reference folder (mpeg-audio/...), or empty when absent.
std::string SharedDir();
bool HaveProgram(const char* name);

class TempDir {
 public:
  TempDir();
  ~TempDir();
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }
  const std::filesystem::path& path() const { return path_; }
  // The names of the files in the folder, sorted.
  std::vector<std::string> Names() const;

 private:
  std::filesystem::path path_;
};

// A 16-bit PCM WAV of `seconds` of a chord with some noise (deterministic).
void WriteTestWav(const std::string& path, int rate, int channels, double seconds);
void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);

struct Decoded {
  MP3_DECODER_OPTIONS options{};
  uint8_t status = 0;
  std::vector<uint8_t> wav;  // the output file, when written
  std::vector<int16_t> pcm;  // its data part
  int batches = 0;
};

// Decodes `in` to a WAV file in `dir` through the exported call.
Decoded DecodeToWav(const std::string& in, const std::string& out);

// FFmpeg's float decoding of `in`, as 16-bit samples truncated like ours.
std::vector<int16_t> FfmpegReference(const std::string& in, const std::string& tmpRaw);

}  // namespace kelpra_test

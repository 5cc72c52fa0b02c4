// Fuzz target: the input is written to a file and decoded by ConvertMP3ToWAV
// (in-process, from the static build of the library) with WAV output, so that
// the whole path -- first-frame search, VBR headers, the frame walk, every
// layer's decoder and the WAV writer -- sees arbitrary bytes.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "kelpra/Mp3DecoderOptions.h"

extern "C" void ConvertMP3ToWAV(MP3_DECODER_OPTIONS* options);

namespace {

std::string TempPath(const char* suffix) {
  return std::string("/tmp/fuzz_mp3_") + std::to_string(getpid()) + suffix;
}

void Quiet(MP3_DECODER_OWNER*, const char*, const char*, uint32_t) {}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string in = TempPath(".mp3");
  static const std::string out = TempPath(".wav");
  FILE* f = std::fopen(in.c_str(), "wb");
  if (!f) return 0;
  if (size) std::fwrite(data, 1, size, f);
  std::fclose(f);
  uint8_t status = 0;
  MP3_DECODER_OWNER owner{Quiet};
  MP3_DECODER_OPTIONS o;
  std::memset(&o, 0, sizeof o);
  o.inputFile = in.c_str();
  o.outputFile = out.c_str();
  o.writeWav = 1;
  o.status = &status;
  o.ownerWindow = &owner;
  ConvertMP3ToWAV(&o);
  // Each run starts without an output file; none is left behind.
  ::unlink(out.c_str());
  return 0;
}

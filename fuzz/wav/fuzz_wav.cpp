// Feeds arbitrary bytes to the WAV source reader as a file: the header walk,
// reads, and the conversion to CD format.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "codec/WavSourceReader.h"

namespace {

std::string TempPath(const char* tag) {
  std::string p = std::string("/tmp/fuzz_wav_") + tag + "_" + std::to_string(getpid());
  return p;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string in = TempPath("in");
  static const std::string out = TempPath("out");
  if (data == nullptr) {
    std::remove(in.c_str());
    std::remove(out.c_str());
    return 0;
  }
  if (FILE* f = std::fopen(in.c_str(), "wb")) {
    std::fwrite(data, 1, size, f);
    std::fclose(f);
  } else {
    return 0;
  }
  for (bool anyPcm : {false, true}) {
    sonarvex::WavSourceReader r;
    const int result = r.Open(in, anyPcm);
    if (!r.IsOpen()) continue;
    std::uint8_t buf[512];
    std::uint32_t got = 0;
    if (result == 1) {
      r.Read(buf, sizeof buf, &got);
      continue;
    }
    r.SetConvertedFileName(out);
    if (r.ConvertToCd(nullptr, anyPcm)) {
      r.Read(buf, sizeof buf, &got);
      if (r.DataByteCount() > 0 && r.Format().Channels == 0) std::abort();
    }
  }
  return 0;
}

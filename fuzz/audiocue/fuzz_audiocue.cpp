// Fuzzes the reader of a rip's cue sheet (what the recording window, burn
// and verify load): the sheet is written beside two small CD-audio WAV
// files, "a.wav" and "b.wav", so that sheets naming them get past the file
// checks; tracks must come back in order, one a file, with whole sectors.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/FuzzSupport.h"
#include "platform/Files.h"
#include "recording/Compilation.h"

namespace {

void WriteWav(const std::string& path, std::uint32_t sectors) {
  std::string wav = "RIFF";
  auto put32 = [&](std::uint32_t v) {
    for (int i = 0; i < 4; ++i) wav.push_back(static_cast<char>(v >> (8 * i)));
  };
  auto put16 = [&](std::uint16_t v) {
    wav.push_back(static_cast<char>(v));
    wav.push_back(static_cast<char>(v >> 8));
  };
  const std::uint32_t bytes = sectors * 2352;
  put32(36 + bytes);
  wav += "WAVEfmt ";
  put32(16);
  put16(1);
  put16(2);
  put32(44100);
  put32(176400);
  put16(4);
  put16(16);
  wav += "data";
  put32(bytes);
  wav.append(bytes, '\0');
  sonarvex::WriteFileAtomically(path, wav);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace sonarvex;
  static const std::string folder = [] {
    const std::string f = fuzz::PrivateFolder() + "cue/";
    MakeDirectories(f);
    WriteWav(f + "a.wav", 3);
    WriteWav(f + "b.wav", 5);
    return f;
  }();
  const std::string sheet = folder + "disc.cue";
  fuzz::WriteInput(sheet, std::string_view(reinterpret_cast<const char*>(data), size));
  std::string error;
  const auto cue = ReadAudioCueSheet(sheet, &error);
  if (!cue) {
    if (error.empty()) __builtin_trap();
    return 0;
  }
  if (cue->tracks.empty()) __builtin_trap();
  for (std::size_t i = 1; i < cue->tracks.size(); ++i)
    if (cue->tracks[i].number <= cue->tracks[i - 1].number) __builtin_trap();
  return 0;
}

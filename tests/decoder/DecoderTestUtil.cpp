#include "DecoderTestUtil.h"

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <random>

#include "PcmCompare.h"

namespace kelpra_test {

MP3_CONVERT_FUNCTION LoadConvert() {
  static void* lib = dlopen(SONARVEX_BIN_DIR "/libkelpra.so", RTLD_NOW | RTLD_LOCAL);
  if (!lib) return nullptr;
  return reinterpret_cast<MP3_CONVERT_FUNCTION>(dlsym(lib, "ConvertMP3ToWAV"));
}

std::string SharedDir() {
  if (const char* env = std::getenv("SONARVEX_SHARED"))
    if (std::filesystem::exists(std::string(env) + "/mpeg-audio")) return env;
  const std::string dir = SONARVEX_SOURCE_DIR "/../shared";
  return std::filesystem::exists(dir + "/mpeg-audio") ? dir : std::string();
}

bool HaveProgram(const char* name) {
  return RunCommand(std::string("command -v ") + name + " >/dev/null 2>&1") == 0;
}

TempDir::TempDir() {
  char tmpl[] = "/tmp/kelpra-test-XXXXXX";
  const char* p = mkdtemp(tmpl);
  path_ = p ? p : "/tmp";
}

std::vector<std::string> TempDir::Names() const {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(path_))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

void WriteTestWav(const std::string& path, int rate, int channels, double seconds) {
  const size_t frames = size_t(seconds * rate);
  std::vector<uint8_t> out(44 + frames * size_t(channels) * 2);
  auto le32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at + size_t(i)] = uint8_t(v >> (8 * i));
  };
  auto le16 = [&](size_t at, uint16_t v) {
    out[at] = uint8_t(v);
    out[at + 1] = uint8_t(v >> 8);
  };
  std::memcpy(out.data(), "RIFF", 4);
  le32(4, uint32_t(out.size() - 8));
  std::memcpy(out.data() + 8, "WAVEfmt ", 8);
  le32(16, 16);
  le16(20, 1);
  le16(22, uint16_t(channels));
  le32(24, uint32_t(rate));
  le32(28, uint32_t(rate * channels * 2));
  le16(32, uint16_t(channels * 2));
  le16(34, 16);
  std::memcpy(out.data() + 36, "data", 4);
  le32(40, uint32_t(frames * size_t(channels) * 2));
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> noise(-1.0, 1.0);
  for (size_t i = 0; i < frames; ++i) {
    const double t = double(i) / rate;
    // Clicks every quarter second make the encoder switch to short blocks.
    const double click = std::fmod(t, 0.25) < 0.003 ? 0.6 * noise(rng) : 0.0;
    for (int c = 0; c < channels; ++c) {
      const double v = 0.3 * std::sin(2 * M_PI * (440.0 + 110 * c) * t) +
                       0.15 * std::sin(2 * M_PI * 2500.0 * t + c) + 0.05 * noise(rng) + click;
      le16(44 + (i * size_t(channels) + size_t(c)) * 2,
           uint16_t(int16_t(std::lround(std::clamp(v, -1.0, 1.0) * 32000))));
    }
  }
  WriteFile(path, out);
}

Decoded DecodeToWav(const std::string& in, const std::string& out) {
  Decoded d;
  MP3_CONVERT_FUNCTION convert = LoadConvert();
  if (!convert) return d;
  d.options.inputFile = in.c_str();
  d.options.outputFile = out.c_str();
  d.options.writeWav = 1;
  d.options.status = &d.status;
  d.options.reserved3 = -1;
  convert(&d.options);
  d.options.inputFile = d.options.outputFile = nullptr;
  d.options.status = nullptr;
  d.wav = ReadFileBytes(out);
  if (d.wav.size() >= 46) {
    d.pcm.resize((d.wav.size() - 46) / 2);
    std::memcpy(d.pcm.data(), d.wav.data() + 46, d.pcm.size() * 2);
  }
  return d;
}

std::vector<int16_t> FfmpegReference(const std::string& in, const std::string& tmpRaw) {
  // Raw streams (.bit) are named as MPEG audio: probing alone takes some for
  // other formats.
  const bool raw = in.size() > 4 && in.compare(in.size() - 4, 4, ".bit") == 0;
  const std::string format = raw ? "-f mp3 " : "";
  const std::string cmd = "ffmpeg -nostdin -v error -y -c:a mp3float " + format + "-i '" + in +
                          "' -f f32le '" + tmpRaw + "' 2>/dev/null || ffmpeg -nostdin -v error -y " +
                          format + "-i '" + in + "' -f f32le '" + tmpRaw + "' 2>/dev/null";
  std::filesystem::remove(tmpRaw);
  if (RunCommand(cmd) != 0) return {};
  const std::vector<uint8_t> raw32 = ReadFileBytes(tmpRaw);
  std::vector<float> f(raw32.size() / 4);
  std::memcpy(f.data(), raw32.data(), f.size() * 4);
  return FloatToPcm16(f);
}

}  // namespace kelpra_test

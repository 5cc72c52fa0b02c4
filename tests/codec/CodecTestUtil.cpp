#include "tests/codec/CodecTestUtil.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <sys/wait.h>

#include "codec/WavFile.h"

namespace sonarvex::test {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "sonarvex-codec-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::vector<std::int16_t> Tone(std::size_t frames, int channels, int rate, double amplitude) {
  std::vector<std::int16_t> out(frames * static_cast<std::size_t>(channels));
  for (std::size_t i = 0; i < frames; ++i) {
    for (int c = 0; c < channels; ++c) {
      double f = c == 0 ? 440.0 : 660.0;
      out[i * channels + c] =
          static_cast<std::int16_t>(std::lround(amplitude * std::sin(2 * M_PI * f * i / rate)));
    }
  }
  return out;
}

void WriteWav(const std::string& path, const std::vector<std::int16_t>& samples,
              const AudioFormatRecord& format) {
  int h = CreateWavFile(path, format);
  if (h < 0) throw std::runtime_error("CreateWavFile " + path);
  WriteWavData(h, samples.data(), samples.size() * 2);
  FinishWavFile(h, static_cast<std::uint32_t>(samples.size() * 2), format);
}

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) {
    if (c == '\'') q += "'\\''";
    else q += c;
  }
  return q + "'";
}

std::string Run(const std::string& command, int* exitCode) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (p == nullptr) return out;
  char buf[65536];
  std::size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  int status = pclose(p);
  if (exitCode) *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return out;
}

std::vector<std::uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
}

void WriteAll(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::string ProbeValue(const std::string& probe, const std::string& key) {
  std::size_t at = 0;
  const std::string needle = key + "=";
  while ((at = probe.find(needle, at)) != std::string::npos) {
    if (at == 0 || probe[at - 1] == '\n') {
      std::size_t end = probe.find('\n', at);
      return probe.substr(at + needle.size(), end == std::string::npos ? std::string::npos
                                                                       : end - at - needle.size());
    }
    at += needle.size();
  }
  return "";
}

std::vector<std::int16_t> DecodeWithFfmpeg(const std::string& path, const std::string& extra) {
  const std::string raw = Run("ffmpeg -v error -nostdin -i " + Quote(path) + " " + extra +
                              " -f s16le -c:a pcm_s16le -");
  std::vector<std::int16_t> out(raw.size() / 2);
  std::memcpy(out.data(), raw.data(), out.size() * 2);
  return out;
}

bool FindMp3Frame(const std::vector<std::uint8_t>& f, std::size_t from, Mp3Frame* frame) {
  static const int kV1[16] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
  static const int kV2[16] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0};
  static const int kRates[3] = {44100, 48000, 32000};
  for (std::size_t i = from; i + 4 <= f.size(); ++i) {
    if (f[i] != 0xFF || (f[i + 1] & 0xE0) != 0xE0) continue;
    int ver = (f[i + 1] >> 3) & 3;  // 3 = MPEG-1, 2 = MPEG-2, 0 = MPEG-2.5
    int layer = (f[i + 1] >> 1) & 3;
    int bi = f[i + 2] >> 4;
    int ri = (f[i + 2] >> 2) & 3;
    if (ver == 1 || layer != 1 || bi == 0 || bi == 15 || ri == 3) continue;
    Mp3Frame r;
    r.offset = i;
    r.version = ver == 3 ? 1 : ver == 2 ? 2 : 25;
    r.bitrateKbps = ver == 3 ? kV1[bi] : kV2[bi];
    r.sampleRate = kRates[ri] / (ver == 3 ? 1 : ver == 2 ? 2 : 4);
    int padding = (f[i + 2] >> 1) & 1;
    r.mode = f[i + 3] >> 6;
    r.original = (f[i + 3] >> 2) & 1;
    r.length = static_cast<std::size_t>((ver == 3 ? 144000 : 72000) * r.bitrateKbps / r.sampleRate + padding);
    *frame = r;
    return true;
  }
  return false;
}

std::size_t Id3v2Size(const std::vector<std::uint8_t>& f) {
  if (f.size() < 10 || f[0] != 'I' || f[1] != 'D' || f[2] != '3') return 0;
  return 10 + ((f[6] & 0x7F) << 21 | (f[7] & 0x7F) << 14 | (f[8] & 0x7F) << 7 | (f[9] & 0x7F));
}

}  // namespace sonarvex::test

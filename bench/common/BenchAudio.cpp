#include "bench/common/BenchAudio.h"

#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "codec/WavFile.h"

extern char** environ;

namespace sonarvex::bench {

void MakeMusicWav(const std::string& path, int seconds) {
  int h = CreateWavFile(path, CdAudioFormat);
  if (h < 0) {
    std::fprintf(stderr, "cannot make %s\n", path.c_str());
    std::exit(1);
  }
  std::mt19937 rng(1);
  std::normal_distribution<double> noise(0.0, 600.0);
  std::vector<std::int16_t> block(44100 * 2);
  std::uint32_t total = 0;
  for (int s = 0; s < seconds; ++s) {
    for (int i = 0; i < 44100; ++i) {
      const double t = (s * 44100.0 + i) / 44100.0;
      double l = 0, r = 0;
      for (int k = 1; k <= 6; ++k) {
        const double f = 110.0 * k * (1.0 + 0.01 * std::sin(0.3 * t * k));
        l += 3000.0 / k * std::sin(2 * M_PI * f * t);
        r += 3000.0 / k * std::sin(2 * M_PI * f * 1.5 * t + k);
      }
      block[2 * i] = static_cast<std::int16_t>(std::lround(l + noise(rng)));
      block[2 * i + 1] = static_cast<std::int16_t>(std::lround(r + noise(rng)));
    }
    WriteWavData(h, block.data(), block.size() * 2);
    total += static_cast<std::uint32_t>(block.size() * 2);
  }
  FinishWavFile(h, total, CdAudioFormat);
}

bool RunProgram(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid;
  if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return false;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

double Seconds(const std::function<void()>& work) {
  const auto t0 = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace sonarvex::bench

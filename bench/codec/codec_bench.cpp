// Times our encoders against the peer command-line encoders at the same
// settings on one generated five-minute CD-format WAV and prints the ratios
// (ours / peer; below 1.0 means we are faster).
//
//   codec_bench [SECONDS] [RUNS]   (default 300 s, 3 runs)
//
// Both write their output to the same folder and flush it to the disk
// (our writers sync a finished file; the peer's is synced after it).
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "bench/common/BenchStats.h"
#include "codec/EncoderSet.h"
#include "codec/WavFile.h"

extern char** environ;

namespace {

using namespace sonarvex;

// Music-like material: a few drifting partials with noise, so the encoders
// have real work to do.
void MakeWav(const std::string& path, int seconds) {
  int h = CreateWavFile(path, CdAudioFormat);
  if (h < 0) std::exit(1);
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

double Seconds(const std::function<void()>& f) {
  auto t0 = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

void RunProgram(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid;
  if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
    std::fprintf(stderr, "cannot run %s\n", argv[0]);
    std::exit(1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "%s failed\n", argv[0]);
    std::exit(1);
  }
}

// The peer's run and then its output flushed to the disk, as our writers
// do before they report a file done.
void RunSynced(std::vector<std::string> args, const std::string& output) {
  RunProgram(std::move(args));
  RunProgram({"sync", output});
}

class NoDialogs : public WindowlessDialogs {
 public:
  int Message(const std::string& text, const std::string&, MsgIcon, MsgButtons) override {
    std::fprintf(stderr, "message: %s\n", text.c_str());
    return IdOk;
  }
};

std::string ReadFile(const std::string& path) {
  std::string out;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    char buf[65536];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    std::fclose(f);
  }
  return out;
}

// True when both files hold the same MP3 frames after the first (info) frame.
bool SameAudioFrames(const std::string& a, const std::string& b) {
  const std::string x = ReadFile(a), y = ReadFile(b);
  auto firstFrameEnd = [](const std::string& f) -> std::size_t {
    for (std::size_t i = 0; i + 4 < f.size(); ++i) {
      if (static_cast<unsigned char>(f[i]) == 0xFF && (static_cast<unsigned char>(f[i + 1]) & 0xE0) == 0xE0) {
        for (std::size_t j = i + 1; j + 1 < f.size(); ++j)
          if (static_cast<unsigned char>(f[j]) == 0xFF && (static_cast<unsigned char>(f[j + 1]) & 0xFE) == 0xFA)
            return j;
      }
    }
    return f.size();
  };
  const std::size_t ax = firstFrameEnd(x), by = firstFrameEnd(y);
  return x.size() - ax == y.size() - by && x.compare(ax, std::string::npos, y, by, std::string::npos) == 0;
}

// Ours and the peer alternately after a warm-up of each: medians, spread,
// ratio and the load average.
void Compare(const char* what, int rounds, const std::function<void()>& ours,
             const std::function<void()>& peer) {
  const bench::Pair p =
      bench::ComparePaired(rounds, [&] { return Seconds(ours); }, [&] { return Seconds(peer); });
  std::printf("%s\n", bench::PairText(what, p).c_str());
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 300;
  const int rounds = std::max(1, argc > 2 ? std::atoi(argv[2]) : 3);
  const std::string dir =
      (std::filesystem::temp_directory_path() / ("sonarvex-bench-" + std::to_string(getpid()))).string();
  std::filesystem::create_directories(dir);
  const std::string wav = dir + "/in.wav";
  MakeWav(wav, seconds);
  std::printf("input: %d s of CD audio; %d runs each after a warm-up, ours and the peer alternated\n",
              seconds, rounds);

  SettingsRecord s{};
  ApplyFirstStartDefaults(s, "/tmp/");
  NoDialogs dialogs;
  EncoderSet enc(s, dialogs);

  // LAME defaults of the program: 224 kbit/s CBR, joint stereo, normal quality
  // (-q 5), MPEG-1 at 44.1 kHz, not original, info header.
  s.OutputKind = 1;
  s.UseLame = 1;
  Compare("MP3 CBR 224 joint stereo", rounds,
          [&] { enc.ConvertFile(wav, dir + "/ours.mp3", nullptr); },
          [&] {
            RunSynced({"lame", "--quiet", "--noreplaygain", "--cbr", "-b", "224", "-m", "j", "-q", "5", "-o",
                       "--resample", "44.1", wav, dir + "/peer.mp3"},
                      dir + "/peer.mp3");
          });
  std::printf("  audio frames identical to lame's: %s\n",
              SameAudioFrames(dir + "/ours.mp3", dir + "/peer.mp3") ? "yes" : "no");
  s.Lame.VbrEnabled = 1;
  s.Lame.VbrQuality = 2;
  s.Lame.BitrateIndex = 1;
  Compare("MP3 VBR q2 32..320", rounds,
          [&] { enc.ConvertFile(wav, dir + "/ours-vbr.mp3", nullptr); },
          [&] {
            RunSynced({"lame", "--quiet", "--noreplaygain", "-V", "2", "-b", "32", "-B", "320", "-m", "j", "-q",
                       "5", "--resample", "44.1", wav, dir + "/peer-vbr.mp3"},
                      dir + "/peer-vbr.mp3");
          });

  std::printf("  audio frames identical to lame's: %s\n",
              SameAudioFrames(dir + "/ours-vbr.mp3", dir + "/peer-vbr.mp3") ? "yes" : "no");

  s.OutputKind = 3;
  s.OggUseQuality = 0;
  s.OggNominalBitrateIndex = 4;
  s.OggMaxBitrateIndex = 0;
  s.OggMinBitrateIndex = 10;
  Compare("Ogg managed 128 (32..350)", rounds,
          [&] { enc.ConvertFile(wav, dir + "/ours.ogg", nullptr); },
          [&] {
            RunSynced({"oggenc", "--quiet", "--managed", "-b", "128", "-m", "32", "-M", "350", "-o",
                       dir + "/peer.ogg", wav},
                      dir + "/peer.ogg");
          });
  s.OggUseQuality = 1;
  s.OggQuality = 400;
  Compare("Ogg quality 0.4", rounds, [&] { enc.ConvertFile(wav, dir + "/ours-q.ogg", nullptr); },
          [&] { RunSynced({"oggenc", "--quiet", "-q", "4", "-o", dir + "/peer-q.ogg", wav}, dir + "/peer-q.ogg"); });

  std::filesystem::remove_all(dir);
  return 0;
}

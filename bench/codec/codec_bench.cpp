// Times our encoders against the peer command-line encoders at the same
// settings on one generated five-minute CD-format WAV and prints the ratios
// (ours / peer; below 1.0 means we are faster).
//
//   codec_bench [SECONDS] [RUNS]   (default 300 s, 3 runs)
//
// Both write their output to the same folder and flush it to the disk
// (our writers sync a finished file; the peer's is synced after it).
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "bench/common/BenchAudio.h"
#include "bench/common/BenchStats.h"
#include "codec/EncoderSet.h"


namespace {

using namespace sonarvex;

// The peer's run and then its output flushed to the disk, as our writers
// do before they report a file done.
void RunSynced(const std::vector<std::string>& args, const std::string& output) {
  if (!bench::RunProgram(args) || !bench::RunProgram({"sync", output})) {
    std::fprintf(stderr, "%s failed\n", args[0].c_str());
    std::exit(1);
  }
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
      bench::ComparePaired(rounds, [&] { return bench::Seconds(ours); }, [&] { return bench::Seconds(peer); });
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
  bench::MakeMusicWav(wav, seconds);
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

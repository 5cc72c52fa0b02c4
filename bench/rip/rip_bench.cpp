// Ripping speed and memory: `sonarvex-cli rip` against the peers that do the
// same work, on a disc image made here (synthesised audio, CUE/BIN).
//
//   rip_bench [MINUTES] [RUNS] [LONG]   (default 24 minutes, 5 runs, 70)
//
// A secure WAV rip is compared with cd-paranoia in its default paranoia
// mode. MP3 and Ogg rips with one and with two encoder workers are compared with
// lame and oggenc given exactly our encoder settings (LAME -q 5 at
// 224 kbit/s joint stereo; Vorbis quality 4), run two at a time with
// `xargs -P 2` on the WAV files of the same disc. After a warm-up run of
// each, the runs alternate ours and the peer's; every figure is the median
// with the spread (lowest .. highest) of RUNS runs, and the ratios are of
// medians. Then the peak resident memory of our two-worker MP3 rip of discs
// of MINUTES / 2, MINUTES and LONG minutes (it must not grow with the disc;
// LONG 0 leaves the long disc out).
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/Files.h"
#include "platform/ProgramFolder.h"
#include "platform/Shell.h"

namespace {

struct RunResult {
  double seconds = 0;
  long maxRssKb = 0;
  int status = -1;
};

RunResult Run(const std::vector<std::string>& argv, const std::string& stdoutFile = "/dev/null") {
  auto t0 = std::chrono::steady_clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    FILE* out = std::fopen(stdoutFile.c_str(), "w");
    if (out) dup2(fileno(out), 1);
    FILE* err = std::fopen("/dev/null", "w");
    if (err) dup2(fileno(err), 2);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  struct rusage usage{};
  wait4(pid, &status, 0, &usage);
  RunResult r;
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  r.maxRssKb = usage.ru_maxrss;
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

// A disc of `tracks` tracks of music-like noise (so that the encoders work
// as hard as on real music), written as image.cue / image.bin.
std::string MakeImage(const std::string& folder, int minutes) {
  std::filesystem::create_directories(folder);
  const int tracks = std::max(2, minutes / 4);
  const long totalSectors = static_cast<long>(minutes) * 60 * 75;
  std::ofstream bin(folder + "/image.bin", std::ios::binary);
  std::ofstream cue(folder + "/image.cue");
  cue << "FILE \"image.bin\" BINARY\n";
  std::uint32_t seed = 12345;
  double phase = 0;
  std::vector<std::int16_t> sector(2352 / 2);
  for (long s = 0; s < totalSectors; ++s) {
    int track = static_cast<int>(s * tracks / totalSectors);
    if (s == totalSectors * track / tracks) {
      long f = s;
      char index[32];
      std::snprintf(index, sizeof index, "%02ld:%02ld:%02ld", f / 4500, (f / 75) % 60, f % 75);
      cue << "  TRACK " << (track < 9 ? "0" : "") << track + 1 << " AUDIO\n    INDEX 01 " << index
          << "\n";
    }
    for (std::size_t k = 0; k < sector.size(); k += 2) {
      seed = seed * 1664525u + 1013904223u;
      phase += 0.031 + 0.002 * track;
      double v = 9000 * std::sin(phase) + 3000 * std::sin(phase * 2.7) +
                 static_cast<int>(seed >> 20) - 2048;
      sector[k] = static_cast<std::int16_t>(v);
      sector[k + 1] = static_cast<std::int16_t>(v * 0.8);
    }
    bin.write(reinterpret_cast<const char*>(sector.data()), 2352);
  }
  return folder + "/image.cue";
}

// A program folder for sonarvex-cli whose settings rip into out/ with plain names.
std::string MakeHome(const std::string& folder) {
  std::filesystem::create_directories(folder + "/setting");
  std::filesystem::create_directories(folder + "/out");
  std::vector<unsigned char> s(1220, 0);
  std::string out = folder + "/out/";
  std::memcpy(s.data(), out.c_str(), std::min<std::size_t>(out.size(), 260));
  s[261] = 1;  // NameHasTitle
  s[264] = 1;  // NameHasNumber
  s[420] = 1;  // OutputKind MP3
  s[651] = 1;  // UseLame
  s[648] = 255;
  const std::int32_t lame[3] = {12, 14, 1};  // 224 kbit/s joint stereo
  std::memcpy(s.data() + 792, lame, sizeof lame);
  s[792 + 12] = 0xFF;  // no VBR
  s[816] = 255;
  s[822] = 1;
  // Ogg Vorbis by quality, 4 (thousandths 400).
  const std::int32_t oggQuality = 400;
  std::memcpy(s.data() + 1208, &oggQuality, sizeof oggQuality);
  s[1212] = 1;
  const std::uint32_t colors[2] = {13758449, 13758462};
  std::memcpy(s.data() + 1116, colors, sizeof colors);
  sonarvex::WriteFileAtomically(folder + "/setting/set.dat",
                                std::string(reinterpret_cast<char*>(s.data()), s.size()));
  return folder;
}

RunResult Best(const std::vector<std::string>& argv, int runs, const std::string& cleanup) {
  RunResult best;
  best.seconds = 1e9;
  for (int k = 0; k < runs; ++k) {
    if (!cleanup.empty()) {
      std::filesystem::remove_all(cleanup);
      std::filesystem::create_directories(cleanup);
    }
    RunResult r = Run(argv);
    if (r.status != 0) {
      std::fprintf(stderr, "%s failed with %d\n", argv[0].c_str(), r.status);
      std::exit(1);
    }
    if (r.seconds < best.seconds) best = r;
  }
  return best;
}

RunResult Checked(RunResult r) {
  if (r.status != 0) {
    std::fprintf(stderr, "a run failed with %d\n", r.status);
    std::exit(1);
  }
  return r;
}

struct Stats {
  double median = 0, low = 0, high = 0;
  std::string Text() const {
    char b[96];
    std::snprintf(b, sizeof b, "median %.2f s (%.2f .. %.2f)", median, low, high);
    return b;
  }
};

Stats Summarise(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  Stats s;
  s.low = v.front();
  s.high = v.back();
  const std::size_t n = v.size();
  s.median = n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  int minutes = argc > 1 ? std::atoi(argv[1]) : 24;
  int runs = argc > 2 ? std::atoi(argv[2]) : 5;
  const int longMinutes = argc > 3 ? std::atoi(argv[3]) : 70;
  if (runs < 1) runs = 1;
  if (minutes < 2) minutes = 2;
  std::string cli = sonarvex::ExecutableFolder() + "sonarvex-cli";
  std::string paranoia = sonarvex::FindInPath("cd-paranoia");
  std::string lame = sonarvex::FindInPath("lame");
  std::string oggenc = sonarvex::FindInPath("oggenc");
  if (paranoia.empty() || lame.empty()) {
    std::fprintf(stderr, "needs cd-paranoia and lame\n");
    return 1;
  }
  char tmpl[] = "/tmp/sonarvex-ripbench-XXXXXX";
  std::string root = mkdtemp(tmpl);
  std::printf("disc image: %d minutes\n", minutes);
  std::string cue = MakeImage(root + "/disc", minutes);
  std::string home = MakeHome(root + "/home");
  std::string out = home + "/out";

  // WAV: all tracks read plainly, against cd-paranoia without its
  // verification (-Z), batch mode.
  RunResult ours = Best(
      {cli, "--home", home, "--image", cue, "rip", "--format", "wav", "--no-secure"}, runs, out);
  std::string pdir = root + "/paranoia";
  std::filesystem::create_directories(pdir);
  RunResult peer;
  peer.seconds = 1e9;
  for (int k = 0; k < runs; ++k) {
    std::filesystem::remove_all(pdir);
    std::filesystem::create_directories(pdir);
    std::string cwd = std::filesystem::current_path();
    std::filesystem::current_path(pdir);
    RunResult r = Run({paranoia, "-q", "-Z", "-B", "-d", cue, "1-"});
    std::filesystem::current_path(cwd);
    if (r.seconds < peer.seconds) peer = r;
  }
  std::printf("WAV rip    ours %.2f s   cd-paranoia -Z %.2f s   ratio %.3f (ours / peer)\n",
              ours.seconds, peer.seconds, ours.seconds / peer.seconds);
  std::printf("peak memory of the WAV rip: %ld kB\n", ours.maxRssKb);

  // Secure WAV rip (every block read twice, the drive's cache read away
  // between) against cd-paranoia in its default paranoia mode, both after a
  // warm-up, alternated, medians.
  {
    auto secure = [&] {
      std::filesystem::remove_all(out);
      std::filesystem::create_directories(out);
      return Checked(
          Run({cli, "--home", home, "--image", cue, "rip", "--format", "wav", "--secure"}));
    };
    auto paranoid = [&] {
      std::filesystem::remove_all(pdir);
      std::filesystem::create_directories(pdir);
      const std::string cwd = std::filesystem::current_path();
      std::filesystem::current_path(pdir);
      RunResult r = Run({paranoia, "-q", "-B", "-d", cue, "1-"});
      std::filesystem::current_path(cwd);
      return Checked(r);
    };
    secure();
    paranoid();
    std::vector<double> a, b;
    for (int k = 0; k < runs; ++k) {
      a.push_back(secure().seconds);
      b.push_back(paranoid().seconds);
    }
    const Stats sa = Summarise(a), sb = Summarise(b);
    std::printf("secure WAV rip  %s\n", sa.Text().c_str());
    std::printf("cd-paranoia     %s\n", sb.Text().c_str());
    std::printf("secure WAV ratio %.3f (ours / cd-paranoia)\n", sa.median / sb.median);
  }

  // WAV files of the disc for the peers: from our own WAV rip.
  std::filesystem::remove_all(out);
  std::filesystem::create_directories(out);
  Run({cli, "--home", home, "--image", cue, "rip", "--format", "wav", "--no-secure"});
  const std::string wavDir = root + "/wav";
  std::filesystem::rename(out, wavDir);
  std::filesystem::create_directories(out);
  std::string list;
  for (auto& e : std::filesystem::directory_iterator(wavDir))
    if (e.path().extension() == ".wav") list += e.path().string() + "\n";
  const std::string listFile = root + "/wavs.txt";
  sonarvex::WriteFileAtomically(listFile, list);
  const std::string peerOut = root + "/peer";

  struct Format {
    const char* name;
    const char* format;
    std::string peer;  // the peer's command for one file {} into peerOut
  };
  const std::vector<Format> formats = {
      {"MP3", "mp3",
       lame + " --quiet --noreplaygain -q 5 -b 224 -m j \"$1\" \"" + peerOut +
           "/$(basename \"$1\" .wav).mp3\""},
      {"Ogg", "ogg",
       (oggenc.empty() ? std::string("false") : oggenc) + " -Q -q 4 -o \"" + peerOut +
           "/$(basename \"$1\" .wav).ogg\" \"$1\""}};
  for (const Format& f : formats) {
    if (std::string(f.format) == "ogg" && oggenc.empty()) {
      std::printf("Ogg: no oggenc, skipped\n");
      continue;
    }
    auto ours = [&](int jobs, bool onTheFly = false) {
      std::filesystem::remove_all(out);
      std::filesystem::create_directories(out);
      std::vector<std::string> argv = {cli,       "--home", home,     "--image",
                                       cue,       "rip",    "--format", f.format,
                                       "--jobs",  std::to_string(jobs)};
      if (onTheFly) argv.push_back("--on-the-fly");
      return Checked(Run(argv));
    };
    auto peer = [&] {
      std::filesystem::remove_all(peerOut);
      std::filesystem::create_directories(peerOut);
      return Checked(Run({"sh", "-c",
                          "xargs -d '\\n' -P 2 -n 1 sh -c '" + f.peer + "' peer < \"" + listFile +
                              "\""}));
    };
    // Warm-up: the image, the WAV files and the libraries in the page cache.
    ours(1);
    ours(2);
    ours(2, true);
    peer();
    std::vector<double> one, two, fly, par;
    for (int k = 0; k < runs; ++k) {
      one.push_back(ours(1).seconds);
      par.push_back(peer().seconds);
      two.push_back(ours(2).seconds);
      fly.push_back(ours(2, true).seconds);
    }
    const Stats s1 = Summarise(one), s2 = Summarise(two), sf = Summarise(fly),
                sp = Summarise(par);
    std::printf("%s rip, 1 worker   %s\n", f.name, s1.Text().c_str());
    std::printf("%s rip, 2 workers  %s\n", f.name, s2.Text().c_str());
    std::printf("%s rip, 2 workers encoding on the fly %s\n", f.name, sf.Text().c_str());
    std::printf("%s peer, 2 at once %s\n", f.name, sp.Text().c_str());
    std::printf("%s ratios: 2 workers / 1 worker %.3f, 2 workers / peer %.3f, "
                "on the fly / peer %.3f\n",
                f.name, s2.median / s1.median, s2.median / sp.median, sf.median / sp.median);
  }

  // Memory must not grow with the disc.
  std::vector<int> lengths = {minutes / 2, minutes};
  if (longMinutes > 0) lengths.push_back(longMinutes);
  for (int m : lengths) {
    std::string mcue = m == minutes ? cue : MakeImage(root + "/m" + std::to_string(m), m);
    std::filesystem::remove_all(out);
    std::filesystem::create_directories(out);
    RunResult r = Checked(
        Run({cli, "--home", home, "--image", mcue, "rip", "--format", "mp3", "--jobs", "2"}));
    std::printf("peak memory, MP3 rip with 2 workers of %d minutes: %ld kB (%.1f s)\n", m,
                r.maxRssKb, r.seconds);
    if (m != minutes) std::filesystem::remove_all(root + "/m" + std::to_string(m));
  }
  std::filesystem::remove_all(root);
  return 0;
}

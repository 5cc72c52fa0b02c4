// Ripping speed, start-up and memory: `sonarvex-cli` against the peers that
// do the same work, on disc images made here (synthesised music-like audio,
// CUE/BIN).
//
//   rip_bench [MINUTES] [RUNS] [LONG]
//
// Defaults: a 6-minute disc, 3 runs, and the memory figures on that disc;
// the full run is by hand: `rip_bench 25 5 70`. Every comparison runs ours
// and the peer once each as a warm-up, then RUNS rounds alternating who goes
// first; it prints the medians with the spread (lowest .. highest), the
// ratio of the medians (ours / peer: below 1 we are faster) and the load
// average when the runs began and ended. The peer does the same work as
// ours: its outputs are synced (`sync FILE...`) as ours are, and the FLAC
// encoder verifies when ours does. Figures:
//   - start-up: `--version` and `toc` against `cd-paranoia -Q` (target <= 3);
//   - WAV rip (--no-secure) against `cd-paranoia -Z`, secure against
//     `cd-paranoia`;
//   - MP3 and Ogg rips, 2 workers and on the fly, against lame and oggenc two
//     at a time on the WAV files of the same disc;
//   - FLAC rip with 2 workers against `flac -5 -V` two at a time, and with
//     [FLAC] Verify=0 against `flac -5` (also without ReplayGain, as the peer);
//     with ReplayGain (our default) against `flac -5 -V --replay-gain`;
//   - on a software drive limited to 48x (speed=48 in vdrives.lst) a
//     2-worker MP3 rip against a WAV rip on the same drive (target <= 1.1);
//   - peak resident memory of rips of a LONG-minute disc with --jobs 8, FLAC
//     and MP3, on the fly and not (target <= 64 MiB).
// A figure whose feature this build lacks prints "n/a (reason)".
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

#include "bench/common/BenchStats.h"
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
    // The track's first sector: the first s whose track is this one.
    if (s == (totalSectors * track + tracks - 1) / tracks) {
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

RunResult Checked(RunResult r) {
  if (r.status != 0) {
    std::fprintf(stderr, "a run failed with %d\n", r.status);
    std::exit(1);
  }
  return r;
}

// The seconds of a run, or -1 when it failed.
double Timed(const RunResult& r) { return r.status == 0 ? r.seconds : -1; }

void Fresh(const std::string& folder) {
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
}

std::string Quoted(const std::string& s) { return "'" + s + "'"; }

void Say(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  using sonarvex::bench::ComparePaired;
  using sonarvex::bench::NotAvailableText;
  using sonarvex::bench::Pair;
  using sonarvex::bench::PairText;
  int minutes = argc > 1 ? std::atoi(argv[1]) : 6;
  int runs = argc > 2 ? std::atoi(argv[2]) : 3;
  int longMinutes = argc > 3 ? std::atoi(argv[3]) : 0;
  if (runs < 1) runs = 1;
  if (minutes < 2) minutes = 2;
  if (longMinutes < 2) longMinutes = minutes;
  const std::string cli = sonarvex::ExecutableFolder() + "sonarvex-cli";
  const std::string paranoia = sonarvex::FindInPath("cd-paranoia");
  const std::string lame = sonarvex::FindInPath("lame");
  const std::string oggenc = sonarvex::FindInPath("oggenc");
  const std::string flac = sonarvex::FindInPath("flac");
  if (paranoia.empty() || lame.empty()) {
    std::fprintf(stderr, "needs cd-paranoia and lame\n");
    return 1;
  }
  char tmpl[] = "/tmp/sonarvex-ripbench-XXXXXX";
  const std::string root = mkdtemp(tmpl);
  Say("disc image: " + std::to_string(minutes) + " minutes; " + std::to_string(runs) +
      " runs after a warm-up, alternated; load average now " + sonarvex::bench::LoadAverage());
  const std::string cue = MakeImage(root + "/disc", minutes);
  const std::string home = MakeHome(root + "/home");
  const std::string out = home + "/out";
  auto ours = [&](std::vector<std::string> args, const std::string& image) {
    Fresh(out);
    std::vector<std::string> argv = {cli, "--home", home, "--image", image};
    argv.insert(argv.end(), args.begin(), args.end());
    return Run(argv);
  };
  // A peer's shell command run in `folder` (made afresh).
  auto shell = [&](const std::string& folder, const std::string& command) {
    Fresh(folder);
    return Run({"sh", "-c", "cd " + Quoted(folder) + " && " + command});
  };

  // Start-up: the commands that read nothing but the table of contents.
  {
    const int many = std::max(11, runs * 4);
    const std::string pdir = root + "/query";
    Fresh(pdir);
    auto query = [&] { return Timed(Run({paranoia, "-d", cue, "-Q"})); };
    Pair version = ComparePaired(many, [&] { return Timed(Run({cli, "--version"})); }, query);
    Say(PairText("start-up: --version (target <= 3)", version, "cd-paranoia -Q"));
    Pair toc = ComparePaired(
        many, [&] { return Timed(Run({cli, "--home", home, "--image", cue, "toc"})); }, query);
    Say(PairText("start-up: toc (target <= 3)", toc, "cd-paranoia -Q"));
  }

  // WAV: all tracks read plainly, against cd-paranoia without its
  // verification (-Z); both outputs synced.
  const std::string pdir = root + "/paranoia";
  Pair wav = ComparePaired(
      runs, [&] { return Timed(ours({"rip", "--format", "wav", "--no-secure"}, cue)); },
      [&] {
        return Timed(shell(pdir, Quoted(paranoia) + " -q -Z -B -d " + Quoted(cue) +
                                     " 1- && sync *.wav"));
      });
  Say(PairText("WAV rip (--no-secure)", wav, "cd-paranoia -Z + sync"));
  // Secure (every block read twice, the drive's cache read away between)
  // against cd-paranoia in its default paranoia mode.
  Pair secure = ComparePaired(
      runs, [&] { return Timed(ours({"rip", "--format", "wav", "--secure"}, cue)); },
      [&] {
        return Timed(shell(pdir, Quoted(paranoia) + " -q -B -d " + Quoted(cue) + " 1- && sync *.wav"));
      });
  Say(PairText("secure WAV rip", secure, "cd-paranoia + sync"));

  // WAV files of the disc for the encoding peers: from our own WAV rip.
  Checked(ours({"rip", "--format", "wav", "--no-secure"}, cue));
  const std::string wavDir = root + "/wav";
  std::filesystem::rename(out, wavDir);
  std::string list;
  for (auto& e : std::filesystem::directory_iterator(wavDir))
    if (e.path().extension() == ".wav") list += e.path().string() + "\n";
  const std::string listFile = root + "/wavs.txt";
  sonarvex::WriteFileAtomically(listFile, list);
  const std::string peerOut = root + "/peer";
  // The peer's command for one file "$1" (no single quotes in it) two at a
  // time, then its outputs synced.
  auto twoAtATime = [&](const std::string& one) {
    return Timed(shell(peerOut, "xargs -d '\\n' -P 2 -n 1 sh -c '" + one + "' peer < " +
                                    Quoted(listFile) + " && sync *"));
  };

  struct Format {
    const char* name;
    const char* format;
    std::string program;
    std::string peerName;
    std::string peer;  // the peer's command for one file "$1" into the current folder
  };
  const std::vector<Format> formats = {
      {"MP3", "mp3", lame, "lame x2 + sync",
       lame + " --quiet --noreplaygain -q 5 -b 224 -m j \"$1\" \"$(basename \"$1\" .wav).mp3\""},
      {"Ogg", "ogg", oggenc, "oggenc x2 + sync",
       oggenc + " -Q -q 4 -o \"$(basename \"$1\" .wav).ogg\" \"$1\""},
      {"FLAC", "flac", flac, "flac -5 -V x2 + sync",
       flac + " --silent -f -5 -V -o \"$(basename \"$1\" .wav).flac\" \"$1\""}};
  for (const Format& f : formats) {
    if (f.program.empty()) {
      Say(NotAvailableText(std::string(f.name) + " rip", "no peer program on this machine"));
      continue;
    }
    auto rip = [&](int jobs, bool onTheFly) {
      std::vector<std::string> args = {"rip", "--format", f.format, "--jobs", std::to_string(jobs)};
      if (onTheFly) args.push_back("--on-the-fly");
      return Timed(ours(args, cue));
    };
    auto peer = [&] { return twoAtATime(f.peer); };
    Say(PairText(std::string(f.name) + " rip, 2 workers", ComparePaired(runs, [&] { return rip(2, false); }, peer),
                 f.peerName));
    Say(PairText(std::string(f.name) + " rip, 2 workers on the fly",
                 ComparePaired(runs, [&] { return rip(2, true); }, peer), f.peerName));
    Say(PairText(std::string(f.name) + " rip, 2 workers against 1 worker",
                 ComparePaired(runs, [&] { return rip(2, false); }, [&] { return rip(1, false); }),
                 "1 worker"));
  }

  // Our FLAC rips measure each track's loudness for ReplayGain by default;
  // the same work for the peer is flac's own --replay-gain.
  if (!flac.empty()) {
    Say(PairText("FLAC rip, 2 workers, both with ReplayGain",
                 ComparePaired(
                     runs, [&] { return Timed(ours({"rip", "--format", "flac", "--jobs", "2"}, cue)); },
                     [&] {
                       return twoAtATime(flac + " --silent -f -5 -V --replay-gain -o \"$(basename \"$1\" "
                                                ".wav).flac\" \"$1\"");
                     }),
                 "flac -5 -V --replay-gain x2 + sync"));
  }

  // FLAC without verifying its output ([FLAC] Verify=0) against flac -5.
  if (flac.empty()) {
    Say(NotAvailableText("FLAC rip, Verify=0", "no flac program on this machine"));
  } else if (Run({cli, "--home", home, "settings", "set", "FLAC.Verify=0"}).status != 0) {
    Say(NotAvailableText("FLAC rip, Verify=0", "this build has no setting FLAC.Verify"));
  } else {
    Pair p = ComparePaired(
        runs, [&] { return Timed(ours({"rip", "--format", "flac", "--jobs", "2"}, cue)); },
        [&] {
          return twoAtATime(flac + " --silent -f -5 -o \"$(basename \"$1\" .wav).flac\" \"$1\"");
        });
    Say(PairText("FLAC rip, 2 workers, Verify=0", p, "flac -5 x2 + sync"));
    // Without the tracks' loudness measured for their ReplayGain, which
    // the peer does not do either.
    if (Run({cli, "--home", home, "settings", "set", "ReplayGain.Enabled=0"}).status == 0) {
      Pair q = ComparePaired(
          runs, [&] { return Timed(ours({"rip", "--format", "flac", "--jobs", "2"}, cue)); },
          [&] {
            return twoAtATime(flac + " --silent -f -5 -o \"$(basename \"$1\" .wav).flac\" \"$1\"");
          });
      Say(PairText("FLAC rip, 2 workers, Verify=0, no ReplayGain", q, "flac -5 x2 + sync"));
      Run({cli, "--home", home, "settings", "set", "ReplayGain.Enabled=auto"});
    }
    Run({cli, "--home", home, "settings", "set", "FLAC.Verify=1"});
  }

  // A software drive that reads at 48x at most: encoding MP3 with 2 workers
  // must keep up with reading, against a WAV rip on the same drive.
  {
    const std::string speedHome = MakeHome(root + "/speed-home");
    sonarvex::WriteFileAtomically(speedHome + "/setting/vdrives.lst", "speed=48 " + cue + "\n");
    const std::string drivesFile = root + "/drives.txt";
    Run({cli, "--home", speedHome, "drives"}, drivesFile);
    std::string drive;
    std::ifstream drives(drivesFile);
    for (std::string line; std::getline(drives, line);)
      if (line.find("\tsoftware-drive\t") != std::string::npos) {
        drive = line.substr(0, line.find('\t'));
        break;
      }
    if (drive.empty()) {
      Say(NotAvailableText("48x software drive: MP3 2 workers / WAV",
                           "the software drive does not take speed=48 in vdrives.lst"));
    } else {
      const std::string speedOut = speedHome + "/out";
      auto rip = [&](const char* format, const char* jobs) {
        Fresh(speedOut);
        return Timed(Run({cli, "--home", speedHome, "rip", "--drive", drive, "--format", format,
                          "--jobs", jobs, "--no-secure"}));
      };
      Pair p = ComparePaired(runs, [&] { return rip("mp3", "2"); }, [&] { return rip("wav", "1"); });
      Say(PairText("48x software drive: MP3 rip with 2 workers (target <= 1.1)", p, "WAV rip"));
    }
  }

  // Peak resident memory with 8 workers: it must not grow with the disc.
  {
    const std::string longCue = longMinutes == minutes ? cue : MakeImage(root + "/long", longMinutes);
    for (const char* format : {"flac", "mp3"})
      for (bool onTheFly : {false, true}) {
        std::vector<std::string> args = {"rip", "--format", format, "--jobs", "8"};
        if (onTheFly) args.push_back("--on-the-fly");
        const std::string load = sonarvex::bench::LoadAverage();
        RunResult r = ours(args, longCue);
        char line[256];
        std::snprintf(line, sizeof line,
                      "peak memory, %s rip of %d minutes, --jobs 8%s: %.1f MiB, ratio %.3f to 64 MiB "
                      "(%.1f s, load %s)",
                      format, longMinutes, onTheFly ? " --on-the-fly" : "", r.maxRssKb / 1024.0,
                      r.maxRssKb / 1024.0 / 64.0, r.seconds, load.c_str());
        Say(r.status == 0 ? std::string(line)
                          : NotAvailableText(std::string("peak memory, ") + format + " rip",
                                             "the rip failed with " + std::to_string(r.status)));
      }
  }
  std::filesystem::remove_all(root);
  return 0;
}

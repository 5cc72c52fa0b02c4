// Times the WMA batch of the conversion engine on four generated WMA files
// with DecodeFilesAtOnce 1 and 2, and the WAV to WMA conversion against
// "ffmpeg -c:a wmav2" on the same WAV at the same bitrate, and prints the
// ratios (below 1.0: faster).
//
//   conversion_bench [SECONDS] [FOLDER]
//
// SECONDS is the length of each generated file (default 240); the files go
// below FOLDER (default /dev/shm when it exists, else /tmp). On a disk the
// WMA batch is bound by writing and syncing its WAV outputs rather than by
// decoding; tmpfs shows what the readers on several cores gain.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "bench/common/BenchAudio.h"
#include "bench/common/BenchStats.h"
#include "codec/EncoderSet.h"
#include "conversion/ConvertEngine.h"
#include "platform/ConsoleDialogs.h"
#include "platform/ProgramFolder.h"


namespace {

using namespace sonarvex;
namespace fs = std::filesystem;

using bench::RunProgram;
using bench::Seconds;

constexpr int kRuns = 3;

struct QuietHost : ConvertHost {};

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::max(10, std::atoi(argv[1])) : 240;
  std::string base = argc > 2 ? argv[2] : (fs::is_directory("/dev/shm") ? "/dev/shm" : "/tmp");
  std::string tmpl = base + "/sonarvex-convbench-XXXXXX";
  if (mkdtemp(tmpl.data()) == nullptr) return 1;
  const std::string dir = tmpl;
  std::printf("files in %s\n", dir.c_str());
  const std::string wav = dir + "/src.wav";
  bench::MakeMusicWav(wav, seconds);

  SettingsRecord settings{};
  ApplyFirstStartDefaults(settings, (dir + "/").c_str());
  settings.WmaBitrateIndex = 6;  // 128 kbit/s
  ConsoleDialogs dialogs;
  EncoderSet encoders(settings, dialogs);
  if (!encoders.Wma().Available()) {
    std::fprintf(stderr, "no WMA encoder\n");
    return 1;
  }
  QuietHost host;
  ConvertEngineContext context;
  context.settings = &settings;
  context.encoders = &encoders;
  context.dialogs = &dialogs;
  context.host = &host;
  context.programFolder = ExecutableFolder();
  if (context.programFolder.empty() || context.programFolder.back() != '/') context.programFolder += '/';
  context.tempFolder = dir + "/TempFile/";

  // WAV to WMA: ours against ffmpeg on the same file at the same bitrate,
  // alternated after a warm-up; ffmpeg's output is synced as ours is.
  bench::Pair wma;
  {
    ConvertEngine engine(context);
    if (!engine.Create()) return 1;
    engine.outputFolder = dir + "/wma";
    engine.SetDirection(kWavToWma);
    auto ours = [&] {
      return Seconds([&] {
        engine.RemoveAll();
        engine.AddFile(wav);
        fs::remove(dir + "/wma/src.wma");
        engine.Run();
        if (engine.Rows()[0].state != kStateDone) std::exit(1);
      });
    };
    auto peer = [&] {
      return Seconds([&] {
        if (!RunProgram({"ffmpeg", "-v", "error", "-nostdin", "-y", "-i", wav, "-c:a", "wmav2", "-b:a",
                         "128k", dir + "/peer.wma"}) ||
            !RunProgram({"sync", dir + "/peer.wma"}))
          std::exit(1);
      });
    };
    wma = bench::ComparePaired(kRuns, ours, peer);
    engine.Close();
  }
  std::printf("%s\n", bench::PairText("WAV -> WMA, " + std::to_string(seconds) + " s at 128 kbit/s", wma,
                                      "ffmpeg -c:a wmav2 + sync")
                          .c_str());

  // Four WMA files (copies of the encoded one), decoded to WAV.
  std::vector<std::string> wmas;
  for (int i = 0; i < 4; ++i) {
    wmas.push_back(dir + "/in" + std::to_string(i) + ".wma");
    fs::copy_file(dir + "/wma/src.wma", wmas.back(), fs::copy_options::overwrite_existing);
  }
  auto batch = [&](int atOnce) {
    settings.DecodeFilesAtOnce = static_cast<std::uint8_t>(atOnce);
    ConvertEngine engine(context);
    if (!engine.Create()) std::exit(1);
    engine.outputFolder = dir + "/wav" + std::to_string(atOnce);
    engine.SetDirection(kWmaToWav);
    return Seconds([&] {
      engine.RemoveAll();
      for (const std::string& w : wmas) engine.AddFile(w);
      fs::remove_all(engine.outputFolder);
      engine.Run();
      for (const ConvertRow& r : engine.Rows())
        if (r.state != kStateDone) std::exit(1);
    });
  };
  const bench::Pair batches = bench::ComparePaired(kRuns, [&] { return batch(2); }, [&] { return batch(1); });
  std::printf("%s (%u cores)\n",
              bench::PairText("WMA -> WAV, 4 files of " + std::to_string(seconds) + " s, 2 at once", batches,
                              "1 at once")
                  .c_str(),
              std::thread::hardware_concurrency());
  fs::remove_all(dir);
  return 0;
}

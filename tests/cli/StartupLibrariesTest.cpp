// The commands that need no codec, player or network library start without
// loading FFmpeg, GStreamer, ALSA or libcurl (the dynamic loader's own
// report of the files it opens, LD_DEBUG=files, of the built program).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "platform/Files.h"
#include "tests/cli/CliRunner.h"

namespace sonarvex {
namespace {

// The libraries named in the loader's report whose name matches `heavy`.
std::vector<std::string> HeavyLibrariesLoaded(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {"env", "LD_DEBUG=files", test::BuiltCli()};
  argv.insert(argv.end(), args.begin(), args.end());
  int status = -1;
  const std::string report = test::CaptureOutput(argv, true, &status);
  EXPECT_EQ(status, 0) << report.substr(0, 2000);
  EXPECT_NE(report.find("file=libc.so.6"), std::string::npos) << "the loader did not report";
  static const std::regex heavy(R"(file=(\S*(libavcodec|libavformat|libavutil|libswresample|libgst|libasound|libcurl)\S*))");
  std::vector<std::string> found;
  for (std::sregex_iterator it(report.begin(), report.end(), heavy), end; it != end; ++it)
    found.push_back((*it)[1]);
  return found;
}

TEST(StartupLibraries, VersionDrivesAndTocLoadNoCodecPlayerOrNetworkLibrary) {
  const std::string cli = test::BuiltCli();
  if (cli.empty() || !FileExists(cli)) GTEST_SKIP() << "sonarvex-cli is not built beside the tests";
  const std::string root = std::filesystem::temp_directory_path() / "sonarvex-startup-test";
  std::filesystem::remove_all(root);
  std::filesystem::create_directories(root + "/home/setting");
  {
    // Two tracks of a few seconds of a rising saw.
    std::ofstream bin(root + "/image.bin", std::ios::binary);
    for (int s = 0; s < 2 * 5 * 75; ++s)
      for (int k = 0; k < 2352 / 2; ++k) {
        const std::int16_t v = static_cast<std::int16_t>((s * 588 + k) * 37);
        bin.write(reinterpret_cast<const char*>(&v), 2);
      }
    std::ofstream(root + "/image.cue") << "FILE \"image.bin\" BINARY\n"
                                          "  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
                                          "  TRACK 02 AUDIO\n    INDEX 01 00:05:00\n";
  }
  const std::vector<std::string> image = {"--home", root + "/home", "--image", root + "/image.cue"};
  for (const std::vector<std::string>& command :
       std::vector<std::vector<std::string>>{{"--version"}, {"drives"}, {"toc"}}) {
    std::vector<std::string> args = command[0] == "--version" ? std::vector<std::string>{} : image;
    args.insert(args.end(), command.begin(), command.end());
    const std::vector<std::string> loaded = HeavyLibrariesLoaded(args);
    std::string list;
    for (const std::string& l : loaded) list += l + " ";
    EXPECT_TRUE(loaded.empty()) << command[0] << " loaded " << list;
  }
  std::filesystem::remove_all(root);
}

}  // namespace
}  // namespace sonarvex

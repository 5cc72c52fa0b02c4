// The commands that need no codec, player or network library start without
// loading FFmpeg, GStreamer, ALSA or libcurl, and a rip or a conversion
// loads the encoder library of its own format only (the dynamic loader's
// own report of the files it opens, LD_DEBUG=files, of the built program).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "conversion/ConvertEngine.h"
#include "platform/Files.h"
#include "platform/Shell.h"
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

// A fresh folder under the temporary one with a home and a disc image of
// two tracks of a few seconds of a rising saw.
std::string MakeImageRoot(const std::string& name) {
  const std::string root = std::filesystem::temp_directory_path() / name;
  std::filesystem::remove_all(root);
  std::filesystem::create_directories(root + "/home/setting");
  std::filesystem::create_directories(root + "/out");
  std::ofstream bin(root + "/image.bin", std::ios::binary);
  for (int s = 0; s < 2 * 5 * 75; ++s)
    for (int k = 0; k < 2352 / 2; ++k) {
      const std::int16_t v = static_cast<std::int16_t>((s * 588 + k) * 37);
      bin.write(reinterpret_cast<const char*>(&v), 2);
    }
  std::ofstream(root + "/image.cue") << "FILE \"image.bin\" BINARY\n"
                                        "  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
                                        "  TRACK 02 AUDIO\n    INDEX 01 00:05:00\n";
  return root;
}

// The loader's report and the program's own output of one run, with the
// environment's extra variables.
struct LoaderRun {
  int status = -1;
  std::string report;
};
LoaderRun RunReported(const std::vector<std::string>& env, const std::vector<std::string>& args) {
  std::vector<std::string> argv = {"env", "LD_DEBUG=files"};
  argv.insert(argv.end(), env.begin(), env.end());
  argv.push_back(test::BuiltCli());
  argv.insert(argv.end(), args.begin(), args.end());
  LoaderRun run;
  run.report = test::CaptureOutput(argv, true, &run.status);
  EXPECT_NE(run.report.find("file=libc.so.6"), std::string::npos) << "the loader did not report";
  return run;
}

// The library files of the report whose names match `libraries`, each once.
std::string LoadedMatching(const std::string& report, const std::regex& libraries) {
  static const std::regex file(R"(file=(\S*/)?([^\s/;]+))");
  std::vector<std::string> found;
  for (std::sregex_iterator it(report.begin(), report.end(), file), end; it != end; ++it) {
    const std::string name = (*it)[2];
    if (std::regex_search(name, libraries) &&
        std::find(found.begin(), found.end(), name) == found.end())
      found.push_back(name);
  }
  std::string list;
  for (const std::string& l : found) list += l + " ";
  return list;
}

std::size_t Occurrences(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

const std::regex kFfmpeg("^(libavcodec|libavformat|libavutil|libswresample)");
const std::regex kEncoders("^(libmp3lame|libvorbis|libopus|libavcodec|libavformat|libavutil|libswresample)");

TEST(StartupLibraries, VersionDrivesAndTocLoadNoCodecPlayerOrNetworkLibrary) {
  const std::string cli = test::BuiltCli();
  if (cli.empty() || !FileExists(cli)) GTEST_SKIP() << "sonarvex-cli is not built beside the tests";
  const std::string root = MakeImageRoot("sonarvex-startup-test");
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

// A rip to WAV or FLAC needs no MP3, Vorbis or Opus encoder and no FFmpeg;
// a rip to MP3 loads LAME and not the others.
TEST(StartupLibraries, RipsLoadTheEncoderOfTheirFormatOnly) {
  const std::string cli = test::BuiltCli();
  if (cli.empty() || !FileExists(cli)) GTEST_SKIP() << "sonarvex-cli is not built beside the tests";
  const std::string root = MakeImageRoot("sonarvex-rip-libraries-test");
  for (const char* format : {"wav", "flac", "mp3"}) {
    std::filesystem::remove_all(root + "/out");
    const LoaderRun run = RunReported(
        {}, {"--home", root + "/home", "--image", root + "/image.cue", "rip", "--format", format,
             "--no-lookup", "-q", "--no-secure", "--out", root + "/out"});
    EXPECT_EQ(run.status, 0) << format << ": " << run.report.substr(0, 2000);
    const std::string mp3 = std::string(format) == "mp3" ? "libmp3lame" : "";
    const std::string loaded = LoadedMatching(run.report, kEncoders);
    if (mp3.empty()) {
      EXPECT_EQ(loaded, "") << "a rip to " << format << " loaded " << loaded;
    } else {
      EXPECT_EQ(loaded, "libmp3lame.so.0 ") << "a rip to MP3 through LAME loaded " << loaded;
    }
  }
  std::filesystem::remove_all(root);
}

// Without libmp3lame (hidden) a rip to WAV or FLAC goes on without a word
// about it; a rip to MP3 through LAME says the library is missing, once,
// and fails.
TEST(StartupLibraries, AMissingLameStopsOnlyMp3Rips) {
  const std::string cli = test::BuiltCli();
  if (cli.empty() || !FileExists(cli)) GTEST_SKIP() << "sonarvex-cli is not built beside the tests";
  const std::string root = MakeImageRoot("sonarvex-hidden-lame-test");
  const std::vector<std::string> hide = {"SONARVEX_HIDE_LIBRARIES=libmp3lame"};
  for (const char* format : {"wav", "flac"}) {
    std::filesystem::remove_all(root + "/out");
    const LoaderRun run = RunReported(
        hide, {"--home", root + "/home", "--image", root + "/image.cue", "rip", "--format", format,
               "--no-lookup", "-q", "--no-secure", "--out", root + "/out"});
    EXPECT_EQ(run.status, 0) << format << ": " << run.report.substr(0, 2000);
    EXPECT_EQ(run.report.find("libmp3lame.so.0 !"), std::string::npos)
        << "a rip to " << format << " spoke of LAME";
  }
  for (const char* jobs : {"1", "2"}) {
    std::filesystem::remove_all(root + "/out");
    const LoaderRun run = RunReported(
        hide, {"--home", root + "/home", "--image", root + "/image.cue", "rip", "--format", "mp3",
               "--no-lookup", "-q", "--no-secure", "--jobs", jobs, "--out", root + "/out"});
    EXPECT_NE(run.status, 0) << "an MP3 rip without LAME reported success";
    // The warning once, then the rip's failure with the same reason.
    const std::string tail = run.report.substr(run.report.size() > 3000 ? run.report.size() - 3000 : 0);
    EXPECT_EQ(Occurrences(run.report, "Нету libmp3lame.so.0 !\n"), 1u) << "--jobs " << jobs << ": " << tail;
    EXPECT_NE(run.report.find("Нету libmp3lame.so.0 ! Копирование прервано."), std::string::npos)
        << "--jobs " << jobs << ": " << tail;
    EXPECT_EQ(LoadedMatching(run.report, std::regex("^libmp3lame")), "");
    std::error_code ec;
    for (const auto& e : std::filesystem::recursive_directory_iterator(root + "/out", ec))
      EXPECT_NE(e.path().extension(), ".mp3") << "left behind: " << e.path();
  }
  std::filesystem::remove_all(root);
}

// Without FFmpeg (hidden) a WMA file cannot be converted: said once, exit 1,
// no output.
TEST(StartupLibraries, AWmaConversionWithoutFfmpegSaysSoOnce) {
  const std::string cli = test::BuiltCli();
  if (cli.empty() || !FileExists(cli)) GTEST_SKIP() << "sonarvex-cli is not built beside the tests";
  const std::string ffmpeg = FindInPath("ffmpeg");
  if (ffmpeg.empty()) GTEST_SKIP() << "ffmpeg is not installed (it makes the WMA source)";
  const std::string root = MakeImageRoot("sonarvex-wma-without-ffmpeg-test");
  const std::string wma = root + "/tone.wma";
  int status = -1;
  test::CaptureOutput({ffmpeg, "-v", "error", "-y", "-f", "lavfi", "-i", "sine=frequency=440:duration=1",
                       "-ac", "2", "-ar", "44100", "-c:a", "wmav2", wma},
                      true, &status);
  ASSERT_EQ(status, 0);
  const LoaderRun run = RunReported({"SONARVEX_HIDE_LIBRARIES=libavcodec.so"},
                                    {"--home", root + "/home", "convert", "--to", "wav", "--out",
                                     root + "/conv", wma});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(Occurrences(run.report, kWmaDecodingImpossibleText), 1u);
  std::error_code ec;
  EXPECT_TRUE(std::filesystem::is_empty(root + "/conv", ec) || ec) << "an output was left";
  std::filesystem::remove_all(root);
}

// Conversions between WAV and MP3 or Ogg load no FFmpeg and no encoder
// of another format.
TEST(StartupLibraries, ConversionsLoadNoFfmpegOrOtherEncoders) {
  const std::string cli = test::BuiltCli();
  if (cli.empty() || !FileExists(cli)) GTEST_SKIP() << "sonarvex-cli is not built beside the tests";
  const std::string bin = std::filesystem::path(cli).parent_path();
  if (!FileExists(bin + "/libkelpra.so"))
    GTEST_SKIP() << "libkelpra.so is not built beside sonarvex-cli (MP3 sources need it)";
  const std::string root = MakeImageRoot("sonarvex-convert-libraries-test");
  // A WAV source of the image's first track, ripped without any encoder.
  ASSERT_EQ(RunReported({}, {"--home", root + "/home", "--image", root + "/image.cue", "rip",
                             "--format", "wav", "--tracks", "1", "--no-lookup", "-q",
                             "--no-secure", "--out", root + "/out"})
                .status,
            0);
  std::string wav;
  for (const auto& e : std::filesystem::recursive_directory_iterator(root + "/out"))
    if (e.path().extension() == ".wav") wav = e.path();
  ASSERT_FALSE(wav.empty());
  // WAV to MP3 and to Ogg, then the MP3 made back to WAV; each may load the
  // one encoder library of its direction.
  struct Case {
    const char* to;
    const char* from;   // the extension of the source: the WAV file's or the MP3 made
    const char* allowed;  // the encoder library the direction may load
  };
  for (const Case& c : {Case{"mp3", ".wav", "libmp3lame"}, Case{"ogg", ".wav", "libvorbis"},
                        Case{"wav", ".mp3", ""}}) {
    std::string source = wav;
    if (std::string(c.from) == ".mp3") {
      source.clear();
      for (const auto& e : std::filesystem::directory_iterator(root + "/conv"))
        if (e.path().extension() == ".mp3") source = e.path();
      ASSERT_FALSE(source.empty()) << "no MP3 was made";
    }
    std::filesystem::create_directories(root + "/conv");
    const LoaderRun run = RunReported({}, {"--home", root + "/home", "convert", "--to", c.to,
                                           "--out", root + "/conv", "--overwrite", source});
    ASSERT_EQ(run.status, 0) << source << " -> " << c.to << ": " << run.report.substr(0, 2000);
    std::string loaded = LoadedMatching(run.report, kEncoders);
    if (*c.allowed != 0)
      loaded = std::regex_replace(loaded, std::regex(std::string(c.allowed) + "\\S* "), "");
    EXPECT_EQ(loaded, "") << source << " -> " << c.to << " loaded " << loaded;
  }
  std::filesystem::remove_all(root);
}

}  // namespace
}  // namespace sonarvex

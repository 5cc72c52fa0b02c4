#include <gtest/gtest.h>

#include "cli/CliOptions.h"

namespace sonarvex {

TEST(CliOptions, ParsesTheCommands) {
  std::string err;
  auto o = ParseCli({"--home", "/h", "--image", "a.cue", "--image", "b.cue", "rip", "--drive",
                     "1", "--format", "ogg", "--tracks", "1,3-5", "--on-the-fly", "--jobs", "3"},
                    &err);
  ASSERT_TRUE(o) << err;
  EXPECT_EQ(o->Home, "/h");
  EXPECT_EQ(o->Images, (std::vector<std::string>{"a.cue", "b.cue"}));
  EXPECT_EQ(o->Command, "rip");
  EXPECT_EQ(o->Drive, 1);
  EXPECT_EQ(o->Format, "ogg");
  EXPECT_EQ(o->Tracks, "1,3-5");
  EXPECT_TRUE(o->OnTheFly);
  EXPECT_EQ(o->Jobs, 3);
  o = ParseCli({"rip", "--format", "flac", "--verify", "--accuraterip", "h:8080"}, &err);
  ASSERT_TRUE(o) << err;
  EXPECT_EQ(o->Format, "flac");
  EXPECT_EQ(o->Verify, true);
  EXPECT_EQ(o->ArServer, "h:8080");
  EXPECT_FALSE(o->Secure.has_value());
  EXPECT_FALSE(o->TestAndCopy);
  o = ParseCli({"rip", "--no-secure", "--test-and-copy"}, &err);
  ASSERT_TRUE(o) << err;
  EXPECT_EQ(o->Secure, false);
  EXPECT_TRUE(o->TestAndCopy);
  o = ParseCli({"rip", "--secure"}, &err);
  ASSERT_TRUE(o) << err;
  EXPECT_EQ(o->Secure, true);
  o = ParseCli({"offset", "set", "-1164", "--drive", "1"}, &err);
  ASSERT_TRUE(o) << err;
  EXPECT_EQ(o->Arguments, (std::vector<std::string>{"set", "-1164"}));
  EXPECT_EQ(o->Drive, 1);
  o = ParseCli({"cddb", "--match", "2"}, &err);
  ASSERT_TRUE(o);
  EXPECT_EQ(o->Match, 2);
  EXPECT_FALSE(o->Drive.has_value());
}

TEST(CliOptions, UsageErrors) {
  std::string err;
  for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
           {}, {"--home"}, {"play"}, {"--bogus", "drives"}, {"drives", "--drive", "1"},
           {"toc", "--drive", "x"}, {"rip", "--format", "aiff"}, {"toc", "--tracks", "1"},
           {"cddb", "--match", "0"}, {"rip", "--drive"}, {"rip", "--jobs", "0"},
           {"rip", "--jobs", "65"}, {"toc", "--jobs", "2"}, {"toc", "--verify"},
           {"offset", "set"}, {"offset", "set", "5881"}, {"offset", "set", "-x"},
           {"offset", "7"}, {"rip", "--accuraterip"}, {"toc", "--secure"},
           {"toc", "--test-and-copy"}, {"drives", "--no-secure"}}) {
    err.clear();
    EXPECT_FALSE(ParseCli(bad, &err)) << (bad.empty() ? "" : bad[0]);
    EXPECT_FALSE(err.empty());
  }
}

TEST(CliOptions, TrackLists) {
  std::string err;
  EXPECT_EQ(*ParseTrackList("1,3-5", 10, &err), (std::vector<int>{1, 3, 4, 5}));
  EXPECT_EQ(*ParseTrackList("2,2,1-2", 10, &err), (std::vector<int>{2, 1}));
  for (const char* bad : {"", "0", "11", "3-1", "1,", "a", "1-", "-2", "1--3", "99999999999"})
    EXPECT_FALSE(ParseTrackList(bad, 10, &err)) << bad;
}

}  // namespace sonarvex

namespace sonarvex {

TEST(CliOptions, HelpAndVersionFromAnyWhere) {
  std::string err;
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"--help"}, {"-h"}, {"help"}, {"--home", "/x", "--help"}, {"rip", "--bogus-later", "-h"}}) {
    err.clear();
    auto o = ParseCli(args, &err);
    if (args.back() == "-h" && args.size() == 3) {
      // An unknown option is still an error, even beside --help.
      EXPECT_FALSE(o);
      continue;
    }
    ASSERT_TRUE(o) << err;
    EXPECT_EQ(o->Command, "help");
    EXPECT_TRUE(o->Arguments.empty());
  }
  auto o = ParseCli({"rip", "--help"}, &err);
  ASSERT_TRUE(o);
  EXPECT_EQ(o->Arguments, std::vector<std::string>{"rip"});
  o = ParseCli({"help", "settings"}, &err);
  ASSERT_TRUE(o);
  EXPECT_EQ(o->Arguments, std::vector<std::string>{"settings"});
  EXPECT_FALSE(ParseCli({"help", "nope"}, &err));
  EXPECT_FALSE(ParseCli({"help", "rip", "toc"}, &err));
  o = ParseCli({"--version"}, &err);
  ASSERT_TRUE(o);
  EXPECT_EQ(o->Command, "version");
  // Every command has its help.
  for (const std::string& c : CliCommandNames()) EXPECT_FALSE(CliHelp(c).empty()) << c;
  EXPECT_TRUE(CliHelp("nope").empty());
}

TEST(CliOptions, OverridesAndGlobalOptionsOnEitherSideOfTheCommand) {
  std::string err;
  auto o = ParseCli({"-q", "--out", "/m", "rip", "--name", "%N %T", "--bitrate", "192", "--vbr",
                     "4", "--ogg-quality", "-0.5", "--profile", "Rock", "-v"},
                    &err);
  ASSERT_TRUE(o) << err;
  EXPECT_EQ(o->Command, "rip");
  EXPECT_EQ(o->Out, "/m");
  EXPECT_EQ(o->Name, "%N %T");
  EXPECT_EQ(o->Bitrate, 192);
  EXPECT_EQ(o->Vbr, 4);
  EXPECT_EQ(o->OggQuality, -50);
  EXPECT_EQ(o->Profile, "Rock");
  EXPECT_EQ(o->Verbosity, 1);  // the last of -q / -v counts
  // Overrides belong to rip.
  for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
           {"toc", "--out", "/m"}, {"cddb", "--bitrate", "128"}, {"settings", "show", "--vbr", "1"},
           {"rip", "--vbr", "10"}, {"rip", "--bitrate", "x"}, {"rip", "--ogg-quality", "11"},
           {"rip", "--ogg-quality", "2.55"}, {"rip", "--out", ""}, {"--profile", "", "drives"}}) {
    err.clear();
    EXPECT_FALSE(ParseCli(bad, &err)) << bad[0] << " " << bad[1];
    EXPECT_FALSE(err.empty());
  }
  EXPECT_EQ(ParseOggQuality("10"), 1000);
  EXPECT_EQ(ParseOggQuality("-1"), -100);
  EXPECT_EQ(ParseOggQuality("0.1"), 10);
  EXPECT_FALSE(ParseOggQuality("-1.1"));
  EXPECT_FALSE(ParseOggQuality("."));
  EXPECT_FALSE(ParseOggQuality("1e1"));
}

TEST(CliOptions, SettingsPlayAndConvertArguments) {
  std::string err;
  auto o = ParseCli({"settings", "set", "A=1", "B=x=y"}, &err);
  ASSERT_TRUE(o) << err;
  EXPECT_EQ(o->Arguments, (std::vector<std::string>{"set", "A=1", "B=x=y"}));
  for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
           {"settings"}, {"settings", "list"}, {"settings", "show", "x"}, {"settings", "set"},
           {"settings", "set", "A"}, {"settings", "set", "=1"}, {"play", "--track", "1", "f.mp3"},
           {"play", "--drive", "0", "f.mp3"}, {"play", "a", "b"}, {"drives", "extra"}}) {
    err.clear();
    EXPECT_FALSE(ParseCli(bad, &err)) << bad[0];
  }
  o = ParseCli({"play", "--drive", "1", "--track", "3"}, &err);
  ASSERT_TRUE(o) << err;
  EXPECT_EQ(o->Drive, 1);
  EXPECT_EQ(o->Track, 3);
  o = ParseCli({"play", "song.mp3"}, &err);
  ASSERT_TRUE(o) << err;
  EXPECT_EQ(o->Arguments, std::vector<std::string>{"song.mp3"});
  // Everything after convert is the conversion's own.
  o = ParseCli({"--home", "/h", "convert", "--to", "wav", "--out", "/o", "a.mp3"}, &err);
  ASSERT_TRUE(o) << err;
  EXPECT_EQ(o->Home, "/h");
  EXPECT_FALSE(o->Out);
  EXPECT_EQ(o->Arguments, (std::vector<std::string>{"--to", "wav", "--out", "/o", "a.mp3"}));
}

}  // namespace sonarvex

#include <gtest/gtest.h>

#include "app/CliOptions.h"

namespace sonarvex {

TEST(CliOptions, ParsesTheCommands) {
  std::string err;
  auto o = ParseCli({"--home", "/h", "--image", "a.cue", "--image", "b.cue", "rip", "--drive",
                     "1", "--format", "ogg", "--tracks", "1,3-5", "--on-the-fly"},
                    &err);
  ASSERT_TRUE(o) << err;
  EXPECT_EQ(o->Home, "/h");
  EXPECT_EQ(o->Images, (std::vector<std::string>{"a.cue", "b.cue"}));
  EXPECT_EQ(o->Command, "rip");
  EXPECT_EQ(o->Drive, 1);
  EXPECT_EQ(o->Format, "ogg");
  EXPECT_EQ(o->Tracks, "1,3-5");
  EXPECT_TRUE(o->OnTheFly);
  o = ParseCli({"cddb", "--match", "2"}, &err);
  ASSERT_TRUE(o);
  EXPECT_EQ(o->Match, 2);
  EXPECT_FALSE(o->Drive.has_value());
}

TEST(CliOptions, UsageErrors) {
  std::string err;
  for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
           {}, {"--home"}, {"play"}, {"--bogus", "drives"}, {"drives", "--drive", "1"},
           {"toc", "--drive", "x"}, {"rip", "--format", "flac"}, {"toc", "--tracks", "1"},
           {"cddb", "--match", "0"}, {"rip", "--drive"}}) {
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

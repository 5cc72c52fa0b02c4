#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/CliCommands.h"
#include "app/SettingsRecord.h"
#include "drive/virtual/DemoDisc.h"
#include "platform/Files.h"
#include "platform/Shell.h"

namespace sonarvex {
namespace {

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/sonarvex-cli-XXXXXX";
    home_ = std::string(mkdtemp(tmpl)) + "/";
    std::string error;
    cue_ = WriteDemoDisc(home_ + "images", &error);
    ASSERT_FALSE(cue_.empty()) << error;
    MakeDirectories(home_ + "music");
    // A first profile: output into music/, names "NN title" without folders.
    SettingsRecord s{};
    std::memset(&s, 0, sizeof s);
    ApplyFirstStartDefaults(s, (home_ + "music/").c_str());
    s.FolderPerAlbum = s.FolderPerArtist = 0;
    s.NameHasTitle = 1;
    s.NameHasNumber = 1;
    s.WindowColor = 13758449;
    s.EditColor = 13758462;
    MakeDirectories(home_ + "setting");
    WriteFileAtomically(home_ + "setting/set.dat",
                        std::string(reinterpret_cast<char*>(&s), sizeof s));
  }
  void TearDown() override { std::filesystem::remove_all(home_); }

  int Run(std::vector<std::string> args) {
    out_.str("");
    err_.str("");
    std::vector<std::string> all = {"--home", home_, "--image", cue_};
    all.insert(all.end(), args.begin(), args.end());
    CliEnvironment env;
    env.ExecutableFolder = home_;
    env.ScanSystemDrives = false;
    return RunCli(all, out_, err_, env);
  }
  std::vector<std::string> Lines() {
    std::vector<std::string> lines;
    std::istringstream in(out_.str());
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
  }

  std::string home_, cue_;
  std::ostringstream out_, err_;
};

TEST_F(CliTest, DrivesAndToc) {
  ASSERT_EQ(Run({"drives"}), 0) << err_.str();
  auto lines = Lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].substr(0, 2), "0\t");
  EXPECT_NE(lines[0].find("Virtual CD"), std::string::npos);

  ASSERT_EQ(Run({"toc"}), 0) << err_.str();
  lines = Lines();
  ASSERT_EQ(lines.size(), 7u);  // id, 4 audio tracks, the data track, the lead-out
  EXPECT_EQ(lines[1], "1\t00:02:00\t00:12:00\t0\taudio");
  EXPECT_EQ(lines[5].substr(lines[5].size() - 4), "data");
  EXPECT_EQ(lines[6].rfind("leadout\t", 0), 0u);
  // The CDDB identifier, computed here from the printed start times.
  auto seconds = [](const std::string& msf) {
    return std::stoi(msf.substr(0, 2)) * 60 + std::stoi(msf.substr(3, 2));
  };
  int n = 0;
  std::vector<int> starts;
  for (int k = 1; k <= 5; ++k) {
    int s = seconds(lines[k].substr(lines[k].find('\t') + 1, 8));
    starts.push_back(s);
    for (int v = s; v > 0; v /= 10) n += v % 10;
  }
  int length = seconds(lines[6].substr(8)) - starts[0];
  char expected[16];
  std::snprintf(expected, sizeof expected, "%08x", ((n % 255) << 24) | (length << 8) | 5);
  EXPECT_EQ(lines[0], expected);
}

TEST_F(CliTest, UsageAndFailures) {
  EXPECT_EQ(Run({"frobnicate"}), 2);
  EXPECT_EQ(Run({"rip", "--tracks", "9"}), 2);
  EXPECT_EQ(Run({"rip", "--tracks", "5"}), 1);  // the data track
  EXPECT_NE(err_.str().find("data track"), std::string::npos);
  EXPECT_EQ(Run({"toc", "--drive", "3"}), 1);
  EXPECT_EQ(err_.str().find('\n'), err_.str().size() - 1);  // one line
  std::filesystem::remove_all(home_ + "music");
  EXPECT_EQ(Run({"rip", "--format", "wav", "--tracks", "1"}), 1);
  EXPECT_NE(err_.str().find("does not exist"), std::string::npos);
}

TEST_F(CliTest, WavRipMatchesCdParanoia) {
  ASSERT_EQ(Run({"rip", "--format", "wav", "--tracks", "1,3-4"}), 0) << err_.str();
  auto lines = Lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "1\t" + home_ + "music/0 - Track1.wav");
  EXPECT_EQ(lines[1], "3\t" + home_ + "music/2 - Track3.wav");
  std::string paranoia = FindInPath("cd-paranoia");
  if (paranoia.empty()) GTEST_SKIP() << "cd-paranoia is not installed";
  for (int track : {1, 3, 4}) {
    std::string raw = home_ + "p" + std::to_string(track) + ".raw";
    ASSERT_EQ(RunProgram({paranoia, "-q", "-d", cue_, "-r", std::to_string(track), raw}), 0);
    auto ours = ReadFileBytes(home_ + "music/" + std::to_string(track - 1) + " - Track" +
                              std::to_string(track) + ".wav");
    auto theirs = ReadFileBytes(raw);
    ASSERT_TRUE(ours && theirs);
    ASSERT_EQ(ours->size(), theirs->size() + 48) << track;
    EXPECT_TRUE(ours->compare(48, std::string::npos, *theirs) == 0) << track;
  }
}

}  // namespace
}  // namespace sonarvex

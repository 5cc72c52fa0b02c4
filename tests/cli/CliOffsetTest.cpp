// sonarvex-cli offset find: a software drive that reads with a read offset,
// its disc's AccurateRip entry served on the loopback interface (checksums
// computed here apart from the program's), the offset found, stored or not.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <sstream>

#include "LoopbackServer.h"
#include "accuraterip/AccurateRip.h"
#include "cli/CliCommands.h"
#include "platform/Files.h"
#include "platform/IniStore.h"
#include "tests/cli/CliRunner.h"

namespace sonarvex {
namespace {

namespace fs = std::filesystem;
using test::LoopbackServer;

constexpr std::size_t kSector = 2352;
const std::vector<std::int32_t> kStarts = {0, 40, 75, 120};
constexpr std::int32_t kLeadOut = 158;

std::string Noise(std::size_t bytes, std::uint32_t seed) {
  std::string v(bytes, '\0');
  std::uint32_t x = seed;
  for (auto& b : v) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<char>(x);
  }
  return v;
}

// v1 of one track (sample k, 1-based, weighs k; the first track leaves out
// its first 2939 samples, the last its last 2940).
std::uint32_t V1(const std::string& pcm, bool first, bool last) {
  const std::uint64_t n = pcm.size() / 4;
  std::uint32_t v = 0;
  for (std::uint64_t k = first ? 2940 : 1; k <= (last ? n - 2940 : n); ++k) {
    std::uint32_t s;
    std::memcpy(&s, pcm.data() + (k - 1) * 4, 4);
    v += static_cast<std::uint32_t>(static_cast<std::uint64_t>(s) * k);
  }
  return v;
}

ArToc Toc() {
  ArToc toc;
  for (std::int32_t s : kStarts) toc.tracks.push_back({s, true});
  toc.leadOut = kLeadOut;
  return toc;
}

class CliOffsetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/sonarvex-offset-XXXXXX";
    home_ = std::string(mkdtemp(tmpl)) + "/";
    fs::create_directories(home_ + "setting");
    ASSERT_TRUE(test::WriteSettingsFile(home_, test::FirstProfile(home_ + "music/")));
    // The disc: four tracks of noise, the first and last two sectors silent.
    pcm_ = Noise(kLeadOut * kSector, 7);
    std::memset(pcm_.data(), 0, 2 * kSector);
    std::memset(pcm_.data() + (kLeadOut - 2) * kSector, 0, 2 * kSector);
    ASSERT_TRUE(WriteFileAtomically(home_ + "disc.bin", pcm_));
    std::string cue = "FILE \"disc.bin\" BINARY\n";
    for (std::size_t i = 0; i < kStarts.size(); ++i) {
      char t[96];
      std::snprintf(t, sizeof t, "  TRACK %02zu AUDIO\n    INDEX 01 %02d:%02d:%02d\n", i + 1, kStarts[i] / 4500,
                    kStarts[i] / 75 % 60, kStarts[i] % 75);
      cue += t;
    }
    ASSERT_TRUE(WriteFileAtomically(home_ + "disc.cue", cue));
    // The entry: one submission, every track's v1 with confidence 4.
    const ArDiscIds ids = ComputeArDiscIds(Toc());
    std::string entry(1, static_cast<char>(kStarts.size()));
    auto put = [&](std::uint32_t v) {
      for (int i = 0; i < 4; ++i) entry.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    };
    put(ids.id1);
    put(ids.id2);
    put(ids.cddb);
    for (std::size_t i = 0; i < kStarts.size(); ++i) {
      const std::int32_t end = i + 1 < kStarts.size() ? kStarts[i + 1] : kLeadOut;
      entry.push_back(4);
      put(V1(pcm_.substr(kStarts[i] * kSector, (end - kStarts[i]) * kSector), i == 0, i + 1 == kStarts.size()));
      put(0);
    }
    path_ = ArEntryPath(ids);
    entry_ = entry;
    server_ = std::make_unique<LoopbackServer>([this](const std::string& request, LoopbackServer::Connection& c) {
      if (known_ && request.rfind("GET " + path_ + " HTTP/", 0) == 0)
        c.Send(test::HttpResponse(entry_));
      else
        c.Send("HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\n\r\n");
    });
  }
  void TearDown() override {
    server_.reset();
    fs::remove_all(home_);
  }

  void Drive(const std::string& line) { ASSERT_TRUE(WriteFileAtomically(home_ + "setting/vdrives.lst", line + "\n")); }
  std::string Server() const { return "127.0.0.1:" + std::to_string(server_->Port()); }
  int Run(std::vector<std::string> args) {
    std::vector<std::string> all = {"--home", home_};
    all.insert(all.end(), args.begin(), args.end());
    return test::RunCliIn(home_, all, out_, err_);
  }
  // What `offset` says is stored for drive 0.
  std::string Stored() {
    std::ostringstream out, err;
    EXPECT_EQ(test::RunCliIn(home_, {"--home", home_, "offset"}, out, err), 0) << err.str();
    return out.str().substr(0, out.str().find('\t'));
  }

  std::string home_, pcm_, path_, entry_;
  bool known_ = true;
  std::unique_ptr<LoopbackServer> server_;
  std::ostringstream out_, err_;
};

TEST_F(CliOffsetTest, FindsTheDrivesOffsetAndStoresItOnlyWhenAsked) {
  for (int offset : {667, -1164, 1234}) {
    SCOPED_TRACE(offset);
    Drive("offset=" + std::to_string(offset) + " " + home_ + "disc.cue");
    ASSERT_EQ(Run({"offset", "find", "--accuraterip", Server()}), 0) << err_.str();
    EXPECT_EQ(out_.str().substr(0, out_.str().find('\t')), std::to_string(offset));
    EXPECT_NE(err_.str().find("не сохранено"), std::string::npos) << err_.str();
    EXPECT_EQ(Stored(), "0");
    ASSERT_EQ(Run({"offset", "find", "--store", "--accuraterip", Server()}), 0) << err_.str();
    EXPECT_EQ(Stored(), std::to_string(offset));
    ASSERT_EQ(Run({"offset", "set", "0"}), 0);
  }
}

TEST_F(CliOffsetTest, OnATerminalItAsks) {
  Drive("offset=667 " + home_ + "disc.cue");
  // The server named in the settings is the one asked.
  IniStore ini(home_ + "setting/sonarvex.ini");
  ini.Set("AccurateRip", "Server", Server());
  ASSERT_TRUE(ini.Save());
  for (const char* answer : {"n\n", "y\n"}) {
    std::istringstream in(answer);
    CliEnvironment env;
    env.ExecutableFolder = home_;
    env.ScanSystemDrives = false;
    env.AutoLookup = false;
    env.InIsTerminal = true;
    env.In = &in;
    out_.str("");
    err_.str("");
    ASSERT_EQ(RunCli({"--home", home_, "offset", "find"}, out_, err_, env), 0) << err_.str();
    EXPECT_NE(err_.str().find("[y/N]"), std::string::npos) << err_.str();
    EXPECT_EQ(Stored(), answer[0] == 'y' ? "667" : "0");
  }
}

TEST_F(CliOffsetTest, ADiscTheDatabaseDoesNotKnowNoDiscAndNoFit) {
  Drive("offset=667 " + home_ + "disc.cue");
  known_ = false;
  EXPECT_EQ(Run({"offset", "find", "--store", "--accuraterip", Server()}), 1);
  EXPECT_NE(err_.str().find("нет в базе AccurateRip"), std::string::npos) << err_.str();
  EXPECT_EQ(out_.str(), "");
  EXPECT_EQ(Stored(), "0");

  // Beyond the range searched nothing fits.
  known_ = true;
  Drive("offset=4000 " + home_ + "disc.cue");
  EXPECT_EQ(Run({"offset", "find", "--store", "--accuraterip", Server()}), 1);
  EXPECT_NE(err_.str().find("Ни одно смещение"), std::string::npos) << err_.str();
  EXPECT_EQ(Stored(), "0");

  // A recorder with a blank disc: no disc to read.
  Drive("burn:" + home_ + "out.cue");
  EXPECT_EQ(Run({"offset", "find", "--accuraterip", Server()}), 1);
  EXPECT_NE(err_.str().find("нет диска"), std::string::npos) << err_.str();

  EXPECT_EQ(Run({"offset", "find", "--accuraterip", "bad host:x"}), 2);
  EXPECT_EQ(Run({"offset", "--store"}), 2);
  EXPECT_EQ(Run({"offset", "find", "7"}), 2);
}

}  // namespace
}  // namespace sonarvex

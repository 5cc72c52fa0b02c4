// What every command of sonarvex-cli keeps to: every option settable with
// `settings`, the default rip format, names with folders and the new codes,
// one option grammar, one exit-code contract and one numbering of drives.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <sstream>

#include "LoopbackServer.h"
#include "drive/virtual/DemoDisc.h"
#include "platform/Files.h"
#include "records/SettingsRecord.h"
#include "records/TextFields.h"
#include "tests/cli/CliRunner.h"

namespace sonarvex {
namespace {

class CliContract : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/sonarvex-contract-XXXXXX";
    home_ = std::string(mkdtemp(tmpl)) + "/";
    std::string error;
    cue_ = WriteDemoDisc(home_ + "images", &error);
    ASSERT_FALSE(cue_.empty()) << error;
    MakeDirectories(home_ + "music");
    ASSERT_TRUE(test::WriteSettingsFile(home_, test::FirstProfile(home_ + "music/")));
  }
  void TearDown() override { std::filesystem::remove_all(home_); }

  int Run(std::vector<std::string> args) {
    std::vector<std::string> all = {"--home", home_, "--image", cue_};
    all.insert(all.end(), args.begin(), args.end());
    return test::RunCliIn(home_, all, out_, err_);
  }
  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    std::istringstream in(out_.str());
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
  }
  static bool FlacLibraryPresent() {
    void* h = dlopen("libFLAC.so.12", RTLD_NOW | RTLD_LOCAL);
    if (h != nullptr) dlclose(h);
    return h != nullptr;
  }

  std::string home_, cue_;
  std::ostringstream out_, err_;
};

TEST_F(CliContract, SettingsSetReachesTheIniOptionsAndAPlainRipTakesRipFormat) {
  ASSERT_EQ(Run({"settings", "set", "Rip.Format=flac", "flac.level=8", "Rip.Workers=2",
                 "ReadOffset.0=6", "AccurateRip.Server=ar.example:8080"}),
            0)
      << err_.str();
  const std::string ini = ReadFileBytes(home_ + "setting/sonarvex.ini").value_or("");
  EXPECT_NE(ini.find("Format=flac"), std::string::npos) << ini;
  EXPECT_NE(ini.find("Level=8"), std::string::npos) << ini;
  ASSERT_EQ(Run({"settings", "show"}), 0) << err_.str();
  const std::string shown = out_.str();
  for (const char* line : {"\nRip.Format=flac\n", "\nFLAC.Level=8\n", "\nRip.Workers=2\n",
                           "\nReadOffset.0=6\n", "\nAccurateRip.Server=ar.example:8080\n"})
    EXPECT_NE(shown.find(line), std::string::npos) << line << shown;
  // The dialog's checks; nothing written when one value is refused.
  const std::string before = ReadFileBytes(home_ + "setting/sonarvex.ini").value_or("");
  const std::string record = ReadFileBytes(home_ + "setting/set.dat").value_or("");
  for (std::vector<std::string> refused :
       {std::vector<std::string>{"ShowGrid=1", "FLAC.Level=9"}, {"Rip.Format=nope"},
        {"Rip.Workers=65"}, {"ReadOffset.0=6000"}, {"ReadOffset.7=1"},
        {"AccurateRip.Server=a b"}, {"Nothing.Here=1"}}) {
    std::vector<std::string> args = {"settings", "set"};
    args.insert(args.end(), refused.begin(), refused.end());
    EXPECT_EQ(Run(args), 1) << refused.back();
    EXPECT_NE(err_.str().find("Настройки не изменены."), std::string::npos) << err_.str();
  }
  EXPECT_EQ(ReadFileBytes(home_ + "setting/sonarvex.ini").value_or(""), before);
  EXPECT_EQ(ReadFileBytes(home_ + "setting/set.dat").value_or(""), record);

  if (!FlacLibraryPresent()) GTEST_SKIP() << "libFLAC.so.12 is not installed (Debian package libflac12)";
  ASSERT_EQ(Run({"settings", "set", "AccurateRip.Server="}), 0) << err_.str();
  ASSERT_EQ(Run({"rip", "--tracks", "1"}), 0) << err_.str();
  ASSERT_EQ(Lines().size(), 1u) << out_.str();
  const std::string path = Lines()[0].substr(2);
  EXPECT_EQ(path.substr(path.size() - 5), ".flac") << path;
  EXPECT_EQ(ReadFileBytes(path).value_or("").substr(0, 4), "fLaC");
  // --format still wins.
  ASSERT_EQ(Run({"rip", "--tracks", "2", "--format", "wav"}), 0) << err_.str();
  EXPECT_EQ(Lines().at(0).substr(Lines()[0].size() - 4), ".wav");
}

TEST_F(CliContract, NamesMakeFoldersWithSlashesAndTellWhatIsMissing) {
  test::LoopbackServer server([&](const std::string& request, test::LoopbackServer::Connection& c) {
    if (auto at = request.find("cddb+query+"); at != std::string::npos) {
      c.Send(test::HttpResponse("200 rock " + request.substr(at + 11, 8) + " Band / Record\r\n"));
    } else if (auto rd = request.find("cddb+read+rock+"); rd != std::string::npos) {
      const std::string id = request.substr(rd + 15, 8);
      c.Send(test::HttpResponse("210 rock " + id + " CD database entry follows\r\n# xmcd\r\nDISCID=" +
                                id + "\r\nDTITLE=Band / Record\r\nDYEAR=1997\r\nDGENRE=Rock\r\n"
                                "TTITLE0=One\r\nTTITLE1=Two\r\nTTITLE2=Three\r\nTTITLE3=Four\r\n"
                                "TTITLE4=Data\r\n.\r\n"));
    }
  });
  ASSERT_EQ(Run({"settings", "set", "CddbHost=127.0.0.1:" + std::to_string(server.Port()),
                 "CddbPath=/~cddb/cddb.cgi"}),
            0)
      << err_.str();
  ASSERT_EQ(Run({"cddb"}), 0) << err_.str();
  ASSERT_EQ(Run({"rip", "--format", "wav", "--tracks", "2", "--name", "%A/%Y - %D/%N %T [%G] %d"}), 0)
      << err_.str();
  const std::string expected = home_ + "music/Band/1997 - Record/02 Two [Rock] 1.wav";
  EXPECT_EQ(Lines().at(0), "2\t" + expected);
  EXPECT_TRUE(FileExists(expected));
  // A backslash still makes a folder.
  ASSERT_EQ(Run({"rip", "--format", "wav", "--tracks", "3", "--name", "%A\\%N"}), 0) << err_.str();
  EXPECT_TRUE(FileExists(home_ + "music/Band/03.wav"));

  // A refused format says what is missing; usage-like refusals exit 2? No:
  // a value the settings refuse is a usage error of the option.
  for (const char* bad : {"foo", "%A/", "%T%"}) {
    EXPECT_EQ(Run({"rip", "--format", "wav", "--name", bad}), 2) << bad;
    EXPECT_NE(err_.str().find("Неверная сторока формата имени файлов. "), std::string::npos) << err_.str();
  }
  Run({"rip", "--format", "wav", "--name", "foo"});
  EXPECT_NE(err_.str().find("%T"), std::string::npos) << err_.str();
  EXPECT_NE(err_.str().find("%N"), std::string::npos) << err_.str();
  EXPECT_TRUE(out_.str().empty());
}

}  // namespace
}  // namespace sonarvex

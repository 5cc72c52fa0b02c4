// The options of sonarvex.ini read and written through one object, on a real
// file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "codec/FlacWriter.h"
#include "platform/IniStore.h"
#include "settings/ProgramOptionFields.h"
#include "settings/ProgramOptions.h"

namespace sonarvex {
namespace {

class ProgramOptionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/sonarvex-options-XXXXXX";
    folder_ = std::string(mkdtemp(tmpl)) + "/";
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }
  IniStore Loaded() {
    IniStore ini(folder_ + "sonarvex.ini");
    ini.Load();
    return ini;
  }
  std::string folder_;
};

const std::vector<std::string> kDrives{"PLEXTOR DVDR PX-716A 1.11", "TSSTcorp CDDVDW SH-224DB"};

TEST_F(ProgramOptionsTest, AMissingFileGivesTheDefaultsAndAWrittenOneReadsBack) {
  const ProgramOptions none = ReadProgramOptions(Loaded(), kDrives);
  EXPECT_EQ(none.RipWorkers, 0);
  EXPECT_EQ(none.FormatValue(kFlacLevelOption), 5);
  EXPECT_TRUE(none.LogLossless);
  EXPECT_FALSE(none.LogCompressed);
  EXPECT_EQ(none.ArServer, "");
  EXPECT_TRUE(none.AutoLookup);
  EXPECT_TRUE(none.ReadOffsets.empty());
  EXPECT_EQ(none.ReadOffsetOf(kDrives[0]), 0);

  ProgramOptions now = none;
  now.RipWorkers = 500;  // beyond the most: the most is stored
  now.SetFormatValue(kFlacLevelOption, 8);
  now.LogLossless = false;
  now.LogCompressed = true;
  now.ArServer = "ar.lan:8080";
  now.AutoLookup = false;
  now.ReadOffsets[kDrives[0]] = 30;
  now.ReadOffsets[kDrives[1]] = -1164;
  IniStore ini = Loaded();
  ASSERT_TRUE(WriteProgramOptions(ini, none, now));
  ASSERT_TRUE(ini.Save());

  const ProgramOptions back = ReadProgramOptions(Loaded(), kDrives);
  EXPECT_EQ(back.RipWorkers, ProgramOptions::kMaxRipWorkers);
  EXPECT_EQ(back.FormatValue(kFlacLevelOption), 8);
  EXPECT_FALSE(back.LogLossless);
  EXPECT_TRUE(back.LogCompressed);
  EXPECT_TRUE(back.LogFor(false));
  EXPECT_EQ(back.ArServer, "ar.lan:8080");
  EXPECT_FALSE(back.AutoLookup);
  EXPECT_EQ(back.ReadOffsetOf(kDrives[0]), 30);
  EXPECT_EQ(back.ReadOffsetOf(kDrives[1]), -1164);
  // Only the drives asked about are read.
  EXPECT_TRUE(ReadProgramOptions(Loaded(), {}).ReadOffsets.empty());

  // An offset set back to 0 leaves no entry; "auto" workers are stored as such.
  ProgramOptions again = back;
  again.ReadOffsets.erase(kDrives[1]);
  again.RipWorkers = 0;
  ini = Loaded();
  ASSERT_TRUE(WriteProgramOptions(ini, back, again));
  ASSERT_TRUE(ini.Save());
  EXPECT_FALSE(Loaded().Has("ReadOffset", kDrives[1]));
  EXPECT_EQ(Loaded().Get("Rip", "Workers").value_or(""), "auto");
  EXPECT_EQ(ReadProgramOptions(Loaded(), kDrives).ReadOffsetOf(kDrives[0]), 30);
}

TEST_F(ProgramOptionsTest, OnlyWhatChangedIsWrittenSoAnotherRunsChangeIsKept) {
  ProgramOptions before;  // what this run read
  IniStore other = Loaded();
  other.Set("Rip", "Workers", "3");  // another run stores a value meanwhile
  other.Set("FLAC", "Level", "2");
  ASSERT_TRUE(other.Save());

  ProgramOptions now = before;
  now.ArServer = "ar.example";
  IniStore ini = Loaded();
  ASSERT_TRUE(WriteProgramOptions(ini, before, now));
  ASSERT_TRUE(ini.Save());
  const ProgramOptions back = ReadProgramOptions(Loaded(), kDrives);
  EXPECT_EQ(back.RipWorkers, 3);
  EXPECT_EQ(back.FormatValue(kFlacLevelOption), 2);
  EXPECT_EQ(back.ArServer, "ar.example");
}

TEST_F(ProgramOptionsTest, RefusedValuesAreNotWrittenAndTheOthersAre) {
  const ProgramOptions before;
  ProgramOptions now = before;
  now.ArServer = "ar.lan:99999";
  now.ReadOffsets[kDrives[0]] = 5881;
  now.ReadOffsets[kDrives[1]] = -5880;
  now.LogCompressed = true;
  IniStore ini = Loaded();
  EXPECT_FALSE(WriteProgramOptions(ini, before, now));
  ASSERT_TRUE(ini.Save());
  const ProgramOptions back = ReadProgramOptions(Loaded(), kDrives);
  EXPECT_EQ(back.ArServer, "");
  EXPECT_EQ(back.ReadOffsetOf(kDrives[0]), 0);
  EXPECT_EQ(back.ReadOffsetOf(kDrives[1]), -5880);
  EXPECT_TRUE(back.LogCompressed);
}

}  // namespace
}  // namespace sonarvex

namespace sonarvex {
namespace {

TEST_F(ProgramOptionsTest, MusicBrainzIsOnByDefaultAndItsServerIsAnHttpAddress) {
  const ProgramOptions none = ReadProgramOptions(Loaded(), kDrives);
  EXPECT_TRUE(none.MusicBrainzEnabled);
  EXPECT_EQ(none.MusicBrainzServer, "");

  ProgramOptions now = none;
  now.MusicBrainzEnabled = false;
  now.MusicBrainzServer = "http://127.0.0.1:5000";
  IniStore ini = Loaded();
  ASSERT_TRUE(WriteProgramOptions(ini, none, now));
  ASSERT_TRUE(ini.Save());
  const ProgramOptions back = ReadProgramOptions(Loaded(), kDrives);
  EXPECT_FALSE(back.MusicBrainzEnabled);
  EXPECT_EQ(back.MusicBrainzServer, "http://127.0.0.1:5000");
  EXPECT_EQ(Loaded().Get("MusicBrainz", "Enabled").value_or(""), "0");

  // Not an http:// or https:// address: refused, the stored one stays.
  ProgramOptions bad = back;
  bad.MusicBrainzServer = "ftp://mb.lan";
  ini = Loaded();
  EXPECT_FALSE(WriteProgramOptions(ini, back, bad));
  ASSERT_TRUE(ini.Save());
  EXPECT_EQ(ReadProgramOptions(Loaded(), kDrives).MusicBrainzServer, "http://127.0.0.1:5000");
}

TEST_F(ProgramOptionsTest, CoverArtIsOnWithItsDefaultsAndOnlyTheArchivesSizesAreTaken) {
  const ProgramOptions none = ReadProgramOptions(Loaded(), kDrives);
  EXPECT_TRUE(none.CoverArtEnabled);
  EXPECT_EQ(none.CoverArtServer, "");
  EXPECT_EQ(none.CoverArtSize, 500);

  ProgramOptions now = none;
  now.CoverArtEnabled = false;
  now.CoverArtServer = "http://127.0.0.1:5001";
  now.CoverArtSize = 0;  // the original image
  IniStore ini = Loaded();
  ASSERT_TRUE(WriteProgramOptions(ini, none, now));
  ASSERT_TRUE(ini.Save());
  const ProgramOptions back = ReadProgramOptions(Loaded(), kDrives);
  EXPECT_FALSE(back.CoverArtEnabled);
  EXPECT_EQ(back.CoverArtServer, "http://127.0.0.1:5001");
  EXPECT_EQ(back.CoverArtSize, 0);
  EXPECT_EQ(Loaded().Get("CoverArt", "Enabled").value_or(""), "0");

  // A size the archive does not make and a server that is no web address
  // are refused; a size stored by hand that it does not make reads as 500.
  ProgramOptions bad = back;
  bad.CoverArtSize = 640;
  bad.CoverArtServer = "caa.lan";
  ini = Loaded();
  EXPECT_FALSE(WriteProgramOptions(ini, back, bad));
  ASSERT_TRUE(ini.Save());
  EXPECT_EQ(ReadProgramOptions(Loaded(), kDrives).CoverArtSize, 0);
  EXPECT_EQ(ReadProgramOptions(Loaded(), kDrives).CoverArtServer, "http://127.0.0.1:5001");
  ini = Loaded();
  ini.Set("CoverArt", "Size", "640");
  ASSERT_TRUE(ini.Save());
  EXPECT_EQ(ReadProgramOptions(Loaded(), kDrives).CoverArtSize, 500);
}

// [ReplayGain] Enabled: unset (or "auto") is by format, lossless only;
// "1" and "0" hold for every format; written back as the user set it.
TEST_F(ProgramOptionsTest, ReplayGainIsForLosslessRipsUnlessSet) {
  const ProgramOptions none = ReadProgramOptions(Loaded(), kDrives);
  EXPECT_FALSE(none.ReplayGain.has_value());
  EXPECT_TRUE(none.ReplayGainFor(true));
  EXPECT_FALSE(none.ReplayGainFor(false));
  for (const std::optional<bool> value : {std::optional<bool>(true), std::optional<bool>(false),
                                          std::optional<bool>()}) {
    ProgramOptions now = ReadProgramOptions(Loaded(), kDrives);
    const ProgramOptions before = now;
    now.ReplayGain = value;
    IniStore ini = Loaded();
    ASSERT_TRUE(WriteProgramOptions(ini, before, now));
    ASSERT_TRUE(ini.Save());
    const ProgramOptions back = ReadProgramOptions(Loaded(), kDrives);
    EXPECT_EQ(back.ReplayGain, value);
    EXPECT_EQ(back.ReplayGainFor(false), value.value_or(false));
    EXPECT_EQ(back.ReplayGainFor(true), value.value_or(true));
  }
  EXPECT_EQ(Loaded().Get("ReplayGain", "Enabled").value_or(""), "auto");
}

// [Rip] Secure: unset (or "auto") is by format, lossless only; the count of
// re-reads and the switches of C2 and test and copy are read back as
// written; a count out of range keeps the default or the most.
TEST_F(ProgramOptionsTest, SecureReadingIsForLosslessRipsUnlessSet) {
  const ProgramOptions none = ReadProgramOptions(Loaded(), kDrives);
  EXPECT_FALSE(none.SecureRip.has_value());
  EXPECT_TRUE(none.SecureFor(true));
  EXPECT_FALSE(none.SecureFor(false));
  EXPECT_EQ(none.SecureReads, 16);
  EXPECT_TRUE(none.SecureC2);
  EXPECT_FALSE(none.TestAndCopy);
  for (const std::optional<bool> value : {std::optional<bool>(true), std::optional<bool>(false),
                                          std::optional<bool>()}) {
    ProgramOptions now = ReadProgramOptions(Loaded(), kDrives);
    const ProgramOptions before = now;
    now.SecureRip = value;
    now.SecureReads = 5;
    now.SecureC2 = false;
    now.TestAndCopy = true;
    IniStore ini = Loaded();
    ASSERT_TRUE(WriteProgramOptions(ini, before, now));
    ASSERT_TRUE(ini.Save());
    const ProgramOptions back = ReadProgramOptions(Loaded(), kDrives);
    EXPECT_EQ(back.SecureRip, value);
    EXPECT_EQ(back.SecureFor(false), value.value_or(false));
    EXPECT_EQ(back.SecureReads, 5);
    EXPECT_FALSE(back.SecureC2);
    EXPECT_TRUE(back.TestAndCopy);
  }
  EXPECT_EQ(Loaded().Get("Rip", "Secure").value_or(""), "auto");
  ProgramOptions now = ReadProgramOptions(Loaded(), kDrives);
  const ProgramOptions before = now;
  now.SecureReads = 0;
  IniStore ini = Loaded();
  EXPECT_FALSE(WriteProgramOptions(ini, before, now));
  ini.Set("Rip", "SecureReads", "-3");
  ASSERT_TRUE(ini.Save());
  EXPECT_EQ(ReadProgramOptions(Loaded(), kDrives).SecureReads, 16);
  ini = Loaded();
  ini.Set("Rip", "SecureReads", "100000");
  ASSERT_TRUE(ini.Save());
  EXPECT_EQ(ReadProgramOptions(Loaded(), kDrives).SecureReads, ProgramOptions::kMaxSecureReads);
}

}  // namespace
}  // namespace sonarvex

namespace sonarvex {
namespace {

// [Write] Verify: on by default; 0 and 1 read back; `settings set
// Write.Verify=...` takes 0 or 1 (any letter case) and is listed.
TEST_F(ProgramOptionsTest, WriteVerifyIsOnByDefaultAndSetByItsDottedName) {
  EXPECT_TRUE(ReadProgramOptions(Loaded(), kDrives).WriteVerify);
  ProgramOptions now = ReadProgramOptions(Loaded(), kDrives);
  const ProgramOptions before = now;
  ASSERT_FALSE(SetProgramOptionFields(now, {"write.verify=0"}, kDrives).has_value());
  EXPECT_FALSE(now.WriteVerify);
  IniStore ini = Loaded();
  ASSERT_TRUE(WriteProgramOptions(ini, before, now));
  ASSERT_TRUE(ini.Save());
  EXPECT_EQ(Loaded().Get("Write", "Verify").value_or(""), "0");
  EXPECT_FALSE(ReadProgramOptions(Loaded(), kDrives).WriteVerify);
  const auto refused = SetProgramOptionFields(now, {"Write.Verify=yes"}, kDrives);
  ASSERT_TRUE(refused.has_value());
  EXPECT_EQ(*refused, "Write.Verify: введите 0 или 1.");
  bool listed = false;
  for (const auto& [name, value] : ProgramOptionValues(now, kDrives))
    if (name == "Write.Verify") listed = value == "0";
  EXPECT_TRUE(listed);
}

}  // namespace
}  // namespace sonarvex

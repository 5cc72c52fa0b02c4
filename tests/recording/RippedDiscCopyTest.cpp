// A ripped disc burned again from its rip's cue sheet is the same disc: a
// software drive's disc with a hidden track before track 1, pregaps, an
// INDEX 02, a catalogue number, ISRCs and CD-Text is looked up in its
// CD-Text and ripped to FLAC through sonarvex-cli; the rip's sheet is burned
// to the software recorder; the copy has the original's table of contents
// and identifiers, the same audio in every sector, the same catalogue
// number, ISRCs and CD-Text, and ripping it gives the same files.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>

#include "accuraterip/AccurateRip.h"
#include "codec/FlacWriter.h"
#include "drive/CdText.h"
#include "drive/DiscModel.h"
#include "drive/DiscToc.h"
#include "drive/virtual/CueImage.h"
#include "drive/virtual/VirtualDrive.h"
#include "metadata/MusicBrainzDiscId.h"
#include "platform/Files.h"
#include "platform/ScriptedDialogs.h"
#include "records/AlbumRecord.h"
#include "tests/cli/CliRunner.h"
#include "tests/codec/CodecTestUtil.h"
#include "tests/drive/DriveRig.h"

namespace sonarvex {
namespace {

namespace fs = std::filesystem;

constexpr std::int32_t kSector = 2352;
// Track 1 starts after 40 sectors of a hidden track (the first 12 silent),
// track 2 has a pregap of 75 sectors and an INDEX 02, track 3 a pregap of 33.
constexpr std::int32_t kHidden = 40;
constexpr std::int32_t kStarts[] = {kHidden, kHidden + 300, kHidden + 527};
constexpr std::int32_t kEnd = kHidden + 937;

std::string CueTime(std::int32_t sectors) {
  char b[16];
  std::snprintf(b, sizeof b, "%02d:%02d:%02d", sectors / 4500, sectors / 75 % 60, sectors % 75);
  return b;
}

// Noise, silent in the first and last 12 sectors, different in every sector.
std::string Noise(std::int32_t sectors) {
  std::string audio(static_cast<std::size_t>(sectors) * kSector, '\0');
  std::uint32_t x = 11;
  for (std::size_t k = 12 * kSector; k + 12 * kSector < audio.size(); ++k) {
    x = x * 1664525u + 1013904223u;
    audio[k] = static_cast<char>(x >> 24);
  }
  return audio;
}

// The files of a folder (name to content), logs left out: they name the
// drive and the time.
std::map<std::string, std::string> Files(const std::string& folder) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::directory_iterator(folder)) {
    const std::string name = e.path().filename().string();
    if (e.path().extension() == ".log") continue;
    auto bytes = ReadFileBytes(e.path().string());
    files[name] = bytes ? *bytes : std::string("(unreadable)");
  }
  return files;
}

struct DiscSeen {
  DiscToc toc;
  std::optional<CdText> cdText;
};

DiscSeen ReadImage(const std::string& cue) {
  DiscSeen seen;
  std::string error;
  auto drive = VirtualDrive::FromCueImage(cue, &error);
  EXPECT_TRUE(drive && drive->HasDisc()) << cue << ": " << error;
  if (!drive || !drive->HasDisc()) return seen;
  test::DriveRig rig;
  rig.directory.AddVirtual(drive);
  ScriptedDialogs dialogs;
  AlbumRecord album;
  seen.toc = ReadDisc(rig.spti, 0, 0, dialogs, album).toc;
  seen.cdText = ReadCdText(rig.spti);
  return seen;
}

class RippedDiscCopyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = test::MakeTempFolder() + "/";
    MakeDirectories(home_ + "music");
    MakeDirectories(home_ + "images");
    test::WriteSettingsFile(home_, test::FirstProfile(home_ + "music/"));
  }
  void TearDown() override {
    if (!getenv("KEEP")) fs::remove_all(home_);
  }
  int Run(std::vector<std::string> args) {
    std::vector<std::string> all = {"--home", home_};
    all.insert(all.end(), args.begin(), args.end());
    return test::RunCliIn(home_, all, out_, err_);
  }

  std::string home_;
  std::ostringstream out_, err_;
};

TEST_F(RippedDiscCopyTest, BurningTheRipsCueSheetGivesTheSameDiscAndTheSameRip) {
  if (!FlacWriter().Available()) GTEST_SKIP() << kFlacLibraryName << " cannot be loaded";
  const std::string source = home_ + "images/source.cue", copy = home_ + "copy.cue";
  const std::string audio = Noise(kEnd);
  ASSERT_TRUE(WriteFileAtomically(home_ + "images/source.bin", audio));
  ASSERT_TRUE(WriteFileAtomically(
      source, "CATALOG 0724384960650\nPERFORMER \"Pixies\"\nTITLE \"Surfer Rosa\"\n"
              "FILE \"source.bin\" BINARY\n"
              "  TRACK 01 AUDIO\n    TITLE \"Bone Machine\"\n    ISRC USAB18800001\n"
              "    INDEX 00 00:00:00\n    INDEX 01 " + CueTime(kStarts[0]) + "\n"
              "  TRACK 02 AUDIO\n    TITLE \"Break My Body\"\n    PERFORMER \"Pixies & Kim\"\n"
              "    INDEX 00 " + CueTime(kStarts[1] - 75) + "\n    INDEX 01 " + CueTime(kStarts[1]) +
              "\n    INDEX 02 " + CueTime(kStarts[1] + 100) + "\n"
              "  TRACK 03 AUDIO\n    TITLE \"Café\"\n    ISRC USAB18800003\n"
              "    INDEX 00 " + CueTime(kStarts[2] - 33) + "\n    INDEX 01 " + CueTime(kStarts[2]) + "\n"));
  ASSERT_TRUE(WriteFileAtomically(home_ + "setting/vdrives.lst", source + "\nburn:" + copy + "\n"));

  // The titles from the disc's CD-Text, the hidden track with the rest.
  ASSERT_EQ(Run({"settings", "set", "Rip.HiddenTrack=1"}), 0) << err_.str();
  ASSERT_EQ(Run({"lookup", "--drive", "0", "--source", "cdtext"}), 0) << err_.str();
  ASSERT_EQ(Run({"rip", "--drive", "0", "--format", "flac", "--no-verify"}), 0) << err_.str();
  fs::rename(home_ + "music", home_ + "first");
  const auto first = Files(home_ + "first");
  std::string sheet;
  for (const auto& [name, content] : first)
    if (name.size() > 4 && name.substr(name.size() - 4) == ".cue") sheet = name;
  ASSERT_FALSE(sheet.empty());
  ASSERT_EQ(first.size(), 5u) << "the hidden track, three tracks and the cue sheet";
  const std::string& text = first.at(sheet);
  EXPECT_NE(text.find("CATALOG 0724384960650\nPERFORMER \"Pixies\"\nTITLE \"Surfer Rosa\"\n"), std::string::npos)
      << text;
  EXPECT_NE(text.find("    INDEX 01 00:00:00\n    INDEX 02 00:01:25\n"), std::string::npos) << text;

  ASSERT_EQ(Run({"burn", home_ + "first/" + sheet}), 0) << err_.str();
  // Nothing was said about the texts: they all fit (the status line of the
  // CD-Text lead-in is no message about them).
  EXPECT_EQ(err_.str().find("CD-Text записывается только"), std::string::npos) << err_.str();
  EXPECT_EQ(err_.str().find("не умеет записывать CD-Text"), std::string::npos) << err_.str();
  EXPECT_NE(err_.str().find("Запись вводной области (CD-Text)…"), std::string::npos) << err_.str();

  // The copy is the disc: its table of contents and every identifier the
  // databases know it by, and the audio of every sector, the hidden track
  // and the pregaps included.
  const DiscSeen a = ReadImage(source), b = ReadImage(copy);
  ASSERT_EQ(a.toc.TrackCount(), 3);
  ASSERT_EQ(b.toc.TrackCount(), 3) << ReadFileBytes(copy).value_or("(no image)");
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(a.toc.tracks[static_cast<std::size_t>(k)].startLba, kStarts[k]);
    EXPECT_EQ(b.toc.tracks[static_cast<std::size_t>(k)].startLba, kStarts[k]) << "track " << k + 1;
  }
  EXPECT_EQ(b.toc.leadOut.startLba, a.toc.leadOut.startLba);
  EXPECT_EQ(CddbDiscId(b.toc), CddbDiscId(a.toc));
  const ArDiscIds ia = ComputeArDiscIds(ArTocOf(a.toc)), ib = ComputeArDiscIds(ArTocOf(b.toc));
  EXPECT_EQ(ib.id1, ia.id1);
  EXPECT_EQ(ib.id2, ia.id2);
  EXPECT_EQ(ib.cddb, ia.cddb);
  const auto ma = MusicBrainzTocOf(a.toc), mb = MusicBrainzTocOf(b.toc);
  ASSERT_TRUE(ma && mb);
  EXPECT_EQ(MusicBrainzDiscId(*mb), MusicBrainzDiscId(*ma));
  std::string error;
  const auto da = LoadCueImage(source, &error);
  ASSERT_TRUE(da) << error;
  const auto db = LoadCueImage(copy, &error);
  ASSERT_TRUE(db) << error;
  std::vector<std::uint8_t> x(kSector), y(kSector);
  for (std::int32_t lba = 0; lba < kEnd; ++lba) {
    ASSERT_TRUE(da->read(lba, x.data()));
    ASSERT_TRUE(db->read(lba, y.data())) << "LBA " << lba;
    ASSERT_EQ(x, y) << "LBA " << lba;
  }
  // Its index points, catalogue number, ISRCs (the Q sub-channel) and CD-Text.
  ASSERT_EQ(db->tracks.size(), 3u);
  for (std::size_t k = 0; k < 3; ++k) {
    EXPECT_EQ(db->tracks[k].pregapSectors, da->tracks[k].pregapSectors) << "track " << k + 1;
    EXPECT_EQ(db->tracks[k].isrc, da->tracks[k].isrc) << "track " << k + 1;
    EXPECT_EQ(db->tracks[k].indexLbas, da->tracks[k].indexLbas) << "track " << k + 1;
  }
  EXPECT_EQ(da->tracks[1].indexLbas, std::vector<std::int32_t>{kStarts[1] + 100});
  EXPECT_EQ(db->catalog, "0724384960650");
  EXPECT_EQ(db->tracks[0].isrc, "USAB18800001");
  ASSERT_TRUE(a.cdText && b.cdText);
  EXPECT_EQ(b.cdText->title, "Surfer Rosa");
  EXPECT_EQ(b.cdText->performer, "Pixies");
  for (int n = 1; n <= 3; ++n) {
    ASSERT_TRUE(a.cdText->Track(n) && b.cdText->Track(n)) << "track " << n;
    EXPECT_EQ(b.cdText->Track(n)->title, a.cdText->Track(n)->title) << "track " << n;
    EXPECT_EQ(b.cdText->Track(n)->performer, a.cdText->Track(n)->performer) << "track " << n;
  }
  EXPECT_EQ(b.cdText->Track(3)->title, "Café");

  // The command line sees the same disc, and ripping the copy gives the
  // same files, its cue sheet too.
  ASSERT_EQ(Run({"--image", source, "toc"}), 0) << err_.str();
  const std::string tocA = out_.str();
  ASSERT_EQ(Run({"--image", copy, "toc"}), 0) << err_.str();
  EXPECT_EQ(out_.str(), tocA);
  ASSERT_EQ(Run({"--image", copy, "lookup", "--source", "cdtext"}), 0) << err_.str();
  const std::string lookupB = out_.str();
  ASSERT_EQ(Run({"--image", source, "lookup", "--source", "cdtext"}), 0) << err_.str();
  EXPECT_EQ(lookupB, out_.str());
  EXPECT_NE(lookupB.find("Surfer Rosa"), std::string::npos) << lookupB;
  MakeDirectories(home_ + "music");
  ASSERT_EQ(Run({"--image", copy, "rip", "--format", "flac", "--no-verify"}), 0) << err_.str();
  const auto second = Files(home_ + "music");
  ASSERT_EQ(second.size(), first.size());
  for (const auto& [name, content] : first) {
    const auto it = second.find(name);
    ASSERT_NE(it, second.end()) << name;
    EXPECT_TRUE(it->second == content) << name << " differs";
  }
}

}  // namespace
}  // namespace sonarvex

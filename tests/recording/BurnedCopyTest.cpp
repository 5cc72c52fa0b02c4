// A disc ripped to an EAC sheet (one WAV file a track, whipper's Surfer Rosa
// sheets, see tests/data/whipper) and burned with sonarvex-cli to the
// software recorder is the same disc again: the written image, read in the
// software drive, has the source's table of contents, disc identifiers,
// index points (from the Q sub-channel) and audio in every sector.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>

#include "accuraterip/AccurateRip.h"
#include "cli/CliRecord.h"
#include "drive/DiscModel.h"
#include "drive/DiscToc.h"
#include "drive/DriveCommands.h"
#include "drive/virtual/CueImage.h"
#include "drive/virtual/VirtualDrive.h"
#include "drive/virtual/VirtualRecorder.h"
#include "platform/ConsoleDialogs.h"
#include "platform/Files.h"
#include "platform/ScriptedDialogs.h"
#include "records/AlbumRecord.h"
#include "tests/drive/DriveRig.h"
#include "tests/recording/RecordingRig.h"
#include "tests/session/TestSession.h"

namespace sonarvex {
namespace {

namespace fs = std::filesystem;

constexpr int kTracks = 21;
constexpr std::int32_t kTrack1Pregap = 32;  // PREGAP 00:00:32
constexpr std::int32_t kTrack3Pregap = 45;  // INDEX 00 02:05:00 / PREGAP 00:00:45
constexpr std::int32_t kTrack11Index2 = 145;  // INDEX 02, moved to 00:01:70

// Sectors of each track on the disc, from its INDEX 01 to the next track's
// (track 2 holds track 3's pregap), a few hundred each.
std::int32_t TrackLength(int k) { return k == 1 ? 200 : 150 + 10 * k; }

std::string Replace(std::string text, const std::string& from, const std::string& to, int* count) {
  *count = 0;
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
    ++*count;
  }
  return text;
}

std::string CueTextOf(const std::string& path) {
  auto text = ReadFileBytes(path);
  return text ? *text : std::string("(no image)");
}

// Where every sector of a disc lies by its Q sub-channel: (track, index).
using IndexMap = std::map<std::int32_t, std::pair<int, int>>;

struct ReadBack {
  DiscToc toc;
  IndexMap indices;
};

// The image as the program reads a disc from a software drive: the table
// of contents, and the Q sub-channel of every sector.
ReadBack ReadImage(const std::string& cue) {
  ReadBack r;
  std::string error;
  auto drive = VirtualDrive::FromCueImage(cue, &error);
  EXPECT_TRUE(drive && drive->HasDisc()) << cue << ": " << error;
  if (!drive || !drive->HasDisc()) return r;
  test::DriveRig rig;
  rig.directory.AddVirtual(drive);
  ScriptedDialogs dialogs;
  AlbumRecord album;
  const DiscView view = ReadDisc(rig.spti, 0, 0, dialogs, album);
  EXPECT_TRUE(view.present);
  r.toc = view.toc;
  for (std::int32_t lba = 0; lba < r.toc.leadOut.startLba; ++lba) {
    std::uint8_t q[kFormattedQLength] = {};
    if (ReadSectorQ(rig.spti, lba, false, q) != 0) continue;
    const SubQ s = ParseFormattedQ(q);
    // Sections of the catalogue number and ISRCs say nothing of the place.
    if (s.kind == SubQKind::Position) r.indices[lba] = {s.track, s.index};
  }
  return r;
}

class BurnedCopyTest : public testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    home_ = test::MakeHome(dir_.Path());
    cdr_ = dir_.File("cdr.cue");
    test::DeclareRecorder(home_, cdr_);
    session_ = test::OpenSession(home_, dialogs_);
  }

  test::TempDir dir_;
  std::string home_, cdr_;
  ConsoleDialogs dialogs_;
  std::unique_ptr<Session> session_;
  std::ostringstream out_, err_;
};

TEST_P(BurnedCopyTest, TheWrittenDiscIsTheSourceDisc) {
  const bool currentGap = std::string(GetParam()) == "currentgap";
  auto original = ReadFileBytes(std::string(SONARVEX_SOURCE_DIR) + "/tests/data/whipper/surferrosa.eac." +
                                GetParam() + ".cue");
  ASSERT_TRUE(original);
  // The marks inside the files, moved nearer their starts.
  int n = 0;
  std::string sheet = Replace(*original, "INDEX 02 00:44:70", "INDEX 02 00:01:70", &n);
  ASSERT_EQ(n, 1);
  sheet = Replace(sheet, "INDEX 00 02:05:00", "INDEX 00 00:02:05", &n);
  ASSERT_EQ(n, currentGap ? 1 : 0);
  ASSERT_NE(sheet.find("PREGAP 00:00:32"), std::string::npos);
  ASSERT_EQ(sheet.find("PREGAP 00:00:45") != std::string::npos, !currentGap);

  // The files the sheet names (in a folder, as EAC writes them), and a
  // BIN twin of each for the source disc's image.
  std::vector<std::string> names;
  for (std::size_t at = sheet.find("FILE \""); at != std::string::npos; at = sheet.find("FILE \"", at + 1)) {
    const std::size_t end = sheet.find('"', at + 6);
    std::string name = sheet.substr(at + 6, end - at - 6);
    for (char& c : name)
      if (c == '\\') c = '/';
    names.push_back(name);
  }
  ASSERT_EQ(names.size(), static_cast<std::size_t>(kTracks));
  fs::create_directories(dir_.File("Pixies - Surfer Rosa & Come on Pilgrim"));
  for (int k = 0; k < kTracks; ++k) {
    std::int32_t sectors = TrackLength(k);
    if (k == 1 && !currentGap) sectors -= kTrack3Pregap;  // left out: PREGAP of track 3
    std::vector<std::uint8_t> audio = test::ToneAudio(k + 1, static_cast<std::size_t>(sectors) * 2352);
    const std::string wav = dir_.File(names[static_cast<std::size_t>(k)]);
    test::WriteCdWav(wav, audio);
    WriteFileAtomically(wav.substr(0, wav.size() - 4) + ".bin",
                        std::string_view(reinterpret_cast<const char*>(audio.data()), audio.size()));
  }
  const std::string cue = dir_.File("surferrosa.cue");
  WriteFileAtomically(cue, sheet);
  const std::string sourceCue = dir_.File("source.cue");
  WriteFileAtomically(sourceCue, Replace(sheet, ".wav\" WAVE", ".bin\" BINARY", &n));
  ASSERT_EQ(n, kTracks);

  ASSERT_EQ(RunBurnCommand(*session_, {cue}, out_, err_), 0) << err_.str();

  const ReadBack source = ReadImage(sourceCue);
  const ReadBack copy = ReadImage(cdr_);
  ASSERT_EQ(source.toc.TrackCount(), kTracks);

  // The source is the disc the sheet describes: track 1 after its 32
  // sectors of pregap, each track where the one before ends.
  std::int32_t start = kTrack1Pregap;
  for (int k = 0; k < kTracks; ++k) {
    EXPECT_EQ(source.toc.tracks[static_cast<std::size_t>(k)].startLba, start) << "track " << k + 1;
    start += TrackLength(k);
  }
  EXPECT_EQ(source.toc.leadOut.startLba, start);

  // The copy's table of contents is the source's.
  ASSERT_EQ(copy.toc.TrackCount(), kTracks) << CueTextOf(cdr_);
  for (int k = 0; k < kTracks; ++k) {
    const auto& a = source.toc.tracks[static_cast<std::size_t>(k)];
    const auto& b = copy.toc.tracks[static_cast<std::size_t>(k)];
    EXPECT_EQ(b.startLba, a.startLba) << "track " << k + 1;
    EXPECT_EQ(b.control, a.control) << "track " << k + 1;
  }
  EXPECT_EQ(copy.toc.leadOut.startLba, source.toc.leadOut.startLba);

  // And so are the identifiers the databases know the disc by.
  EXPECT_EQ(CddbDiscId(copy.toc), CddbDiscId(source.toc));
  const ArDiscIds sourceIds = ComputeArDiscIds(ArTocOf(source.toc));
  const ArDiscIds copyIds = ComputeArDiscIds(ArTocOf(copy.toc));
  EXPECT_EQ(copyIds.trackCount, sourceIds.trackCount);
  EXPECT_EQ(copyIds.id1, sourceIds.id1);
  EXPECT_EQ(copyIds.id2, sourceIds.id2);
  EXPECT_EQ(copyIds.cddb, sourceIds.cddb);

  // The index points: track 1's pregap from LBA 0, track 3's 45 sectors,
  // track 11's INDEX 02, on both discs at the same sectors.
  const std::int32_t t3 = source.toc.tracks[2].startLba;
  const std::int32_t t11 = source.toc.tracks[10].startLba;
  const std::map<std::int32_t, std::pair<int, int>> expected = {
      {0, {1, 0}}, {kTrack1Pregap - 1, {1, 0}}, {kTrack1Pregap, {1, 1}},
      {t3 - kTrack3Pregap - 1, {2, 1}}, {t3 - kTrack3Pregap, {3, 0}}, {t3 - 1, {3, 0}}, {t3, {3, 1}},
      {t11 + kTrack11Index2 - 1, {11, 1}}, {t11 + kTrack11Index2, {11, 2}}, {t11 + TrackLength(10) - 1, {11, 2}},
  };
  for (const auto& [lba, where] : expected) {
    for (const ReadBack* disc : {&source, &copy}) {
      const auto it = disc->indices.find(lba);
      ASSERT_NE(it, disc->indices.end()) << "LBA " << lba;
      EXPECT_EQ(it->second, where) << (disc == &source ? "source" : "copy") << ", LBA " << lba;
    }
  }
  int compared = 0;
  for (const auto& [lba, where] : copy.indices) {
    const auto it = source.indices.find(lba);
    if (it == source.indices.end()) continue;
    ++compared;
    if (it->second != where) {
      ADD_FAILURE() << "LBA " << lba << ": track " << where.first << " index " << where.second
                    << " on the copy, track " << it->second.first << " index " << it->second.second
                    << " on the source";
      break;
    }
  }
  EXPECT_GT(compared, source.toc.leadOut.startLba * 9 / 10);

  // The audio of every sector, the pregaps included (PREGAP as silence).
  std::string error;
  const auto a = LoadCueImage(sourceCue, &error);
  ASSERT_TRUE(a) << error;
  const auto b = LoadCueImage(cdr_, &error);
  ASSERT_TRUE(b) << error;
  std::vector<std::uint8_t> x(2352), y(2352);
  const std::vector<std::uint8_t> silence(2352, 0);
  for (std::int32_t lba = 0; lba < source.toc.leadOut.startLba; ++lba) {
    ASSERT_TRUE(a->read(lba, x.data()));
    ASSERT_TRUE(b->read(lba, y.data())) << "LBA " << lba;
    ASSERT_EQ(x, y) << "LBA " << lba;
    if (lba < kTrack1Pregap || (!currentGap && lba >= t3 - kTrack3Pregap && lba < t3))
      ASSERT_EQ(y, silence) << "LBA " << lba;
    else
      ASSERT_NE(y, silence) << "LBA " << lba;
  }
}

INSTANTIATE_TEST_SUITE_P(EacSheets, BurnedCopyTest, testing::Values("currentgap", "leftout"));

}  // namespace
}  // namespace sonarvex

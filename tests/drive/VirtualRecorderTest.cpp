// The software drive as a recorder: blank CD-R and CD-RW media, the write
// parameters page, the cue sheet check, WRITE(10) in order from the pregap,
// test writes, closing the session into a CUE/BIN image that the drive,
// cd-info and cd-paranoia read, blanking, and the injected faults.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "drive/AudioReading.h"
#include "drive/DriveCommands.h"
#include "platform/Files.h"
#include "platform/Shell.h"
#include "drive/virtual/CueImage.h"
#include "tests/rip/SmallDisk.h"
#include "tests/drive/DriveRig.h"

namespace sonarvex {
namespace {

using test::DriveRig;

// A cue sheet as the recording layer builds it: lead-in, track 1's pregap
// at 00:00:00, each track at its start + 150, lead-out.
std::vector<std::uint8_t> CueSheet(const std::vector<std::int32_t>& sectors) {
  std::vector<std::uint8_t> c = {0x01, 0x00, 0x00, 0x01, 0, 0, 0, 0, 0x01, 0x01, 0x00, 0x00, 0, 0, 0, 0};
  auto entry = [&](std::uint8_t tno, std::uint8_t index, std::uint8_t form, std::int32_t lba) {
    const std::int32_t f = lba + 150;
    const std::uint8_t e[8] = {0x01, tno, index, form, 0, static_cast<std::uint8_t>(f / 4500),
                               static_cast<std::uint8_t>((f / 75) % 60), static_cast<std::uint8_t>(f % 75)};
    c.insert(c.end(), e, e + 8);
  };
  std::int32_t at = 0;
  for (std::size_t k = 0; k < sectors.size(); ++k) {
    entry(static_cast<std::uint8_t>(k + 1), 1, 0, at);
    at += sectors[k];
  }
  entry(0xAA, 1, 1, at);
  return c;
}

// Audio whose every sector differs: sector s of track k holds k * 100000 + s.
void FillSector(int track, std::int32_t s, std::uint8_t* out) {
  const std::uint32_t v = static_cast<std::uint32_t>(track * 100000 + s);
  for (int i = 0; i < 2352; i += 4) std::memcpy(out + i, &v, 4);
}

// The audio of track k as written by FillSector.
std::vector<std::uint8_t> Expected(int track, std::int32_t sectors) {
  std::vector<std::uint8_t> v(static_cast<std::size_t>(sectors) * 2352);
  for (std::int32_t s = 0; s < sectors; ++s) FillSector(track, s, v.data() + static_cast<std::size_t>(s) * 2352);
  return v;
}

class Recorder : public testing::TestWithParam<TransportKind> {
 protected:
  void SetUp() override {
    folder_ = test::MakeTempFolder();
    cue_ = JoinPath(folder_, "disc.cue");
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }

  std::shared_ptr<VirtualDrive> AddRecorder(DriveRig& rig, bool rewritable) {
    VirtualDriveConfig config;
    config.capabilities = VirtualDriveConfig::DefaultCapabilities(true);
    config.simulateWriteTime = false;
    auto d = std::make_shared<VirtualDrive>(config);
    d->SetBurnTarget(cue_, rewritable);
    rig.directory.AddVirtual(d);
    rig.drives.push_back(d);
    rig.aspi.Load();
    rig.aspi.Enumerate();
    return d;
  }
  Transport& T(DriveRig& rig) { return rig.Get(GetParam(), 0, 0); }

  // Writes a disc of these tracks as the recording layer does (pregap in
  // writes of 5, then `perWrite` blocks); stops after `stopAfterTrack`
  // tracks when given. Returns the number of failed writes.
  int Burn(Transport& t, const std::vector<std::int32_t>& sectors, bool testWrite = false,
           int perWrite = 26, int stopAfterTrack = -1) {
    EXPECT_TRUE(t.Succeeded(ModeSelectWriteParams(t, 0, 0, testWrite, 2)));
    auto sheet = CueSheet(sectors);
    EXPECT_TRUE(t.Succeeded(SendCueSheet(t, sheet.data(), static_cast<std::uint32_t>(sheet.size() / 8))));
    EXPECT_TRUE(t.Succeeded(SendOPC(t)));
    int errors = 0;
    std::vector<std::uint8_t> buf(static_cast<std::size_t>(std::max(perWrite, 5)) * 2352);
    std::fill(buf.begin(), buf.end(), 0);
    for (std::int32_t lba = -150; lba < 0; lba += 5)
      if (!t.Succeeded(WriteSectors(t, buf.data(), lba, 5, 2352))) ++errors;
    std::int32_t start = 0;
    for (std::size_t k = 0; k < sectors.size(); ++k) {
      if (stopAfterTrack >= 0 && static_cast<int>(k) >= stopAfterTrack) break;
      for (std::int32_t s = 0; s < sectors[k]; s += perWrite) {
        const std::int32_t n = std::min(perWrite, sectors[k] - s);
        for (std::int32_t i = 0; i < n; ++i) FillSector(static_cast<int>(k + 1), s + i, buf.data() + i * 2352);
        if (!t.Succeeded(WriteSectors(t, buf.data(), start + s, static_cast<std::uint16_t>(n), 2352))) ++errors;
      }
      start += sectors[k];
    }
    EXPECT_TRUE(t.Succeeded(CloseSession(t)));
    return errors;
  }

  static int DiscStatus(Transport& t, bool* erasable = nullptr) {
    std::uint8_t info[kDiscInfoLength] = {};
    if (!t.Succeeded(ReadDiscInfo(t, info))) return -1;
    if (erasable) *erasable = (info[2] & 0x10) != 0;
    return info[2] & 0x03;
  }

  std::string folder_, cue_;
};

TEST_P(Recorder, BlankCdrIsReadyBlankAndNotErasable) {
  DriveRig rig;
  AddRecorder(rig, false);
  Transport& t = T(rig);
  EXPECT_EQ(TestUnitReadySense(t), 0);
  bool erasable = true;
  EXPECT_EQ(DiscStatus(t, &erasable), 0);
  EXPECT_FALSE(erasable);
  std::uint8_t toc[kTocLength];
  EXPECT_FALSE(t.Succeeded(ReadTOC(t, toc)));  // nothing to read yet
  std::uint8_t caps[34] = {};
  ASSERT_TRUE(t.Succeeded(ModeSenseCapabilities(t, caps)));
  EXPECT_EQ(caps[11] & 0x05, 0x05);  // writes CD-R, test write
}

TEST_P(Recorder, WrittenDiscIsTheCueSheetsLayoutAndReadsBackItsAudio) {
  DriveRig rig;
  auto drive = AddRecorder(rig, false);
  Transport& t = T(rig);
  EXPECT_EQ(Burn(t, {1000, 2000, 37}), 0);
  EXPECT_EQ(drive->Medium(), MediumState::Complete);
  EXPECT_EQ(DiscStatus(t), 2);
  ASSERT_TRUE(FileExists(cue_));
  EXPECT_FALSE(FileExists(JoinPath(folder_, "disc.bin.part")));
  auto text = ReadFileBytes(cue_);
  ASSERT_TRUE(text);
  EXPECT_EQ(*text,
            "FILE \"disc.bin\" BINARY\n"
            "  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
            "  TRACK 02 AUDIO\n    INDEX 01 00:13:25\n"
            "  TRACK 03 AUDIO\n    INDEX 01 00:40:00\n");
  std::uint8_t toc[kTocLength] = {};
  ASSERT_TRUE(t.Succeeded(ReadTOC(t, toc)));
  EXPECT_EQ(toc[3], 3);
  // Track 2 at 1150 frames = 00:15:25, lead-out at 3187 = 00:42:37.
  EXPECT_EQ(toc[4 + 8 + 5], 0);
  EXPECT_EQ(toc[4 + 8 + 6], 15);
  EXPECT_EQ(toc[4 + 8 + 7], 25);
  EXPECT_EQ(toc[4 + 24 + 2], 0xAA);
  EXPECT_EQ(toc[4 + 24 + 6], 42);
  EXPECT_EQ(toc[4 + 24 + 7], 37);
  std::vector<std::uint8_t> got;
  ASSERT_TRUE(ReadAudioSectors(t, 1000, 2000, 26, got));
  EXPECT_TRUE(got == Expected(2, 2000));
  ASSERT_TRUE(ReadAudioSectors(t, 3000, 37, 26, got));
  EXPECT_TRUE(got == Expected(3, 37));
}

TEST_P(Recorder, WritesOutOfOrderOrWithoutCueSheetAreRefusedWithTheDrivesSense) {
  DriveRig rig;
  AddRecorder(rig, false);
  Transport& t = T(rig);
  std::vector<std::uint8_t> buf(10 * 2352);
  EXPECT_FALSE(t.Succeeded(WriteSectors(t, buf.data(), -150, 5, 2352)));
  EXPECT_EQ(t.LastSense()[2] & 0x0F, 5);
  EXPECT_EQ(t.LastSense()[12], 0x2C);  // command sequence error: no cue sheet

  // A cue sheet without session at once is refused.
  ASSERT_TRUE(t.Succeeded(ModeSelectWriteParams(t, 0, 0, false, 1)));
  auto sheet = CueSheet({100});
  EXPECT_FALSE(t.Succeeded(SendCueSheet(t, sheet.data(), 4)));
  ASSERT_TRUE(t.Succeeded(ModeSelectWriteParams(t, 0, 0, false, 2)));
  ASSERT_TRUE(t.Succeeded(SendCueSheet(t, sheet.data(), 4)));

  // The first block must be the pregap's first, at -150 (not LBA 0).
  EXPECT_FALSE(t.Succeeded(WriteSectors(t, buf.data(), 0, 5, 2352)));
  EXPECT_EQ(t.LastSense()[2] & 0x0F, 5);
  EXPECT_EQ(t.LastSense()[12], 0x21);
  EXPECT_EQ(t.LastSense()[13], 0x02);  // invalid address for write
  EXPECT_TRUE(t.Succeeded(WriteSectors(t, buf.data(), -150, 5, 2352)));
  // A gap or a repeat is refused the same way.
  EXPECT_FALSE(t.Succeeded(WriteSectors(t, buf.data(), -140, 5, 2352)));
  EXPECT_FALSE(t.Succeeded(WriteSectors(t, buf.data(), -150, 5, 2352)));
  // Blocks of another size are refused.
  EXPECT_FALSE(t.Succeeded(WriteSectors(t, buf.data(), -145, 5, 2048)));
  EXPECT_TRUE(t.Succeeded(WriteSectors(t, buf.data(), -145, 5, 2352)));
  // Nothing past the lead-out.
  for (std::int32_t lba = -140; lba < 100; lba += 10)
    ASSERT_TRUE(t.Succeeded(WriteSectors(t, buf.data(), lba, 10, 2352))) << lba;
  EXPECT_FALSE(t.Succeeded(WriteSectors(t, buf.data(), 100, 1, 2352)));
}

TEST(RecorderCueSheet, ChecksEntriesOrderAndAddresses) {
  const auto good = CueSheet({1000, 2000});
  // The layout of the recording layer's example: 0, 1000, 3000.
  const std::vector<std::uint8_t> expected = {
      0x01, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x01, 0x01, 0x01, 0x00, 0x00, 0x00, 0x02, 0x00, 0x01, 0x02, 0x01, 0x00, 0x00, 0x00, 0x0F, 0x19,
      0x01, 0xAA, 0x01, 0x01, 0x00, 0x00, 0x2A, 0x00};
  ASSERT_EQ(good, expected);
  CueSheetProblem problem;
  auto layout = CheckCueSheet(good.data(), good.size(), &problem);
  ASSERT_TRUE(layout) << problem.text;
  ASSERT_EQ(layout->tracks.size(), 2u);
  EXPECT_EQ(layout->firstLba, -150);
  EXPECT_EQ(layout->tracks[1].index1, 1000);
  EXPECT_EQ(layout->leadOutLba, 3000);

  auto refused = [&](std::vector<std::uint8_t> sheet) {
    return !CheckCueSheet(sheet.data(), sheet.size(), nullptr).has_value();
  };
  EXPECT_TRUE(refused(std::vector<std::uint8_t>(good.begin(), good.end() - 1)));  // not whole entries
  auto noLeadIn = good;
  noLeadIn[3] = 0;
  EXPECT_TRUE(refused(noLeadIn));
  auto swapped = good;  // track 2 before track 1's address
  swapped[16 + 6] = 0x10;
  EXPECT_TRUE(refused(swapped));
  auto skipped = good;  // track numbers 1, 3
  skipped[24 + 1] = 3;
  EXPECT_TRUE(refused(skipped));
  auto data = good;  // a data track
  data[24] = 0x41;
  EXPECT_TRUE(refused(data));
  auto early = good;  // track 1 inside the 2 seconds of its pregap
  early[16 + 6] = 1;
  EXPECT_TRUE(refused(early));
  auto noPregap = good;  // track 1 beyond 00:02:00 without its pregap entry
  noPregap.erase(noPregap.begin() + 8, noPregap.begin() + 16);
  noPregap[8 + 7] = 32;
  EXPECT_TRUE(refused(noPregap));
  auto badMsf = good;
  badMsf[32 + 7] = 75;
  EXPECT_TRUE(refused(badMsf));
  auto noLeadOut = good;
  noLeadOut[32 + 1] = 3;
  EXPECT_TRUE(refused(noLeadOut));
}

// The catalogue number (ADR 2) after the lead-in, an ISRC (ADR 3) before its
// track, each in two entries; the lead-in's data form 41h for CD-Text.
TEST(RecorderCueSheet, CodeEntriesAreCheckedAndKept) {
  const auto plain = CueSheet({1000, 2000});
  auto withCodes = [&](bool catalog, int isrcTrack) {
    std::vector<std::uint8_t> c(plain.begin(), plain.begin() + 8);  // the lead-in
    if (catalog) {
      const std::uint8_t mcn[16] = {0x02, '0', '7', '2', '4', '3', '8', '4', 0x02, '9', '6', '0', '6', '5', '0', 0};
      c.insert(c.end(), mcn, mcn + 16);
    }
    for (std::size_t e = 1; e < plain.size() / 8; ++e) {
      const std::uint8_t* entry = plain.data() + 8 * e;
      if (entry[1] == isrcTrack && (e == 1 || plain[8 * (e - 1) + 1] != isrcTrack)) {
        const auto t = static_cast<std::uint8_t>(isrcTrack);
        const std::uint8_t isrc[16] = {0x03, t, 'U', 'S', 'A', 'B', '1', '8', 0x03, t, '8', '0', '0', '0', '0', '2'};
        c.insert(c.end(), isrc, isrc + 16);
      }
      c.insert(c.end(), entry, entry + 8);
    }
    return c;
  };
  auto sheet = withCodes(true, 2);
  sheet[3] = 0x41;
  CueSheetProblem problem;
  auto layout = CheckCueSheet(sheet.data(), sheet.size(), &problem);
  ASSERT_TRUE(layout) << problem.text;
  EXPECT_EQ(layout->catalog, "0724384960650");
  EXPECT_TRUE(layout->cdTextLeadIn);
  ASSERT_EQ(layout->tracks.size(), 2u);
  EXPECT_EQ(layout->tracks[0].isrc, "");
  EXPECT_EQ(layout->tracks[1].isrc, "USAB18800002");
  EXPECT_EQ(layout->tracks[1].index1, 1000);
  const std::string text = WrittenCueText(*layout, 3000, "x.bin");
  EXPECT_EQ(text.rfind("CATALOG 0724384960650\nFILE \"x.bin\" BINARY\n", 0), 0u) << text;
  EXPECT_NE(text.find("  TRACK 02 AUDIO\n    ISRC USAB18800002\n    INDEX 01 00:13:25\n"), std::string::npos) << text;
  EXPECT_FALSE(CheckCueSheet(plain.data(), plain.size(), nullptr)->cdTextLeadIn);

  auto refused = [&](std::vector<std::uint8_t> s) { return !CheckCueSheet(s.data(), s.size(), nullptr).has_value(); };
  auto half = withCodes(true, 0);  // the catalogue number's second entry missing
  half.erase(half.begin() + 16, half.begin() + 24);
  EXPECT_TRUE(refused(half));
  auto letters = withCodes(true, 0);
  letters[9] = 'A';
  EXPECT_TRUE(refused(letters));
  auto late = withCodes(false, 2);  // a catalogue number after a track entry
  const std::uint8_t mcn[16] = {0x02, '0', '7', '2', '4', '3', '8', '4', 0x02, '9', '6', '0', '6', '5', '0', 0};
  late.insert(late.begin() + 24, mcn, mcn + 16);
  EXPECT_TRUE(refused(late));
  auto wrongTrack = withCodes(false, 2);  // the ISRC names track 3
  for (std::size_t e = 0; e < wrongTrack.size(); e += 8)
    if ((wrongTrack[e] & 0x0F) == 3) wrongTrack[e + 1] = 3;
  EXPECT_TRUE(refused(wrongTrack));
  auto malformed = withCodes(false, 1);
  for (std::size_t e = 0; e < malformed.size(); e += 8)
    if ((malformed[e] & 0x0F) == 3) malformed[e + 2] = 'u';
  EXPECT_TRUE(refused(malformed));
  auto badForm = plain;
  badForm[3] = 0x81;
  EXPECT_TRUE(refused(badForm));
}

TEST_P(Recorder, TestWriteLeavesTheDiscBlankAndWritesNoFile) {
  DriveRig rig;
  auto drive = AddRecorder(rig, false);
  Transport& t = T(rig);
  EXPECT_EQ(Burn(t, {300, 200}, true), 0);
  EXPECT_EQ(drive->GetStats().writtenSectors, 150 + 500);
  EXPECT_EQ(drive->Medium(), MediumState::Blank);
  EXPECT_EQ(DiscStatus(t), 0);
  EXPECT_TRUE(std::filesystem::is_empty(folder_));
}

TEST_P(Recorder, CompleteCdrRefusesASecondBurnAndKeepsItsImage) {
  DriveRig rig;
  AddRecorder(rig, false);
  Transport& t = T(rig);
  Burn(t, {300});
  const auto before = ReadFileBytes(BinPathForCue(cue_));
  ASSERT_TRUE(before);
  ASSERT_TRUE(t.Succeeded(ModeSelectWriteParams(t, 0, 0, false, 2)));
  auto sheet = CueSheet({100});
  EXPECT_FALSE(t.Succeeded(SendCueSheet(t, sheet.data(), 4)));
  EXPECT_FALSE(t.Succeeded(BlankDisc(t, 1)));  // a CD-R cannot be blanked
  EXPECT_EQ(ReadFileBytes(BinPathForCue(cue_)), before);

  // A new drive on the same target finds the disc complete.
  DriveRig again;
  auto d2 = AddRecorder(again, false);
  EXPECT_EQ(d2->Medium(), MediumState::Complete);
  EXPECT_EQ(DiscStatus(T(again)), 2);
}

TEST_P(Recorder, CdrwIsBlankedAndWrittenAgain) {
  DriveRig rig;
  auto drive = AddRecorder(rig, true);
  Transport& t = T(rig);
  Burn(t, {300});
  bool erasable = false;
  EXPECT_EQ(DiscStatus(t, &erasable), 2);
  EXPECT_TRUE(erasable);
  EXPECT_TRUE(t.Succeeded(BlankDisc(t, 1)));
  EXPECT_EQ(drive->Medium(), MediumState::Blank);
  EXPECT_FALSE(FileExists(cue_));
  EXPECT_FALSE(FileExists(BinPathForCue(cue_)));
  EXPECT_EQ(DiscStatus(t), 0);
  Burn(t, {200, 100});
  std::vector<std::uint8_t> got;
  ASSERT_TRUE(ReadAudioSectors(t, 200, 100, 26, got));
  EXPECT_TRUE(got == Expected(2, 100));
}

TEST_P(Recorder, FailedWriteIsReportedAndWritingGoesOn) {
  DriveRig rig;
  auto drive = AddRecorder(rig, false);
  VirtualDriveFaults faults;
  faults.failWriteAtLba = 60;
  drive->SetFaults(faults);
  Transport& t = T(rig);
  EXPECT_EQ(Burn(t, {100, 100}, false, 26), 1);
  EXPECT_EQ(drive->Medium(), MediumState::Complete);
  std::vector<std::uint8_t> got;
  ASSERT_TRUE(ReadAudioSectors(t, 100, 100, 26, got));
  EXPECT_TRUE(got == Expected(2, 100));
  ASSERT_TRUE(ReadAudioSectors(t, 52, 26, 26, got));  // the failed write's sectors are silent
  EXPECT_TRUE(std::all_of(got.begin(), got.end(), [](std::uint8_t b) { return b == 0; }));
}

TEST_P(Recorder, MediumRemovedWhileWritingLeavesNoImage) {
  DriveRig rig;
  auto drive = AddRecorder(rig, false);
  VirtualDriveFaults faults;
  faults.removeMediumAfterWrites = 40;
  drive->SetFaults(faults);
  Transport& t = T(rig);
  ASSERT_TRUE(t.Succeeded(ModeSelectWriteParams(t, 0, 0, false, 2)));
  auto sheet = CueSheet({300});
  ASSERT_TRUE(t.Succeeded(SendCueSheet(t, sheet.data(), 4)));
  std::vector<std::uint8_t> buf(5 * 2352);
  int failed = 0;
  for (std::int32_t lba = -150; lba < 300; lba += 5)
    if (!t.Succeeded(WriteSectors(t, buf.data(), lba, 5, 2352))) ++failed;
  EXPECT_GT(failed, 0);
  EXPECT_EQ(TestUnitReadySense(t), 2);
  EXPECT_EQ(t.LastSense()[12], 0x3A);
  EXPECT_TRUE(std::filesystem::is_empty(folder_));
}

TEST_P(Recorder, SessionClosedEarlyKeepsTheTracksWritten) {
  DriveRig rig;
  AddRecorder(rig, false);
  Transport& t = T(rig);
  // Tracks 1 and 2 of 4 written, the session closed.
  Burn(t, {100, 120, 140, 160}, false, 38, 2);
  std::uint8_t toc[kTocLength] = {};
  ASSERT_TRUE(t.Succeeded(ReadTOC(t, toc)));
  EXPECT_EQ(toc[3], 2);
  const std::uint8_t* leadOut = toc + 4 + 16;
  EXPECT_EQ(leadOut[2], 0xAA);
  EXPECT_EQ(leadOut[5] * 4500 + leadOut[6] * 75 + leadOut[7], 220 + 150);
}

TEST_P(Recorder, WritingTakesTimeAtTheSetSpeed) {
  DriveRig rig;
  auto drive = AddRecorder(rig, false);
  VirtualDriveConfig config;
  config.capabilities = VirtualDriveConfig::DefaultCapabilities(true);
  config.simulateWriteTime = true;
  drive->SetConfig(config);
  Transport& t = T(rig);
  ASSERT_TRUE(t.Succeeded(SetWriteSpeed(t, 1)));
  ASSERT_TRUE(t.Succeeded(ModeSelectWriteParams(t, 0, 0, true, 2)));
  auto sheet = CueSheet({100});
  ASSERT_TRUE(t.Succeeded(SendCueSheet(t, sheet.data(), 4)));
  std::vector<std::uint8_t> buf(15 * 2352);
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(t.Succeeded(WriteSectors(t, buf.data(), -150, 15, 2352)));  // 0.2 s at 1x
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  EXPECT_GE(ms, 180);
  EXPECT_LT(ms, 2000);
}

TEST_P(Recorder, WritesBeyondTheBlanksCapacityAreRefused) {
  DriveRig rig;
  AddRecorder(rig, false);
  Transport& t = T(rig);
  std::uint8_t info[kDiscInfoLength] = {};
  ASSERT_TRUE(t.Succeeded(ReadDiscInfo(t, info)));
  EXPECT_EQ(info[21], 79);  // last possible lead-out 79:59:74
  EXPECT_EQ(info[22], 59);
  EXPECT_EQ(info[23], 74);
  // An 82-minute cue sheet is taken (an overburn may be tried), but the
  // sectors beyond 79:59:74 cannot be written; test writes make it quick.
  const std::int32_t total = 82 * 4500;
  ASSERT_TRUE(t.Succeeded(ModeSelectWriteParams(t, 0, 0, true, 2)));
  auto sheet = CueSheet({total});
  ASSERT_TRUE(t.Succeeded(SendCueSheet(t, sheet.data(), 4)));
  std::vector<std::uint8_t> buf(75 * 2352, 0);
  for (std::int32_t lba = -150; lba < 0; lba += 75)
    ASSERT_TRUE(t.Succeeded(WriteSectors(t, buf.data(), lba, 75, 2352)));
  const std::int32_t capacity = VirtualDriveConfig::kBlankLastLeadOutLba;
  std::int32_t lba = 0;
  for (; lba + 75 <= capacity; lba += 75)
    ASSERT_TRUE(t.Succeeded(WriteSectors(t, buf.data(), lba, 75, 2352))) << lba;
  EXPECT_FALSE(t.Succeeded(WriteSectors(t, buf.data(), lba, 75, 2352)));
  EXPECT_EQ(SenseKey(t.LastSense().data()), 5);
  EXPECT_EQ(t.LastSense()[12], 0x21);
  EXPECT_EQ(t.LastSense()[13], 0x00);
  // What still fits is written.
  const auto rest = static_cast<std::uint16_t>(capacity - lba);
  EXPECT_TRUE(t.Succeeded(WriteSectors(t, buf.data(), lba, rest, 2352)));
}

TEST_P(Recorder, ASmallerBlankSaysSoAndHoldsNoMore) {
  DriveRig rig;
  auto drive = AddRecorder(rig, false);
  VirtualDriveConfig config;
  config.capabilities = VirtualDriveConfig::DefaultCapabilities(true);
  config.simulateWriteTime = false;
  config.lastLeadOutLba = 2 * 4500 - 150;  // 02:00:00
  drive->SetConfig(config);
  Transport& t = T(rig);
  std::uint8_t info[kDiscInfoLength] = {};
  ASSERT_TRUE(t.Succeeded(ReadDiscInfo(t, info)));
  EXPECT_EQ(info[21], 2);
  EXPECT_EQ(info[22], 0);
  EXPECT_EQ(info[23], 0);
  // Three minutes of audio: the writes past two minutes fail; whatever the
  // disc holds ends within the blank.
  EXPECT_GT(Burn(t, {3 * 4500}, false, 75), 0);
  if (auto disc = LoadCueImage(cue_, nullptr)) {
    EXPECT_LE(disc->leadOutLba, config.lastLeadOutLba);
  }
}

TEST_P(Recorder, AnImageThatCannotBeWrittenNamesTheReasonWithTheSense) {
  // The image's folder holds 64 KiB: the writes that need more fail, and the
  // drive says why beside its sense.
  const std::string small = JoinPath(folder_, "small");
  std::filesystem::create_directories(small);
  const std::string cue = JoinPath(small, "disc.cue");
  const TransportKind kind = GetParam();
  test::ChildReport r = test::RunWithSmallDisk(small, 64 * 1024, [&]() -> std::string {
    DriveRig rig;
    VirtualDriveConfig config;
    config.capabilities = VirtualDriveConfig::DefaultCapabilities(true);
    config.simulateWriteTime = false;
    auto d = std::make_shared<VirtualDrive>(config);
    d->SetBurnTarget(cue, false);
    rig.directory.AddVirtual(d);
    rig.aspi.Load();
    rig.aspi.Enumerate();
    Transport& t = rig.Get(kind, 0, 0);
    if (!t.Succeeded(ModeSelectWriteParams(t, 0, 0, false, 2))) return "setup=mode\n";
    auto sheet = CueSheet({400});
    if (!t.Succeeded(SendCueSheet(t, sheet.data(), 4))) return "setup=cue\n";
    std::vector<std::uint8_t> buf(50 * 2352, 7);
    for (std::int32_t lba = -150; lba < 400; lba += 50)
      if (!t.Succeeded(WriteSectors(t, buf.data(), lba, 50, 2352)))
        return "failed=" + std::to_string(lba) + "\nkey=" + std::to_string(SenseKey(t.LastSense().data())) +
               "\nasc=" + std::to_string(t.LastSense()[12]) + "\ndetail=" + t.LastDetail() + "\n";
    if (!t.Succeeded(CloseSession(t)))
      return "failed=close\nkey=" + std::to_string(SenseKey(t.LastSense().data())) +
             "\nasc=" + std::to_string(t.LastSense()[12]) + "\ndetail=" + t.LastDetail() + "\n";
    return "failed=none\n";
  });
  if (r.Get("mode") == "none") GTEST_SKIP() << "neither a tmpfs nor a file size limit could be set up";
  ASSERT_TRUE(r.Get("setup").empty()) << r.Get("setup");
  ASSERT_NE(r.Get("failed"), "none");
  EXPECT_EQ(r.Get("key"), "3");
  EXPECT_EQ(r.Get("asc"), "12");  // 0Ch, write error
  const std::string detail = r.Get("detail");
  EXPECT_NE(detail.find("disc.bin"), std::string::npos) << detail;
  EXPECT_TRUE(detail.find(std::strerror(ENOSPC)) != std::string::npos ||
              detail.find(std::strerror(EFBIG)) != std::string::npos)
      << detail;
  EXPECT_FALSE(FileExists(cue));
}

INSTANTIATE_TEST_SUITE_P(Transports, Recorder, testing::Values(TransportKind::Spti, TransportKind::Aspi),
                         test::KindName);

// The written image read by the peers: cd-info's table of contents and
// cd-paranoia's rip of each track.
TEST(RecorderPeers, CdInfoAndCdParanoiaReadTheWrittenImage) {
  const std::string paranoia = FindInPath("cd-paranoia"), cdInfo = FindInPath("cd-info");
  if (paranoia.empty() || cdInfo.empty()) GTEST_SKIP() << "cd-paranoia or cd-info is not installed";
  const std::string folder = test::MakeTempFolder();
  const std::string cue = JoinPath(folder, "peer.cue");
  {
    DriveRig rig;
    VirtualDriveConfig config;
    config.capabilities = VirtualDriveConfig::DefaultCapabilities(true);
    config.simulateWriteTime = false;
    auto d = std::make_shared<VirtualDrive>(config);
    d->SetBurnTarget(cue, false);
    rig.directory.AddVirtual(d);
    Transport& t = rig.Get(TransportKind::Spti);
    ASSERT_TRUE(t.Succeeded(ModeSelectWriteParams(t, 0, 0, false, 2)));
    auto sheet = CueSheet({400, 333});
    ASSERT_TRUE(t.Succeeded(SendCueSheet(t, sheet.data(), 5)));
    std::vector<std::uint8_t> buf(5 * 2352, 0);
    for (std::int32_t lba = -150; lba < 0; lba += 5) ASSERT_TRUE(t.Succeeded(WriteSectors(t, buf.data(), lba, 5, 2352)));
    std::vector<std::uint8_t> one(2352);
    for (std::int32_t s = 0; s < 733; ++s) {
      FillSector(s < 400 ? 1 : 2, s < 400 ? s : s - 400, one.data());
      ASSERT_TRUE(t.Succeeded(WriteSectors(t, one.data(), s, 1, 2352)));
    }
    ASSERT_TRUE(t.Succeeded(CloseSession(t)));
  }
  const std::string out = JoinPath(folder, "toc.txt");
  ASSERT_EQ(RunProgram({"/bin/sh", "-c", "\"$0\" --no-device-info -A --cue-file \"$1\" > \"$2\" 2>/dev/null", cdInfo, cue, out}), 0);
  auto toc = ReadFileBytes(out);
  ASSERT_TRUE(toc);
  EXPECT_NE(toc->find("  1: 00:02:00  000000 audio"), std::string::npos) << *toc;
  EXPECT_NE(toc->find("  2: 00:07:25  000400 audio"), std::string::npos) << *toc;
  EXPECT_NE(toc->find("170: 00:11:58  000733 leadout"), std::string::npos) << *toc;
  for (int track = 1; track <= 2; ++track) {
    const std::string raw = JoinPath(folder, "t" + std::to_string(track) + ".raw");
    ASSERT_EQ(RunProgram({paranoia, "-q", "-d", cue, "-r", std::to_string(track), raw}), 0);
    auto bytes = ReadFileBytes(raw);
    ASSERT_TRUE(bytes);
    const auto want = Expected(track, track == 1 ? 400 : 333);
    ASSERT_EQ(bytes->size(), want.size());
    EXPECT_EQ(std::memcmp(bytes->data(), want.data(), want.size()), 0) << "track " << track;
  }
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace sonarvex

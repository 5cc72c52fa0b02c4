// The read offset: a software drive that reads like a drive with an offset,
// the corrected read that gives back the disc's true audio, the offsets kept
// per drive and the offset option of a vdrives.lst line.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "drive/AudioReading.h"
#include "drive/virtual/CueImage.h"
#include "drive/virtual/VirtualDriveList.h"
#include "platform/Files.h"
#include "platform/IniStore.h"
#include "tests/drive/DriveRig.h"

namespace sonarvex {
namespace {

using test::DriveRig;

constexpr std::int64_t kSector = 2352;

// Three tracks; the first and last two sectors of the disc are silent
// (as on nearly every CD), so no offset up to two sectors loses audio.
VirtualDisc QuietEndedDisc(bool quietEnds = true) {
  VirtualDisc disc = BuildAudioDisc({30, 17, 25});
  const std::int32_t end = disc.leadOutLba;
  disc.read = [end, quietEnds](std::int32_t lba, std::uint8_t* out) {
    if (lba < 0 || lba >= end) return false;
    if (quietEnds && (lba < 2 || lba >= end - 2))
      std::memset(out, 0, kSector);
    else
      SyntheticAudioSector(lba, out);
    return true;
  };
  return disc;
}

// The disc's true audio from byte `from` for `bytes` bytes, silence outside it.
std::vector<std::uint8_t> TrueAudio(const VirtualDisc& disc, std::int64_t from, std::int64_t bytes) {
  std::vector<std::uint8_t> out(static_cast<std::size_t>(bytes), 0);
  std::vector<std::uint8_t> sector(kSector);
  for (std::int64_t i = 0; i < bytes; ++i) {
    const std::int64_t pos = from + i;
    if (pos < 0 || pos >= disc.leadOutLba * kSector) continue;
    disc.read(static_cast<std::int32_t>(pos / kSector), sector.data());
    out[static_cast<std::size_t>(i)] = sector[static_cast<std::size_t>(pos % kSector)];
  }
  return out;
}

std::vector<std::uint8_t> ReadTrack(Transport& t, const VirtualTrack& track, int offset,
                                    std::int32_t audioEnd, int* failures = nullptr,
                                    int perRead = 7) {
  std::vector<std::uint8_t> out;
  const int f = ReadAudioRangeCorrected(
      t, track.startLba, track.sectors, offset, audioEnd, perRead,
      [&](std::int32_t lba, int sectors, const std::uint8_t* data, CommandResult) {
        EXPECT_EQ((lba - track.startLba) * kSector, static_cast<std::int64_t>(out.size()));
        out.insert(out.end(), data, data + sectors * kSector);
        return true;
      });
  if (failures) *failures = f;
  return out;
}

class ReadOffsetTest : public ::testing::TestWithParam<TransportKind> {};

TEST_P(ReadOffsetTest, CorrectedReadsGiveTheTrueAudioAndUncorrectedOnesAreShifted) {
  for (int offset : {667, -1164}) {
    SCOPED_TRACE(offset);
    const VirtualDisc reference = QuietEndedDisc();
    VirtualDriveConfig config;
    config.readOffsetSamples = offset;
    DriveRig rig({QuietEndedDisc()}, config);
    Transport& t = rig.Get(GetParam());
    for (const VirtualTrack& track : reference.tracks) {
      SCOPED_TRACE(track.number);
      const std::int64_t start = track.startLba * kSector, bytes = track.sectors * kSector;
      int failures = -1;
      // Requests of 7 sectors do not divide the tracks: chunks cross them.
      EXPECT_EQ(ReadTrack(t, track, offset, reference.leadOutLba, &failures),
                TrueAudio(reference, start, bytes));
      EXPECT_EQ(failures, 0);
      // Without the correction the audio is the drive's: offset samples early or late.
      const auto raw = ReadTrack(t, track, 0, reference.leadOutLba);
      EXPECT_EQ(raw, TrueAudio(reference, start - offset * 4, bytes));
      EXPECT_NE(raw, TrueAudio(reference, start, bytes));
    }
  }
}

TEST_P(ReadOffsetTest, WhatLiesBeyondTheDiscsEndsIsSilence) {
  const VirtualDisc reference = QuietEndedDisc(false);
  for (int offset : {667, -1164}) {
    SCOPED_TRACE(offset);
    VirtualDriveConfig config;
    config.readOffsetSamples = offset;
    DriveRig rig({QuietEndedDisc(false)}, config);
    Transport& t = rig.Get(GetParam());
    const VirtualTrack& first = reference.tracks.front();
    const VirtualTrack& last = reference.tracks.back();
    auto head = ReadTrack(t, first, offset, reference.leadOutLba);
    auto tail = ReadTrack(t, last, offset, reference.leadOutLba);
    auto trueHead = TrueAudio(reference, first.startLba * kSector, first.sectors * kSector);
    auto trueTail = TrueAudio(reference, last.startLba * kSector, last.sectors * kSector);
    const std::size_t lost = static_cast<std::size_t>(std::abs(offset)) * 4;
    if (offset < 0) {
      // The first samples would come from before the disc: silence, the rest exact.
      EXPECT_EQ(std::vector<std::uint8_t>(head.begin(), head.begin() + lost), std::vector<std::uint8_t>(lost, 0));
      EXPECT_TRUE(std::equal(head.begin() + lost, head.end(), trueHead.begin() + lost));
      EXPECT_NE(std::vector<std::uint8_t>(trueHead.begin(), trueHead.begin() + lost), std::vector<std::uint8_t>(lost, 0));
      EXPECT_EQ(tail, trueTail);
    } else {
      EXPECT_EQ(head, trueHead);
      EXPECT_EQ(std::vector<std::uint8_t>(tail.end() - lost, tail.end()), std::vector<std::uint8_t>(lost, 0));
      EXPECT_TRUE(std::equal(tail.begin(), tail.end() - lost, trueTail.begin()));
    }
  }
}

// A CUE/BIN image whose track 1 has `pregap` sectors before its INDEX 01
// (INDEX 00 at the image's start), audible or silent, then three tracks.
VirtualDisc PregapImage(const std::string& folder, int pregap, bool audible) {
  std::string bin(static_cast<std::size_t>((pregap + 30 + 20 + 25) * kSector), '\0');
  std::uint32_t x = 99;
  for (std::size_t k = audible ? 0 : static_cast<std::size_t>(pregap * kSector); k < bin.size(); ++k)
    bin[k] = static_cast<char>((x = x * 1103515245 + 12345) >> 24);
  // The silent pregap ends in silence, the audible one in sound.
  EXPECT_TRUE(WriteFileAtomically(folder + "/disc.bin", bin));
  auto msf = [](int s) {
    char t[16];
    std::snprintf(t, sizeof t, "%02d:%02d:%02d", s / 4500, s / 75 % 60, s % 75);
    return std::string(t);
  };
  const std::string cue = "FILE \"disc.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 00 00:00:00\n    INDEX 01 " +
                          msf(pregap) + "\n  TRACK 02 AUDIO\n    INDEX 01 " + msf(pregap + 30) +
                          "\n  TRACK 03 AUDIO\n    INDEX 01 " + msf(pregap + 50) + "\n";
  EXPECT_TRUE(WriteFileAtomically(folder + "/disc.cue", cue));
  std::string error;
  auto disc = LoadCueImage(folder + "/disc.cue", &error);
  EXPECT_TRUE(disc) << error;
  return disc ? *disc : VirtualDisc{};
}

TEST_P(ReadOffsetTest, AudioBeforeTrackOneIsAHiddenTrackSilenceIsNot) {
  const std::string folder = test::MakeTempFolder();
  for (int offset : {0, 667, -1164}) {
    SCOPED_TRACE(offset);
    VirtualDriveConfig config;
    config.readOffsetSamples = offset;
    {
      const VirtualDisc disc = PregapImage(folder, 225, true);
      ASSERT_EQ(disc.tracks.size(), 3u);
      ASSERT_EQ(disc.tracks[0].startLba, 225);
      DriveRig rig({disc}, config);
      bool failed = true;
      EXPECT_EQ(HiddenTrackSectors(rig.Get(GetParam()), 225, offset, disc.leadOutLba, 26, &failed), 225);
      EXPECT_FALSE(failed);
    }
    {
      // A silent pregap of two seconds: read with the correction, track 1's
      // sound that a drive with a positive offset gives early is not taken
      // for a hidden track.
      const VirtualDisc disc = PregapImage(folder, 150, false);
      ASSERT_EQ(disc.tracks[0].startLba, 150);
      DriveRig rig({disc}, config);
      EXPECT_EQ(HiddenTrackSectors(rig.Get(GetParam()), 150, offset, disc.leadOutLba, 26), 0);
    }
  }
  // A disc whose track 1 starts at sector 0 has none.
  DriveRig rig({QuietEndedDisc()});
  EXPECT_EQ(HiddenTrackSectors(rig.Get(GetParam()), 0, 0, 72, 26), 0);
  std::filesystem::remove_all(folder);
}

TEST_P(ReadOffsetTest, AFailedRequestFailsItsChunk) {
  VirtualDriveConfig config;
  config.readOffsetSamples = 667;
  DriveRig rig({QuietEndedDisc()}, config);
  // Sector 31 is needed by the second track's first chunk (which reads ahead).
  VirtualDriveFaults faults;
  faults.failReadsFirst = 31;
  faults.failReadsLast = 31;
  rig.Drive().SetFaults(faults);
  Transport& t = rig.Get(GetParam());
  const VirtualDisc reference = QuietEndedDisc();
  std::vector<bool> chunkOk;
  const int failures = ReadAudioRangeCorrected(
      t, reference.tracks[1].startLba, reference.tracks[1].sectors, 667, reference.leadOutLba, 7,
      [&](std::int32_t, int, const std::uint8_t*, CommandResult r) {
        chunkOk.push_back(t.Succeeded(r));
        return true;
      });
  EXPECT_EQ(failures, 1);
  ASSERT_EQ(chunkOk.size(), 3u);  // 17 sectors: 7 + 7 + 3
  EXPECT_FALSE(chunkOk[0]);
  EXPECT_TRUE(chunkOk[1]);
  EXPECT_TRUE(chunkOk[2]);
}

INSTANTIATE_TEST_SUITE_P(Transports, ReadOffsetTest,
                         ::testing::Values(TransportKind::Spti, TransportKind::Aspi), test::KindName);

TEST(ReadOffsetStoreTest, OffsetsArePerDriveAndBounded) {
  const std::string folder = test::MakeTempFolder();
  IniStore ini(folder + "/sonarvex.ini");
  EXPECT_EQ(ReadOffsetFor(ini, "PLEXTOR DVDR PX-716A 1.11"), 0);
  EXPECT_TRUE(StoreReadOffset(ini, "PLEXTOR DVDR PX-716A 1.11", 30));
  EXPECT_TRUE(StoreReadOffset(ini, " ODD=NAME [x] ", -1164));
  EXPECT_FALSE(StoreReadOffset(ini, "TOO FAR", 5881));
  ASSERT_TRUE(ini.Save());
  IniStore again(folder + "/sonarvex.ini");
  again.Load();
  EXPECT_EQ(ReadOffsetFor(again, "PLEXTOR DVDR PX-716A 1.11"), 30);
  EXPECT_EQ(ReadOffsetFor(again, " ODD=NAME [x] "), -1164);
  EXPECT_EQ(ReadOffsetKey(" ODD=NAME [x] "), "ODD_NAME _x_");
  EXPECT_EQ(ReadOffsetFor(again, "TOO FAR"), 0);
  again.Set(kReadOffsetIniSection, "BROKEN", "99999");
  EXPECT_EQ(ReadOffsetFor(again, "BROKEN"), 0);
  EXPECT_TRUE(StoreReadOffset(again, "PLEXTOR DVDR PX-716A 1.11", 0));
  EXPECT_FALSE(again.Has(kReadOffsetIniSection, "PLEXTOR DVDR PX-716A 1.11"));
  std::system(("rm -rf " + folder).c_str());
}

TEST(ReadOffsetListTest, AnOffsetOnAListLineMakesTheDriveReadWithIt) {
  const std::string folder = test::MakeTempFolder();
  const VirtualDisc reference = QuietEndedDisc();
  {
    std::ofstream bin(folder + "/disc.bin", std::ios::binary);
    std::vector<std::uint8_t> sector(kSector);
    for (std::int32_t lba = 0; lba < reference.leadOutLba; ++lba) {
      reference.read(lba, sector.data());
      bin.write(reinterpret_cast<const char*>(sector.data()), kSector);
    }
    std::ofstream cue(folder + "/disc.cue");
    cue << "FILE \"disc.bin\" BINARY\n";
    for (const VirtualTrack& t : reference.tracks) {
      char line[80];
      std::snprintf(line, sizeof line, "  TRACK %02d AUDIO\n    INDEX 01 %02d:%02d:%02d\n", t.number,
                    t.startLba / 4500, t.startLba / 75 % 60, t.startLba % 75);
      cue << line;
    }
  }
  const auto list = ParseVirtualDriveList(
      "offset=+667 disc.cue\noffset=-1164\tdisc.cue\noffset=12x disc.cue\noffset=9000 disc.cue\n"
      "offset=5\ndisc.cue\n",
      folder);
  ASSERT_EQ(list.entries.size(), 3u);
  EXPECT_EQ(list.entries[0].readOffsetSamples, 667);
  EXPECT_EQ(list.entries[0].path, folder + "/disc.cue");
  EXPECT_EQ(list.entries[1].readOffsetSamples, -1164);
  EXPECT_EQ(list.entries[2].readOffsetSamples, 0);
  ASSERT_EQ(list.problems.size(), 3u);
  EXPECT_EQ(list.problems[0], "строка 3: неверный сдвиг чтения '12x'");
  EXPECT_EQ(list.problems[1], "строка 4: неверный сдвиг чтения '9000'");
  EXPECT_EQ(list.problems[2], "строка 5: не указан путь к CUE-файлу");

  auto setup = CreateVirtualDrives(list);
  ASSERT_EQ(setup.drives.size(), 3u) << (setup.problems.empty() ? "" : setup.problems.back());
  DeviceDirectory directory(false);
  for (auto& d : setup.drives) directory.AddVirtual(d);
  SptiTransport spti(directory);
  const VirtualTrack& track = reference.tracks[1];
  const auto truth = TrueAudio(reference, track.startLba * kSector, track.sectors * kSector);
  const int offsets[3] = {667, -1164, 0};
  for (int d = 0; d < 3; ++d) {
    SCOPED_TRACE(d);
    spti.SelectDevice(d, 0);
    EXPECT_EQ(ReadTrack(spti, track, offsets[d], reference.leadOutLba), truth);
    if (offsets[d] != 0) {
      EXPECT_NE(ReadTrack(spti, track, 0, reference.leadOutLba), truth);
    }
  }
  std::system(("rm -rf " + folder).c_str());
}

}  // namespace
}  // namespace sonarvex

// cd-paranoia reads the same CUE/BIN image as our ReadCDDA through the
// software drive; the audio must be byte-identical, and the table of
// contents the one cd-info reads from the sheet.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "drive/AudioReading.h"
#include "drive/DiscModel.h"
#include "drive/virtual/DemoDisc.h"
#include "platform/Files.h"
#include "platform/ScriptedDialogs.h"
#include "platform/Shell.h"
#include "tests/drive/DriveRig.h"

namespace sonarvex {
namespace {

TEST(CdParanoia, ReadsTheSameSectorsAsReadCdda) {
  const std::string paranoia = FindInPath("cd-paranoia");
  if (paranoia.empty()) GTEST_SKIP() << "cd-paranoia is not installed";
  const std::string folder = test::MakeTempFolder();
  const std::string cue = WriteDemoDisc(folder);
  ASSERT_FALSE(cue.empty());

  std::string error;
  auto drive = VirtualDrive::FromCueImage(cue, &error);
  ASSERT_TRUE(drive->HasDisc()) << error;
  test::DriveRig rig;
  rig.directory.AddVirtual(drive);
  ScriptedDialogs dialogs;
  AlbumRecord album;
  const DiscView view = ReadDisc(rig.spti, 0, 0, dialogs, album);
  ASSERT_EQ(view.trackCount, 5);

  for (int track = 1; track <= 4; ++track) {
    SCOPED_TRACE(track);
    const std::string out = JoinPath(folder, "t" + std::to_string(track) + ".raw");
    ASSERT_EQ(RunProgram({paranoia, "-q", "-d", cue, "-r", std::to_string(track), out}), 0);
    auto theirs = ReadFileBytes(out);
    ASSERT_TRUE(theirs);
    const AlbumTrackEntry& e = album.Tracks[track - 1];
    std::vector<std::uint8_t> ours;
    ASSERT_TRUE(ReadAudioSectors(rig.spti, e.StartSector, static_cast<std::int32_t>(e.Size / 2352), 26, ours));
    ASSERT_EQ(theirs->size(), ours.size());
    EXPECT_TRUE(std::equal(ours.begin(), ours.end(), reinterpret_cast<const std::uint8_t*>(theirs->data())));
  }
  std::filesystem::remove_all(folder);
}

// Sheets whose layout the disc model once got wrong, checked against the
// peers: cd-info's table of contents (and the disc identifier computed from
// it), and cd-paranoia's rip of every audio track.
class PeerSheet : public testing::Test {
 protected:
  void SetUp() override { folder_ = test::MakeTempFolder(); }
  void TearDown() override { std::filesystem::remove_all(folder_); }

  // A BIN of `sectors` sectors, each holding its own number in every sample
  // (data sectors too: the layout, not the content, is under test), and the
  // sheet beside it. cd-info finds the BIN by the sheet's name, so both share it.
  std::string WriteImage(const std::string& name, int sectors, const std::string& sheet) {
    std::string bin(static_cast<std::size_t>(sectors) * 2352, '\0');
    for (int s = 0; s < sectors; ++s)
      for (int i = 0; i < 2352; i += 4) std::memcpy(&bin[static_cast<std::size_t>(s) * 2352 + i], &s, 4);
    WriteFileAtomically(JoinPath(folder_, name + ".bin"), bin);
    const std::string cue = JoinPath(folder_, name + ".cue");
    std::string text = sheet;
    for (std::size_t at; (at = text.find("@BIN@")) != std::string::npos;) text.replace(at, 5, name + ".bin");
    WriteFileAtomically(cue, text);
    return cue;
  }

  // Output of a program run with an argument vector (stdout only).
  std::string Capture(const std::vector<std::string>& argv) {
    const std::string out = JoinPath(folder_, "capture.txt");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid;
    std::string text;
    if (posix_spawn(&pid, argv[0].c_str(), &actions, nullptr, args.data(), environ) == 0) {
      int status;
      waitpid(pid, &status, 0);
      if (auto bytes = ReadFileBytes(out)) text = *bytes;
    }
    posix_spawn_file_actions_destroy(&actions);
    return text;
  }

  struct PeerEntry {
    int number;
    int m, s, f;
    bool audio;
  };
  // cd-info's track list: "  1: 00:02:00  000000 audio ...", "170: ... leadout".
  std::vector<PeerEntry> CdInfoToc(const std::string& cdInfo, const std::string& cue) {
    std::vector<PeerEntry> entries;
    std::istringstream lines(Capture({cdInfo, "--no-device-info", "-A", "--cue-file", cue}));
    for (std::string line; std::getline(lines, line);) {
      PeerEntry e{};
      char type[16] = {};
      if (std::sscanf(line.c_str(), " %d: %d:%d:%d %*d %15s", &e.number, &e.m, &e.s, &e.f, type) != 5)
        continue;
      e.audio = std::string(type) == "audio";
      entries.push_back(e);
    }
    return entries;
  }
  // The CDDB identifier of a table given as MSF starts, lead-out last.
  static std::uint32_t CddbId(const std::vector<PeerEntry>& toc) {
    std::uint32_t sum = 0;
    const std::size_t n = toc.size() - 1;
    for (std::size_t i = 0; i < n; ++i)
      for (int s = toc[i].m * 60 + toc[i].s; s > 0; s /= 10) sum += static_cast<std::uint32_t>(s % 10);
    const int t = (toc[n].m * 60 + toc[n].s) - (toc[0].m * 60 + toc[0].s);
    return (sum % 255) << 24 | static_cast<std::uint32_t>(t) << 8 | static_cast<std::uint32_t>(n);
  }

  // Reads the sheet through the software drive and compares with the peers.
  // Returns the album record for further checks.
  // Empty when both peers are there, else what is missing.
  static std::string MissingPeers() {
    std::string missing;
    if (FindInPath("cd-info").empty()) missing += "cd-info (libcdio-utils) ";
    if (FindInPath("cd-paranoia").empty()) missing += "cd-paranoia ";
    return missing.empty() ? missing : missing + "not installed";
  }

  AlbumRecord CheckAgainstPeers(const std::string& cue, int expectedTracks) {
    const std::string cdInfo = FindInPath("cd-info");
    const std::string paranoia = FindInPath("cd-paranoia");
    AlbumRecord album{};
    std::string error;
    auto drive = VirtualDrive::FromCueImage(cue, &error);
    EXPECT_TRUE(drive->HasDisc()) << error;
    test::DriveRig rig;
    rig.directory.AddVirtual(drive);
    ScriptedDialogs dialogs;
    const DiscView view = ReadDisc(rig.spti, 0, 0, dialogs, album);
    EXPECT_TRUE(view.present);
    EXPECT_EQ(view.trackCount, expectedTracks);

    {
      const auto theirs = CdInfoToc(cdInfo, cue);
      EXPECT_EQ(static_cast<int>(theirs.size()), expectedTracks + 1);
      for (std::size_t i = 0; i < theirs.size() && i <= static_cast<std::size_t>(view.trackCount); ++i) {
        SCOPED_TRACE(i);
        const Msf& d = view.toc.Descriptor(static_cast<int>(i)).address;
        EXPECT_EQ(d.minute, theirs[i].m);
        EXPECT_EQ(d.second, theirs[i].s);
        EXPECT_EQ(d.frame, theirs[i].f);
        if (i < theirs.size() - 1) {
          EXPECT_EQ(album.Tracks[i].AudioFlag != 0, theirs[i].audio);
        }
      }
      if (theirs.size() >= 2) {
        EXPECT_EQ(CddbDiscId(view.toc), CddbId(theirs));
      }
    }

    const int shift = album.FirstTrackOffset - 150;  // album sectors count from the first track
    for (int i = 0; i < view.trackCount; ++i) {
      if (!album.Tracks[i].AudioFlag) continue;
      SCOPED_TRACE(i + 1);
      const std::string out = JoinPath(folder_, "t" + std::to_string(i + 1) + ".raw");
      EXPECT_EQ(RunProgram({paranoia, "-q", "-d", cue, "-r", std::to_string(i + 1), out}), 0);
      auto theirs = ReadFileBytes(out);
      if (!theirs) {
        ADD_FAILURE() << "cd-paranoia wrote nothing";
        continue;
      }
      std::vector<std::uint8_t> ours;
      const auto sectors = static_cast<std::int32_t>(album.Tracks[i].Size / 2352);
      if (sectors > 0) {
        EXPECT_TRUE(ReadAudioSectors(rig.spti, shift + album.Tracks[i].StartSector, sectors, 26, ours));
      }
      EXPECT_EQ(ours.size(), theirs->size());
      EXPECT_TRUE(ours.size() == theirs->size() &&
                  std::equal(ours.begin(), ours.end(), reinterpret_cast<const std::uint8_t*>(theirs->data())));
    }
    return album;
  }

  std::string folder_;
};

TEST_F(PeerSheet, DataTrackLastInTheOnlySessionKeepsTheAudioBeforeIt) {
  // No session marks: the data track follows the audio directly, so the
  // last audio track keeps all of its 450 sectors.
  if (const auto missing = MissingPeers(); !missing.empty()) GTEST_SKIP() << missing;
  const std::string cue = WriteImage("datalast", 1200,
                                     "FILE \"@BIN@\" BINARY\n"
                                     "  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
                                     "  TRACK 02 AUDIO\n    INDEX 01 00:04:00\n"
                                     "  TRACK 03 MODE1/2352\n    INDEX 01 00:10:00\n");
  const AlbumRecord album = CheckAgainstPeers(cue, 3);
  EXPECT_EQ(album.Tracks[1].Size, 450u * 2352u);
  EXPECT_EQ(album.Tracks[2].StartSector, 750);
  EXPECT_EQ(album.Tracks[2].AudioFlag, 0);
}

TEST_F(PeerSheet, CopyPermittedAudioWithPreEmphasisOrFourChannelsIsAudio) {
  if (const auto missing = MissingPeers(); !missing.empty()) GTEST_SKIP() << missing;
  const std::string cue = WriteImage("flags", 1000,
                                     "FILE \"@BIN@\" BINARY\n"
                                     "  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
                                     "  TRACK 02 AUDIO\n    FLAGS DCP PRE\n    INDEX 01 00:04:00\n"
                                     "  TRACK 03 AUDIO\n    FLAGS 4CH DCP\n    INDEX 01 00:08:00\n");
  const AlbumRecord album = CheckAgainstPeers(cue, 3);
  EXPECT_EQ(album.Tracks[0].Size, 300u * 2352u);
  EXPECT_EQ(album.Tracks[1].Size, 300u * 2352u);
  EXPECT_EQ(album.Tracks[2].Size, 400u * 2352u);
}

TEST_F(PeerSheet, FirstTrackStartingLateWithoutIndex00KeepsItsPregap) {
  // The first 150 sectors lie before track 1's INDEX 01: its pregap, so the
  // track starts at 00:04:00 on the disc, as every later one moves too.
  if (const auto missing = MissingPeers(); !missing.empty()) GTEST_SKIP() << missing;
  const std::string cue = WriteImage("late", 1000,
                                     "FILE \"@BIN@\" BINARY\n"
                                     "  TRACK 01 AUDIO\n    INDEX 01 00:02:00\n"
                                     "  TRACK 02 AUDIO\n    INDEX 01 00:08:00\n");
  const AlbumRecord album = CheckAgainstPeers(cue, 2);
  EXPECT_EQ(album.FirstTrackOffset, 300);
  EXPECT_EQ(album.Tracks[0].Size, 450u * 2352u);
  EXPECT_EQ(album.Tracks[1].Size, 400u * 2352u);
}

}  // namespace
}  // namespace sonarvex

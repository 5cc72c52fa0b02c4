// What a grab reports afterwards, without a drive: the table of contents of
// an enhanced CD as AccurateRip counts it, and the log and cue sheet of a
// grab with a copy range and an unreadable track.
#include <gtest/gtest.h>

#include <filesystem>

#include "../drive/DriveRig.h"
#include "RipTestDoubles.h"
#include "app/RipReport.h"
#include "platform/Cp1251.h"
#include "platform/Files.h"
#include "platform/ScriptedDialogs.h"

namespace sonarvex {
namespace {

// A READ TOC reply (MSF) of the given starts (LBA + 150) and lead-out.
std::vector<std::uint8_t> TocReply(const std::vector<std::int32_t>& startsPlus150,
                                   std::int32_t leadOutPlus150, const std::vector<bool>& audio) {
  std::vector<std::uint8_t> reply(4 + 8 * (startsPlus150.size() + 1), 0);
  auto put = [&](std::size_t i, std::int32_t frames, bool isAudio, int number) {
    std::uint8_t* d = reply.data() + 4 + 8 * i;
    d[1] = isAudio ? 0x10 : 0x14;
    d[2] = static_cast<std::uint8_t>(number);
    d[5] = static_cast<std::uint8_t>(frames / 4500);
    d[6] = static_cast<std::uint8_t>(frames / 75 % 60);
    d[7] = static_cast<std::uint8_t>(frames % 75);
  };
  for (std::size_t i = 0; i < startsPlus150.size(); ++i)
    put(i, startsPlus150[i], audio[i], static_cast<int>(i + 1));
  put(startsPlus150.size(), leadOutPlus150, false, 0xAA);
  return reply;
}

TEST(RipReportTest, AnEnhancedCdIsCountedFromTheDrivesTableNotTheMovedAlbum) {
  // Ten audio tracks and a data track in a second session (a published disc).
  const std::vector<std::int32_t> starts = {150,    12767,  40487,  63225,  93410,  118115,
                                            151865, 184340, 215260, 247455, 281735};
  std::vector<bool> audio(11, true);
  audio[10] = false;
  const auto reply = TocReply(starts, 333801, audio);
  const ArToc toc = RipReport::TocOfReply(reply.data(), 11);
  ASSERT_EQ(toc.tracks.size(), 11u);
  EXPECT_EQ(toc.tracks[10].start, 281735 - 150);
  EXPECT_FALSE(toc.tracks[10].audio);
  EXPECT_EQ(toc.leadOut, 333801 - 150);
  const std::string path = ArEntryPath(ComputeArDiscIds(toc));
  EXPECT_EQ(path.substr(path.rfind('/') + 1), "dBAR-010-00164419-00b9f6e2-9e11600b.bin");
  EXPECT_TRUE(IsLastArTrack(toc, 9));
}

TEST(RipReportTest, TheLogNamesEveryTrackAndTheCueSheetOnlyWholeTracks) {
  const std::string folder = test::MakeTempFolder() + "/";
  AlbumRecord album{};
  album.TrackCount = 3;
  album.FirstTrackOffset = 150;
  for (int i = 0; i <= 3; ++i) {
    album.Tracks[i].StartSector = 1000 * i;
    album.Tracks[i].AudioFlag = i < 3;
    SetField(album.Tracks[i].Title, "Track" + std::to_string(i + 1));
  }
  TagBuffer tags;
  FakeHost host(3);
  ScriptedDialogs dialogs;
  RipReport::Options options;
  options.writeLog = true;
  options.log.programVersion = "3.2";
  options.log.drive = "VENDOR MODEL";
  options.cue.performer = "Кино";
  options.cue.title = "Группа крови";
  options.extras = [] {
    RipDiscExtras e;
    e.catalog = "0724384960650";
    e.isrc[0] = "GBAYE6700149";
    e.pregap[1] = 32;
    return e;
  };
  RipReport report(host, dialogs, album, tags, options);
  report.GrabStarted(OutputKind::Wav, {0, 1, 2});
  const std::vector<std::uint8_t> pcm(2352, 7);
  report.TrackReading(0, 0, 1000, true);
  report.TrackAudio(0, pcm.data(), pcm.size());
  report.TrackCopied(0, folder + "01.wav");
  report.TrackReading(1, 1100, 1900, false);  // a copy range
  report.TrackAudio(1, pcm.data(), pcm.size());
  report.TrackCopied(1, folder + "02.wav");
  report.TrackReading(2, 2000, 3000, true);
  report.TrackRetry(2);
  report.TrackUnreadable(2, 2400);
  // A file of an earlier rip keeps its name.
  ASSERT_TRUE(WriteFileAtomically(folder + "Кино - Группа крови.log", "earlier"));
  report.GrabEnding(true);

  EXPECT_EQ(report.LogPath(), folder + "Кино - Группа крови (2).log");
  EXPECT_EQ(*ReadFileBytes(folder + "Кино - Группа крови.log"), "earlier");
  auto log = ReadFileBytes(report.LogPath());
  ASSERT_TRUE(log);
  EXPECT_NE(log->find("Привод: VENDOR MODEL\n"), std::string::npos) << *log;
  EXPECT_NE(log->find("Файл: 01.wav\n  CRC32: " ), std::string::npos) << *log;
  EXPECT_NE(log->find("Дорожка 3\n  Не скопирована: сектор 2400 не читается\n"
                      "  Ошибки чтения: 1, повторы: 1\n"),
            std::string::npos)
      << *log;
  EXPECT_NE(log->find("Скопировано дорожек: 2 из 3\n"), std::string::npos) << *log;
  // The CRC32 of the audio alone (zlib's polynomial).
  EXPECT_EQ(report.Tracks()[0].crc32, Crc32(0, pcm.data(), pcm.size()));
  // Without the check no AccurateRip checksums are taken.
  EXPECT_FALSE(report.Tracks()[0].checksummed);
  EXPECT_FALSE(report.Tracks()[1].checksummed);

  auto cue = ReadFileBytes(report.CuePath());
  ASSERT_TRUE(cue);
  EXPECT_EQ(*cue,
            "CATALOG 0724384960650\nPERFORMER \"Кино\"\nTITLE \"Группа крови\"\n"
            "FILE \"01.wav\" WAVE\n  TRACK 01 AUDIO\n    TITLE \"Track1\"\n"
            "    ISRC GBAYE6700149\n    INDEX 01 00:00:00\n");
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace sonarvex

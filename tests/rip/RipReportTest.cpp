// What a grab reports afterwards, without a drive: the table of contents of
// an enhanced CD as AccurateRip counts it, and the log and cue sheet of a
// grab with a copy range and an unreadable track.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include "../drive/DriveRig.h"
#include "RipTestDoubles.h"
#include "rip/RipReport.h"
#include "drive/DiscToc.h"
#include "platform/Cp1251.h"
#include "platform/Files.h"
#include "platform/ScriptedDialogs.h"

namespace sonarvex {
namespace {

// A READ TOC reply (MSF) of the given starts (LBA + 150) and lead-out.
std::vector<std::uint8_t> TocReply(const std::vector<std::int32_t>& startsPlus150,
                                   std::int32_t leadOutPlus150, const std::vector<bool>& audio) {
  std::vector<std::uint8_t> reply(4 + 8 * (startsPlus150.size() + 1), 0);
  reply[0] = static_cast<std::uint8_t>((reply.size() - 2) >> 8);
  reply[1] = static_cast<std::uint8_t>(reply.size() - 2);
  reply[2] = 1;
  reply[3] = static_cast<std::uint8_t>(startsPlus150.size());
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
  const auto parsed = ParseTocAnswer(reply.data(), reply.size());
  ASSERT_TRUE(parsed);
  const ArToc toc = ArTocOf(*parsed);
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
  // The album's genre, year and CDDB identifier (as the lookup stored it)
  // go into the cue sheet's REM lines.
  SetField(album.Genre, "Rock");
  SetField(album.Year, "1988");
  SetField(album.CddbId, "2a0b1c03");
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
            "REM GENRE Rock\nREM DATE 1988\nREM DISCID 2A0B1C03\nREM COMMENT \"Sonarvex 3.2\"\n"
            "CATALOG 0724384960650\nPERFORMER \"Кино\"\nTITLE \"Группа крови\"\n"
            "FILE \"01.wav\" WAVE\n  TRACK 01 AUDIO\n    TITLE \"Track1\"\n"
            "    ISRC GBAYE6700149\n    INDEX 01 00:00:00\n");
  std::filesystem::remove_all(folder);
}


// A grab of one copied track whose log and cue sheet go beside `file`.
void ReportOneTrack(RipReport& report, const std::string& file) {
  const std::vector<std::uint8_t> pcm(2352, 7);
  report.GrabStarted(OutputKind::Wav, {0});
  report.TrackReading(0, 0, 1000, true);
  report.TrackAudio(0, pcm.data(), pcm.size());
  report.TrackCopied(0, file);
  report.GrabEnding(true);
}

AlbumRecord OneTrackAlbum() {
  AlbumRecord album{};
  album.TrackCount = 1;
  album.FirstTrackOffset = 150;
  album.Tracks[0].AudioFlag = 1;
  album.Tracks[1].StartSector = 1000;
  SetField(album.Tracks[0].Title, "Track1");
  return album;
}

TEST(RipReportTest, LongArtistAndAlbumNamesAreCutLikeTrackNames) {
  const std::string folder = test::MakeTempFolder() + "/";
  AlbumRecord album = OneTrackAlbum();
  TagBuffer tags;
  FakeHost host(1);
  ScriptedDialogs dialogs;
  RipReport::Options options;
  options.writeLog = true;
  std::string artist, title;
  for (int k = 0; k < 100; ++k) artist += "Ж";   // 200 bytes
  for (int k = 0; k < 70; ++k) title += "Ёж";    // 280 bytes
  options.cue.performer = artist;
  options.cue.title = title;
  RipReport report(host, dialogs, album, tags, options);
  ReportOneTrack(report, folder + "01.wav");
  EXPECT_TRUE(report.WriteFailure().empty()) << report.WriteFailure();
  for (const std::string& path : {report.LogPath(), report.CuePath()}) {
    ASSERT_FALSE(path.empty());
    ASSERT_TRUE(FileExists(path)) << path;
    const std::string name = path.substr(folder.size());
    EXPECT_LE(name.size(), 255u) << name;
    EXPECT_EQ(name.rfind(artist + " - ", 0), 0u) << name;
    // Cut at a character boundary: the name is whole UTF-8.
    EXPECT_EQ(Utf8ToCp1251(name).find('?'), std::string::npos) << name;
  }
  EXPECT_EQ(report.LogPath().substr(report.LogPath().size() - 4), ".log");
  EXPECT_EQ(report.CuePath().substr(report.CuePath().size() - 4), ".cue");
  std::filesystem::remove_all(folder);
}

TEST(RipReportTest, ALogThatCannotBeWrittenIsAFailureNamingTheFile) {
  const std::string folder = test::MakeTempFolder() + "/";
  AlbumRecord album = OneTrackAlbum();
  TagBuffer tags;
  FakeHost host(1);
  ScriptedDialogs dialogs;
  // The track's folder is gone when the log is written.
  const std::string log = folder + "gone/Sonarvex.log";
  dialogs.ExpectMessage(CreateFailureText(log, ENOENT), "Sonarvex v3.2", MsgIcon::Error,
                        MsgButtons::Ok);
  dialogs.ExpectMessage(CreateFailureText(folder + "gone/Sonarvex.cue", ENOENT), "Sonarvex v3.2",
                        MsgIcon::Error, MsgButtons::Ok);
  RipReport::Options options;
  options.writeLog = true;
  RipReport report(host, dialogs, album, tags, options);
  ReportOneTrack(report, folder + "gone/01.wav");
  EXPECT_EQ(report.WriteFailure(), CreateFailureText(log, ENOENT));
  EXPECT_TRUE(report.LogPath().empty());
  std::string why;
  EXPECT_TRUE(dialogs.Clean(&why)) << why;
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace sonarvex

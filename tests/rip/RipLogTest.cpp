// The rip log and the cue sheet of a rip.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <sys/stat.h>

#include <zlib.h>

#include <random>
#include <vector>

#include "accuraterip/AccurateRip.h"
#include "rip/RipLog.h"

namespace sonarvex {
namespace {

TEST(Crc32Test, KnownValuesAndPieces) {
  EXPECT_EQ(Crc32(0, "123456789", 9), 0xCBF43926u);
  EXPECT_EQ(Crc32(0, "", 0), 0u);
  // Continued over pieces it is the same as over the whole.
  const std::string text = "The quick brown fox jumps over the lazy dog";
  EXPECT_EQ(Crc32(0, text.data(), text.size()), 0x414FA339u);
  EXPECT_EQ(Crc32(Crc32(0, text.data(), 10), text.data() + 10, text.size() - 10), 0x414FA339u);
}

// The sums of a track taken block by block as the drive delivers it, in
// blocks of any length (a sample or even a byte split between two blocks):
// the log's CRC is zlib's CRC-32 of the whole audio and the AccurateRip
// checksums those of the whole track, each alone or both together.
TEST(Crc32Test, TrackSumsInOnePassEqualZlibAndTheWholeTrackChecksums) {
  std::mt19937 random(7);
  // A first track of a little more than three sectors (its first five
  // sectors but one are left out of its checksums).
  std::vector<std::uint8_t> pcm(3 * 2352 * 4 + 1234 * 4);
  for (auto& b : pcm) b = static_cast<std::uint8_t>(random());
  const std::uint64_t samples = pcm.size() / 4;
  const auto zlibCrc = static_cast<std::uint32_t>(::crc32(0, pcm.data(), static_cast<uInt>(pcm.size())));
  ArChecksum whole(samples, true, false);
  whole.Add(pcm.data(), pcm.size());
  for (std::size_t step : {std::size_t{1}, std::size_t{3}, std::size_t{4097}, std::size_t{8191},
                           std::size_t{8193}, std::size_t{26 * 2352 + 1}, pcm.size()}) {
    SCOPED_TRACE(step);
    std::uint32_t both = 0, crcOnly = 0;
    ArChecksum ar(samples, true, false), arOnly(samples, true, false);
    for (std::size_t at = 0; at < pcm.size(); at += step) {
      const std::size_t n = std::min(step, pcm.size() - at);
      AddTrackSums(&both, &ar, pcm.data() + at, n);
      AddTrackSums(&crcOnly, nullptr, pcm.data() + at, n);
      AddTrackSums(nullptr, &arOnly, pcm.data() + at, n);
    }
    EXPECT_EQ(both, zlibCrc);
    EXPECT_EQ(crcOnly, zlibCrc);
    EXPECT_EQ(ar.V1(), whole.V1());
    EXPECT_EQ(ar.V2(), whole.V2());
    EXPECT_EQ(arOnly.V1(), whole.V1());
    EXPECT_EQ(ar.SamplesSeen(), samples);
  }
  // Odd lengths of Crc32 itself, where a fast CRC is most likely wrong.
  for (std::size_t n : {std::size_t{0}, std::size_t{1}, std::size_t{7}, std::size_t{15},
                        std::size_t{63}, std::size_t{255}, std::size_t{4099}})
    EXPECT_EQ(Crc32(0x12345678u, pcm.data() + 3, n),
              static_cast<std::uint32_t>(::crc32(0x12345678u, pcm.data() + 3, static_cast<uInt>(n))))
        << n;
}

TEST(RipLogTest, TheLogHoldsDriveReadingAndEveryTrack) {
  RipLogInfo info;
  info.programVersion = "3.2";
  info.date = "2024-05-01 12:00";
  info.drive = "SONARVEX Virtual CD 東京 1.0";
  info.readOffset = 667;
  info.readCommand = "Стандартная (MMC1)";
  info.readSpeed = "максимальная";
  info.artist = "Группа";
  info.album = "Альбом 東京";
  info.arDisc = "dBAR-002-00001234-00005678-0a000302";
  RipLogTrack one;
  one.number = 1;
  one.file = "01 Песня.flac";
  one.crc32 = 0xCBF43926;
  one.verified = true;
  one.arV1 = 0xab;
  one.arV2 = 0xDEADBEEF;
  one.arResult = "точно (достоверность 12)";
  RipLogTrack two;
  two.number = 2;
  two.readErrors = 3;
  two.retries = 9;
  two.failure = "ошибка чтения сектора 1234";
  info.tracks = {one, two};
  EXPECT_EQ(RipLogText(info),
            "Sonarvex 3.2: журнал копирования\n"
            "Дата: 2024-05-01 12:00\n"
            "\n"
            "Привод: SONARVEX Virtual CD 東京 1.0\n"
            "Сдвиг чтения: +667\n"
            "Команда чтения: Стандартная (MMC1)\n"
            "Скорость чтения: максимальная\n"
            "Исполнитель: Группа\n"
            "Альбом: Альбом 東京\n"
            "AccurateRip: dBAR-002-00001234-00005678-0a000302\n"
            "\n"
            "Дорожка 1\n"
            "  Файл: 01 Песня.flac\n"
            "  CRC32: CBF43926\n"
            "  AccurateRip: v1 000000ab, v2 deadbeef, точно (достоверность 12)\n"
            "  Ошибки чтения: 0, повторы: 0\n"
            "\n"
            "Дорожка 2\n"
            "  Не скопирована: ошибка чтения сектора 1234\n"
            "  Ошибки чтения: 3, повторы: 9\n"
            "\n"
            "Скопировано дорожек: 1 из 2\n");
  info.readOffset = -1164;
  info.arDisc.clear();
  const std::string text = RipLogText(info);
  EXPECT_NE(text.find("Сдвиг чтения: -1164\n"), std::string::npos);
  EXPECT_EQ(text.find("AccurateRip: dBAR"), std::string::npos);
}

TEST(CueSheetTest, PregapsCatalogueIsrcsAndTitles) {
  EXPECT_EQ(CueTime(0), "00:00:00");
  EXPECT_EQ(CueTime(4500 * 3 + 75 * 7 + 12), "03:07:12");
  EXPECT_EQ(CueTime(-5), "00:00:00");

  CueSheetInfo info;
  info.catalog = "4006381333931";
  info.performer = "Группа \"Кино\"";
  info.title = "東京";
  // Track 1 has a hidden 33-sector pregap; track 2 a 150-sector one at the
  // end of track 1's file; track 3 none.
  info.tracks = {
      {1, "01 Первая.wav", "Первая", "", "USRC17607839", 33, 33, 20000},
      {2, "02 Вторая.wav", "Вторая", "Другой", "", 20033, 150, 15000, {300, 1000}},
      {3, "03 \"Третья\".flac", "", "", "", 35033, 0, 5000},
  };
  EXPECT_EQ(CueSheetText(info),
            "CATALOG 4006381333931\n"
            "PERFORMER \"Группа 'Кино'\"\n"
            "TITLE \"東京\"\n"
            "FILE \"01 Первая.wav\" WAVE\n"
            "  TRACK 01 AUDIO\n"
            "    TITLE \"Первая\"\n"
            "    ISRC USRC17607839\n"
            "    PREGAP 00:00:33\n"
            "    INDEX 01 00:00:00\n"
            "  TRACK 02 AUDIO\n"
            "    TITLE \"Вторая\"\n"
            "    PERFORMER \"Другой\"\n"
            "    INDEX 00 04:24:50\n"  // 20000 - 150 = 19850 sectors
            "FILE \"02 Вторая.wav\" WAVE\n"
            "    INDEX 01 00:00:00\n"
            "    INDEX 02 00:04:00\n"  // its index points, in its file
            "    INDEX 03 00:13:25\n"
            "FILE \"03 'Третья'.flac\" WAVE\n"
            "  TRACK 03 AUDIO\n"
            "    INDEX 01 00:00:00\n");
}

// The disc's REM lines and the file types as other programs write them:
// WAVE for every file they decode (FLAC, Ogg, WMA too), MP3 for MP3.
TEST(CueSheetTest, RemLinesAndFileTypesAreThoseOtherProgramsRead) {
  CueSheetInfo info;
  info.genre = "Hard Rock";
  info.date = "1988";
  info.discId = "2A0B1C03";
  info.comment = "Sonarvex 3.2";
  info.catalog = "4006381333931";
  info.performer = "Кино";
  info.title = "Группа крови";
  const char* names[] = {"1.flac", "2.ogg", "3.wma", "4.mp3", "5.WAV", "6.aiff"};
  for (int k = 0; k < 6; ++k)
    info.tracks.push_back({k + 1, names[k], "", "", "", 1000 * k, 0, 1000});
  EXPECT_EQ(CueSheetText(info),
            "REM GENRE \"Hard Rock\"\n"
            "REM DATE 1988\n"
            "REM DISCID 2A0B1C03\n"
            "REM COMMENT \"Sonarvex 3.2\"\n"
            "CATALOG 4006381333931\n"
            "PERFORMER \"Кино\"\n"
            "TITLE \"Группа крови\"\n"
            "FILE \"1.flac\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
            "FILE \"2.ogg\" WAVE\n  TRACK 02 AUDIO\n    INDEX 01 00:00:00\n"
            "FILE \"3.wma\" WAVE\n  TRACK 03 AUDIO\n    INDEX 01 00:00:00\n"
            "FILE \"4.mp3\" MP3\n  TRACK 04 AUDIO\n    INDEX 01 00:00:00\n"
            "FILE \"5.WAV\" WAVE\n  TRACK 05 AUDIO\n    INDEX 01 00:00:00\n"
            "FILE \"6.aiff\" AIFF\n  TRACK 06 AUDIO\n    INDEX 01 00:00:00\n");
  info.genre = "Rock";
  const std::string text = CueSheetText(info);
  EXPECT_EQ(text.rfind("REM GENRE Rock\nREM DATE 1988\n", 0), 0u) << text;
}

TEST(RipLogFileTest, WrittenWholeAndReplacingWhatWasThere) {
  char dir[] = "/tmp/sonarvex-riplog-XXXXXX";
  ASSERT_NE(::mkdtemp(dir), nullptr);
  const std::string path = std::string(dir) + "/rip.log";
  std::ofstream(path) << "old text that is longer than the new one";
  ASSERT_TRUE(WriteTextFile(path, "новый\n").Ok());
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  EXPECT_EQ(s.str(), "новый\n");
  const WriteResult r = WriteTextFile(std::string(dir) + "/missing/rip.log", "x");
  EXPECT_TRUE(r.Failed());
  EXPECT_NE(r.message.find("missing/rip.log"), std::string::npos) << r.message;
  std::system(("rm -rf " + std::string(dir)).c_str());
}

}  // namespace
}  // namespace sonarvex

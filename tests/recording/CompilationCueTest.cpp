// Cue sheets loaded as a compilation: the files of a rip's sheet in track
// order (WAV and FLAC files as they are, FLAC files decoded while the disc
// is written), and sheets that cannot be used adding nothing, with a
// message that says which line, which file and why.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <cstring>
#include <filesystem>

#include "codec/FlacReader.h"
#include "platform/Files.h"
#include "platform/ScriptedDialogs.h"
#include "drive/virtual/VirtualRecorder.h"
#include "recording/Compilation.h"
#include "recording/Recorder.h"
#include "tests/recording/RecordingRig.h"

namespace sonarvex {
namespace {

namespace fs = std::filesystem;

bool HaveFlac() {
  int rc = -1;
  test::Run("command -v flac >/dev/null", &rc);
  return rc == 0 && FlacReader().Available();
}

// The names in the temporary folder (a partial file left behind would show).
std::vector<std::string> Listing(const std::string& folder) {
  std::vector<std::string> names;
  if (!fs::exists(folder)) return names;
  for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

class CompilationCueTest : public testing::Test {
 protected:
  std::string Sheet(const std::string& name, const std::string& text) {
    const std::string path = dir_.File(name);
    WriteFileAtomically(path, text);
    return path;
  }
  std::string Temp() const { return dir_.File("WCDDATF"); }
  std::string Expected(const std::string& sheet, const std::string& why) {
    return "CUE-файл '" + sheet + "' не загружен: " + why + ".";
  }
  void ExpectRefusal(const std::string& sheet, const std::string& why) {
    dialogs_.ExpectMessage(Expected(sheet, why), kProgramTitle, MsgIcon::Warning, MsgButtons::Ok);
  }
  void ExpectClean() {
    std::string why;
    EXPECT_TRUE(dialogs_.Clean(&why)) << why;
  }

  test::TempDir dir_;
  ScriptedDialogs dialogs_;
};

// As a rip writes it: track 1's pregap a PREGAP, track 2's at the end of
// track 1's file, titles and ISRCs.
constexpr const char* kTwoWaveTracks =
    "CATALOG 4006381333931\n"
    "PERFORMER \"Группа\"\n"
    "TITLE \"Альбом\"\n"
    "FILE \"01 Первая.wav\" WAVE\n"
    "  TRACK 01 AUDIO\n"
    "    TITLE \"Первая\"\n"
    "    ISRC USRC17607839\n"
    "    PREGAP 00:00:33\n"
    "    INDEX 01 00:00:00\n"
    "  TRACK 02 AUDIO\n"
    "    TITLE \"Вторая\"\n"
    "    INDEX 00 00:00:20\n"
    "FILE \"sub/02 Вторая.wav\" WAVE\n"
    "    INDEX 01 00:00:00\n";

// The sheet's catalogue number, ISRCs, titles and performers go to the
// recording; the catalogue number only while the list is that disc alone.
TEST_F(CompilationCueTest, TheSheetsCodesAndTextsAreTheDiscs) {
  fs::create_directories(dir_.File("sub"));
  test::WriteCdWav(dir_.File("01 Первая.wav"), test::PatternAudio(1, 40 * 2352));
  test::WriteCdWav(dir_.File("sub/02 Вторая.wav"), test::PatternAudio(2, 25 * 2352));
  const std::string sheet = Sheet("album.cue", std::string(kTwoWaveTracks).insert(
      std::string(kTwoWaveTracks).find("    INDEX 00"), "    PERFORMER \"Другой\"\n"));
  Compilation c(Temp(), dialogs_);
  ASSERT_TRUE(c.AddCueSheet(sheet, false));
  DiscTexts t = c.Texts();
  EXPECT_EQ(t.catalog, "4006381333931");
  EXPECT_EQ(t.title, "Альбом");
  EXPECT_EQ(t.performer, "Группа");
  ASSERT_EQ(t.tracks.size(), 2u);
  EXPECT_EQ(t.tracks[0], (DiscTexts::Track{"Первая", "", "USRC17607839"}));
  EXPECT_EQ(t.tracks[1], (DiscTexts::Track{"Вторая", "Другой", ""}));
  // Rows moved keep their texts; another file ends the release.
  c.Move(1, 0);
  EXPECT_EQ(c.Texts().tracks[0].title, "Вторая");
  EXPECT_EQ(c.Texts().catalog, "4006381333931");
  const auto other = test::WriteCdWav(dir_.File("other.wav"), test::PatternAudio(3, 10 * 2352));
  ASSERT_TRUE(c.AddFile(other, false));
  t = c.Texts();
  EXPECT_EQ(t.catalog, "");
  EXPECT_EQ(t.title, "Альбом");
  ASSERT_EQ(t.tracks.size(), 3u);
  EXPECT_EQ(t.tracks[2], DiscTexts::Track{});
  // An emptied list has no album; a sheet added to another one's rows does
  // not give its own.
  c.Clear();
  EXPECT_EQ(c.Texts(), DiscTexts{});
  ASSERT_TRUE(c.AddFile(other, false));
  ASSERT_TRUE(c.AddCueSheet(sheet, false));
  t = c.Texts();
  EXPECT_EQ(t.catalog, "");
  EXPECT_EQ(t.title, "");
  EXPECT_EQ(t.tracks[1].isrc, "USRC17607839");
  c.Remove(0);
  c.Remove(0);
  c.Remove(0);
  EXPECT_EQ(c.Texts(), DiscTexts{});
  ExpectClean();
}

TEST_F(CompilationCueTest, TwoWaveTracksInTrackOrderWithTheirSizes) {
  fs::create_directories(dir_.File("sub"));
  const auto a = test::WriteCdWav(dir_.File("01 Первая.wav"), test::PatternAudio(1, 40 * 2352));
  const auto b = test::WriteCdWav(dir_.File("sub/02 Вторая.wav"), test::PatternAudio(2, 25 * 2352 + 4));
  const std::string sheet = Sheet("album.cue", kTwoWaveTracks);
  Compilation c(Temp(), dialogs_);
  c.Rows().push_back(CompilationRow{"/x/", "before.wav", 2352, 2});
  ASSERT_TRUE(c.AddCueSheet(sheet, false));
  ASSERT_EQ(c.Rows().size(), 3u);
  EXPECT_EQ(c.Rows()[1].Path(), a);
  EXPECT_EQ(c.Rows()[1].bytes, 40u * 2352);
  EXPECT_EQ(c.Rows()[2].Path(), b);
  EXPECT_EQ(c.Rows()[2].bytes, 25u * 2352 + 4);
  EXPECT_TRUE(c.Converted().empty());
  EXPECT_FALSE(fs::exists(Temp()));  // nothing to convert, nothing made
  ExpectClean();
  // The sheet's marks come with the rows: track 1's PREGAP, track 2's
  // INDEX 00 as the last 20 sectors of track 1's file.
  EXPECT_EQ(c.Rows()[0].gaps, TrackGaps{});
  EXPECT_EQ(c.Rows()[1].gaps.pregap, 33);
  EXPECT_EQ(c.Rows()[1].gaps.previousTail, 0);
  EXPECT_EQ(c.Rows()[2].gaps.previousFile, a);
  EXPECT_EQ(c.Rows()[2].gaps.previousTail, 20);
  EXPECT_EQ(c.Gaps().size(), 3u);

  // A sheet named relative to the working folder, CR LF lines, a BOM,
  // Windows separators: the same files.
  std::string text = "\xEF\xBB\xBF";
  for (char ch : std::string(kTwoWaveTracks)) {
    if (ch == '\n') text += "\r\n";
    else text += ch;
  }
  const auto at = text.find("sub/");
  text.replace(at, 4, "sub\\");
  Sheet("windows.cue", text);
  const fs::path cwd = fs::current_path();
  fs::current_path(dir_.Path());
  Compilation relative(Temp(), dialogs_);
  const bool added = relative.AddCueSheet("windows.cue", false);
  fs::current_path(cwd);
  ASSERT_TRUE(added);
  ASSERT_EQ(relative.Rows().size(), 2u);
  EXPECT_EQ(relative.Rows()[0].Path(), "./01 Первая.wav");
  EXPECT_EQ(relative.Rows()[1].Path(), "./sub/02 Вторая.wav");
  ExpectClean();
}

TEST_F(CompilationCueTest, ASheetInCodePage1251AndAbsoluteNames) {
  const auto a = test::WriteCdWav(dir_.File("Песня.wav"), test::PatternAudio(1, 10 * 2352));
  const auto b = test::WriteCdWav(dir_.File("b.wav"), test::PatternAudio(2, 12 * 2352));
  // "Песня" in code page 1251.
  const std::string cp1251 = "\xCF\xE5\xF1\xED\xFF";
  const std::string sheet = Sheet("old.cue", "FILE \"" + cp1251 + ".wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
                                             "FILE \"" + b + "\" WAVE\n  TRACK 02 AUDIO\n    INDEX 01 00:00:00\n");
  Compilation c(Temp(), dialogs_);
  ASSERT_TRUE(c.AddCueSheet(sheet, false));
  ASSERT_EQ(c.Rows().size(), 2u);
  EXPECT_EQ(c.Rows()[0].Path(), a);
  EXPECT_EQ(c.Rows()[1].Path(), b);
  ExpectClean();
}

// Two FLAC files of a rip's sheet: listed as they are, their lengths from
// their STREAMINFO blocks, nothing decoded into the temporary folder; the
// disc written from them holds their audio, track 2's pregap the end of
// track 1's file.
TEST_F(CompilationCueTest, TwoFlacTracksAreListedAsTheyAreAndStreamedAtTheWrite) {
  if (!HaveFlac()) GTEST_SKIP() << "flac (Debian package flac) or libFLAC.so.12 is missing";
  const auto one = test::PatternAudio(1, 30 * 2352);
  const auto two = test::PatternAudio(2, 17 * 2352 + 8);
  test::WriteCdWav(dir_.File("01.wav"), one);
  test::WriteCdWav(dir_.File("02 two.wav"), two);
  int rc = -1;
  test::Run("cd " + test::Quote(dir_.Path()) + " && flac -s -f '01.wav' '02 two.wav' && rm '01.wav' '02 two.wav'", &rc);
  ASSERT_EQ(rc, 0);
  const std::string sheet = Sheet("flac.cue",
                                  "FILE \"01.flac\" FLAC\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
                                  "  TRACK 02 AUDIO\n    INDEX 00 00:00:10\n"
                                  // Other programs write WAVE for any audio file.
                                  "FILE \"02 two.flac\" WAVE\n    INDEX 01 00:00:00\n");
  // A file of the temporary folder is left alone.
  fs::create_directories(Temp());
  test::WriteCdWav(Temp() + "/01.wav", test::PatternAudio(9, 2352));
  Compilation c(Temp(), dialogs_);
  ASSERT_TRUE(c.AddCueSheet(sheet, false));
  ASSERT_EQ(c.Rows().size(), 2u);
  EXPECT_EQ(c.Rows()[0].Path(), dir_.File("01.flac"));
  EXPECT_EQ(c.Rows()[0].bytes, one.size());
  EXPECT_EQ(c.Rows()[1].Path(), dir_.File("02 two.flac"));
  EXPECT_EQ(c.Rows()[1].bytes, two.size());
  EXPECT_EQ(c.Rows()[1].gaps.previousFile, dir_.File("01.flac"));
  EXPECT_EQ(c.Rows()[1].gaps.previousTail, 20);
  EXPECT_TRUE(c.Converted().empty());
  EXPECT_EQ(Listing(Temp()), (std::vector<std::string>{"01.wav"}));
  ExpectClean();

  // Burned: the two files' audio, one after the other (the last sector
  // that is not whole left out), track 2 starting 20 sectors before the
  // end of the first file.
  test::RecordingRig rig;
  Recorder rec(rig.spti, rig.aspi, dialogs_);
  rec.Create();
  ASSERT_TRUE(rec.SelectDevice(rig.RecorderDevice()));
  ASSERT_TRUE(rec.SetFiles(c.Paths(), c.Gaps()));
  ASSERT_TRUE(rec.InitWriteProcess(false, {}));
  ASSERT_TRUE(rec.SendCUEToCD());
  std::atomic<bool> cancel{false};
  for (int k = 0; k < 2; ++k) ASSERT_TRUE(rec.WriteTrack(k, 7, cancel)) << rec.FailureText();
  ASSERT_TRUE(rec.CloseSession());
  EXPECT_EQ(rec.TrackTable(), (std::vector<std::int32_t>{0, 10, 47}));
  const auto bin = ReadFileBytes(BinPathForCue(rig.cue));
  ASSERT_TRUE(bin);
  std::string expected(one.begin(), one.end());
  expected.append(two.begin(), two.end() - 8);
  EXPECT_TRUE(bin->size() >= expected.size() && bin->compare(0, expected.size(), expected) == 0);
  ExpectClean();
}

// A FLAC file whose audio does not match its MD5 signature, or that was cut
// short: the sheet loads at once (nothing is decoded), and the write fails
// at that file naming it and the reason, before its last sector goes to
// the disc.
TEST_F(CompilationCueTest, ADamagedFlacFailsTheWriteNamingTheFile) {
  if (!HaveFlac()) GTEST_SKIP() << "flac (Debian package flac) or libFLAC.so.12 is missing";
  test::WriteCdWav(dir_.File("a.wav"), test::PatternAudio(1, 30 * 2352));
  test::WriteCdWav(dir_.File("b.wav"), test::PatternAudio(2, 300 * 2352));
  int rc = -1;
  test::Run("cd " + test::Quote(dir_.Path()) + " && flac -s -f a.wav b.wav", &rc);
  ASSERT_EQ(rc, 0);
  const auto good = test::ReadAll(dir_.File("b.flac"));
  // The MD5 signature: STREAMINFO's last 16 bytes (after "fLaC", the block
  // header and 18 bytes of figures).
  auto badSignature = good;
  badSignature[26] ^= 0x5A;
  auto cut = good;
  cut.resize(cut.size() * 2 / 3);
  struct Case {
    std::vector<std::uint8_t> bytes;
    std::string why;
  };
  const std::vector<Case> cases = {
      {badSignature, "' повреждён: подпись MD5 звука не совпадает с записанной в файле."},
      {cut, "' повреждён"},
  };
  const std::string sheet = Sheet("cut.cue",
                                  "FILE \"a.flac\" FLAC\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
                                  "FILE \"b.flac\" FLAC\n  TRACK 02 AUDIO\n    INDEX 01 00:00:00\n");
  for (const Case& k : cases) {
    SCOPED_TRACE(k.why);
    test::WriteAll(dir_.File("b.flac"), k.bytes);
    Compilation c(Temp(), dialogs_);
    ASSERT_TRUE(c.AddCueSheet(sheet, false));
    ASSERT_EQ(c.Rows().size(), 2u);
    EXPECT_EQ(c.Rows()[1].bytes, 300u * 2352);
    ExpectClean();
    test::RecordingRig rig;
    Recorder rec(rig.spti, rig.aspi, dialogs_);
    rec.Create();
    ASSERT_TRUE(rec.SelectDevice(rig.RecorderDevice()));
    ASSERT_TRUE(rec.SetFiles(c.Paths(), c.Gaps()));
    ASSERT_TRUE(rec.InitWriteProcess(false, {}));
    ASSERT_TRUE(rec.SendCUEToCD());
    std::atomic<bool> cancel{false};
    ASSERT_TRUE(rec.WriteTrack(0, 7, cancel)) << rec.FailureText();
    EXPECT_FALSE(rec.WriteTrack(1, 7, cancel));
    const std::string failure = rec.FailureText();
    EXPECT_EQ(failure.find("трек 2, файл '" + dir_.File("b.flac") + "': файл не читается: Файл FLAC '" +
                           dir_.File("b.flac") + k.why),
              0u)
        << failure;
    EXPECT_FALSE(fs::exists(Temp()));
    ExpectClean();
  }
}

TEST_F(CompilationCueTest, MarksBeyondTheirFilesAudioAddNothing) {
  test::WriteCdWav(dir_.File("a.wav"), test::PatternAudio(1, 40 * 2352));
  test::WriteCdWav(dir_.File("b.wav"), test::PatternAudio(2, 30 * 2352));
  Compilation c(Temp(), dialogs_);
  const std::string head = "FILE \"a.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n";
  struct Case {
    std::string tail, why;
  };
  const std::vector<Case> cases = {
      {"  TRACK 02 AUDIO\n    INDEX 00 00:00:41\nFILE \"b.wav\" WAVE\n    INDEX 01 00:00:00\n",
       "строка 4 CUE-файла: INDEX 00 дорожки 2 лежит за концом файла «a.wav»"},
      {"FILE \"b.wav\" WAVE\n  TRACK 02 AUDIO\n    INDEX 01 00:00:00\n    INDEX 02 00:00:30\n",
       "строка 5 CUE-файла: INDEX 02 трека лежит за концом трека (файл «b.wav»)"},
      {"FILE \"b.wav\" WAVE\n  TRACK 02 AUDIO\n    INDEX 00 00:00:00\n    INDEX 01 00:00:30\n",
       "строка 5 CUE-файла: INDEX 01 трека лежит за концом файла (файл «b.wav»)"},
      {"  TRACK 02 AUDIO\n    INDEX 00 00:00:00\nFILE \"b.wav\" WAVE\n    INDEX 01 00:00:00\n",
       "строка 2 CUE-файла: INDEX 01 трека лежит не раньше INDEX 00 следующего трека (файл «a.wav»)"},
  };
  for (const auto& k : cases) {
    const std::string sheet = Sheet("marks.cue", head + k.tail);
    ExpectRefusal(sheet, k.why);
    EXPECT_FALSE(c.AddCueSheet(sheet, false)) << k.tail;
    EXPECT_TRUE(c.Rows().empty());
    ExpectClean();
  }
}

TEST_F(CompilationCueTest, AMissingFileAddsNothingAndSaysWhichLineAndFile) {
  // The first file needs converting (22 kHz): what was made for it goes again.
  test::WriteWav(dir_.File("low.wav"), test::Tone(22050, 2, 22050), MakePcmFormat(22050, 2));
  const std::string sheet = Sheet("missing.cue",
                                  "FILE \"low.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
                                  "REM COMMENT \"ripped\"\n"
                                  "FILE \"gone.wav\" WAVE\n  TRACK 02 AUDIO\n    INDEX 01 00:00:00\n");
  Compilation c(Temp(), dialogs_);
  c.Rows().push_back(CompilationRow{"/x/", "kept.wav", 2352, 2});
  ExpectRefusal(sheet, "строка 5 CUE-файла: нет файла «gone.wav»");
  EXPECT_FALSE(c.AddCueSheet(sheet, false));
  ASSERT_EQ(c.Rows().size(), 1u);
  EXPECT_EQ(c.Rows()[0].name, "kept.wav");
  ExpectClean();

  // Not WAV or FLAC by its content: refused before anything is converted.
  WriteFileAtomically(dir_.File("gone.wav"), std::string(100, 'x'));
  ExpectRefusal(sheet, "строка 5 CUE-файла: файл «gone.wav» не является файлом WAV или FLAC");
  EXPECT_FALSE(c.AddCueSheet(sheet, false));
  ExpectClean();

  // A WAV without a data chunk: the first file is converted, then the
  // second fails, and the converted first file is deleted again.
  std::string noData = std::string("RIFF") + std::string("\x24\0\0\0", 4) + "WAVEfmt " + std::string("\x10\0\0\0", 4);
  const auto format = MakePcmFormat(44100, 2);
  noData.append(reinterpret_cast<const char*>(&format), 16);
  noData += std::string("LIST") + std::string("\x04\0\0\0", 4) + "abcd";
  WriteFileAtomically(dir_.File("gone.wav"), noData);
  ExpectRefusal(sheet, "строка 5 CUE-файла: в файле «gone.wav» нет звука, который можно записать");
  EXPECT_FALSE(c.AddCueSheet(sheet, false));
  ExpectClean();
  EXPECT_EQ(c.Rows().size(), 1u);
  EXPECT_TRUE(c.Converted().empty());
  EXPECT_EQ(Listing(Temp()), std::vector<std::string>{});

  // Compressed (not CD format) files skipped by the settings: the sheet is refused.
  test::WriteWav(dir_.File("gone.wav"), test::Tone(100, 1, 8000), MakePcmFormat(8000, 1));
  ExpectRefusal(sheet, "строка 1 CUE-файла: файл «low.wav» не в формате CD, а сжатые WAV файлы "
                       "пропускаются (настройки записи)");
  EXPECT_FALSE(c.AddCueSheet(sheet, true));
  EXPECT_EQ(c.Rows().size(), 1u);
  ExpectClean();

  // And with both usable, both come (the second converted from 8 kHz mono).
  ASSERT_TRUE(c.AddCueSheet(sheet, false));
  ASSERT_EQ(c.Rows().size(), 3u);
  EXPECT_EQ(c.Converted().size(), 2u);
  EXPECT_EQ(Listing(Temp()), (std::vector<std::string>{"gone.wav", "low.wav"}));
  ExpectClean();
}

TEST_F(CompilationCueTest, MalformedSheetsAndFilesThatAreNotRegularAddNothing) {
  const auto a = test::WriteCdWav(dir_.File("a.wav"), test::PatternAudio(1, 10 * 2352));
  Compilation c(Temp(), dialogs_);
  struct Case {
    std::string text, why;
  };
  const std::vector<Case> cases = {
      {"  TRACK 01 AUDIO\nFILE \"a.wav\" WAVE\n", "строка 1 CUE-файла: TRACK до команды FILE"},
      {"FILE \"a.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:99:00\n",
       "строка 3 CUE-файла: неверная команда INDEX"},
      {"FILE \"a.wav\" WAVE\n  TRACK 01 AUDIO\n", "у трека 1 нет INDEX 01"},
      {"", "в CUE-файле нет треков"},
      {"FILE \"a.mp3\" MP3\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n",
       "строка 1 CUE-файла: файлы типа MP3 не читаются (только WAVE и FLAC)"},
      {"FILE \"a.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n",
       "строка 1 CUE-файла: файлы типа BINARY не читаются (только WAVE и FLAC)"},
      // A whole disc in one file: not one file a track.
      {"FILE \"a.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n  TRACK 02 AUDIO\n    INDEX 01 00:00:05\n",
       "строка 1 CUE-файла: в файле «a.wav» начинается больше одной дорожки; читаются CUE-файлы с "
       "отдельным файлом для каждой дорожки"},
      // Only track 1's pregap may stand in a file of its own (a hidden track).
      {"FILE \"a.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\nFILE \"a.wav\" WAVE\n  TRACK 02 AUDIO\n"
       "    INDEX 00 00:00:00\nFILE \"a.wav\" WAVE\n    INDEX 01 00:00:00\n",
       "строка 4 CUE-файла: в файле «a.wav» не начинается ни одна дорожка (нет INDEX 01)"},
      {"FILE \"a.wav\" WAVE\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n",
       "строка 2 CUE-файла: дорожка 1 с данными; читаются только звуковые дорожки"},
      {"REM DATATRACK 2 START 100\nFILE \"a.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n",
       "строка 1 CUE-файла: неверная строка REM DATATRACK (нужно REM DATATRACK NN START LBA END LBA)"},
      {"FILE \"sub\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n",
       "строка 1 CUE-файла: «sub» не является обычным файлом"},
      {"FILE \"fifo.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n",
       "строка 1 CUE-файла: «fifo.wav» не является обычным файлом"},
  };
  fs::create_directories(dir_.File("sub"));
  ASSERT_EQ(::mkfifo(dir_.File("fifo.wav").c_str(), 0600), 0);
  for (const Case& k : cases) {
    SCOPED_TRACE(k.text);
    const std::string sheet = Sheet("bad.cue", k.text);
    ExpectRefusal(sheet, k.why);
    EXPECT_FALSE(c.AddCueSheet(sheet, false));
    EXPECT_TRUE(c.Rows().empty());
    ExpectClean();
  }
  const std::string gone = dir_.File("nothing.cue");
  ExpectRefusal(gone, "нет файла '" + gone + "'");
  EXPECT_FALSE(c.AddCueSheet(gone, false));
  ExpectClean();
  EXPECT_FALSE(fs::exists(Temp()));
  (void)a;

  EXPECT_TRUE(IsCueSheetPath("/a/b.cue"));
  EXPECT_TRUE(IsCueSheetPath("B.CUE"));
  EXPECT_FALSE(IsCueSheetPath(".cue"));
  EXPECT_FALSE(IsCueSheetPath("a.wav"));
}

TEST_F(CompilationCueTest, TheSheetsDataTrackLinesAreReadBack) {
  test::WriteCdWav(dir_.File("a.wav"), test::PatternAudio(1, 10 * 2352));
  const std::string sheet = Sheet("extra.cue",
                                  "REM DATATRACK 02 START 11410 END 11710\n"
                                  "REM DATATRACKLENGTH 00:04:00\n"
                                  "FILE \"a.wav\" WAVE\n  TRACK 01 AUDIO\n    PREGAP 00:00:02\n    INDEX 01 00:00:00\n");
  std::string error;
  const auto read = ReadAudioCueSheet(sheet, &error);
  ASSERT_TRUE(read) << error;
  ASSERT_EQ(read->tracks.size(), 1u);
  EXPECT_EQ(read->tracks[0].pregap, 2);
  EXPECT_EQ(read->tracks[0].fileLine, 3);
  EXPECT_EQ(read->tracks[0].trackLine, 4);
  EXPECT_EQ(read->tracks[0].kind, AudioCueTrack::Kind::Wave);
  ASSERT_EQ(read->dataTracks.size(), 1u);
  EXPECT_EQ(read->dataTracks[0].number, 2);
  EXPECT_EQ(read->dataTracks[0].start, 11410);
  EXPECT_EQ(read->dataTracks[0].end, 11710);
  EXPECT_EQ(read->dataTrackLength, 300);

  WriteFileAtomically(sheet, "REM DATATRACK 01 START 0 END 100\n"
                             "FILE \"a.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n");
  EXPECT_FALSE(ReadAudioCueSheet(sheet, &error));
  EXPECT_EQ(error, "строка 1 CUE-файла: дорожка 1 уже есть в CUE-файле");
}

// A sheet written on Windows names its files in another letter case than
// they have here: each name is found when exactly one file of its folder
// matches; two that differ only in case are refused, naming both.
TEST_F(CompilationCueTest, NamesInAnotherLetterCaseAreFoundWhenOnlyOneFileMatches) {
  fs::create_directories(dir_.File("Disc 1"));
  const auto a = test::WriteCdWav(dir_.File("Disc 1/track01.wav"), test::PatternAudio(1, 10 * 2352));
  const auto b = test::WriteCdWav(dir_.File("песня.wav"), test::PatternAudio(2, 12 * 2352));
  const std::string sheet = Sheet("WINDOWS.CUE",
                                  "FILE \"DISC 1\\TRACK01.WAV\" WAVE\r\n  TRACK 01 AUDIO\r\n    INDEX 01 00:00:00\r\n"
                                  "FILE \"ПЕСНЯ.Wav\" WAVE\r\n  TRACK 02 AUDIO\r\n    INDEX 01 00:00:00\r\n");
  Compilation c(Temp(), dialogs_);
  ASSERT_TRUE(c.AddCueSheet(sheet, false));
  ASSERT_EQ(c.Rows().size(), 2u);
  EXPECT_EQ(c.Rows()[0].Path(), a);
  EXPECT_EQ(c.Rows()[1].Path(), b);
  ExpectClean();

  // A second file that differs only in case: which one is meant is unclear.
  test::WriteCdWav(dir_.File("Песня.WAV"), test::PatternAudio(3, 12 * 2352));
  ExpectRefusal(sheet, "строка 4 CUE-файла: нет файла «ПЕСНЯ.Wav», а без учёта регистра букв ему "
                       "соответствуют несколько файлов в папке «" + dir_.Path() +
                       "»: «Песня.WAV», «песня.wav»; неясно, какой из них имеется в виду");
  EXPECT_FALSE(c.AddCueSheet(sheet, false));
  EXPECT_EQ(c.Rows().size(), 2u);
  ExpectClean();

  // The name as written wins over any other case.
  test::WriteCdWav(dir_.File("ПЕСНЯ.Wav"), test::PatternAudio(4, 14 * 2352));
  Compilation exact(Temp(), dialogs_);
  ASSERT_TRUE(exact.AddCueSheet(sheet, false));
  ASSERT_EQ(exact.Rows().size(), 2u);
  EXPECT_EQ(exact.Rows()[1].Path(), dir_.File("ПЕСНЯ.Wav"));
  EXPECT_EQ(exact.Rows()[1].bytes, 14u * 2352);
  ExpectClean();
}

}  // namespace
}  // namespace sonarvex

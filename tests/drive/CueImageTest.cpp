// CUE/BIN images and the list of software drives.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "drive/AudioReading.h"
#include "drive/CdText.h"
#include "drive/DiscModel.h"
#include "drive/DriveCommands.h"
#include "drive/virtual/CueImage.h"
#include "drive/virtual/DemoDisc.h"
#include "drive/virtual/VirtualDriveList.h"
#include "platform/Files.h"
#include "platform/ScriptedDialogs.h"
#include "tests/drive/CdTextBuilder.h"
#include "tests/drive/DriveRig.h"

namespace sonarvex {
namespace {

using test::DriveRig;

class CueImage : public testing::Test {
 protected:
  void SetUp() override { folder_ = test::MakeTempFolder(); }
  void TearDown() override { std::filesystem::remove_all(folder_); }
  std::string Write(const std::string& name, const std::string& data) {
    const std::string path = JoinPath(folder_, name);
    WriteFileAtomically(path, data);
    return path;
  }
  // The sheet's disc as the window reads it from a software drive.
  DiscView ReadImage(const std::string& cue, AlbumRecord& album) {
    std::string error;
    auto drive = VirtualDrive::FromCueImage(cue, &error);
    EXPECT_TRUE(drive->HasDisc()) << error;
    DriveRig rig;
    rig.directory.AddVirtual(drive);
    ScriptedDialogs dialogs;
    return ReadDisc(rig.spti, 0, 0, dialogs, album);
  }
  std::string folder_;
};

TEST_F(CueImage, DemoDiscTrackListMatchesItsTable) {
  const std::string cue = WriteDemoDisc(folder_);
  ASSERT_FALSE(cue.empty());
  std::string error;
  auto drive = VirtualDrive::FromCueImage(cue, &error);
  ASSERT_TRUE(drive->HasDisc()) << error;
  DriveRig rig;
  rig.directory.AddVirtual(drive);
  ScriptedDialogs dialogs;
  AlbumRecord album;
  const DiscView view = ReadDisc(rig.spti, 0, 0, dialogs, album);
  ASSERT_TRUE(view.present);
  EXPECT_EQ(view.trackPanel, "Треков: 5");
  ASSERT_EQ(view.rows.size(), 5u);
  const char* times[] = {"00:12:00", "00:09:00", "00:15:00", "00:10:00"};
  const char* sizes[] = {"2.02 Мб", "1.51 Мб", "2.52 Мб", "1.68 Мб"};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(view.rows[static_cast<std::size_t>(i)].caption, "Track" + std::to_string(i + 1));
    EXPECT_EQ(view.rows[static_cast<std::size_t>(i)].time, times[i]);
    EXPECT_EQ(view.rows[static_cast<std::size_t>(i)].size, sizes[i]);
  }
  EXPECT_EQ(view.rows[4].caption, "DataTrack");
  EXPECT_EQ(album.Tracks[4].StartSector, 3450);
  EXPECT_EQ(album.Tracks[1].StartSector, 900);
  // The raw table: the data track of the second session after the gap.
  ASSERT_EQ(view.toc.TrackCount(), 5);
  EXPECT_EQ(view.toc.tracks[4].control, 4);
  EXPECT_EQ(view.toc.tracks[4].Frames(), 3450 + 11400 + 150);
  EXPECT_EQ(view.timePanel, "Время: 0:52:0");

  // The audio comes from the BIN file, track 2 at its offset.
  auto bin = ReadFileBytes(JoinPath(folder_, kDemoBinName));
  ASSERT_TRUE(bin);
  std::vector<std::uint8_t> got;
  ASSERT_TRUE(ReadAudioSectors(rig.spti, 900, 675, 26, got));
  EXPECT_EQ(0, std::memcmp(got.data(), bin->data() + 900 * 2352, got.size()));
}

TEST_F(CueImage, ParserLayout) {
  std::string error;
  auto sheet = ParseCueSheet(
      "FILE \"a.bin\" BINARY\n"
      "  TRACK 01 AUDIO\n    FLAGS PRE DCP\n    INDEX 01 00:00:00\n"
      "  TRACK 02 AUDIO\n    INDEX 00 00:10:00\n    INDEX 01 00:12:00\n"
      "FILE \"b.bin\" MOTOROLA\n"
      "  TRACK 03 AUDIO\n    PREGAP 00:02:00\n    INDEX 01 00:00:00\n    POSTGAP 00:01:00\n"
      "REM SESSION 02\n"
      "FILE \"c.bin\" BINARY\n  TRACK 04 MODE1/2048\n    INDEX 01 00:00:00\n",
      &error);
  ASSERT_TRUE(sheet) << error;
  ASSERT_EQ(sheet->tracks.size(), 4u);
  EXPECT_EQ(sheet->tracks[0].flags, 0x03);
  EXPECT_TRUE(sheet->files[1].bigEndian);
  auto layout = LayoutCueSheet(*sheet, {2352u * 75 * 20, 2352u * 750, 2048u * 300}, &error);
  ASSERT_TRUE(layout) << error;
  const auto& t = layout->tracks;
  EXPECT_EQ(t[0].startLba, 0);
  EXPECT_EQ(t[0].control, 0x03);
  EXPECT_EQ(t[0].sectors, 900);  // runs to track 2's INDEX 01, its pregap included
  EXPECT_EQ(t[1].startLba, 900);
  EXPECT_EQ(t[1].sectors, 1500 - 900 + 150);  // to the end of a.bin plus track 3's PREGAP
  EXPECT_EQ(t[2].startLba, 1500 + 150);
  EXPECT_EQ(t[2].sectors, 750 + 75);
  EXPECT_EQ(t[3].session, 2);
  EXPECT_EQ(t[3].startLba, 1500 + 150 + 750 + 75 + 11400);
  EXPECT_EQ(t[3].control, 4);
  EXPECT_EQ(layout->leadOutLba, t[3].startLba + 300);
}

// A BIN whose every sample holds the number of its sector from `first` on.
std::string NumberedSectors(int first, int count) {
  std::string bin(static_cast<std::size_t>(count) * 2352, '\0');
  for (int s = 0; s < count; ++s) {
    const int value = first + s;
    for (int i = 0; i < 2352; i += 4) std::memcpy(&bin[static_cast<std::size_t>(s) * 2352 + i], &value, 4);
  }
  return bin;
}

// The first sample of each sector the drive returns for the LBAs.
std::vector<int> SectorNumbers(Transport& t, std::int32_t first, std::int32_t count) {
  std::vector<std::uint8_t> got;
  std::vector<int> numbers;
  if (!ReadAudioSectors(t, first, count, 26, got)) return numbers;
  for (std::int32_t s = 0; s < count; ++s) {
    int v;
    std::memcpy(&v, got.data() + 2352 * s, 4);
    numbers.push_back(v);
  }
  return numbers;
}

std::vector<int> Range(int first, int count) {
  std::vector<int> r;
  for (int i = 0; i < count; ++i) r.push_back(first + i);
  return r;
}

TEST_F(CueImage, AudioBeforeAFirstIndex01IsTheFirstTracksPregap) {
  Write("late.bin", NumberedSectors(0, 1000));
  const std::string cue = Write("late.cue",
                                "FILE \"late.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:02:00\n"
                                "  TRACK 02 AUDIO\n    INDEX 01 00:08:00\n");
  std::string error;
  auto drive = VirtualDrive::FromCueImage(cue, &error);
  ASSERT_TRUE(drive->HasDisc()) << error;
  DriveRig rig;
  rig.directory.AddVirtual(drive);
  ScriptedDialogs dialogs;
  AlbumRecord album;
  ASSERT_TRUE(rig.aspi.Load());
  ASSERT_EQ(rig.aspi.Enumerate(), 1);
  const DiscView view = ReadDisc(rig.aspi, 0, 0, dialogs, album);
  ASSERT_EQ(view.trackCount, 2);
  // Track 1 at 00:04:00, track 2 at 00:10:00, the lead-out after all 1000.
  EXPECT_EQ(album.FirstTrackOffset, 300);
  EXPECT_EQ(MsfToFrames(album.Tracks[1].Start), 750);
  EXPECT_EQ(MsfToFrames(album.Tracks[2].Start), 1150);
  Transport& t = rig.aspi;
  EXPECT_EQ(SectorNumbers(t, 0, 1000), Range(0, 1000));  // the pregap too
  EXPECT_EQ(SectorNumbers(t, 150 + album.Tracks[0].StartSector, 450), Range(150, 450));
}

TEST_F(CueImage, MultiFileSheetWithAPregapAtTheEndOfTheFileBefore) {
  // Track 2's INDEX 00 lies in a.bin, its INDEX 01 in b.bin; track 3 has
  // 2 s of b.bin before its INDEX 01 and no INDEX 00.
  Write("a.bin", NumberedSectors(0, 1000));
  Write("b.bin", NumberedSectors(1000, 500));
  Write("c.bin", NumberedSectors(1500, 400));
  const std::string sheet =
      "FILE \"a.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
      "  TRACK 02 AUDIO\n    INDEX 00 00:10:00\n"
      "FILE \"b.bin\" BINARY\n    INDEX 01 00:02:00\n"
      "FILE \"c.bin\" BINARY\n  TRACK 03 AUDIO\n    INDEX 01 00:02:00\n";
  const std::string cue = Write("multi.cue", sheet);
  std::string error;
  auto disc = LoadCueImage(cue, &error);
  ASSERT_TRUE(disc) << error;
  ASSERT_EQ(disc->tracks.size(), 3u);
  EXPECT_EQ(disc->tracks[0].startLba, 0);
  EXPECT_EQ(disc->tracks[1].startLba, 1150);
  EXPECT_EQ(disc->tracks[2].startLba, 1650);
  EXPECT_EQ(disc->leadOutLba, 1900);
  DriveRig rig({*disc});
  Transport& t = rig.Get(TransportKind::Spti);
  EXPECT_EQ(SectorNumbers(t, 0, 1900), Range(0, 1900));  // nothing dropped, nothing doubled
  ScriptedDialogs dialogs;
  AlbumRecord album;
  ReadDisc(t, 0, 0, dialogs, album);
  EXPECT_EQ(album.Tracks[0].Size, 1150u * 2352u);
  EXPECT_EQ(album.Tracks[1].Size, 500u * 2352u);
  EXPECT_EQ(album.Tracks[2].Size, 250u * 2352u);

  // The same sheet with CR LF or lone CR line ends reads the same.
  for (const char* eol : {"\r\n", "\r"}) {
    std::string text = sheet;
    for (std::size_t at = 0; (at = text.find('\n', at)) != std::string::npos; at += std::strlen(eol))
      text.replace(at, 1, eol);
    auto other = LoadCueImage(Write("eol.cue", text), &error);
    ASSERT_TRUE(other) << error;
    ASSERT_EQ(other->tracks.size(), 3u);
    for (int k = 0; k < 3; ++k) EXPECT_EQ(other->tracks[k].startLba, disc->tracks[k].startLba);
    EXPECT_EQ(other->leadOutLba, 1900);
  }
}

TEST_F(CueImage, FlagsGiveTheControlNibble) {
  std::string error;
  auto sheet = ParseCueSheet(
      "FILE \"a.bin\" BINARY\n"
      "  TRACK 01 AUDIO\n    FLAGS DCP PRE\n    INDEX 01 00:00:00\n"
      "  TRACK 02 AUDIO\n    FLAGS 4CH DCP\n    INDEX 01 00:01:00\n"
      "  TRACK 03 MODE1/2352\n    FLAGS DCP\n    INDEX 01 00:02:00\n",
      &error);
  ASSERT_TRUE(sheet) << error;
  auto layout = LayoutCueSheet(*sheet, {2352u * 300}, &error);
  ASSERT_TRUE(layout) << error;
  EXPECT_EQ(layout->tracks[0].control, 0x03);
  EXPECT_EQ(layout->tracks[1].control, 0x0A);
  EXPECT_EQ(layout->tracks[2].control, 0x06);
  EXPECT_TRUE(layout->tracks[0].Audio());
  EXPECT_TRUE(layout->tracks[1].Audio());
  EXPECT_FALSE(layout->tracks[2].Audio());
}

// A sheet's TITLE and PERFORMER lines are the disc's CD-Text: the software
// drive answers READ TOC format 5 with the packs a disc burnt from the sheet
// carries, on both transports.
TEST_F(CueImage, TitleAndPerformerLinesAreTheDiscsCdText) {
  Write("a.bin", std::string(2352u * 300, '\0'));
  const std::string cue = Write(
      "a.cue",
      "PERFORMER \"Orchestre de Chambre\"\nTITLE \"Les Chansons d'été\"\n"
      "FILE \"a.bin\" BINARY\n"
      "  TRACK 01 AUDIO\n    TITLE \"Première\"\n    PERFORMER \"Soliste\"\n    INDEX 01 00:00:00\n"
      "  TRACK 02 AUDIO\n    TITLE \"A title long enough to run over two packs\"\n"
      "    PERFORMER \"Soliste\"\n    INDEX 01 00:01:00\n"
      "  TRACK 03 AUDIO\n    TITLE \"Зима\"\n    INDEX 01 00:02:00\n");
  std::string error;
  auto drive = VirtualDrive::FromCueImage(cue, &error);
  ASSERT_TRUE(drive->HasDisc()) << error;
  DriveRig rig;
  rig.directory.AddVirtual(drive);
  rig.aspi.Unload();
  rig.aspi.Load();
  rig.aspi.Enumerate();
  for (TransportKind kind : {TransportKind::Spti, TransportKind::Aspi}) {
    Transport& t = rig.Get(kind);
    // The packs as the drive gives them carry CRCs of the standard's kind.
    std::vector<std::uint8_t> answer(kCdTextAnswerLength, 0xEE);
    ASSERT_TRUE(t.Succeeded(t.Execute(cdb::ReadCdText(), answer.data())));
    const std::size_t length = (answer[0] << 8 | answer[1]) + 2u;
    ASSERT_GT(length, 4u);
    ASSERT_EQ((length - 4) % 18, 0u);
    for (std::size_t at = 4; at < length; at += 18)
      EXPECT_EQ(test::BitwisePackCrc(&answer[at], 16), answer[at + 16] << 8 | answer[at + 17]);
    EXPECT_EQ(answer[length], 0xEE);  // nothing beyond the answer

    const auto text = ReadCdText(t);
    ASSERT_TRUE(text);
    EXPECT_EQ(text->title, "Les Chansons d'été");
    EXPECT_EQ(text->performer, "Orchestre de Chambre");
    ASSERT_TRUE(text->Track(1) && text->Track(2) && text->Track(3));
    EXPECT_EQ(text->Track(1)->title, "Première");
    EXPECT_EQ(text->Track(2)->title, "A title long enough to run over two packs");
    EXPECT_EQ(text->Track(2)->performer, "Soliste");
    // ISO 8859-1 has no Cyrillic letters: a disc shows "?" for each.
    EXPECT_EQ(text->Track(3)->title, "????");
    EXPECT_EQ(text->Track(3)->performer, "");
  }
}

TEST_F(CueImage, ASheetWithoutTitlesHasNoCdText) {
  Write("a.bin", std::string(2352u * 300, '\0'));
  const std::string cue =
      Write("a.cue", "FILE \"a.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n");
  std::string error;
  auto drive = VirtualDrive::FromCueImage(cue, &error);
  ASSERT_TRUE(drive->HasDisc()) << error;
  DriveRig rig;
  rig.directory.AddVirtual(drive);
  Transport& t = rig.Get(TransportKind::Spti);
  std::vector<std::uint8_t> answer(kCdTextAnswerLength, 0);
  // ILLEGAL REQUEST, INVALID FIELD IN CDB, as drives answer for such a disc.
  EXPECT_FALSE(t.Succeeded(t.Execute(cdb::ReadCdText(), answer.data())));
  EXPECT_EQ(SenseKey(t.LastSense().data()), 5);
  EXPECT_EQ(t.LastSense()[12], 0x24);
  EXPECT_FALSE(ReadCdText(t));
  // The table of contents is read as before.
  std::uint8_t toc[kTocLength] = {};
  EXPECT_TRUE(t.Succeeded(ReadTOC(t, toc)));
}

TEST_F(CueImage, MissingOrShortBinFile) {
  std::string error;
  const std::string cue = Write("x.cue",
                                "FILE \"x.bin\" BINARY\n TRACK 01 AUDIO\n INDEX 01 00:00:00\n"
                                " TRACK 02 AUDIO\n INDEX 01 00:10:00\n");
  EXPECT_FALSE(LoadCueImage(cue, &error));
  EXPECT_EQ(error, "нет файла «x.bin», указанного в CUE-файле");
  Write("x.bin", std::string(2352 * 100, '\0'));  // 100 sectors, track 2 starts at 750
  EXPECT_FALSE(LoadCueImage(cue, &error));
  EXPECT_EQ(error, "файл «x.bin» короче, чем указано в CUE-файле");
  Write("x.bin", std::string(2352 * 1000 + 17, '\1'));  // a partial last sector is dropped
  auto disc = LoadCueImage(cue, &error);
  ASSERT_TRUE(disc) << error;
  EXPECT_EQ(disc->leadOutLba, 1000);

  // A BIN that shrinks after the image was loaded: reads fail, nothing else.
  auto drive = VirtualDrive::FromCueImage(cue, &error);
  DriveRig rig;
  rig.directory.AddVirtual(drive);
  ASSERT_TRUE(rig.aspi.Load());
  ASSERT_EQ(rig.aspi.Enumerate(), 1);
  ASSERT_TRUE(rig.aspi.SelectDevice(0, 0));
  std::filesystem::resize_file(JoinPath(folder_, "x.bin"), 2352 * 10);
  std::vector<std::uint8_t> got;
  EXPECT_TRUE(ReadAudioSectors(rig.aspi, 0, 5, 5, got));
  EXPECT_FALSE(ReadAudioSectors(rig.aspi, 900, 5, 5, got));
  // Closing the tray loads the image again; now it no longer fits its sheet.
  StartStopUnit(rig.aspi, true);
  StartStopUnit(rig.aspi, false);
  EXPECT_FALSE(drive->HasDisc());
  EXPECT_FALSE(rig.aspi.TestUnitReady());
}

TEST_F(CueImage, BigEndianAudioIsSwapped) {
  std::string bin(2352, '\0');
  bin[0] = 1;
  bin[1] = 2;
  Write("m.bin", bin);
  const std::string cue = Write("m.cue", "FILE \"m.bin\" MOTOROLA\n TRACK 01 AUDIO\n INDEX 01 00:00:00\n");
  std::string error;
  auto disc = LoadCueImage(cue, &error);
  ASSERT_TRUE(disc) << error;
  std::uint8_t sector[2352];
  ASSERT_TRUE(disc->read(0, sector));
  EXPECT_EQ(sector[0], 2);
  EXPECT_EQ(sector[1], 1);
}

TEST_F(CueImage, VirtualDriveList) {
  const std::string cue = WriteDemoDisc(JoinPath(folder_, "setting/demo"));
  const auto parsed = ParseVirtualDriveList(
      "# drives\n\n  setting/demo/demo.cue  \r\nburn: out/new.cue\nburnrw:/abs/rw.cue\nburn:\n"
      "missing.cue\n",
      folder_);
  ASSERT_EQ(parsed.entries.size(), 4u);
  EXPECT_EQ(parsed.entries[0].path, cue);
  EXPECT_EQ(parsed.entries[0].line, 3);
  EXPECT_EQ(parsed.entries[1].kind, VirtualDriveLine::Kind::Burn);
  EXPECT_EQ(parsed.entries[1].path, JoinPath(folder_, "out/new.cue"));
  EXPECT_EQ(parsed.entries[2].kind, VirtualDriveLine::Kind::BurnRw);
  EXPECT_EQ(parsed.entries[2].path, "/abs/rw.cue");
  ASSERT_EQ(parsed.problems.size(), 1u);
  EXPECT_EQ(parsed.problems[0], "строка 6: не указан путь к CUE-файлу");

  WriteFileAtomically(JoinPath(folder_, kVirtualDriveListName),
                      "setting/demo/demo.cue\nmissing.cue\nburn:out.cue\n");
  DeviceDirectory directory(false);
  ScriptedDialogs dialogs;
  dialogs.ExpectMessage("Не подключены виртуальные приводы из setting/vdrives.lst:\nстрока 2: нет файла «" +
                            JoinPath(folder_, "missing.cue") + "»",
                        "Sonarvex v3.2", MsgIcon::Warning, MsgButtons::Ok);
  EXPECT_EQ(LoadVirtualDrives(folder_, directory, dialogs), 2);
  std::string why;
  EXPECT_TRUE(dialogs.Clean(&why)) << why;
  ASSERT_EQ(directory.PassThroughCount(), 2);
  EXPECT_TRUE(directory.VirtualDrives()[0]->HasDisc());
  EXPECT_EQ(directory.VirtualDrives()[1]->BurnTarget(), JoinPath(folder_, "out.cue"));
  // The program folder without a list: nothing, no message.
  DeviceDirectory none(false);
  ScriptedDialogs quiet;
  EXPECT_EQ(LoadVirtualDrives(JoinPath(folder_, "nowhere"), none, quiet), 0);
  EXPECT_TRUE(quiet.Clean());
}

// Sheets from libcdio's test data (tests/data/libcdio/README.md); their BIN
// files are made here, silent, at their real size.
class LibcdioSheet : public CueImage {
 protected:
  std::string Sheet(const std::string& name) {
    auto text = ReadFileBytes(std::string(SONARVEX_SOURCE_DIR) + "/tests/data/libcdio/" + name);
    if (!text) return "";
    return Write(name, *text);
  }
  void Bin(const std::string& name, std::uint64_t bytes = 710304) {
    std::filesystem::resize_file(Write(name, ""), bytes);
  }
};

// cdda.cue was written on Windows: it names CDDA.BIN for cdda.bin, which
// cd-info reads as one audio track at LSN 0 with the lead-out at 302.
TEST_F(LibcdioSheet, ANameInAnotherLetterCaseIsTheOneFileThatMatches) {
  const std::string cue = Sheet("cdda.cue");
  ASSERT_FALSE(cue.empty());
  Bin("cdda.bin");
  std::string error;
  auto disc = LoadCueImage(cue, &error);
  ASSERT_TRUE(disc) << error;
  ASSERT_EQ(disc->tracks.size(), 1u);
  EXPECT_EQ(disc->tracks[0].number, 1);
  EXPECT_EQ(disc->tracks[0].startLba, 0);
  EXPECT_EQ(disc->leadOutLba, 302);
  EXPECT_EQ(disc->catalog, "0000010271955");

  AlbumRecord album;
  const DiscView view = ReadImage(cue, album);
  ASSERT_TRUE(view.present);
  EXPECT_EQ(view.trackPanel, "Треков: 1");
  EXPECT_EQ(view.timePanel, "Время: 0:6:2");  // cd-info: leadout 00:06:02
  EXPECT_EQ(album.FirstTrackNumber, 0);  // track 1: the album file as ever
  EXPECT_EQ(view.rows[0].caption, "Track1");

  // Two files that differ from the name only in case: neither is taken.
  Bin("Cdda.bin");
  EXPECT_FALSE(LoadCueImage(cue, &error));
  EXPECT_EQ(error, "нет файла «CDDA.BIN», а без учёта регистра букв ему соответствуют несколько файлов в папке «" +
                       folder_ + "»: «Cdda.bin», «cdda.bin»; неясно, какой из них имеется в виду (указан в CUE-файле)");
  // The name as written is taken as it is.
  Bin("CDDA.BIN", 2352 * 10);
  disc = LoadCueImage(cue, &error);
  ASSERT_TRUE(disc) << error;
  EXPECT_EQ(disc->leadOutLba, 10);
}

// p1.cue names BOING.BIN; only a folder (not a file) of another case, and
// then nothing at all, leaves it missing as before.
TEST_F(LibcdioSheet, AFolderOfTheNameOrNothingLeavesTheFileMissing) {
  const std::string cue = Sheet("p1.cue");
  ASSERT_FALSE(cue.empty());
  std::string error;
  EXPECT_FALSE(LoadCueImage(cue, &error));
  EXPECT_EQ(error, "нет файла «BOING.BIN», указанного в CUE-файле");
  std::filesystem::create_directory(JoinPath(folder_, "boing.bin"));
  EXPECT_FALSE(LoadCueImage(cue, &error));
  EXPECT_EQ(error, "нет файла «BOING.BIN», указанного в CUE-файле");
  std::filesystem::remove(JoinPath(folder_, "boing.bin"));
  Bin("Boing.Bin");
  auto disc = LoadCueImage(cue, &error);
  ASSERT_TRUE(disc) << error;
  ASSERT_EQ(disc->tracks.size(), 2u);
  EXPECT_EQ(disc->tracks[1].startLba, 225);  // INDEX 01 00:03:00
}

// cdda_4_5.cue numbers its tracks 4 and 5; cd-info lists them as 4 at LSN
// 0 and 5 at LSN 150, the lead-out at 302. The rows and the record keep the
// disc's numbers.
TEST_F(LibcdioSheet, ADiscNumberedFromFourKeepsItsNumbers) {
  const std::string cue = Sheet("cdda_4_5.cue");
  ASSERT_FALSE(cue.empty());
  Bin("cdda_4_5.bin");
  AlbumRecord album;
  const DiscView view = ReadImage(cue, album);
  ASSERT_TRUE(view.present);
  ASSERT_EQ(view.toc.TrackCount(), 2);
  EXPECT_EQ(view.toc.firstTrack, 4);
  EXPECT_EQ(view.toc.lastTrack, 5);
  EXPECT_EQ(view.toc.tracks[0].number, 4);
  EXPECT_EQ(view.toc.tracks[0].startLba, 0);
  EXPECT_EQ(view.toc.tracks[1].number, 5);
  EXPECT_EQ(view.toc.tracks[1].startLba, 150);
  EXPECT_EQ(view.toc.leadOut.startLba, 302);
  EXPECT_EQ(view.trackPanel, "Треков: 2");
  ASSERT_EQ(view.rows.size(), 2u);
  EXPECT_EQ(view.rows[0].caption, "Track4");
  EXPECT_EQ(view.rows[1].caption, "Track5");
  EXPECT_EQ(album.FirstTrackNumber, 4);
  EXPECT_EQ(TrackNumberOfRow(album, 1), 5);
  EXPECT_EQ(album.Tracks[1].StartSector, 150);
}


// whipper's Surfer Rosa (tests/data/whipper/README.md): EAC's two sheets of
// one WAV file a track, read as BIN files of the track lengths of the disc's
// table of contents (surferrosa.toc), are the disc EAC and whipper know:
// track 1 after 32 sectors of pregap, track 3 after 45, track 11 with its
// INDEX 02 at 00:44:70, and CDDB identifier 350CAA15.
class SurferRosa : public CueImage, public testing::WithParamInterface<const char*> {};

TEST_P(SurferRosa, SheetsGiveTheDiscsTableIndexPointsAndCddbId) {
  const std::string data = std::string(SONARVEX_SOURCE_DIR) + "/tests/data/whipper/";
  auto toc = ReadFileBytes(data + "surferrosa.toc");
  auto sheet = ReadFileBytes(data + "surferrosa.eac." + GetParam() + ".cue");
  ASSERT_TRUE(toc && sheet);
  // The toc's tracks: FILE "data.wav" <start> <length>.
  std::vector<std::int32_t> lengths;
  for (std::size_t at = toc->find("FILE \"data.wav\" "); at != std::string::npos;
       at = toc->find("FILE \"data.wav\" ", at + 1)) {
    const std::string line = toc->substr(at, toc->find('\n', at) - at);
    const std::string msf = line.substr(line.rfind(' ') + 1);
    lengths.push_back(std::stoi(msf.substr(0, 2)) * 4500 + std::stoi(msf.substr(3, 2)) * 75 +
                      std::stoi(msf.substr(6, 2)));
  }
  ASSERT_EQ(lengths.size(), 21u);
  const bool currentGap = std::string(GetParam()) == "currentgap";
  // Track 3's first 45 sectors (the toc's START 00:00:45) are its pregap:
  // at the end of track 2's file, or left out (PREGAP).
  lengths[2] -= 45;
  if (currentGap) lengths[1] += 45;
  std::string text = *sheet;
  std::size_t file = 0;
  for (std::size_t at = text.find("FILE \""); at != std::string::npos; at = text.find("FILE \"", at + 1), ++file) {
    const std::size_t end = text.find('"', at + 6);
    std::string name = text.substr(at + 6, end - at - 6);
    for (char& c : name)
      if (c == '\\') c = '/';
    std::filesystem::create_directories(std::filesystem::path(JoinPath(folder_, name)).parent_path());
    std::filesystem::resize_file(Write(name.substr(0, name.size() - 4) + ".bin", ""),
                                 static_cast<std::uint64_t>(lengths[file]) * 2352);
  }
  for (std::size_t at = text.find(".wav\" WAVE"); at != std::string::npos; at = text.find(".wav\" WAVE", at))
    text.replace(at, 10, ".bin\" BINARY");
  const std::string cue = Write("surferrosa.cue", text);

  std::string error;
  auto disc = LoadCueImage(cue, &error);
  ASSERT_TRUE(disc) << error;
  ASSERT_EQ(disc->tracks.size(), 21u);
  EXPECT_EQ(disc->tracks[0].startLba, 32);
  EXPECT_EQ(disc->tracks[2].pregapSectors, 45);
  EXPECT_EQ(disc->tracks[10].startLba, 111257);
  EXPECT_EQ(disc->tracks[10].indexLbas, (std::vector<std::int32_t>{111257 + 3370}));
  for (std::size_t k = 0; k < 21; ++k)
    if (k != 10) {
      EXPECT_TRUE(disc->tracks[k].indexLbas.empty()) << "track " << k + 1;
    }
  // The Q sub-channel: index 2 from INDEX 02 on, the time still from INDEX 01.
  std::uint8_t q[16];
  FormattedSubQ(*disc, 111257 + 3369, q);
  EXPECT_EQ(q[2], 0x01);
  FormattedSubQ(*disc, 111257 + 3370, q);
  EXPECT_EQ(q[2], 0x02);
  EXPECT_EQ(q[4], 0x44);
  EXPECT_EQ(q[5], 0x70);

  AlbumRecord album;
  const DiscView view = ReadImage(cue, album);
  ASSERT_TRUE(view.present);
  EXPECT_EQ(CddbDiscId(view.toc), 0x350CAA15u);
}

INSTANTIATE_TEST_SUITE_P(EacSheets, SurferRosa, testing::Values("currentgap", "leftout"));

TEST_F(CueImage, LaterIndexPointsAreNumberedInOrder) {
  std::string error;
  auto sheet = ParseCueSheet("FILE \"a.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
                             "    INDEX 02 00:01:00\n    INDEX 03 00:02:00\n",
                             &error);
  ASSERT_TRUE(sheet) << error;
  ASSERT_EQ(sheet->tracks[0].indices.size(), 2u);
  EXPECT_EQ(sheet->tracks[0].indices[1].number, 3);
  EXPECT_EQ(sheet->tracks[0].indices[1].frames, 150);
  EXPECT_FALSE(ParseCueSheet("FILE \"a.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
                             "    INDEX 03 00:01:00\n",
                             &error));
  EXPECT_EQ(error, "строка 4 CUE-файла: INDEX 03 не по порядку (ожидался INDEX 02)");
  // An index point going back in its file is refused by the layout.
  sheet = ParseCueSheet("FILE \"a.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:02:00\n"
                        "    INDEX 02 00:01:00\n",
                        &error);
  ASSERT_TRUE(sheet) << error;
  EXPECT_FALSE(LayoutCueSheet(*sheet, {2352u * 1000}, &error));
}
}  // namespace
}  // namespace sonarvex

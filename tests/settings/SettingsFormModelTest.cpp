#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>

#include "settings/SettingsFormModel.h"
#include "settings/SettingsFormRules.h"
#include "platform/Cp1251.h"
#include "platform/ScriptedDialogs.h"
#include "records/TextFields.h"
#include "tests/settings/SettingsDialogTest.h"

namespace sonarvex {
namespace {

class ModelTest : public SettingsDialogTest {
 protected:
  std::unique_ptr<SettingsFormModel> Open() {
    return std::make_unique<SettingsFormModel>(settings_, album_, tags_, host_, host_, dialogs_);
  }
};

TEST_F(ModelTest, CancelChangesNothingButTheTwoDocumentedCases) {
  const SettingsRecord before = settings_;
  const AlbumRecord albumBefore = album_;
  {
    auto m = Open();
    m->Controls().CBMaxSpeed = true;
    m->Range().MoveStart(100);  // edits the album copy only
  }                             // cancelled
  EXPECT_TRUE(SameSettings(before));
  EXPECT_EQ(std::memcmp(&album_, &albumBefore, sizeof album_), 0);

  // A stored DecodeFilesAtOnce outside 1..10 becomes 1 at once.
  settings_.DecodeFilesAtOnce = 0;
  {
    auto m = Open();
    EXPECT_EQ(m->Controls().DecodeFileBox, 0);
  }
  EXPECT_EQ(settings_.DecodeFilesAtOnce, 1);
  settings_.DecodeFilesAtOnce = 11;
  Open();
  EXPECT_EQ(settings_.DecodeFilesAtOnce, 1);

  // The range play switches digital playback off in the live settings.
  settings_.DigitalPlayback = 1;
  {
    auto m = Open();
    m->ShowTrack(0);
    m->PlayRange();
  }
  EXPECT_EQ(settings_.DigitalPlayback, 0);
  ASSERT_EQ(host_.plays.size(), 1u);
}

TEST_F(ModelTest, OkWithoutChangesKeepsEveryField) {
  settings_.UseSpti = 1;
  settings_.DriveTypes[1] = 5;
  settings_.DriveIndex = 1;
  settings_.Lame.VbrMethod = 2;
  settings_.Lame.VbrEnabled = 1;
  settings_.Lame.Preset = 5000;
  settings_.OggQuality = 350;
  settings_.SettingsPage = 4;
  SetField(settings_.FormatString, "%N %T");
  SetField(settings_.ProxyHost, "proxy");
  settings_.ProxyEnabled = 1;
  const SettingsRecord before = settings_;
  auto m = Open();
  ASSERT_TRUE(m->Ok());
  EXPECT_TRUE(SameSettings(before));
  ASSERT_TRUE(host_.storedExtensions);
  EXPECT_EQ(*host_.storedExtensions, host_.extensions);
}

TEST_F(ModelTest, SpeedProxyNamingAndToolbarFields) {
  auto m = Open();
  m->Controls().CBMaxSpeed = true;
  ASSERT_TRUE(m->Ok());
  EXPECT_EQ(settings_.ReadSpeed, 255);
  m = Open();
  EXPECT_TRUE(m->Controls().CBMaxSpeed);
  EXPECT_EQ(m->Controls().SpeedBox, 49);
  m->Controls().CBMaxSpeed = false;
  m->Controls().SpeedBox = 2;
  ASSERT_TRUE(m->Ok());
  EXPECT_EQ(settings_.ReadSpeed, 3);

  m = Open();
  m->Controls().ProxyEdit = "proxy.local";
  m->Controls().PortEdit = "3128";
  ASSERT_TRUE(m->Ok());
  EXPECT_EQ(settings_.ProxyEnabled, 1);
  EXPECT_EQ(FieldText(settings_.ProxyHost), "proxy.local");
  EXPECT_EQ(settings_.ProxyPort, 3128);
  m = Open();
  m->Controls().ProxyEdit = "";
  m->Controls().PortEdit = "";  // an empty port keeps the stored one
  ASSERT_TRUE(m->Ok());
  EXPECT_EQ(settings_.ProxyEnabled, 0);
  EXPECT_EQ(settings_.ProxyPort, 3128);
  m = Open();
  m->Controls().PortEdit = "http";
  ASSERT_TRUE(m->Ok());
  EXPECT_EQ(settings_.ProxyPort, 80);

  // None of the four name boxes: the title is used.
  m = Open();
  m->Controls().File_UseTrackName = false;
  m->Controls().File_UseAlbumName = false;
  m->Controls().File_UseArtistName = false;
  m->Controls().File_UseTrackNum = false;
  ASSERT_TRUE(m->Ok());
  EXPECT_EQ(settings_.NameHasTitle, 1);

  m = Open();
  m->Controls().ShowWMA = false;
  m->Controls().MP3AsOGGBox = true;
  m->Controls().PageControl1 = 6;
  m->Controls().PageControl2 = 3;
  ASSERT_TRUE(m->Ok());
  EXPECT_EQ(settings_.ShowWmaButton, 0);
  EXPECT_EQ(settings_.Mp3AsOgg, 1);
  EXPECT_EQ(settings_.SettingsPage, 6);
  EXPECT_EQ(settings_.OutputKind, 3);
}

TEST_F(ModelTest, EmptyServerGetsTheDefaultHost) {
  SetField(settings_.CddbHost, "");
  SetField(settings_.CddbPath, "");
  auto m = Open();
  EXPECT_EQ(m->Controls().ServerEdit, kDefaultCddbHost);
  EXPECT_EQ(m->Controls().PathEdit, "/~cddb/cddb.cgi");
  EXPECT_EQ(m->Controls().NumSecReadEdit, "26");
  settings_.SectorsPerRead = 0;
  m = Open();
  EXPECT_EQ(m->Controls().NumSecReadEdit, "26");
}

TEST_F(ModelTest, FormatStringRejectedKeepsTheDialogOpenWithNothingStored) {
  const SettingsRecord before = settings_;
  for (const char* bad : {"", "%A\\", "%A%", "plain"}) {
    auto m = Open();
    m->Controls().UseFormatString = true;
    m->Controls().FormatEdit = bad;
    m->Controls().CBMaxSpeed = true;
    dialogs_.ExpectMessage(kBadFormatMessage, "Sonarvex", MsgIcon::Information, MsgButtons::Ok);
    std::string failed;
    EXPECT_FALSE(m->Ok(&failed)) << bad;
    EXPECT_EQ(failed, "FormatEdit");
    EXPECT_TRUE(SameSettings(before)) << bad;
    EXPECT_FALSE(host_.storedExtensions);
  }
  // The same texts pass while the format string is not used.
  auto m = Open();
  m->Controls().FormatEdit = "%A%";
  EXPECT_TRUE(m->Ok());
  m = Open();
  m->Controls().UseFormatString = true;
  m->Controls().FormatEdit = "%N. %A - %T";
  ASSERT_TRUE(m->Ok());
  EXPECT_EQ(settings_.UseFormatString, 1);
  EXPECT_EQ(FieldText(settings_.FormatString), "%N. %A - %T");
}

TEST_F(ModelTest, FormatStringThatNamesNoTrackIsRefusedSayingWhy) {
  const SettingsRecord before = settings_;
  // Lower-case codes end the expansion; a code after them never counts.
  for (const char* same : {"%t - %a", "%A - %D", "%A\\%D", "%x %T", "%Д - %А"}) {
    auto m = Open();
    m->Controls().UseFormatString = true;
    m->Controls().FormatEdit = same;
    dialogs_.ExpectMessage(
        "В строке формата нет ни названия трека (%T), ни его номера (%N): все треки диска "
        "получили бы одно и то же имя.",
        "Sonarvex", MsgIcon::Information, MsgButtons::Ok);
    std::string failed;
    EXPECT_FALSE(m->Ok(&failed)) << same;
    EXPECT_EQ(failed, "FormatEdit");
    EXPECT_TRUE(SameSettings(before)) << same;
  }
  for (const char* named : {"%A - %N", "%D\\%T", "%Н %А", "x%Т"}) {
    auto m = Open();
    m->Controls().UseFormatString = true;
    m->Controls().FormatEdit = named;
    EXPECT_TRUE(m->Ok()) << named;
  }
}

TEST_F(ModelTest, NumberEditsWithTextNegativeAndTooLarge) {
  auto m = Open();
  m->Controls().NumSecReadEdit = "много";
  m->Controls().MinEdit = "x";
  m->Controls().SetMinEdit = "";
  m->Controls().MaxEdit = "?";
  m->Controls().SetMaxEdit = "abc";
  ASSERT_TRUE(m->Ok());
  EXPECT_EQ(settings_.SectorsPerRead, 26);
  EXPECT_EQ(settings_.NormLowTarget, 90);
  EXPECT_EQ(settings_.NormLowThreshold, 90);
  EXPECT_EQ(settings_.NormHighTarget, 98);
  EXPECT_EQ(settings_.NormHighThreshold, 98);

  const SettingsRecord before = settings_;
  struct Case {
    const char* control;
    std::string SettingsControls::*field;
    const char* text;
    const char* message;
  };
  const Case cases[] = {
      {"NumSecReadEdit", &SettingsControls::NumSecReadEdit, "300", kSectorsRangeMessage},
      {"NumSecReadEdit", &SettingsControls::NumSecReadEdit, "-1", kSectorsRangeMessage},
      {"NumSecReadEdit", &SettingsControls::NumSecReadEdit, "0", kSectorsRangeMessage},
      {"MinEdit", &SettingsControls::MinEdit, "101", kNormRangeMessage},
      {"SetMaxEdit", &SettingsControls::SetMaxEdit, "-5", kNormRangeMessage},
      {"PortEdit", &SettingsControls::PortEdit, "70000", kPortRangeMessage},
      {"PortEdit", &SettingsControls::PortEdit, "99999999999999999999", kPortRangeMessage},
  };
  for (const Case& c : cases) {
    m = Open();
    m->Controls().*c.field = c.text;
    dialogs_.ExpectMessage(c.message, kProgramTitle, MsgIcon::Warning, MsgButtons::Ok);
    std::string failed;
    EXPECT_FALSE(m->Ok(&failed)) << c.text;
    EXPECT_EQ(failed, c.control);
    EXPECT_TRUE(SameSettings(before)) << c.text;
  }
  m = Open();
  m->Controls().NumSecReadEdit = "255";
  m->Controls().MaxEdit = "100";
  ASSERT_TRUE(m->Ok());
  EXPECT_EQ(settings_.SectorsPerRead, 255);
  EXPECT_EQ(settings_.NormHighTarget, 100);
}

TEST_F(ModelTest, FoldersAndTextsOfEveryScriptAreKeptWithTheFullTexts) {
  RecordTexts live;
  SetSettingsText(settings_, live, SettingsField::CddbHost, "музыка.рф");
  for (const std::string name : {"Música", "東京"}) {
    auto m = std::make_unique<SettingsFormModel>(settings_, album_, tags_, host_, host_, dialogs_,
                                                 &live, nullptr);
    EXPECT_EQ(m->Controls().ServerEdit, "музыка.рф");
    const std::string folder = folder_ + name;
    ASSERT_TRUE(std::filesystem::create_directory(folder));
    m->Controls().WorkDir = folder;
    m->Controls().UseFormatString = true;
    m->Controls().FormatEdit = "%N — %T ♪";
    m->Controls().UserEdit = "Jürgen";
    ASSERT_TRUE(m->Ok());
    EXPECT_EQ(SettingsText(settings_, live, SettingsField::OutputFolder), folder + "/");
    EXPECT_EQ(SettingsText(settings_, live, SettingsField::FormatString), "%N — %T ♪");
    EXPECT_EQ(SettingsText(settings_, live, SettingsField::ProxyUser), "Jürgen");
    // The dialog opened again shows them as they were stored.
    auto again = std::make_unique<SettingsFormModel>(settings_, album_, tags_, host_, host_,
                                                     dialogs_, &live, nullptr);
    EXPECT_EQ(again->Controls().WorkDir, folder + "/");
    EXPECT_EQ(again->Controls().FormatEdit, "%N — %T ♪");
  }
  // The limit counts characters: 260 of them fit, whatever their bytes.
  std::string longName = "/";
  for (int i = 0; i < 258; ++i) longName += "東";
  auto m = std::make_unique<SettingsFormModel>(settings_, album_, tags_, host_, host_, dialogs_,
                                               &live, nullptr);
  m->Controls().WorkDir = longName;
  dialogs_.ExpectMessage("Директории '" + longName + "' не существует. Создать???", "???",
                         MsgIcon::Question, MsgButtons::YesNo, IdNo);
  ASSERT_TRUE(m->Ok());
  EXPECT_EQ(SettingsText(settings_, live, SettingsField::OutputFolder), longName + "/");
}

TEST_F(ModelTest, OutputFolderChecksAndCreation) {
  const SettingsRecord before = settings_;
  auto m = Open();
  m->Controls().WorkDir = "/" + std::string(300, 'x');
  dialogs_.ExpectMessage("Слишком длинный путь к папке: допускается не более 260 символов.",
                         kProgramTitle, MsgIcon::Warning, MsgButtons::Ok);
  std::string failed;
  EXPECT_FALSE(m->Ok(&failed));
  EXPECT_EQ(failed, "WorkDir");
  EXPECT_TRUE(SameSettings(before));

  m = Open();
  m->Controls().WorkDir = folder_ + "日本";
  dialogs_.ExpectMessage("В пути к папке есть символы, которые нельзя сохранить в настройках.",
                         kProgramTitle, MsgIcon::Warning, MsgButtons::Ok);
  EXPECT_FALSE(m->Ok());

  // A missing folder: Yes creates it with its parents, and "/" is added.
  const std::string missing = folder_ + "Музыка/Новая";
  m = Open();
  m->Controls().WorkDir = missing;
  dialogs_.ExpectMessage("Директории '" + missing + "' не существует. Создать???", "???",
                         MsgIcon::Question, MsgButtons::YesNo, IdYes);
  ASSERT_TRUE(m->Ok());
  EXPECT_TRUE(std::filesystem::is_directory(missing));
  EXPECT_EQ(FieldUtf8(settings_.OutputFolder), missing + "/");

  // No goes on without creating it.
  const std::string other = folder_ + "other";
  m = Open();
  m->Controls().WorkDir = other;
  dialogs_.ExpectMessage("Директории '" + other + "' не существует. Создать???", "???",
                         MsgIcon::Question, MsgButtons::YesNo, IdNo);
  ASSERT_TRUE(m->Ok());
  EXPECT_FALSE(std::filesystem::exists(other));
  EXPECT_EQ(FieldUtf8(settings_.OutputFolder), other + "/");

  // With digital playback on at opening, no question is asked.
  settings_.DigitalPlayback = 1;
  m = Open();
  m->Controls().WorkDir = folder_ + "third";
  ASSERT_TRUE(m->Ok());
}

TEST_F(ModelTest, LongTextsAreCutAndNeverReachTheNextField) {
  SetField(settings_.ProxyPassword, "secret");
  auto m = Open();
  m->Controls().ServerEdit = std::string(40, 'h');
  m->Controls().PathEdit = std::string(40, 'p');
  m->Controls().ProxyEdit = std::string(40, 'x');
  m->Controls().UserEdit = std::string(40, 'u');
  ASSERT_TRUE(m->Ok());
  EXPECT_EQ(FieldText(settings_.CddbHost), std::string(24, 'h'));
  EXPECT_EQ(FieldText(settings_.CddbPath), std::string(29, 'p'));
  EXPECT_EQ(FieldText(settings_.ProxyHost), std::string(24, 'x'));
  EXPECT_EQ(FieldText(settings_.ProxyUser), std::string(24, 'u'));
  EXPECT_EQ(FieldText(settings_.ProxyPassword), "secret");
  EXPECT_EQ(settings_.ProxyPort, 80);
  m = Open();
  m->Controls().PasswordEdit = std::string(30, 'w') + "ж";
  ASSERT_TRUE(m->Ok());
  EXPECT_EQ(FieldText(settings_.ProxyPassword), std::string(24, 'w'));
  EXPECT_EQ(settings_.ProxyPort, 80);
  // A format string longer than its edit is cut to 50 characters.
  m = Open();
  m->Controls().FormatEdit = "%T" + std::string(80, 'f');
  ASSERT_TRUE(m->Ok());
  EXPECT_EQ(FieldText(settings_.FormatString).size(), 50u);
  EXPECT_EQ(settings_.OnTheFlyEncoding, 0);
}

TEST_F(ModelTest, LameControlsAndTheVbrRule) {
  auto m = Open();
  const SettingsControls& c = m->Controls();
  EXPECT_EQ(c.FormatBox, 2);  // 224 kbit/s is index 12
  EXPECT_EQ(c.MaxBR, 0);
  EXPECT_EQ(c.VBRBox, 0);
  EXPECT_FALSE(m->VbrControlsEnabled());
  EXPECT_EQ(c.LameQualityBox, 2);
  m->Controls().VBRBox = 3;
  EXPECT_TRUE(m->VbrControlsEnabled());
  m->Controls().VBRQBox = 4;
  m->Controls().MaxBR = 1;
  m->Controls().FormatBox = 5;
  m->Controls().LameModeBox = 3;
  m->Controls().LameQualityBox = 11;
  ASSERT_TRUE(m->Ok());
  EXPECT_EQ(settings_.Lame.VbrMethod, 2);
  EXPECT_EQ(settings_.Lame.VbrEnabled, 1);
  EXPECT_EQ(settings_.Lame.VbrQuality, 4);
  EXPECT_EQ(settings_.Lame.MaxBitrateIndex, 13);
  EXPECT_EQ(settings_.Lame.BitrateIndex, 9);
  EXPECT_EQ(settings_.Lame.Mode, 3);
  EXPECT_EQ(settings_.Lame.Preset, 10000);
  m = Open();
  m->Controls().VBRBox = 0;
  ASSERT_TRUE(m->Ok());
  EXPECT_EQ(settings_.Lame.VbrMethod, -1);
  EXPECT_EQ(settings_.Lame.VbrEnabled, 0);

  // Stored values outside the lists show the first entry, not nothing.
  settings_.Lame.VbrMethod = 9;
  settings_.Lame.Mode = -3;
  m = Open();
  EXPECT_EQ(m->Controls().VBRBox, 4);
  EXPECT_EQ(m->Controls().LameModeBox, 0);
}

TEST_F(ModelTest, CodecRuleWithAnMp3Codec) {
  host_.acm = "MPEG Layer-3 (FFmpeg)";
  host_.acmFormats = {"128 kBit/s, 44100 Hz, Stereo", "64 kBit/s, 22050 Hz, Mono"};
  settings_.UseLame = 0;
  settings_.AcmFormatIndex = 1;
  auto m = Open();
  EXPECT_EQ(m->CodecItems().size(), 2u);
  EXPECT_EQ(m->Controls().CodecBox, 1);
  EXPECT_FALSE(m->Codec().Lame);
  EXPECT_EQ(m->Codec().FormatItems, host_.acmFormats);
  EXPECT_EQ(m->Controls().FormatBox, 1);
  EXPECT_EQ(m->Codec().FormatWidth, 225);
  EXPECT_EQ(m->Codec().Label9, "Формат");

  // To LAME and back: each keeps its own choice.
  m->Controls().FormatBox = 0;
  CodecView lame = m->ChangeCodec(0);
  EXPECT_TRUE(lame.Lame);
  EXPECT_EQ(lame.FormatItems.size(), 14u);
  EXPECT_EQ(lame.FormatIndex, 2);
  EXPECT_EQ(lame.Label9, "Битрейт: мин");
  EXPECT_EQ(lame.FormatWidth, 91);
  m->Controls().FormatBox = 4;
  CodecView acm = m->ChangeCodec(1);
  EXPECT_EQ(acm.FormatIndex, 0);
  m->ChangeCodec(0);
  EXPECT_EQ(m->Controls().FormatBox, 4);
  ASSERT_TRUE(m->Ok());
  EXPECT_EQ(settings_.UseLame, 1);
  EXPECT_EQ(settings_.Lame.BitrateIndex, 10);
  EXPECT_EQ(settings_.AcmFormatIndex, 0);

  m = Open();
  m->ChangeCodec(1);
  m->Controls().FormatBox = 1;
  const LameSettings lameBefore = settings_.Lame;
  ASSERT_TRUE(m->Ok());
  EXPECT_EQ(settings_.UseLame, 0);
  EXPECT_EQ(settings_.AcmFormatIndex, 1);
  EXPECT_EQ(std::memcmp(&settings_.Lame, &lameBefore, sizeof lameBefore), 0);

  // Without a codec the LAME entry stays even when UseLame is off.
  host_.acm.clear();
  settings_.UseLame = 0;
  m = Open();
  EXPECT_EQ(m->CodecItems().size(), 1u);
  EXPECT_EQ(m->Controls().CodecBox, 0);
}

TEST_F(ModelTest, DrivesTypesAndReadCommandDetection) {
  settings_.DriveTypes[0] = 30;  // out of range: shown as 0
  settings_.DriveTypes[1] = 7;
  auto m = Open();
  EXPECT_EQ(m->Controls().DeviceName, 0);
  EXPECT_EQ(m->Controls().DriveTypeBox, 0);
  m->ChangeDrive(1);
  EXPECT_EQ(m->Controls().DriveTypeBox, 7);
  m->ChangeDriveType(20);
  m->ChangeDrive(0);
  m->ChangeDriveType(3);
  m->Controls().SPTIBtn = true;
  ASSERT_TRUE(m->Ok());
  EXPECT_EQ(settings_.DriveIndex, 0);
  EXPECT_EQ(settings_.DriveTypes[0], 3);
  EXPECT_EQ(settings_.DriveTypes[1], 20);
  EXPECT_EQ(settings_.UseSpti, 1);

  m = Open();
  m->Controls().NumSecReadEdit = "30";
  m->Controls().SPTIBtn = false;
  m->ChangeDrive(1);
  host_.detection = ReadCommandChoice{2, 26};
  EXPECT_TRUE(m->DetectReadCommand());
  ASSERT_EQ(host_.detectRequests.size(), 1u);
  EXPECT_EQ(host_.detectRequests[0].Drive, 1);
  EXPECT_EQ(host_.detectRequests[0].SectorsPerRead, 30);
  EXPECT_FALSE(host_.detectRequests[0].UseSpti);
  EXPECT_EQ(m->Controls().NumSecReadEdit, "26");
  EXPECT_EQ(m->Controls().DriveTypeBox, 2);
  // Cancelled detection changes nothing.
  host_.detection.reset();
  m->Controls().NumSecReadEdit = "10";
  EXPECT_FALSE(m->DetectReadCommand());
  EXPECT_EQ(m->Controls().NumSecReadEdit, "10");
  // The detection needs a number.
  m->Controls().NumSecReadEdit = "abc";
  dialogs_.ExpectMessage("'abc' не является целым числом.", kProgramTitle, MsgIcon::Error,
                         MsgButtons::Ok);
  EXPECT_FALSE(m->DetectReadCommand());
  EXPECT_EQ(host_.detectRequests.size(), 2u);

  // A stored drive beyond the list keeps its index.
  settings_.DriveIndex = 5;
  m = Open();
  EXPECT_EQ(m->Controls().DeviceName, -1);
  ASSERT_TRUE(m->Ok());
  EXPECT_EQ(settings_.DriveIndex, 5);
}

TEST_F(ModelTest, ConfirmedCopyRangeEndsInTheAlbumGivenBack) {
  host_.selected = 1;
  auto m = Open();
  EXPECT_EQ(m->Controls().TrackNames, 1);
  EXPECT_EQ(m->TrackItems(), (std::vector<std::string>{"Track1", "Track2", "Track3"}));
  m->Range().MoveStart(750);
  m->Range().MoveEnd(4500);
  EXPECT_EQ(album_.Tracks[1].RangeFlag, 0);  // only the copy so far
  ASSERT_TRUE(m->Ok());
  const AlbumTrackEntry& e = album_.Tracks[1];
  EXPECT_EQ(e.RangeFlag, 1);
  // What the ripping loop computes from it: start and end sectors.
  EXPECT_EQ(MsfToFrames(e.RangeStart) - album_.FirstTrackOffset, e.StartSector + 750);
  EXPECT_EQ(MsfToFrames(e.RangeEnd) - album_.FirstTrackOffset, e.StartSector + 4500);
}

TEST_F(ModelTest, RangePlayAndThePlayPosition) {
  auto m = Open();
  m->ShowTrack(1);
  m->PlayRange();  // no range: the whole track
  ASSERT_EQ(host_.plays.size(), 1u);
  EXPECT_EQ(host_.plays[0].track, 1);
  EXPECT_EQ(MsfToFrames(host_.plays[0].from), MsfToFrames(album_.Tracks[1].Start));
  EXPECT_EQ(MsfToFrames(host_.plays[0].to), MsfToFrames(album_.Tracks[2].Start));
  m->Range().MoveStart(1000);
  m->PlayRange();
  EXPECT_EQ(MsfToFrames(host_.plays[1].from), 13500 + 1000 + 150);
  host_.state = WindowState::FileList;
  m->PlayRange();
  host_.state = WindowState::Searching;
  m->PlayRange();
  EXPECT_EQ(host_.plays.size(), 2u);
  m->StopPlay();
  EXPECT_EQ(host_.stops, 1);

  // The play position moves the active slider only on the page "Записи"
  // with "Текущая позиция" down and the same track shown.
  m->Controls().PageControl1 = 1;
  EXPECT_FALSE(m->TimerPosition(1, 2000));
  m->Controls().CBPos = true;
  EXPECT_FALSE(m->TimerPosition(0, 2000));
  EXPECT_TRUE(m->TimerPosition(1, 2000));
  EXPECT_EQ(m->Range().View().Start, 2000);
  m->SetActiveSlider(false);
  EXPECT_TRUE(m->TimerPosition(1, 6000));
  EXPECT_EQ(m->Range().View().End, 6000);
  m->Controls().PageControl1 = 0;
  EXPECT_FALSE(m->TimerPosition(1, 7000));
  ASSERT_TRUE(m->Ok());
  EXPECT_EQ(MsfToFrames(album_.Tracks[1].RangeStart), 13500 + 2000 + 150);
  EXPECT_EQ(MsfToFrames(album_.Tracks[1].RangeEnd), 13500 + 6000 + 150);
}

TEST_F(ModelTest, SearchExtensionsAndAfterCloseSteps) {
  auto m = Open();
  m->AddExtension("FLAC");
  m->AddExtension("");
  m->AddExtension(".Ogg");
  m->AddExtension("flac");  // duplicates are not refused
  m->RemoveExtension(0);
  m->RemoveExtension(99);
  const SettingsRecord before = settings_;
  m->Controls().DeviceName = 1;
  m->Controls().DPBox = true;
  ASSERT_TRUE(m->Ok());
  EXPECT_EQ(*host_.storedExtensions, (std::vector<std::string>{".wav", ".flac", ".ogg", ".flac"}));
  AfterCloseSteps steps = CompareForAfterClose(m->LiveBeforeOk(), settings_);
  EXPECT_TRUE(steps.ReselectDrive);
  EXPECT_FALSE(steps.ChooseTransport);
  EXPECT_TRUE(steps.DigitalPlaybackChanged);
  EXPECT_EQ(std::memcmp(&m->LiveBeforeOk(), &before, sizeof before), 0);
}

// The check box of the automatic lookup is [Lookup] Auto, stored on OK when
// changed.
TEST_F(ModelTest, AutoLookupBoxIsTheLookupOptionOfTheIniStore) {
  {
    auto m = Open();
    EXPECT_TRUE(m->Controls().AutoLookupBox);
    ASSERT_TRUE(m->Ok());
  }
  EXPECT_TRUE(host_.iniCalls.empty());
  {
    auto m = Open();
    m->Controls().AutoLookupBox = false;
    ASSERT_TRUE(m->Ok());
  }
  EXPECT_EQ(host_.iniCalls, (std::vector<std::string>{"AutoLookup=0"}));
  EXPECT_FALSE(host_.autoLookup);
  auto m = Open();
  EXPECT_FALSE(m->Controls().AutoLookupBox);
}

// The options of the INI store: shown from the facts, stored on OK when
// changed, never on cancel.
TEST_F(ModelTest, IniOptionsShownAndStoredOnOkOnlyWhenChanged) {
  host_.ripWorkers = 4;
  host_.flacLevel = 7;
  host_.readOffsets = {{0, 6}, {1, -30}};
  host_.logLossless = false;
  host_.logCompressed = true;
  host_.arServer = "ar.lan:8080";
  {
    auto m = Open();
    const SettingsControls& c = m->Controls();
    EXPECT_EQ(c.RipWorkersBox, 4);
    EXPECT_EQ(c.FlacLevelBox, 7);
    EXPECT_EQ(c.ReadOffsetBox, 6);  // drive 0, the one DriveIndex names
    EXPECT_EQ(m->ReadOffsetOf(1), -30);
    EXPECT_FALSE(c.RipLogLosslessBox);
    EXPECT_TRUE(c.RipLogCompressedBox);
    EXPECT_EQ(c.ArServerEdit, "ar.lan:8080");
    EXPECT_TRUE(m->FlacEnabled());
    m->Controls().RipWorkersBox = 0;
    m->ChangeReadOffset(99);
  }  // cancelled
  EXPECT_TRUE(host_.iniCalls.empty());
  {
    auto m = Open();
    ASSERT_TRUE(m->Ok());  // nothing changed: nothing written
  }
  EXPECT_TRUE(host_.iniCalls.empty());

  auto m = Open();
  SettingsControls& c = m->Controls();
  c.RipWorkersBox = 0;
  c.FlacLevelBox = 0;
  m->ChangeReadOffset(102);
  m->ChangeDrive(1);
  EXPECT_EQ(c.ReadOffsetBox, -30);
  c.ReadOffsetBox = 667;  // as the window reads it on OK
  c.RipLogLosslessBox = true;
  c.ArServerEdit = "  ";
  ASSERT_TRUE(m->Ok());
  EXPECT_EQ(host_.iniCalls,
            (std::vector<std::string>{"RipWorkers=0", "FlacLevel=0", "ReadOffset0=102",
                                      "ReadOffset1=667", "RipLog=11", "ArServer="}));
  EXPECT_EQ(host_.ripWorkers, 0);
  EXPECT_EQ(host_.flacLevel, 0);
  EXPECT_EQ(host_.readOffsets, (std::map<int, int>{{0, 102}, {1, 667}}));
  EXPECT_TRUE(host_.logLossless);
  EXPECT_TRUE(host_.logCompressed);
  EXPECT_EQ(host_.arServer, "");
  EXPECT_EQ(settings_.DriveIndex, 1);
}

TEST_F(ModelTest, TheOffsetFoundGoesIntoTheBoxOnYesAndIsStoredOnOk) {
  host_.readOffsets = {{0, 6}};
  auto m = Open();
  m->ChangeDrive(1);
  // None found: the reason is shown, the box stays.
  host_.offsetFinding = {false, 0, "Диска в приводе 1 нет в базе AccurateRip."};
  dialogs_.ExpectMessage("Диска в приводе 1 нет в базе AccurateRip.", kProgramTitle, MsgIcon::Warning,
                         MsgButtons::Ok);
  EXPECT_FALSE(m->FindReadOffset());
  // Found, and the user says no.
  host_.offsetFinding = {true, 667, "Смещение: +667."};
  const std::string question = "Смещение: +667.\n\nУстановить смещение +667 для этого устройства?";
  dialogs_.ExpectMessage(question, kProgramTitle, MsgIcon::Question, MsgButtons::YesNo, IdNo);
  EXPECT_FALSE(m->FindReadOffset());
  EXPECT_EQ(m->Controls().ReadOffsetBox, 0);
  // A search the user stopped says nothing.
  host_.offsetFinding = {false, 0, ""};
  EXPECT_FALSE(m->FindReadOffset());
  // Yes: the drive shown gets it, kept on OK.
  host_.offsetFinding = {true, 667, "Смещение: +667."};
  dialogs_.ExpectMessage(question, kProgramTitle, MsgIcon::Question, MsgButtons::YesNo, IdYes);
  EXPECT_TRUE(m->FindReadOffset());
  EXPECT_EQ(m->Controls().ReadOffsetBox, 667);
  EXPECT_EQ(host_.offsetSearches, (std::vector<int>{1, 1, 1, 1}));
  ASSERT_TRUE(m->Ok());
  EXPECT_EQ(host_.readOffsets, (std::map<int, int>{{0, 6}, {1, 667}}));
  std::string why;
  EXPECT_TRUE(dialogs_.Clean(&why)) << why;

  // Without a drive there is nothing to search.
  host_.drives.clear();
  m = Open();
  EXPECT_FALSE(m->FindReadOffset());
  EXPECT_EQ(host_.offsetSearches.size(), 4u);
}

TEST_F(ModelTest, IniOptionsOutOfRangeAndWithoutFlacOrDrives) {
  host_.ripWorkers = 500;
  host_.flacLevel = 12;
  host_.readOffsets = {{0, 99999}};
  host_.flac = false;
  auto m = Open();
  EXPECT_EQ(m->Controls().RipWorkersBox, kMaxRipWorkersBox);
  EXPECT_EQ(m->Controls().FlacLevelBox, 8);
  EXPECT_EQ(m->Controls().ReadOffsetBox, 5880);
  EXPECT_FALSE(m->FlacEnabled());
  m->ChangeReadOffset(-10000);
  EXPECT_EQ(m->Controls().ReadOffsetBox, -5880);
  m->Controls().FlacLevelBox = 1;  // the disabled sheet stores nothing
  ASSERT_TRUE(m->Ok());
  EXPECT_EQ(host_.iniCalls, std::vector<std::string>{"ReadOffset0=-5880"});

  // No drive: no offset to show or store.
  host_.drives.clear();
  host_.iniCalls.clear();
  m = Open();
  EXPECT_EQ(m->Controls().DeviceName, -1);
  m->ChangeReadOffset(12);
  EXPECT_EQ(m->ReadOffsetOf(0), 0);
  ASSERT_TRUE(m->Ok());
  EXPECT_TRUE(host_.iniCalls.empty());
}

TEST_F(ModelTest, BadAccurateRipServerKeepsTheDialogOpen) {
  const SettingsRecord before = settings_;
  auto m = Open();
  m->Controls().RipWorkersBox = 2;
  m->Controls().ArServerEdit = "ar.lan:99999";
  dialogs_.ExpectMessage(BadArServerMessage("ar.lan:99999"), kProgramTitle, MsgIcon::Warning,
                         MsgButtons::Ok);
  std::string failed;
  EXPECT_FALSE(m->Ok(&failed));
  EXPECT_EQ(failed, "ArServerEdit");
  EXPECT_FALSE(m->Accepted());
  EXPECT_TRUE(SameSettings(before));
  EXPECT_TRUE(host_.iniCalls.empty());
  EXPECT_FALSE(host_.storedExtensions);
  m->Controls().ArServerEdit = " ar.lan:8080\t";
  ASSERT_TRUE(m->Ok());
  EXPECT_EQ(host_.arServer, "ar.lan:8080");
  EXPECT_EQ(host_.ripWorkers, 2);
}

TEST_F(ModelTest, UnwritableIniIsReportedAndTheDialogStillCloses) {
  host_.iniWritable = false;
  auto m = Open();
  m->Controls().RipWorkersBox = 3;
  m->Controls().CBMaxSpeed = true;
  dialogs_.ExpectMessage(kIniWriteFailedMessage, kProgramTitle, MsgIcon::Warning, MsgButtons::Ok);
  ASSERT_TRUE(m->Ok());
  EXPECT_TRUE(m->Accepted());
  EXPECT_EQ(settings_.ReadSpeed, 255);
}

// The Opus sheet: the stored bitrate shown, a change stored on OK (held to
// 6..510), nothing stored without libopusenc.
TEST_F(ModelTest, OpusBitrateShownAndStoredOnOk) {
  host_.opusBitrate = 96;
  {
    auto m = Open();
    EXPECT_EQ(m->Controls().OpusBitrateBox, 96);
    EXPECT_TRUE(m->OpusEnabled());
    m->Controls().OpusBitrateBox = 256;
  }  // cancelled
  EXPECT_TRUE(host_.iniCalls.empty());
  {
    auto m = Open();
    m->Controls().OpusBitrateBox = 256;
    ASSERT_TRUE(m->Ok());
  }
  EXPECT_EQ(host_.iniCalls, std::vector<std::string>{"OpusBitrate=256"});
  EXPECT_EQ(host_.opusBitrate, 256);
  host_.iniCalls.clear();
  {
    auto m = Open();
    m->Controls().OpusBitrateBox = 4000;
    ASSERT_TRUE(m->Ok());
  }
  EXPECT_EQ(host_.opusBitrate, 510);
  host_.iniCalls.clear();
  host_.opus = false;
  auto m = Open();
  EXPECT_FALSE(m->OpusEnabled());
  m->Controls().OpusBitrateBox = 64;  // the disabled sheet stores nothing
  ASSERT_TRUE(m->Ok());
  EXPECT_TRUE(host_.iniCalls.empty());
  EXPECT_EQ(host_.opusBitrate, 510);
  // Leaving the dialog on the Opus sheet keeps the record's kind.
  settings_.OutputKind = 1;
  m = Open();
  m->Controls().PageControl2 = kOpusAudioPage;
  ASSERT_TRUE(m->Ok());
  EXPECT_EQ(settings_.OutputKind, 1);
}

// The FLAC sheet follows the four the record keeps; leaving the dialog on it
// keeps the stored one.
TEST_F(ModelTest, FlacSheetIsNotStoredInTheRecord) {
  settings_.OutputKind = 2;
  auto m = Open();
  EXPECT_EQ(m->Controls().PageControl2, 2);
  m->Controls().PageControl2 = kFlacAudioPage;
  ASSERT_TRUE(m->Ok());
  EXPECT_EQ(settings_.OutputKind, 2);
}

}  // namespace
}  // namespace sonarvex

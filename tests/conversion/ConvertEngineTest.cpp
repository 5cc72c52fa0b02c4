// The conversion engine's lists and rows: files sorted into the four source
// lists by extension, rows of the current direction, the delete menu, output
// names, the progress texts, loading the decoder library, and what the
// engine keeps in the settings.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "platform/Cp1251.h"
#include "platform/Files.h"
#include "tests/conversion/ConversionTestUtil.h"

namespace sonarvex {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> Names(const ConvertEngine& e) {
  std::vector<std::string> v;
  for (const ConvertRow& r : e.Rows()) v.push_back(r.name);
  return v;
}

TEST(ConvertTextsTest, PercentagesAndTexts) {
  EXPECT_EQ(ProgressPercent(0, 1000), 0);
  EXPECT_EQ(ProgressPercent(500, 1000), 50);
  EXPECT_EQ(ProgressPercent(1000, 1000), 100);
  EXPECT_EQ(ProgressPercent(2000, 1000), 100);
  // 100 - (total - done) div (total div 100) can fall below 0 where total
  // div 100 rounds down (1049 div 10 = 104): the percentage stays at 0.
  EXPECT_EQ(ProgressPercent(1, 1050), 0);
  EXPECT_EQ(ProgressPercent(1049, 1050), 100);
  // Totals below 100 never divide by zero.
  EXPECT_EQ(ProgressPercent(0, 0), 0);
  EXPECT_EQ(ProgressPercent(5, 10), 50);
  EXPECT_EQ(ProgressPercent(10, 10), 100);
  EXPECT_EQ(ProgressText(42, 0), "42% завершено");
  EXPECT_EQ(ProgressText(7, -1), "Преобр. WAV 7% завершено");
  ASSERT_EQ(DirectionItems().size(), static_cast<std::size_t>(kDirectionCount));
  EXPECT_EQ(DirectionItems()[0], "MP3    -> WAVE");
  EXPECT_EQ(DirectionItems()[4], "AVI     -> MP3/WAV");
  EXPECT_EQ(DirectionItems()[7], "WAVE -> OGG");
  EXPECT_EQ(DirectionItems()[kWavToOpus], "WAVE -> OPUS");
  EXPECT_TRUE(DirectionMakes(kWavToOpus, OutputKind::Opus));
  EXPECT_TRUE(DirectionTakes(kWavToOpus, SourceKind::Wav));
  // FLAC files are sources of their own directions, captioned as the WAV ones.
  EXPECT_EQ(DirectionItems()[kFlacToWav], "FLAC -> WAVE");
  EXPECT_EQ(DirectionItems()[kFlacToMp3], "FLAC -> MP3");
  EXPECT_EQ(DirectionItems()[kFlacToWma], "FLAC -> WMA");
  EXPECT_EQ(DirectionItems()[kFlacToOgg], "FLAC -> OGG");
  EXPECT_EQ(DirectionItems()[kFlacToOpus], "FLAC -> OPUS");
  EXPECT_EQ(SourceKindOf("/a/b.FLAC"), SourceKind::Flac);
  for (int d = kFlacToWav; d <= kFlacToOpus; ++d) {
    EXPECT_TRUE(DirectionTakes(d, SourceKind::Flac)) << d;
    EXPECT_FALSE(DirectionTakes(d, SourceKind::Wav)) << d;
  }
  EXPECT_TRUE(DirectionMakes(kFlacToMp3, OutputKind::Mp3));
  EXPECT_TRUE(DirectionMakes(kFlacToWav, OutputKind::Wav));
  EXPECT_TRUE(DirectionMakes(kFlacToOgg, OutputKind::Ogg));
  EXPECT_EQ(FormatItems().front(), "192kBit/s");
  EXPECT_EQ(FormatItems().back(), "56kBit/s");
  EXPECT_EQ(SourceKindOf("/a/B.WAV"), SourceKind::Wav);
  EXPECT_EQ(SourceKindOf("/a/b.Wmv"), SourceKind::Wma);
  EXPECT_EQ(SourceKindOf("/a/b.asf"), SourceKind::Wma);
  EXPECT_EQ(SourceKindOf("/a.mp3/b"), SourceKind::None);
  EXPECT_EQ(SourceKindOf("/a/b.ogg"), SourceKind::None);
}

TEST(ConvertEngineTest, FilesGoToTheirListsAndRowsFollowTheDirection) {
  test::EngineRig rig;
  rig.settings.ConvertDirection = 0;
  ConvertEngine& e = rig.Engine();
  ASSERT_TRUE(e.Create());
  EXPECT_EQ(e.Direction(), 0);
  e.AddFile("/music/SONG.WAV");  // capitals while MP3 -> WAV is chosen
  e.AddFile("/music/a.mp3");
  e.AddFile("/music/clip.avi");
  e.AddFile("/music/b.wma");
  e.AddFile("/music/notes.txt");
  EXPECT_EQ(Names(e), std::vector<std::string>{"a.mp3"});
  EXPECT_EQ(e.Rows()[0].folder, "/music/");
  EXPECT_EQ(e.Rows()[0].state, "Ждет начала");
  EXPECT_TRUE(e.Rows()[0].checked);
  EXPECT_EQ(e.SourceList(SourceKind::Wav), std::vector<std::string>{"/music/SONG.WAV"});
  e.SetDirection(kWavToMp3);
  EXPECT_EQ(Names(e), std::vector<std::string>{"SONG.WAV"});
  EXPECT_TRUE(e.TagsApply());
  // A tag made for the row survives "WAVE -> MP3" to "WAVE -> WMA".
  TrackTags* tag = e.RowTag(0);
  ASSERT_NE(tag, nullptr);
  EXPECT_EQ(tag->Record.TagsOn, 1);
  EXPECT_EQ(tag->Get(TagField::Title), "SONG.WAV");
  e.SetDirection(kWavToWma);
  EXPECT_EQ(e.Direction(), kWavToWma);
  ASSERT_EQ(e.Rows().size(), 1u);
  EXPECT_EQ(e.Rows()[0].tag.get(), tag);
  e.SetDirection(kAviToMp3OrWav);
  EXPECT_EQ(Names(e), std::vector<std::string>{"clip.avi"});
  EXPECT_FALSE(e.TagsApply());
  e.SetDirection(kWmaToWav);
  EXPECT_EQ(Names(e), std::vector<std::string>{"b.wma"});
  e.SetDirection(kMp3ToMp3);
  EXPECT_TRUE(e.FormatApplies());
  EXPECT_TRUE(rig.dialogs.Clean());
}

TEST(ConvertEngineTest, WithoutTheWmaDecoderWmaFilesAreIgnored) {
  test::EngineRig rig;
  rig.context.wmaDecoderAvailable = false;
  rig.engine = std::make_unique<ConvertEngine>(rig.context);
  ConvertEngine& e = rig.Engine();
  ASSERT_TRUE(e.Create());
  rig.dialogs.ExpectMessage(kWmaDecodingImpossibleText, "Sonarvex v3.2", MsgIcon::Warning,
                            MsgButtons::Ok);
  e.SetDirection(kWmaToWav);
  e.AddFile("/x/a.wma");
  EXPECT_TRUE(e.Rows().empty());
  EXPECT_TRUE(e.SourceList(SourceKind::Wma).empty());
  // A batch would say what is missing (the rows are empty, so none runs).
  e.Run();
  EXPECT_TRUE(rig.dialogs.Clean());
}

TEST(ConvertEngineTest, DeleteMenuAndChecks) {
  test::EngineRig rig;
  rig.settings.ConvertDirection = kWavToMp3;
  ConvertEngine& e = rig.Engine();
  ASSERT_TRUE(e.Create());
  for (const char* n : {"/a/1.wav", "/a/2.wav", "/a/3.wav", "/a/4.wav"}) e.AddFile(n);
  e.SetChecked(1, false);
  e.SetChecked(3, false);
  e.RemoveChecked(false);  // "Удалить НЕ выбранное"
  EXPECT_EQ(Names(e), (std::vector<std::string>{"1.wav", "3.wav"}));
  EXPECT_EQ(e.SourceList(SourceKind::Wav), (std::vector<std::string>{"/a/1.wav", "/a/3.wav"}));
  e.SetChecked(0, false);
  e.RemoveChecked(true);  // "Удалить выбранное"
  EXPECT_EQ(Names(e), std::vector<std::string>{"1.wav"});
  e.CheckAll(true);
  EXPECT_TRUE(e.Rows()[0].checked);
  e.AddFile("/a/x.mp3");
  e.RemoveAll();
  EXPECT_TRUE(e.Rows().empty());
  EXPECT_TRUE(e.SourceList(SourceKind::Mp3).empty());
  EXPECT_TRUE(e.SourceList(SourceKind::Wav).empty());
}

TEST(ConvertEngineTest, OutputPaths) {
  test::EngineRig rig;
  ConvertEngine& e = rig.Engine();
  ASSERT_TRUE(e.Create());
  e.SetDirection(kMp3ToWav);
  e.AddFile("/src/dir.x/song.name.mp3");
  e.AddFile("/src/noext.mp3");
  e.outputFolder = "/out";
  EXPECT_EQ(e.OutputPath(0), "/out/song.name.wav");
  e.outputFolder = "/out/";
  EXPECT_EQ(e.OutputPath(1), "/out/noext.wav");
  e.saveToSourceFolder = true;
  EXPECT_EQ(e.OutputPath(0), "/src/dir.x/song.name.wav");
  e.SetDirection(kMp3ToMp3);
  EXPECT_EQ(e.OutputPath(0), "/src/dir.x/song.name.mp3");
  e.AddFile("/w/t.wav");
  e.SetDirection(kWavToWma);
  EXPECT_EQ(e.OutputPath(0), "/w/t.wma");
  e.SetDirection(kWavToOgg);
  EXPECT_EQ(e.OutputPath(0), "/w/t.ogg");
  e.SetDirection(kWavToMp3);
  EXPECT_EQ(e.OutputPath(0), "/w/t.mp3");
  EXPECT_EQ(e.OutputPath(5), "");
}

TEST(ConvertEngineTest, FolderSearchFindsMatchingFilesBelowIt) {
  test::EngineRig rig;
  ConvertEngine& e = rig.Engine();
  ASSERT_TRUE(e.Create());
  e.SetDirection(kWavToMp3);
  const std::string root = rig.dir.File("tree");
  fs::create_directories(root + "/sub/deeper");
  for (const char* f : {"/b.wav", "/a.WAV", "/sub/c.wav", "/sub/deeper/d.wav", "/sub/x.mp3",
                        "/readme.txt"})
    test::WriteAll(root + f, {1});
  fs::create_directory_symlink(root, root + "/sub/loop");  // never followed
  e.AddFolder(root);
  EXPECT_EQ(Names(e), (std::vector<std::string>{"a.WAV", "b.wav", "c.wav", "d.wav"}));
  EXPECT_EQ(e.SourceList(SourceKind::Mp3).size(), 1u);
}

TEST(ConvertEngineTest, MissingDecoderLibraryOrExport) {
  {
    test::EngineRig rig;
    rig.context.programFolder = rig.dir.Path() + "/";
    rig.engine = std::make_unique<ConvertEngine>(rig.context);
    rig.dialogs.ExpectMessage("Нет необходимой библиотеки libkelpra.so", "Sonarvex v3.2",
                              MsgIcon::Warning, MsgButtons::Ok);
    EXPECT_FALSE(rig.Engine().Create());
    EXPECT_TRUE(rig.dialogs.Clean());
  }
  {
    test::EngineRig rig;
    rig.context.programFolder = rig.dir.Path() + "/";
    // A shared library without the export.
    std::string other = std::string(SONARVEX_BIN_DIR) + "/libkelpra.so";
    std::string lib = test::Run("ldconfig -p | grep -m1 'libz.so.1 ' | sed 's/.*=> //'");
    while (!lib.empty() && (lib.back() == '\n' || lib.back() == ' ')) lib.pop_back();
    if (lib.empty()) GTEST_SKIP() << "no libz.so.1 to stand in for a library without the export";
    fs::copy_file(lib, rig.dir.File("libkelpra.so"));
    rig.engine = std::make_unique<ConvertEngine>(rig.context);
    rig.dialogs.ExpectMessage("Библиотека libkelpra.so не содержит необходимой функции!",
                              "Sonarvex v3.2", MsgIcon::Warning, MsgButtons::Ok);
    EXPECT_FALSE(rig.Engine().Create());
    EXPECT_TRUE(rig.dialogs.Clean());
  }
}

TEST(ConvertEngineTest, TheOutputFolderIsKeptInFullInAnyScript) {
  test::EngineRig rig;
  RecordTexts texts;
  rig.context.settingsTexts = &texts;
  SetSettingsText(rig.settings, texts, SettingsField::ConvertFolder, "/music/東京");
  ConvertEngine e(rig.context);
  ASSERT_TRUE(e.Create());
  EXPECT_EQ(e.outputFolder, "/music/東京");
  e.outputFolder = "/музыка/群青";
  ASSERT_TRUE(e.Close());
  EXPECT_EQ(SettingsText(rig.settings, texts, SettingsField::ConvertFolder), "/музыка/群青");
}

TEST(ConvertEngineTest, SettingsInAndOutAndTheTemporaryFolder) {
  test::EngineRig rig;
  SetFieldUtf8(rig.settings.ConvertFolder, "/music/Сборник");
  rig.settings.ConvertDirection = 7;
  rig.settings.ConvertSaveToFolder = 1;
  rig.settings.ConvertDeleteSource = 1;
  rig.settings.ConvertFormatIndex = 3;
  ConvertEngine& e = rig.Engine();
  ASSERT_TRUE(e.Create());
  EXPECT_TRUE(DirectoryExists(rig.context.tempFolder));
  EXPECT_EQ(e.outputFolder, "/music/Сборник");
  EXPECT_EQ(e.Direction(), 7);
  EXPECT_TRUE(e.saveToSourceFolder);
  EXPECT_TRUE(e.deleteSources);
  EXPECT_EQ(e.formatIndex, 3);
  e.outputFolder = "/elsewhere";
  e.saveToSourceFolder = false;
  e.SetDirection(2);
  e.formatIndex = 5;
  e.deleteSources = false;
  ASSERT_TRUE(e.Close());
  EXPECT_EQ(FieldText(rig.settings.ConvertFolder), "/elsewhere");
  EXPECT_EQ(rig.settings.ConvertDirection, 2);
  EXPECT_EQ(rig.settings.ConvertSaveToFolder, 0);
  EXPECT_EQ(rig.settings.ConvertDeleteSource, 0);
  EXPECT_EQ(rig.settings.ConvertFormatIndex, 5);
  EXPECT_FALSE(DirectoryExists(rig.context.tempFolder)) << "the empty temporary folder is removed";
  // Settings out of range are taken into range.
  rig.settings.ConvertDirection = 200;
  rig.settings.ConvertFormatIndex = 99;
  ConvertEngine again(rig.context);
  ASSERT_TRUE(again.Create());
  // The last direction, FLAC -> OPUS, or the nearest one before it that can run.
  EXPECT_TRUE(again.DirectionAvailable(again.Direction()));
  if (rig.encoders->Opus().Available() && again.DirectionAvailable(kFlacToWav)) {
    EXPECT_EQ(again.Direction(), kFlacToOpus);
  }
  EXPECT_EQ(again.formatIndex, 7);
  EXPECT_EQ(again.WmaReadersAtOnce(), rig.settings.DecodeFilesAtOnce >= 1 &&
                                              rig.settings.DecodeFilesAtOnce <= 10
                                          ? rig.settings.DecodeFilesAtOnce
                                          : 1);
  rig.settings.DecodeFilesAtOnce = 25;
  EXPECT_EQ(again.WmaReadersAtOnce(), 1) << "above 10 counts as 1";
  rig.settings.DecodeFilesAtOnce = 0;
  EXPECT_EQ(again.WmaReadersAtOnce(), 1);
  rig.settings.DecodeFilesAtOnce = 10;
  EXPECT_EQ(again.WmaReadersAtOnce(), 10);
}

}  // namespace
}  // namespace sonarvex

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "settings/SettingsStore.h"
#include "platform/Cp1251.h"
#include "platform/Files.h"
#include "platform/ScriptedDialogs.h"
#include "platform/XdgAssociations.h"
#include "records/TextFields.h"

namespace sonarvex {
namespace {

constexpr const char* kReadFailed = "Не удалось прочитать настройки из файла 'set.dat'";
constexpr const char* kWriteFailed = "Неполучилось сохранить настройки в файл 'set.dat'.";

class SettingsStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/sonarvex-settings-XXXXXX";
    folder_ = std::string(mkdtemp(tmpl)) + "/";
  }
  void TearDown() override {
    std::filesystem::remove_all(folder_);
    std::string why;
    EXPECT_TRUE(dialogs_.Clean(&why)) << why;
  }
  void WriteSetting(const std::string& name, const std::string& bytes) {
    MakeDirectories(folder_ + "setting");
    ASSERT_TRUE(WriteFileAtomically(folder_ + "setting/" + name, bytes));
  }
  std::string folder_;
  ScriptedDialogs dialogs_;
};

TEST_F(SettingsStoreTest, FirstStartGetsTheDefaults) {
  SettingsStore store(folder_, dialogs_);
  SettingsRecord s{};
  s.Reserved1[0] = 7;  // fields without a default keep their value
  store.LoadRecord("set.dat", s);
  EXPECT_EQ(Cp1251ToUtf8(FieldText(s.OutputFolder)), DefaultOutputFolder());
  EXPECT_EQ(s.NameHasTitle, 1);
  EXPECT_EQ(s.ReadSpeed, 30);
  EXPECT_EQ(s.FolderPerAlbum, 1);
  EXPECT_EQ(s.FolderPerArtist, 1);
  EXPECT_EQ(s.OutputKind, 1);
  EXPECT_EQ(s.UseLame, 1);
  EXPECT_EQ(s.LockTray, 1);
  EXPECT_EQ(s.ProxyPort, 80);
  EXPECT_EQ(s.Lame.BitrateIndex, 12);
  EXPECT_EQ(s.Lame.MaxBitrateIndex, 14);
  EXPECT_EQ(s.Lame.Mode, 1);
  EXPECT_EQ(s.Lame.VbrMethod, -1);
  EXPECT_EQ(s.Volume, 255);
  EXPECT_EQ(s.WmaBitrateIndex, 7);
  const std::int16_t widths[5] = {144, 90, 80, 80, 150};
  EXPECT_EQ(std::memcmp(s.ColumnWidths, widths, sizeof widths), 0);
  EXPECT_EQ(s.NormLowThreshold, 90);
  EXPECT_EQ(s.NormHighThreshold, 98);
  EXPECT_EQ(s.NormLowTarget, 90);
  EXPECT_EQ(s.NormHighTarget, 98);
  for (auto flag : {s.ShowWaveButton, s.ShowWmaButton, s.ShowBurnButton, s.ShowFindButton,
                    s.ShowConvertButton, s.ShowCddbButton, s.ShowPlayerButton})
    EXPECT_EQ(flag, 1);
  EXPECT_EQ(s.WindowColor, 13758449u);
  EXPECT_EQ(s.EditColor, 13758462u);
  EXPECT_EQ(s.Reserved1[0], 7);
  EXPECT_EQ(s.CompressOutput, 0);
}

TEST_F(SettingsStoreTest, FilesOfAnyLength) {
  SettingsStore store(folder_, dialogs_);
  // A 10-byte file changes only the first 10 bytes (then the load's own
  // rules run: speed, title flag, colours, volume).
  WriteSetting("set.dat", "/abcdefgh/");
  SettingsRecord s{};
  std::memset(&s, 0x11, sizeof s);
  store.LoadRecord("set.dat", s);
  EXPECT_EQ(std::string(s.OutputFolder, 10), "/abcdefgh/");
  EXPECT_EQ(static_cast<unsigned char>(s.OutputFolder[10]), 0x11);
  EXPECT_EQ(s.ReadSpeed, 30);
  EXPECT_EQ(s.NameHasTitle, 1);

  // An empty file changes nothing of the record itself.
  WriteSetting("empty.prof", "");
  SettingsRecord e{};
  std::memset(&e, 0x22, sizeof e);
  store.LoadRecord("empty.prof", e);
  EXPECT_EQ(static_cast<unsigned char>(e.OutputFolder[0]), 0x22);
  EXPECT_EQ(e.ProxyPort, 0x22222222);

  // 1219, 1220 and 5000 bytes: as far as the record goes, extra bytes ignored.
  for (std::size_t len : {1219u, 1220u, 5000u}) {
    std::string bytes(len, '\x05');
    std::memcpy(bytes.data(), "/x/", 4);
    WriteSetting("l.prof", bytes);
    SettingsRecord r{};
    r.Reserved6[2] = 0x77;
    store.LoadRecord("l.prof", r);
    EXPECT_EQ(FieldText(r.OutputFolder), "/x/") << len;
    EXPECT_EQ(r.Mp3AsOgg, 5) << len;
    EXPECT_EQ(r.Reserved6[2], len == 1219 ? 0x77 : 5) << len;
  }
}

TEST_F(SettingsStoreTest, ColourVolumeAndFolderRules) {
  SettingsStore store(folder_, dialogs_);
  SettingsRecord stored{};
  stored.WindowColor = 0;
  stored.EditColor = 0x123456;
  stored.Volume = 0;
  std::string bytes(reinterpret_cast<char*>(&stored), sizeof stored);
  WriteSetting("set.dat", bytes);
  SettingsRecord s{};
  store.LoadRecord("set.dat", s);
  // One colour of 0 resets both.
  EXPECT_EQ(s.WindowColor, 13758449u);
  EXPECT_EQ(s.EditColor, 13758462u);
  EXPECT_EQ(s.Volume, 255);
  // An empty output folder becomes the program folder.
  EXPECT_EQ(FieldText(s.OutputFolder), folder_);
}

// The default folder is one the record holds whole; a music folder it cannot
// hold is passed over, and the user is told.
TEST_F(SettingsStoreTest, DefaultFolderIsNeverCutAndAPassedOverOneIsNamed) {
  const char* oldHome = std::getenv("HOME");
  const char* oldCfg = std::getenv("XDG_CONFIG_HOME");
  const std::string savedHome = oldHome ? oldHome : "", savedCfg = oldCfg ? oldCfg : "";
  auto restore = [&] {
    if (oldHome) setenv("HOME", savedHome.c_str(), 1); else unsetenv("HOME");
    if (oldCfg) setenv("XDG_CONFIG_HOME", savedCfg.c_str(), 1); else unsetenv("XDG_CONFIG_HOME");
  };
  // An XDG music folder CP1251 cannot hold.
  MakeDirectories(folder_ + "cfg");
  ASSERT_TRUE(WriteFileAtomically(folder_ + "cfg/user-dirs.dirs",
                                  "XDG_MUSIC_DIR=\"$HOME/Música\"\n"));
  setenv("XDG_CONFIG_HOME", (folder_ + "cfg").c_str(), 1);
  setenv("HOME", (folder_ + "home").c_str(), 1);
  dialogs_.ExpectMessage("Папку '" + folder_ + "home/Música/' нельзя сохранить в настройках: путь "
                         "длиннее 260 байт или содержит символы вне кодировки Windows-1251. "
                         "Музыка будет сохраняться в '" + folder_ + "home/Music/'; другую папку "
                         "можно выбрать в настройках.",
                         "Sonarvex v3.2", MsgIcon::Warning, MsgButtons::Ok);
  SettingsStore store(folder_, dialogs_);
  SettingsRecord s{};
  store.LoadRecord("set.dat", s);
  EXPECT_EQ(Cp1251ToUtf8(FieldText(s.OutputFolder)), folder_ + "home/Music/");
  // A home too long for the record: its music folder is passed over whole.
  const std::string home = "/" + std::string(255, 'h');
  setenv("HOME", home.c_str(), 1);
  setenv("XDG_CONFIG_HOME", (folder_ + "none").c_str(), 1);
  dialogs_.ExpectMessage("Папку '" + home + "/Music/' нельзя сохранить в настройках: путь "
                         "длиннее 260 байт или содержит символы вне кодировки Windows-1251. "
                         "Музыка будет сохраняться в '/tmp/Music/'; другую папку можно выбрать "
                         "в настройках.",
                         "Sonarvex v3.2", MsgIcon::Warning, MsgButtons::Ok);
  SettingsRecord t{};
  store.LoadRecord("set.dat", t);
  restore();
  EXPECT_EQ(std::string(FieldText(t.OutputFolder)), "/tmp/Music/");
}

TEST_F(SettingsStoreTest, UnreadableFileWarnsAndKeepsTheRecord) {
  SettingsStore store(folder_, dialogs_);
  WriteSetting("mine.prof", std::string(1220, '\x09'));
  chmod((folder_ + "setting/mine.prof").c_str(), 0000);
  if (geteuid() == 0) {
    // root may open anything: make the path a folder instead.
    std::filesystem::remove(folder_ + "setting/mine.prof");
    MakeDirectories(folder_ + "setting/mine.prof");
  }
  dialogs_.ExpectMessage(kReadFailed, "Sonarvex v3.2", MsgIcon::Warning, MsgButtons::Ok);
  SettingsRecord s{};
  s.Volume = 3;
  SetField(s.OutputFolder, "/keep/");
  store.LoadRecord("mine.prof", s);
  EXPECT_EQ(FieldText(s.OutputFolder), "/keep/");
  EXPECT_EQ(s.Volume, 3);
}

TEST_F(SettingsStoreTest, SaveWritesTheImageAndReportsFailure) {
  SettingsStore store(folder_, dialogs_);
  SettingsRecord s{};
  ApplyFirstStartDefaults(s, "/music/");
  SetField(s.ProxyPassword, "secret");
  ASSERT_TRUE(store.SaveRecord("set.dat", s));
  auto bytes = ReadFileBytes(folder_ + "setting/set.dat");
  ASSERT_TRUE(bytes);
  ASSERT_EQ(bytes->size(), 1220u);
  EXPECT_EQ(std::memcmp(bytes->data(), &s, 1220), 0);
  struct stat st{};
  stat((folder_ + "setting/set.dat").c_str(), &st);
  EXPECT_EQ(st.st_mode & 0777, 0600u);  // it holds the proxy password

  // A profile file whose place is taken by a folder cannot be written: the
  // message names set.dat whatever the file, then the file and the reason;
  // set.dat stays intact.
  MakeDirectories(folder_ + "setting/bad.prof/x");
  dialogs_.ExpectMessage(std::string(kWriteFailed) + " Не удалось записать файл '" + folder_ +
                             "setting/bad.prof': " + std::strerror(EISDIR) + ".",
                         "Sonarvex v3.2", MsgIcon::Warning, MsgButtons::Ok);
  EXPECT_FALSE(store.SaveRecord("bad.prof", s));
  EXPECT_EQ(ReadFileBytes(folder_ + "setting/set.dat")->size(), 1220u);
}

TEST_F(SettingsStoreTest, SettingFolderThatCannotBeCreated) {
  // A file where the folder should be.
  WriteFileAtomically(folder_ + "setting", "not a folder");
  SettingsStore store(folder_, dialogs_);
  SettingsRecord s{};
  dialogs_.ExpectMessage(std::string(kWriteFailed) + " Не удалось создать папку '" + folder_ +
                             "setting/': " + std::strerror(EEXIST) + ".",
                         "Sonarvex v3.2", MsgIcon::Warning, MsgButtons::Ok);
  EXPECT_FALSE(store.SaveRecord("set.dat", s));
  EXPECT_EQ(*ReadFileBytes(folder_ + "setting"), "not a folder");
}

TEST_F(SettingsStoreTest, WindowPlacementRoundTrip) {
  SettingsStore store(folder_, dialogs_);
  EXPECT_FALSE(store.LoadPlacement().Top.has_value());
  ASSERT_TRUE(store.SavePlacement(10, 20, 600, 400));
  WindowPlacement p = store.LoadPlacement();
  EXPECT_EQ(p.Top, 10);
  EXPECT_EQ(p.Left, 20);
  EXPECT_EQ(p.Width, 600);
  EXPECT_EQ(p.Height, 400);
}

TEST_F(SettingsStoreTest, AudioCdAssociation) {
  std::string config = folder_ + "config", data = folder_ + "data";
  XdgAssociations xdg(config, {data});
  SettingsStore store(folder_, dialogs_);
  // Off, no LastPlayer, no handler: nothing is associated.
  store.ApplyCdPlayerAssociation(false, "/opt/sonarvex/sonarvex", xdg);
  EXPECT_EQ(xdg.AudioCdHandler(), "");
  // On: this program takes over and the previous handler is kept.
  xdg.SetAudioCdHandler("vlc.desktop");
  store.ApplyCdPlayerAssociation(true, "/opt/sonarvex/sonarvex", xdg);
  EXPECT_EQ(xdg.AudioCdHandler(), "sonarvex.desktop");
  EXPECT_TRUE(FileExists(data + "/applications/sonarvex.desktop"));
  // Saving again with it on keeps the previous handler as LastPlayer.
  store.ApplyCdPlayerAssociation(true, "/opt/sonarvex/sonarvex", xdg);
  // Off again: the previous handler comes back.
  store.ApplyCdPlayerAssociation(false, "/opt/sonarvex/sonarvex", xdg);
  EXPECT_EQ(xdg.AudioCdHandler(), "vlc.desktop");
}

}  // namespace
}  // namespace sonarvex

namespace sonarvex {

// ---- Texts beyond code page 1251 -----------------------------------------

TEST_F(SettingsStoreTest, FoldersAndServerTextsInEveryScriptRoundTripThroughCompanions) {
  SettingsStore store(folder_, dialogs_);
  for (const std::string name : {"set.dat", "Работа.prof"}) {
    SettingsRecord s{};
    ApplyFirstStartDefaults(s, "/music/");
    RecordTexts texts;
    SetSettingsText(s, texts, SettingsField::OutputFolder, "/home/u/Música/東京/");
    SetSettingsText(s, texts, SettingsField::FormatString, "%N · %T");
    SetSettingsText(s, texts, SettingsField::ProxyPassword, "pässwörd€");
    ASSERT_TRUE(store.SaveRecord(name, s, &texts));
    const std::string path = folder_ + "setting/" + name;
    EXPECT_EQ(ReadFileBytes(path)->size(), 1220u);
    ASSERT_TRUE(FileExists(path + ".utf8"));
    struct stat st{};
    stat((path + ".utf8").c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0600u);  // it may hold the proxy password

    SettingsRecord back{};
    RecordTexts backTexts;
    store.LoadRecord(name, back, &backTexts);
    EXPECT_EQ(std::memcmp(back.OutputFolder, s.OutputFolder, sizeof s.OutputFolder), 0);
    EXPECT_EQ(SettingsText(back, backTexts, SettingsField::OutputFolder), "/home/u/Música/東京/");
    EXPECT_EQ(SettingsText(back, backTexts, SettingsField::FormatString), "%N · %T");
    EXPECT_EQ(SettingsText(back, backTexts, SettingsField::ProxyPassword), "pässwörd€");
  }
}

TEST_F(SettingsStoreTest, SettingsThatFitCp1251AreWrittenAsBeforeWithoutCompanion) {
  SettingsStore store(folder_, dialogs_);
  SettingsRecord s{};
  ApplyFirstStartDefaults(s, "/music/");
  RecordTexts texts;
  SetSettingsText(s, texts, SettingsField::OutputFolder, "/home/u/Музыка/");
  ASSERT_TRUE(store.SaveRecord("set.dat", s));
  const std::string plain = *ReadFileBytes(folder_ + "setting/set.dat");
  ASSERT_TRUE(store.SaveRecord("set.dat", s, &texts));
  EXPECT_EQ(*ReadFileBytes(folder_ + "setting/set.dat"), plain);
  EXPECT_FALSE(FileExists(folder_ + "setting/set.dat.utf8"));

  // A companion from before goes once nothing needs it; one the record no
  // longer matches (the Windows program changed the folder) is not used.
  RecordTexts tokyo;
  SetSettingsText(s, tokyo, SettingsField::OutputFolder, "/東京/");
  ASSERT_TRUE(store.SaveRecord("set.dat", s, &tokyo));
  ASSERT_TRUE(FileExists(folder_ + "setting/set.dat.utf8"));
  SettingsRecord edited = s;
  SetFieldUtf8(edited.OutputFolder, "C:\\music\\");
  WriteSetting("set.dat", std::string(reinterpret_cast<const char*>(&edited), sizeof edited));
  SettingsRecord back{};
  RecordTexts backTexts;
  store.LoadRecord("set.dat", back, &backTexts);
  EXPECT_EQ(SettingsText(back, backTexts, SettingsField::OutputFolder), "C:\\music\\");
  EXPECT_TRUE(backTexts.Empty());
}

TEST(SettingsStoreInstalled, FilesLiveInTheSettingFolderAndAnEmptyOutputIsTheMusicFolder) {
  char tmpl[] = "/tmp/sonarvex-store-XXXXXX";
  const std::string root = std::string(mkdtemp(tmpl)) + "/";
  ScriptedDialogs dialogs;
  SettingsStore store(root + "bin/", dialogs, root + "config/sonarvex");
  EXPECT_EQ(store.SettingFolder(), root + "config/sonarvex/");
  SettingsRecord s{};
  std::memset(&s, 0, sizeof s);
  store.LoadRecord("set.dat", s);
  // Blank the folder as a damaged file would, and load again.
  std::memset(s.OutputFolder, 0, sizeof s.OutputFolder);
  ASSERT_TRUE(store.SaveRecord("set.dat", s));
  EXPECT_TRUE(FileExists(root + "config/sonarvex/set.dat"));
  store.LoadRecord("set.dat", s);
  EXPECT_EQ(std::string(s.OutputFolder), DefaultOutputFolder());
  EXPECT_NE(std::string(s.OutputFolder).rfind(root + "bin/", 0), 0u);
  EXPECT_FALSE(DirectoryExists(root + "bin"));
  std::filesystem::remove_all(root);
}

}  // namespace sonarvex

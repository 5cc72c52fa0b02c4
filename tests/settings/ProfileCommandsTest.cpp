#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <deque>
#include <filesystem>

#include "settings/SettingsStore.h"
#include "settings/ProfileCommands.h"
#include "platform/Cp1251.h"
#include "platform/Files.h"
#include "platform/ScriptedDialogs.h"

namespace sonarvex {
namespace {

constexpr const char* kTitle = "Sonarvex v3.2";
constexpr const char* kReplace = "Данная конфигурация уже существует. Заменить?";

class ScriptedChooser : public ProfileChooser {
 public:
  std::deque<std::optional<ChooserAnswer>> answers;
  std::vector<ChooserRequest> requests;
  std::optional<ChooserAnswer> Choose(const ChooserRequest& r) override {
    requests.push_back(r);
    if (answers.empty()) {
      ADD_FAILURE() << "unexpected chooser: " << r.Label;
      return std::nullopt;
    }
    auto a = answers.front();
    answers.pop_front();
    return a;
  }
  void Text(const std::string& t) { answers.push_back(ChooserAnswer{t, -1}); }
  void Index(int i) { answers.push_back(ChooserAnswer{"", i}); }
};

// The main window's part: the settings record with its store.
class Host : public ProfileHost {
 public:
  Host(SettingsStore& store, ProfileList& list, std::string folder)
      : store_(store), list_(list), folder_(std::move(folder)) {}
  SettingsRecord settings{};
  WindowState state = WindowState::Idle;
  int stops = 0;
  std::vector<std::string> loaded;
  ProfileMenu menu;
  WindowState State() override { return state; }
  void Stop() override {
    ++stops;
    state = WindowState::Idle;
  }
  void LoadSettings(const std::string& f) override {
    loaded.push_back(f);
    store_.LoadRecord(f, settings);
  }
  bool SaveSettings(const std::string& f) override {
    if (store_.EnsureSettingFolder()) list_.Save(folder_);
    return store_.SaveRecord(f, settings);
  }
  void ShowProfileMenu(const ProfileMenu& m) override { menu = m; }

 private:
  SettingsStore& store_;
  ProfileList& list_;
  std::string folder_;
};

class ProfilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/sonarvex-prof-XXXXXX";
    program_ = std::string(mkdtemp(tmpl)) + "/";
    setting_ = program_ + "setting/";
    store_ = std::make_unique<SettingsStore>(program_, dialogs_);
    host_ = std::make_unique<Host>(*store_, list_, setting_);
    commands_ = std::make_unique<ProfileCommands>(list_, setting_, dialogs_, chooser_, *host_);
  }
  void TearDown() override {
    std::string why;
    EXPECT_TRUE(dialogs_.Clean(&why)) << why;
    EXPECT_TRUE(chooser_.answers.empty());
    std::filesystem::remove_all(program_);
  }
  std::string ProfLst() { return ReadFileBytes(setting_ + "prof.lst").value_or("<none>"); }
  // Saves the current settings as a new profile, marked by its CddbHost.
  void SaveAs(const std::string& name) {
    SetField(host_->settings.CddbHost, name);
    chooser_.Text(name);
    ASSERT_TRUE(commands_->Save());
  }
  std::string HostOf(const std::string& file) {
    auto bytes = ReadFileBytes(setting_ + file);
    if (!bytes || bytes->size() != sizeof(SettingsRecord)) return "<bad>";
    SettingsRecord s;
    std::memcpy(&s, bytes->data(), sizeof s);
    return std::string(FieldText(s.CddbHost));
  }

  std::string program_, setting_;
  ScriptedDialogs dialogs_;
  ScriptedChooser chooser_;
  ProfileList list_;
  std::unique_ptr<SettingsStore> store_;
  std::unique_ptr<Host> host_;
  std::unique_ptr<ProfileCommands> commands_;
};

TEST_F(ProfilesTest, FirstStartSaveAndTheMenu) {
  commands_->LoadProfiles();
  EXPECT_EQ(host_->loaded, std::vector<std::string>{"set.dat"});
  EXPECT_TRUE(host_->menu[0].Checked);
  EXPECT_FALSE(host_->menu[1].Visible);
  EXPECT_FALSE(commands_->DeleteEnabled());
  ASSERT_TRUE(commands_->SaveActiveProfile());
  EXPECT_EQ(ProfLst(), "-1\r\n");
  EXPECT_EQ(std::filesystem::file_size(setting_ + "set.dat"), 1220u);

  SaveAs("Rock");
  EXPECT_EQ(chooser_.requests.back().Label, "Введите название конфигурации");
  EXPECT_TRUE(chooser_.requests.back().Editable);
  EXPECT_EQ(ProfLst(), "0\r\nRock.prof\r\n");
  EXPECT_EQ(HostOf("Rock.prof"), "Rock");
  EXPECT_EQ(host_->menu[1].Name, "Prof1");
  EXPECT_EQ(host_->menu[1].Caption, "Rock");
  EXPECT_TRUE(host_->menu[1].Visible && host_->menu[1].Checked);
  EXPECT_FALSE(host_->menu[0].Checked);
  EXPECT_TRUE(commands_->DeleteEnabled());

  // A dotted name shows shortened; a Cyrillic one is CP1251 in the list and
  // UTF-8 on disk.
  SaveAs("a.b");
  EXPECT_EQ(host_->menu[2].Caption, "a");
  EXPECT_TRUE(FileExists(setting_ + "a.b.prof"));
  SaveAs("Джаз");
  EXPECT_EQ(host_->menu[3].Caption, "Джаз");
  EXPECT_TRUE(FileExists(setting_ + "Джаз.prof"));
  EXPECT_EQ(ProfLst(), "2\r\nRock.prof\r\na.b.prof\r\n" + Utf8ToCp1251("Джаз.prof") + "\r\n");
  EXPECT_EQ(chooser_.requests.back().Items, (std::vector<std::string>{"Rock", "a"}));

  // Reading it all back at the next start.
  ProfileList again;
  again.Load(setting_);
  EXPECT_EQ(again.ActiveFileName(), "Джаз.prof");
  EXPECT_EQ(again.Caption(2), Utf8ToCp1251("Джаз"));
}

TEST_F(ProfilesTest, NamesCp1251CannotHoldAreKeptWhole) {
  commands_->LoadProfiles();
  SaveAs("Джаз");
  // A name in another script stands in the list as UTF-8, its settings file
  // under the same name.
  SaveAs("東京 ♫");
  EXPECT_EQ(host_->menu[2].Caption, "東京 ♫");
  EXPECT_TRUE(FileExists(setting_ + "東京 ♫.prof"));
  EXPECT_EQ(ProfLst(), "1\r\n" + Utf8ToCp1251("Джаз.prof") + "\r\n東京 ♫.prof\r\n");
  // The same name again is the same profile (asked before replacing).
  chooser_.Text("東京 ♫");
  dialogs_.ExpectMessage(kReplace, kTitle, MsgIcon::Question, MsgButtons::YesNo, IdYes);
  ASSERT_TRUE(commands_->Save());
  EXPECT_EQ(ProfLst(), "1\r\n" + Utf8ToCp1251("Джаз.prof") + "\r\n東京 ♫.prof\r\n");
  // Both read back at the next start.
  ProfileList again;
  again.Load(setting_);
  EXPECT_EQ(again.ActiveFileName(), "東京 ♫.prof");
  EXPECT_EQ(ProfileList::LineText(again.Caption(0)), "Джаз");
  EXPECT_EQ(ProfileList::LineText(again.Caption(1)), "東京 ♫");
  // Deleting it names it whole and removes its file.
  chooser_.Index(1);
  dialogs_.ExpectMessage("Вы хотите удалить '東京 ♫.prof' ???", kTitle, MsgIcon::Question,
                         MsgButtons::YesNo, IdYes);
  ASSERT_TRUE(commands_->Delete());
  EXPECT_FALSE(FileExists(setting_ + "東京 ♫.prof"));
  EXPECT_EQ(ProfileList::LineOf("Джаз"), Utf8ToCp1251("Джаз"));
  EXPECT_EQ(ProfileList::LineOf("日本"), "日本");
}

TEST_F(ProfilesTest, SaveUnderAnExistingNameAsksBeforeReplacing) {
  commands_->LoadProfiles();
  SaveAs("Rock");
  SaveAs("Pop");
  // No: the name dialog again, preset to the typed name; then Yes.
  SetField(host_->settings.CddbHost, "new");
  chooser_.Text("ROCK");
  dialogs_.ExpectMessage(kReplace, kTitle, MsgIcon::Question, MsgButtons::YesNo, IdNo);
  chooser_.Text("rOcK");
  dialogs_.ExpectMessage(kReplace, kTitle, MsgIcon::Question, MsgButtons::YesNo, IdYes);
  ASSERT_TRUE(commands_->Save());
  EXPECT_EQ(chooser_.requests[chooser_.requests.size() - 2].Text, "");
  EXPECT_EQ(chooser_.requests.back().Text, "ROCK");
  // The replaced line takes the name as typed; the same file on disk.
  EXPECT_EQ(ProfLst(), "0\r\nrOcK.prof\r\nPop.prof\r\n");
  EXPECT_EQ(host_->menu[1].Caption, "rOcK");
  EXPECT_EQ(HostOf("Pop.prof"), "Pop");

  // An empty name or a closed chooser saves nothing.
  chooser_.Text("");
  EXPECT_FALSE(commands_->Save());
  chooser_.answers.push_back(std::nullopt);
  EXPECT_FALSE(commands_->Save());
  EXPECT_EQ(ProfLst(), "0\r\nrOcK.prof\r\nPop.prof\r\n");
}

TEST_F(ProfilesTest, TenProfilesAtMost) {
  commands_->LoadProfiles();
  for (int i = 0; i < 10; ++i) SaveAs("p" + std::to_string(i));
  EXPECT_TRUE(host_->menu[10].Visible);
  dialogs_.ExpectMessage("Нельзя создать больше 10 конфигураций.", kTitle, MsgIcon::Information,
                         MsgButtons::Ok);
  EXPECT_FALSE(commands_->Save());
}

TEST_F(ProfilesTest, NamesAFileCannotHoldAreRefused) {
  commands_->LoadProfiles();
  const std::string chars = "Название конфигурации не может содержать символы \\ / : * ? \" < > |";
  for (const std::string& bad : {std::string("a/b"), std::string("a\\b"), std::string("x:y"),
                                 std::string("a\0b", 3), std::string("tab\there")}) {
    chooser_.Text(bad);
    dialogs_.ExpectMessage(chars, kTitle, MsgIcon::Information, MsgButtons::Ok);
    chooser_.Text("");  // asked again, preset to the refused name; gives up
    EXPECT_FALSE(commands_->Save());
    EXPECT_EQ(chooser_.requests.back().Text, bad);
  }
  chooser_.Text("..");
  dialogs_.ExpectMessage("Название конфигурации не может начинаться с точки.", kTitle,
                         MsgIcon::Information, MsgButtons::Ok);
  chooser_.Text("");
  EXPECT_FALSE(commands_->Save());
  chooser_.Text(std::string(251, 'n'));
  dialogs_.ExpectMessage("Слишком длинное название конфигурации.", kTitle, MsgIcon::Information,
                         MsgButtons::Ok);
  chooser_.Text("ok");
  EXPECT_TRUE(commands_->Save());
  EXPECT_EQ(ProfLst(), "0\r\nok.prof\r\n");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(setting_),
                          std::filesystem::directory_iterator()),
            2);  // prof.lst and ok.prof
}

TEST_F(ProfilesTest, AProfileFileThatCannotBeWrittenLeavesTheListAsItWas) {
  commands_->LoadProfiles();
  SaveAs("Rock");
  const std::string before = ProfLst();
  // A folder in the way of the new profile's file.
  std::filesystem::create_directories(setting_ + "Blocked.prof/inside");
  chooser_.Text("Blocked");
  dialogs_.ExpectMessage("Неполучилось сохранить настройки в файл 'set.dat'. Не удалось записать "
                         "файл '" + setting_ + "Blocked.prof': " + std::strerror(EISDIR) + ".",
                         kTitle,
                         MsgIcon::Warning, MsgButtons::Ok);
  EXPECT_FALSE(commands_->Save());
  EXPECT_EQ(ProfLst(), before);
  EXPECT_EQ(list_.Active(), 0);
  EXPECT_EQ(list_.ProfileCount(), 1);
  EXPECT_FALSE(host_->menu[2].Visible);
  EXPECT_TRUE(host_->menu[1].Checked);
  EXPECT_EQ(HostOf("Rock.prof"), "Rock");
}

TEST_F(ProfilesTest, PickLoadsWithoutSaving) {
  commands_->LoadProfiles();
  SaveAs("A");
  SaveAs("B");
  SetField(host_->settings.CddbHost, "unsaved");
  host_->state = WindowState::Playing;
  commands_->Pick(0);
  EXPECT_EQ(host_->stops, 1);
  EXPECT_EQ(FieldText(host_->settings.CddbHost), "A");
  EXPECT_EQ(HostOf("B.prof"), "B");
  EXPECT_TRUE(host_->menu[1].Checked);
  EXPECT_FALSE(host_->menu[2].Checked);
  commands_->Pick(-1);
  EXPECT_EQ(host_->loaded.back(), "set.dat");
  EXPECT_TRUE(host_->menu[0].Checked);
  commands_->Pick(5);  // hidden item: nothing
  EXPECT_EQ(list_.Active(), -1);
  EXPECT_EQ(host_->stops, 1);
}

TEST_F(ProfilesTest, DeletingAProfileBeforeTheActiveOneKeepsItActive) {
  commands_->LoadProfiles();
  SaveAs("A");
  SaveAs("B");
  SaveAs("C");  // active: 2
  chooser_.Index(0);
  dialogs_.ExpectMessage("Вы хотите удалить 'A.prof' ???", kTitle, MsgIcon::Question,
                         MsgButtons::YesNo, IdYes);
  ASSERT_TRUE(commands_->Delete());
  EXPECT_EQ(chooser_.requests.back().Label, "Что удалять будем?");
  EXPECT_EQ(chooser_.requests.back().Items,
            (std::vector<std::string>{"A.prof", "B.prof", "C.prof"}));
  EXPECT_EQ(chooser_.requests.back().Index, 0);
  EXPECT_EQ(ProfLst(), "1\r\nB.prof\r\nC.prof\r\n");
  EXPECT_FALSE(FileExists(setting_ + "A.prof"));
  EXPECT_EQ(list_.ActiveFileName(), "C.prof");
  EXPECT_EQ(FieldText(host_->settings.CddbHost), "C");
  EXPECT_TRUE(host_->menu[2].Checked);
  EXPECT_FALSE(host_->menu[3].Visible);

  // No keeps everything.
  chooser_.Index(1);
  dialogs_.ExpectMessage("Вы хотите удалить 'C.prof' ???", kTitle, MsgIcon::Question,
                         MsgButtons::YesNo, IdNo);
  EXPECT_FALSE(commands_->Delete());
  EXPECT_TRUE(FileExists(setting_ + "C.prof"));
}

TEST_F(ProfilesTest, DeletingTheActiveProfileOverwritesNoOtherFile) {
  commands_->LoadProfiles();
  SetField(host_->settings.CddbHost, "default");
  ASSERT_TRUE(commands_->SaveActiveProfile());
  SaveAs("A");
  SaveAs("B");
  commands_->Pick(0);  // A active, B follows it in the list
  SetField(host_->settings.CddbHost, "edited A");
  chooser_.Index(0);
  dialogs_.ExpectMessage("Вы хотите удалить 'A.prof' ???", kTitle, MsgIcon::Question,
                         MsgButtons::YesNo, IdYes);
  ASSERT_TRUE(commands_->Delete());
  EXPECT_EQ(ProfLst(), "-1\r\nB.prof\r\n");
  EXPECT_EQ(HostOf("B.prof"), "B");
  EXPECT_EQ(HostOf("set.dat"), "default");
  EXPECT_EQ(FieldText(host_->settings.CddbHost), "default");
  EXPECT_TRUE(host_->menu[0].Checked);
  // Exit then saves the default settings.
  ASSERT_TRUE(commands_->SaveActiveProfile());
  EXPECT_EQ(HostOf("B.prof"), "B");
}

TEST_F(ProfilesTest, DamagedListsDoNotStopTheStart) {
  MakeDirectories(setting_);
  WriteFileAtomically(setting_ + "prof.lst", "abc\r\nA.prof\r\n");
  WriteFileAtomically(setting_ + "A.prof", std::string(sizeof(SettingsRecord), '\0'));
  commands_->LoadProfiles();
  EXPECT_EQ(list_.Active(), -1);
  EXPECT_EQ(host_->loaded.back(), "set.dat");
  EXPECT_TRUE(host_->menu[1].Visible);
  EXPECT_EQ(host_->menu[1].Caption, "A");

  // A line that is no plain file name is never read, written or deleted.
  WriteFileAtomically(program_ + "outside.prof", "keep");
  WriteFileAtomically(setting_ + "prof.lst", "0\r\n../outside.prof\r\n");
  commands_->LoadProfiles();
  EXPECT_EQ(host_->loaded.back(), "set.dat");
  chooser_.Index(0);
  dialogs_.ExpectMessage("Вы хотите удалить '../outside.prof' ???", kTitle, MsgIcon::Question,
                         MsgButtons::YesNo, IdYes);
  ASSERT_TRUE(commands_->Delete());
  EXPECT_EQ(ReadFileBytes(program_ + "outside.prof"), "keep");
  EXPECT_EQ(ProfLst(), "-1\r\n");
}

}  // namespace
}  // namespace sonarvex

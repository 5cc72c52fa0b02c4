#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTest>
#include <QTextBrowser>
#include <QIcon>
#include <QImage>
#include <QScreen>
#include <QTimer>
#include <QSlider>
#include <QToolButton>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <signal.h>
#include <netinet/in.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

#include "codec/OpusWriter.h"
#include "LoopbackServer.h"
#include "MusicBrainzTesting.h"
#include "cli/CliCommands.h"
#include "app/MainFormRules.h"
#include "playback/ui/PositionBar.h"
#include "session/Session.h"
#include "playback/MediaPlayer.h"
#include "platform/Shell.h"
#include "app/ui/TMainForm.h"
#include "settings/ui/TSettingsForm.h"
#include "conversion/ui/TConvertForm.h"
#include "recording/ui/TMainWriteForm.h"
#include "drive/DeviceDirectory.h"
#include "drive/Transport.h"
#include "drive/virtual/DemoDisc.h"
#include "drive/virtual/VirtualDrive.h"
#include "metadata/AlbumCover.h"
#include "metadata/AlbumDatabase.h"
#include "metadata/ui/TChoseForm.h"
#include "records/CoverImage.h"
#include "platform/Cp1251.h"
#include "platform/IniStore.h"
#include "platform/Files.h"
#include "platform/ui/QtText.h"
#include "platform/ScriptedDialogs.h"
#include "platform/XdgAssociations.h"
#include "records/TextFields.h"

namespace sonarvex {
namespace {

QApplication& App() {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  static int argc = 1;
  static char name[] = "app_ui_tests";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

class MainFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    char tmpl[] = "/tmp/sonarvex-main-XXXXXX";
    folder_ = std::string(mkdtemp(tmpl)) + "/";
    xdg_ = std::make_unique<XdgAssociations>(folder_ + "config",
                                             std::vector<std::string>{folder_ + "data"});
    context_.ProgramFolder = folder_;
    context_.DialogService = &dialogs_;
    context_.Xdg = xdg_.get();
    context_.ProgramPath = folder_ + "sonarvex";
    context_.ScanSystemDrives = false;
    // No disc is looked up by itself (no network) unless a test asks.
    window_.AutoLookup = false;
  }
  void TearDown() override {
    std::string why;
    EXPECT_TRUE(dialogs_.Clean(&why)) << why;
    std::filesystem::remove_all(folder_);
  }
  std::string folder_;
  ScriptedDialogs dialogs_;
  std::unique_ptr<XdgAssociations> xdg_;
  SessionContext context_;
  MainFormContext window_;
};

TEST_F(MainFormTest, FirstStartThenExitLeavesTheSettingFiles) {
  {
    Session session(context_);
    TMainForm form(session, window_);
    form.show();
    EXPECT_EQ(form.windowTitle().toStdString(), "Sonarvex v3.2 - Диска нет");
    EXPECT_EQ(form.minimumSize(), QSize(578, 392));
    QTreeWidget* list = form.TrackList();
    QStringList headers;
    for (int i = 0; i < list->columnCount(); ++i) headers << list->headerItem()->text(i);
    EXPECT_EQ(headers.join('|').toStdString(), "Трeк|Время|Размер|В MP3|Состояние");
    EXPECT_EQ(list->columnWidth(0), 144);
    EXPECT_GE(list->columnWidth(4), 150);  // the status column takes the room left
    EXPECT_FALSE(form.DiscPresent());
    // Without a disc the disc commands are off, eject stays on.
    EXPECT_FALSE(form.findChild<QToolButton*>("SpeedButton16")->isEnabled());
    EXPECT_TRUE(form.findChild<QToolButton*>("SpeedButton13")->isEnabled());
    EXPECT_EQ(form.State(), WindowState::Idle);
    // Change something that must survive the restart.
    form.findChild<QSlider*>("VolumeBar")->setValue(100);
    list->setColumnWidth(1, 123);
    form.close();
  }
  EXPECT_TRUE(DirectoryExists(folder_ + "setting"));
  EXPECT_EQ(*ReadFileBytes(folder_ + "setting/prof.lst"), "-1\r\n");
  auto set = ReadFileBytes(folder_ + "setting/set.dat");
  ASSERT_TRUE(set);
  EXPECT_EQ(set->size(), 1220u);

  Session sessionAgain(context_);
  TMainForm again(sessionAgain, window_);
  EXPECT_EQ(again.Settings().Volume, 100);
  EXPECT_EQ(again.findChild<QSlider*>("VolumeBar")->value(), 100);
  EXPECT_EQ(again.TrackList()->columnWidth(1), 123);
  EXPECT_EQ(std::memcmp(&again.Settings(), set->data(), 300), 0);
}

TEST_F(MainFormTest, HiddenToolbarButtonsLeaveNoGaps) {
  Session session(context_);
  TMainForm form(session, window_);
  form.resize(800, 500);
  form.show();
  SettingsRecord& s = form.Settings();
  s.ShowWmaButton = s.ShowWaveButton = s.ShowBurnButton = s.ShowFindButton = 0;
  s.ShowConvertButton = s.ShowCddbButton = s.ShowPlayerButton = 0;
  form.LayoutToolbar();
  std::vector<int> lefts;
  for (const char* name : kToolbarOrder) {
    auto* b = form.findChild<QToolButton*>(name);
    ASSERT_NE(b, nullptr) << name;
    if (!b->isHidden()) lefts.push_back(b->x());
  }
  ASSERT_EQ(lefts.size(), 4u);  // refresh, MP3, tags, settings
  for (std::size_t i = 0; i < lefts.size(); ++i) EXPECT_EQ(lefts[i], 38 * static_cast<int>(i));
  // The profile and exit buttons stay at the right edge.
  auto* exit = form.findChild<QToolButton*>("SpeedButton25");
  EXPECT_EQ(exit->x() + exit->width(), exit->parentWidget()->width());
  EXPECT_EQ(exit->size(), QSize(38, 39));
  s.Mp3AsOgg = 1;
  form.LayoutToolbar();
  EXPECT_EQ(form.findChild<QToolButton*>("SpeedButton2")->toolTip().toStdString(),
            "Сграбить в OGG");
  form.close();
}

TEST_F(MainFormTest, UnwritableSettingsAreReported) {
  Session session(context_);
  TMainForm form(session, window_);
  // The settings file's place is taken by a folder: the save fails with the
  // message, and nothing else goes wrong.
  MakeDirectories(folder_ + "setting/set.dat/x");
  dialogs_.ExpectMessage("Неполучилось сохранить настройки в файл 'set.dat'. Не удалось записать "
                         "файл '" + folder_ + "setting/set.dat': " + std::strerror(EISDIR) + ".",
                         "Sonarvex v3.2", MsgIcon::Warning, MsgButtons::Ok);
  form.close();
  EXPECT_EQ(*ReadFileBytes(folder_ + "setting/prof.lst"), "-1\r\n");
}

// The command line changes the settings while the window runs: the change
// reaches the window, and the window's close keeps it together with what
// the window changed itself.
TEST_F(MainFormTest, SettingsSetOnTheCommandLineWhileTheWindowRunsAreKept) {
  {
    Session first(context_);
    first.LoadActiveProfile();
    ASSERT_TRUE(first.SaveSettings(first.Profiles().ActiveFileName()));
  }
  Session session(context_);
  TMainForm form(session, window_);
  form.show();
  ASSERT_EQ(form.Settings().SectorsPerRead, 0);
  ASSERT_EQ(form.Settings().ShowGrid, 0);
  form.findChild<QSlider*>("VolumeBar")->setValue(90);  // the window's own change

  std::ostringstream out, err;
  CliEnvironment env;
  env.ExecutableFolder = folder_;
  env.ScanSystemDrives = false;
  MakeDirectories(folder_ + "cli-music");
  ASSERT_EQ(RunCli({"settings", "set", "SectorsPerRead=40", "ShowGrid=1",
                    "OutputFolder=" + folder_ + "cli-music/Папка"},
                   out, err, env),
            0)
      << err.str();

  // The window sees it without a restart.
  for (int i = 0; i < 100 && form.Settings().SectorsPerRead != 40; ++i) QTest::qWait(20);
  EXPECT_EQ(form.Settings().SectorsPerRead, 40);
  EXPECT_EQ(form.Settings().ShowGrid, 1);
  EXPECT_EQ(form.Settings().Volume, 90);

  // A change made while the window is not looking (no event loop) is still
  // merged when the window closes, not written over.
  ASSERT_EQ(RunCli({"settings", "set", "ReadSpeed=8"}, out, err, env), 0) << err.str();
  form.close();

  SettingsRecord saved;
  auto bytes = ReadFileBytes(folder_ + "setting/set.dat");
  ASSERT_TRUE(bytes && bytes->size() == sizeof saved);
  std::memcpy(&saved, bytes->data(), sizeof saved);
  EXPECT_EQ(saved.SectorsPerRead, 40);
  EXPECT_EQ(saved.ShowGrid, 1);
  EXPECT_EQ(saved.ReadSpeed, 8);
  EXPECT_EQ(saved.Volume, 90);
  Session next(context_);
  next.LoadActiveProfile();
  EXPECT_EQ(SettingsText(next.Settings(), next.SettingsTexts(), SettingsField::OutputFolder),
            folder_ + "cli-music/Папка/");
}

// A disc the album database does not know is looked up when it is read:
// with MusicBrainz unreachable its CD-Text fills the album and artist boxes
// and the rows, the unreachable server is said in the status line and no
// message box stops anything; the album is stored. With the option off the
// boxes stay empty.
TEST_F(MainFormTest, AnInsertedDiscIsFilledFromItsCdTextWithoutAMessageBox) {
  MakeDirectories(folder_ + "setting");
  WriteFileAtomically(folder_ + "titled.bin", std::string(3 * 150 * 2352, '\0'));
  WriteFileAtomically(
      folder_ + "titled.cue",
      "PERFORMER \"The Band\"\nTITLE \"Café Album\"\nFILE \"titled.bin\" BINARY\n"
      "  TRACK 01 AUDIO\n    TITLE \"Première\"\n    INDEX 01 00:00:00\n"
      "  TRACK 02 AUDIO\n    TITLE \"Second\"\n    INDEX 01 00:02:00\n");
  WriteFileAtomically(folder_ + "setting/vdrives.lst", folder_ + "titled.cue\n");
  {
    // A port nothing listens on: the connection is refused at once.
    IniStore ini(folder_ + "setting/sonarvex.ini");
    ini.Load();
    ini.Set("MusicBrainz", "Server", "http://127.0.0.1:" + std::to_string(test::ClosedPort()));
    ini.Set("Lookup", "Auto", "0");
    ASSERT_TRUE(ini.Save());
  }
  window_.AutoLookup = true;
  {
    // The option off: nothing is looked up.
    Session session(context_);
    TMainForm form(session, window_);
    ASSERT_TRUE(form.DiscPresent());
    EXPECT_EQ(form.findChild<QLineEdit*>("AlbumNameEdit")->text(), QString());
    EXPECT_EQ(form.TrackList()->topLevelItem(0)->text(0).toStdString(), "Track1");
    EXPECT_EQ(form.LookupNotice(), QString());
    form.close();
  }
  {
    IniStore ini(folder_ + "setting/sonarvex.ini");
    ini.Load();
    ini.Set("Lookup", "Auto", "1");
    ASSERT_TRUE(ini.Save());
  }
  Session session(context_);
  TMainForm form(session, window_);
  ASSERT_TRUE(form.DiscPresent());
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  EXPECT_EQ(form.findChild<QLineEdit*>("AlbumNameEdit")->text(), QString::fromUtf8("Café Album"));
  EXPECT_EQ(form.findChild<QComboBox*>("GroupEdit")->currentText(), QString::fromUtf8("The Band"));
  EXPECT_EQ(form.TrackList()->topLevelItem(0)->text(0), QString::fromUtf8("Première"));
  EXPECT_EQ(form.TrackList()->topLevelItem(1)->text(0), QString::fromUtf8("Second"));
  const std::string notice = form.LookupNotice().toStdString();
  EXPECT_NE(notice.find("Названия диска взяты из CD-Text (MusicBrainz: "), std::string::npos) << notice;
  EXPECT_NE(notice.find("127.0.0.1"), std::string::npos) << notice;
  EXPECT_TRUE(FileExists(session.AlbumFolder() + AlbumFileName(form.Album().DiscId)));
  // At the narrowest opening width the long notice is not cut off: it is
  // shortened with "…" within its label, and its tip holds it whole.
  form.resize(640, 460);
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  QApplication::processEvents();
  auto* label = form.findChild<QLabel*>("FindLabel");
  ASSERT_NE(label, nullptr);
  const QString shown = label->text();
  EXPECT_LE(label->fontMetrics().horizontalAdvance(shown), label->contentsRect().width()) << shown.toStdString();
  EXPECT_TRUE(shown.endsWith(QChar(0x2026))) << shown.toStdString();
  EXPECT_TRUE(QString::fromStdString(notice).startsWith(shown.chopped(1))) << shown.toStdString();
  EXPECT_EQ(label->toolTip().toStdString(), notice);
  if (const char* shots = std::getenv("SONARVEX_SHOTS"))
    form.grab().save(QString::fromStdString(std::string(shots) + "/main-640-notice.png"));
  // A wider window shows more of it, all of it when there is room.
  form.resize(2400, 460);
  QApplication::processEvents();
  EXPECT_EQ(label->text().toStdString(), notice);
  form.close();
}

// The demo disc in a software drive declared in setting/vdrives.lst.
class MainFormDiscTest : public MainFormTest {
 protected:
  void SetUp() override {
    MainFormTest::SetUp();
    std::string error;
    std::string cue = WriteDemoDisc(folder_ + "setting/demo", &error);
    ASSERT_FALSE(cue.empty()) << error;
    WriteFileAtomically(folder_ + "setting/vdrives.lst", cue + "\n");
  }
  static QString Text(TMainForm& f, const char* label) {
    return f.findChild<QLabel*>(label)->text();
  }
};

TEST_F(MainFormDiscTest, ShowsTheDiscOfTheSoftwareDrive) {
  Session session(context_);
  TMainForm form(session, window_);
  ASSERT_EQ(form.Program().Drives().size(), 1u);
  EXPECT_EQ(form.findChild<QComboBox*>("CDROMBox")->count(), 1);
  EXPECT_TRUE(form.DiscPresent());
  EXPECT_EQ(form.windowTitle().toStdString(), "Sonarvex v3.2");
  QTreeWidget* list = form.TrackList();
  ASSERT_EQ(list->topLevelItemCount(), 5);
  EXPECT_EQ(list->topLevelItem(0)->text(0).toStdString(), "Track1");
  EXPECT_EQ(list->topLevelItem(0)->text(1).toStdString(), "00:12:00");
  EXPECT_EQ(list->topLevelItem(0)->text(2).toStdString(), "2.02 Мб");
  EXPECT_EQ(list->topLevelItem(0)->text(4).toStdString(), "Не скопирован");
  EXPECT_EQ(list->topLevelItem(0)->checkState(0), Qt::Checked);
  // 2.02 MB at 224 kbit/s (ratio 6.3) is 0.32 MB, padded to eight characters.
  EXPECT_EQ(list->topLevelItem(0)->text(3).toStdString(), "00.32 Мб");
  EXPECT_EQ(list->topLevelItem(4)->text(0).toStdString(), "DataTrack");
  EXPECT_EQ(list->topLevelItem(4)->text(1).toStdString(), "");
  EXPECT_EQ(list->topLevelItem(4)->checkState(0), Qt::Unchecked);
  EXPECT_EQ(Text(form, "TrackPanel").toStdString(), "Треков: 5");
  EXPECT_TRUE(Text(form, "AllTimePanel").startsWith(QString::fromUtf8("Время: ")));
  EXPECT_TRUE(form.findChild<QToolButton*>("SpeedButton16")->isEnabled());
  form.close();
}

// The front cover of the disc's release beside the album box: a small
// picture, scaled keeping its shape, when the album database has one; none
// otherwise.
TEST_F(MainFormDiscTest, ShowsTheCoverOfTheDiscsReleaseBesideTheAlbumBox) {
  Session session(context_);
  TMainForm form(session, window_);
  form.show();
  ASSERT_TRUE(form.DiscPresent());
  QLabel* cover = form.findChild<QLabel*>("CoverImage");
  ASSERT_TRUE(cover);
  EXPECT_TRUE(cover->isHidden());

  const auto bytes = ReadFileBytes(std::string(SONARVEX_SOURCE_DIR) + "/tests/data/cover/small.jpg");
  ASSERT_TRUE(bytes);
  CoverImage image;
  ASSERT_TRUE(ReadCoverImage(std::vector<std::uint8_t>(bytes->begin(), bytes->end()), image));
  const std::string release = "b84ee12a-09ef-421b-82de-0441a926375b";
  SetAlbumText(session.Album(), session.AlbumTexts(), AlbumField::Artist, "Кино");
  SetAlbumText(session.Album(), session.AlbumTexts(), AlbumField::AlbumTitle, "Группа крови");
  session.AlbumTexts().Put("MusicBrainzAlbumId", release);
  session.SaveCurrentAlbum();
  ASSERT_TRUE(StoreAlbumCover(session.AlbumFolder(), session.Album().DiscId, release, image, nullptr));
  form.ReadDisc(false);
  ASSERT_FALSE(cover->isHidden());
  EXPECT_EQ(cover->pixmap().size(), QSize(96, 72));  // 40 x 30 scaled into 96 x 96
  EXPECT_EQ(cover->size(), QSize(96, 96));
  if (const char* shots = std::getenv("SONARVEX_SHOTS")) {
    form.resize(760, 460);
    form.grab().save(QString::fromUtf8(shots) + "/cover.png");
  }

  // Another release of the disc without a picture: none is shown.
  session.AlbumTexts().Put("MusicBrainzAlbumId", "6c4f766f-3351-4c10-a53d-b119452c27b2");
  session.SaveCurrentAlbum();
  form.ReadDisc(false);
  EXPECT_TRUE(cover->isHidden());
  form.close();
}

// A disc the album database does not know, which MusicBrainz (on loopback)
// knows in two releases: the window puts both to the user in the choice
// window, as its lookup command does, and applies the one chosen (the
// second); one release is applied without a question. No message box.
TEST_F(MainFormDiscTest, SeveralReleasesOfAnInsertedDiscArePutToTheUser) {
  // The first has no four-track medium: taking it unasked names nothing.
  std::string releases = test::MusicBrainzData("release.json") + "," +
                         test::MusicBrainzData("release_multidisc.json");
  std::mutex answerLock;
  test::LoopbackServer server([&](const std::string& request, test::LoopbackServer::Connection& c) {
    std::lock_guard<std::mutex> lock(answerLock);
    if (request.find("GET /ws/2/discid/") == 0)
      c.Send(test::JsonResponse(200, test::DiscIdAnswer(releases)));
    else
      c.Send(test::JsonResponse(404, test::kNotFoundBody));
  });
  {
    IniStore ini(folder_ + "setting/sonarvex.ini");
    ini.Load();
    ini.Set("MusicBrainz", "Server", "http://127.0.0.1:" + std::to_string(server.Port()));
    ini.Set("CoverArt", "Enabled", "0");
    ASSERT_TRUE(ini.Save());
  }
  window_.AutoLookup = true;
  // Answers the choice window when it shows: what it lists is kept, the
  // second entry chosen.
  int asked = 0;
  QStringList shown;
  QTimer poll;
  poll.setInterval(5);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto* chooser = qobject_cast<TChoseForm*>(QApplication::activeModalWidget());
    if (!chooser || !chooser->isVisible()) return;
    ++asked;
    shown.clear();
    for (int i = 0; i < chooser->ComboBox1()->count(); ++i) shown << chooser->ComboBox1()->itemText(i);
    chooser->ComboBox1()->setCurrentIndex(1);
    QTest::keyClick(chooser, Qt::Key_Return);
  });
  poll.start();
  std::string albums;
  {
    Session session(context_);
    TMainForm form(session, window_);
    albums = session.AlbumFolder();
    ASSERT_TRUE(form.DiscPresent());
    EXPECT_EQ(asked, 1);
    ASSERT_EQ(shown.size(), 2);
    EXPECT_TRUE(shown[0].contains(QString::fromUtf8("The Dark Side of the Moon"))) << shown[0].toStdString();
    EXPECT_TRUE(shown[1].contains(QString::fromUtf8("ケアレス"))) << shown[1].toStdString();
    EXPECT_EQ(form.findChild<QLineEdit*>("AlbumNameEdit")->text(), QString::fromUtf8("ケアレス"));
    EXPECT_EQ(form.TrackList()->topLevelItem(1)->text(0), QString::fromUtf8("Bye-Bye Butterfly"));
    EXPECT_EQ(form.LookupNotice(), QString::fromUtf8("Названия диска взяты из MusicBrainz."));
    const std::string* release = session.AlbumTexts().Find("MusicBrainzAlbumId");
    EXPECT_EQ(release ? *release : "", "6c4f766f-3351-4c10-a53d-b119452c27b2");
    EXPECT_TRUE(FileExists(albums + AlbumFileName(form.Album().DiscId)));
    form.close();
  }

  // The disc forgotten, and one release: applied without a question.
  std::filesystem::remove_all(albums);
  {
    std::lock_guard<std::mutex> lock(answerLock);
    releases = test::MusicBrainzData("release_multidisc.json");
  }
  Session session(context_);
  TMainForm form(session, window_);
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(form.TrackList()->topLevelItem(1)->text(0), QString::fromUtf8("Bye-Bye Butterfly"));
  EXPECT_EQ(form.LookupNotice(), QString::fromUtf8("Названия диска взяты из MusicBrainz."));
  form.close();
}

// A program in a folder on PATH that writes its arguments into a file.
std::string FakeProgram(const std::string& folder, const std::string& name) {
  MakeDirectories(folder);
  const std::string log = folder + "/" + name + ".log";
  WriteFileAtomically(folder + "/" + name, "#!/bin/sh\necho \"$@\" >> '" + log + "'\n", 0755);
  return log;
}

std::string WaitForFile(const std::string& path) {
  for (int i = 0; i < 200 && !FileExists(path); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  auto text = ReadFileBytes(path);
  return text ? *text : std::string();
}

// The popup's title and its ID3v2 entry, the "В MP3" header, the player and
// the help: each does what it says.
TEST_F(MainFormDiscTest, PopupHeaderPlayerAndHelpDoWhatTheySay) {
  const std::string bin = folder_ + "bin";
  const std::string oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
  setenv("PATH", bin.c_str(), 1);  // no player, no xdg-open yet
  MakeDirectories(bin);
  {
    Session session(context_);
    TMainForm form(session, window_);
    form.show();
    QTreeWidget* list = form.TrackList();
    list->setCurrentItem(list->topLevelItem(1));
    emit list->customContextMenuRequested(QPoint(4, 4));
    auto* menu = form.findChild<QMenu*>("PopupMenu1");
    EXPECT_TRUE(menu->isVisible());
    EXPECT_EQ(form.findChild<QAction*>("PMTrackName")->text().toStdString(), "Track2");
    menu->close();
    // ID3v2 in the popup opens the tag editor (closed again at once).
    bool editorSeen = false;
    QTimer::singleShot(0, [&] {
      if (QWidget* modal = QApplication::activeModalWidget()) {
        editorSeen = modal != &form;
        modal->close();
      }
    });
    form.findChild<QAction*>("ID3v21")->trigger();
    EXPECT_TRUE(editorSeen);
    // A click on the "В MP3" header opens the format chooser.
    QHeaderView* header = list->header();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(3) + 5, header->height() / 2));
    QWidget* chooser = form.findChild<QWidget*>("MP3Config");
    ASSERT_NE(chooser, nullptr);
    EXPECT_TRUE(chooser->isVisible());
    chooser->close();

    // No player anywhere: the user is told, nothing runs.
    EXPECT_EQ(session.PlayerPath(), "");
    dialogs_.ExpectMessage(
        "Медиа плеер не найден: назначьте программу для файлов MP3 (audio/mpeg) в настройках "
        "рабочего стола.",
        "Sonarvex v3.2", MsgIcon::Warning, MsgButtons::Ok);
    form.StartPlayer();
    // Help shows the README beside the program in a window of its own.
    WriteFileAtomically(folder_ + "README.md", "# Sonarvex\n\nКак пользоваться программой.\n");
    form.OpenHelp();
    QWidget* help = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
      if (w->objectName() == "HelpWindow" && w->isVisible()) help = w;
    ASSERT_NE(help, nullptr);
    ASSERT_NE(help->findChild<QTextBrowser*>(), nullptr);
    EXPECT_TRUE(help->findChild<QTextBrowser*>()->toPlainText().contains(
        QString::fromUtf8("Как пользоваться программой.")));
    help->close();
    form.close();
  }
  // A known player on the PATH is taken when none is associated.
  const std::string played = FakeProgram(bin, "mpv");
  {
    Session session(context_);
    TMainForm form(session, window_);
    EXPECT_EQ(session.PlayerPath(), bin + "/mpv");
    form.StartPlayer();
    EXPECT_EQ(WaitForFile(played), "\n");
    form.close();
  }
  setenv("PATH", oldPath.c_str(), 1);
}

// What the album database editor stored for the disc in the drive is what
// the window has afterwards; the window does not write its old record over it.
TEST_F(MainFormDiscTest, AlbumEditorEditsOfTheDiscInTheDriveAreKept) {
  Session session(context_);
  TMainForm form(session, window_);
  SetField(form.Album().Artist, "Before");
  SetField(form.Album().Tracks[0].Title, "Old title");
  const std::string file = session.AlbumFolder() + AlbumFileName(form.Album().DiscId);
  QTimer::singleShot(0, [&] {
    // While the editor is open, its edit lands in the album file.
    AlbumRecord edited{};
    ASSERT_TRUE(ReadAlbumFile(file, edited));
    SetField(edited.Artist, "Edited");
    SetField(edited.Tracks[0].Title, "New title");
    WriteFileAtomically(file, std::string(reinterpret_cast<const char*>(&edited), sizeof edited));
    if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
  });
  form.OpenAlbumEditor();
  EXPECT_EQ(std::string(FieldText(form.Album().Artist)), "Edited");
  EXPECT_EQ(form.TrackList()->topLevelItem(0)->text(0).toStdString(), "New title");
  form.close();  // saves the disc: the edit survives
  AlbumRecord stored{};
  ASSERT_TRUE(ReadAlbumFile(file, stored));
  EXPECT_EQ(std::string(FieldText(stored.Artist)), "Edited");
  EXPECT_EQ(std::string(FieldText(stored.Tracks[0].Title)), "New title");
  // The artist box lists the database's artists in order.
  WriteFileAtomically(session.AlbumFolder() + "12.dat", [] {
    AlbumRecord other{};
    SetField(other.Artist, "Abba");
    other.DiscId = 12;
    return std::string(reinterpret_cast<const char*>(&other), sizeof other);
  }());
  Session next(context_);
  TMainForm again(next, window_);
  auto* box = again.findChild<QComboBox*>("GroupEdit");
  ASSERT_EQ(box->count(), 2);
  EXPECT_EQ(box->itemText(0).toStdString(), "Abba");
  EXPECT_EQ(box->itemText(1).toStdString(), "Edited");
  // The editor does not open during a rip.
  again.SetState(WindowState::Copying);
  bool opened = false;
  QTimer::singleShot(0, [&] {
    if (QWidget* modal = QApplication::activeModalWidget()) {
      opened = true;
      modal->close();
    }
  });
  again.OpenAlbumEditor();
  EXPECT_FALSE(opened);
  again.SetState(WindowState::Idle);
  again.close();
}

// A row renamed (F4) to a title of several scripts and an artist beyond
// code page 1251 come back whole after a restart.
TEST_F(MainFormDiscTest, RenamesInEveryScriptSurviveARestart) {
  const QString title = QString::fromUtf8("Björk ø 東京 – ½ 🎸");
  {
    Session session(context_);
    TMainForm form(session, window_);
    QTreeWidget* list = form.TrackList();
    ASSERT_GE(list->topLevelItemCount(), 2);
    list->setCurrentItem(list->topLevelItem(1));
    QTest::keyClick(list, Qt::Key_F4);  // opens the in-place editor
    list->topLevelItem(1)->setText(0, title);  // what the editor commits
    auto* artist = form.findChild<QComboBox*>("GroupEdit");
    artist->setEditText(QString::fromUtf8("Sigur Rós"));
    form.findChild<QLineEdit*>("AlbumNameEdit")->setText(QString::fromUtf8("Ágætis byrjun"));
    form.close();
  }
  Session session(context_);
  TMainForm form(session, window_);
  EXPECT_EQ(form.TrackList()->topLevelItem(1)->text(0), title);
  EXPECT_EQ(form.findChild<QComboBox*>("GroupEdit")->currentText(), QString::fromUtf8("Sigur Rós"));
  EXPECT_EQ(form.findChild<QLineEdit*>("AlbumNameEdit")->text(),
            QString::fromUtf8("Ágætis byrjun"));
  // The album file keeps its CP1251 rendering; the companion the full text.
  const std::string file = session.AlbumFolder() + AlbumFileName(form.Album().DiscId);
  AlbumRecord stored{};
  ASSERT_TRUE(ReadAlbumFile(file, stored));
  EXPECT_EQ(std::string(FieldText(stored.Tracks[1].Title)), Utf8ToCp1251(title.toStdString()));
  EXPECT_TRUE(FileExists(file + ".utf8"));
  form.close();
}

// Leaving the settings dialog puts the stored drive type back on the
// transport, whatever the read-command detection left there.
TEST_F(MainFormDiscTest, SettingsDialogRestoresTheDriveTypeOnEveryWayOut) {
  Session session(context_);
  TMainForm form(session, window_);
  form.Settings().DriveTypes[0] = 3;
  for (bool ok : {false, true}) {
    SetField(form.Settings().OutputFolder, folder_);
    form.SettingsFormOpened = [&session, ok](TSettingsForm& f) {
      session.CurrentTransport().SetDriveType(20);  // as the detection leaves it
      QTimer::singleShot(0, &f, [&f, ok] { ok ? f.SpeedButton2Click() : f.SpeedButton1Click(); });
    };
    form.OpenSettings();
    EXPECT_EQ(session.CurrentTransport().DriveType(), form.Settings().DriveTypes[0]) << ok;
  }
  form.close();
}

// F5 opens the conversion window in the main window's place; the main
// window hides meanwhile and takes the conversion window's place back.
TEST_F(MainFormDiscTest, ConversionWindowTakesTheMainWindowsPlace) {
  std::filesystem::copy_file(std::string(SONARVEX_BIN_DIR) + "/libkelpra.so", folder_ + "libkelpra.so");
  Session session(context_);
  TMainForm form(session, window_);
  form.setGeometry(100, 80, 700, 480);
  form.show();
  bool mainHidden = false;
  std::string caption;
  form.ConvertFormOpened = [&](TConvertForm& convert) {
    QTimer::singleShot(0, &convert, [&, c = &convert] {
      mainHidden = !form.isVisible();
      caption = c->windowTitle().toStdString();
      c->setGeometry(120, 90, 720, 500);
      c->close();
    });
  };
  form.findChild<QAction*>("N25")->trigger();
  EXPECT_TRUE(mainHidden);
  EXPECT_EQ(caption, "Конвертирование файлов");
  EXPECT_TRUE(form.isVisible());
  EXPECT_EQ(form.geometry().size(), QSize(720, 500));
  EXPECT_TRUE(form.findChild<QToolButton*>("ConvertButton")->isEnabled());
  // Not while a rip runs.
  form.SetState(WindowState::Copying);
  bool opened = false;
  form.ConvertFormOpened = [&](TConvertForm&) { opened = true; };
  form.ConvertFiles();
  EXPECT_FALSE(opened);
  form.SetState(WindowState::Idle);
  form.close();
}

// Ctrl+F walks a folder tree (dot folders skipped, any case of extension,
// names in any script), the found files fill the list; Ctrl+L writes the
// ticked ones as an M3U list; a refresh brings the disc back.
TEST_F(MainFormDiscTest, MediaSearchFillsTheListAndWritesAnM3uList) {
  const std::string media = folder_ + "media/";
  MakeDirectories(media + "Альбом");
  MakeDirectories(media + ".hidden");
  WriteFileAtomically(media + "Песня.MP3", std::string(1024, 'a'));
  WriteFileAtomically(media + "big.wav", std::string(1048576, 'b'));
  WriteFileAtomically(media + "notes.txt", "x");
  WriteFileAtomically(media + "Альбом/東京.mp3", std::string(10, 'c'));
  WriteFileAtomically(media + ".hidden/secret.mp3", "d");
  int pumps = 0;
  TMainForm* formPtr = nullptr;
  window_.Pump = [&] {
    // Stop pressed once during the search, answered "No": it goes on.
    if (++pumps == 2) formPtr->Stop();
  };
  Session session(context_);
  TMainForm form(session, window_);
  formPtr = &form;
  session.SetSearchExtensions({".mp3", ".wav"});
  dialogs_.ExpectFolder(media);
  dialogs_.ExpectMessage("Тормазнуть поиск???", "Sonarvex v3.2", MsgIcon::Question,
                         MsgButtons::YesNo, IdNo);
  form.findChild<QAction*>("N7")->trigger();
  EXPECT_EQ(form.State(), WindowState::FileList);
  QTreeWidget* list = form.TrackList();
  // Each row shows the file's name; its full path is the row's tip.
  std::map<std::string, std::string> rows, paths;
  for (int i = 0; i < list->topLevelItemCount(); ++i) {
    rows[list->topLevelItem(i)->text(0).toStdString()] = list->topLevelItem(i)->text(2).toStdString();
    paths[list->topLevelItem(i)->text(0).toStdString()] = list->topLevelItem(i)->toolTip(0).toStdString();
  }
  EXPECT_EQ(rows, (std::map<std::string, std::string>{{"Песня.MP3", "1Kb"},
                                                       {"big.wav", "1Mb"},
                                                       {"東京.mp3", "10Byte"}}));
  EXPECT_EQ(paths, (std::map<std::string, std::string>{{"Песня.MP3", media + "Песня.MP3"},
                                                        {"big.wav", media + "big.wav"},
                                                        {"東京.mp3", media + "Альбом/東京.mp3"}}));
  EXPECT_EQ(Text(form, "TrackPanel").toStdString(), "Найдено: 3");
  EXPECT_EQ(Text(form, "SizePanel").toStdString(), "Размер: 1Mb");
  if (const char* shots = std::getenv("SONARVEX_SHOTS")) {
    form.resize(760, 460);
    form.grab().save(QString::fromUtf8(shots) + "/file-list.png");
  }
  EXPECT_FALSE(form.findChild<QToolButton*>("SpeedButton8")->isHidden());
  EXPECT_TRUE(form.findChild<QToolButton*>("SpeedButton8")->isEnabled());

  // The M3U list of the ticked rows; an existing file is replaced only on "Yes".
  int unticked = -1;
  for (int i = 0; i < list->topLevelItemCount(); ++i)
    if (list->topLevelItem(i)->text(0).toStdString() == "big.wav") unticked = i;
  list->topLevelItem(unticked)->setCheckState(0, Qt::Unchecked);
  const std::string m3u = folder_ + "list.m3u";
  dialogs_.ExpectSaveFile(m3u);
  form.findChild<QAction*>("M3U1")->trigger();
  std::string expected = "#EXTM3U\r\n";
  for (int i = 0; i < list->topLevelItemCount(); ++i)
    if (i != unticked) expected += list->topLevelItem(i)->toolTip(0).toStdString() + "\r\n";
  EXPECT_EQ(*ReadFileBytes(m3u), expected);
  dialogs_.ExpectSaveFile(m3u);
  dialogs_.ExpectMessage("Выбранный файл уже существует. Заменить???", "Sonarvex v3.2",
                         MsgIcon::Question, MsgButtons::YesNo, IdNo);
  dialogs_.ExpectSaveFile("");
  for (int i = 0; i < list->topLevelItemCount(); ++i) list->topLevelItem(i)->setCheckState(0, Qt::Unchecked);
  form.CreateM3uList();
  EXPECT_EQ(*ReadFileBytes(m3u), expected);

  // A refresh shows the disc again.
  form.Refresh();
  EXPECT_EQ(form.State(), WindowState::Idle);
  EXPECT_EQ(list->topLevelItemCount(), 5);
  EXPECT_FALSE(form.findChild<QAction*>("M3U1")->isEnabled());
  form.close();
}

// A found file plays through the media file player (its sound goes to ALSA's
// null device here), with the position bar on its length.
TEST_F(MainFormDiscTest, AFoundFilePlaysThroughTheMediaPlayer) {
  std::string why;
  if (!MediaPlayer::Available(&why)) GTEST_SKIP() << why;
  if (FindInPath("ffmpeg").empty()) GTEST_SKIP() << "ffmpeg is not installed to make a sound file";
  const std::string media = folder_ + "media/";
  MakeDirectories(media);
  ASSERT_EQ(RunProgram({"ffmpeg", "-loglevel", "error", "-f", "lavfi", "-i",
                        "sine=frequency=440:duration=3", "-ac", "2", "-ar", "44100",
                        media + "tone.wav"}),
            0);
  WriteFileAtomically(folder_ + "setting/placement.ini", "[Audio]\nDevice=null\n");
  Session session(context_);
  TMainForm form(session, window_);
  session.SetSearchExtensions({".wav"});
  dialogs_.ExpectFolder(media);
  form.SearchMedia();
  ASSERT_EQ(form.TrackList()->topLevelItemCount(), 1);
  form.TrackList()->setCurrentItem(form.TrackList()->topLevelItem(0));
  form.Play(false);
  ASSERT_TRUE(form.FilePlaying());
  EXPECT_NEAR(form.findChild<PositionBar*>("PaintBox1")->Scale(), 300, 5);
  form.Pause();
  form.Play(false);  // resumes
  EXPECT_TRUE(form.FilePlaying());
  form.Stop();
  EXPECT_FALSE(form.FilePlaying());
  EXPECT_EQ(form.State(), WindowState::FileList);
  form.close();
}

// Ctrl+A and "Выбрать все" tick the audio tracks only: the data track
// cannot be ripped.
TEST_F(MainFormDiscTest, TickAllSkipsTheDataTrack) {
  Session session(context_);
  TMainForm form(session, window_);
  QTreeWidget* list = form.TrackList();
  ASSERT_EQ(list->topLevelItemCount(), 5);
  form.findChild<QAction*>("N22")->trigger();
  form.findChild<QAction*>("SonarvexCD1")->trigger();
  for (int i = 0; i < 4; ++i) EXPECT_EQ(list->topLevelItem(i)->checkState(0), Qt::Checked) << i;
  EXPECT_EQ(list->topLevelItem(4)->checkState(0), Qt::Unchecked);
  form.TickAll(false);
  form.findChild<QToolButton*>("SpeedButton10")->click();
  EXPECT_EQ(list->topLevelItem(4)->checkState(0), Qt::Unchecked);
  EXPECT_EQ(list->topLevelItem(0)->checkState(0), Qt::Checked);
  form.close();
}

// The status column takes the room a wider window gives, and a verification
// text fits it at the opening size.
TEST_F(MainFormDiscTest, StatusColumnStretchesAndVerificationTextsFit) {
  Session session(context_);
  TMainForm form(session, window_);
  form.resize(640, 460);
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  QTreeWidget* list = form.TrackList();
  const QString verdict = QString::fromUtf8("точно (достоверность 17)");
  const int needed = list->fontMetrics().horizontalAdvance(verdict) + 12;
  EXPECT_GE(list->columnWidth(4), needed);
  const int before = list->columnWidth(4);
  form.resize(1100, 600);
  QApplication::processEvents();
  EXPECT_GE(list->columnWidth(4), before + 400);
  form.close();
}

// Esc minimises the window, but with a menu open it only closes the menu.
TEST_F(MainFormDiscTest, EscWithAMenuOpenOnlyClosesTheMenu) {
  Session session(context_);
  TMainForm form(session, window_);
  form.show();
  form.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
  form.TrackList()->setFocus();
  // The profile menu.
  form.findChild<QToolButton*>("SpeedButton17")->click();
  auto* menu = form.findChild<QMenu*>("ProfMenu");
  ASSERT_TRUE(menu->isVisible());
  QTest::keyClick(menu, Qt::Key_Escape);
  QApplication::processEvents();
  EXPECT_FALSE(menu->isVisible());
  EXPECT_FALSE(form.isMinimized());
  // A menu of the menu bar.
  auto* file = form.findChild<QMenu*>("N2");
  file->popup(form.mapToGlobal(QPoint(10, 10)));
  ASSERT_TRUE(file->isVisible());
  QTest::keyClick(file, Qt::Key_Escape);
  QApplication::processEvents();
  EXPECT_FALSE(file->isVisible());
  EXPECT_FALSE(form.isMinimized());
  // No menu: Esc minimises.
  // (The offscreen platform leaves a closed menu the active window.)
  QApplication::setActiveWindow(&form);
  ASSERT_TRUE(form.isActiveWindow());
  form.TrackList()->setFocus();
  QTest::keyClick(form.TrackList(), Qt::Key_Escape);
  EXPECT_TRUE(form.isMinimized());
  form.close();
}

// A minimised main window comes back shown when the conversion or the
// recording window it opened closes; the captions are not doubled by the
// program's name meanwhile.
TEST_F(MainFormDiscTest, ClosingAChildWindowBringsAMinimisedMainWindowBack) {
  std::filesystem::copy_file(std::string(SONARVEX_BIN_DIR) + "/libkelpra.so", folder_ + "libkelpra.so");
  std::string lines = *ReadFileBytes(folder_ + "setting/vdrives.lst");
  WriteFileAtomically(folder_ + "setting/vdrives.lst", lines + "burn:" + folder_ + "burned.cue\n");
  // As the program starts: no name is added to the windows' captions.
  qApp->setApplicationDisplayName(QString());
  Session session(context_);
  TMainForm form(session, window_);
  form.show();
  form.showMinimized();
  ASSERT_TRUE(form.isMinimized());
  form.ConvertFormOpened = [&](TConvertForm& convert) {
    QTimer::singleShot(0, &convert, [c = &convert] { c->close(); });
  };
  form.findChild<QAction*>("N25")->trigger();
  EXPECT_TRUE(form.isVisible());
  EXPECT_FALSE(form.isMinimized());

  form.showMinimized();
  ASSERT_TRUE(form.isMinimized());
  // What a window manager shows as a caption: Qt adds the application's
  // display name to every title that does not end with it.
  auto shown = [](const QString& title) {
    const QString name = QGuiApplication::applicationDisplayName();
    return name.isEmpty() || title.endsWith(name) ? title : title + QString::fromUtf8(" — ") + name;
  };
  QString recordCaption, messageCaption;
  form.RecordFormOpened = [&](TMainWriteForm& record) {
    QTimer::singleShot(0, &record, [&, r = &record] {
      recordCaption = shown(r->windowTitle());
      messageCaption = shown(QString::fromUtf8("Sonarvex v3.2"));
      r->close();
    });
  };
  form.findChild<QAction*>("AudioCD1")->trigger();
  EXPECT_EQ(recordCaption.toStdString(), "Sonarvex v3.2 - Запись AudioCD");
  EXPECT_EQ(messageCaption.toStdString(), "Sonarvex v3.2");
  EXPECT_TRUE(form.isVisible());
  EXPECT_FALSE(form.isMinimized());
  form.close();
}

// The toolbar's burn and player buttons look enabled when they are: their
// glyphs have colour (the desktop theme's grey ones looked disabled); Qt
// greys them when they are disabled.
TEST_F(MainFormTest, BurnAndPlayerButtonsLookEnabled) {
  // The desktop's theme, as the program finds it on a desktop.
  const QString theme = QIcon::themeName();
  const QStringList paths = QIcon::themeSearchPaths();
  QIcon::setThemeSearchPaths(paths + QStringList{"/usr/share/icons"});
  QIcon::setThemeName("Adwaita");  // as the program sets it
  auto restore = [&] {
    QIcon::setThemeName(theme);
    QIcon::setThemeSearchPaths(paths);
  };
  if (!QIcon::hasThemeIcon("multimedia-player")) {
    restore();
    GTEST_SKIP() << "the Adwaita icon theme is not installed";
  }
  Session session(context_);
  TMainForm form(session, window_);
  // The most saturated pixel of a glyph (0..255).
  auto colour = [](const QIcon& icon, QIcon::Mode mode) {
    const QImage image = icon.pixmap(28, 28, mode).toImage().convertToFormat(QImage::Format_ARGB32);
    int best = 0;
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x) {
        const QColor c = image.pixelColor(x, y);
        if (c.alpha() > 128) best = std::max(best, c.hsvSaturation());
      }
    return best;
  };
  for (const char* name : {"BurnCDButton", "SpeedButton4"}) {
    const QIcon icon = form.findChild<QToolButton*>(name)->icon();
    EXPECT_GE(colour(icon, QIcon::Normal), 100) << name;
    EXPECT_LT(colour(icon, QIcon::Disabled), colour(icon, QIcon::Normal)) << name;
  }
  form.close();
  restore();
}

// At the first start (no placement stored) the window, frame included, is on
// the screen: not with its inside at the screen's corner.
TEST_F(MainFormTest, FirstStartPlacesTheWholeWindowOnTheScreen) {
  Session session(context_);
  TMainForm form(session, window_);
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  EXPECT_GT(form.pos().y(), screen.top());
  EXPECT_GT(form.pos().x(), screen.left());
  EXPECT_TRUE(screen.contains(QRect(form.pos(), form.size())));
  form.close();
}

// F10: without a drive that writes the user is told so; with the software
// recorder the recording window takes the main window's place.
TEST_F(MainFormDiscTest, RecordingWindowNeedsADriveThatWrites) {
  {
    Session session(context_);
    TMainForm form(session, window_);
    dialogs_.ExpectMessage("К сожалению диски записывать нечем... :(", "Sonarvex v3.2",
                           MsgIcon::Information, MsgButtons::Ok);
    form.findChild<QAction*>("AudioCD1")->trigger();
    EXPECT_TRUE(form.DiscPresent());
    form.close();
  }
  std::string lines = *ReadFileBytes(folder_ + "setting/vdrives.lst");
  WriteFileAtomically(folder_ + "setting/vdrives.lst", lines + "burn:" + folder_ + "burned.cue\n");
  Session session(context_);
  TMainForm form(session, window_);
  form.setGeometry(100, 80, 700, 480);
  form.show();
  bool mainHidden = false;
  form.RecordFormOpened = [&](TMainWriteForm& record) {
    QTimer::singleShot(0, &record, [&, r = &record] {
      mainHidden = !form.isVisible();
      r->setGeometry(110, 90, 760, 520);
      r->close();
    });
  };
  form.findChild<QAction*>("AudioCD1")->trigger();
  EXPECT_TRUE(mainHidden);
  EXPECT_TRUE(form.isVisible());
  EXPECT_EQ(form.geometry().size(), QSize(760, 520));
  EXPECT_TRUE(form.DiscPresent());
  form.close();
}

TEST_F(MainFormDiscTest, DrivesThatCannotBeOpenedAreANoticeAtStart) {
  const std::string dev = folder_ + "dev/";
  MakeDirectories(dev);
  WriteFileAtomically(dev + "sr0", "");
  context_.ScanSystemDrives = true;
  context_.Devices.dev = dev;
  context_.Devices.scsiGeneric = folder_ + "no-sg";
  context_.Devices.open = [](const std::string&) {
    errno = EACCES;
    return -1;
  };
  Session session(context_);
  TMainForm form(session, window_);
  bool named = false;
  for (const std::string& n : dialogs_.Notices())
    named = named || n.find(dev + "sr0") != std::string::npos;
  EXPECT_TRUE(named);
  EXPECT_TRUE(form.DiscPresent());
  form.close();
}

// A rename of a disc that has no artist and no album is kept for the next start.
TEST_F(MainFormDiscTest, RenameOfADiscWithoutArtistOrAlbumSurvivesARestart) {
  {
    Session session(context_);
    TMainForm form(session, window_);
    ASSERT_EQ(std::string(FieldText(form.Album().Artist)), "");
    form.TrackList()->topLevelItem(1)->setText(0, QString::fromUtf8("Своё название"));
    form.close();
  }
  Session session(context_);
  TMainForm again(session, window_);
  EXPECT_EQ(again.TrackList()->topLevelItem(1)->text(0).toStdString(), "Своё название");
  again.close();
}

TEST_F(MainFormDiscTest, EjectTwiceThenTrayNoticedByTheTimer) {
  Session session(context_);
  TMainForm form(session, window_);
  auto drive = form.Program().Directory().VirtualDrives().at(0);
  form.Eject();
  EXPECT_TRUE(drive->TrayOpen());
  EXPECT_FALSE(form.DiscPresent());
  EXPECT_EQ(form.TrackList()->topLevelItemCount(), 0);
  EXPECT_EQ(form.windowTitle().toStdString(), "Sonarvex v3.2 - Диска нет");
  form.Eject();
  EXPECT_FALSE(drive->TrayOpen());
  EXPECT_TRUE(form.DiscPresent());
  EXPECT_EQ(form.TrackList()->topLevelItemCount(), 5);

  // The tray opened by hand: the next timer tick empties the list.
  form.OnTimer();  // takes in the change the load reported
  drive->RemoveDisc();
  form.OnTimer();
  EXPECT_FALSE(form.DiscPresent());
  EXPECT_EQ(form.TrackList()->topLevelItemCount(), 0);
  form.close();
}

TEST_F(MainFormDiscTest, AnalogPlayMovesTheBarAndSteps) {
  Session session(context_);
  TMainForm form(session, window_);
  auto drive = form.Program().Directory().VirtualDrives().at(0);
  std::int64_t now = 0;
  drive->SetClock([&] { return now; });
  QTreeWidget* list = form.TrackList();
  list->topLevelItem(1)->setCheckState(0, Qt::Unchecked);
  list->setCurrentItem(list->topLevelItem(0));
  form.Play(true);
  EXPECT_EQ(form.State(), WindowState::Playing);
  EXPECT_EQ(form.windowTitle().toStdString(), "Sonarvex v3.2 - Track1");
  now += 3000;
  form.OnTimer();
  EXPECT_EQ(form.findChild<QLabel*>("TimePanel")->text().toStdString(), "Трек 01  /  00:03");
  // Play ticked skips the unticked row 2.
  form.Step(+1);
  EXPECT_EQ(form.CurrentTrack(), 2);
  form.Step(+1);
  EXPECT_EQ(form.CurrentTrack(), 3);
  form.Step(+1);  // only the data track follows: nothing
  EXPECT_EQ(form.CurrentTrack(), 3);
  form.Step(-1);
  EXPECT_EQ(form.CurrentTrack(), 2);
  form.Stop();
  EXPECT_EQ(form.State(), WindowState::Idle);
  form.close();
}

TEST_F(MainFormDiscTest, RipShowsProgressThenCopiedAndUnticks) {
  std::set<std::string> seen;
  TMainForm* formPtr = nullptr;
  int shots = 0;
  const char* shotFolder = std::getenv("SONARVEX_SHOTS");
  window_.Pump = [&] {
    QTreeWidget* list = formPtr->TrackList();
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
      std::string state = list->topLevelItem(i)->text(4).toStdString();
      seen.insert(state.substr(0, state.find(' ')));
    }
    if (shotFolder && shots < 40 && ++shots % 8 == 0)
      formPtr->grab().save(QString::fromUtf8(shotFolder) + "/rip" + QString::number(shots) +
                           ".png");
  };
  Session session(context_);
  TMainForm form(session, window_);
  formPtr = &form;
  form.resize(700, 460);
  form.show();
  MakeDirectories(folder_ + "music");
  SetField(form.Settings().OutputFolder, folder_ + "music/");
  form.Settings().FolderPerArtist = form.Settings().FolderPerAlbum = 0;
  QTreeWidget* list = form.TrackList();
  list->topLevelItem(2)->setCheckState(0, Qt::Unchecked);
  list->topLevelItem(3)->setCheckState(0, Qt::Unchecked);
  form.Grab(GrabSender::Mp3Menu);
  if (shotFolder) form.grab().save(QString::fromUtf8(shotFolder) + "/rip-done.png");
  EXPECT_TRUE(seen.count("копирование"));
  EXPECT_TRUE(seen.count("сжатие"));
  EXPECT_EQ(list->topLevelItem(0)->text(4).toStdString(), "Скопирован");
  EXPECT_EQ(list->topLevelItem(1)->text(4).toStdString(), "Скопирован");
  EXPECT_EQ(list->topLevelItem(2)->text(4).toStdString(), "Не скопирован");
  EXPECT_EQ(list->topLevelItem(0)->checkState(0), Qt::Unchecked);
  EXPECT_EQ(form.Album().Tracks[0].CopiedFlag, 1);
  EXPECT_TRUE(FileExists(folder_ + "music/Track1.mp3"));
  EXPECT_TRUE(FileExists(folder_ + "music/Track2.mp3"));
  EXPECT_FALSE(FileExists(folder_ + "music/Track3.mp3"));
  EXPECT_EQ(form.State(), WindowState::Idle);
  EXPECT_TRUE(form.findChild<QToolButton*>("SpeedButton2")->isEnabled());
  form.close();
}

// The encoder libraries and FFmpeg mapped into this process (its own map).
std::string EncoderLibrariesMapped() {
  std::ifstream maps("/proc/self/maps");
  std::set<std::string> found;
  for (std::string line; std::getline(maps, line);)
    for (const char* lib : {"libmp3lame", "libvorbisenc", "libopusenc", "libavcodec", "libavformat"})
      if (line.find(std::string("/") + lib) != std::string::npos) found.insert(lib);
  std::string list;
  for (const std::string& f : found) list += f + " ";
  return list;
}

// Starting and showing a disc loads no encoder library and no FFmpeg: an
// MP3 grab loads LAME when it starts, and still no FFmpeg.
TEST_F(MainFormDiscTest, EncoderLibrariesLoadWhenAGrabNeedsThem) {
  if (!EncoderLibrariesMapped().empty())
    GTEST_SKIP() << "an earlier test of this process loaded " << EncoderLibrariesMapped()
                 << "(ctest runs each test in a process of its own)";
  Session session(context_);
  TMainForm form(session, window_);
  ASSERT_TRUE(form.DiscPresent());
  EXPECT_EQ(form.TrackList()->topLevelItem(0)->text(3).toStdString(), "00.32 Мб");
  EXPECT_EQ(EncoderLibrariesMapped(), "") << "loaded with the disc shown";
  MakeDirectories(folder_ + "music");
  SetField(form.Settings().OutputFolder, folder_ + "music/");
  form.Settings().FolderPerArtist = form.Settings().FolderPerAlbum = 0;
  QTreeWidget* list = form.TrackList();
  for (int i = 1; i < list->topLevelItemCount(); ++i) list->topLevelItem(i)->setCheckState(0, Qt::Unchecked);
  form.Grab(GrabSender::Mp3Menu);
  EXPECT_TRUE(FileExists(folder_ + "music/Track1.mp3"));
  EXPECT_EQ(EncoderLibrariesMapped(), "libmp3lame ");
  form.close();
}

// The grab menu takes its entries from the format registry: Действие > Opus
// rips the ticked tracks to .opus files.
TEST_F(MainFormDiscTest, TheGrabMenusOpusEntryRipsToOpus) {
  if (!OpusWriter().Available()) GTEST_SKIP() << kOpusEncLibraryName << " cannot be loaded";
  Session session(context_);
  TMainForm form(session, window_);
  form.resize(700, 460);
  form.show();
  MakeDirectories(folder_ + "music");
  SetField(form.Settings().OutputFolder, folder_ + "music/");
  form.Settings().FolderPerArtist = form.Settings().FolderPerAlbum = 0;
  QTreeWidget* list = form.TrackList();
  for (int i = 1; i < list->topLevelItemCount(); ++i)
    list->topLevelItem(i)->setCheckState(0, Qt::Unchecked);
  QAction* opus = form.findChild<QAction*>("OPUS1");
  ASSERT_NE(opus, nullptr);
  EXPECT_EQ(opus->text().toStdString(), "O&pus");
  EXPECT_EQ(opus->shortcut().toString().toStdString(), "F12");
  ASSERT_TRUE(opus->isEnabled());
  opus->trigger();
  EXPECT_EQ(list->topLevelItem(0)->text(4).toStdString(), "Скопирован");
  const auto bytes = ReadFileBytes(folder_ + "music/Track1.opus");
  ASSERT_TRUE(bytes);
  EXPECT_EQ(bytes->substr(0, 4), "OggS");
  EXPECT_NE(bytes->find("OpusHead"), std::string::npos);
  EXPECT_FALSE(FileExists(folder_ + "music/Track2.opus"));
  form.close();
}

// Closing the window during a grab asks first; on yes the grab stops at the
// next block: nothing half written stays, neither the partial file nor the
// temporary WAV; then the window closes.
TEST_F(MainFormDiscTest, ClosingDuringARipLeavesNothingHalfWritten) {
  TMainForm* formPtr = nullptr;
  bool closeAsked = false;
  window_.Pump = [&] {
    if (!closeAsked && formPtr->State() == WindowState::Copying &&
        formPtr->TrackList()->topLevelItem(0)->text(4).startsWith(QString::fromUtf8("копирование"))) {
      closeAsked = true;
      formPtr->close();
    }
  };
  dialogs_.ExpectMessage("Остановить копирование?", "Sonarvex v3.2", MsgIcon::Question,
                         MsgButtons::YesNo, IdYes);
  Session session(context_);
  TMainForm form(session, window_);
  formPtr = &form;
  form.show();
  MakeDirectories(folder_ + "music");
  SetField(form.Settings().OutputFolder, folder_ + "music/");
  form.Settings().FolderPerArtist = form.Settings().FolderPerAlbum = 0;
  form.Grab(GrabSender::Mp3Menu);
  EXPECT_TRUE(closeAsked);
  for (int i = 0; i < 200 && form.isVisible(); ++i) {
    QCoreApplication::processEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_FALSE(form.isVisible());
  std::vector<std::string> left;
  for (const auto& e : std::filesystem::recursive_directory_iterator(folder_ + "music"))
    left.push_back(e.path().string());
  EXPECT_TRUE(left.empty()) << left.front();
  EXPECT_FALSE(std::filesystem::exists(folder_ + "TempFiles") &&
               !std::filesystem::is_empty(folder_ + "TempFiles"));
}

// Answering no to the question on closing during a grab lets the grab go
// on: the track is ripped whole and the window stays; closing afterwards
// asks nothing.
TEST_F(MainFormDiscTest, ClosingDuringARipAnsweredNoLetsTheRipFinish) {
  TMainForm* formPtr = nullptr;
  int closes = 0;
  window_.Pump = [&] {
    if (closes == 0 && formPtr->State() == WindowState::Copying &&
        formPtr->TrackList()->topLevelItem(0)->text(4).startsWith(QString::fromUtf8("копирование"))) {
      ++closes;
      formPtr->close();
    }
  };
  dialogs_.ExpectMessage("Остановить копирование?", "Sonarvex v3.2", MsgIcon::Question,
                         MsgButtons::YesNo, IdNo);
  Session session(context_);
  TMainForm form(session, window_);
  formPtr = &form;
  form.show();
  MakeDirectories(folder_ + "music");
  SetField(form.Settings().OutputFolder, folder_ + "music/");
  form.Settings().FolderPerArtist = form.Settings().FolderPerAlbum = 0;
  QTreeWidget* list = form.TrackList();
  for (int i = 1; i < list->topLevelItemCount(); ++i)
    list->topLevelItem(i)->setCheckState(0, Qt::Unchecked);
  form.Grab(GrabSender::Wave);
  EXPECT_EQ(closes, 1);
  for (int i = 0; i < 20; ++i) QCoreApplication::processEvents();
  EXPECT_TRUE(form.isVisible());
  EXPECT_EQ(form.State(), WindowState::Idle);
  EXPECT_EQ(list->topLevelItem(0)->text(4).toStdString(), "Скопирован");
  EXPECT_EQ(form.Album().Tracks[0].CopiedFlag, 1);
  // The whole track: its data chunk holds every byte of the track's audio
  // and ends the file.
  const auto bytes = ReadFileBytes(folder_ + "music/Track1.wav");
  ASSERT_TRUE(bytes);
  const std::size_t data = bytes->find("data");
  ASSERT_NE(data, std::string::npos);
  ASSERT_GE(bytes->size(), data + 8);
  const auto* p = reinterpret_cast<const unsigned char*>(bytes->data() + data + 4);
  const std::uint32_t dataSize = p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
  EXPECT_EQ(dataSize, form.Album().Tracks[0].Size);
  EXPECT_EQ(bytes->size(), data + 8 + form.Album().Tracks[0].Size);
  EXPECT_FALSE(std::filesystem::exists(folder_ + "TempFiles") &&
               !std::filesystem::is_empty(folder_ + "TempFiles"));
  // Nothing runs any more: the window closes without a question.
  form.close();
  EXPECT_FALSE(form.isVisible());
}

TEST_F(MainFormDiscTest, SettingsDialogFromTheWindow) {
  Session session(context_);
  TMainForm form(session, window_);
  const SettingsRecord before = form.Settings();
  // Cancel changes nothing.
  form.SettingsFormOpened = [](TSettingsForm& f) {
    QTimer::singleShot(0, &f, [&f] {
      f.findChild<QLineEdit*>("ProxyEdit")->setText("proxy.example");
      f.SpeedButton1Click();
    });
  };
  form.OpenSettings();
  // Opening stores a sane "files at once" at once; nothing else changes.
  SettingsRecord after = form.Settings();
  EXPECT_EQ(after.DecodeFilesAtOnce, 1);
  after.DecodeFilesAtOnce = before.DecodeFilesAtOnce;
  EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0);
  EXPECT_EQ(form.SettingsForm(), nullptr);
  // OK stores the proxy and turns it on; the window shows the same disc.
  SetField(form.Settings().OutputFolder, folder_);
  form.SettingsFormOpened = [](TSettingsForm& f) {
    QTimer::singleShot(0, &f, [&f] {
      f.findChild<QLineEdit*>("ProxyEdit")->setText("proxy.example");
      f.SpeedButton2Click();
    });
  };
  form.OpenSettings();
  EXPECT_EQ(std::string(FieldText(form.Settings().ProxyHost)), "proxy.example");
  EXPECT_EQ(form.Settings().ProxyEnabled, 1);
  EXPECT_EQ(form.TrackList()->topLevelItemCount(), 5);
  form.close();
}

// The program itself: a second start while one runs ends at once with 0.
TEST(Program, SecondInstanceExitsAtOnce) {
  char tmpl[] = "/tmp/sonarvex-prog-XXXXXX";
  std::string dir = std::string(mkdtemp(tmpl)) + "/";
  std::string exe = dir + "sonarvex";
  std::filesystem::copy_file(std::string(SONARVEX_BIN_DIR) + "/sonarvex", exe);
  std::filesystem::permissions(exe, std::filesystem::perms::owner_all);
  setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  setenv("XDG_CONFIG_HOME", (dir + "config").c_str(), 1);
  setenv("XDG_DATA_HOME", (dir + "data").c_str(), 1);
  auto start = [&] {
    pid_t pid = fork();
    if (pid == 0) {
      execl(exe.c_str(), exe.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    return pid;
  };
  pid_t first = start();
  // Wait until the first instance holds its lock.
  std::string lock;
  for (int i = 0; i < 200 && lock.empty(); ++i) {
    for (auto& e : std::filesystem::directory_iterator(dir))
      if (e.path().extension() == ".lock") lock = e.path();
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  ASSERT_FALSE(lock.empty());
  auto t0 = std::chrono::steady_clock::now();
  pid_t second = start();
  int status = -1;
  waitpid(second, &status, 0);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_LT(seconds, 5.0);
  // The first one still runs.
  EXPECT_EQ(waitpid(first, &status, WNOHANG), 0);
  kill(first, SIGTERM);
  waitpid(first, &status, 0);
  // Nothing was written by the second start (it ended before any window).
  EXPECT_FALSE(DirectoryExists(dir + "setting"));
  unsetenv("XDG_RUNTIME_DIR");
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace sonarvex

namespace sonarvex {
namespace {

// Qt's own texts (the folder dialog, the edit boxes' menus) are Russian too.
TEST(QtTexts, StandardDialogsSpeakRussian) {
  App();
  if (!InstallQtRussian(App())) GTEST_SKIP() << "Qt's Russian translation (qt6-translations-l10n) is not installed";
  EXPECT_EQ(QCoreApplication::translate("QFileDialog", "Look in:").toStdString(), "Перейти к:");
  EXPECT_NE(QCoreApplication::translate("QPlatformTheme", "Cancel").toStdString(), "Cancel");
  EXPECT_NE(QCoreApplication::translate("QLineEdit", "&Paste").toStdString(), "&Paste");
}

}  // namespace
}  // namespace sonarvex

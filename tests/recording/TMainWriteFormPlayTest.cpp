// Listening in the recording window, offscreen, with the media file player
// on GStreamer sinks that keep time but play nowhere: play, next, previous
// and stop, the volume bar, the next row at the end of a file, a file the
// player cannot open going to the desktop's program, the sound after a
// recording; and rows dragged onto other rows of the list.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLabel>
#include <QMimeData>
#include <QSlider>
#include <QToolButton>
#include <QTreeWidget>
#include <QUrl>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "playback/ui/PositionBar.h"
#include "session/Session.h"
#include "platform/Cp1251.h"
#include "platform/ScriptedDialogs.h"
#include "playback/MediaPlayer.h"
#include "recording/ui/TMainWriteForm.h"
#include "tests/recording/WindowRig.h"

namespace sonarvex {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Runs the event loop until done() or the time is up.
template <typename F>
bool RunUntil(F done, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    QApplication::processEvents();
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

using test::Captions;
using test::Names;

class WindowTest : public test::WindowRig<> {
 protected:
  // CD-audio WAV files of the given lengths in sectors (75 a second).
  std::vector<std::string> Files(const std::vector<std::pair<std::string, int>>& files) {
    std::vector<std::string> paths;
    int seed = 1;
    for (const auto& [name, sectors] : files)
      paths.push_back(test::WriteCdWav(dir_.File(name), test::ToneAudio(seed++, std::size_t(sectors) * 2352)));
    return paths;
  }
};

// The same with a player whose sinks play nowhere.
class PlayTest : public WindowTest {
 protected:
  void SetUp() override {
    std::string why;
    if (!MediaPlayer::Available(&why)) GTEST_SKIP() << "no GStreamer playbin: " << why;
    WindowTest::SetUp();
    MediaPlayerOptions o;
    o.fakeSinks = true;
    player_ = std::make_unique<MediaPlayer>(o);
  }
  std::unique_ptr<MediaPlayer> player_;
};

TEST_F(PlayTest, PlayNextPreviousAndStopFollowTheCurrentIndex) {
  TMainWriteForm form(*session_, nullptr, player_.get());
  const auto paths = Files({{"a.wav", 150}, {"b.wav", 150}, {"c.wav", 150}});
  form.AddFiles(paths);
  EXPECT_FALSE(form.Playing());
  EXPECT_EQ(form.CurrentIndex(), -1);
  EXPECT_EQ(form.PaintBox1->Scale(), 1000);  // nothing has played yet

  form.ListView->setCurrentItem(form.ListView->topLevelItem(1));
  form.PlayButton->click();
  EXPECT_TRUE(form.Playing());
  EXPECT_EQ(form.CurrentIndex(), 1);
  EXPECT_EQ(player_->LoadedPath(), paths[1]);
  EXPECT_EQ(form.MediaLength(), 200);  // 150 sectors: 2 seconds
  EXPECT_EQ(form.PaintBox1->Scale(), 200);

  form.NextButton->click();
  EXPECT_EQ(form.CurrentIndex(), 2);
  EXPECT_EQ(player_->LoadedPath(), paths[2]);
  form.NextButton->click();  // past the last row: the first
  EXPECT_EQ(form.CurrentIndex(), 0);
  EXPECT_EQ(player_->LoadedPath(), paths[0]);
  form.PrevButton->click();  // before the first row: the first again
  EXPECT_EQ(form.CurrentIndex(), 0);
  EXPECT_EQ(player_->LoadedPath(), paths[0]);

  form.StopButton->click();
  EXPECT_FALSE(form.Playing());
  EXPECT_EQ(form.CurrentIndex(), -1);
  EXPECT_FALSE(player_->Loaded());
  EXPECT_EQ(form.PaintBox1->MarkerPixels(), 0);
  // After a stop, Next plays the row after index -1.
  form.NextButton->click();
  EXPECT_EQ(form.CurrentIndex(), 0);
  form.StopButton->click();
  ExpectClean();
}

TEST_F(PlayTest, DoubleClickPlaysAndTheVolumeBarIsAppliedWhilePlaying) {
  TMainWriteForm form(*session_, nullptr, player_.get());
  const auto paths = Files({{"a.wav", 75}, {"b.wav", 75}});
  form.AddFiles(paths);
  EXPECT_EQ(form.VolumeBar->minimum(), 0);
  EXPECT_EQ(form.VolumeBar->maximum(), 255);
  EXPECT_EQ(form.VolumeBar->value(), 255);
  form.VolumeBar->setValue(155);
  QTreeWidgetItem* item = form.ListView->topLevelItem(1);
  form.ListView->setCurrentItem(item);
  emit form.ListView->itemDoubleClicked(item, 1);
  ASSERT_TRUE(form.Playing());
  EXPECT_EQ(player_->LoadedPath(), paths[1]);
  // 155 * 10 - 2550 = -1000 hundredths of a decibel.
  EXPECT_DOUBLE_EQ(player_->LinearVolume(), MediaLinearVolume(-1000));
  form.VolumeBar->setValue(255);
  EXPECT_DOUBLE_EQ(player_->LinearVolume(), 1.0);
  form.VolumeBar->setValue(0);
  EXPECT_DOUBLE_EQ(player_->LinearVolume(), MediaLinearVolume(-2550));
  form.StopButton->click();
}

TEST_F(PlayTest, TheEndOfAFilePlaysTheNextRow) {
  TMainWriteForm form(*session_, nullptr, player_.get());
  const auto paths = Files({{"a.wav", 30}, {"b.wav", 150}});
  form.AddFiles(paths);
  form.ListView->setCurrentItem(form.ListView->topLevelItem(0));
  form.PlayButtonClick();
  ASSERT_EQ(form.CurrentIndex(), 0);
  EXPECT_EQ(form.MediaLength(), 40);
  ASSERT_TRUE(RunUntil([&] { return form.CurrentIndex() == 1; }, 5s)) << "the next row never played";
  EXPECT_TRUE(form.Playing());
  EXPECT_EQ(player_->LoadedPath(), paths[1]);
  EXPECT_EQ(form.MediaLength(), 200);
  // The knob follows what plays.
  ASSERT_TRUE(RunUntil([&] { return form.PaintBox1->MarkerPixels() > 0; }, 3s));
  form.StopButton->click();
  EXPECT_EQ(form.PaintBox1->MarkerPixels(), 0);
}

TEST_F(PlayTest, ReleasingTheKnobSeeks) {
  TMainWriteForm form(*session_, nullptr, player_.get());
  form.AddFiles(Files({{"long.wav", 75 * 5}}));
  form.ListView->setCurrentItem(form.ListView->topLevelItem(0));
  form.PlayButtonClick();
  ASSERT_TRUE(form.Playing());
  ASSERT_TRUE(form.PaintBox1->Released);
  form.PaintBox1->Released(350);  // whole seconds: 3 s
  EXPECT_GE(player_->GetMediaPosition(), 300);
  EXPECT_LT(player_->GetMediaPosition(), 450);
  form.StopButton->click();
}

// A file the player cannot open is handed to xdg-open (a script here that
// notes what it was given).
TEST_F(PlayTest, AFileThePlayerCannotOpenGoesToTheDesktop) {
  TMainWriteForm form(*session_, nullptr, player_.get());
  form.AddFiles(Files({{"a.wav", 75}}));
  // The row still names a file, but it is no longer audio.
  const std::string path = form.List().Rows()[0].Path();
  WriteFileAtomically(path, "not audio at all");
  const std::string bin = dir_.Path() + "/bin";
  fs::create_directories(bin);
  const std::string noted = dir_.File("opened.txt");
  WriteFileAtomically(bin + "/xdg-open", "#!/bin/sh\nprintf '%s' \"$1\" > '" + noted + "'\n");
  fs::permissions(bin + "/xdg-open", fs::perms::owner_all);
  const std::string oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
  setenv("PATH", (bin + ":" + oldPath).c_str(), 1);
  form.ListView->setCurrentItem(form.ListView->topLevelItem(0));
  form.PlayButtonClick();
  EXPECT_FALSE(form.Playing());
  EXPECT_EQ(form.CurrentIndex(), -1);
  const bool opened = RunUntil([&] { return FileExists(noted); }, 5s);
  setenv("PATH", oldPath.c_str(), 1);
  ASSERT_TRUE(opened) << "xdg-open was not started";
  std::this_thread::sleep_for(100ms);
  auto text = ReadFileBytes(noted);
  ASSERT_TRUE(text);
  EXPECT_EQ(std::string(text->begin(), text->end()), path);
}

// Without xdg-open the file cannot go to the desktop either: the user is
// told, with the file's name.
TEST_F(PlayTest, AFileNobodyCanOpenIsSaid) {
  TMainWriteForm form(*session_, nullptr, player_.get());
  form.AddFiles(Files({{"a.wav", 75}}));
  const std::string path = form.List().Rows()[0].Path();
  WriteFileAtomically(path, "not audio at all");
  const std::string bin = dir_.Path() + "/empty-bin";
  fs::create_directories(bin);
  const std::string oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
  setenv("PATH", bin.c_str(), 1);
  dialogs_.ExpectMessage("Не удалось открыть файл '" + path +
                             "': программа xdg-open не найдена или не запускается.",
                         "Sonarvex v3.2", MsgIcon::Warning, MsgButtons::Ok);
  form.ListView->setCurrentItem(form.ListView->topLevelItem(0));
  form.PlayButtonClick();
  setenv("PATH", oldPath.c_str(), 1);
  EXPECT_FALSE(form.Playing());
  ExpectClean();
}

TEST_F(PlayTest, TheSoundAfterARecordingPlaysWithTheVolumeBar) {
  const auto paths = Files({{"a.wav", 60}, {"b.wav", 40}});
  const std::string sound = Files({{"готово.wav", 150}})[0];
  TMainWriteForm form(*session_, nullptr, player_.get());
  form.Settings().PlaySound = 1;
  form.Settings().AskBeforeDiscOps = 0;
  SetFieldUtf8(form.Settings().SoundFile, sound);  // kept in CP1251
  form.VolumeBar->setValue(205);
  form.AddFiles(paths);
  form.Record(false);
  ASSERT_TRUE(RunUntil([&] { return !form.Busy(); }, 10s));
  ASSERT_TRUE(RunUntil([&] { return form.Playing(); }, 5s)) << "the sound was not played";
  EXPECT_EQ(player_->LoadedPath(), sound);
  EXPECT_EQ(form.CurrentIndex(), 0);
  EXPECT_EQ(form.MediaLength(), 200);
  EXPECT_DOUBLE_EQ(player_->LinearVolume(), MediaLinearVolume(205 * 10 - 2550));
  EXPECT_EQ(form.ListView->topLevelItem(0)->data(0, Qt::UserRole).toInt(), 1);  // recorded
  form.StopButton->click();
  ExpectClean();
}

TEST_F(PlayTest, NoSoundWhenTheSettingIsOff) {
  TMainWriteForm form(*session_, nullptr, player_.get());
  form.Settings().AskBeforeDiscOps = 0;
  SetFieldUtf8(form.Settings().SoundFile, Files({{"sound.wav", 75}})[0]);
  form.AddFiles(Files({{"a.wav", 40}}));
  form.Record(false);
  ASSERT_TRUE(RunUntil([&] { return !form.Busy(); }, 10s));
  RunUntil([] { return false; }, 300ms);
  EXPECT_FALSE(form.Playing());
  EXPECT_FALSE(player_->Loaded());
}

// Enters the list's viewport with a drag and drops it there (the drop goes
// to the widget that accepted the entering drag).
void DragOnto(QTreeWidget* list, QPoint at, QMimeData* data, Qt::DropActions actions) {
  QDragEnterEvent enter(at, actions, data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(list->viewport(), &enter);
  ASSERT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(at), actions, data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(list->viewport(), &drop);
  EXPECT_TRUE(drop.isAccepted());
}

// Drops the list's own drag of row `from` onto row `to`, as a drag inside
// the list ends.
void DropRow(TMainWriteForm& form, int from, int to) {
  QTreeWidget* list = form.ListView;
  std::unique_ptr<QMimeData> data(list->model()->mimeData({list->model()->index(from, 0)}));
  ASSERT_TRUE(data);
  const QPoint at = list->visualItemRect(list->topLevelItem(to)).center();
  DragOnto(list, at, data.get(), Qt::MoveAction | Qt::CopyAction);
}

TEST_F(WindowTest, DraggingARowMovesItBeforeTheTargetOrToTheEnd) {
  TMainWriteForm form(*session_);
  form.AddFiles(Files({{"a.wav", 10}, {"b.wav", 10}, {"c.wav", 10}}));
  form.show();  // the rows need their places
  QApplication::processEvents();
  // Onto the last row: appended.
  DropRow(form, 0, 2);
  EXPECT_EQ(Names(form), (std::vector<std::string>{"b.wav", "c.wav", "a.wav"}));
  EXPECT_EQ(Captions(form), (std::vector<std::string>{"1", "2", "3"}));
  EXPECT_EQ(form.ListView->indexOfTopLevelItem(form.ListView->currentItem()), 2);
  EXPECT_EQ(form.List().Rows()[2].name, "a.wav");
  // Onto a row that is not the last: before it.
  form.AddFiles(Files({{"d.wav", 10}}));
  DropRow(form, 0, 2);  // b onto a
  EXPECT_EQ(Names(form), (std::vector<std::string>{"c.wav", "b.wav", "a.wav", "d.wav"}));
  EXPECT_EQ(form.ListView->indexOfTopLevelItem(form.ListView->currentItem()), 1);
  DropRow(form, 3, 0);  // d onto c
  EXPECT_EQ(Names(form), (std::vector<std::string>{"d.wav", "c.wav", "b.wav", "a.wav"}));
  EXPECT_EQ(Captions(form), (std::vector<std::string>{"1", "2", "3", "4"}));
  EXPECT_EQ(form.ListView->indexOfTopLevelItem(form.ListView->currentItem()), 0);
  DropRow(form, 1, 1);  // onto itself: nothing moves
  EXPECT_EQ(Names(form), (std::vector<std::string>{"d.wav", "c.wav", "b.wav", "a.wav"}));
  EXPECT_EQ(form.FilePanel->text().toStdString(), "Файлов 4");
  ExpectClean();
}

TEST_F(WindowTest, FilesDroppedOnTheListAreAdded) {
  TMainWriteForm form(*session_);
  form.AddFiles(Files({{"a.wav", 10}}));
  const auto dropped = Files({{"x.wav", 10}, {"y.wav", 20}});
  form.show();
  QApplication::processEvents();
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(QString::fromStdString(dropped[0])),
                QUrl::fromLocalFile(QString::fromStdString(dropped[1]))});
  const QPoint at = form.ListView->visualItemRect(form.ListView->topLevelItem(0)).center();
  DragOnto(form.ListView, at, &data, Qt::CopyAction);
  EXPECT_EQ(Names(form), (std::vector<std::string>{"a.wav", "x.wav", "y.wav"}));
  EXPECT_EQ(form.FilePanel->text().toStdString(), "Файлов 3");
  ExpectClean();
}

// The window as it looks, for a look at its controls: written to
// SONARVEX_SCREENSHOT when that is set.
TEST_F(WindowTest, Screenshot) {
  const char* out = std::getenv("SONARVEX_SCREENSHOT");
  if (!out) GTEST_SKIP() << "set SONARVEX_SCREENSHOT to a PNG path to take a picture of the window";
  TMainWriteForm form(*session_);
  form.AddFiles(Files({{"Первый трек.wav", 900}, {"second.wav", 2000}}));
  form.resize(760, 460);
  form.show();
  form.PaintBox1->SetPosition(300);
  QApplication::processEvents();
  ASSERT_TRUE(form.grab().save(QString::fromStdString(out)));
}

}  // namespace
}  // namespace sonarvex

// The conversion window under the offscreen platform: it opens with the
// engine's rows, runs a batch, closes on Escape when idle and refuses to
// close while busy, edits a row's tag in the tag dialog without the disc
// controls, and is not created without libkelpra.so. With
// SONARVEX_SCREENSHOT_DIR set (under xvfb-run) it leaves screenshots there.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "conversion/ui/TConvertForm.h"
#include "metadata/ui/LinkLabel.h"
#include "metadata/ui/TID3Form.h"
#include "platform/Cp1251.h"
#include "platform/Files.h"
#include "tests/conversion/ConversionTestUtil.h"

namespace sonarvex {
namespace {

QApplication& App() {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  static int argc = 1;
  static char name[] = "conversion_ui_tests";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

void Screenshot(QWidget& w, const std::string& name) {
  const char* dir = std::getenv("SONARVEX_SCREENSHOT_DIR");
  if (dir == nullptr) return;
  w.show();
  w.raise();
  for (int i = 0; i < 40; ++i) {
    QApplication::processEvents();
    QTest::qWait(10);
  }
  test::Run(std::string("import -window root ") + test::Quote(std::string(dir) + "/" + name + ".png"));
}

class ConvertFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    ApplyFirstStartDefaults(settings_, (dir_.Path() + "/").c_str());
    settings_.ConvertDirection = kWavToOgg;
    settings_.WindowColor = kDefaultWindowColor;
    settings_.EditColor = kDefaultEditColor;
    encoders_ = std::make_unique<EncoderSet>(settings_, dialogs_);
    context_.settings = &settings_;
    context_.encoders = encoders_.get();
    context_.dialogs = &dialogs_;
    context_.programFolder = std::string(SONARVEX_BIN_DIR) + "/";
    context_.tempFolder = dir_.Path() + "/TempFile/";
  }
  test::TempDir dir_;
  SettingsRecord settings_{};
  ScriptedDialogs dialogs_;
  std::unique_ptr<EncoderSet> encoders_;
  ConvertFormContext context_;
};

TEST_F(ConvertFormTest, OpensWithItsControlsRunsABatchAndClosesOnEscape) {
  TConvertForm form(context_);
  ASSERT_TRUE(form.Created());
  EXPECT_EQ(form.windowTitle().toStdString(), "Конвертирование файлов");
  // Every direction this computer can run (WAVE -> OPUS needs libopusenc).
  ASSERT_EQ(form.DirectionBox()->count(),
            static_cast<int>(form.Engine().AvailableDirections().size()));
  EXPECT_EQ(form.DirectionBox()->itemText(8).toStdString(),
            encoders_->Opus().Available() ? "WAVE -> OPUS" : "FLAC -> WAVE");
  EXPECT_EQ(form.DirectionBox()->currentText().toStdString(), "WAVE -> OGG");
  EXPECT_FALSE(form.FormatBox()->isVisibleTo(&form));
  EXPECT_TRUE(form.TagSpeedButton()->isEnabled());
  EXPECT_FALSE(form.CancelButton()->isVisibleTo(&form));
  std::vector<std::string> wavs;
  for (const char* n : {"a.wav", "b.wav"}) {
    wavs.push_back(dir_.File(n));
    test::MakeWav(wavs.back(), 0.5);
  }
  form.AddFiles({QString::fromStdString(wavs[0]), QString::fromStdString(wavs[1]),
                 QString::fromStdString(dir_.File("c.mp3"))});
  ASSERT_EQ(form.ListView()->topLevelItemCount(), 2);
  EXPECT_EQ(form.ListView()->topLevelItem(0)->text(0).toStdString(), "a.wav");
  EXPECT_EQ(form.ListView()->topLevelItem(0)->text(1).toStdString(), "Ждет начала");
  EXPECT_EQ(form.ListView()->topLevelItem(0)->text(2).toStdString(), dir_.Path() + "/");
  // Unticking in the list unticks the row.
  form.ListView()->topLevelItem(1)->setCheckState(0, Qt::Unchecked);
  EXPECT_FALSE(form.Engine().Rows()[1].checked);
  form.SaveDirBox()->setChecked(true);
  Screenshot(form, "convert-idle");
  form.show();
  QTest::mouseClick(form.StartButton(), Qt::LeftButton);
  EXPECT_EQ(form.ListView()->topLevelItem(0)->text(1).toStdString(), "Готово");
  EXPECT_EQ(form.ListView()->topLevelItem(0)->checkState(0), Qt::Unchecked);
  EXPECT_EQ(form.ListView()->topLevelItem(1)->text(1).toStdString(), "Ждет начала");
  EXPECT_TRUE(FileExists(dir_.File("a.ogg")));
  EXPECT_FALSE(FileExists(dir_.File("b.ogg")));
  EXPECT_TRUE(form.StartButton()->isVisible());
  // Choosing MP3 -> MP3 shows the bitrate box; MP3 rows come from their list.
  form.DirectionBox()->setCurrentIndex(1);
  EXPECT_TRUE(form.FormatBox()->isVisibleTo(&form));
  EXPECT_FALSE(form.TagSpeedButton()->isEnabled());
  EXPECT_EQ(form.ListView()->topLevelItemCount(), 1);
  QTest::keyClick(&form, Qt::Key_Escape);
  EXPECT_FALSE(form.isVisible());
  EXPECT_EQ(settings_.ConvertDirection, 1);
  EXPECT_EQ(settings_.ConvertSaveToFolder, 1);
  EXPECT_TRUE(dialogs_.Clean());
}

// FLAC files in the window: their directions in the list, the file chooser,
// the tag button starting from the file's tags, and the batch.
TEST_F(ConvertFormTest, FlacFilesConvertWithTheirTags) {
  if (!test::ToolPresent("flac") || !test::ToolPresent("ffprobe"))
    GTEST_SKIP() << "flac or ffprobe is not installed";
  TConvertForm form(context_);
  ASSERT_TRUE(form.Created());
  if (!form.Engine().DirectionAvailable(kFlacToMp3)) GTEST_SKIP() << "libFLAC cannot be loaded";
  if (!encoders_->Lame().Available()) GTEST_SKIP() << "libmp3lame.so.0 is missing";
  for (const char* caption : {"FLAC -> WAVE", "FLAC -> MP3", "FLAC -> OGG"})
    EXPECT_GE(form.DirectionBox()->findText(caption), 0) << caption;
  form.DirectionBox()->setCurrentIndex(form.DirectionBox()->findText("FLAC -> MP3"));
  EXPECT_EQ(form.Engine().Direction(), kFlacToMp3);
  EXPECT_TRUE(form.TagSpeedButton()->isEnabled());
  test::MakeFlac(dir_.File("song.flac"), 1.0, "-T TITLE=Звезда -T ARTIST=Кино -T ALBUM=Группа");
  test::MakeWav(dir_.File("other.wav"), 0.5);
  dialogs_.ExpectOpenFiles({dir_.File("song.flac"), dir_.File("other.wav")});
  form.AddFileButtonClick();
  ASSERT_EQ(form.ListView()->topLevelItemCount(), 1) << "the WAV waits in its own list";
  EXPECT_EQ(form.ListView()->topLevelItem(0)->text(0).toStdString(), "song.flac");
  form.SaveDirBox()->setChecked(true);
  form.show();
  // The caption during the batch names the file, as in the other directions.
  std::vector<std::string> titles;
  bool shot = std::getenv("SONARVEX_SCREENSHOT_DIR") == nullptr;
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    const std::string title = form.windowTitle().toStdString();
    if (titles.empty() || titles.back() != title) titles.push_back(title);
    if (!shot && title.find("[song.flac]") != std::string::npos) {
      shot = true;
      Screenshot(form, "convert-flac-batch");
    }
  });
  watch.start(1);
  QTest::mouseClick(form.StartButton(), Qt::LeftButton);
  watch.stop();
  EXPECT_NE(std::find(titles.begin(), titles.end(), "Конвертирование файлов - [song.flac] - 1/1"), titles.end())
      << ::testing::PrintToString(titles);
  EXPECT_EQ(form.windowTitle().toStdString(), "Конвертирование файлов");
  EXPECT_EQ(form.ListView()->topLevelItem(0)->text(1).toStdString(), "Готово");
  const std::string probe =
      test::Run("ffprobe -v error -show_format " + test::Quote(dir_.File("song.mp3")));
  EXPECT_EQ(test::ProbeValue(probe, "TAG:title"), "Звезда") << probe;
  EXPECT_EQ(test::ProbeValue(probe, "TAG:artist"), "Кино");
  EXPECT_EQ(test::ProbeValue(probe, "TAG:album"), "Группа");
  EXPECT_GT(test::MeasureTone(dir_.File("song.mp3")).seconds, 0.9);
  // FLAC -> WAVE has no tags to edit.
  form.DirectionBox()->setCurrentIndex(form.DirectionBox()->findText("FLAC -> WAVE"));
  EXPECT_FALSE(form.TagSpeedButton()->isEnabled());
  EXPECT_EQ(form.ListView()->topLevelItemCount(), 1);
  EXPECT_TRUE(dialogs_.Clean());
}

TEST_F(ConvertFormTest, ClosingIsRefusedWhileBusyAndCancelAsksFirst) {
  TConvertForm form(context_);
  ASSERT_TRUE(form.Created());
  test::MakeWav(dir_.File("long.wav"), 30.0);
  test::MakeWav(dir_.File("next.wav"), 1.0);
  form.AddFiles({QString::fromStdString(dir_.File("long.wav")),
                 QString::fromStdString(dir_.File("next.wav"))});
  form.SaveDirBox()->setChecked(true);
  form.show();
  // Closing asks whether to stop; no lets the batch go on.
  dialogs_.ExpectMessage("Остановить процесс???", "Sonarvex v3.2", MsgIcon::Question,
                         MsgButtons::YesNo, IdNo);
  dialogs_.ExpectMessage("Остановить процесс???", "Sonarvex v3.2", MsgIcon::Question,
                         MsgButtons::YesNo, IdYes);
  bool visibleAfterClose = false, visibleAfterEscape = false, cancelShown = false;
  std::string busyTitle;
  QTimer::singleShot(150, &form, [&] {
    busyTitle = form.windowTitle().toStdString();
    cancelShown = form.CancelButton()->isVisible();
    form.close();
    visibleAfterClose = form.isVisible();
    QTest::keyClick(&form, Qt::Key_Escape);
    visibleAfterEscape = form.isVisible();
    QTest::mouseClick(form.CancelButton(), Qt::LeftButton);
  });
  QTest::mouseClick(form.StartButton(), Qt::LeftButton);
  EXPECT_EQ(busyTitle, "Конвертирование файлов - [long.wav] - 1/2");
  EXPECT_TRUE(cancelShown);
  EXPECT_TRUE(visibleAfterClose);
  EXPECT_TRUE(visibleAfterEscape);
  EXPECT_EQ(form.Engine().Rows()[0].state, "Остановлено");
  EXPECT_EQ(form.Engine().Rows()[1].state, "Ждет начала");
  EXPECT_FALSE(FileExists(dir_.File("long.ogg")));
  EXPECT_FALSE(FileExists(dir_.File("next.ogg")));
  EXPECT_FALSE(form.CancelButton()->isVisible());
  EXPECT_TRUE(dialogs_.Clean());
  form.close();
  EXPECT_FALSE(form.isVisible());
}

// Closing during a batch and answering yes stops it as the Cancel button
// does: the file being written is removed, the rest is not started, and the
// window closes once the batch has stopped.
TEST_F(ConvertFormTest, ClosingDuringABatchAnsweredYesStopsItAndCloses) {
  TConvertForm form(context_);
  ASSERT_TRUE(form.Created());
  test::MakeWav(dir_.File("long.wav"), 30.0);
  test::MakeWav(dir_.File("next.wav"), 1.0);
  form.AddFiles({QString::fromStdString(dir_.File("long.wav")),
                 QString::fromStdString(dir_.File("next.wav"))});
  form.SaveDirBox()->setChecked(true);
  form.show();
  dialogs_.ExpectMessage("Остановить процесс???", "Sonarvex v3.2", MsgIcon::Question,
                         MsgButtons::YesNo, IdYes);
  bool visibleAfterClose = false;
  QTimer::singleShot(150, &form, [&] {
    form.close();
    visibleAfterClose = form.isVisible();
  });
  QTest::mouseClick(form.StartButton(), Qt::LeftButton);
  EXPECT_TRUE(visibleAfterClose) << "the window waits for the batch to stop";
  EXPECT_EQ(form.Engine().Rows()[0].state, "Остановлено");
  EXPECT_EQ(form.Engine().Rows()[1].state, "Ждет начала");
  EXPECT_FALSE(FileExists(dir_.File("long.ogg")));
  EXPECT_FALSE(FileExists(dir_.File("next.ogg")));
  for (int i = 0; i < 20 && form.isVisible(); ++i) QCoreApplication::processEvents();
  EXPECT_FALSE(form.isVisible());
  EXPECT_TRUE(dialogs_.Clean());
}

TEST_F(ConvertFormTest, TheTagDialogOfARowHasNoDiscControls) {
  TConvertForm form(context_);
  ASSERT_TRUE(form.Created());
  test::MakeWav(dir_.File("t.wav"), 0.2);
  form.AddFiles({QString::fromStdString(dir_.File("t.wav"))});
  form.show();
  bool chooser = true, link = true, compilation = true;
  std::string title;
  QTimer::singleShot(50, &form, [&] {
    auto* dlg = qobject_cast<TID3Form*>(form.OpenTagDialog());
    ASSERT_NE(dlg, nullptr);
    chooser = dlg->TitleBox1()->isVisible();
    link = dlg->Label13()->isVisible();
    compilation = dlg->CopyComp()->isVisible();
    auto* titleBox = dlg->findChild<QLineEdit*>("TitleBox");
    ASSERT_NE(titleBox, nullptr);
    title = titleBox->text().toStdString();
    titleBox->setText(QString::fromUtf8("Новое название 群青"));
    dlg->close();
  });
  form.TagSpeedButtonClick();
  EXPECT_FALSE(chooser);
  EXPECT_FALSE(link);
  EXPECT_FALSE(compilation);
  EXPECT_EQ(title, "t.wav");
  const ConvertRow& row = form.Engine().Rows()[0];
  ASSERT_NE(row.tag, nullptr);
  EXPECT_EQ(row.tag->Get(TagField::Title), "Новое название 群青");
  EXPECT_EQ(row.tag->Record.TagsOn, 1);
  // The batch writes it.
  form.SaveDirBox()->setChecked(true);
  QTest::mouseClick(form.StartButton(), Qt::LeftButton);
  const std::string comments = test::Run("vorbiscomment -l " + test::Quote(dir_.File("t.ogg")));
  EXPECT_NE(comments.find("TITLE=Новое название 群青\n"), std::string::npos) << comments;
  Screenshot(form, "convert-done");
}

TEST_F(ConvertFormTest, NotCreatedWithoutTheDecoderLibrary) {
  context_.programFolder = dir_.Path() + "/";
  dialogs_.ExpectMessage("Нет необходимой библиотеки libkelpra.so", "Sonarvex v3.2",
                         MsgIcon::Warning, MsgButtons::Ok);
  TConvertForm form(context_);
  EXPECT_FALSE(form.Created());
  EXPECT_TRUE(dialogs_.Clean());
}

}  // namespace
}  // namespace sonarvex

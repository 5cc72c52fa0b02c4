// The recording window and cue sheets: "Добавить файлы..." offers them after
// the WAVE files, a chosen or dropped sheet brings its files in track order,
// a sheet that cannot be used adds nothing and says why, and a project file
// still lists files only.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDropEvent>
#include <QLabel>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>
#include <QUrl>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "session/Session.h"
#include "platform/Files.h"
#include "platform/ScriptedDialogs.h"
#include "recording/ui/TMainWriteForm.h"
#include "recording/ui/TProgressForm.h"
#include "tests/recording/WindowRig.h"

namespace sonarvex {
namespace {

namespace fs = std::filesystem;

// Scripted dialogs that also keep the filters the file chooser was given.
class FilterDialogs : public ScriptedDialogs {
 public:
  std::vector<std::string> OpenFiles(const std::string& title, const std::vector<FileFilter>& filters,
                                     const std::string& folder, bool multiple) override {
    offered.clear();
    for (const auto& f : filters) offered.push_back(f.description);
    return ScriptedDialogs::OpenFiles(title, filters, folder, multiple);
  }
  std::vector<std::string> offered;
};

using test::Names;

class WindowCueTest : public test::WindowRig<FilterDialogs> {
 protected:
  void SetUp() override {
    WindowRig::SetUp();
    a_ = test::WriteCdWav(dir_.File("01 a.wav"), test::PatternAudio(1, 30 * 2352));
    b_ = test::WriteCdWav(dir_.File("02 b.wav"), test::PatternAudio(2, 20 * 2352));
    sheet_ = dir_.File("Альбом.cue");
    WriteFileAtomically(sheet_, "FILE \"02 b.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
                                "FILE \"01 a.wav\" WAVE\n  TRACK 02 AUDIO\n    INDEX 01 00:00:00\n");
  }
  std::string a_, b_, sheet_;
};

TEST_F(WindowCueTest, TheFileChooserOffersCueSheetsAfterWaveFiles) {
  TMainWriteForm form(*session_);
  dialogs_.ExpectOpenFiles({sheet_, a_});
  form.AddFileButtonClick();
  EXPECT_EQ(dialogs_.offered,
            (std::vector<std::string>{"WAVE files (*.wav)", "Звуковые файлы (*.wav *.flac *.mp3 *.ogg *.oga *.opus *.wma)",
                                      "Cue-листы (*.cue)"}));
  // The sheet's files in its track order, then the file chosen beside it.
  EXPECT_EQ(Names(form), (std::vector<std::string>{"02 b.wav", "01 a.wav", "01 a.wav"}));
  EXPECT_EQ(form.FilePanel->text().toStdString(), "Файлов 3");
  EXPECT_EQ(form.TimePanel->text().toStdString(), "Время 00:01:05");  // 20 + 30 + 30 sectors
  ExpectClean();
}

// The window with its drop handler within reach.
class DropTarget : public TMainWriteForm {
 public:
  using TMainWriteForm::TMainWriteForm;
  using TMainWriteForm::dropEvent;
};

TEST_F(WindowCueTest, ADroppedSheetIsLoaded) {
  DropTarget form(*session_);
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(QString::fromStdString(sheet_))});
  QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  form.dropEvent(&drop);
  EXPECT_EQ(Names(form), (std::vector<std::string>{"02 b.wav", "01 a.wav"}));
  ExpectClean();
}

TEST_F(WindowCueTest, ASheetThatCannotBeUsedAddsNothingAndSaysWhy) {
  TMainWriteForm form(*session_);
  fs::remove(a_);
  dialogs_.ExpectMessage("CUE-файл '" + sheet_ + "' не загружен: строка 4 CUE-файла: нет файла «01 a.wav».",
                         "Sonarvex v3.2", MsgIcon::Warning, MsgButtons::Ok);
  form.AddFiles({b_, sheet_});
  EXPECT_EQ(Names(form), (std::vector<std::string>{"02 b.wav"}));
  ExpectClean();
}

// A loaded sheet's catalogue number, ISRCs and titles are burned with its
// files: the disc written carries them.
TEST_F(WindowCueTest, ASheetsCodesAndTitlesAreBurnedWithIt) {
  TMainWriteForm form(*session_);
  const std::string sheet = dir_.File("codes.cue");
  WriteFileAtomically(sheet, "CATALOG 0724384960650\nPERFORMER \"Pixies\"\nTITLE \"Doolittle\"\n"
                             "FILE \"01 a.wav\" WAVE\n  TRACK 01 AUDIO\n    TITLE \"Debaser\"\n"
                             "    ISRC USAB18900001\n    INDEX 01 00:00:00\n"
                             "FILE \"02 b.wav\" WAVE\n  TRACK 02 AUDIO\n    TITLE \"Tame\"\n    INDEX 01 00:00:00\n");
  form.AddFiles({sheet});
  ASSERT_EQ(Names(form), (std::vector<std::string>{"01 a.wav", "02 b.wav"}));
  dialogs_.ExpectMessage("Начать запись ???", "Sonarvex v3.2", MsgIcon::Question, MsgButtons::YesNo, IdYes);
  form.Record(false);
  test::WaitForTheThread(form);
  const auto image = ReadFileBytes(cue_);
  ASSERT_TRUE(image);
  EXPECT_EQ(*image,
            "CATALOG 0724384960650\nPERFORMER \"Pixies\"\nTITLE \"Doolittle\"\nFILE \"disc.bin\" BINARY\n"
            "  TRACK 01 AUDIO\n    TITLE \"Debaser\"\n    ISRC USAB18900001\n    INDEX 01 00:00:00\n"
            "  TRACK 02 AUDIO\n    TITLE \"Tame\"\n    INDEX 01 00:00:30\n");
  ExpectClean();
}

// A disc with CD-Text: while its lead-in is written (some seconds on a real
// drive) the progress window says so, and its track bar follows the lead-in.
TEST_F(WindowCueTest, TheProgressWindowFollowsTheCdTextLeadIn) {
  TMainWriteForm form(*session_);
  const std::string sheet = dir_.File("titled.cue");
  WriteFileAtomically(sheet, "PERFORMER \"Pixies\"\nTITLE \"Doolittle\"\n"
                             "FILE \"01 a.wav\" WAVE\n  TRACK 01 AUDIO\n    TITLE \"Debaser\"\n    INDEX 01 00:00:00\n");
  form.AddFiles({sheet});
  ASSERT_EQ(Names(form), (std::vector<std::string>{"01 a.wav"}));
  const QString leadIn = QString::fromUtf8("Запись вводной области (CD-Text)…");
  std::vector<int> leadInValues;
  QObject::connect(form.ProgressForm->PBar1, &QProgressBar::valueChanged, [&](int value) {
    if (form.ProgressForm->Label1->text() != leadIn) return;
    leadInValues.push_back(value);
    const char* shots = std::getenv("SONARVEX_SHOTS");
    if (shots && value >= 40 && leadInValues.size() > 1 && leadInValues[leadInValues.size() - 2] < 40)
      form.ProgressForm->grab().save(QString::fromStdString(std::string(shots) + "/progress-cdtext-leadin.png"));
    // The disc's bar stays at its start until the first track.
    EXPECT_EQ(form.ProgressForm->PBar2->value(), 0);
    // The recording window is disabled, its progress window is not: it can be cancelled.
    EXPECT_FALSE(form.isEnabled());
    EXPECT_TRUE(form.ProgressForm->SpeedButton1->isEnabled());
  });
  dialogs_.ExpectMessage("Начать запись ???", "Sonarvex v3.2", MsgIcon::Question, MsgButtons::YesNo, IdYes);
  form.Record(false);
  test::WaitForTheThread(form);
  ASSERT_GE(leadInValues.size(), 3u) << "the bar moves while the lead-in is written";
  EXPECT_TRUE(std::is_sorted(leadInValues.begin(), leadInValues.end()));
  EXPECT_GE(leadInValues.back(), 95);
  EXPECT_TRUE(ReadFileBytes(cue_)->find("TITLE \"Debaser\"") != std::string::npos);
  ExpectClean();
}

TEST_F(WindowCueTest, AProjectFileStillListsFilesOnly) {
  TMainWriteForm form(*session_);
  const std::string project = dir_.File("p.cgp");
  ASSERT_TRUE(SaveProject(project, {a_, sheet_, b_}));
  dialogs_.ExpectOpenFiles({project});
  form.LoadProjectClick();
  EXPECT_EQ(Names(form), (std::vector<std::string>{"01 a.wav", "02 b.wav"}));
  ExpectClean();
}

}  // namespace
}  // namespace sonarvex

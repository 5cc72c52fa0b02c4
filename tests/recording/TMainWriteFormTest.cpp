// The recording window offscreen on a Session with a software recorder:
// the drive selector, the disc state and the commands it enables, the
// checks and questions before recording, a recording through the thread
// with the rows marked, the time panel colour, the settings dialog's 38
// default, wset.dat written when the window closes.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>

#include "session/Session.h"
#include "platform/ScriptedDialogs.h"
#include "recording/ui/TMainWriteForm.h"
#include "recording/ui/TWriteSettingForm.h"
#include "tests/recording/WindowRig.h"

namespace sonarvex {
namespace {

using WindowTest = test::WindowRig<>;

TEST_F(WindowTest, OpensWithTheRecorderAndItsBlankDisc) {
  TMainWriteForm form(*session_);
  EXPECT_TRUE(form.HasWriter());
  EXPECT_EQ(form.CDROMBox->count(), 1);
  EXPECT_TRUE(form.CDROMBox->itemText(0).startsWith("Virtual CD-R"));
  EXPECT_TRUE(form.StartWriteButton->isEnabled());
  EXPECT_TRUE(form.TestWriteButton->isEnabled());
  EXPECT_FALSE(form.QuickEraseItem->isEnabled());  // a CD-R
  EXPECT_FALSE(form.FullEraseItem->isEnabled());
  EXPECT_EQ(form.windowTitle().toStdString(), "Sonarvex v3.2 - Запись AudioCD");
  EXPECT_EQ(form.FilePanel->text().toStdString(), "Файлов 0");
  EXPECT_EQ(form.TimePanel->text().toStdString(), "Время 00:00:00");
}

TEST_F(WindowTest, EmptyListIsRefused) {
  TMainWriteForm form(*session_);
  dialogs_.ExpectMessage("Добавьте файлы для записи!!!", "Sonarvex v3.2", MsgIcon::Information, MsgButtons::Ok);
  form.Record(false);
  std::string why;
  EXPECT_TRUE(dialogs_.Clean(&why)) << why;
}

TEST_F(WindowTest, RecordsAfterTheQuestionAndMarksTheRows) {
  TMainWriteForm form(*session_);
  const auto a = test::WriteCdWav(dir_.File("a.wav"), test::PatternAudio(1, 60 * 2352));
  const auto b = test::WriteCdWav(dir_.File("b.wav"), test::PatternAudio(2, 40 * 2352));
  form.AddFiles({a, b});
  ASSERT_EQ(form.ListView->topLevelItemCount(), 2);
  EXPECT_EQ(form.ListView->topLevelItem(1)->text(1).toStdString(), "b.wav");
  EXPECT_EQ(form.ListView->topLevelItem(1)->text(4).toStdString(), dir_.Path() + "/");
  EXPECT_EQ(form.FilePanel->text().toStdString(), "Файлов 2");
  dialogs_.ExpectMessage("Начать запись ???", "Sonarvex v3.2", MsgIcon::Question, MsgButtons::YesNo, IdYes);
  form.Record(false);
  EXPECT_FALSE(form.isEnabled());
  for (int i = 0; i < 500 && form.Busy(); ++i) {
    QApplication::processEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  QApplication::processEvents();
  EXPECT_FALSE(form.Busy());
  EXPECT_TRUE(form.isEnabled());
  EXPECT_TRUE(FileExists(cue_));
  EXPECT_EQ(form.ListView->topLevelItem(0)->data(0, Qt::UserRole).toInt(), 1);
  EXPECT_EQ(form.ListView->topLevelItem(1)->data(0, Qt::UserRole).toInt(), 1);
  EXPECT_FALSE(form.StartWriteButton->isEnabled());  // the disc is complete now
  // The end of the recording is said.
  EXPECT_EQ(dialogs_.Notices(), std::vector<std::string>{"Sonarvex v3.2|Запись диска завершена."});
  std::string why;
  EXPECT_TRUE(dialogs_.Clean(&why)) << why;
  // A complete CD-R: the next recording asks for a blank disc.
  dialogs_.ExpectMessage("Вставьте чистый CD-R/RW диск.", "Sonarvex v3.2", MsgIcon::Information, MsgButtons::Ok);
  form.Record(false);
  EXPECT_TRUE(dialogs_.Clean(&why)) << why;
}

TEST_F(WindowTest, SeventyNineMinutesAskAndOrangePanel) {
  TMainWriteForm form(*session_);
  form.List().Rows().push_back(CompilationRow{"/x/", "long.wav", 79u * 4500 * 2352, 2});
  form.AddFiles({});
  const QColor window = form.palette().color(QPalette::Window);
  EXPECT_EQ(form.TimePanel->palette().color(QPalette::Window), QColor(0xEC, 0x9A, 0x64));
  dialogs_.ExpectMessage("Общее время не должно превышать 79 минут!!!\nПродолжить?", "Sonarvex v3.2",
                         MsgIcon::Information, MsgButtons::YesNo, IdNo);
  form.Record(false);
  std::string why;
  EXPECT_TRUE(dialogs_.Clean(&why)) << why;
  form.List().Rows()[0].bytes = (76u * 4500 - 1) * 2352;
  form.AddFiles({});
  EXPECT_EQ(form.TimePanel->palette().color(QPalette::Window), window);
}

TEST_F(WindowTest, SettingsDialogStores38ForAnEmptyFieldAndWsetDatIsWritten) {
  {
    TMainWriteForm form(*session_);
    EXPECT_EQ(form.Settings().SectorsPerWrite, 15);
    TWriteSettingForm settings(form.Settings(), dialogs_, &form);
    settings.BlockCountBox->clear();
    settings.ApplyButtonClick();
    EXPECT_EQ(form.Settings().SectorsPerWrite, 38);
  }
  auto bytes = ReadFileBytes(home_ + "setting/wset.dat");
  ASSERT_TRUE(bytes);
  ASSERT_EQ(bytes->size(), 280u);
  EXPECT_EQ((*bytes)[4], 38);
}

// "Проверять диск после записи" on the write page shows [Write] Verify of
// sonarvex.ini and stores it on "Ok", not on "Отмена".
TEST_F(WindowTest, TheWriteSettingsShowAndStoreVerifyAfterWriting) {
  TMainWriteForm form(*session_);
  ASSERT_TRUE(session_->Options().WriteVerify);
  // Opened from the window, as the user opens it.
  bool seen = false;
  auto answer = [&](bool verify, bool ok) {
    QTimer::singleShot(0, [&, verify, ok] {
      auto* dialog = qobject_cast<TWriteSettingForm*>(QApplication::activeModalWidget());
      ASSERT_NE(dialog, nullptr);
      EXPECT_TRUE(dialog->VerifyBox->isVisible());
      EXPECT_EQ(dialog->VerifyBox->text().toStdString(), "Проверять диск после записи");
      seen = dialog->VerifyBox->isChecked();
      if (const char* shots = std::getenv("SONARVEX_SHOTS"))
        dialog->grab().save(QString::fromStdString(std::string(shots) + "/write-settings.png"));
      dialog->VerifyBox->setChecked(verify);
      if (ok)
        dialog->ApplyButtonClick();
      else
        dialog->reject();
    });
    form.SettingButtonClick();
  };
  answer(false, false);
  EXPECT_TRUE(seen);
  EXPECT_TRUE(session_->Options().WriteVerify) << "Отмена keeps the option";
  answer(false, true);
  EXPECT_TRUE(seen);
  EXPECT_FALSE(session_->Options().WriteVerify);
  answer(true, false);
  EXPECT_FALSE(seen) << "the box shows the stored value";
  EXPECT_FALSE(session_->Options().WriteVerify);
  answer(true, true);
  EXPECT_TRUE(session_->Options().WriteVerify);
  ExpectClean();
}

// After-recording deletion of the sources: only after a real disc was
// written whole, and only then the question.
class WindowSourcesTest : public WindowTest {
 protected:
  std::vector<std::string> Sources(TMainWriteForm& form, int sectors) {
    std::vector<std::string> files = {
        test::WriteCdWav(dir_.File("a.wav"), test::PatternAudio(1, static_cast<std::size_t>(sectors) * 2352)),
        test::WriteCdWav(dir_.File("b.wav"), test::PatternAudio(2, static_cast<std::size_t>(sectors) * 2352))};
    form.AddFiles(files);
    form.Settings().AskBeforeDiscOps = 0;
    form.Settings().DeleteWavAfterBurn = 1;
    return files;
  }
};

TEST_F(WindowSourcesTest, ATestWriteDeletesNothingAndAsksNothing) {
  for (int ask : {0, 1}) {
    SCOPED_TRACE(ask);
    TMainWriteForm form(*session_);
    const auto files = Sources(form, 40);
    form.Settings().AskBeforeDelete = static_cast<std::uint8_t>(ask);
    form.Record(true);
    test::WaitForTheThread(form);
    EXPECT_TRUE(FileExists(files[0]));
    EXPECT_TRUE(FileExists(files[1]));
    EXPECT_EQ(form.ListView->topLevelItemCount(), 2);
    EXPECT_TRUE(form.StartWriteButton->isEnabled());  // still blank
    std::string why;
    EXPECT_TRUE(dialogs_.Clean(&why)) << why;
  }
}

TEST_F(WindowSourcesTest, ACancelledWriteDeletesNothingAndLeavesTheDiscOpen) {
  TMainWriteForm form(*session_);
  const auto files = Sources(form, 3000);  // a second at the drive's speed
  form.Settings().AskBeforeDelete = 0;
  form.Record(false);
  // Once the drive writes, the user confirms "Отмена???".
  for (int i = 0; i < 1000 && !FileExists(BinPathForCue(cue_) + ".part"); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_TRUE(FileExists(BinPathForCue(cue_) + ".part"));
  form.CancelFlag() = true;
  test::WaitForTheThread(form);
  EXPECT_TRUE(FileExists(files[0]));
  EXPECT_TRUE(FileExists(files[1]));
  ASSERT_EQ(form.ListView->topLevelItemCount(), 2);
  EXPECT_NE(form.ListView->topLevelItem(1)->data(0, Qt::UserRole).toInt(), 1);
  EXPECT_FALSE(FileExists(cue_));
  EXPECT_FALSE(form.StartWriteButton->isEnabled());  // an open disc is not blank
  std::string why;
  EXPECT_TRUE(dialogs_.Clean(&why)) << why;
}

class ClosingDuringAWriteTest : public WindowSourcesTest {
 protected:
  // Closes the window once the drive writes, answering the question.
  void CloseDuringTheWrite(TMainWriteForm& form, int answer) {
    form.Settings().AskBeforeDelete = 0;
    form.Settings().DeleteWavAfterBurn = 0;
    form.show();
    form.Record(false);
    for (int i = 0; i < 1000 && !FileExists(BinPathForCue(cue_) + ".part"); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_TRUE(FileExists(BinPathForCue(cue_) + ".part"));
    dialogs_.ExpectMessage("Отмена???", "Sonarvex v3.2", MsgIcon::Question, MsgButtons::YesNo, answer);
    form.close();
    std::string why;
    EXPECT_TRUE(dialogs_.Clean(&why)) << why;
    EXPECT_TRUE(form.isVisible());
    EXPECT_TRUE(form.Busy());
  }
};

// Closing the window during a write asks as the progress window's Cancel
// does; no lets the write go on to a complete disc, the window stays and
// closes afterwards without a question.
TEST_F(ClosingDuringAWriteTest, AnsweredNoTheWriteCompletes) {
  TMainWriteForm form(*session_);
  const auto files = Sources(form, 3000);  // a second at the drive's speed
  CloseDuringTheWrite(form, IdNo);
  test::WaitForTheThread(form);
  for (int i = 0; i < 20; ++i) QApplication::processEvents();
  EXPECT_TRUE(form.isVisible());
  EXPECT_TRUE(FileExists(cue_));
  ASSERT_EQ(form.ListView->topLevelItemCount(), 2);
  EXPECT_EQ(form.ListView->topLevelItem(1)->data(0, Qt::UserRole).toInt(), 1);
  EXPECT_TRUE(FileExists(files[0]));
  EXPECT_TRUE(FileExists(files[1]));
  form.close();
  EXPECT_FALSE(form.isVisible());
  std::string why;
  EXPECT_TRUE(dialogs_.Clean(&why)) << why;
}

// Yes stops the write as a cancelled one (sources kept, no disc image) and
// the window closes once it has stopped; closing again meanwhile asks nothing.
TEST_F(ClosingDuringAWriteTest, AnsweredYesTheWriteStopsAndTheWindowCloses) {
  TMainWriteForm form(*session_);
  const auto files = Sources(form, 3000);
  CloseDuringTheWrite(form, IdYes);
  form.close();
  test::WaitForTheThread(form);
  for (int i = 0; i < 20 && form.isVisible(); ++i) QApplication::processEvents();
  EXPECT_FALSE(form.isVisible());
  EXPECT_FALSE(FileExists(cue_));
  ASSERT_EQ(form.ListView->topLevelItemCount(), 2);
  EXPECT_NE(form.ListView->topLevelItem(1)->data(0, Qt::UserRole).toInt(), 1);
  EXPECT_TRUE(FileExists(files[0]));
  EXPECT_TRUE(FileExists(files[1]));
  std::string why;
  EXPECT_TRUE(dialogs_.Clean(&why)) << why;
}

TEST_F(WindowSourcesTest, AWriteWithAnErrorDeletesNothingAndSaysWhatFailed) {
  Declare("fail-write=50 ");
  TMainWriteForm form(*session_);
  const auto files = Sources(form, 40);
  form.Settings().AskBeforeDelete = 1;
  form.Settings().SectorsPerWrite = 20;
  dialogs_.ExpectMessage("Запись диска не завершена: трек 2, файл '" + files[1] +
                             "': привод не записал секторы 40–59: ошибка записи. Сессия диска не закрыта.",
                         "Sonarvex v3.2", MsgIcon::Warning, MsgButtons::Ok);
  form.Record(false);
  test::WaitForTheThread(form);
  std::string why;
  EXPECT_TRUE(dialogs_.Clean(&why)) << why;  // and no question about the sources
  EXPECT_TRUE(FileExists(files[0]));
  EXPECT_TRUE(FileExists(files[1]));
  ASSERT_EQ(form.ListView->topLevelItemCount(), 2);
  EXPECT_EQ(form.ListView->topLevelItem(0)->data(0, Qt::UserRole).toInt(), 1);
  EXPECT_NE(form.ListView->topLevelItem(1)->data(0, Qt::UserRole).toInt(), 1);
  EXPECT_FALSE(FileExists(cue_));
}

TEST_F(WindowSourcesTest, AWholeWriteAsksAndDeletes) {
  TMainWriteForm form(*session_);
  const auto files = Sources(form, 40);
  form.Settings().AskBeforeDelete = 1;
  dialogs_.ExpectMessage("Удалить исходные WAV файлы?", "Sonarvex v3.2", MsgIcon::Question, MsgButtons::YesNo,
                         IdYes);
  form.Record(false);
  test::WaitForTheThread(form);
  std::string why;
  EXPECT_TRUE(dialogs_.Clean(&why)) << why;
  EXPECT_FALSE(FileExists(files[0]));
  EXPECT_FALSE(FileExists(files[1]));
  EXPECT_EQ(form.ListView->topLevelItemCount(), 0);
  EXPECT_TRUE(FileExists(cue_));
}

}  // namespace
}  // namespace sonarvex

namespace sonarvex {
namespace {

// Every menu command of the window, by its text.
std::map<QString, QAction*> MenuCommands(TMainWriteForm& form) {
  std::map<QString, QAction*> commands;
  auto* bar = form.findChild<QMenuBar*>();
  if (!bar) return commands;
  for (QAction* top : bar->actions())
    if (top->menu())
      for (QAction* a : top->menu()->actions())
        if (!a->isSeparator()) commands[a->text()] = a;
  return commands;
}

// At its opening size every toolbar button is on the screen (none is left
// in an overflow), and every toolbar command is in the menus too.
TEST_F(WindowTest, EveryCommandIsReachableAtTheOpeningSize) {
  TMainWriteForm form(*session_);
  form.resize(640, 420);
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  QApplication::processEvents();
  for (QToolButton* b : {form.StartWriteButton, form.TestWriteButton, form.EraseButton, form.CDInfoButton,
                         form.AddFileButton, form.AddFolderButton, form.DeleteButton, form.ConvertButton,
                         form.SettingButton, form.EjectButton, form.CloseButton}) {
    EXPECT_TRUE(b->isVisible()) << b->objectName().toStdString();
    const QRect r(b->mapTo(&form, QPoint(0, 0)), b->size());
    EXPECT_TRUE(form.rect().contains(r)) << b->objectName().toStdString();
  }
  const auto commands = MenuCommands(form);
  for (const char* text : {"Начать запись", "Тестовая запись", "Полная очистка  RW диска",
                           "Быстрая очистка RW диска", "Информация о приводе...", "Добавить файлы...",
                           "Добавить файлы из папки...", "Загрузить проект", "Сохранить проект",
                           "Отчистить список", "Конвертирование файлов WAVE, MP3, WMA", "Настройки...",
                           "Извлечь", "Выход", "Помощь...", "О программе..."})
    EXPECT_EQ(commands.count(QString::fromUtf8(text)), 1u) << text;
  form.close();
}

// Help shows the program's README in a window; the about box opens.
TEST_F(WindowTest, HelpAndAboutOpen) {
  WriteFileAtomically(home_ + "README.md", "# Sonarvex\n\nСправка программы.\n");
  TMainWriteForm form(*session_);
  form.show();
  const auto commands = MenuCommands(form);
  ASSERT_EQ(commands.count(QString::fromUtf8("Помощь...")), 1u);
  commands.at(QString::fromUtf8("Помощь..."))->trigger();
  QTextBrowser* help = nullptr;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->objectName() == "HelpWindow" && w->isVisible()) help = w->findChild<QTextBrowser*>();
  ASSERT_NE(help, nullptr);
  EXPECT_TRUE(help->toPlainText().contains(QString::fromUtf8("Справка программы.")));
  help->window()->close();
  dialogs_.ExpectMessage("Sonarvex v3.2\nАудио CD: копирование, сжатие, запись и воспроизведение.",
                         "О программе", MsgIcon::Information, MsgButtons::Ok);
  commands.at(QString::fromUtf8("О программе..."))->trigger();
  ExpectClean();
  form.close();
}

// A project that cannot be saved is said, with the file and the reason.
TEST_F(WindowTest, AFailedProjectSaveIsSaid) {
  TMainWriteForm form(*session_);
  form.AddFiles({test::WriteCdWav(dir_.File("a.wav"), test::PatternAudio(1, 10 * 2352))});
  const std::string path = dir_.File("missing/list.cgp");
  dialogs_.ExpectSaveFile(path);
  dialogs_.ExpectMessage("Не удалось сохранить проект '" + path + "': " + std::strerror(ENOENT),
                         "Sonarvex v3.2", MsgIcon::Warning, MsgButtons::Ok);
  form.SaveProjectClick();
  ExpectClean();
  EXPECT_FALSE(FileExists(path));
}

// Shows the window with a compilation for SONARVEX_SHOW_SECONDS seconds, so
// that a screenshot of the X server can be taken (run under xvfb-run).
TEST_F(WindowTest, ShownForAScreenshot) {
  const char* seconds = std::getenv("SONARVEX_SHOW_SECONDS");
  if (!seconds || QGuiApplication::platformName() == "offscreen")
    GTEST_SKIP() << "set SONARVEX_SHOW_SECONDS and run on a display to look at the window";
  TMainWriteForm form(*session_);
  form.AddFiles({test::WriteCdWav(dir_.File("Первый трек.wav"), test::ToneAudio(1, 900 * 2352)),
                 test::WriteCdWav(dir_.File("second.wav"), test::ToneAudio(2, 2000 * 2352))});
  form.List().Rows().push_back(CompilationRow{"/music/", "long.wav", 75u * 4500 * 2352, 2});
  form.AddFiles({});
  form.move(0, 0);
  form.show();
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(std::atoi(seconds));
  while (std::chrono::steady_clock::now() < end) {
    QApplication::processEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

}  // namespace
}  // namespace sonarvex

namespace sonarvex {
namespace {

// After the write the window reads the disc back: the result stays in the
// window below the list; a track that reads back different is also said in
// a warning, and the sources are then kept.
TEST_F(WindowSourcesTest, TheVerifyResultIsShownAndADifferenceKeepsTheSources) {
  {
    TMainWriteForm form(*session_);
    const auto files = Sources(form, 60);
    form.Settings().AskBeforeDelete = 0;
    form.Settings().DeleteWavAfterBurn = 0;
    EXPECT_TRUE(form.VerifyPanel->isHidden());
    form.Record(false);
    test::WaitForTheThread(form);
    EXPECT_FALSE(form.VerifyPanel->isHidden());
    EXPECT_EQ(form.VerifyPanel->text().toStdString(), "Проверка записи: все дорожки совпадают");
    ExpectClean();
  }
  // A CD-R that reads its sector 70 back wrong (track 2, 00:00.10).
  std::filesystem::remove(cue_);
  std::filesystem::remove(BinPathForCue(cue_));
  Declare("corrupt=70 ");
  TMainWriteForm form(*session_);
  const auto files = Sources(form, 60);
  form.Settings().AskBeforeDelete = 0;
  dialogs_.ExpectMessage("Дорожка 2 отличается от источника с позиции 00:00.10", "Sonarvex v3.2", MsgIcon::Warning,
                         MsgButtons::Ok);
  form.Record(false);
  test::WaitForTheThread(form);
  EXPECT_EQ(form.VerifyPanel->text().toStdString(), "Дорожка 2 отличается от источника с позиции 00:00.10");
  EXPECT_TRUE(FileExists(files[0]));
  EXPECT_TRUE(FileExists(files[1]));
  ExpectClean();
}

}  // namespace
}  // namespace sonarvex

// The conversion command of the recording window when libkelpra.so is not
// there: the missing library is said once and no conversion window opens
// (before, it opened anyway and its start called the missing decoder). A
// conversion window made all the same runs nothing. Offscreen; a window that
// wrongly opens modally is closed by a timer, so a regression fails instead
// of waiting.
#include <QApplication>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "session/Session.h"
#include "conversion/ui/TConvertForm.h"
#include "platform/Files.h"
#include "platform/ScriptedDialogs.h"
#include "recording/ui/TMainWriteForm.h"
#include "tests/conversion/ConversionTestUtil.h"
#include "tests/session/TestSession.h"

namespace sonarvex {
namespace {

QApplication& App() {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  static int argc = 1;
  static char name[] = "conversion_recording_ui_tests";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

class ConvertFromRecordingWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    if (!test::ToolPresent("lame")) GTEST_SKIP() << "lame is not installed";
    // The program folder holds no libkelpra.so.
    home_ = test::MakeHome(dir_.Path());
    session_ = test::OpenSession(home_, dialogs_);
    ASSERT_FALSE(FileExists(session_->LibraryFolder() + "libkelpra.so"));
    test::MakeMp3(dir_.File("a.mp3"), 0.5, "-b 128");
  }
  test::TempDir dir_;
  std::string home_;
  ScriptedDialogs dialogs_;
  std::unique_ptr<Session> session_;
};

TEST_F(ConvertFromRecordingWindowTest, WithoutTheDecoderNoConversionWindowOpens) {
  TMainWriteForm form(*session_);
  form.show();
  dialogs_.ExpectMessage("Нет необходимой библиотеки libkelpra.so", "Sonarvex v3.2", MsgIcon::Warning,
                         MsgButtons::Ok);
  // Should a conversion window open, it gets an MP3 file and its start is
  // pressed (what crashed), then it is closed.
  int opened = 0;
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    auto* convert = qobject_cast<TConvertForm*>(QApplication::activeModalWidget());
    if (convert == nullptr) return;
    ++opened;
    convert->AddFiles({QString::fromStdString(dir_.File("a.mp3"))});
    convert->StartButtonClick();
    convert->close();
  });
  watch.start(100);
  QTest::mouseClick(form.ConvertButton, Qt::LeftButton);
  watch.stop();
  EXPECT_EQ(opened, 0);
  std::string why;
  EXPECT_TRUE(dialogs_.Clean(&why)) << why;
  EXPECT_TRUE(form.isVisible()) << "the recording window stays as it was";
  EXPECT_FALSE(FileExists(dir_.File("a.wav")));
}

TEST_F(ConvertFromRecordingWindowTest, AWindowMadeWithoutTheDecoderRunsNothing) {
  dialogs_.ExpectMessage("Нет необходимой библиотеки libkelpra.so", "Sonarvex v3.2", MsgIcon::Warning,
                         MsgButtons::Ok);
  TConvertForm convert(*session_);
  ASSERT_FALSE(convert.Created());
  convert.AddFiles({QString::fromStdString(dir_.File("a.mp3"))});
  convert.StartButtonClick();
  // The engine itself refuses MP3 rows without the decoder.
  convert.Engine().saveToSourceFolder = true;
  convert.Engine().Run();
  ASSERT_EQ(convert.Engine().Rows().size(), 1u);
  EXPECT_EQ(convert.Engine().Rows()[0].state, "ошибка декодирования");
  EXPECT_FALSE(FileExists(dir_.File("a.wav")));
  std::string why;
  EXPECT_TRUE(dialogs_.Clean(&why)) << why;
}

}  // namespace
}  // namespace sonarvex

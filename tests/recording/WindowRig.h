// The recording window's test rig: the process's one QApplication, a home
// folder whose software recorder writes disc.cue, a Session on it, and what
// the window's list shows.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QTreeWidget>
#include <cerrno>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/ScriptedDialogs.h"
#include "recording/ui/TMainWriteForm.h"
#include "tests/recording/RecordingRig.h"
#include "tests/session/TestSession.h"

namespace sonarvex::test {

// The one application of the test process, named after the test binary.
inline QApplication& WindowApp() {
  static int argc = 1;
  static char* argv[] = {program_invocation_short_name, nullptr};
  static QApplication app(argc, argv);
  return app;
}

// A column of the window's list, row by row: 0 the captions, 1 the file names.
inline std::vector<std::string> ListColumn(TMainWriteForm& form, int column) {
  std::vector<std::string> texts;
  for (int i = 0; i < form.ListView->topLevelItemCount(); ++i)
    texts.push_back(form.ListView->topLevelItem(i)->text(column).toStdString());
  return texts;
}
// Runs the window's events until its write thread has ended (30 s at most).
inline void WaitForTheThread(TMainWriteForm& form) {
  for (int i = 0; i < 3000 && form.Busy(); ++i) {
    QApplication::processEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  QApplication::processEvents();
  ASSERT_FALSE(form.Busy());
}
inline std::vector<std::string> Names(TMainWriteForm& form) { return ListColumn(form, 1); }
inline std::vector<std::string> Captions(TMainWriteForm& form) { return ListColumn(form, 0); }

// A home folder with a software recorder writing disc.cue and a Session on it;
// Dialogs answers the window's questions.
template <class Dialogs = ScriptedDialogs>
class WindowRig : public testing::Test {
 protected:
  void SetUp() override {
    WindowApp();
    home_ = MakeHome(dir_.Path());
    cue_ = dir_.File("disc.cue");
    Declare("");
  }
  // (Re)starts the session with the recorder declared with these options.
  void Declare(const std::string& options) {
    session_.reset();
    DeclareRecorder(home_, cue_, options);
    session_ = OpenSession(home_, dialogs_);
  }
  void ExpectClean() {
    std::string why;
    EXPECT_TRUE(dialogs_.Clean(&why)) << why;
  }

  TempDir dir_;
  std::string home_, cue_;
  Dialogs dialogs_;
  std::unique_ptr<Session> session_;
};

}  // namespace sonarvex::test

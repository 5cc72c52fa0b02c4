// The recording thread: blanks a rewritable disc (minimal or full) or writes
// the compilation (after the peak pass when normalizing), then does the
// after-recording actions. The window (or the command line) is its host: it
// gets the phase texts, the status line, the progress, the rows written and
// the end, each on the recording thread; a window hands them on to its own
// thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "records/RecordingSettings.h"

namespace sonarvex {

class Dialogs;
class Recorder;

inline constexpr const char* kPeakPhase = "Расчет пиковых значений ...";
inline constexpr const char* kTestWritePhase = "Тестовая запись ...";
inline constexpr const char* kWritePhase = "Запись диска ...";
inline constexpr const char* kOpcStatus = "Запись OPC ...";
inline constexpr const char* kLeadOutStatus = "Запись Lead-Out ...";
inline constexpr const char* kVerifyPhase = "Проверка записи ...";
inline constexpr const char* kVerifyCancelledText = "Проверка записи прервана";
inline constexpr const char* kDeleteSourcesQuestion = "Удалить исходные WAV файлы?";

class WriteThreadHost {
 public:
  virtual ~WriteThreadHost() = default;
  // The progress window's caption.
  virtual void SetPhase(const std::string& text) = 0;
  // Hides or shows the error count and its label.
  virtual void ShowErrorCount(bool visible) = 0;
  // Replaces the status line; returns the text it had.
  virtual std::string SetStatus(const std::string& text) = 0;
  virtual void Progress(std::int32_t current, std::int32_t trackStart, int errors, std::int32_t trackEnd) = 0;
  // Row `row` was written (its image becomes 1).
  virtual void TrackDone(int row) = 0;
  // The drive work is over: enable the window, close the progress window.
  virtual void WriteFinished() = 0;
  // Plays the sound file of the settings (the host falls back to the
  // desktop's player itself).
  virtual void PlaySound(const std::string& path) = 0;
  // The source files were deleted: clear the list.
  virtual void SourcesDeleted() = 0;
  // The blanking window may close now.
  virtual void CloseBlankWindow() = 0;
  // The completion routine (refresh the disc state); not called after a
  // failed peak pass, which sends nothing to the drive.
  virtual void Completed() = 0;
  // The verify step's result (Recorder::VerifyText), said at the end of the
  // recording; same: every track read back as it was sent.
  virtual void Verified(const std::string& /*text*/, bool /*same*/) {}
  // Last of all, on every path.
  virtual void Ended() {}
};

class TWriteThread {
 public:
  enum Mode { kBlankMinimal = 1, kBlankFull = 2, kWrite = 3 };
  // How a write ended: every track written and the session closed; stopped
  // by the cancel flag; stopped by a failure (named to the user once); the
  // peak pass failed (nothing was sent to the drive). A write that did not
  // end Done leaves the session open, deletes no source and does not eject.
  enum class Outcome { None, Done, Cancelled, Failed, PeakPassFailed };
  // The verify step after a write that ended Done: not run (off, a test
  // write, or the write did not end Done), every track the same, a track
  // differs or cannot be read, stopped by the cancel flag.
  enum class Verify { NotRun, Same, Differs, Cancelled };

  TWriteThread(Recorder& recorder, WriteThreadHost& host, Dialogs& dialogs, const std::atomic<bool>& cancel);
  ~TWriteThread();  // waits for the thread

  // Set before Start.
  int mode = kWrite;
  bool testWrite = false;
  RecordingSettings settings{};
  // The compilation: full paths and the names the list shows.
  std::vector<std::string> files, names;
  // Read every track back after the write and compare it with what was sent
  // (not after a test write), with the drive's read offset in samples.
  bool verify = false;
  int readOffset = 0;

  // Runs Execute on a thread of its own (with the settings' priority).
  void Start();
  void Wait();
  bool Running() const { return running_; }
  // After a write (Execute or Wait).
  Outcome Result() const { return outcome_; }
  Verify VerifyResult() const { return verify_; }
  const std::string& VerifyText() const { return verifyText_; }
  // The work itself, on the calling thread.
  void Execute();

  // The peak pass: gains of every file, normalize switched off when every
  // file has the same level and the settings say so. False when a file
  // could not be opened (after its message) or the user cancelled.
  bool PeakPass();

  // Scheduling priority of the calling thread: 0 normal, 1 idle, 2 highest
  // allowed (failures are ignored).
  static void ApplyPriority(int priority);

 private:
  Recorder& recorder_;
  WriteThreadHost& host_;
  Dialogs& dialogs_;
  const std::atomic<bool>& cancel_;
  std::thread thread_;
  std::atomic<bool> running_{false};
  std::atomic<Outcome> outcome_{Outcome::None};
  std::atomic<Verify> verify_{Verify::NotRun};
  std::string verifyText_;
};

}  // namespace sonarvex

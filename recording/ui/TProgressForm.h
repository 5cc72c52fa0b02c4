// The progress window of a recording: status line, two bars (track and
// disc), the error count, and "Отмена", which asks before it cancels.
#pragma once

#include <QDialog>
#include <atomic>
#include <cstdint>

class QLabel;
class QProgressBar;
class QPushButton;

namespace sonarvex {

class Dialogs;

class TProgressForm : public QDialog {
  Q_OBJECT
 public:
  TProgressForm(Dialogs& dialogs, std::atomic<bool>& cancel, QWidget* parent = nullptr);

  // 0 busy (closing asks "Отмена???"), 3 may close.
  int tag = 0;
  std::int32_t overallLength = 0;

  // The progress routine of the recording layer.
  void Progress(std::int32_t current, std::int32_t trackStart, int errors, std::int32_t trackEnd);
  void ShowErrorCount(bool visible);
  void Reset();
  // While busy asks "Отмена???" (unless already cancelled) and on yes sets
  // the cancel flag; true while the form may not close.
  bool RefuseClose();

  QLabel* Label1;
  QLabel* Label2;
  QLabel* Label3;
  QLabel* ErrorCountLabel;
  QProgressBar* PBar1;
  QProgressBar* PBar2;
  QPushButton* SpeedButton1;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void reject() override;

 private:
  Dialogs& dialogs_;
  std::atomic<bool>& cancel_;
  int lastErrors_ = 0;
};

}  // namespace sonarvex

// The recording window: the compilation list with its totals, adding files
// and folders, project files, the drive selector and the disc state, the
// checks and questions before a recording, blanking, the drive report, the
// progress window while the recording thread runs, and listening to the
// compilation's files with the media file player.
#pragma once

#include <QDialog>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "records/RecordingSettings.h"
#include "recording/Compilation.h"
#include "recording/Recorder.h"

class QComboBox;
class QLabel;
class QSlider;
class QMenu;
class QAction;
class QTimer;
class QToolButton;
class QTreeWidget;

namespace sonarvex {

class MediaPlayer;
class PositionBar;
class Session;
class TProgressForm;
class TWriteThread;
class GuiWriteHost;

class TMainWriteForm : public QDialog {
  Q_OBJECT
 public:
  // player: the media file player for listening; null takes the Session's.
  TMainWriteForm(Session& session, QWidget* parent = nullptr, MediaPlayer* player = nullptr);
  ~TMainWriteForm() override;

  // True when the recording layer found a drive that can write CD-R.
  bool HasWriter() const;

  // Commands.
  // WAV files, and cue sheets (.cue) with their files; dropped files come here too.
  void AddFiles(const std::vector<std::string>& paths);
  void AddFileButtonClick();
  void AddFolderButtonClick();
  void LoadProjectClick();
  void SaveProjectClick();
  void DeleteButtonClick();
  void Record(bool testWrite);
  void Blank(bool full, bool fromMenu);
  void EjectButtonClick();
  void SettingButtonClick();
  void CDInfoButtonClick();
  void ConvertButtonClick();
  // Shows the program's help (its README) in a window.
  void HelpClick();
  void RefreshDiscState();
  void SelectDrive(int entry);
  bool Busy() const { return busy_; }

  // Listening. Plays a row (stopping what plays); a file the player cannot
  // open goes to the desktop's own program.
  void PlayRow(int row);
  void PlayButtonClick();       // the selected row
  void StepButtonClick(int step);  // NextButton +1, PrevButton -1
  void StopButtonClick();
  void VolumeChanged();
  void PositionReleased(double position);
  // Timer1's work: the disc change, following what plays, the next row at
  // the end of a file.
  void TimerTick();
  // The sound after a recording.
  void PlaySoundFile(const std::string& path);
  // Moves a row onto another (dragging in the list).
  void MoveRow(int from, int to);
  bool Playing() const { return playing_; }
  int CurrentIndex() const { return currentIndex_; }
  int MediaLength() const { return mediaLength_; }

  Compilation& List() { return compilation_; }
  Recorder& Layer() { return recorder_; }
  RecordingSettings& Settings() { return settings_; }
  std::atomic<bool>& CancelFlag() { return cancel_; }

  QTreeWidget* ListView;
  QLabel* SizePanel;
  QLabel* TimePanel;
  QLabel* FilePanel;
  // The last recording's verify result (hidden until there is one).
  QLabel* VerifyPanel;
  QComboBox* CDROMBox;
  QToolButton* StartWriteButton;
  QToolButton* TestWriteButton;
  QToolButton* EraseButton;
  QToolButton* CDInfoButton;
  QToolButton* AddFileButton;
  QToolButton* AddFolderButton;
  QToolButton* DeleteButton;
  QToolButton* ConvertButton;
  QToolButton* SettingButton;
  QToolButton* EjectButton;
  QToolButton* CloseButton;
  QToolButton* PlayButton;
  QToolButton* StopButton;
  QToolButton* PrevButton;
  QToolButton* NextButton;
  QSlider* VolumeBar;    // 0..255
  PositionBar* PaintBox1;  // "Позиция"
  QAction* QuickEraseItem;  // "Быстрая очистка RW диска"
  QAction* FullEraseItem;   // "Полная очистка  RW диска"
  QAction* QuickErasePopup;
  QAction* FullErasePopup;
  QAction* StartWriteItem;
  QAction* TestWriteItem;
  QTimer* Timer1;
  TProgressForm* ProgressForm;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  // The read offset stored for the recording drive (its name as the
  // session's drive list gives it), for the verify step.
  int RecorderReadOffset();
  friend class GuiWriteHost;
  void BuildUi();
  void FillList();
  void UpdateTotals();
  void FillDriveBox();
  void StartThread(int mode, bool testWrite);
  void ThreadEnded();
  MediaPlayer& Player();
  // Applies the volume bar and starts a file just opened.
  void StartOpened(int index);

  Session& session_;
  Dialogs& dialogs_;
  Recorder recorder_;
  RecordingSettings settings_;
  Compilation compilation_;
  std::vector<int> driveDevices_;
  std::atomic<bool> cancel_{false};
  bool busy_ = false;
  bool closeAfterRun_ = false;  // closed during a write and told to stop it
  bool discBlank_ = false, discErasable_ = false;
  int ejectToggle_ = 0;
  std::unique_ptr<GuiWriteHost> host_;
  std::unique_ptr<TWriteThread> thread_;
  QDialog* blankWindow_ = nullptr;
  MediaPlayer* player_;
  bool playing_ = false;
  int currentIndex_ = -1;
  int mediaLength_ = 1000;  // hundredths of a second
};

}  // namespace sonarvex

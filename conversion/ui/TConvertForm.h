// "Конвертирование файлов": the window in which the user collects audio
// files and converts them in one batch. The window shows the rows of
// ConvertEngine and forwards its commands there; the batch runs on the
// window's thread, which the engine keeps alive through the window's events.
#pragma once

#include <QDialog>
#include <functional>
#include <memory>
#include <string>

#include "conversion/ConvertEngine.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace sonarvex {

class Dialogs;
class EncoderSet;
class MediaPlayer;
class Session;

struct ConvertFormContext {
  SettingsRecord* settings = nullptr;
  RecordTexts* settingsTexts = nullptr;  // the settings' full texts
  EncoderSet* encoders = nullptr;
  Dialogs* dialogs = nullptr;
  std::string programFolder;  // ends in '/': libkelpra.so lies there
  std::string tempFolder;     // ends in '/'
  // The process's media file player; the window makes one when null.
  MediaPlayer* player = nullptr;
  // Opens the settings dialog on its audio page and MP3 sheet (the main
  // window supplies it); the MP3 settings button is disabled without it.
  std::function<void(QWidget* parent)> openMp3Settings;
  bool wmaDecoderAvailable = true;
  // The output formats' options kept beside the settings (Opus's bitrate).
  FormatOptions formatOptions;
};

// The window's context on the program's Session (programFolder + "TempFile/").
ConvertFormContext ConvertFormContextFor(Session& session);

class TConvertForm : public QDialog, private ConvertHost {
  Q_OBJECT
 public:
  TConvertForm(const ConvertFormContext& context, QWidget* parent = nullptr);
  TConvertForm(Session& session, QWidget* parent = nullptr);
  ~TConvertForm() override;

  // False when creation aborted (libkelpra.so or its export missing, with
  // the message shown): the opener must not show the window.
  bool Created() const { return created_; }
  ConvertEngine& Engine() { return *engine_; }

  QTreeWidget* ListView() const { return listView_; }
  QComboBox* DirectionBox() const { return directionBox_; }
  QComboBox* FormatBox() const { return formatBox_; }
  QLineEdit* DirEdit() const { return dirEdit_; }
  QCheckBox* SaveDirBox() const { return saveDirBox_; }
  QCheckBox* DelAfterEncodingBox() const { return delAfterEncodingBox_; }
  QPushButton* StartButton() const { return startButton_; }
  QPushButton* CancelButton() const { return cancelButton_; }
  QToolButton* TagSpeedButton() const { return tagSpeedButton_; }
  QMenu* Menu1() const { return menu1_; }

  // Files given to the window (dropped, or chosen by the caller).
  void AddFiles(const QStringList& paths);
  // The TID3Form of TagSpeedButtonClick while it is open (tests).
  QDialog* OpenTagDialog() const { return tagDialog_; }

 public slots:
  void AddFileButtonClick();
  void AddFolderButtonClick();
  void StartButtonClick();
  void CancelButtonClick();
  void TagSpeedButtonClick();
  void PlayButtonClick();
  void StopButtonClick();
  void MP3SettingButtonClick();
  void SpeedButton3Click();
  void SelALLButtonClick();
  void SelNONEButtonClick();
  void DelButtonClick();
  void DirectionBoxChange(int index);
  void reject() override;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  // ConvertHost
  void RowsReset() override;
  void RowChanged(int row) override;
  void RowAdded(int row) override;
  void CurrentRow(int row) override;
  void CaptionChanged(const std::string& caption) override;
  bool Pump() override;
  void Pause(int milliseconds) override;

  void Build();
  void UpdateDirectionControls();
  void FillItem(QTreeWidgetItem* item, const ConvertRow& row);
  void TakeChoices();
  int SelectedRow() const;
  MediaPlayer& Player();

  ConvertFormContext context_;
  std::unique_ptr<ConvertEngine> engine_;
  std::unique_ptr<MediaPlayer> ownPlayer_;
  bool created_ = false;
  bool updating_ = false;
  bool closing_ = false;
  bool closeAfterRun_ = false;  // closed during a batch and told to stop it
  QDialog* tagDialog_ = nullptr;

  QTreeWidget* listView_;
  QComboBox* directionBox_;
  QComboBox* formatBox_;
  QLabel* formatLabel_;
  QLineEdit* dirEdit_;
  QCheckBox* saveDirBox_;
  QCheckBox* delAfterEncodingBox_;
  QToolButton* addFileButton_;
  QToolButton* addFolderButton_;
  QToolButton* playButton_;
  QToolButton* stopButton_;
  QToolButton* selAllButton_;
  QToolButton* selNoneButton_;
  QToolButton* delButton_;
  QToolButton* tagSpeedButton_;
  QToolButton* mp3SettingButton_;
  QToolButton* speedButton3_;
  QPushButton* startButton_;
  QPushButton* cancelButton_;
  QPushButton* closeButton_;
  QMenu* menu1_;
};

}  // namespace sonarvex

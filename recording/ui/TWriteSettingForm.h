// "Настройка записи": the recording settings on three pages.
#pragma once

#include <QDialog>

#include "records/RecordingSettings.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QTabWidget;

namespace sonarvex {

class Dialogs;
class ProgramFacts;

class TWriteSettingForm : public QDialog {
  Q_OBJECT
 public:
  // program: the options of setting/sonarvex.ini the dialog also edits
  // (verifying after writing); without it that box is not shown.
  TWriteSettingForm(RecordingSettings& settings, Dialogs& dialogs, QWidget* parent = nullptr,
                    ProgramFacts* program = nullptr);

  void ApplyButtonClick();  // "Ok": store and close
  void BrowseClick();

  QTabWidget* Pages;
  QComboBox* SpeedBox;
  QComboBox* PriorityBox;
  QLineEdit* BlockCountBox;
  QCheckBox* AskBox;
  QCheckBox* VerifyBox;  // [Write] Verify
  QCheckBox* NormalizeBox;
  QLineEdit* MinEdit;
  QLineEdit* MaxEdit;
  QLineEdit* SetMinEdit;
  QLineEdit* SetMaxEdit;
  QCheckBox* DisableNormalize;
  QCheckBox* AddComFiles;
  QCheckBox* PlaySoundBox;
  QLineEdit* FileNameEdit;
  QCheckBox* EjectAfterBurn;
  QCheckBox* DelWAVAfterBurn;
  QCheckBox* AskBeforeDel;

 private:
  RecordingSettings& settings_;
  Dialogs& dialogs_;
  ProgramFacts* program_ = nullptr;
  bool verifyAtOpen_ = true;
};

// A number of the dialog's edits; `fallback` for text that is not one.
int ParseSettingNumber(const std::string& text, int fallback, int max);

}  // namespace sonarvex

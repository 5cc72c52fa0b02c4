// "Определение команды чтения AudioCD": tries the nine audio read command
// forms with 1, 26 and the chosen number of sectors on the inserted disc and
// lets the user take a working combination into the settings dialog.
#pragma once

#include <QDialog>
#include <functional>
#include <optional>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;

namespace sonarvex {

class Dialogs;
class Transport;

struct ReadCommandFormContext {
  // The main window's disc-present flag; its status timer keeps polling the
  // drive while the question is shown.
  std::function<bool()> discPresent;
  // The settings dialog's choices at this moment.
  bool useSpti = true;
  int device = 0;  // the device number of the drive chosen in the settings dialog
  QLineEdit* numSecReadEdit = nullptr;  // NumSecReadEdit
  QComboBox* driveTypeBox = nullptr;    // DriveTypeBox
  std::function<void()> driveTypeChanged;  // the list's change handler
  std::optional<QColor> windowColour;      // copied from the settings dialog
};

class TReadCommandForm : public QDialog {
  Q_OBJECT
 public:
  TReadCommandForm(QWidget* owner, Dialogs& dialogs, Transport& spti, Transport& aspi,
                   ReadCommandFormContext context);

  // Asks for a disc while there is none and runs the test. False when the
  // dialog must not be shown (the user said No, or the sectors-per-read field
  // holds no number).
  bool Prepare();
  // Prepare, then show modally. Returns QDialog::Accepted after "Да" with a
  // row chosen.
  int Run();

  void SpeedButton2Click();  // "Да"
  void SpeedButton1Click();  // "Отмена"

  QTreeWidget* ListView;
  QLabel* Label1;
  QPushButton* SpeedButton2;
  QPushButton* SpeedButton1;

 private:
  Dialogs& dialogs_;
  Transport& spti_;
  Transport& aspi_;
  ReadCommandFormContext context_;
};

}  // namespace sonarvex

#include "recording/ui/TProgressForm.h"

#include <QCloseEvent>
#include <algorithm>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/Dialogs.h"
#include "platform/ui/QtText.h"

namespace sonarvex {

TProgressForm::TProgressForm(Dialogs& dialogs, std::atomic<bool>& cancel, QWidget* parent)
    : QDialog(parent), dialogs_(dialogs), cancel_(cancel) {
  setObjectName("ProgressForm");
  setWindowTitle(Q(kProgramTitle));
  auto* layout = new QVBoxLayout(this);
  Label1 = new QLabel(this);
  Label1->setObjectName("Label1");
  PBar1 = new QProgressBar(this);
  PBar1->setObjectName("PBar1");
  Label2 = new QLabel(Q("Общий ход"), this);
  Label2->setObjectName("Label2");
  PBar2 = new QProgressBar(this);
  PBar2->setObjectName("PBar2");
  auto* errors = new QHBoxLayout;
  Label3 = new QLabel(Q("Ошибок записи: "), this);
  Label3->setObjectName("Label3");
  ErrorCountLabel = new QLabel("0", this);
  ErrorCountLabel->setObjectName("ErrorCountLabel");
  errors->addWidget(Label3);
  errors->addWidget(ErrorCountLabel);
  errors->addStretch();
  SpeedButton1 = new QPushButton(Q("Отмена"), this);
  SpeedButton1->setObjectName("SpeedButton1");
  errors->addWidget(SpeedButton1);
  for (auto* bar : {PBar1, PBar2}) bar->setRange(0, 100);
  layout->addWidget(Label1);
  layout->addWidget(PBar1);
  layout->addWidget(Label2);
  layout->addWidget(PBar2);
  layout->addLayout(errors);
  resize(420, 160);
  connect(SpeedButton1, &QPushButton::clicked, this, [this] { close(); });
}

void TProgressForm::Reset() {
  PBar1->setValue(0);
  PBar2->setValue(0);
  Label1->clear();
  ErrorCountLabel->setText("0");
  lastErrors_ = 0;
}

void TProgressForm::Progress(std::int32_t current, std::int32_t trackStart, int errors, std::int32_t trackEnd) {
  const std::int32_t trackDiv = (trackEnd - trackStart) / 100;
  if (trackDiv != 0) PBar1->setValue(std::clamp(100 - (trackEnd - current) / trackDiv, 0, 100));
  const std::int32_t diskDiv = overallLength / 100;
  if (diskDiv != 0) PBar2->setValue(std::clamp(current / diskDiv, 0, 100));
  if (errors != lastErrors_) {
    lastErrors_ = errors;
    ErrorCountLabel->setText(QString::number(errors));
  }
}

void TProgressForm::ShowErrorCount(bool visible) {
  Label3->setVisible(visible);
  ErrorCountLabel->setVisible(visible);
}

bool TProgressForm::RefuseClose() {
  if (tag == 3) return false;
  if (tag == 0 && !cancel_.load() &&
      dialogs_.Message("Отмена???", kProgramTitle, MsgIcon::Question, MsgButtons::YesNo) == IdYes)
    cancel_ = true;
  return true;
}

void TProgressForm::closeEvent(QCloseEvent* event) {
  if (RefuseClose()) event->ignore();
  else event->accept();
}

void TProgressForm::reject() {
  if (!RefuseClose()) QDialog::reject();
}

}  // namespace sonarvex

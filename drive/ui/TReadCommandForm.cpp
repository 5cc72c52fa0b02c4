#include "drive/ui/TReadCommandForm.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "drive/AudioReading.h"
#include "drive/CommandBlock.h"
#include "drive/Transport.h"
#include "platform/Dialogs.h"
#include "platform/ui/QtText.h"

namespace sonarvex {

TReadCommandForm::TReadCommandForm(QWidget* owner, Dialogs& dialogs, Transport& spti,
                                   Transport& aspi, ReadCommandFormContext context)
    : QDialog(owner), dialogs_(dialogs), spti_(spti), aspi_(aspi), context_(std::move(context)) {
  setObjectName("ReadCommandForm");
  setWindowTitle(Q("Определение команды чтения AudioCD"));
  setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
  Label1 = new QLabel(Q("Выбирете строчку, в которой Результат = успешно и нажмите Ok"), this);
  Label1->setObjectName("Label1");
  ListView = new QTreeWidget(this);
  ListView->setObjectName("ListView");
  ListView->setRootIsDecorated(false);
  ListView->setSelectionBehavior(QAbstractItemView::SelectRows);
  ListView->setSelectionMode(QAbstractItemView::SingleSelection);
  ListView->setEditTriggers(QAbstractItemView::NoEditTriggers);
  ListView->setHeaderLabels({Q("№"), Q("Тип команды"), Q("Кол-во секторов"), Q("Результат")});
  ListView->setColumnWidth(0, 50);
  ListView->setColumnWidth(1, 117);
  ListView->setColumnWidth(2, 100);
  ListView->setColumnWidth(3, 100);
  SpeedButton2 = new QPushButton(style()->standardIcon(QStyle::SP_DialogApplyButton), Q("Да"), this);
  SpeedButton2->setObjectName("SpeedButton2");
  SpeedButton1 = new QPushButton(style()->standardIcon(QStyle::SP_DialogCancelButton), Q("Отмена"), this);
  SpeedButton1->setObjectName("SpeedButton1");
  connect(SpeedButton2, &QPushButton::clicked, this, &TReadCommandForm::SpeedButton2Click);
  connect(SpeedButton1, &QPushButton::clicked, this, &TReadCommandForm::SpeedButton1Click);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(SpeedButton2);
  buttons->addWidget(SpeedButton1);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Label1);
  layout->addWidget(ListView, 1);
  layout->addLayout(buttons);
  resize(420, 480);
}

bool TReadCommandForm::Prepare() {
  while (context_.discPresent && !context_.discPresent()) {
    if (dialogs_.Message("Вставьте музыкальный диск и нажмите Ok.", "Sonarvex",
                         MsgIcon::Information, MsgButtons::YesNo) != IdYes)
      return false;
  }
  if (context_.windowColour) {
    QPalette p = palette();
    p.setColor(QPalette::Window, *context_.windowColour);
    setPalette(p);
    setAutoFillBackground(true);
  }
  const QString text = context_.numSecReadEdit ? context_.numSecReadEdit->text() : QString("26");
  bool ok = false;
  const int value = text.trimmed().toInt(&ok);
  if (!ok) {
    // The strict conversion fails before the dialog is shown, reported as the
    // framework reports an error that escapes a handler.
    dialogs_.Message("'" + S(text) + "' is not a valid integer value", "Sonarvex", MsgIcon::Error,
                     MsgButtons::Ok);
    return false;
  }
  Transport& t = context_.useSpti ? spti_ : aspi_;
  const QIcon okIcon = style()->standardIcon(QStyle::SP_DialogApplyButton);
  const QIcon noIcon = style()->standardIcon(QStyle::SP_DialogCancelButton);
  ListView->clear();
  RunReadCommandDetection(t, context_.device, static_cast<std::uint8_t>(value),
                          [&](const DetectionRow& row) {
                            auto* item = new QTreeWidgetItem(ListView);
                            item->setText(0, QString::number(row.number));
                            item->setText(1, Q(row.name));
                            item->setText(2, QString::number(row.sectors));
                            item->setText(3, Q(row.result));
                            item->setIcon(0, row.success ? okIcon : noIcon);
                            item->setData(0, Qt::UserRole, row.rowData);
                          });
  return true;
}

int TReadCommandForm::Run() {
  if (!Prepare()) return QDialog::Rejected;
  if (parentWidget()) move(parentWidget()->geometry().center() - rect().center());
  return exec();
}

void TReadCommandForm::SpeedButton2Click() {
  QTreeWidgetItem* item = ListView->currentItem();
  if (!item || !item->isSelected()) return;
  const int data = item->data(0, Qt::UserRole).toInt();
  if (context_.numSecReadEdit) context_.numSecReadEdit->setText(QString::number((data >> 8) & 0xFF));
  if (context_.driveTypeBox) {
    const QSignalBlocker block(context_.driveTypeBox);
    context_.driveTypeBox->setCurrentIndex(DriveTypeForReadCommand(data & 0xFF));
  }
  if (context_.driveTypeChanged) context_.driveTypeChanged();
  accept();
}

void TReadCommandForm::SpeedButton1Click() { reject(); }

}  // namespace sonarvex

#include "metadata/ui/TChoseForm.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QToolButton>
#include <QVBoxLayout>

namespace sonarvex {

TChoseForm::TChoseForm(QWidget* owner, const FormColors& colors)
    : QDialog(owner, Qt::Dialog | Qt::FramelessWindowHint) {
  setObjectName("ChoseForm");
  setModal(true);
  label_ = new QLabel(QString::fromUtf8("Выбирете верные данные"), this);
  label_->setObjectName("Label1");
  QFont bold = label_->font();
  bold.setBold(true);
  label_->setFont(bold);
  combo_ = new QComboBox(this);
  combo_->setObjectName("ComboBox1");
  combo_->setEditable(false);
  combo_->setMinimumWidth(320);
  combo_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  button_ = new QToolButton(this);
  button_->setObjectName("SpeedButton6");
  button_->setText(QString::fromUtf8("Да"));
  button_->setIcon(Glyph("OK"));
  button_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  button_->setAutoRaise(true);
  connect(button_, &QToolButton::clicked, this, &TChoseForm::SpeedButton6Click);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(10, 8, 10, 8);
  layout->addWidget(label_);
  auto* row = new QHBoxLayout;
  row->addWidget(combo_, 1);
  row->addWidget(button_);
  layout->addLayout(row);
  ApplyFormColors(this, colors);
}

void TChoseForm::SetLabelText(const QString& text) { label_->setText(text); }

void TChoseForm::SetEditable(bool editable) {
  combo_->setEditable(editable);
  if (editable) combo_->setInsertPolicy(QComboBox::NoInsert);
}

void TChoseForm::AddItem(const QString& text) { combo_->addItem(text); }

void TChoseForm::SetItems(const QStringList& items) {
  combo_->clear();
  combo_->addItems(items);
}

void TChoseForm::SetItemIndex(int index) { combo_->setCurrentIndex(index); }

void TChoseForm::SetText(const QString& text) {
  if (combo_->isEditable()) combo_->setEditText(text);
  else combo_->setCurrentIndex(combo_->findText(text));
}

int TChoseForm::ItemIndex() const {
  if (combo_->isEditable()) {
    // Typed text that is not one of the items selects nothing.
    return combo_->findText(combo_->currentText(), Qt::MatchExactly);
  }
  return combo_->currentIndex();
}

QString TChoseForm::Text() const { return combo_->currentText(); }

void TChoseForm::SpeedButton6Click() {
  cancelled_ = false;
  accept();
}

// Escape and the close box end here: they yield the selection, or cancel a
// cancellable form.
void TChoseForm::reject() {
  if (!cancellable_) {
    accept();
    return;
  }
  cancelled_ = true;
  QDialog::reject();
}

void TChoseForm::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    SpeedButton6Click();
    return;
  }
  QDialog::keyPressEvent(event);
}

void TChoseForm::paintEvent(QPaintEvent* event) {
  QDialog::paintEvent(event);
  QPainter painter(this);
  painter.setPen(palette().color(QPalette::WindowText));
  painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

void TChoseForm::showEvent(QShowEvent* event) {
  adjustSize();
  if (QWidget* owner = parentWidget()) {
    QRect area = owner->frameGeometry();
    move(area.center() - rect().center());
  }
  QDialog::showEvent(event);
}

}  // namespace sonarvex

// The small borderless chooser: a bold label, the list ComboBox1 and the flat
// button SpeedButton6 "Да". The caller fills the list, selects an item, shows
// the form modally and reads the selected index (or the text, when the list
// is editable) after it closes. Enter closes it too. Escape and the close
// box yield the selection as well, unless the form is made cancellable: then
// they close it rejected (Cancelled() is true).
#pragma once

#include <QDialog>
#include <QStringList>

#include "metadata/ui/UiHelpers.h"

class QComboBox;
class QLabel;
class QToolButton;

namespace sonarvex {

class TChoseForm : public QDialog {
  Q_OBJECT
 public:
  explicit TChoseForm(QWidget* owner, const FormColors& colors = {});

  // The label above the list ("Выбирете верные данные" unless changed).
  void SetLabelText(const QString& text);
  // An editable list also takes typed text (profiles: a new name).
  void SetEditable(bool editable);
  void AddItem(const QString& text);
  void SetItems(const QStringList& items);
  void SetItemIndex(int index);
  // Preset text of an editable list.
  void SetText(const QString& text);
  // Escape and the close box cancel instead of choosing.
  void SetCancellable(bool cancellable) { cancellable_ = cancellable; }
  bool Cancelled() const { return cancelled_; }

  int ItemIndex() const;
  QString Text() const;

  QComboBox* ComboBox1() const { return combo_; }
  QToolButton* SpeedButton6() const { return button_; }

 public slots:
  void SpeedButton6Click();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void reject() override;

 private:
  QLabel* label_;
  QComboBox* combo_;
  QToolButton* button_;
  bool cancellable_ = false;
  bool cancelled_ = false;
};

}  // namespace sonarvex

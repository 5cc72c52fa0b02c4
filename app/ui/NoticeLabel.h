// The notice at the end of the main window's status line: a line of its own
// width at most. A notice longer than the room the panels leave is shown
// shortened with "…", and whole in the label's tooltip.
#pragma once

#include <QLabel>

namespace sonarvex {

class NoticeLabel : public QLabel {
 public:
  explicit NoticeLabel(QWidget* parent = nullptr);

  // The whole notice (empty: none); `mode`: where a long one is shortened
  // (a folder keeps its end, a sentence its start).
  void SetNotice(const QString& text, Qt::TextElideMode mode = Qt::ElideRight);
  const QString& Notice() const { return notice_; }

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void Fit();

  QString notice_;
  Qt::TextElideMode mode_ = Qt::ElideRight;
};

}  // namespace sonarvex

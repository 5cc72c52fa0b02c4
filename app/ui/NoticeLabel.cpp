#include "app/ui/NoticeLabel.h"

#include <QResizeEvent>
#include <algorithm>

namespace sonarvex {

NoticeLabel::NoticeLabel(QWidget* parent) : QLabel(parent) {
  // The notice gives way to the panels beside it.
  setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  setWordWrap(false);
}

void NoticeLabel::SetNotice(const QString& text, Qt::TextElideMode mode) {
  notice_ = text;
  mode_ = mode;
  setToolTip(text);
  Fit();
}

void NoticeLabel::resizeEvent(QResizeEvent* event) {
  QLabel::resizeEvent(event);
  Fit();
}

void NoticeLabel::Fit() {
  const int room = contentsRect().width() - 2 * margin() - (indent() > 0 ? indent() : 0);
  const QString shown = fontMetrics().elidedText(notice_, mode_, std::max(0, room));
  if (shown != text()) setText(shown);
}

}  // namespace sonarvex

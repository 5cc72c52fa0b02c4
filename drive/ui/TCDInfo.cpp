#include "drive/ui/TCDInfo.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QTextCursor>
#include <QVBoxLayout>

#include "drive/CapabilityReport.h"
#include "platform/ui/QtText.h"

namespace sonarvex {

TCDInfo::TCDInfo(QWidget* owner, const std::vector<std::string>& lines,
                 std::optional<QColor> windowColour, std::optional<QColor> controlColour)
    : QDialog(owner) {
  setObjectName("CDInfo");
  setWindowTitle(Q("Информация о приводе"));
  setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
  InfoBox = new QPlainTextEdit(this);
  InfoBox->setObjectName("InfoBox");
  InfoBox->setReadOnly(true);
  InfoBox->setLineWrapMode(QPlainTextEdit::NoWrap);
  QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  font.setPixelSize(12);
  InfoBox->setFont(font);
  InfoBox->clear();
  for (const auto& line : lines) InfoBox->appendPlainText(Q(line));
  // The report is read from its first line on, also when a long line (a
  // drive that could not be opened) is wider than the memo.
  InfoBox->moveCursor(QTextCursor::Start);
  SpeedButton4 = new QPushButton("Copy", this);
  SpeedButton4->setObjectName("SpeedButton4");
  SpeedButton1 = new QPushButton(style()->standardIcon(QStyle::SP_DialogApplyButton), "Ok", this);
  SpeedButton1->setObjectName("SpeedButton1");
  QFont bold = SpeedButton1->font();
  bold.setBold(true);
  SpeedButton1->setFont(bold);
  SpeedButton1->setDefault(true);
  connect(SpeedButton4, &QPushButton::clicked, this, &TCDInfo::SpeedButton4Click);
  connect(SpeedButton1, &QPushButton::clicked, this, &TCDInfo::SpeedButton1Click);
  if (windowColour) {
    QPalette p = palette();
    p.setColor(QPalette::Window, *windowColour);
    setPalette(p);
    setAutoFillBackground(true);
  }
  if (controlColour) {
    QPalette p = InfoBox->palette();
    p.setColor(QPalette::Base, *controlColour);
    InfoBox->setPalette(p);
  }
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(SpeedButton4);
  buttons->addStretch();
  buttons->addWidget(SpeedButton1);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(InfoBox, 1);
  layout->addLayout(buttons);
  resize(400, 420);
}

int TCDInfo::ShowForDrive(QWidget* owner, Transport& transport,
                          std::optional<QColor> windowColour, std::optional<QColor> controlColour) {
  TCDInfo dialog(owner, CapabilityReportLines(QueryCapabilities(transport)), windowColour,
                 controlColour);
  if (owner) dialog.move(owner->geometry().center() - dialog.rect().center());
  return dialog.exec();
}

void TCDInfo::SpeedButton4Click() {
  InfoBox->selectAll();
  InfoBox->copy();
}

void TCDInfo::SpeedButton1Click() { accept(); }

}  // namespace sonarvex

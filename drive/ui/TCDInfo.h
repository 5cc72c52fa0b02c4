// "Информация о приводе": what a drive can do, from its capabilities page.
#pragma once

#include <QDialog>
#include <optional>
#include <string>
#include <vector>

class QPlainTextEdit;
class QPushButton;

namespace sonarvex {

class Transport;

class TCDInfo : public QDialog {
  Q_OBJECT
 public:
  // lines: the report (CapabilityReportLines).
  TCDInfo(QWidget* owner, const std::vector<std::string>& lines,
          std::optional<QColor> windowColour = std::nullopt,
          std::optional<QColor> controlColour = std::nullopt);

  // From the main window: INQUIRY and MODE SENSE to the current drive of the
  // transport, then the report shown modally.
  static int ShowForDrive(QWidget* owner, Transport& transport,
                          std::optional<QColor> windowColour = std::nullopt,
                          std::optional<QColor> controlColour = std::nullopt);

  void SpeedButton4Click();  // "Copy"
  void SpeedButton1Click();  // "Ok"

  QPlainTextEdit* InfoBox;
  QPushButton* SpeedButton4;
  QPushButton* SpeedButton1;
};

}  // namespace sonarvex

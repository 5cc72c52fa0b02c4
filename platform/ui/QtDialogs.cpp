#include "platform/ui/QtDialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QStandardPaths>
#include <QMessageBox>
#include <QPushButton>
#include <QStringList>

#include "platform/DialogFolder.h"
#include "platform/ui/QtText.h"

namespace sonarvex {
namespace {

QString FilterText(const std::vector<FileFilter>& filters) {
  QStringList parts;
  for (const auto& f : filters) {
    QStringList patterns;
    for (const auto& p : f.patterns) patterns << Q(p);
    const QString joined = patterns.join(' ');
    const QString description = Q(f.description);
    // A description that shows its patterns already ("WAVE files (*.wav)",
    // "*.cgp") is not given them twice.
    if (description.endsWith("(" + joined + ")") || description == joined)
      parts << description;
    else
      parts << description + " (" + joined + ")";
  }
  return parts.join(";;");
}

}  // namespace

void QtDialogs::Notice(const std::string& text, const std::string& caption, MsgIcon icon) {
  auto* box = new QMessageBox(parent_);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setWindowModality(Qt::NonModal);
  box->setWindowTitle(Q(caption));
  box->setText(Q(text));
  box->setIcon(icon == MsgIcon::Error         ? QMessageBox::Critical
               : icon == MsgIcon::Warning     ? QMessageBox::Warning
               : icon == MsgIcon::Information ? QMessageBox::Information
                                              : QMessageBox::NoIcon);
  box->addButton(Q("ОК"), QMessageBox::AcceptRole);
  box->show();
}

int QtDialogs::Message(const std::string& text, const std::string& caption, MsgIcon icon,
                       MsgButtons buttons) {
  QMessageBox box(parent_);
  box.setWindowTitle(Q(caption));
  box.setText(Q(text));
  switch (icon) {
    case MsgIcon::None: box.setIcon(QMessageBox::NoIcon); break;
    case MsgIcon::Information: box.setIcon(QMessageBox::Information); break;
    case MsgIcon::Warning: box.setIcon(QMessageBox::Warning); break;
    case MsgIcon::Error: box.setIcon(QMessageBox::Critical); break;
    case MsgIcon::Question: box.setIcon(QMessageBox::Question); break;
  }
  struct Choice {
    const char* label;
    QMessageBox::ButtonRole role;
    int answer;
  };
  std::vector<Choice> choices;
  switch (buttons) {
    case MsgButtons::Ok: choices = {{"ОК", QMessageBox::AcceptRole, IdOk}}; break;
    case MsgButtons::OkCancel:
      choices = {{"ОК", QMessageBox::AcceptRole, IdOk},
                 {"Отмена", QMessageBox::RejectRole, IdCancel}};
      break;
    case MsgButtons::YesNo:
      choices = {{"Да", QMessageBox::YesRole, IdYes}, {"Нет", QMessageBox::NoRole, IdNo}};
      break;
    case MsgButtons::YesNoCancel:
      choices = {{"Да", QMessageBox::YesRole, IdYes},
                 {"Нет", QMessageBox::NoRole, IdNo},
                 {"Отмена", QMessageBox::RejectRole, IdCancel}};
      break;
    case MsgButtons::RetryCancel:
      choices = {{"Повторить", QMessageBox::AcceptRole, IdRetry},
                 {"Отмена", QMessageBox::RejectRole, IdCancel}};
      break;
    case MsgButtons::AbortRetryIgnore:
      choices = {{"Прервать", QMessageBox::RejectRole, IdAbort},
                 {"Повторить", QMessageBox::AcceptRole, IdRetry},
                 {"Пропустить", QMessageBox::AcceptRole, IdIgnore}};
      break;
    case MsgButtons::YesYesAllNo:
      choices = {{"Да", QMessageBox::YesRole, IdYes},
                 {"Да для всех", QMessageBox::YesRole, IdYesAll},
                 {"Нет", QMessageBox::NoRole, IdNo}};
      break;
  }
  std::vector<QPushButton*> pushed;
  for (const auto& c : choices) pushed.push_back(box.addButton(QString::fromUtf8(c.label), c.role));
  box.setDefaultButton(pushed.front());
  box.exec();
  for (std::size_t i = 0; i < pushed.size(); ++i)
    if (box.clickedButton() == pushed[i]) return choices[i].answer;
  // Closed with Esc or the title bar: the "no" side of the choice.
  switch (buttons) {
    case MsgButtons::Ok: return IdOk;
    case MsgButtons::YesNo:
    case MsgButtons::YesYesAllNo: return IdNo;
    case MsgButtons::AbortRetryIgnore: return IdAbort;
    default: return IdCancel;
  }
}

std::string QtDialogs::StartFolder(const std::string& asked) const {
  return DialogStartFolder(asked, lastFolder_,
                           S(QStandardPaths::writableLocation(QStandardPaths::MusicLocation)),
                           S(QDir::homePath()));
}

void QtDialogs::Chosen(const std::string& path, bool isFolder) {
  if (path.empty()) return;
  if (isFolder) {
    lastFolder_ = path;
  } else if (const std::size_t slash = path.rfind('/'); slash != std::string::npos) {
    lastFolder_ = path.substr(0, slash == 0 ? 1 : slash);
  }
}

std::vector<std::string> QtDialogs::OpenFiles(const std::string& title,
                                              const std::vector<FileFilter>& filters,
                                              const std::string& folder, bool multiple) {
  std::vector<std::string> out;
  if (multiple) {
    for (const auto& f : QFileDialog::getOpenFileNames(parent_, Q(title), Q(StartFolder(folder)),
                                                       FilterText(filters)))
      out.push_back(S(f));
  } else {
    QString f =
        QFileDialog::getOpenFileName(parent_, Q(title), Q(StartFolder(folder)), FilterText(filters));
    if (!f.isEmpty()) out.push_back(S(f));
  }
  if (!out.empty()) Chosen(out.front(), false);
  return out;
}

std::optional<std::string> QtDialogs::SaveFile(const std::string& title,
                                               const std::vector<FileFilter>& filters,
                                               const std::string& defaultSuffix,
                                               const std::string& initialPath) {
  QFileDialog dialog(parent_, Q(title), Q(StartFolder(initialPath)), FilterText(filters));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setDefaultSuffix(Q(defaultSuffix));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  const std::string chosen = S(dialog.selectedFiles().front());
  Chosen(chosen, false);
  return chosen;
}

std::optional<std::string> QtDialogs::ChooseFolder(const std::string& title,
                                                   const std::string& initialFolder) {
  QString f = QFileDialog::getExistingDirectory(parent_, Q(title), Q(StartFolder(initialFolder)));
  if (f.isEmpty()) return std::nullopt;
  Chosen(S(f), true);
  return S(f);
}

}  // namespace sonarvex

#include "recording/ui/TWriteSettingForm.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLineEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>
#include <cstring>

#include "platform/Cp1251.h"
#include "platform/Dialogs.h"
#include "platform/ui/QtText.h"
#include "settings/ProgramFacts.h"
#include "settings/SettingsFormRules.h"

namespace sonarvex {

namespace {
constexpr int kSpeeds[] = {255, 32, 16, 8, 4, 1};
}

int ParseSettingNumber(const std::string& text, int fallback, int max) {
  if (text.empty() || text.size() > 6) return fallback;
  int v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return fallback;
    v = v * 10 + (c - '0');
  }
  return v > max ? fallback : v;
}

TWriteSettingForm::TWriteSettingForm(RecordingSettings& settings, Dialogs& dialogs, QWidget* parent,
                                     ProgramFacts* program)
    : QDialog(parent), settings_(settings), dialogs_(dialogs), program_(program) {
  setObjectName("WriteSettingForm");
  setWindowTitle(Q("Настройка записи"));
  auto* layout = new QVBoxLayout(this);
  Pages = new QTabWidget(this);
  layout->addWidget(Pages);

  auto* write = new QWidget;
  auto* wf = new QFormLayout(write);
  SpeedBox = new QComboBox;
  for (const char* s : {"Максимальная", "32x", "16x", "8x", "4x", "1x"}) SpeedBox->addItem(Q(s));
  PriorityBox = new QComboBox;
  for (const char* s : {"Нормальный", "IDLE", "Максимальный"}) PriorityBox->addItem(Q(s));
  BlockCountBox = new QLineEdit;
  BlockCountBox->setMaxLength(3);
  AskBox = new QCheckBox(Q("Спрашивать разрешение на операции с диском"));
  wf->addRow(Q("Скорость записи"), SpeedBox);
  wf->addRow(Q("Приоритет"), PriorityBox);
  wf->addRow(Q("Секторов за запись"), BlockCountBox);
  wf->addRow(AskBox);
  VerifyBox = new QCheckBox(Q("Проверять диск после записи"));
  VerifyBox->setObjectName("VerifyBox");
  VerifyBox->setToolTip(Q("Каждый трек читается с диска и сверяется с тем, что было записано"));
  wf->addRow(VerifyBox);
  Pages->addTab(write, Q("Запись"));

  auto* audio = new QWidget;
  auto* af = new QFormLayout(audio);
  NormalizeBox = new QCheckBox(Q("Нормализация "));
  MinEdit = new QLineEdit;
  MaxEdit = new QLineEdit;
  SetMinEdit = new QLineEdit;
  SetMaxEdit = new QLineEdit;
  DisableNormalize = new QCheckBox(Q("Отключать если все файлы имеют одинаковый уровень"));
  AddComFiles = new QCheckBox(Q("Пропускать сжатые WAV файлы"));
  af->addRow(NormalizeBox);
  af->addRow(Q("Нижний уровень, %"), MinEdit);
  af->addRow(Q("Верхний уровень, %"), MaxEdit);
  af->addRow(Q("Тихие файлы до, %"), SetMinEdit);
  af->addRow(Q("Громкие файлы до, %"), SetMaxEdit);
  af->addRow(DisableNormalize);
  af->addRow(AddComFiles);
  Pages->addTab(audio, Q("Аудио"));

  auto* actions = new QWidget;
  auto* ac = new QVBoxLayout(actions);
  PlaySoundBox = new QCheckBox(Q("Играть файл по окончанию записи"));
  auto* fileRow = new QHBoxLayout;
  FileNameEdit = new QLineEdit;
  auto* browse = new QPushButton("...");
  fileRow->addWidget(FileNameEdit);
  fileRow->addWidget(browse);
  EjectAfterBurn = new QCheckBox(Q("Извлечь диск после записи"));
  DelWAVAfterBurn = new QCheckBox(Q("Удалять исходные WAV файлы"));
  AskBeforeDel = new QCheckBox(Q("Предупреждать перед удалением"));
  ac->addWidget(PlaySoundBox);
  ac->addLayout(fileRow);
  ac->addWidget(EjectAfterBurn);
  ac->addWidget(DelWAVAfterBurn);
  ac->addWidget(AskBeforeDel);
  ac->addStretch();
  Pages->addTab(actions, Q("Действия"));

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  auto* ok = new QPushButton("Ok");
  ok->setObjectName("ApplyButton");
  auto* cancel = new QPushButton(Q("Отмена"));
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  layout->addLayout(buttons);
  connect(ok, &QPushButton::clicked, this, [this] { ApplyButtonClick(); });
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(browse, &QPushButton::clicked, this, [this] { BrowseClick(); });

  for (int i = 0; i < 6; ++i)
    if (settings_.WriteSpeed == kSpeeds[i] || (i == 0 && settings_.WriteSpeed == 0)) SpeedBox->setCurrentIndex(i);
  PriorityBox->setCurrentIndex(settings_.Priority <= 2 ? settings_.Priority : 0);
  BlockCountBox->setText(QString::number(settings_.SectorsPerWrite));
  AskBox->setChecked(settings_.AskBeforeDiscOps);
  if (program_ != nullptr) verifyAtOpen_ = program_->Options().WriteVerify;
  VerifyBox->setChecked(verifyAtOpen_);
  VerifyBox->setVisible(program_ != nullptr);
  NormalizeBox->setChecked(settings_.Normalize);
  MinEdit->setText(QString::number(settings_.MinLevel));
  MaxEdit->setText(QString::number(settings_.MaxLevel));
  SetMinEdit->setText(QString::number(settings_.SetMinLevel));
  SetMaxEdit->setText(QString::number(settings_.SetMaxLevel));
  DisableNormalize->setChecked(settings_.DisableNormalizeWhenEqual);
  AddComFiles->setChecked(settings_.SkipCompressedWav);
  PlaySoundBox->setChecked(settings_.PlaySound);
  FileNameEdit->setText(Q(Cp1251ToUtf8(FieldText(settings_.SoundFile))));
  EjectAfterBurn->setChecked(settings_.EjectAfterBurn);
  DelWAVAfterBurn->setChecked(settings_.DeleteWavAfterBurn);
  AskBeforeDel->setChecked(settings_.AskBeforeDelete);
  Pages->setCurrentIndex(settings_.LastPage <= 2 ? settings_.LastPage : 0);
  // The selected page's tab in red.
  Pages->tabBar()->setStyleSheet("QTabBar::tab:selected { color: red; margin-top: 2px; }");
}

void TWriteSettingForm::BrowseClick() {
  auto files = dialogs_.OpenFiles("", {FileFilter{"*.*", {"*"}}}, "", false);
  if (!files.empty()) FileNameEdit->setText(Q(files.front()));
}

void TWriteSettingForm::ApplyButtonClick() {
  settings_.WriteSpeed = static_cast<std::uint8_t>(kSpeeds[std::max(0, SpeedBox->currentIndex())]);
  settings_.Priority = static_cast<std::uint8_t>(std::max(0, PriorityBox->currentIndex()));
  settings_.SectorsPerWrite = static_cast<std::uint16_t>(ParseSettingNumber(S(BlockCountBox->text()), 38, 999));
  settings_.AskBeforeDiscOps = AskBox->isChecked();
  settings_.Normalize = NormalizeBox->isChecked();
  settings_.MinLevel = static_cast<std::uint8_t>(ParseSettingNumber(S(MinEdit->text()), 90, 255));
  settings_.MaxLevel = static_cast<std::uint8_t>(ParseSettingNumber(S(MaxEdit->text()), 98, 255));
  settings_.SetMinLevel = static_cast<std::uint8_t>(ParseSettingNumber(S(SetMinEdit->text()), 90, 255));
  settings_.SetMaxLevel = static_cast<std::uint8_t>(ParseSettingNumber(S(SetMaxEdit->text()), 98, 255));
  settings_.DisableNormalizeWhenEqual = DisableNormalize->isChecked();
  settings_.SkipCompressedWav = AddComFiles->isChecked();
  settings_.PlaySound = PlaySoundBox->isChecked();
  const std::string sound = Utf8ToCp1251(S(FileNameEdit->text()));
  std::memset(settings_.SoundFile, 0, sizeof settings_.SoundFile);
  std::memcpy(settings_.SoundFile, sound.data(), std::min(sound.size(), sizeof settings_.SoundFile - 1));
  settings_.EjectAfterBurn = EjectAfterBurn->isChecked();
  settings_.DeleteWavAfterBurn = DelWAVAfterBurn->isChecked();
  settings_.AskBeforeDelete = AskBeforeDel->isChecked();
  settings_.LastPage = static_cast<std::uint8_t>(Pages->currentIndex());
  // Only a changed option is stored; the rest of the file stays as it is.
  const bool verify = VerifyBox->isChecked();
  if (program_ != nullptr && verify != verifyAtOpen_ &&
      !program_->ChangeOptions([verify](ProgramOptions& o) { o.WriteVerify = verify; }))
    dialogs_.Message(kIniWriteFailedMessage, kProgramTitle, MsgIcon::Warning, MsgButtons::Ok);
  accept();
}

}  // namespace sonarvex

#include "conversion/ui/TConvertForm.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QStyle>
#include <QThread>
#include <QToolButton>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

#include "codec/EncoderSet.h"
#include "codec/WmaFileReader.h"
#include "metadata/ui/LinkLabel.h"
#include "metadata/ui/TID3Form.h"
#include "metadata/ui/UiHelpers.h"
#include "platform/ui/DesktopOpen.h"
#include "platform/Dialogs.h"
#include "platform/Files.h"
#include "platform/Shell.h"
#include "playback/MediaPlayer.h"

namespace sonarvex {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

QToolButton* Tool(QWidget* parent, const char* name, QStyle::StandardPixmap icon,
                  const QString& tip, const QString& text = {}) {
  auto* b = new QToolButton(parent);
  b->setObjectName(name);
  b->setIcon(parent->style()->standardIcon(icon));
  b->setToolTip(tip);
  if (!text.isEmpty()) {
    b->setText(text);
    b->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  }
  b->setAutoRaise(true);
  return b;
}

}  // namespace

TConvertForm::TConvertForm(const ConvertFormContext& context, QWidget* parent)
    : QDialog(parent), context_(context) {
  setObjectName("ConvertForm");
  setWindowTitle(kConvertCaption);
  setModal(true);
  setAcceptDrops(true);
  Build();
  ConvertEngineContext ec;
  ec.settings = context_.settings;
  ec.settingsTexts = context_.settingsTexts;
  ec.encoders = context_.encoders;
  ec.dialogs = context_.dialogs;
  ec.host = this;
  ec.programFolder = context_.programFolder;
  ec.tempFolder = context_.tempFolder;
  ec.wmaDecoderAvailable = context_.wmaDecoderAvailable;
  ec.formatOptions = context_.formatOptions;
  engine_ = std::make_unique<ConvertEngine>(ec);
  created_ = engine_->Create();
  if (!created_) return;

  // Colours: the list takes the edit colour, except that the default edit
  // colour becomes the default window colour there.
  const SettingsRecord& s = *context_.settings;
  ApplyFormColors(this, FormColors{s.WindowColor, s.EditColor});
  QPalette lp = listView_->palette();
  lp.setColor(QPalette::Base,
              ColorRefToQColor(s.EditColor == kDefaultEditColor ? kDefaultWindowColor : s.EditColor));
  listView_->setPalette(lp);

  // The directions that can run, each with its number.
  updating_ = true;
  for (int d : engine_->AvailableDirections()) directionBox_->addItem(Q(DirectionItems()[d]), d);
  directionBox_->setCurrentIndex(directionBox_->findData(engine_->Direction()));
  formatBox_->setCurrentIndex(engine_->formatIndex);
  dirEdit_->setText(Q(engine_->outputFolder));
  saveDirBox_->setChecked(engine_->saveToSourceFolder);
  delAfterEncodingBox_->setChecked(engine_->deleteSources);
  updating_ = false;
  RowsReset();
  UpdateDirectionControls();
}

TConvertForm::~TConvertForm() {
  if (engine_ != nullptr && created_ && !closing_) {
    TakeChoices();
    engine_->Close();
  }
  if (ownPlayer_ != nullptr) ownPlayer_->CloseMedia();
}

void TConvertForm::Build() {
  auto* top = new QVBoxLayout(this);

  auto* dirRow = new QHBoxLayout;
  directionBox_ = new QComboBox(this);
  directionBox_->setObjectName("DirectionBox");
  formatLabel_ = new QLabel("Понижать битрейт до", this);
  formatLabel_->setObjectName("FormatLabel");
  formatBox_ = new QComboBox(this);
  formatBox_->setObjectName("FormatBox");
  for (const std::string& f : FormatItems()) formatBox_->addItem(Q(f));
  dirRow->addWidget(directionBox_);
  dirRow->addSpacing(12);
  dirRow->addWidget(formatLabel_);
  dirRow->addWidget(formatBox_);
  dirRow->addStretch(1);
  top->addLayout(dirRow);

  listView_ = new QTreeWidget(this);
  listView_->setObjectName("ListView");
  listView_->setHeaderLabels({"Файл", "Состояние", "Размещение"});
  listView_->setRootIsDecorated(false);
  listView_->setSelectionMode(QAbstractItemView::SingleSelection);
  listView_->header()->resizeSection(0, 220);
  listView_->header()->resizeSection(1, 150);
  top->addWidget(listView_, 1);

  auto* buttons = new QHBoxLayout;
  addFileButton_ = Tool(this, "AddFileButton", QStyle::SP_DialogOpenButton, "Добавить файлы");
  addFolderButton_ = Tool(this, "AddFolderButton", QStyle::SP_DirOpenIcon, "Добавить папку");
  playButton_ = Tool(this, "PlayButton", QStyle::SP_MediaPlay, "Прослушать");
  stopButton_ = Tool(this, "StopButton", QStyle::SP_MediaStop, "Остановить");
  selAllButton_ = Tool(this, "SelALLButton", QStyle::SP_DialogYesButton, "Выбрать все");
  selNoneButton_ = Tool(this, "SelNONEButton", QStyle::SP_DialogNoButton, "Снять выбор");
  delButton_ = Tool(this, "DelButton", QStyle::SP_TrashIcon, "Удалить");
  tagSpeedButton_ = Tool(this, "TagSpeedButton", QStyle::SP_FileDialogDetailedView, "ID3v2...",
                         "ID3v2...");
  mp3SettingButton_ =
      Tool(this, "MP3SettingButton", QStyle::SP_FileDialogInfoView, "Настройка MP3");
  for (QToolButton* b : {addFileButton_, addFolderButton_, playButton_, stopButton_, selAllButton_,
                         selNoneButton_, delButton_, tagSpeedButton_, mp3SettingButton_})
    buttons->addWidget(b);
  buttons->addStretch(1);
  top->addLayout(buttons);

  menu1_ = new QMenu(this);
  menu1_->setObjectName("Menu1");
  QAction* all = menu1_->addAction("Удалить все");
  QAction* unchecked = menu1_->addAction("Удалить НЕ выбранное");
  QAction* checked = menu1_->addAction("Удалить выбранное");
  connect(all, &QAction::triggered, this, [this] { engine_->RemoveAll(); });
  connect(unchecked, &QAction::triggered, this, [this] { engine_->RemoveChecked(false); });
  connect(checked, &QAction::triggered, this, [this] { engine_->RemoveChecked(true); });

  auto* folderRow = new QHBoxLayout;
  folderRow->addWidget(new QLabel("Папка:", this));
  dirEdit_ = new QLineEdit(this);
  dirEdit_->setObjectName("DirEdit");
  dirEdit_->setMaxLength(260);
  speedButton3_ = Tool(this, "SpeedButton3", QStyle::SP_DirIcon, "Куда файлы сливать?");
  folderRow->addWidget(dirEdit_, 1);
  folderRow->addWidget(speedButton3_);
  top->addLayout(folderRow);
  saveDirBox_ = new QCheckBox("Сохранять оригинальное размещение файлов", this);
  saveDirBox_->setObjectName("SaveDirBox");
  delAfterEncodingBox_ = new QCheckBox("Удалять исходные файлы после кодирования", this);
  delAfterEncodingBox_->setObjectName("DelAfterEncodingBox");
  top->addWidget(saveDirBox_);
  top->addWidget(delAfterEncodingBox_);

  auto* bottom = new QHBoxLayout;
  bottom->addStretch(1);
  startButton_ = new QPushButton("Начать!", this);
  startButton_->setObjectName("StartButton");
  cancelButton_ = new QPushButton("Отмена", this);
  cancelButton_->setObjectName("CancelButton");
  cancelButton_->setVisible(false);
  closeButton_ = new QPushButton("Закрыть", this);
  closeButton_->setObjectName("CloseButton");
  for (QPushButton* b : {startButton_, cancelButton_, closeButton_}) {
    b->setAutoDefault(false);
    bottom->addWidget(b);
  }
  top->addLayout(bottom);
  resize(620, 440);

  connect(addFileButton_, &QToolButton::clicked, this, &TConvertForm::AddFileButtonClick);
  connect(addFolderButton_, &QToolButton::clicked, this, &TConvertForm::AddFolderButtonClick);
  connect(playButton_, &QToolButton::clicked, this, &TConvertForm::PlayButtonClick);
  connect(stopButton_, &QToolButton::clicked, this, &TConvertForm::StopButtonClick);
  connect(selAllButton_, &QToolButton::clicked, this, &TConvertForm::SelALLButtonClick);
  connect(selNoneButton_, &QToolButton::clicked, this, &TConvertForm::SelNONEButtonClick);
  connect(delButton_, &QToolButton::clicked, this, &TConvertForm::DelButtonClick);
  connect(tagSpeedButton_, &QToolButton::clicked, this, &TConvertForm::TagSpeedButtonClick);
  connect(mp3SettingButton_, &QToolButton::clicked, this, &TConvertForm::MP3SettingButtonClick);
  connect(speedButton3_, &QToolButton::clicked, this, &TConvertForm::SpeedButton3Click);
  connect(startButton_, &QPushButton::clicked, this, &TConvertForm::StartButtonClick);
  connect(cancelButton_, &QPushButton::clicked, this, &TConvertForm::CancelButtonClick);
  connect(closeButton_, &QPushButton::clicked, this, &TConvertForm::close);
  connect(directionBox_, qOverload<int>(&QComboBox::currentIndexChanged), this,
          &TConvertForm::DirectionBoxChange);
  connect(listView_, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int column) {
    if (updating_ || column != 0) return;
    engine_->SetChecked(listView_->indexOfTopLevelItem(item), item->checkState(0) == Qt::Checked);
  });
  connect(listView_, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item, int) {
    const int row = listView_->indexOfTopLevelItem(item);
    if (row >= 0) engine_->SetChecked(row, !engine_->Rows()[static_cast<std::size_t>(row)].checked);
  });
  if (!context_.openMp3Settings) mp3SettingButton_->setEnabled(false);
}

MediaPlayer& TConvertForm::Player() {
  if (context_.player != nullptr) return *context_.player;
  if (ownPlayer_ == nullptr) ownPlayer_ = std::make_unique<MediaPlayer>();
  return *ownPlayer_;
}

void TConvertForm::FillItem(QTreeWidgetItem* item, const ConvertRow& row) {
  const bool was = updating_;
  updating_ = true;
  item->setText(0, Q(row.name));
  item->setText(1, Q(row.state));
  item->setText(2, Q(row.folder));
  item->setCheckState(0, row.checked ? Qt::Checked : Qt::Unchecked);
  updating_ = was;
}

void TConvertForm::RowsReset() {
  if (engine_ == nullptr) return;
  const bool was = updating_;
  updating_ = true;
  listView_->clear();
  for (const ConvertRow& r : engine_->Rows()) {
    auto* item = new QTreeWidgetItem(listView_);
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    FillItem(item, r);
  }
  updating_ = was;
}

void TConvertForm::RowChanged(int row) {
  QTreeWidgetItem* item = listView_->topLevelItem(row);
  if (item != nullptr) FillItem(item, engine_->Rows()[static_cast<std::size_t>(row)]);
}

void TConvertForm::RowAdded(int row) {
  const bool was = updating_;
  updating_ = true;
  auto* item = new QTreeWidgetItem(listView_);
  item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
  FillItem(item, engine_->Rows()[static_cast<std::size_t>(row)]);
  updating_ = was;
}

void TConvertForm::CurrentRow(int row) {
  QTreeWidgetItem* item = listView_->topLevelItem(row);
  if (item == nullptr) return;
  listView_->setCurrentItem(item);
  listView_->scrollToItem(item);
}

void TConvertForm::CaptionChanged(const std::string& caption) { setWindowTitle(Q(caption)); }

bool TConvertForm::Pump() {
  QCoreApplication::processEvents();
  return !closing_;
}

void TConvertForm::Pause(int milliseconds) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < milliseconds) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QThread::msleep(5);
  }
}

void TConvertForm::UpdateDirectionControls() {
  const bool tags = engine_->TagsApply();
  tagSpeedButton_->setEnabled(tags);
  delAfterEncodingBox_->setEnabled(tags);
  formatBox_->setVisible(engine_->FormatApplies());
  formatLabel_->setVisible(engine_->FormatApplies());
}

void TConvertForm::TakeChoices() {
  engine_->outputFolder = dirEdit_->text().toStdString();
  engine_->saveToSourceFolder = saveDirBox_->isChecked();
  engine_->deleteSources = delAfterEncodingBox_->isChecked();
  engine_->formatIndex = std::max(0, formatBox_->currentIndex());
}

int TConvertForm::SelectedRow() const {
  QTreeWidgetItem* item = listView_->currentItem();
  return item != nullptr && item->isSelected() ? listView_->indexOfTopLevelItem(item) : -1;
}

void TConvertForm::AddFiles(const QStringList& paths) {
  for (const QString& p : paths) engine_->AddFile(p.toStdString());
}

void TConvertForm::AddFileButtonClick() {
  const std::vector<FileFilter> filters{
      {"Совместимые форматы", {"*.wav", "*.mp3", "*.avi", "*.wma", "*.wmv", "*.asf", "*.flac"}},
      {"MP3 файлы", {"*.mp3"}},
      {"WMA, WMV, ASF файлы", {"*.wma", "*.wmv", "*.asf"}},
      {"AVI фйлы", {"*.avi"}},
      {"WAV файлы", {"*.wav"}},
      {"FLAC файлы", {"*.flac"}}};
  for (const std::string& p : context_.dialogs->OpenFiles("", filters, "", true))
    engine_->AddFile(p);
}

void TConvertForm::AddFolderButtonClick() {
  if (auto folder = context_.dialogs->ChooseFolder("Выберете папку где искать", ""))
    if (!folder->empty()) engine_->AddFolder(*folder);
}

void TConvertForm::DirectionBoxChange(int index) {
  if (updating_ || index < 0) return;
  engine_->SetDirection(directionBox_->itemData(index).toInt());
  // A direction the engine refused shows what still holds.
  const int shown = directionBox_->findData(engine_->Direction());
  if (shown != index) {
    updating_ = true;
    directionBox_->setCurrentIndex(shown);
    updating_ = false;
  }
  UpdateDirectionControls();
}

void TConvertForm::StartButtonClick() {
  // A window whose creation aborted (no libkelpra.so) runs nothing.
  if (!created_ || engine_->Busy()) return;
  TakeChoices();
  if (std::none_of(engine_->Rows().begin(), engine_->Rows().end(),
                   [](const ConvertRow& r) { return r.checked; }))
    return;
  startButton_->setVisible(false);
  directionBox_->setEnabled(false);
  cancelButton_->setVisible(true);
  engine_->Run();
  cancelButton_->setVisible(false);
  listView_->setEnabled(true);
  startButton_->setVisible(true);
  setWindowTitle(kConvertCaption);
  directionBox_->setEnabled(true);
  if (closing_ || closeAfterRun_) {
    closeAfterRun_ = false;
    close();
  }
}

void TConvertForm::CancelButtonClick() {
  if (context_.dialogs->Message(kStopQuestionText, kProgramTitle, MsgIcon::Question,
                                MsgButtons::YesNo) != IdNo)
    engine_->RequestCancel();
}

void TConvertForm::TagSpeedButtonClick() {
  if (engine_->Rows().empty() || !engine_->TagsApply()) return;
  int row = SelectedRow();
  if (row < 0) {
    for (std::size_t i = 0; i < engine_->Rows().size(); ++i)
      if (engine_->Rows()[i].checked) {
        row = static_cast<int>(i);
        break;
      }
    if (row < 0) return;
    CurrentRow(row);
  }
  TrackTags* tag = engine_->RowTag(row);
  TID3Form dialog(this);
  dialog.TitleBox1()->setVisible(false);
  dialog.Label13()->setVisible(false);
  dialog.CopyComp()->setVisible(false);
  dialog.LoadTag(*tag);
  tagDialog_ = &dialog;
  dialog.exec();
  tagDialog_ = nullptr;
  // The edited fields are taken back whichever way the dialog closed.
  dialog.StoreTags(*tag);
}

void TConvertForm::PlayButtonClick() {
  MediaPlayer& player = Player();
  player.CloseMedia();
  const int row = SelectedRow();
  if (row < 0 || engine_->Busy()) return;
  const std::string path = engine_->Rows()[static_cast<std::size_t>(row)].Path();
  if (player.OpenMediaFile(path) && player.PlayMedia()) return;
  if (context_.dialogs) OpenWithDesktop(*context_.dialogs, path);
  else ShellOpen(path);
}

void TConvertForm::StopButtonClick() { Player().CloseMedia(); }

void TConvertForm::MP3SettingButtonClick() {
  if (context_.openMp3Settings) context_.openMp3Settings(this);
}

void TConvertForm::SpeedButton3Click() {
  if (engine_->Busy()) return;
  if (auto folder = context_.dialogs->ChooseFolder("Куда файлы сливать?", dirEdit_->text().toStdString()))
    if (!folder->empty()) dirEdit_->setText(Q(*folder));
}

void TConvertForm::SelALLButtonClick() { engine_->CheckAll(true); }
void TConvertForm::SelNONEButtonClick() { engine_->CheckAll(false); }

void TConvertForm::DelButtonClick() {
  if (engine_->Busy()) return;
  menu1_->popup(delButton_->mapToGlobal(QPoint(0, delButton_->height())));
}

void TConvertForm::reject() {
  // Escape closes the idle window; during a batch closing is refused.
  if (engine_ != nullptr && engine_->Busy()) return;
  close();
}

void TConvertForm::closeEvent(QCloseEvent* event) {
  if (engine_ != nullptr && engine_->Busy()) {
    // The batch goes on unless the user stops it; then the window closes
    // once the file being written is cleaned up.
    event->ignore();
    if (closeAfterRun_ ||
        context_.dialogs->Message(kStopQuestionText, kProgramTitle, MsgIcon::Question,
                                  MsgButtons::YesNo) != IdYes)
      return;
    if (engine_->Busy()) {
      closeAfterRun_ = true;
      engine_->RequestCancel();
      return;
    }
    // The batch ended while the question was up: the window closes now.
  }
  if (created_ && !closing_) {
    TakeChoices();
    engine_->Close();
    if (ownPlayer_ != nullptr) ownPlayer_->CloseMedia();
    if (context_.player != nullptr) context_.player->CloseMedia();
    closing_ = true;
  }
  event->accept();
  QDialog::done(QDialog::Accepted);
}

void TConvertForm::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void TConvertForm::dropEvent(QDropEvent* event) {
  QStringList paths;
  for (const QUrl& u : event->mimeData()->urls())
    if (u.isLocalFile()) paths << u.toLocalFile();
  AddFiles(paths);
  event->acceptProposedAction();
}

}  // namespace sonarvex

#include "recording/ui/TMainWriteForm.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QDataStream>
#include <QDrag>
#include <QDragEnterEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPainter>
#include <QPointer>
#include <QSlider>
#include <QThread>
#include <QTimer>
#include <QStyle>
#include <cerrno>
#include <cstring>
#include <functional>
#include <mutex>
#include <QToolButton>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

#include "playback/ui/PositionBar.h"
#include "session/Session.h"
#include "conversion/ui/TConvertForm.h"
#include "drive/CapabilityReport.h"
#include "drive/ui/TCDInfo.h"
#include "platform/Dialogs.h"
#include "platform/Files.h"
#include "platform/ui/DesktopOpen.h"
#include "platform/ui/HelpWindow.h"
#include "platform/ui/Icons.h"
#include "platform/ui/QtText.h"
#include "platform/Shell.h"
#include "playback/MediaPlayer.h"
#include "recording/RecordingFolders.h"
#include "recording/ui/TProgressForm.h"
#include "recording/ui/TWriteSettingForm.h"
#include "recording/TWriteThread.h"

namespace sonarvex {

namespace {

// The small window shown while a disc is blanked: refuses to close until
// its tag is 3.
class BlankWindow : public QDialog {
 public:
  BlankWindow(const QString& text, QWidget* owner) : QDialog(owner), text_(text) {
    setObjectName("BlankWindow");
    setWindowTitle(owner->windowTitle());
    setFixedSize(280, 146);
    const QRect g = owner->geometry();
    move(g.left() + g.width() / 2 - 140, g.top() + g.height() / 2 - 63);
  }
  int tag = 1;

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    const int w = p.fontMetrics().horizontalAdvance(text_);
    p.drawText(140 - w / 2, 53, text_);
  }
  void closeEvent(QCloseEvent* e) override {
    if (tag != 3) e->ignore();
  }
  void reject() override {
    if (tag == 3) QDialog::reject();
  }

 private:
  QString text_;
};

// Runs a call on the window's thread and waits for it.
template <typename F>
void OnGuiThread(QObject* target, F f, bool wait) {
  if (QThread::currentThread() == target->thread()) {
    f();
    return;
  }
  QMetaObject::invokeMethod(target, std::move(f), wait ? Qt::BlockingQueuedConnection : Qt::QueuedConnection);
}

// Message boxes asked from the recording thread are shown by the window.
class ThreadDialogs : public WindowlessDialogs {
 public:
  ThreadDialogs(QObject* window, Dialogs& target) : window_(window), target_(target) {}
  int Message(const std::string& text, const std::string& caption, MsgIcon icon, MsgButtons buttons) override {
    int answer = IdOk;
    OnGuiThread(window_, [&] { answer = target_.Message(text, caption, icon, buttons); }, true);
    return answer;
  }

 private:
  QObject* window_;
  Dialogs& target_;
};

// The format an item view gives its dragged rows: per cell its row, its
// column and its roles.
constexpr const char* kItemRowsFormat = "application/x-qabstractitemmodeldatalist";

// The row a drag from the list carries (the first cell's), or -1.
int DraggedRow(const QMimeData* mime) {
  QByteArray data = mime->data(kItemRowsFormat);
  QDataStream stream(&data, QIODevice::ReadOnly);
  if (stream.atEnd()) return -1;
  int row = -1, column = -1;
  QMap<int, QVariant> roles;
  stream >> row >> column >> roles;
  return stream.status() == QDataStream::Ok ? row : -1;
}

// The compilation list: a row dragged onto another is moved there by the
// window (the list never moves its items itself), and files dropped from
// the desktop are added.
class CompilationListView : public QTreeWidget {
 public:
  explicit CompilationListView(QWidget* parent) : QTreeWidget(parent) {
    setSelectionMode(QAbstractItemView::SingleSelection);
    setDragEnabled(true);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    setDragDropMode(QAbstractItemView::DragDrop);
    setDropIndicatorShown(false);
  }
  std::function<void(int from, int to)> RowDropped;
  std::function<void(const std::vector<std::string>&)> FilesDropped;

 protected:
  void startDrag(Qt::DropActions) override {
    QTreeWidgetItem* item = currentItem();
    if (!item) return;
    auto* drag = new QDrag(this);
    drag->setMimeData(model()->mimeData({indexFromItem(item)}));
    // The drop reorders the compilation and refills the list; whatever the
    // drop answers, nothing is removed here.
    drag->exec(Qt::MoveAction);
  }
  bool Acceptable(const QDropEvent* e) const {
    if (e->mimeData()->hasUrls()) return true;
    // Rows come from this list only.
    return e->mimeData()->hasFormat(kItemRowsFormat) && (e->source() == nullptr || e->source() == this);
  }
  void dragEnterEvent(QDragEnterEvent* e) override {
    if (Acceptable(e)) e->acceptProposedAction();
    else e->ignore();
  }
  void dragMoveEvent(QDragMoveEvent* e) override {
    if (Acceptable(e)) e->acceptProposedAction();
    else e->ignore();
  }
  void dropEvent(QDropEvent* e) override {
    if (!Acceptable(e)) {
      e->ignore();
      return;
    }
    e->acceptProposedAction();
    if (e->mimeData()->hasUrls()) {
      std::vector<std::string> paths;
      for (const QUrl& u : e->mimeData()->urls())
        if (u.isLocalFile()) paths.push_back(S(u.toLocalFile()));
      if (FilesDropped) FilesDropped(paths);
      return;
    }
    const int from = DraggedRow(e->mimeData());
    QTreeWidgetItem* target = itemAt(e->position().toPoint());
    const int to = target ? indexOfTopLevelItem(target) : -1;
    if (from >= 0 && to >= 0 && RowDropped) RowDropped(from, to);
  }
};

}  // namespace

// The recording thread's host: every call is handed to the window's thread.
class GuiWriteHost : public WriteThreadHost {
 public:
  explicit GuiWriteHost(TMainWriteForm& form) : dialogs(&form, form.dialogs_), form_(form) {}
  void SetPhase(const std::string& text) override {
    OnGuiThread(&form_, [this, text] { form_.ProgressForm->setWindowTitle(Q(text)); }, false);
  }
  void ShowErrorCount(bool visible) override {
    OnGuiThread(&form_, [this, visible] { form_.ProgressForm->ShowErrorCount(visible); }, false);
  }
  std::string SetStatus(const std::string& text) override {
    std::string old;
    {
      std::lock_guard lock(mutex_);
      old = status_;
      status_ = text;
    }
    OnGuiThread(&form_, [this, text] { form_.ProgressForm->Label1->setText(Q(text)); }, false);
    return old;
  }
  void Progress(std::int32_t c, std::int32_t s, int e, std::int32_t end) override {
    OnGuiThread(&form_, [this, c, s, e, end] { form_.ProgressForm->Progress(c, s, e, end); }, false);
  }
  void TrackDone(int row) override {
    OnGuiThread(&form_, [this, row] {
      auto& rows = form_.compilation_.Rows();
      if (row < static_cast<int>(rows.size())) rows[static_cast<std::size_t>(row)].image = 1;
      form_.FillList();
    }, false);
  }
  void WriteFinished() override {
    OnGuiThread(&form_, [this] {
      form_.setEnabled(true);
      form_.ProgressForm->tag = 3;
      form_.ProgressForm->hide();
    }, false);
  }
  void Verified(const std::string& text, bool same) override {
    OnGuiThread(&form_, [this, text] {
      form_.VerifyPanel->setText(Q(text));
      form_.VerifyPanel->show();
    }, false);
    // A disc that does not read back as it was sent is said at once.
    if (!same) dialogs.Message(text, kProgramTitle, MsgIcon::Warning, MsgButtons::Ok);
  }
  void PlaySound(const std::string& path) override {
    OnGuiThread(&form_, [this, path] { form_.PlaySoundFile(path); }, false);
  }
  void SourcesDeleted() override {
    OnGuiThread(&form_, [this] {
      form_.compilation_.Clear();
      form_.FillList();
    }, false);
  }
  void CloseBlankWindow() override {
    OnGuiThread(&form_, [this] {
      if (auto* w = static_cast<BlankWindow*>(form_.blankWindow_)) {
        w->tag = 3;
        w->accept();
      }
    }, false);
  }
  void Completed() override {
    OnGuiThread(&form_, [this] { form_.RefreshDiscState(); }, false);
  }
  void Ended() override {
    OnGuiThread(&form_, [this] { form_.ThreadEnded(); }, false);
  }

  ThreadDialogs dialogs;

 private:
  TMainWriteForm& form_;
  std::mutex mutex_;
  std::string status_;
};

TMainWriteForm::TMainWriteForm(Session& session, QWidget* parent, MediaPlayer* player)
    : QDialog(parent),
      session_(session),
      dialogs_(session.Dialog()),
      recorder_(session.Spti(), session.Aspi(), session.Dialog()),
      settings_(LoadRecordingSettings(session.SettingFolder())),
      compilation_(RecordingTempFolder(session.ProgramFolder(), session.TempFolder()), session.Dialog()),
      player_(player) {
  MakeDirectories(compilation_.TempFolder());
  // MP3 rows are decoded by libkelpra.so from the program's library folder.
  compilation_.SetDecoderFolder(session.LibraryFolder());
  recorder_.SetDecoderFolder(session.LibraryFolder());
  recorder_.Create();
  BuildUi();
  ProgressForm = new TProgressForm(dialogs_, cancel_, this);
  host_ = std::make_unique<GuiWriteHost>(*this);
  FillDriveBox();
  UpdateTotals();
  RefreshDiscState();
}

TMainWriteForm::~TMainWriteForm() {
  cancel_ = true;
  if (thread_) thread_->Wait();
  if (playing_) Player().CloseMedia();
  settings_.DriveIndex = static_cast<std::uint8_t>(std::max(0, CDROMBox->currentIndex()));
  SaveRecordingSettings(session_.SettingFolder(), settings_, dialogs_);
  compilation_.DeleteConverted();
  recorder_.Destroy();
}

bool TMainWriteForm::HasWriter() const { return !driveDevices_.empty(); }

void TMainWriteForm::BuildUi() {
  setObjectName("MainWriteForm");
  setWindowTitle(Q(std::string(kProgramTitle) + " - Запись AudioCD"));
  setAcceptDrops(true);
  auto* layout = new QVBoxLayout(this);
  auto* menu = new QMenuBar(this);
  layout->setMenuBar(menu);
  QMenu* file = menu->addMenu(Q("Файл"));
  QMenu* cd = menu->addMenu(Q("CD"));
  QMenu* help = menu->addMenu(Q("?"));
  // The toolbar: one row of glyph buttons (their names in the tips) that
  // fits the window at its opening size; the window cannot be made
  // narrower than the row, so no command is ever out of reach. Every
  // command is in the menus as well.
  auto* bar = new QWidget(this);
  bar->setObjectName("ToolBar");
  auto* row = new QHBoxLayout(bar);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(2);
  layout->addWidget(bar);
  auto button = [&](QToolButton*& b, const char* name, const char* text, const char* glyph,
                    unsigned rgb, auto slot) {
    b = new QToolButton(bar);
    b->setObjectName(name);
    b->setText(Q(text));
    b->setToolTip(Q(text));
    b->setIcon(ToolIcon(QString(), Q(glyph), rgb));
    b->setIconSize(QSize(28, 28));
    b->setToolButtonStyle(Qt::ToolButtonIconOnly);
    b->setAutoRaise(true);
    row->addWidget(b);
    connect(b, &QToolButton::clicked, this, slot);
  };
  button(StartWriteButton, "StartWriteButton", "Запись диска", "●", 0xc0302a, [this] { Record(false); });
  button(TestWriteButton, "TestWriteButton", "Запись в тестовом режиме", "T", 0xc07a20,
         [this] { Record(true); });
  button(EraseButton, "EraseButton", "Чистка диска", "RW", 0x7a4ab0, [this] {});
  auto* erase = new QMenu(this);
  QuickErasePopup = erase->addAction(Q("Быстрая чистка"), this, [this] { Blank(false, true); });
  FullErasePopup = erase->addAction(Q("Полная чистка"), this, [this] { Blank(true, true); });
  EraseButton->setMenu(erase);
  EraseButton->setPopupMode(QToolButton::InstantPopup);
  button(CDInfoButton, "CDInfoButton", "Информация о приводе...", "i", 0x2a5ab0,
         [this] { CDInfoButtonClick(); });
  row->addSpacing(8);
  button(AddFileButton, "AddFileButton", "Добавить файлы...", "+♪", 0x2a8a4a,
         [this] { AddFileButtonClick(); });
  button(AddFolderButton, "AddFolderButton", "Добавить файлы из папки...", "+▤", 0x2a7a7a,
         [this] { AddFolderButtonClick(); });
  button(DeleteButton, "DeleteButton", "Отчистить список", "✕", 0x8a5a2a, [this] { DeleteButtonClick(); });
  button(ConvertButton, "ConvertButton", "Конвертирование файлов WAVE, MP3, WMA", "⇄", 0x4a7a2a,
         [this] { ConvertButtonClick(); });
  row->addSpacing(8);
  button(SettingButton, "SettingButton", "Настройки...", "⚙", 0x606060, [this] { SettingButtonClick(); });
  button(EjectButton, "EjectButton", "Извлечь", "⏏", 0x5a5a5a, [this] { EjectButtonClick(); });
  row->addStretch(1);
  button(CloseButton, "CloseButton", "Уйти...", "⇥", 0x903030, [this] { close(); });
  // The button with the keyboard focus is plainly marked.
  bar->setStyleSheet("QToolButton:focus { border: 2px solid palette(highlight); border-radius: 3px; }");

  file->addAction(Q("Добавить файлы..."), QKeySequence("Alt+A"), this, [this] { AddFileButtonClick(); });
  file->addAction(Q("Добавить файлы из папки..."), QKeySequence("Ctrl+A"), this, [this] { AddFolderButtonClick(); });
  file->addAction(Q("Загрузить проект"), this, [this] { LoadProjectClick(); });
  file->addAction(Q("Сохранить проект"), this, [this] { SaveProjectClick(); });
  file->addSeparator();
  file->addAction(Q("Отчистить список"), this, [this] { DeleteButtonClick(); });
  file->addAction(Q("Конвертирование файлов WAVE, MP3, WMA"), this, [this] { ConvertButtonClick(); });
  file->addSeparator();
  file->addAction(Q("Настройки..."), QKeySequence("Ctrl+S"), this, [this] { SettingButtonClick(); });
  file->addAction(Q("Выход"), this, [this] { close(); });
  StartWriteItem = cd->addAction(Q("Начать запись"), QKeySequence("Ctrl+D"), this, [this] { Record(false); });
  TestWriteItem = cd->addAction(Q("Тестовая запись"), QKeySequence("Alt+D"), this, [this] { Record(true); });
  FullEraseItem = cd->addAction(Q("Полная очистка  RW диска"), QKeySequence("Ctrl+Q"), this, [this] { Blank(true, true); });
  QuickEraseItem = cd->addAction(Q("Быстрая очистка RW диска"), QKeySequence("Alt+Q"), this, [this] { Blank(false, true); });
  cd->addAction(Q("Информация о приводе..."), QKeySequence("Alt+I"), this, [this] { CDInfoButtonClick(); });
  cd->addAction(Q("Извлечь"), QKeySequence("Ctrl+E"), this, [this] { EjectButtonClick(); });
  help->addAction(Q("Помощь..."), QKeySequence("F1"), this, [this] { HelpClick(); });
  help->addAction(Q("О программе..."), this, [this] {
    dialogs_.Message(AboutText(), "О программе", MsgIcon::Information, MsgButtons::Ok);
  });

  auto* list = new CompilationListView(this);
  list->RowDropped = [this](int from, int to) { MoveRow(from, to); };
  list->FilesDropped = [this](const std::vector<std::string>& paths) { AddFiles(paths); };
  ListView = list;
  ListView->setObjectName("ListView");
  ListView->setRootIsDecorated(false);
  ListView->setHeaderLabels({Q("№"), Q("Файл"), Q("Время"), Q("Размер"), Q("Директория")});
  const int widths[] = {40, 200, 70, 70, 150};
  for (int i = 0; i < 5; ++i) ListView->setColumnWidth(i, widths[i]);
  connect(ListView, &QTreeWidget::itemDoubleClicked, this, [this] { PlayButtonClick(); });
  layout->addWidget(ListView);

  // Listening: previous, play, stop, next, the volume and the position.
  auto* transport = new QHBoxLayout;
  auto media = [&](QToolButton*& b, const char* name, QStyle::StandardPixmap icon, const char* hint, auto slot) {
    b = new QToolButton(this);
    b->setObjectName(name);
    b->setIcon(style()->standardIcon(icon));
    b->setToolTip(Q(hint));
    transport->addWidget(b);
    connect(b, &QToolButton::clicked, this, slot);
  };
  media(PrevButton, "PrevButton", QStyle::SP_MediaSkipBackward, "Предыдущий файл", [this] { StepButtonClick(-1); });
  media(PlayButton, "PlayButton", QStyle::SP_MediaPlay, "Прослушать", [this] { PlayButtonClick(); });
  media(StopButton, "StopButton", QStyle::SP_MediaStop, "Остановить", [this] { StopButtonClick(); });
  media(NextButton, "NextButton", QStyle::SP_MediaSkipForward, "Следующий файл", [this] { StepButtonClick(1); });
  auto* volumeLabel = new QLabel(Q("Громкость"), this);
  transport->addWidget(volumeLabel);
  VolumeBar = new QSlider(Qt::Horizontal, this);
  VolumeBar->setObjectName("VolumeBar");
  VolumeBar->setRange(0, 255);
  VolumeBar->setValue(255);
  VolumeBar->setToolTip(Q("Громкость"));
  VolumeBar->setFixedWidth(100);
  transport->addWidget(VolumeBar);
  connect(VolumeBar, &QSlider::valueChanged, this, [this] { VolumeChanged(); });
  auto* positionLabel = new QLabel(Q("Позиция"), this);
  transport->addWidget(positionLabel);
  PaintBox1 = new PositionBar(this);
  PaintBox1->setObjectName("PaintBox1");
  PaintBox1->setMinimumWidth(150);
  PaintBox1->SetScale(mediaLength_);
  PaintBox1->Released = [this](double position) { PositionReleased(position); };
  transport->addWidget(PaintBox1, 1);
  layout->addLayout(transport);

  auto* bottom = new QHBoxLayout;
  CDROMBox = new QComboBox(this);
  CDROMBox->setObjectName("CDROMBox");
  SizePanel = new QLabel(this);
  SizePanel->setObjectName("SizePanel");
  TimePanel = new QLabel(this);
  TimePanel->setObjectName("TimePanel");
  TimePanel->setAutoFillBackground(true);
  FilePanel = new QLabel(this);
  FilePanel->setObjectName("FilePanel");
  for (auto* p : {SizePanel, TimePanel, FilePanel}) {
    p->setFrameShape(QFrame::Panel);
    p->setFrameShadow(QFrame::Sunken);
    p->setMinimumWidth(120);
  }
  bottom->addWidget(CDROMBox, 1);
  bottom->addWidget(SizePanel);
  bottom->addWidget(TimePanel);
  bottom->addWidget(FilePanel);
  layout->addLayout(bottom);
  VerifyPanel = new QLabel(this);
  VerifyPanel->setObjectName("VerifyPanel");
  VerifyPanel->setWordWrap(true);
  VerifyPanel->hide();
  layout->addWidget(VerifyPanel);
  connect(CDROMBox, &QComboBox::activated, this, [this](int i) { SelectDrive(i); });

  Timer1 = new QTimer(this);
  Timer1->setInterval(500);
  connect(Timer1, &QTimer::timeout, this, [this] { TimerTick(); });
  resize(640, 420);
}

void TMainWriteForm::FillDriveBox() {
  CDROMBox->clear();
  driveDevices_.clear();
  for (const auto& d : recorder_.Drives()) {
    if (!d.CanWriteCdr()) continue;
    CDROMBox->addItem(Q(d.identification));
    driveDevices_.push_back(d.device);
  }
  if (driveDevices_.empty()) return;
  const int entry = settings_.DriveIndex < driveDevices_.size() ? settings_.DriveIndex : 0;
  CDROMBox->setCurrentIndex(entry);
  recorder_.SelectDevice(driveDevices_[static_cast<std::size_t>(entry)]);
}

void TMainWriteForm::SelectDrive(int entry) {
  if (entry < 0 || entry >= static_cast<int>(driveDevices_.size())) return;
  recorder_.SelectDevice(driveDevices_[static_cast<std::size_t>(entry)]);
  RefreshDiscState();
}

void TMainWriteForm::RefreshDiscState() {
  const Recorder::DiscState s = recorder_.ReadDiscState();
  const bool blank = s.ready && s.status == 0;
  QuickEraseItem->setEnabled(s.erasable && !blank);
  FullEraseItem->setEnabled(s.erasable);
  FullErasePopup->setEnabled(s.erasable);
  QuickErasePopup->setEnabled(QuickEraseItem->isEnabled());
  const Recorder::Drive* d = recorder_.CurrentDrive();
  const bool canWrite = d && d->CanWriteCdr();
  StartWriteButton->setEnabled(s.ready && canWrite && blank);
  TestWriteButton->setEnabled(d && d->CanTestWrite() && StartWriteButton->isEnabled());
  StartWriteItem->setEnabled(StartWriteButton->isEnabled());
  TestWriteItem->setEnabled(TestWriteButton->isEnabled());
  discBlank_ = blank;
  discErasable_ = s.erasable;
  Timer1->start();
}

void TMainWriteForm::FillList() {
  ListView->clear();
  int n = 1;
  for (const auto& r : compilation_.Rows()) {
    auto* item = new QTreeWidgetItem(ListView);
    item->setText(0, QString::number(n++));
    item->setText(1, Q(r.name));
    item->setText(2, Q(SectorTimeText(r.bytes / 2352)));
    item->setText(3, Q(MegabyteText(r.bytes)));
    item->setText(4, Q(r.folder));
    item->setData(0, Qt::UserRole, r.image);
    item->setIcon(0, style()->standardIcon(r.image == 1 ? QStyle::SP_DialogApplyButton : QStyle::SP_MediaVolume));
  }
  UpdateTotals();
}

void TMainWriteForm::UpdateTotals() {
  SizePanel->setText(Q(compilation_.SizePanelText()));
  TimePanel->setText(Q(compilation_.TimePanelText()));
  FilePanel->setText(Q(compilation_.FilePanelText()));
  QPalette p = TimePanel->palette();
  if (compilation_.TimeWarning()) {
    // COLORREF 0x649AEC: red 0xEC, green 0x9A, blue 0x64.
    p.setColor(QPalette::Window, QColor(0xEC, 0x9A, 0x64));
  } else {
    p.setColor(QPalette::Window, palette().color(QPalette::Window));
  }
  TimePanel->setPalette(p);
}

void TMainWriteForm::AddFiles(const std::vector<std::string>& paths) {
  for (const auto& p : paths) {
    // A cue sheet brings its files, in track order.
    if (IsCueSheetPath(p)) compilation_.AddCueSheet(p, settings_.SkipCompressedWav);
    else compilation_.AddFile(p, settings_.SkipCompressedWav);
  }
  FillList();
}

void TMainWriteForm::AddFileButtonClick() {
  AddFiles(dialogs_.OpenFiles("",
                              {FileFilter{"WAVE files (*.wav)", {"*.wav"}},
                               FileFilter{"Звуковые файлы (*.wav *.flac *.mp3 *.ogg *.oga *.opus *.wma)",
                                          {"*.wav", "*.flac", "*.mp3", "*.ogg", "*.oga", "*.opus", "*.wma"}},
                               FileFilter{"Cue-листы (*.cue)", {"*.cue"}}},
                              "", true));
}

void TMainWriteForm::AddFolderButtonClick() {
  auto folder = dialogs_.ChooseFolder("Выберете папку где искать", "");
  if (!folder) return;
  compilation_.AddFolder(*folder, settings_.SkipCompressedWav);
  FillList();
}

void TMainWriteForm::LoadProjectClick() {
  auto files = dialogs_.OpenFiles("", {FileFilter{"*.cgp", {"*.cgp"}}}, "", false);
  if (files.empty()) return;
  auto paths = LoadProject(files.front());
  if (!paths) return;
  compilation_.Clear();
  // A project lists the files themselves.
  for (const auto& p : *paths) compilation_.AddFile(p, settings_.SkipCompressedWav);
  FillList();
}

void TMainWriteForm::SaveProjectClick() {
  auto path = dialogs_.SaveFile("", {FileFilter{"*.cgp", {"*.cgp"}}}, "cgp", "");
  if (!path || path->empty()) return;
  if (!SaveProject(*path, compilation_.Paths())) {
    const int err = errno != 0 ? errno : EIO;
    dialogs_.Message("Не удалось сохранить проект '" + *path + "': " + std::strerror(err), kProgramTitle,
                     MsgIcon::Warning, MsgButtons::Ok);
  }
}

void TMainWriteForm::HelpClick() {
  const std::string help = session_.HelpDocument();
  std::string error = "файл README.md программы не установлен.";
  if (help.empty() || !ShowHelpWindow(this, help, &error))
    dialogs_.Message("Справка не найдена: " + error, kProgramTitle, MsgIcon::Warning, MsgButtons::Ok);
}

void TMainWriteForm::DeleteButtonClick() {
  compilation_.Clear();
  FillList();
}

void TMainWriteForm::Record(bool testWrite) {
  cancel_ = false;
  const Recorder::Drive* d = recorder_.CurrentDrive();
  if (!d || !d->CanWriteCdr()) {
    dialogs_.Message("Выбранный привод не умеет записывать диски!!!", kProgramTitle, MsgIcon::Information, MsgButtons::Ok);
    return;
  }
  if (compilation_.OverLength() &&
      dialogs_.Message("Общее время не должно превышать 79 минут!!!\nПродолжить?", kProgramTitle,
                       MsgIcon::Information, MsgButtons::YesNo) != IdYes)
    return;
  if (compilation_.Rows().empty()) {
    dialogs_.Message("Добавьте файлы для записи!!!", kProgramTitle, MsgIcon::Information, MsgButtons::Ok);
    return;
  }
  const Recorder::DiscState s = recorder_.ReadDiscState();
  if (!s.ready || s.status != 0) {
    if (!s.erasable) {
      dialogs_.Message("Вставьте чистый CD-R/RW диск.", kProgramTitle, MsgIcon::Information, MsgButtons::Ok);
      return;
    }
    if (dialogs_.Message("Перед началом записи AudioCD надо отчистить RW диск.\nСделать это сейчас?", kProgramTitle,
                         MsgIcon::Information, MsgButtons::YesNo) != IdYes)
      return;
    Blank(false, false);
  }
  if (settings_.AskBeforeDiscOps &&
      dialogs_.Message("Начать запись ???", kProgramTitle, MsgIcon::Question, MsgButtons::YesNo) != IdYes)
    return;
  StopButtonClick();
  recorder_.SetFiles(compilation_.Paths(), compilation_.Gaps());
  recorder_.SetDiscTexts(compilation_.Texts());
  // A file gone, emptied or unreadable since it was added is named now,
  // before the drive is given anything to do.
  if (!recorder_.CheckFiles()) return;
  if (!recorder_.InitWriteProcess(testWrite, [this](std::int32_t c, std::int32_t st, int e, std::int32_t end) {
        host_->Progress(c, st, e, end);
      })) {
    dialogs_.Message("Запись невозможна (InitWriteProcess - failed)!!!", kProgramTitle, MsgIcon::Information,
                     MsgButtons::Ok);
    return;
  }
  if (!recorder_.SendCUEToCD()) {
    dialogs_.Message("Невозможно записать таблицу размещения треков!!!(SendCUEToCD - failed)", kProgramTitle,
                     MsgIcon::Warning, MsgButtons::Ok);
    return;
  }
  recorder_.SetNormalize(settings_.Normalize);
  recorder_.SetStatusCallback([this](const std::string& t) { return host_->SetStatus(t); });
  ProgressForm->Reset();
  ProgressForm->overallLength = recorder_.TotalSectors();
  ProgressForm->tag = 0;
  ProgressForm->ShowErrorCount(true);
  ProgressForm->show();
  setEnabled(false);
  // The progress window is a window of its own: disabling this one must not
  // take its "Отмена" away.
  ProgressForm->setEnabled(true);
  Timer1->stop();
  StartThread(TWriteThread::kWrite, testWrite);
}

int TMainWriteForm::RecorderReadOffset() {
  const Recorder::Drive* drive = recorder_.CurrentDrive();
  if (!drive) return 0;
  auto trim = [](const std::string& s) {
    const auto b = s.find_first_not_of(' ');
    return b == std::string::npos ? std::string() : s.substr(b, s.find_last_not_of(' ') - b + 1);
  };
  const std::string name = trim(drive->identification);
  const ProgramOptions options = session_.Options();
  for (const auto& d : session_.Drives()) {
    const std::string listed = trim(d.name);
    if (!listed.empty() && name.rfind(listed, 0) == 0) return options.ReadOffsetOf(d.name);
  }
  return 0;
}

void TMainWriteForm::StartThread(int mode, bool testWrite) {
  if (thread_) thread_->Wait();
  thread_ = std::make_unique<TWriteThread>(recorder_, *host_, host_->dialogs, cancel_);
  thread_->mode = mode;
  thread_->testWrite = testWrite;
  thread_->settings = settings_;
  thread_->files = compilation_.Paths();
  for (const auto& r : compilation_.Rows()) thread_->names.push_back(r.name);
  thread_->verify = session_.Options().WriteVerify;
  thread_->readOffset = RecorderReadOffset();
  VerifyPanel->hide();
  busy_ = true;
  thread_->Start();
}

void TMainWriteForm::ThreadEnded() {
  if (thread_) thread_->Wait();
  busy_ = false;
  setEnabled(true);
  ProgressForm->tag = 3;
  ProgressForm->hide();
  // The end of a write is said (a failure has been named already).
  if (thread_ && thread_->mode == TWriteThread::kWrite) {
    const TWriteThread::Outcome outcome = thread_->Result();
    if (outcome == TWriteThread::Outcome::Done)
      dialogs_.Notice(thread_->testWrite ? "Тестовая запись завершена." : "Запись диска завершена.",
                      kProgramTitle, MsgIcon::Information);
    else if (outcome == TWriteThread::Outcome::Cancelled)
      dialogs_.Notice("Запись диска прервана.", kProgramTitle, MsgIcon::Information);
  }
  if (closeAfterRun_) {
    closeAfterRun_ = false;
    QTimer::singleShot(0, this, &QWidget::close);
  }
}

void TMainWriteForm::Blank(bool full, bool fromMenu) {
  if (full && discBlank_ &&
      dialogs_.Message("Диск чист. Продолжить?", kProgramTitle, MsgIcon::Question, MsgButtons::YesNo) != IdYes)
    return;
  if (fromMenu && settings_.AskBeforeDiscOps &&
      dialogs_.Message(full ? "Произвести полную чистку диска?" : "Произвести быструю чистку диска?", kProgramTitle,
                       MsgIcon::Information, MsgButtons::YesNo) != IdYes)
    return;
  StopButtonClick();
  auto* window = new BlankWindow(Q(full ? "Полная чистка диска ..." : "Быстрая чистка диска ..."), this);
  blankWindow_ = window;
  Timer1->stop();
  StartThread(full ? TWriteThread::kBlankFull : TWriteThread::kBlankMinimal, false);
  window->exec();
  if (thread_) thread_->Wait();
  busy_ = false;
  blankWindow_ = nullptr;
  delete window;
  RefreshDiscState();
}

void TMainWriteForm::EjectButtonClick() {
  recorder_.Lock(false);
  const int state = recorder_.Mechanism();
  if (state == 5) ejectToggle_ = 1;
  else if (state == 1) ejectToggle_ = 0;
  recorder_.Eject(ejectToggle_ % 2 == 0);
  ++ejectToggle_;
  RefreshDiscState();
}

void TMainWriteForm::SettingButtonClick() {
  TWriteSettingForm form(settings_, dialogs_, this, &session_);
  form.exec();
}

void TMainWriteForm::CDInfoButtonClick() {
  const Recorder::Drive* d = recorder_.CurrentDrive();
  std::string id;
  std::uint8_t caps[Recorder::kCapabilitiesLength] = {};
  if (d) {
    id = d->identification;
    std::copy(d->capabilities.begin(), d->capabilities.end(), caps);
  }
  TCDInfo info(this, CapabilityReportLines(id, caps, sizeof caps));
  info.exec();
}

void TMainWriteForm::ConvertButtonClick() {
  StopButtonClick();
  TConvertForm form(session_, this);
  // Without libkelpra.so (said by the form) there is no window to show.
  if (!form.Created()) return;
  const QRect g = geometry();
  form.setGeometry(g);
  hide();
  form.exec();
  setGeometry(form.geometry());
  show();
}

MediaPlayer& TMainWriteForm::Player() { return player_ ? *player_ : session_.Media(); }

void TMainWriteForm::PlayRow(int row) {
  const auto& rows = compilation_.Rows();
  if (row < 0 || row >= static_cast<int>(rows.size())) return;
  MediaPlayer& player = Player();
  if (playing_) {
    player.CloseMedia();
    playing_ = false;
  }
  const std::string path = rows[static_cast<std::size_t>(row)].Path();
  // The owner is this window; video gets a window of its own.
  if (!player.OpenMediaFile(path, reinterpret_cast<std::uintptr_t>(this))) {
    // What the player cannot play goes to the desktop's own program.
    OpenWithDesktop(dialogs_, path);
    return;
  }
  ListView->setCurrentItem(ListView->topLevelItem(row));
  StartOpened(row);
}

void TMainWriteForm::StartOpened(int index) {
  MediaPlayer& player = Player();
  playing_ = true;
  VolumeChanged();
  mediaLength_ = player.GetMediaLength();
  PaintBox1->SetScale(mediaLength_ > 0 ? mediaLength_ : 1000);
  PaintBox1->SetPosition(0);
  player.PlayMedia();
  currentIndex_ = index;
}

void TMainWriteForm::PlayButtonClick() {
  QTreeWidgetItem* item = ListView->currentItem();
  if (!item) return;
  PlayRow(ListView->indexOfTopLevelItem(item));
}

void TMainWriteForm::StepButtonClick(int step) {
  const int n = static_cast<int>(compilation_.Rows().size());
  int index = currentIndex_ + step;
  if (index < 0 || index >= n) index = 0;
  PlayRow(index);
}

void TMainWriteForm::StopButtonClick() {
  // The Session's player is made on first use: nothing to close before.
  if (player_ || session_.MediaMade()) Player().CloseMedia();
  playing_ = false;
  currentIndex_ = -1;
  PaintBox1->SetPosition(0);
}

void TMainWriteForm::VolumeChanged() {
  // 255 is full volume, each step down a tenth of a decibel.
  if (playing_) Player().SetMediaVolume(VolumeBar->value() * 10 - 2550);
}

void TMainWriteForm::PositionReleased(double position) {
  if (playing_) Player().SetMediaPosition(static_cast<int>(position));
}

void TMainWriteForm::TimerTick() {
  if (recorder_.MediaChanged()) RefreshDiscState();
  if (!playing_ || PaintBox1->Dragging()) return;
  MediaPlayer& player = Player();
  int position = player.GetMediaPosition();
  // The last position a stream reports may fall a few hundredths short of
  // its length: its end counts as reaching the length.
  const bool atEnd = (mediaLength_ > 0 && position >= mediaLength_) ||
                     player.WaitForEnd(0) == MediaPlayer::WaitResult::Ended;
  if (atEnd) {
    // At the end of a file the next row plays.
    PaintBox1->SetPosition(0);
    player.RewindMedia();
    StepButtonClick(1);
    position = 0;
  }
  PaintBox1->SetPosition(position);
}

void TMainWriteForm::PlaySoundFile(const std::string& path) {
  if (path.empty()) return;  // no sound file chosen
  MediaPlayer& player = Player();
  if (playing_) {
    player.CloseMedia();
    playing_ = false;
  }
  if (!player.OpenMediaFile(path, reinterpret_cast<std::uintptr_t>(this))) {
    OpenWithDesktop(dialogs_, path);
    return;
  }
  StartOpened(0);
}

void TMainWriteForm::MoveRow(int from, int to) {
  const int n = static_cast<int>(compilation_.Rows().size());
  if (from < 0 || from >= n || to < 0 || to >= n || from == to) return;
  const int at = compilation_.Move(from, to);
  FillList();
  ListView->setCurrentItem(ListView->topLevelItem(at));
}

void TMainWriteForm::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Delete && ListView->hasFocus()) {
    compilation_.Remove(ListView->indexOfTopLevelItem(ListView->currentItem()));
    FillList();
    return;
  }
  QDialog::keyPressEvent(event);
}

void TMainWriteForm::closeEvent(QCloseEvent* event) {
  if (busy_) {
    event->ignore();
    // A write asks as its progress window's Cancel does; on yes the window
    // closes once the write has stopped. Blanking runs to its end.
    if (!closeAfterRun_ && ProgressForm->tag == 0 && ProgressForm->isVisible()) {
      ProgressForm->RefuseClose();
      if (cancel_.load()) closeAfterRun_ = true;
    }
    return;
  }
  QDialog::closeEvent(event);
}

void TMainWriteForm::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void TMainWriteForm::dropEvent(QDropEvent* event) {
  std::vector<std::string> paths;
  for (const QUrl& u : event->mimeData()->urls())
    if (u.isLocalFile()) paths.push_back(S(u.toLocalFile()));
  AddFiles(paths);
}

}  // namespace sonarvex

#include "app/ui/TMainForm.h"

#include <sys/stat.h>

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QProgressDialog>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileSystemWatcher>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPixmap>
#include <QPointer>
#include <QScreen>
#include <QPainter>
#include <QSlider>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "platform/ui/Icons.h"
#include "platform/ui/DesktopOpen.h"
#include "platform/ui/HelpWindow.h"
#include "app/MainFormRules.h"
#include "app/ui/NoticeLabel.h"
#include "playback/ui/PositionBar.h"
#include "app/MediaSearch.h"
#include "session/Session.h"
#include "playback/MediaPlayer.h"
#include "playback/SoundVolume.h"
#include "conversion/ui/TConvertForm.h"
#include "recording/ui/TMainWriteForm.h"
#include "playback/CdMixer.h"
#include "playback/NHandler.h"
#include "playback/VolumeRouting.h"
#include "drive/AspiTransport.h"
#include "drive/DeviceDirectory.h"
#include "drive/DriveCommands.h"
#include "drive/PlayPosition.h"
#include "drive/SptiTransport.h"
#include "drive/ui/TCDInfo.h"
#include "metadata/AlbumDatabase.h"
#include "metadata/DiscId.h"
#include "metadata/ui/TChoseForm.h"
#include "settings/ProfileCommands.h"
#include "settings/SettingsFormHost.h"
#include "settings/SettingsFormModel.h"
#include "settings/SettingsFormRules.h"
#include "settings/ui/TSettingsForm.h"
#include "drive/ui/TReadCommandForm.h"
#include "rip/OutputNaming.h"
#include "codec/FormatRegistry.h"
#include "codec/EncoderSet.h"
#include "codec/ui/TMP3Config.h"
#include "metadata/AlbumView.h"
#include "metadata/ui/ChoseFormChooser.h"
#include "metadata/CddbLookup.h"
#include "records/CoverImage.h"
#include "metadata/LookupSources.h"
#include "metadata/ui/TCDDBEditForm.h"
#include "metadata/ui/TID3Form.h"
#include "platform/Cp1251.h"
#include "records/TextFields.h"
#include "platform/Dialogs.h"
#include "platform/Files.h"
#include "platform/ui/QtText.h"
#include "platform/Shell.h"
#include "platform/XdgAssociations.h"

namespace sonarvex {
namespace {

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

QColor FromColorRef(std::uint32_t c) {
  // System colours: 0x8000000A (inactive border), 0x80000005 (window background).
  if (c == 0x8000000A) return QApplication::palette().color(QPalette::Inactive, QPalette::Window);
  if (c == 0x80000005) return QApplication::palette().color(QPalette::Base);
  return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
}

void Paint(QWidget* w, std::uint32_t colorref, QPalette::ColorRole role = QPalette::Window) {
  QPalette pal = w->palette();
  pal.setColor(role, FromColorRef(colorref));
  if (role == QPalette::Base) pal.setColor(QPalette::Window, FromColorRef(colorref));
  w->setPalette(pal);
  w->setAutoFillBackground(true);
}

constexpr int kButtonWidth = 38;
constexpr int kButtonHeight = 39;

// Columns of the track list.
enum Column { ColTrack, ColTime, ColSize, ColMp3, ColState };

}  // namespace

bool TMainForm::Available(const std::string& component) {
  // Windows that come with later parts of the program: their commands are
  // present but stay disabled until the window exists.
  static const std::set<std::string> kNotYet = {};
  return kNotYet.count(component) == 0;
}

// What the settings dialog and the profile commands ask of the window.
// What the windows and commands opened from here ask of the main window.
struct TMainForm::Hosts : SettingsFormHost, ProfileHost, ProfileChooser, RipHost, AlbumView {
  explicit Hosts(TMainForm& form)
      : f(form),
        commands(form.session_.Profiles(), form.session_.SettingFolder(), form.dialogs_, *this,
                 *this) {}

  // SettingsFormHost.
  std::optional<ReadCommandChoice> DetectReadCommand(const ReadCommandRequest& r) override {
    const auto& drives = f.session_.Drives();
    if (r.Drive < 0 || r.Drive >= static_cast<int>(drives.size())) return std::nullopt;
    // The detection window writes its choice into these two controls.
    QLineEdit sectors(QString::number(r.SectorsPerRead));
    QComboBox types;
    for (int k = 0; k < 24; ++k) types.addItem(Q(std::string(DriveTypeName(k))));
    ReadCommandFormContext context;
    context.discPresent = [this] { return f.DiscPresent(); };
    context.useSpti = r.UseSpti;
    context.device = drives[r.Drive].device;
    context.numSecReadEdit = &sectors;
    context.driveTypeBox = &types;
    context.windowColour = FromColorRef(r.WindowColor);
    QWidget* owner = f.settingsForm_ ? static_cast<QWidget*>(f.settingsForm_) : &f;
    TReadCommandForm form(owner, f.dialogs_, f.session_.Spti(), f.session_.Aspi(), context);
    if (form.Run() != QDialog::Accepted) return std::nullopt;
    return ReadCommandChoice{types.currentIndex(), sectors.text().toInt()};
  }
  // The search runs here, with the events pumped: a window with a moving bar,
  // what is being done and a button that stops it.
  ReadOffsetFinding FindReadOffset(int drive) override {
    QWidget* owner = f.settingsForm_ ? static_cast<QWidget*>(f.settingsForm_) : &f;
    QProgressDialog progress(Q("Определение смещения чтения…"), Q("Прервать"), 0, 0, owner);
    progress.setObjectName("FindOffsetProgress");
    progress.setWindowTitle(Q(kProgramTitle));
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(0);
    progress.show();
    QApplication::setOverrideCursor(Qt::BusyCursor);
    const Session::OffsetResult r = f.session_.FindReadOffset(
        drive, {},
        [&progress] {
          QCoreApplication::processEvents();
          return !progress.wasCanceled();
        },
        [&progress](const std::string& what) { progress.setLabelText(Q("Определение смещения чтения: " + what)); });
    QApplication::restoreOverrideCursor();
    progress.close();
    ReadOffsetFinding found;
    found.Found = r.outcome == Session::OffsetResult::Outcome::Found;
    found.Offset = r.offset;
    if (r.outcome != Session::OffsetResult::Outcome::Stopped) found.Message = r.message;
    return found;
  }
  WindowState State() override { return f.state_; }
  bool DiscPresent() override { return f.DiscPresent(); }
  int SelectedTrack() override {
    QTreeWidgetItem* item = f.listView_->currentItem();
    return item ? f.listView_->indexOfTopLevelItem(item) : -1;
  }
  bool PlayEnabled() override { return f.ComponentEnabled("SpeedButton11"); }
  bool StopEnabled() override { return f.ComponentEnabled("SpeedButton16"); }
  void PlayRange(int track, Msf from, Msf to) override {
    int count = std::min<int>(f.album_.TrackCount, kMaxAlbumTracks - 1);
    if (track < 0 || track >= count || f.session_.Drives().empty()) return;
    f.positionBar_->SetScale(f.album_.Tracks[track + 1].StartSector -
                             f.album_.Tracks[track].StartSector);
    f.currentTrack_ = track;
    f.state_ = WindowState::Playing;
    PlayAudioMSF(f.CurrentTransport(), from, to);
  }
  void StopPlay() override { f.Stop(); }

  // ProfileHost.
  void Stop() override { f.Stop(); }
  void LoadSettings(const std::string& fileName) override { f.LoadSettings(fileName); }
  bool SaveSettings(const std::string& fileName) override { return f.SaveSettings(fileName); }
  void ShowProfileMenu(const ProfileMenu& menu) override {
    for (const ProfileMenuItem& item : menu) {
      auto* a = f.findChild<QAction*>(Q(item.Name));
      if (!a) continue;
      a->setText(Q(item.Caption));
      a->setVisible(item.Visible);
      a->setChecked(item.Checked);
    }
  }

  // ProfileChooser, shown with the chooser window.
  std::optional<ChooserAnswer> Choose(const ChooserRequest& r) override {
    TChoseForm chooser(&f, FormColors{f.settings_.WindowColor, f.settings_.EditColor});
    chooser.SetLabelText(Q(r.Label));
    chooser.SetEditable(r.Editable);
    QStringList items;
    for (const auto& i : r.Items) items << Q(i);
    chooser.SetItems(items);
    chooser.SetItemIndex(r.Index);
    if (r.Editable) chooser.SetText(Q(r.Text));
    chooser.exec();
    return ChooserAnswer{S(chooser.Text()), chooser.ItemIndex()};
  }

  // RipHost: the ripping loop on the track list.
  int RowCount() override { return f.listView_->topLevelItemCount(); }
  bool RowTicked(int row) override { return Item(row)->checkState(ColTrack) == Qt::Checked; }
  void SetRowTicked(int row, bool on) override {
    Item(row)->setCheckState(ColTrack, on ? Qt::Checked : Qt::Unchecked);
  }
  void SetRowStatus(int row, const std::string& text) override {
    Item(row)->setText(ColState, Q(text));
    Item(row)->setToolTip(ColState, Q(text));
  }
  void SetRowImage(int row, int image) override {
    Item(row)->setIcon(ColTrack, QIcon(ListImage(image)));
  }
  void SelectRow(int row) override {
    f.listView_->setCurrentItem(Item(row));
    f.listView_->scrollToItem(Item(row));
  }
  std::string RowCaption(int row) override { return S(Item(row)->text(ColTrack)); }
  void SetCaption(const std::string& text) override { f.setWindowTitle(Q(text)); }
  // The grab's progress as a whole stands in the time panel while it runs.
  void SetOverallProgress(int percent) override {
    if (percent < 0)
      f.timePanel_->clear();
    else
      f.timePanel_->setText(Q("Всего " + std::to_string(percent) + "%"));
  }
  void Pump() override {
    if (f.context_.Pump)
      f.context_.Pump();
    else
      QCoreApplication::processEvents();
  }
  void SetState(WindowState s) override { f.state_ = s; }
  bool Interrupted() override { return f.closeRequested_; }
  // The hidden track before track 1 stands in the time panel while it is
  // ripped: its notices, then its status.
  void HiddenTrackNotice(const std::string& text) override { f.timePanel_->setText(Q(text)); }
  void HiddenTrackStatus(const std::string& text) override {
    f.timePanel_->setText(Q(std::string(kHiddenTrackTitle) + ": " + text));
  }
  void SetControlsEnabled(bool on) override { f.SetControlsEnabled(on); }
  void SetTimerEnabled(bool on) override {
    if (on)
      f.timer1_->start();
    else
      f.timer1_->stop();
  }
  void SetVolume(int v) override { f.SetVolume(v); }
  int VolumePosition() override { return f.volumeBar_->value(); }
  void Eject() override {
    f.eject_.Reset();
    f.Eject();
  }
  bool OutputFolderMissing(const std::string& folder) override {
    f.dialogs_.Message(MissingFolderMessage(folder), kProgramTitle, MsgIcon::Warning,
                       MsgButtons::Ok);
    return f.OpenSettingsForFolder();
  }

  // AlbumView: the lookup and the tag editor change the boxes and captions.
  void SetAlbumName(const std::string& text) override { f.albumNameEdit_->setText(Q(text)); }
  void SetArtist(const std::string& text) override { f.groupEdit_->setEditText(Q(text)); }
  void SetTrackCaption(int row, const std::string& text) override {
    if (row >= 0 && row < f.listView_->topLevelItemCount()) {
      QSignalBlocker block(f.listView_);
      Item(row)->setText(ColTrack, Q(text));
    }
  }

  QTreeWidgetItem* Item(int row) { return f.listView_->topLevelItem(row); }

  TMainForm& f;
  ProfileCommands commands;
};

TMainForm::TMainForm(Session& session, const MainFormContext& context, QWidget* parent)
    : QMainWindow(parent),
      session_(session),
      context_(context),
      dialogs_(session.Dialog()),
      settings_(session.Settings()),
      album_(session.Album()),
      tags_(session.Tags()) {
  setObjectName("MainForm");
  setWindowTitle(U(kProgramTitle));
  setMinimumSize(578, 392);
  resize(640, 460);

  QWidget* central = new QWidget(this);
  auto* column = new QVBoxLayout(central);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  setCentralWidget(central);

  panel2_ = new QWidget(central);
  panel2_->setObjectName("Panel2");
  panel2_->setFixedHeight(kButtonHeight + 2);
  BuildToolbar(panel2_);
  panel2_->installEventFilter(this);
  // The button with the keyboard focus is plainly marked.
  central->setStyleSheet(
      "QToolButton:focus { border: 2px solid palette(highlight); border-radius: 3px; }");
  column->addWidget(panel2_);

  BuildTrackList();
  column->addWidget(listView_, 1);

  panel3_ = new QWidget(central);
  panel3_->setObjectName("Panel3");
  BuildArtistPanel(panel3_);
  column->addWidget(panel3_);

  panel1_ = new QWidget(central);
  panel1_->setObjectName("Panel1");
  BuildTransportPanel(panel1_);
  column->addWidget(panel1_);

  panel4_ = new QWidget(central);
  panel4_->setObjectName("Panel4");
  BuildStatusPanel(panel4_);
  column->addWidget(panel4_);

  hosts_ = std::make_unique<Hosts>(*this);
  BuildMenus();

  timer1_ = new QTimer(this);
  timer1_->setObjectName("Timer1");
  timer1_->setInterval(300);
  connect(timer1_, &QTimer::timeout, this, &TMainForm::OnTimer);

  mp3ConfigGeometry_ = QRect(geometry().left() + 100, geometry().top() + 100, 214, 305);
  // Start-up, in order: the session has started the drives; the window
  // lists them, makes the encoder set (which loads its libraries when a
  // grab or a chooser first needs them, and reports a missing one then)
  // and loads the profiles, which loads the settings and reads the disc.
  session_.SetPoster([this](std::function<void()> call) {
    QMetaObject::invokeMethod(this, std::move(call), Qt::QueuedConnection);
  });
  RebuildDriveList();
  session_.Encoders();
  OpenMixer();
  // Drives the program could not open are named once, with the reason.
  if (const std::string problems = session_.Directory().ProblemsMessage(); !problems.empty())
    dialogs_.Notice(problems, kProgramTitle, MsgIcon::Warning);
  LoadProfiles();
  state_ = WindowState::Idle;
  positionBar_->SetScale(1000);
  positionBar_->SetPosition(0);
  FillArtistBox(true);

  qApp->installEventFilter(this);
  timer1_->start();

  // A settings change made on the command line while the window runs
  // reaches the window (and is not written over when it closes).
  settingsWatcher_ = new QFileSystemWatcher(this);
  settingsWatcher_->setObjectName("SettingsWatcher");
  if (DirectoryExists(session_.SettingFolder()))
    settingsWatcher_->addPath(Q(session_.SettingFolder()));
  connect(settingsWatcher_, &QFileSystemWatcher::directoryChanged, this,
          [this] { TakeSettingsChangedOnDisk(); });
}

void TMainForm::ApplyDisplaySettings() {
  listView_->setStyleSheet(settings_.ShowGrid
                               ? "QTreeWidget::item { border-right: 1px solid #c0c0c0; "
                                 "border-bottom: 1px solid #c0c0c0; }"
                               : "");
  LayoutToolbar();
  if (state_ != WindowState::Searching && state_ != WindowState::FileList) {
    RecomputeSizes();
    ApplyColours();
  }
}

void TMainForm::TakeSettingsChangedOnDisk() {
  // Not while the settings dialog holds the record or a grab uses it: the
  // change is taken at the next chance, at the latest when the window saves.
  if (settingsForm_ || shutDown_ || state_ == WindowState::Copying ||
      state_ == WindowState::Compressing)
    return;
  if (session_.TakeSettingsChangedOnDisk() == 0) return;
  volumeBar_->blockSignals(true);
  volumeBar_->setValue(settings_.Volume);
  volumeBar_->blockSignals(false);
  ApplyDisplaySettings();
}

TMainForm::~TMainForm() {
  qApp->removeEventFilter(this);
  Shutdown();
}

QToolButton* TMainForm::AddToolButton(QWidget* parent, const char* name, const QString& hint,
                                      const QString& theme, const QString& label, unsigned rgb) {
  auto* b = new QToolButton(parent);
  b->setObjectName(name);
  b->setAutoRaise(true);
  b->setFixedSize(kButtonWidth, kButtonHeight);
  b->setIconSize(QSize(28, 28));
  b->setIcon(ToolIcon(theme, label, rgb));
  b->setToolTip(hint);
  return b;
}

void TMainForm::BuildToolbar(QWidget* parent) {
  struct Def {
    const char* name;
    const char* hint;
    const char* theme;
    const char* label;
    unsigned rgb;
  };
  // The burn and player glyphs are the program's own: the desktop theme's
  // are grey and looked disabled.
  const Def defs[13] = {
      {"SpeedButton1", "Обновить информацию о диске", "view-refresh", "↻", 0x3c78c8},
      {"SpeedButton2", "Сграбить в MP3", "", "MP3", 0x2a8a4a},
      {"WMAButton", "Сграбить в WMA", "", "WMA", 0x8a5a2a},
      {"SpeedButton18", "Сграбить в WAVE", "", "WAV", 0x2a6a8a},
      {"FlacButton", "Сграбить в FLAC", "", "FLAC", 0x2a7a7a},
      {"BurnCDButton", "Создать AudioCD", "", "CD", 0xb03a2e},
      {"TagSpeedButton", "ID3v2...", "", "ID3", 0x7a4ab0},
      {"ConvertButton", "Конвертирование файлов WAVE, MP3, WMA", "", "⇄", 0x4a7a2a},
      {"SpeedButton6", "Запрос CDDB", "", "DB", 0x2a5ab0},
      {"SettingButton", "Настройки...", "preferences-system", "⚙", 0x606060},
      {"SpeedButton4", "Запустить ваш медиа плеер...", "", "▶", 0xc07a20},
      {"SpeedButton7", "Искать медиа файлы на диске...", "system-search", "?", 0x208a8a},
      {"SpeedButton8", "Создать M3U лист...", "", "M3U", 0x8a2a6a},
  };
  for (const auto& d : defs) {
    QToolButton* b = AddToolButton(parent, d.name, U(d.hint), U(d.theme), U(d.label), d.rgb);
    toolbar_.push_back(b);
  }
  profButton_ = AddToolButton(parent, "SpeedButton17", U("Конфигурация"), "", "P", 0x505080);
  exitButton_ = AddToolButton(parent, "SpeedButton25", U("Уйти..."), "application-exit", "✕",
                              0x903030);

  connect(toolbar_[0], &QToolButton::clicked, this, &TMainForm::Refresh);
  connect(toolbar_[10], &QToolButton::clicked, this, &TMainForm::StartPlayer);
  connect(toolbar_[9], &QToolButton::clicked, this, [this] { OpenSettings(); });
  connect(toolbar_[7], &QToolButton::clicked, this, [this] { ConvertFiles(); });
  connect(toolbar_[11], &QToolButton::clicked, this, [this] { SearchMedia(); });
  connect(toolbar_[5], &QToolButton::clicked, this, [this] { RecordAudioCd(); });
  connect(toolbar_[12], &QToolButton::clicked, this, [this] { CreateM3uList(); });
  connect(toolbar_[1], &QToolButton::clicked, this, [this] { Grab(GrabSender::Mp3Button); });
  connect(toolbar_[2], &QToolButton::clicked, this, [this] { Grab(GrabSender::Wma); });
  connect(toolbar_[3], &QToolButton::clicked, this, [this] { Grab(GrabSender::Wave); });
  connect(toolbar_[4], &QToolButton::clicked, this, [this] { Grab(GrabSender::Flac); });
  connect(toolbar_[6], &QToolButton::clicked, this, &TMainForm::OpenTagEditor);
  connect(toolbar_[8], &QToolButton::clicked, this, &TMainForm::CddbLookupCommand);
  connect(exitButton_, &QToolButton::clicked, this, &QWidget::close);
  connect(profButton_, &QToolButton::clicked, this, [this] {
    if (state_ == WindowState::Copying || !profMenu_) return;
    profMenu_->popup(profButton_->mapToGlobal(QPoint(0, profButton_->height())));
  });
}

void TMainForm::BuildTrackList() {
  listView_ = new QTreeWidget(this);
  listView_->setObjectName("ListView");
  listView_->setRootIsDecorated(false);
  listView_->setUniformRowHeights(true);
  listView_->setSelectionBehavior(QAbstractItemView::SelectRows);
  listView_->setSelectionMode(QAbstractItemView::SingleSelection);
  listView_->setEditTriggers(QAbstractItemView::EditKeyPressed);
  listView_->setColumnCount(5);
  listView_->setHeaderLabels(
      {U("Трeк"), U("Время"), U("Размер"), U("В MP3"), U("Состояние")});
  listView_->headerItem()->setIcon(ColMp3, QIcon(ListImage(0)));
  listView_->header()->setMinimumSectionSize(30);
  // The status column takes the room a wider window gives.
  listView_->header()->setStretchLastSection(true);
  listView_->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(listView_, &QTreeWidget::itemDoubleClicked, this, [this] { Play(false); });
  connect(listView_, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int col) {
    // A renamed row: its caption becomes the track title.
    if (col != ColTrack) return;
    int row = listView_->indexOfTopLevelItem(item);
    if (row < 0 || row >= album_.TrackCount || row >= kMaxAlbumTracks) return;
    // The title is kept in full (any script), cut at 49 characters.
    RecordTexts& texts = session_.AlbumTexts();
    const std::string title = S(item->text(ColTrack));
    if (title == TrackTitleText(album_, texts, row)) return;
    SetTrackTitleText(album_, texts, row, title);
    TrackTags tag = tags_.GetTags(row, album_.TrackCount);
    if (tag.On()) {
      tag.Set(TagField::Title, title);
      tags_.SetTags(row, album_.TrackCount, tag);
    }
  });
  connect(listView_, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
    if (!popupMenu1_ || state_ == WindowState::Copying || !listView_->currentItem()) return;
    if (auto* first = findChild<QAction*>("PMTrackName"))
      first->setText(listView_->currentItem()->text(ColTrack));
    popupMenu1_->popup(listView_->viewport()->mapToGlobal(pos));
  });
  listView_->header()->setSectionsClickable(true);
  connect(listView_->header(), &QHeaderView::sectionClicked, this, [this](int section) {
    if (section == ColMp3) ShowMp3Config();
  });
}

namespace {
constexpr int kCoverSize = 96;  // pixels; the picture is scaled into it
}  // namespace

void TMainForm::ShowCover(bool fetch) {
  const std::shared_ptr<const CoverImage> cover =
      DiscPresent() ? session_.CurrentCover(fetch, nullptr, [this] { hosts_->Pump(); }) : nullptr;
  QPixmap picture;
  if (cover &&
      picture.loadFromData(cover->bytes.data(), static_cast<uint>(cover->bytes.size()))) {
    coverImage_->setPixmap(
        picture.scaled(kCoverSize, kCoverSize, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    coverImage_->setToolTip(U("Обложка альбома"));
    coverImage_->show();
  } else {
    coverImage_->clear();
    coverImage_->hide();
  }
}

void TMainForm::BuildArtistPanel(QWidget* parent) {
  auto* row = new QHBoxLayout(parent);
  row->setContentsMargins(4, 3, 4, 3);
  auto* groupLabel = new QLabel(U("Группа"), parent);
  groupLabel->setObjectName("Label1");
  groupEdit_ = new QComboBox(parent);
  groupEdit_->setObjectName("GroupEdit");
  groupEdit_->setEditable(true);
  groupEdit_->setInsertPolicy(QComboBox::InsertAlphabetically);
  auto* albumLabel = new QLabel(U("Альбом"), parent);
  albumLabel->setObjectName("Label2");
  albumNameEdit_ = new QLineEdit(parent);
  albumNameEdit_->setObjectName("AlbumNameEdit");
  row->addWidget(groupLabel);
  row->addWidget(groupEdit_, 1);
  row->addSpacing(8);
  row->addWidget(albumLabel);
  row->addWidget(albumNameEdit_, 1);
  coverImage_ = new QLabel(parent);
  coverImage_->setObjectName("CoverImage");
  coverImage_->setFixedSize(kCoverSize, kCoverSize);
  coverImage_->setAlignment(Qt::AlignCenter);
  coverImage_->hide();
  row->addSpacing(8);
  row->addWidget(coverImage_);
  // Each change goes into the album record (at most 49 characters fit).
  connect(groupEdit_, &QComboBox::editTextChanged, this, [this](const QString& text) {
    SetAlbumText(album_, session_.AlbumTexts(), AlbumField::Artist, S(text));
  });
  connect(albumNameEdit_, &QLineEdit::textChanged, this, [this](const QString& text) {
    SetAlbumText(album_, session_.AlbumTexts(), AlbumField::AlbumTitle, S(text));
  });
}

void TMainForm::BuildTransportPanel(QWidget* parent) {
  auto* row = new QHBoxLayout(parent);
  row->setContentsMargins(2, 2, 2, 2);
  row->setSpacing(1);
  struct Def {
    const char* name;
    const char* hint;
    const char* label;
    unsigned rgb;
  };
  const Def defs[] = {
      {"SpeedButton9", "Снять выделения", "☐", 0x707070},
      {"SpeedButton10", "Выбрать все", "☑", 0x707070},
      {"SpeedButton11", "Играть ", "▶", 0x2a7a3a},
      {"SpeedButton5", "Играть выбранное", "▶✓", 0x2a7a3a},
      {"SpeedButton12", "Пауза", "❚❚", 0x2a5a8a},
      {"SpeedButton14", "Предидущий трек (-)", "◀◀", 0x2a5a8a},
      {"SpeedButton15", "Следующий трек (+)", "▶▶", 0x2a5a8a},
      {"SpeedButton16", "Стоп", "■", 0x8a2a2a},
      {"SpeedButton13", "Извлечь диск", "⏏", 0x5a5a5a},
  };
  for (const auto& d : defs) {
    auto* b = new QToolButton(parent);
    b->setObjectName(d.name);
    b->setAutoRaise(true);
    b->setFixedSize(26, 24);
    b->setIconSize(QSize(20, 20));
    b->setIcon(ToolIcon("", U(d.label), d.rgb));
    b->setToolTip(U(d.hint));
    row->addWidget(b);
  }
  auto find = [parent](const char* n) { return parent->findChild<QToolButton*>(n); };
  find("SpeedButton9")->setProperty("tag", 0);
  find("SpeedButton10")->setProperty("tag", 1);
  connect(find("SpeedButton9"), &QToolButton::clicked, this, [this] { TickAll(false); });
  connect(find("SpeedButton10"), &QToolButton::clicked, this, [this] { TickAll(true); });
  connect(find("SpeedButton11"), &QToolButton::clicked, this, [this] { Play(false); });
  connect(find("SpeedButton5"), &QToolButton::clicked, this, [this] { Play(true); });
  connect(find("SpeedButton12"), &QToolButton::clicked, this, &TMainForm::Pause);
  connect(find("SpeedButton14"), &QToolButton::clicked, this, [this] { Step(-1); });
  connect(find("SpeedButton15"), &QToolButton::clicked, this, [this] { Step(+1); });
  connect(find("SpeedButton16"), &QToolButton::clicked, this, &TMainForm::Stop);
  connect(find("SpeedButton13"), &QToolButton::clicked, this, &TMainForm::Eject);

  positionBar_ = new PositionBar(parent);
  positionBar_->setObjectName("PaintBox1");
  positionBar_->CanDrag = [this] {
    return state_ == WindowState::Playing || state_ == WindowState::FileList;
  };
  positionBar_->Dragged = [this](double p) {
    if (state_ != WindowState::FileList) {
      int sector = static_cast<int>(p);
      timePanel_->setText(Q(TwoDigits(sector / kFramesPerMinute) + ":" +
                            TwoDigits((sector / kFramesPerSecond) % 60)));
    }
  };
  positionBar_->Released = [this](double p) { Seek(p); };
  row->addSpacing(6);
  row->addWidget(positionBar_, 1);
  row->addSpacing(6);

  volumeBar_ = new QSlider(Qt::Horizontal, parent);
  volumeBar_->setObjectName("VolumeBar");
  volumeBar_->setRange(0, 255);
  volumeBar_->setValue(255);
  volumeBar_->setFixedWidth(90);
  volumeBar_->setToolTip(U("Громкость"));
  connect(volumeBar_, &QSlider::valueChanged, this, [this](int v) { SetVolume(v); });
  row->addWidget(volumeBar_);
}

void TMainForm::BuildStatusPanel(QWidget* parent) {
  auto* row = new QHBoxLayout(parent);
  row->setContentsMargins(2, 1, 2, 1);
  row->setSpacing(2);
  cdromBox_ = new QComboBox(parent);
  cdromBox_->setObjectName("CDROMBox");
  cdromBox_->setMinimumWidth(150);
  auto panel = [parent](const char* name, int width) {
    auto* l = new QLabel(parent);
    l->setObjectName(name);
    l->setFrameShape(QFrame::Panel);
    l->setFrameShadow(QFrame::Sunken);
    l->setMinimumWidth(width);
    l->setAutoFillBackground(true);
    return l;
  };
  trackPanel_ = panel("TrackPanel", 70);
  allTimePanel_ = panel("AllTimePanel", 90);
  sizePanel_ = panel("SizePanel", 110);
  sSizeBox_ = new QLabel(parent);
  sSizeBox_->setObjectName("SSizeBox");
  sSizeBox_->setFixedSize(18, 18);
  sSizeBox_->setCursor(Qt::PointingHandCursor);
  sSizeBox_->installEventFilter(this);
  timePanel_ = panel("TimePanel", 90);
  // A long notice gives way to the panels: shortened, whole in its tip.
  findLabel_ = new NoticeLabel(parent);
  findLabel_->setObjectName("FindLabel");
  row->addWidget(cdromBox_);
  row->addWidget(trackPanel_);
  row->addWidget(allTimePanel_);
  row->addWidget(sizePanel_);
  row->addWidget(sSizeBox_);
  row->addWidget(timePanel_);
  row->addWidget(findLabel_, 1);
  connect(cdromBox_, &QComboBox::activated, this, [this](int index) {
    if (index < 0 || index == settings_.DriveIndex) return;
    Stop();
    settings_.DriveIndex = static_cast<std::uint8_t>(index);
    ReadDisc();
  });
}

QAction* TMainForm::AddAction(QMenu* menu, const char* name, const QString& caption,
                              const QKeySequence& shortcut) {
  auto* a = new QAction(caption, this);
  a->setObjectName(name);
  if (!shortcut.isEmpty()) a->setShortcut(shortcut);
  menu->addAction(a);
  return a;
}

void TMainForm::BuildMenus() {
  QMenuBar* bar = menuBar();
  bar->setObjectName("MainMenu1");

  QMenu* file = bar->addMenu(U("&Файл"));
  file->setObjectName("N2");
  AddAction(file, "N12", U("Запустить медиа плеер"), QKeySequence("Ctrl+M"));
  AddAction(file, "N7", U("&Искать медиа файлы..."), QKeySequence("Ctrl+F"));
  AddAction(file, "M3U1", U("&Создать M3U лист..."), QKeySequence("Ctrl+L"))->setVisible(false);
  file->addSeparator();
  AddAction(file, "N25", U("&Конвертировать файлы..."), QKeySequence("F5"));
  AddAction(file, "AudioCD1", U("Записать AudioCD"), QKeySequence("F10"));
  file->addSeparator();
  AddAction(file, "N4", U("Выход"), QKeySequence("Alt+F4"));

  QMenu* act = bar->addMenu(U("&Действие"));
  act->setObjectName("N3");
  AddAction(act, "N1", U("&Обновить"), QKeySequence("F2"));
  AddAction(act, "CDDB2", U("Запрос CDDB"), QKeySequence("Ctrl+Space"));
  act->addSeparator();
  // A grab command for every output format.
  for (const OutputFormat* format : GrabMenuFormats()) {
    QAction* a = AddAction(act, format->menu.action, U(format->menu.caption),
                           QKeySequence(format->menu.shortcut));
    const GrabSender sender{format->kind};
    connect(a, &QAction::triggered, this, [this, sender] { Grab(sender); });
  }
  act->addSeparator();
  AddAction(act, "ID3v2", U("ID3v2"), QKeySequence("F3"));
  AddAction(act, "CDDB1", U("Редактор локальной CDDB"));
  AddAction(act, "N13", U("Переименовать"), QKeySequence("F4"));
  act->addSeparator();
  AddAction(act, "SonarvexCD1", U("Выделить все"), QKeySequence("Ctrl+A"));
  AddAction(act, "N22", U("Снять выделения"), QKeySequence("Alt+A"));
  act->addSeparator();
  AddAction(act, "SysInfo", U("Информация об устройстве"), QKeySequence("Alt+I"));

  QMenu* play = bar->addMenu(U("&Проигрыватель"));
  play->setObjectName("N5");
  AddAction(play, "Play1", U("Играть"), QKeySequence("Ctrl+P"));
  AddAction(play, "N40", U("Играть выбранное"), QKeySequence("Alt+P"));
  AddAction(play, "Stop1", U("Стоп"), QKeySequence("Ctrl+T"));
  AddAction(play, "Eject1", U("Извлечь/загрузить"), QKeySequence("Ctrl+E"));

  QMenu* opts = bar->addMenu(U("&Настройки"));
  opts->setObjectName("N8");
  AddAction(opts, "N6", U("&Настройки..."), QKeySequence("Ctrl+S"));
  AddAction(opts, "ShowMP3ConfigBox", U("Настройка MP3"), QKeySequence("Alt+3"));

  QMenu* help = bar->addMenu(U("&Помощь"));
  help->setObjectName("N10");
  AddAction(help, "N9", U("Помощь..."), QKeySequence("F1"));
  AddAction(help, "N11", U("О программе..."));

  auto on = [this](const char* name, auto slot) {
    if (auto* a = findChild<QAction*>(name)) connect(a, &QAction::triggered, this, slot);
  };
  on("N12", [this] { StartPlayer(); });
  on("N4", [this] { close(); });
  on("N1", [this] { Refresh(); });
  on("N13", [this] { RenameSelected(); });
  on("SonarvexCD1", [this] { TickAll(true); });
  on("N22", [this] { TickAll(false); });
  on("Play1", [this] { Play(false); });
  on("N40", [this] { Play(true); });
  on("Stop1", [this] { Stop(); });
  on("Eject1", [this] { Eject(); });
  on("SysInfo", [this] { DriveReport(); });
  on("N6", [this] { OpenSettings(); });
  on("N25", [this] { ConvertFiles(); });
  on("N7", [this] { SearchMedia(); });
  on("AudioCD1", [this] { RecordAudioCd(); });
  on("M3U1", [this] { CreateM3uList(); });
  on("ID3v2", [this] { OpenTagEditor(); });
  on("CDDB2", [this] { CddbLookupCommand(); });
  on("CDDB1", [this] { OpenAlbumEditor(); });
  on("ShowMP3ConfigBox", [this] { ShowMp3Config(); });
  on("N9", [this] { OpenHelp(); });
  on("N11", [this] { ShowAbout(); });

  // Track list pop-up.
  popupMenu1_ = new QMenu(this);
  popupMenu1_->setObjectName("PopupMenu1");
  QAction* name = AddAction(popupMenu1_, "PMTrackName", QString());
  name->setEnabled(false);
  popupMenu1_->addSeparator();
  QAction* listen = AddAction(popupMenu1_, "N15", U("Послушать"));
  popupMenu1_->setDefaultAction(listen);
  AddAction(popupMenu1_, "N19", U("Играть выбранное"));
  AddAction(popupMenu1_, "N16", U("Переименовать"));
  AddAction(popupMenu1_, "N14", U("Свойства трэка"));
  AddAction(popupMenu1_, "ID3v21", U("ID3v2"));
  connect(listen, &QAction::triggered, this, [this] { Play(false); });
  connect(findChild<QAction*>("N19"), &QAction::triggered, this, [this] { Play(true); });
  connect(findChild<QAction*>("N16"), &QAction::triggered, this, [this] { RenameSelected(); });
  connect(findChild<QAction*>("ID3v21"), &QAction::triggered, this, [this] { OpenTagEditor(); });
  connect(findChild<QAction*>("N14"), &QAction::triggered, this, [this] {
    settings_.SettingsPage = 1;
    OpenSettings();
  });

  // Profiles (radio items of one group).
  profMenu_ = new QMenu(this);
  profMenu_->setObjectName("ProfMenu");
  auto* group = new QActionGroup(this);
  QAction* def = AddAction(profMenu_, "ProfDef", U("&Default"));
  def->setCheckable(true);
  def->setData(-1);
  group->addAction(def);
  for (int k = 0; k < ProfileList::kMaxProfiles; ++k) {
    QAction* a = AddAction(profMenu_, ("Prof" + std::to_string(k + 1)).c_str(), QString());
    a->setCheckable(true);
    a->setData(k);
    a->setVisible(false);
    group->addAction(a);
  }
  profMenu_->addSeparator();
  AddAction(profMenu_, "ProfSave", U("&Сохранить"));
  AddAction(profMenu_, "DelConfigItem", U("Удалить"));
  for (QAction* a : group->actions())
    connect(a, &QAction::triggered, this, [this, a] { hosts_->commands.Pick(a->data().toInt()); });
  connect(findChild<QAction*>("ProfSave"), &QAction::triggered, this,
          [this] { hosts_->commands.Save(); });
  connect(findChild<QAction*>("DelConfigItem"), &QAction::triggered, this,
          [this] { hosts_->commands.Delete(); });
  connect(profMenu_, &QMenu::aboutToShow, this, [this] {
    findChild<QAction*>("DelConfigItem")->setEnabled(hosts_->commands.DeleteEnabled());
  });

  for (const auto& name : Available("SpeedButton2") ? std::vector<std::string>{}
                                                     : std::vector<std::string>{
                                                           "MP3", "OGG1", "WMA1", "WAVE1",
                                                           "ID3v2", "ID3v21", "CDDB1", "CDDB2",
                                                           "N6", "ShowMP3ConfigBox", "N25",
                                                           "AudioCD1", "N7", "M3U1", "SysInfo",
                                                           "N14"})
    SetComponentEnabled(name, false);
  for (auto* b : toolbar_)
    if (!Available(S(b->objectName()))) b->setEnabled(false);
  profButton_->setEnabled(Available("SpeedButton17"));
}

void TMainForm::SetComponentEnabled(const std::string& name, bool on) {
  if (on && !Available(name)) on = false;
  QString n = Q(name);
  if (auto* a = findChild<QAction*>(n)) a->setEnabled(on);
  if (auto* w = findChild<QWidget*>(n)) w->setEnabled(on);
}

bool TMainForm::ComponentEnabled(const std::string& name) const {
  QString n = Q(name);
  if (auto* a = findChild<QAction*>(n)) return a->isEnabled();
  if (auto* w = findChild<QWidget*>(n)) return w->isEnabled();
  return false;
}

void TMainForm::SetControlsEnabled(bool on) {
  for (const auto& change : ControlsEnabledTable(on, DiscPresent()))
    SetComponentEnabled(change.Name, change.Enabled);
  SetComponentEnabled("N7", ComponentEnabled("SpeedButton7"));
}

void TMainForm::LayoutToolbar() {
  std::vector<bool> visible;
  for (const char* name : kToolbarOrder)
    visible.push_back(ToolbarButtonVisible(settings_, name, m3uVisible_));
  std::vector<int> lefts = ToolbarLefts(visible, kButtonWidth);
  for (std::size_t i = 0; i < toolbar_.size(); ++i) {
    toolbar_[i]->setVisible(visible[i]);
    if (visible[i]) toolbar_[i]->move(lefts[i], 1);
  }
  int right = panel2_->width();
  exitButton_->move(right - kButtonWidth, 1);
  profButton_->move(right - 2 * kButtonWidth, 1);
  toolbar_[1]->setToolTip(U(settings_.Mp3AsOgg ? "Сграбить в OGG" : "Сграбить в MP3"));
}

void TMainForm::ApplyColours() {
  ColourScheme c = ComputeColours(settings_.WindowColor, settings_.EditColor);
  Paint(this, c.Window);
  for (QWidget* w : {panel1_, panel2_, panel3_, panel4_}) Paint(w, c.Window);
  for (QLabel* l : {trackPanel_, allTimePanel_, sizePanel_, timePanel_}) Paint(l, c.Window);
  Paint(listView_, c.List, QPalette::Base);
  Paint(albumNameEdit_, c.Edit, QPalette::Base);
  Paint(groupEdit_, c.Edit, QPalette::Base);
  Paint(cdromBox_, c.Edit, QPalette::Base);
  positionBar_->SetBarColor(kDefaultEditColor);
  DrawSizeBox();
}

void TMainForm::DrawSizeBox() {
  QPixmap pm(sSizeBox_->size());
  pm.fill(FromColorRef(kDefaultWindowColor));
  {
    QPainter p(&pm);
    p.drawPixmap(1, 1, ListImage(1 + (settings_.ShowCompressedSize ? 1 : 0)));
  }
  sSizeBox_->setPixmap(pm);
  sSizeBox_->setToolTip(U(settings_.ShowCompressedSize ? "Размер после сжатия"
                                                       : "Размер без сжатия"));
}

void TMainForm::RecomputeSizes() {
  // The column is the MP3 size; its tip the FLAC size.
  const OutputFormat& mp3 = FormatFor(OutputKind::Mp3);
  const OutputFormat& flac = FormatFor(OutputKind::Flac);
  const double r = mp3.expectedRatio(settings_, session_.Encoders());
  const double flacRatio = flac.expectedRatio(settings_, session_.Encoders());
  std::uint64_t sum = 0;
  int rows = std::min<int>(album_.TrackCount, listView_->topLevelItemCount());
  for (int i = 0; i < rows; ++i) {
    const AlbumTrackEntry& t = album_.Tracks[i];
    if (!t.AudioFlag) continue;
    sum += t.Size;
    listView_->topLevelItem(i)->setText(ColMp3, Q(ExpectedSizeText(t.Size, r)));
    listView_->topLevelItem(i)->setToolTip(
        ColMp3, Q(std::string(flac.title) + ": около " + ExpectedSizeText(t.Size, flacRatio)));
  }
  sizePanel_->setText(Q(SizePanelText(sum, r, settings_.ShowCompressedSize != 0)));
}

void TMainForm::LoadProfiles() { hosts_->commands.LoadProfiles(); }

bool TMainForm::DiscPresent() const { return session_.DiscPresent(); }

void TMainForm::LoadSettings(const std::string& fileName) {
  session_.LoadSettings(fileName);
  ApplyColours();
  listView_->setAlternatingRowColors(false);
  listView_->setStyleSheet(settings_.ShowGrid
                               ? "QTreeWidget::item { border-right: 1px solid #c0c0c0; "
                                 "border-bottom: 1px solid #c0c0c0; }"
                               : "");
  // The stored position is the frame's; none stored centres the window.
  WindowPlacement p = session_.Store().LoadPlacement();
  QScreen* screen = QGuiApplication::primaryScreen();
  const QRect area = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
  const ScreenRect place =
      PlaceMainWindow(p.Left, p.Top, p.Width, p.Height, width(), height(), minimumWidth(),
                      minimumHeight(),
                      ScreenRect{area.left(), area.top(), area.width(), area.height()});
  resize(place.Width, place.Height);
  move(place.Left, place.Top);
  for (int i = 0; i < 5; ++i) listView_->setColumnWidth(i, std::max<int>(settings_.ColumnWidths[i], 0));
  if (listView_->columnWidth(ColTrack) < 100) listView_->setColumnWidth(ColTrack, 100);
  volumeBar_->blockSignals(true);
  volumeBar_->setValue(settings_.Volume);
  volumeBar_->blockSignals(false);
  DrawSizeBox();
  LayoutToolbar();
  RebuildDriveList();
  ReadDisc();
}

bool TMainForm::SaveSettings(const std::string& fileName) {
  // The frame's position (what placing the window takes) and the inside's size.
  const QRect g = geometry();
  session_.Store().SavePlacement(pos().y(), pos().x(), g.width(), g.height());
  for (int i = 0; i < 5; ++i)
    settings_.ColumnWidths[i] = static_cast<std::int16_t>(listView_->columnWidth(i));
  // Found files widen the title column for a while; the disc's width is kept.
  if (discTrackWidth_ > 0) settings_.ColumnWidths[ColTrack] = static_cast<std::int16_t>(discTrackWidth_);
  return session_.SaveSettings(fileName);
}

void TMainForm::OpenSettings() { OpenSettings(nullptr); }

void TMainForm::OpenSettings(bool* accepted) { OpenSettings(accepted, this, false); }

void TMainForm::OpenSettings(bool* accepted, QWidget* owner, bool mp3Sheet) {
  if (settingsForm_) return;
  if (mp3Sheet) settings_.SettingsPage = kAudioSettingsPage;
  TSettingsForm form(settings_, album_, tags_, *hosts_, session_, dialogs_, owner,
                     &session_.SettingsTexts(), &session_.AlbumTexts());
  settingsForm_ = &form;
  if (mp3Sheet) {
    // From the conversion window: the MP3 sheet, nothing to play.
    if (auto* sheets = form.findChild<QTabWidget*>("PageControl2")) sheets->setCurrentIndex(0);
    for (const char* name : {"SpeedButton11", "SpeedButton16"})
      if (auto* button = form.findChild<QWidget*>(name)) button->setEnabled(false);
  }
  if (SettingsFormOpened) SettingsFormOpened(form);
  form.exec();
  settingsForm_ = nullptr;
  if (accepted) *accepted = form.Accepted();
  // The read-command detection leaves its transport on the drive it tested
  // with a drive type of its own: every way out puts back the stored ones.
  RestoreDrive();
  if (!form.Accepted()) return;
  AfterCloseSteps steps = CompareForAfterClose(form.Model().LiveBeforeOk(), settings_);
  if (steps.ChooseTransport) {
    session_.ChooseTransport();
    RebuildDriveList();
  }
  if (steps.ReselectDrive || steps.ChooseTransport) {
    if (!session_.Drives().empty()) cdromBox_->setCurrentIndex(settings_.DriveIndex);
    ReadDisc();
  }
  if (settings_.DriveIndex < session_.Drives().size())
    CurrentTransport().SetDriveType(settings_.DriveTypes[settings_.DriveIndex & 15]);
  ApplyDisplaySettings();
}

Transport& TMainForm::CurrentTransport() { return session_.CurrentTransport(); }

void TMainForm::RestoreDrive() {
  const auto& drives = session_.Drives();
  const int index = settings_.DriveIndex;
  if (index < static_cast<int>(drives.size()))
    CurrentTransport().SelectDevice(drives[index].device, settings_.DriveTypes[index & 15]);
}

void TMainForm::RebuildDriveList() {
  const auto& drives = session_.RebuildDriveList();
  cdromBox_->blockSignals(true);
  cdromBox_->clear();
  for (const auto& d : drives) cdromBox_->addItem(Q(d.name));
  if (!drives.empty()) cdromBox_->setCurrentIndex(settings_.DriveIndex);
  cdromBox_->blockSignals(false);
}

// The artist box lists the artists of the album database, sorted; its text
// becomes the album's artist (fromAlbum) or stays as typed.
void TMainForm::FillArtistBox(bool fromAlbum) {
  session_.SortArtists();
  const auto& artists = session_.Artists();
  groupEdit_->blockSignals(true);
  QString text = fromAlbum ? Q(AlbumText(album_, session_.AlbumTexts(), AlbumField::Artist))
                            : groupEdit_->currentText();
  groupEdit_->clear();
  for (const auto& a : artists) groupEdit_->addItem(Q(a));
  groupEdit_->setEditText(text);
  groupEdit_->blockSignals(false);
}

void TMainForm::SaveCurrentAlbum() {
  session_.SaveCurrentAlbum();
  FillArtistBox(false);
}

void TMainForm::UpdateCaption() {
  setWindowTitle(U(kProgramTitle) + (DiscPresent() ? QString() : U(kNoDiscSuffix)));
}

void TMainForm::SetNoDisc() {
  hasAudioTracks_ = false;
  listView_->clear();
  trackPanel_->clear();
  allTimePanel_->clear();
  UpdateCaption();
  SetControlsEnabled(false);
}

void TMainForm::ReadDisc(bool saveFirst) {
  // The disc being left keeps its titles, tags and copied marks.
  if (saveFirst) SaveCurrentAlbum();
  timer1_->stop();
  // The file list (a media search) gives way to the disc.
  if (filePlaying_) StopFile();
  if (state_ == WindowState::FileList || state_ == WindowState::Searching) state_ = WindowState::Idle;
  if (discTrackWidth_ > 0) {
    listView_->setColumnWidth(ColTrack, discTrackWidth_);
    discTrackWidth_ = 0;
  }
  SetComponentEnabled("M3U1", false);
  m3uVisible_ = false;
  LayoutToolbar();
  positionBar_->SetPosition(0);
  groupEdit_->blockSignals(true);
  albumNameEdit_->blockSignals(true);
  groupEdit_->setEditText(QString());
  albumNameEdit_->clear();
  const DiscView& view = session_.ReadDisc(-1, false);
  groupEdit_->setEditText(Q(AlbumText(album_, session_.AlbumTexts(), AlbumField::Artist)));
  albumNameEdit_->setText(Q(AlbumText(album_, session_.AlbumTexts(), AlbumField::AlbumTitle)));
  groupEdit_->blockSignals(false);
  albumNameEdit_->blockSignals(false);
  lastReady_ = view.present;
  if (!view.present) {
    SetNoDisc();
  } else {
    hasAudioTracks_ = view.hasAudio;
    FillTrackList();
    UpdateCaption();
    SetControlsEnabled(view.CommandsEnabled());
  }
  findLabel_->SetNotice(QString());
  ShowCover(false);
  if (view.present && !view.known && context_.AutoLookup) AutoLookup();
  RecomputeSizes();
  timer1_->start();
}

void TMainForm::AutoLookup() {
  // The commands wait while the sources are asked; the window stays alive.
  SetControlsEnabled(false);
  // Several releases are put to the user as the lookup command puts them.
  ChoseFormChooser chooser(this, FormColors{settings_.WindowColor, settings_.EditColor});
  const AutoLookupResult r =
      session_.AutoLookup(hosts_.get(), [this] { hosts_->Pump(); }, &chooser);
  SetControlsEnabled(session_.View().CommandsEnabled());
  if (r.applied) {
    FillArtistBox(true);
    QSignalBlocker block(albumNameEdit_);
    albumNameEdit_->setText(Q(AlbumText(album_, session_.AlbumTexts(), AlbumField::AlbumTitle)));
    // A release found brings its front cover.
    ShowCover(true);
  }
  // A notice in the status line, never a message box.
  const std::string text = !r.notice.empty() ? r.notice
                           : r.applied       ? "Названия диска взяты из " + r.source + "."
                                             : std::string();
  findLabel_->SetNotice(Q(text));
}

QString TMainForm::LookupNotice() const { return findLabel_->Notice(); }

void TMainForm::FillTrackList() {
  const DiscView& view = session_.View();
  listView_->blockSignals(true);
  listView_->clear();
  for (const TrackRow& row : view.rows) {
    auto* item = new QTreeWidgetItem(listView_);
    item->setText(ColTrack, Q(row.caption));
    item->setIcon(ColTrack, QIcon(ListImage(row.image)));
    if (row.audio) {
      item->setFlags(item->flags() | Qt::ItemIsUserCheckable | Qt::ItemIsEditable);
      item->setCheckState(ColTrack, row.checked ? Qt::Checked : Qt::Unchecked);
      item->setText(ColTime, Q(row.time));
      item->setText(ColSize, Q(row.size));
      item->setText(ColMp3, Q(row.mp3));
      item->setText(ColState, Q(row.state));
    } else {
      item->setFlags((item->flags() | Qt::ItemIsUserCheckable) & ~Qt::ItemIsEditable);
      item->setCheckState(ColTrack, Qt::Unchecked);
    }
  }
  listView_->blockSignals(false);
  trackPanel_->setText(Q(view.trackPanel));
  allTimePanel_->setText(Q(view.timePanel));
}

void TMainForm::Refresh() {
  if (state_ == WindowState::Copying || state_ == WindowState::Compressing) return;
  ReadDisc();
}

void TMainForm::TickAll(bool on) {
  const bool files = state_ == WindowState::FileList;
  for (int i = 0; i < listView_->topLevelItemCount(); ++i) {
    // A data track cannot be ripped: it is never ticked.
    const bool data = !files && (i >= album_.TrackCount || i >= kMaxAlbumTracks ||
                                 !album_.Tracks[i].AudioFlag);
    listView_->topLevelItem(i)->setCheckState(ColTrack, on && !data ? Qt::Checked : Qt::Unchecked);
  }
}

void TMainForm::Play(bool tickedOnly) {
  playTickedOnly_ = tickedOnly;
  if (state_ == WindowState::Searching || state_ == WindowState::Copying) return;
  if (state_ == WindowState::FileList && filePlaying_ && filePaused_) {
    filePaused_ = false;
    session_.Media().PlayMedia();
    return;
  }
  if (state_ == WindowState::Paused) {
    state_ = WindowState::Playing;
    if (DigitalPlaying()) {
      session_.Digital().SetBufferVolume(volumeBar_->value());
      session_.Digital().Pause(false);
      return;
    }
    int next = std::min<int>(currentTrack_ + 1, album_.TrackCount);
    PlayAudioMSF(CurrentTransport(), pausePosition_, album_.Tracks[next].Start);
    return;
  }
  int rows = listView_->topLevelItemCount();
  QTreeWidgetItem* current = listView_->currentItem();
  int i = current ? listView_->indexOfTopLevelItem(current) : 0;
  if (i < 0) i = 0;
  if (tickedOnly)
    while (i < rows && listView_->topLevelItem(i)->checkState(ColTrack) != Qt::Checked) ++i;
  if (i >= rows) return;
  if (state_ == WindowState::FileList) {
    PlayFile(i);
    return;
  }
  PlayTrack(i);
}

void TMainForm::PlayTrack(int i) {
  if (state_ != WindowState::Idle && state_ != WindowState::Playing) return;
  if (!DiscPresent() || !hasAudioTracks_) return;
  int count = std::min<int>(album_.TrackCount, kMaxAlbumTracks - 1);
  if (i < 0 || i >= count) return;
  if (!album_.Tracks[i].AudioFlag && i != 0) i = 0;
  state_ = WindowState::Playing;
  positionBar_->SetScale(album_.Tracks[i + 1].StartSector - album_.Tracks[i].StartSector);
  QString title = Q(TrackTitleText(album_, session_.AlbumTexts(), i));
  setWindowTitle(U(kProgramTitle) + " - " + title);
  currentTrack_ = i;
  listView_->setCurrentItem(listView_->topLevelItem(i));
  if (suppressPlay_) return;
  if (settings_.DigitalPlayback) {
    if (!DigitalReady()) return;
    session_.Digital().Play(i, album_, CurrentTransport());
    session_.Digital().SetBufferVolume(volumeBar_->value());
  } else {
    PlayAudioMSF(CurrentTransport(), album_.Tracks[i].Start, album_.Tracks[i + 1].Start);
  }
}

void TMainForm::Pause() {
  if (filePlaying_) {
    filePaused_ = true;
    session_.Media().PauseMedia();
    return;
  }
  if (state_ != WindowState::Playing) return;
  state_ = WindowState::Paused;
  if (DigitalPlaying()) {
    pausePosition_ = session_.Digital().Position().Absolute();
    session_.Digital().Pause(true);
    return;
  }
  SubChannelPosition p;
  ReadSubChannel(CurrentTransport(), p);
  pausePosition_ = p.Absolute();
  StopPlayScan(CurrentTransport());
}

void TMainForm::Step(int s) {
  if (state_ == WindowState::Searching) return;
  if (state_ == WindowState::FileList) {
    StopFile();
    QTreeWidgetItem* current = listView_->currentItem();
    const int selected = current ? listView_->indexOfTopLevelItem(current) : -1;
    const int target = selected + s;
    if (target >= 0 && target < listView_->topLevelItemCount()) PlayFile(target);
    return;
  }
  int rows = std::min<int>(listView_->topLevelItemCount(), album_.TrackCount);
  int target = currentTrack_ + s;
  if (target < 0 || target >= rows) return;
  if (playTickedOnly_) {
    while (target >= 0 && target < rows &&
           listView_->topLevelItem(target)->checkState(ColTrack) != Qt::Checked)
      target += s;
    if (target < 0 || target >= rows) return;
  }
  PlayTrack(target);
}

void TMainForm::Stop() {
  if (filePlaying_) {
    StopFile();
    return;
  }
  if (state_ == WindowState::Searching || state_ == WindowState::FileList) {
    state_ = WindowState::Idle;
    return;
  }
  positionBar_->SetPosition(0);
  timePanel_->clear();
  if (state_ != WindowState::Copying) {
    state_ = WindowState::Idle;
    if (DigitalPlaying())
      session_.Digital().Stop();
    else if (DiscPresent())
      StopPlayScan(CurrentTransport());
    UpdateCaption();
  } else {
    state_ = WindowState::Idle;  // the ripping loop asks whether to cancel
  }
}

void TMainForm::Eject() {
  if (state_ != WindowState::Idle) Stop();
  if (session_.Drives().empty()) return;
  eject_.Run(CurrentTransport());
  ReadDisc();
}

void TMainForm::DriveReport() {
  if (session_.Drives().empty()) return;
  TCDInfo::ShowForDrive(this, CurrentTransport(), settings_.WindowColor, settings_.EditColor);
}

void TMainForm::SetTimePanel(int track, int sector) {
  timePanel_->setText(Q("Трек " + TwoDigits(track + 1) + "  /  " +
                        TwoDigits(sector / kFramesPerMinute) + ":" +
                        TwoDigits((sector / kFramesPerSecond) % 60)));
}

void TMainForm::Seek(double position) {
  if (filePlaying_) {
    session_.Media().SetMediaPosition(static_cast<int>(position));
    return;
  }
  if (state_ != WindowState::Playing || !DiscPresent()) return;
  int count = std::min<int>(album_.TrackCount, kMaxAlbumTracks - 1);
  if (currentTrack_ < 0 || currentTrack_ >= count) return;
  if (DigitalPlaying()) {
    session_.Digital().Seek(static_cast<std::int32_t>(position) +
                            album_.Tracks[currentTrack_].StartSector);
    return;
  }
  int sector = static_cast<int>(position) + album_.Tracks[currentTrack_].StartSector +
               album_.FirstTrackOffset;
  PlayAudioMSF(CurrentTransport(), FramesToMsf(sector), album_.Tracks[currentTrack_ + 1].Start);
}

void TMainForm::SetVolume(int v) {
  const int level = std::clamp(v, 0, 255);
  VolumeOutputs outputs;
  outputs.media = filePlaying_ ? &session_.Media() : nullptr;
  outputs.digital = digitalTried_ ? &session_.Digital() : nullptr;
  outputs.drive = session_.Drives().empty() ? nullptr : &CurrentTransport();
  outputs.mixer = &session_.Mixer();
  if (ApplyVolumeLevel(level, VolumeModeNow(), outputs) != VolumeTarget::MediaFile)
    settings_.Volume = static_cast<std::uint8_t>(level);
}

VolumeMode TMainForm::VolumeModeNow() const {
  VolumeMode mode;
  mode.filePlaying = filePlaying_;
  mode.digitalPlayback = settings_.DigitalPlayback != 0;
  mode.volumeOnDrive = settings_.VolumeOnDrive != 0;
  return mode;
}

void TMainForm::OpenMixer() {
  // A machine without a mixer (a server, the tests) is told so without
  // holding the start up.
  NoticeDialogs notice(dialogs_);
  if (!session_.Mixer().Open(session_.SoundDevice(), notice)) return;
  QPointer<TMainForm> self(this);
  session_.Mixer().SetChangeCallback([self](int volume) {
    QMetaObject::invokeMethod(self, [self, volume] {
      if (!self || !MixerChangeMovesBar(self->VolumeModeNow())) return;
      const int level = BarLevelFromMixer(volume);
      self->settings_.Volume = static_cast<std::uint8_t>(level);
      QSignalBlocker block(self->volumeBar_);
      self->volumeBar_->setValue(level);
    }, Qt::QueuedConnection);
  });
}

bool TMainForm::DigitalReady() {
  // The sound device is looked at when digital playback is first used: a
  // machine without one is told so then, once.
  if (!digitalTried_) {
    digitalTried_ = true;
    digitalUsable_ = session_.Digital().Init(dialogs_);
  }
  return digitalUsable_;
}

bool TMainForm::DigitalPlaying() const {
  return settings_.DigitalPlayback && digitalTried_ && digitalUsable_;
}

void TMainForm::Grab(GrabSender sender) {
  if (state_ == WindowState::Copying || state_ == WindowState::Compressing) return;
  if (!DiscPresent() || session_.Drives().empty()) return;
  session_.Rip(sender, *hosts_);
  ShowCover(false);  // the rip may have fetched it
  // However the grab ended, it is over.
  if (state_ == WindowState::Copying || state_ == WindowState::Compressing) {
    state_ = WindowState::Idle;
    SetControlsEnabled(DiscPresent());
  }
  UpdateCaption();
  if (closeRequested_) QTimer::singleShot(0, this, &QWidget::close);
}

void TMainForm::ConvertFiles() {
  if (state_ == WindowState::Copying || state_ == WindowState::Compressing) return;
  if (state_ != WindowState::Idle) Stop();
  if (mp3Config_) mp3Config_->close();
  ConvertFormContext context = ConvertFormContextFor(session_);
  context.player = &session_.Media();
  context.openMp3Settings = [this](QWidget* owner) { OpenSettings(nullptr, owner, true); };
  menuBar()->setEnabled(false);
  timer1_->stop();
  {
    TConvertForm form(context, this);
    if (ConvertFormOpened) ConvertFormOpened(form);
    if (form.Created()) {
      // The conversion window takes the main window's place and gives it back.
      form.setGeometry(geometry());
      hide();
      form.exec();
      setGeometry(form.geometry());
      ShowAgain();
    }
  }
  menuBar()->setEnabled(true);
  timer1_->start();
}

void TMainForm::ShowAgain() {
  // A window minimised before it was hidden would come back minimised: the
  // program would seem to have gone.
  setWindowState(windowState() & ~Qt::WindowMinimized);
  show();
  raise();
  activateWindow();
  // Some window managers map a window that the program once minimised
  // itself as an icon again (the hint stays behind): when it comes back
  // minimised, it is restored.
  for (int ms : {150, 600})
    QTimer::singleShot(ms, this, [this] {
      if (isVisible() && isMinimized()) {
        setWindowState(windowState() & ~Qt::WindowMinimized);
        raise();
        activateWindow();
      }
    });
}

void TMainForm::RecordAudioCd() {
  if (state_ == WindowState::Copying || state_ == WindowState::Compressing ||
      state_ == WindowState::Searching)
    return;
  if (state_ != WindowState::Idle) Stop();
  if (mp3Config_) mp3Config_->close();
  menuBar()->setEnabled(false);
  timer1_->stop();
  session_.Spti().Close();
  // The recording window's caption says "Запись AudioCD"; the application's
  // display name stays empty, or Qt would add it to every caption.
  {
    TMainWriteForm form(session_, this);
    if (RecordFormOpened) RecordFormOpened(form);
    if (!form.HasWriter()) {
      dialogs_.Message("К сожалению диски записывать нечем... :(", kProgramTitle,
                       MsgIcon::Information, MsgButtons::Ok);
    } else {
      // The recording window takes the main window's place and gives it back.
      form.setGeometry(geometry());
      hide();
      form.exec();
      setGeometry(form.geometry());
    }
  }
  RestoreDrive();
  menuBar()->setEnabled(true);
  timer1_->start();
  ShowAgain();
  ReadDisc();
}

void TMainForm::SearchMedia() {
  if (state_ == WindowState::Copying || state_ == WindowState::Compressing ||
      state_ == WindowState::Searching)
    return;
  if (state_ != WindowState::Idle) Stop();
  if (session_.Extensions().empty()) {
    settings_.SettingsPage = kSearchSettingsPage;
    OpenSettings();
    if (session_.Extensions().empty()) return;
  }
  auto folder = dialogs_.ChooseFolder("Выберете папку где искать", std::string());
  if (!folder || folder->empty()) return;
  state_ = WindowState::Searching;
  SetControlsEnabled(false);
  SetComponentEnabled("SpeedButton13", false);
  SetComponentEnabled("SpeedButton16", true);
  for (QWidget* w : std::initializer_list<QWidget*>{cdromBox_, trackPanel_, allTimePanel_, sizePanel_})
    w->hide();
  bool stopAsked = false;
  MediaSearchHost host;
  host.enteringFolder = [this](const std::string& f) { findLabel_->SetNotice(Q(f), Qt::ElideMiddle); };
  host.cancelled = [this, &stopAsked] {
    hosts_->Pump();
    if (stopAsked) return true;
    if (state_ != WindowState::Searching) {
      if (dialogs_.Message("Тормазнуть поиск???", kProgramTitle, MsgIcon::Question,
                           MsgButtons::YesNo) == IdYes) {
        stopAsked = true;
        return true;
      }
      state_ = WindowState::Searching;
    }
    return false;
  };
  bool cancelled = false;
  std::vector<std::string> found =
      SearchMediaFiles(*folder, session_.Extensions(), host, &cancelled);
  for (QWidget* w : std::initializer_list<QWidget*>{cdromBox_, trackPanel_, allTimePanel_, sizePanel_})
    w->show();
  findLabel_->SetNotice(QString());
  if (cancelled) {
    state_ = WindowState::Idle;
    SetControlsEnabled(DiscPresent());
    ReadDisc();
    return;
  }
  listView_->blockSignals(true);
  listView_->clear();
  std::uint64_t total = 0;
  for (const std::string& path : found) {
    auto* item = new QTreeWidgetItem(listView_);
    item->setFlags((item->flags() | Qt::ItemIsUserCheckable) & ~Qt::ItemIsEditable);
    // The row shows the file's name; its full path is the tip and the
    // row's data (played, written to the M3U list).
    const std::size_t slash = path.rfind('/');
    item->setText(ColTrack, Q(slash == std::string::npos ? path : path.substr(slash + 1)));
    item->setToolTip(ColTrack, Q(path));
    item->setData(ColTrack, Qt::UserRole, Q(path));
    item->setCheckState(ColTrack, Qt::Checked);
    item->setIcon(ColTrack, QIcon(ListImage(2)));
    struct stat st {};
    const std::uint64_t size = ::stat(path.c_str(), &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
    total += size;
    item->setText(ColSize, Q(FoundFileSizeText(size)));
  }
  listView_->blockSignals(false);
  // The names are shown whole where the window has room; the disc's own
  // width comes back with the disc.
  discTrackWidth_ = listView_->columnWidth(ColTrack);
  const int room = std::max(discTrackWidth_, listView_->viewport()->width() - 260);
  listView_->resizeColumnToContents(ColTrack);
  listView_->setColumnWidth(ColTrack,
                            std::clamp(listView_->columnWidth(ColTrack), discTrackWidth_, room));
  trackPanel_->setText(Q("Найдено: " + std::to_string(found.size())));
  sizePanel_->setText(Q("Размер: " + std::to_string(total / 1048576) + "Mb"));
  allTimePanel_->clear();
  state_ = WindowState::FileList;
  SetControlsEnabled(true);
  SetComponentEnabled("M3U1", true);
  findChild<QAction*>("M3U1")->setVisible(true);
  m3uVisible_ = true;
  LayoutToolbar();
  SetComponentEnabled("SpeedButton8", true);
}

void TMainForm::CreateM3uList() {
  if (state_ != WindowState::FileList) return;
  std::optional<std::string> path;
  for (;;) {
    path = dialogs_.SaveFile("", {FileFilter{"*.m3u", {"*.m3u"}}}, ".m3u", std::string());
    if (!path || path->empty()) return;
    if (!FileExists(*path)) break;
    if (dialogs_.Message("Выбранный файл уже существует. Заменить???", kProgramTitle,
                         MsgIcon::Question, MsgButtons::YesNo) == IdYes)
      break;
  }
  std::vector<std::string> files;
  for (int i = 0; i < listView_->topLevelItemCount(); ++i)
    if (listView_->topLevelItem(i)->checkState(ColTrack) == Qt::Checked)
      files.push_back(S(listView_->topLevelItem(i)->data(ColTrack, Qt::UserRole).toString()));
  std::string error;
  if (!WriteM3uList(*path, files, &error))
    dialogs_.Message(error, kProgramTitle, MsgIcon::Warning, MsgButtons::Ok);
}

void TMainForm::PlayFile(int row) {
  if (row < 0 || row >= listView_->topLevelItemCount()) return;
  if (filePlaying_) StopFile();
  listView_->setCurrentItem(listView_->topLevelItem(row));
  const std::string path = S(listView_->topLevelItem(row)->data(ColTrack, Qt::UserRole).toString());
  MediaPlayer& player = session_.Media();
  if (!player.OpenMediaFile(path)) {
    // What the player cannot play goes to the desktop's own program.
    OpenWithDesktop(dialogs_, path);
    return;
  }
  filePlaying_ = true;
  filePaused_ = false;
  positionBar_->SetScale(std::max(1, player.GetMediaLength()));
  positionBar_->SetPosition(0);
  player.SetMediaVolume(MediaVolumeFromBar(volumeBar_->value()));
  player.PlayMedia();
}

void TMainForm::StopFile() {
  if (!filePlaying_) return;
  session_.Media().CloseMedia();
  filePlaying_ = false;
  filePaused_ = false;
  positionBar_->SetPosition(0);
}

bool TMainForm::OpenSettingsForFolder() {
  // The output folder is chosen on the page "Файлы".
  settings_.SettingsPage = 0;
  bool accepted = false;
  OpenSettings(&accepted);
  return accepted;
}

void TMainForm::ShowMp3Config() {
  if (!mp3Config_) {
    mp3Config_ = new TMP3Config(
        settings_, session_.Encoders(), [this] { RecomputeSizes(); },
        [this](const QRect& g) {
          mp3ConfigGeometry_ = g;
          mp3Config_ = nullptr;
          RecomputeSizes();
        },
        this);
    mp3Config_->setAttribute(Qt::WA_DeleteOnClose);
    mp3Config_->setGeometry(mp3ConfigGeometry_);
  }
  mp3Config_->show();
  mp3Config_->raise();
  mp3Config_->activateWindow();
}

void TMainForm::OpenTagEditor() {
  if (!DiscPresent()) return;
  QTreeWidgetItem* item = listView_->currentItem();
  int row = item ? listView_->indexOfTopLevelItem(item) : -1;
  std::string encoderName = settings_.UseLame ? session_.LameVersionText()
                                              : session_.Encoders().Acm().CodecName();
  TID3Form form(this, album_, session_.AlbumTexts(), tags_, hosts_.get(), row, encoderName,
                FormColors{settings_.WindowColor, settings_.EditColor});
  form.exec();
}

void TMainForm::CddbLookupCommand() {
  if (!DiscPresent() || state_ == WindowState::Copying || state_ == WindowState::Compressing)
    return;
  ChoseFormChooser chooser(this, FormColors{settings_.WindowColor, settings_.EditColor});
  CddbLookup lookup(settings_, album_, tags_, dialogs_, chooser, hosts_.get(),
                    session_.AlbumFolder());
  lookup.SetPump([this] { hosts_->Pump(); });
  const DiscView& view = session_.View();
  lookup.SetDiscToc(view.toc);
  lookup.SetArtistList(&session_.Artists());
  lookup.SetAlbumTexts(&session_.AlbumTexts());
  lookup.SetSettingsTexts(&session_.SettingsTexts());
  // MusicBrainz first when it is enabled, then the CDDB server (as always),
  // then the disc's own CD-Text.
  LookupSourceOptions sources = session_.LookupSources([this] { hosts_->Pump(); });
  sources.cddb = true;
  UseLookupSources(lookup, sources, album_, session_.AlbumTexts(), tags_, hosts_.get(), nullptr);
  lookup.Run();
  FillArtistBox(false);
  ShowCover(true);
  // Titles may have changed: the rows show them.
  int count = std::min<int>(album_.TrackCount, listView_->topLevelItemCount());
  QSignalBlocker block(listView_);
  for (int i = 0; i < count; ++i)
    if (album_.Tracks[i].AudioFlag)
      listView_->topLevelItem(i)->setText(ColTrack,
                                          Q(TrackTitleText(album_, session_.AlbumTexts(), i)));
}

void TMainForm::OpenAlbumEditor() {
  // The editor changes the files a rip is marking copied.
  if (state_ == WindowState::Copying || state_ == WindowState::Compressing) return;
  SaveCurrentAlbum();
  TCDDBEditForm form(session_.AlbumFolder(), dialogs_, this,
                     FormColors{settings_.WindowColor, settings_.EditColor},
                     [](int index) { return ListImage(index); });
  form.setGeometry(geometry());
  form.exec();
  session_.ReloadArtists();
  // The album database now holds the newer record of this disc (or none):
  // read the disc again from it, without saving the old one over it.
  if (state_ != WindowState::Copying && state_ != WindowState::Compressing) ReadDisc(false);
  FillArtistBox(true);
}

void TMainForm::StartPlayer() {
  const std::string& player = session_.PlayerPath();
  if (player.empty()) {
    dialogs_.Message("Медиа плеер не найден: назначьте программу для файлов MP3 (audio/mpeg) "
                     "в настройках рабочего стола.",
                     kProgramTitle, MsgIcon::Warning, MsgButtons::Ok);
    return;
  }
  if (!StartProgram({player}))
    dialogs_.Message("Не удалось запустить " + player, kProgramTitle, MsgIcon::Warning,
                     MsgButtons::Ok);
}

void TMainForm::OpenHelp() {
  const std::string help = session_.HelpDocument();
  if (help.empty()) {
    dialogs_.Message("Справка не найдена: файл README.md программы не установлен.", kProgramTitle,
                     MsgIcon::Warning, MsgButtons::Ok);
    return;
  }
  std::string error;
  if (!ShowHelpWindow(this, help, &error))
    dialogs_.Message("Не удалось показать справку: " + error, kProgramTitle, MsgIcon::Warning,
                     MsgButtons::Ok);
}

void TMainForm::ShowAbout() {
  dialogs_.Message(AboutText(), "О программе", MsgIcon::Information, MsgButtons::Ok);
}

void TMainForm::RenameSelected() {
  if (auto* item = listView_->currentItem()) listView_->editItem(item, ColTrack);
}

void TMainForm::OnTimer() {
  if (positionBar_->Dragging()) return;
  if (filePlaying_) {
    const int position = session_.Media().GetMediaPosition();
    positionBar_->SetPosition(position);
    if (position >= positionBar_->Scale()) {
      // At its end the file is stopped and rewound.
      positionBar_->SetPosition(0);
      session_.Media().RewindMedia();
      filePaused_ = true;
    }
    return;
  }
  if (state_ != WindowState::Idle && state_ != WindowState::Paused &&
      state_ != WindowState::Playing)
    return;
  if (session_.Drives().empty()) return;
  Transport& t = CurrentTransport();
  bool ready = t.TestUnitReady();
  if (ready != lastReady_) {
    if (settingsForm_) return;  // noticed once the dialog has closed
    lastReady_ = ready;
    Stop();
    ReadDisc();
    return;
  }
  SubChannelPosition p;
  if (DigitalPlaying()) {
    if (session_.Digital().Busy()) return;
    p = session_.Digital().Position();
  } else {
    ReadSubChannel(t, p);
  }
  int count = std::min<int>(album_.TrackCount, kMaxAlbumTracks - 1);
  auto where = LocatePlayPosition(album_, count, p.Absolute());
  if (!where) return;
  switch (p.audioStatus) {
    case 0x00:
      state_ = WindowState::Idle;
      break;
    case 0x11:
      if (state_ != WindowState::Playing || where->track != currentTrack_) {
        suppressPlay_ = true;
        if (state_ == WindowState::Paused) state_ = WindowState::Idle;
        PlayTrack(where->track);
        suppressPlay_ = false;
      }
      positionBar_->SetPosition(where->sector);
      if (settingsForm_) settingsForm_->TimerPosition(where->track, where->sector);
      SetTimePanel(where->track, where->sector);
      break;
    case 0x13:
      if (DiscPresent() && state_ != WindowState::Idle) {
        if (currentTrack_ < count - 1)
          Step(+1);
        else
          Stop();
      }
      break;
    case 0x14:
      Stop();
      break;
    default:
      break;
  }
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == panel2_ && event->type() == QEvent::Resize) {
    LayoutToolbar();
    return false;
  }
  if (watched == sSizeBox_ && event->type() == QEvent::MouseButtonRelease) {
    settings_.ShowCompressedSize = settings_.ShowCompressedSize ? 0 : 1;
    RecomputeSizes();
    DrawSizeBox();
    return true;
  }
  if (event->type() == QEvent::KeyPress && isActiveWindow()) {
    auto* key = static_cast<QKeyEvent*>(event);
    QWidget* focus = QApplication::focusWidget();
    bool editing = focus && listView_->viewport()->isAncestorOf(focus);
    bool inBoxes = focus && (focus == albumNameEdit_ || focus == groupEdit_ ||
                             groupEdit_->isAncestorOf(focus));
    // Keys meant for an open menu (the menu bar's, a pop-up) are the menu's:
    // Esc there closes the menu and nothing else.
    auto* target = qobject_cast<QWidget*>(watched);
    const bool ours = target && target->window() == this && !QApplication::activePopupWidget();
    if (ours && !editing && !inBoxes && focus && window()->isAncestorOf(focus)) {
      if (key->key() == Qt::Key_Escape) {
        showMinimized();
        return true;
      }
      if (key->text() == "+") {
        Step(+1);
        return true;
      }
      if (key->text() == "-") {
        Step(-1);
        return true;
      }
      if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && focus == listView_) {
        RenameSelected();
        return true;
      }
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

void TMainForm::closeEvent(QCloseEvent* e) {
  if (state_ == WindowState::Copying || state_ == WindowState::Compressing) {
    e->ignore();
    // Asked once; a second close while the grab winds down changes nothing.
    if (closeRequested_) return;
    if (dialogs_.Message("Остановить копирование?", kProgramTitle, MsgIcon::Question,
                         MsgButtons::YesNo) != IdYes)
      return;  // the rip goes on
    if (state_ == WindowState::Copying || state_ == WindowState::Compressing) {
      // A running grab stops at its next block and deletes what it was
      // writing; the window closes once it has.
      closeRequested_ = true;
      return;
    }
    // The grab ended while the question was up: nothing left to stop.
  }
  Shutdown();
  e->accept();
}

void TMainForm::Shutdown() {
  if (shutDown_) return;
  shutDown_ = true;
  timer1_->stop();
  if (state_ != WindowState::Idle) Stop();
  SaveCurrentAlbum();
  SaveSettings(session_.Profiles().ActiveFileName());
  session_.SaveExtensions();
  session_.Shutdown();
}

}  // namespace sonarvex

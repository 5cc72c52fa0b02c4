#include "settings/ui/TSettingsForm.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QEvent>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QStyle>
#include <QTabBar>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include "settings/SettingsFormRules.h"
#include "settings/ui/SettingsTabStyle.h"
#include "codec/FlacWriter.h"
#include "codec/OpusWriter.h"
#include "drive/AudioReading.h"
#include "platform/Dialogs.h"
#include "platform/ui/QtText.h"

namespace sonarvex {
namespace {

QColor FromColorRef(std::uint32_t c, const QPalette& pal) {
  if (c == kSystemWindowColor) return pal.color(QPalette::Mid);
  if (c == kSystemEditColor) return pal.color(QPalette::Base);
  return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
}

std::uint32_t ToColorRef(const QColor& c) {
  return static_cast<std::uint32_t>(c.red()) | (static_cast<std::uint32_t>(c.green()) << 8) |
         (static_cast<std::uint32_t>(c.blue()) << 16);
}

template <class W>
W* Named(W* w, const char* name) {
  w->setObjectName(QString::fromLatin1(name));
  return w;
}

QCheckBox* Check(const char* name, const char* caption) {
  return Named(new QCheckBox(Q(caption)), name);
}

QComboBox* Combo(const char* name, const std::vector<std::string>& items) {
  auto* c = Named(new QComboBox, name);
  for (const auto& i : items) c->addItem(Q(i));
  return c;
}

QLineEdit* Edit(const char* name, int maxLength) {
  auto* e = Named(new QLineEdit, name);
  e->setMaxLength(maxLength);
  return e;
}

QToolButton* Button(const char* name, const QString& text, const QString& hint = {}) {
  auto* b = Named(new QToolButton, name);
  b->setText(text);
  b->setToolTip(hint);
  b->setAutoRaise(false);
  return b;
}

QSpinBox* Spin(const char* name, int min, int max) {
  auto* b = Named(new QSpinBox, name);
  b->setRange(min, max);
  b->setAlignment(Qt::AlignRight);
  return b;
}

// A caption and its control on one line, the rest of the line left empty.
QHBoxLayout* LabelledRow(QLabel* label, QWidget* control) {
  label->setBuddy(control);
  auto* row = new QHBoxLayout;
  row->addWidget(label);
  row->addWidget(control);
  row->addStretch(1);
  return row;
}

void SetIndex(QComboBox* box, int index) {
  QSignalBlocker block(box);
  box->setCurrentIndex(index < box->count() ? index : -1);
}

void SetColourBox(QComboBox* box, std::uint32_t value) {
  QSignalBlocker block(box);
  int i = box->findData(QVariant::fromValue<qulonglong>(value));
  if (i < 0) {
    QPixmap swatch(16, 16);
    swatch.fill(FromColorRef(value, box->palette()));
    box->addItem(QIcon(swatch), QStringLiteral("#%1").arg(value, 6, 16, QLatin1Char('0')).toUpper(),
                 QVariant::fromValue<qulonglong>(value));
    i = box->count() - 1;
  }
  box->setCurrentIndex(i);
}

std::uint32_t ColourBoxValue(const QComboBox* box) {
  return static_cast<std::uint32_t>(box->currentData().toULongLong());
}

QComboBox* ColourBox(const char* name) {
  auto* box = Named(new QComboBox, name);
  for (const ColourItem& c : ColourItems()) {
    QPixmap swatch(16, 16);
    swatch.fill(FromColorRef(c.Value, box->palette()));
    box->addItem(QIcon(swatch), Q(c.Name), QVariant::fromValue<qulonglong>(c.Value));
  }
  return box;
}

// The arrow "STRELA" beside the active range slider.
QPixmap ArrowPicture(bool atStart, int rowHeight) {
  QPixmap pm(16, rowHeight * 2);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  int y = (atStart ? 0 : rowHeight) + rowHeight / 2;
  QPainterPath path;
  path.moveTo(2, y - 5);
  path.lineTo(14, y);
  path.lineTo(2, y + 5);
  path.closeSubpath();
  p.fillPath(path, QColor(0xC0, 0x20, 0x20));
  return pm;
}

}  // namespace

TSettingsForm::TSettingsForm(SettingsRecord& settings, AlbumRecord& album, TagBuffer& tags,
                             SettingsFormHost& host, ProgramFacts& program, Dialogs& dialogs,
                             QWidget* owner, RecordTexts* settingsTexts,
                             const RecordTexts* albumTexts)
    : QDialog(owner),
      model_(settings, album, tags, host, program, dialogs, settingsTexts, albumTexts) {
  setObjectName("SettingsForm");
  setWindowTitle(Q("Настройки"));
  chooseColour_ = [this](std::uint32_t current) -> std::optional<std::uint32_t> {
    QColor c = QColorDialog::getColor(FromColorRef(current, palette()), this);
    if (!c.isValid()) return std::nullopt;
    return ToColorRef(c);
  };

  auto* root = new QVBoxLayout(this);
  auto* dirLabel = Named(new QLabel(Q("Складывать музыку сюда")), "Label1");
  root->addWidget(dirLabel);
  auto* dirRow = new QHBoxLayout;
  workDir_ = Edit("WorkDir", 259);
  speedButton3_ = Button("SpeedButton3", QString(), Q("Выбрать папку"));
  speedButton3_->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
  dirRow->addWidget(workDir_, 1);
  dirRow->addWidget(speedButton3_);
  root->addLayout(dirRow);

  pageControl1_ = Named(new QTabWidget, "PageControl1");
  QWidget* pages[kPageCount] = {BuildFilesPage(),  BuildRangePage(),  BuildGeneralPage(),
                                BuildAudioPage(),  BuildCdromPage(),  BuildFreeDbPage(),
                                BuildSearchPage(), BuildViewPage()};
  for (int i = 0; i < kPageCount; ++i) pageControl1_->addTab(pages[i], Q(PageCaptions()[i]));
  root->addWidget(pageControl1_, 1);

  auto* buttons = new QHBoxLayout;
  speedButton11_ = Button("SpeedButton11", Q("Играть"), Q("Играть "));
  speedButton11_->setIcon(style()->standardIcon(QStyle::SP_MediaPlay));
  speedButton11_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  speedButton16_ = Button("SpeedButton16", Q("Стоп"), Q("Стоп"));
  speedButton16_->setIcon(style()->standardIcon(QStyle::SP_MediaStop));
  speedButton16_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  speedButton2_ = Button("SpeedButton2", Q("Ok"));
  speedButton2_->setIcon(style()->standardIcon(QStyle::SP_DialogOkButton));
  speedButton2_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  speedButton1_ = Button("SpeedButton1", Q("Отмена"));
  speedButton1_->setIcon(style()->standardIcon(QStyle::SP_DialogCancelButton));
  speedButton1_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  for (QToolButton* b : {speedButton2_, speedButton1_}) b->setMinimumWidth(90);
  buttons->addWidget(speedButton11_);
  buttons->addWidget(speedButton16_);
  buttons->addStretch(1);
  buttons->addWidget(speedButton2_);
  buttons->addWidget(speedButton1_);
  root->addLayout(buttons);

  // The three page controls draw their own tabs.
  auto* tabStyle = new SettingsTabStyle(4);
  tabStyle->setParent(this);
  for (QTabWidget* tw : {pageControl1_, pageControl2_, pageControl3_}) {
    tw->tabBar()->setStyle(tabStyle);
    tw->setUsesScrollButtons(false);  // every tab is shown in full
    tw->setElideMode(Qt::ElideNone);
  }

  // Create: the play buttons follow the main window's.
  speedButton11_->setEnabled(host.PlayEnabled());
  speedButton16_->setEnabled(host.StopEnabled());
  formatEdit_->setToolTip(Q(FormatHint()));

  WriteWidgets();
  ApplyColours();

  // Handlers.
  connect(speedButton2_, &QToolButton::clicked, this, &TSettingsForm::SpeedButton2Click);
  connect(speedButton1_, &QToolButton::clicked, this, &TSettingsForm::SpeedButton1Click);
  connect(speedButton3_, &QToolButton::clicked, this, [this, &dialogs] {
    auto folder = dialogs.ChooseFolder("Складывать музыку сюда", S(workDir_->text()));
    if (folder && !folder->empty()) workDir_->setText(Q(*folder));
  });
  connect(pageControl1_, &QTabWidget::currentChanged, this, [this](int i) {
    model_.Controls().PageControl1 = i;
    UpdatePageButtons();
  });
  connect(useFormatString_, &QCheckBox::toggled, this, [this](bool on) {
    model_.Controls().UseFormatString = on;
    ApplyFormatRule();
  });
  connect(formatEdit_, &QLineEdit::textChanged, this, [this] { FormatEditChanged(); });
  connect(trackNames_, &QComboBox::currentIndexChanged, this, [this](int i) {
    model_.ShowTrack(i);
    ShowRange();
  });
  connect(secBar_, &QSlider::valueChanged, this, [this](int v) {
    if (programmatic_) return;
    model_.Range().MoveStart(v);
    ShowRange();
  });
  connect(endBar_, &QSlider::valueChanged, this, [this](int v) {
    if (programmatic_) return;
    model_.Range().MoveEnd(v);
    ShowRange();
  });
  secBar_->installEventFilter(this);
  endBar_->installEventFilter(this);
  connect(cbPos_, &QToolButton::toggled, this, [this](bool on) { model_.Controls().CBPos = on; });
  connect(speedButton11_, &QToolButton::clicked, this, [this] { model_.PlayRange(); });
  connect(speedButton16_, &QToolButton::clicked, this, [this] { model_.StopPlay(); });
  connect(codecBox_, &QComboBox::currentIndexChanged, this, [this](int i) {
    model_.Controls().FormatBox = formatBox_->currentIndex();
    ShowCodec(model_.ChangeCodec(i));
  });
  connect(vbrBox_, &QComboBox::currentIndexChanged, this, [this](int i) {
    model_.Controls().VBRBox = i;
    ApplyVbrRule();
  });
  connect(oggBar_, &QSlider::valueChanged, this,
          [this](int v) { qualityLabel_->setText(Q(OggQualityText(v))); });
  connect(deviceName_, &QComboBox::currentIndexChanged, this, [this](int i) {
    model_.ChangeDrive(i);
    SetIndex(driveTypeBox_, model_.Controls().DriveTypeBox);
    ShowReadOffset();
  });
  connect(readOffsetBox_, &QSpinBox::valueChanged, this,
          [this](int v) { model_.ChangeReadOffset(v); });
  connect(findOffset_, &QToolButton::clicked, this, [this] {
    ReadWidgets();
    // The dialog takes no input while the disc is read; the search shows
    // its own progress.
    setEnabled(false);
    const bool changed = model_.FindReadOffset();
    setEnabled(true);
    if (changed) ShowReadOffset();
  });
  connect(driveTypeBox_, &QComboBox::currentIndexChanged, this,
          [this](int i) { model_.ChangeDriveType(i); });
  connect(detReadCommand_, &QToolButton::clicked, this, [this] {
    ReadWidgets();
    if (model_.DetectReadCommand()) {
      numSecReadEdit_->setText(Q(model_.Controls().NumSecReadEdit));
      SetIndex(driveTypeBox_, model_.Controls().DriveTypeBox);
    }
  });
  connect(speedButton6_, &QToolButton::clicked, this, [this] {
    model_.AddExtension(S(edit1_->text()));
    edit1_->clear();
    FillExtensions();
  });
  connect(extListBox_, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* item) {
    model_.RemoveExtension(extListBox_->row(item));
    FillExtensions();
  });
  connect(speedButton4_, &QToolButton::clicked, this, [this] {
    if (auto c = chooseColour_(ColourBoxValue(windowColorBox_))) SetColourBox(windowColorBox_, *c);
  });
  connect(speedButton7_, &QToolButton::clicked, this, [this] {
    if (auto c = chooseColour_(ColourBoxValue(controlColorBox_)))
      SetColourBox(controlColorBox_, *c);
  });
  label26_->installEventFilter(this);
  label37_->installEventFilter(this);
  UpdatePageButtons();
}

QWidget* TSettingsForm::BuildFilesPage() {
  auto* page = new QWidget;
  auto* v = new QVBoxLayout(page);
  auto* names = Named(new QGroupBox(Q("Имя файла")), "GroupBox1");
  auto* nl = new QVBoxLayout(names);
  nl->addWidget(fileUseTrackName_ = Check("File_UseTrackName", "Имя трэка"));
  nl->addWidget(fileUseAlbumName_ = Check("File_UseAlbumName", "Название альбома"));
  nl->addWidget(fileUseArtistName_ = Check("File_UseArtistName", "Исполнитель"));
  nl->addWidget(fileUseTrackNum_ = Check("File_UseTrackNum", "Номер трека"));
  auto* dirs = Named(new QGroupBox(Q("Папки")), "GroupBox2");
  auto* dl = new QVBoxLayout(dirs);
  dl->addWidget(dirAsArtistName_ = Check("Dir_AsArtistName", "Каждую группу в свою папку"));
  dl->addWidget(dirAsAlbumName_ = Check("Dir_AsAlbumName", "Каждый диск в свою папку"));
  dl->addStretch(1);
  auto* row = new QHBoxLayout;
  row->addWidget(names, 1);
  row->addWidget(dirs, 1);
  v->addLayout(row);
  v->addWidget(useFormatString_ = Check("UseFormatString", "Записывать в формате"));
  v->addWidget(formatEdit_ = Edit("FormatEdit", 50));
  v->addWidget(testLabel_ = Named(new QLabel, "TestLabel"));
  testLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  v->addStretch(1);
  return page;
}

QWidget* TSettingsForm::BuildRangePage() {
  auto* page = new QWidget;
  auto* v = new QVBoxLayout(page);
  auto* row = new QHBoxLayout;
  row->addWidget(Named(new QLabel(Q("Трек")), "Label2"));
  row->addWidget(trackNames_ = Named(new QComboBox, "TrackNames"), 1);
  v->addLayout(row);
  auto* group = Named(new QGroupBox(Q("Диапазон копирования")), "GroupBox3");
  auto* g = new QGridLayout(group);
  paintBox1_ = Named(new QLabel, "PaintBox1");
  secBar_ = Named(new QSlider(Qt::Horizontal), "SecBar");
  endBar_ = Named(new QSlider(Qt::Horizontal), "EndBar");
  for (QSlider* s : {secBar_, endBar_}) {
    s->setSingleStep(kFramesPerSecond);
    s->setPageStep(10 * kFramesPerSecond);
    s->setMinimumHeight(24);
  }
  g->addWidget(paintBox1_, 0, 0, 2, 1);
  g->addWidget(secBar_, 0, 1);
  g->addWidget(endBar_, 1, 1);
  auto* times = new QHBoxLayout;
  times->addWidget(labelTime1_ = Named(new QLabel, "LabelTime1"));
  times->addWidget(labelTime2_ = Named(new QLabel, "LabelTime2"));
  times->addStretch(1);
  cbPos_ = Button("CBPos", Q("Текущая позиция"));
  cbPos_->setCheckable(true);
  times->addWidget(cbPos_);
  g->addLayout(times, 2, 1);
  v->addWidget(group);
  v->addStretch(1);
  return page;
}

QWidget* TSettingsForm::BuildGeneralPage() {
  auto* page = new QWidget;
  auto* v = new QVBoxLayout(page);
  v->addWidget(ejectACopy_ = Check("EjectACopy", "Извлечь диск после копирования"));
  v->addWidget(priorityBox_ = Check("PriorityBox", "Максимальный приоритет при копировании"));
  v->addWidget(shutComp_ = Check("ShutComp", "Выключить компьютер после копирования"));
  v->addWidget(useAsCDPlayerBox_ =
                   Check("UseAsCDPlayerBox", "Иcпользовать Sonarvex вместо CDPlayer'a"));
  v->addWidget(volumeOnCDBox_ = Check("VolumeOnCDBox", "Устанавливать громкость на CD-ROM'е"));
  v->addWidget(showGridBox_ = Check("ShowGridBox", "Показывать сетку"));
  v->addWidget(dpBox_ = Check("DPBox", "Цифровое воспроизведение"));
  v->addWidget(lockCDBox_ = Check("LockCDBox", "Блокировать CDROM во время копирования"));
  v->addWidget(checkBox1_ = Check("CheckBox1", "Использовать нормализацию"));
  v->addWidget(onTheFlyEncodingBox_ = Check("OnTheFlyEncodingBox", "Кодировать на лету"));
  v->addWidget(ripLogLosslessBox_ =
                   Check("RipLogLosslessBox", "Журнал и cue-лист после копирования в WAV и FLAC"));
  v->addWidget(ripLogCompressedBox_ = Check(
                   "RipLogCompressedBox", "Журнал и cue-лист после копирования в MP3, OGG и WMA"));
  for (QCheckBox* b : {ripLogLosslessBox_, ripLogCompressedBox_})
    b->setToolTip(Q("Файлы .log и .cue рядом со скопированными дорожками"));
  ripWorkersBox_ = Spin("RipWorkersBox", 0, kMaxRipWorkersBox);
  ripWorkersBox_->setSpecialValueText(Q(kRipWorkersAutoText));
  ripWorkersBox_->setToolTip(
      Q("Сколько дорожек сжимается в одно время; авто — по одной на процессор"));
  v->addLayout(LabelledRow(Named(new QLabel(Q("Сжимать дорожек одновременно:")), "RipWorkersLabel"),
                           ripWorkersBox_));
  v->addStretch(1);
  return page;
}

QWidget* TSettingsForm::BuildAudioPage() {
  pageControl2_ = Named(new QTabWidget, "PageControl2");

  // MP3
  auto* mp3 = new QWidget;
  auto* g = new QGridLayout(mp3);
  codecBox_ = Named(new QComboBox, "CodecBox");
  for (const auto& i : model_.CodecItems()) codecBox_->addItem(Q(i));
  g->addWidget(Named(new QLabel(Q("Кодек")), "Label8"), 0, 0);
  g->addWidget(codecBox_, 0, 1, 1, 3);
  g->addWidget(label9_ = Named(new QLabel, "Label9"), 1, 0);
  g->addWidget(formatBox_ = Named(new QComboBox, "FormatBox"), 1, 1);
  g->addWidget(label22_ = Named(new QLabel(Q("Макс")), "Label22"), 1, 2);
  g->addWidget(maxBR_ = Combo("MaxBR", LameBitrateItems()), 1, 3);
  g->addWidget(vbrLabel_ = Named(new QLabel(Q("VBR")), "VBRLabel"), 2, 0);
  g->addWidget(vbrBox_ = Combo("VBRBox", VbrItems()), 2, 1);
  g->addWidget(vbrqBox_ = Combo("VBRQBox", VbrQualityItems()), 2, 3);
  g->addWidget(label24_ = Named(new QLabel(Q("Режим")), "Label24"), 3, 0);
  g->addWidget(lameModeBox_ = Combo("LameModeBox", LameModeItems()), 3, 1);
  g->addWidget(label25_ = Named(new QLabel(Q("Качество")), "Label25"), 4, 0);
  g->addWidget(lameQualityBox_ = Combo("LameQualityBox", LameQualityItems()), 4, 1);
  g->setColumnStretch(4, 1);
  g->setRowStretch(5, 1);
  pageControl2_->addTab(mp3, Q(AudioPageCaptions()[0]));

  // OGG
  auto* ogg = new QWidget;
  auto* og = new QGridLayout(ogg);
  og->addWidget(oggQualityBox_ = Check("OggQualityBox", "Использовать настройку качества"), 0, 0, 1,
                3);
  oggBar_ = Named(new QSlider(Qt::Horizontal), "OggBar");
  oggBar_->setRange(-100, 1000);
  oggBar_->setSingleStep(10);
  oggBar_->setPageStep(100);
  og->addWidget(oggBar_, 1, 0, 1, 2);
  og->addWidget(qualityLabel_ = Named(new QLabel, "QualityLabel"), 1, 2);
  qualityLabel_->setMinimumWidth(40);
  og->addWidget(Named(new QLabel(Q("Мин. битрейт")), "Label3"), 2, 0);
  og->addWidget(oggMinBRBox_ = Combo("OggMinBRBox", OggBitrateItems()), 2, 1);
  og->addWidget(Named(new QLabel(Q("Номинальный битрейт")), "Label4"), 3, 0);
  og->addWidget(oggNomBRBox_ = Combo("OggNomBRBox", OggBitrateItems()), 3, 1);
  og->addWidget(Named(new QLabel(Q("Макс. битрейт")), "Label5"), 4, 0);
  og->addWidget(oggMaxBRBox_ = Combo("OggMaxBRBox", OggBitrateItems()), 4, 1);
  og->setColumnStretch(1, 1);
  og->setRowStretch(5, 1);
  pageControl2_->addTab(ogg, Q(AudioPageCaptions()[1]));

  // WMA
  auto* wma = new QWidget;
  auto* wg = new QGridLayout(wma);
  wg->addWidget(Named(new QLabel(Q("Битрейт")), "Label6"), 0, 0);
  wg->addWidget(wmaBitrateBox_ = Combo("WMABitrateBox", WmaBitrateItems()), 0, 1);
  wg->addWidget(useDRMBox_ = Check("UseDRMBox", "Включить DRM"), 1, 0, 1, 2);
  wg->addWidget(Named(new QLabel(Q("Декодировать файлов одновременно")), "Label7"), 2, 0);
  wg->addWidget(decodeFileBox_ = Combo("DecodeFileBox", DecodeFileItems()), 2, 1);
  wg->setColumnStretch(2, 1);
  wg->setRowStretch(3, 1);
  pageControl2_->addTab(wma, Q(AudioPageCaptions()[2]));

  // Нормализация
  auto* norm = new QWidget;
  auto* ng = new QGridLayout(norm);
  auto numberEdit = [](const char* name) {
    QLineEdit* e = Edit(name, 3);
    e->setFixedWidth(48);
    return e;
  };
  ng->addWidget(Named(new QLabel(Q("Устанавливать громкость на")), "Label10"), 0, 0);
  ng->addWidget(minEdit_ = numberEdit("MinEdit"), 0, 1);
  ng->addWidget(Named(new QLabel(Q("% если сигнал <")), "Label11"), 0, 2);
  ng->addWidget(setMinEdit_ = numberEdit("SetMinEdit"), 0, 3);
  ng->addWidget(Named(new QLabel(Q("Устанавливать громкость на")), "Label12"), 1, 0);
  ng->addWidget(maxEdit_ = numberEdit("MaxEdit"), 1, 1);
  ng->addWidget(Named(new QLabel(Q("% если сигнал >")), "Label13"), 1, 2);
  ng->addWidget(setMaxEdit_ = numberEdit("SetMaxEdit"), 1, 3);
  replayGainBox_ = Combo("ReplayGainBox", ReplayGainItems());
  replayGainBox_->setToolTip(
      Q("Теги ReplayGain дорожек и альбома при копировании; авто — только в FLAC"));
  auto* gainRow = LabelledRow(Named(new QLabel(Q("ReplayGain при копировании:")), "ReplayGainLabel"),
                              replayGainBox_);
  ng->addLayout(gainRow, 2, 0, 1, 5);
  ng->setColumnStretch(4, 1);
  ng->setRowStretch(3, 1);
  pageControl2_->addTab(norm, Q(AudioPageCaptions()[3]));

  // FLAC (after the sheets the record keeps, see kFlacAudioPage)
  auto* flac = new QWidget;
  auto* fv = new QVBoxLayout(flac);
  flacLevelBox_ = Spin("FlacLevelBox", kFlacLevelOption.min, kFlacLevelOption.max);
  flacLevelBox_->setToolTip(Q("0 — быстрее всего, 8 — самые маленькие файлы"));
  flacLevelLabel_ = Named(new QLabel(Q("Уровень сжатия (0–8):")), "FlacLevelLabel");
  fv->addLayout(LabelledRow(flacLevelLabel_, flacLevelBox_));
  flacVerifyBox_ = Check("FlacVerifyBox", "Проверять сжатие (сверять с исходным звуком)");
  flacVerifyBox_->setToolTip(Q("Каждый файл FLAC декодируется при записи и сверяется с исходным звуком"));
  fv->addWidget(flacVerifyBox_);
  flacNote_ = Named(new QLabel(Q(kNoFlacNote)), "FlacNote");
  flacNote_->setWordWrap(true);
  fv->addWidget(flacNote_);
  fv->addStretch(1);
  pageControl2_->addTab(flac, Q(kFlacPageCaption));

  // Opus (after FLAC's, see kOpusAudioPage)
  auto* opus = new QWidget;
  auto* ov = new QVBoxLayout(opus);
  opusBitrateBox_ = Spin("OpusBitrateBox", kOpusBitrateOption.min, kOpusBitrateOption.max);
  opusBitrateBox_->setSuffix(Q(" кбит/с"));
  opusBitrateBox_->setToolTip(Q("96–128 кбит/с: прозрачно для большинства записей, 160 — с запасом"));
  opusBitrateLabel_ = Named(new QLabel(Q("Битрейт (6–510 кбит/с):")), "OpusBitrateLabel");
  ov->addLayout(LabelledRow(opusBitrateLabel_, opusBitrateBox_));
  opusNote_ = Named(new QLabel(Q(kNoOpusNote)), "OpusNote");
  opusNote_->setWordWrap(true);
  ov->addWidget(opusNote_);
  ov->addStretch(1);
  pageControl2_->addTab(opus, Q(kOpusPageCaption));

  auto* page = new QWidget;
  auto* v = new QVBoxLayout(page);
  v->addWidget(pageControl2_);
  return page;
}

QWidget* TSettingsForm::BuildCdromPage() {
  auto* page = new QWidget;
  auto* g = new QGridLayout(page);
  deviceName_ = Named(new QComboBox, "DeviceName");
  for (const auto& d : model_.DriveItems()) deviceName_->addItem(Q(d));
  g->addWidget(Named(new QLabel(Q("Устройство")), "Label14"), 0, 0);
  g->addWidget(deviceName_, 0, 1, 1, 3);
  g->addWidget(Named(new QLabel(Q("Скорость")), "Label15"), 1, 0);
  g->addWidget(speedBox_ = Combo("SpeedBox", SpeedItems()), 1, 1);
  g->addWidget(cbMaxSpeed_ = Check("CBMaxSpeed", "Max"), 1, 2);
  g->addWidget(Named(new QLabel(Q("Читать секторов")), "Label16"), 2, 0);
  numSecReadEdit_ = Edit("NumSecReadEdit", 3);
  numSecReadEdit_->setFixedWidth(48);
  g->addWidget(numSecReadEdit_, 2, 1, Qt::AlignLeft);
  auto* transport = Named(new QGroupBox(Q("Интерфейс")), "GroupBox4");
  auto* tl = new QHBoxLayout(transport);
  tl->addWidget(sptiBtn_ = Named(new QRadioButton(Q("SPTI (NT only)")), "SPTIBtn"));
  tl->addWidget(aspiBtn_ = Named(new QRadioButton(Q("ASPI (W9x, NT)")), "ASPIBtn"));
  tl->addStretch(1);
  g->addWidget(transport, 3, 0, 1, 4);
  g->addWidget(Named(new QLabel(Q("Тип устройства")), "Label17"), 4, 0);
  g->addWidget(driveTypeBox_ = Combo("DriveTypeBox", DriveTypeItems()), 4, 1);
  detReadCommand_ = Button("DetReadCommand", Q("?"), Q("Определить команду чтения AudioCD"));
  g->addWidget(detReadCommand_, 4, 2, Qt::AlignLeft);
  g->addWidget(errorCorectionBox_ = Check("ErrorCorectionBox", "Коррекция шума"), 5, 0, 1, 3);
  readOffsetBox_ = Spin("ReadOffsetBox", -kMaxReadOffset, kMaxReadOffset);
  readOffsetBox_->setToolTip(
      Q("Поправка чтения выбранного устройства в сэмплах (как её считает AccurateRip)"));
  readOffsetLabel_ = Named(new QLabel(Q("Смещение чтения (сэмплов):")), "ReadOffsetLabel");
  findOffset_ = Button("FindOffsetButton", Q("Определить…"),
                       Q("Определить смещение чтения по диску, известному базе AccurateRip"));
  findOffset_->setToolButtonStyle(Qt::ToolButtonTextOnly);
  auto* offsetRow = LabelledRow(readOffsetLabel_, readOffsetBox_);
  offsetRow->insertWidget(2, findOffset_);  // before the row's stretch
  g->addLayout(offsetRow, 6, 0, 1, 4);
  ripSecureBox_ = Combo("RipSecureBox", SecureRipItems());
  ripSecureBox_->setToolTip(Q("Каждый блок читается дважды; расходящиеся сектора — до совпадения двух чтений"));
  g->addLayout(LabelledRow(Named(new QLabel(Q("Безопасное чтение:")), "RipSecureLabel"), ripSecureBox_),
               7, 0, 1, 4);
  ripSecureReadsBox_ = Spin("RipSecureReadsBox", 1, ProgramOptions::kMaxSecureReads);
  ripSecureReadsBox_->setToolTip(Q("Сколько раз самое большее перечитывается сектор, чтения которого расходятся"));
  g->addLayout(LabelledRow(Named(new QLabel(Q("Перечитывать сектор не более (раз):")), "RipSecureReadsLabel"),
                           ripSecureReadsBox_),
               8, 0, 1, 4);
  g->addWidget(ripC2Box_ = Check("RipC2Box", "Использовать указатели ошибок C2"), 9, 0, 1, 4);
  g->addWidget(ripTestAndCopyBox_ = Check("RipTestAndCopyBox", "Читать каждый трек дважды и сверять CRC"),
               10, 0, 1, 4);
  g->addWidget(ripHiddenTrackBox_ = Check("RipHiddenTrackBox", "Копировать скрытый трек перед первым"), 11,
               0, 1, 4);
  ripHiddenTrackBox_->setToolTip(Q("Звук до начала трека 1 сохраняется как трек 0"));
  g->setColumnStretch(3, 1);
  g->setRowStretch(12, 1);
  return page;
}

QWidget* TSettingsForm::BuildFreeDbPage() {
  auto* page = new QWidget;
  auto* v = new QVBoxLayout(page);
  auto* server = new QFormLayout;
  server->addRow(Named(new QLabel(Q("Сервер")), "Label18"),
                 serverEdit_ = Edit("ServerEdit", sizeof(SettingsRecord::CddbHost) - 1));
  server->addRow(Named(new QLabel(Q("Путь")), "Label19"),
                 pathEdit_ = Edit("PathEdit", sizeof(SettingsRecord::CddbPath) - 1));
  v->addLayout(server);
  auto* proxy = Named(new QGroupBox(Q("Прокси")), "GroupBox5");
  auto* pf = new QFormLayout(proxy);
  pf->addRow(Named(new QLabel(Q("Прокси")), "Label20"),
             proxyEdit_ = Edit("ProxyEdit", sizeof(SettingsRecord::ProxyHost) - 1));
  portEdit_ = Edit("PortEdit", 5);
  portEdit_->setFixedWidth(64);
  pf->addRow(Named(new QLabel(Q("Порт")), "Label21"), portEdit_);
  pf->addRow(Named(new QLabel(Q("Пользователь")), "Label23"),
             userEdit_ = Edit("UserEdit", sizeof(SettingsRecord::ProxyUser) - 1));
  pf->addRow(Named(new QLabel(Q("Пароль")), "Label27"),
             passwordEdit_ = Edit("PasswordEdit", sizeof(SettingsRecord::ProxyPassword) - 1));
  passwordEdit_->setEchoMode(QLineEdit::Password);
  v->addWidget(proxy);
  auto* arLabel =
      Named(new QLabel(Q("Сервер AccurateRip (пусто — без проверки):")), "ArServerLabel");
  arServerEdit_ = Edit("ArServerEdit", 255);
  arServerEdit_->setToolTip(Q("ИМЯ или ИМЯ:ПОРТ, например www.accuraterip.com"));
  arLabel->setBuddy(arServerEdit_);
  v->addWidget(arLabel);
  v->addWidget(arServerEdit_);
  autoLookupBox_ = Check("AutoLookupBox", "Искать сведения о диске при вставке");
  autoLookupBox_->setToolTip(
      Q("Диск, которого нет в базе альбомов, ищется в MusicBrainz, на сервере CDDB и в CD-Text"));
  v->addWidget(autoLookupBox_);
  auto* web = Named(new QGroupBox(Q("MusicBrainz и обложки")), "GroupBoxWeb");
  auto* wg = new QGridLayout(web);
  musicBrainzBox_ = Check("MusicBrainzBox", "Искать в MusicBrainz");
  musicBrainzServerEdit_ = Edit("MusicBrainzServerEdit", 255);
  musicBrainzServerEdit_->setPlaceholderText(Q("https://musicbrainz.org"));
  musicBrainzServerEdit_->setToolTip(Q("Адрес http:// или https://; пусто — https://musicbrainz.org"));
  coverArtBox_ = Check("CoverArtBox", "Загружать обложки");
  coverArtServerEdit_ = Edit("CoverArtServerEdit", 255);
  coverArtServerEdit_->setPlaceholderText(Q("https://coverartarchive.org"));
  coverArtServerEdit_->setToolTip(Q("Адрес http:// или https://; пусто — https://coverartarchive.org"));
  coverSizeBox_ = Combo("CoverSizeBox", CoverSizeItems());
  wg->addWidget(musicBrainzBox_, 0, 0);
  wg->addWidget(musicBrainzServerEdit_, 0, 1, 1, 2);
  wg->addWidget(coverArtBox_, 1, 0);
  wg->addWidget(coverArtServerEdit_, 1, 1, 1, 2);
  auto* sizeLabel = Named(new QLabel(Q("Размер обложки:")), "CoverSizeLabel");
  sizeLabel->setBuddy(coverSizeBox_);
  wg->addWidget(sizeLabel, 2, 0);
  wg->addWidget(coverSizeBox_, 2, 1);
  wg->setColumnStretch(2, 1);
  v->addWidget(web);
  v->addStretch(1);
  return page;
}

QWidget* TSettingsForm::BuildSearchPage() {
  auto* page = new QWidget;
  auto* v = new QVBoxLayout(page);
  v->addWidget(Named(new QLabel(Q("Искать файлы по расширению")), "Label28"));
  auto* row = new QHBoxLayout;
  row->addWidget(edit1_ = Edit("Edit1", 20));
  speedButton6_ = Button("SpeedButton6", Q("+"), Q("Добавить новое расширение"));
  row->addWidget(speedButton6_);
  row->addStretch(1);
  v->addLayout(row);
  v->addWidget(extListBox_ = Named(new QListWidget, "ExtListBox"), 1);
  return page;
}

QWidget* TSettingsForm::BuildViewPage() {
  pageControl3_ = Named(new QTabWidget, "PageControl3");
  auto* buttons = new QWidget;
  auto* bv = new QVBoxLayout(buttons);
  bv->addWidget(showPlayer_ = Check("ShowPlayer", "\"Запустить плеер\""));
  bv->addWidget(showConvert_ = Check("ShowConvert", "\"Конвертирование файлов\""));
  bv->addWidget(showFreeDB_ = Check("ShowFreeDB", "\"FreeDB\""));
  bv->addWidget(showFIND_ = Check("ShowFIND", "\"Поиск медиа файлов\""));
  bv->addWidget(showBURN_ = Check("ShowBURN", "\"Создать свой AudioCD\""));
  bv->addWidget(showWAVE_ = Check("ShowWAVE", "\"Сграбить в WAV\""));
  bv->addWidget(showWMA_ = Check("ShowWMA", "\"Сграбить в WMA\""));
  bv->addWidget(mp3AsOggBox_ =
                    Check("MP3AsOGGBox", "При нажатии \"Сграбить в MP3\" грабить в OGG"));
  bv->addStretch(1);
  pageControl3_->addTab(buttons, Q(ViewPageCaptions()[0]));

  auto* colours = new QWidget;
  auto* cg = new QGridLayout(colours);
  cg->addWidget(Named(new QLabel(Q("Цвет окна")), "Label29"), 0, 0);
  cg->addWidget(windowColorBox_ = ColourBox("WindowColorBox"), 0, 1);
  cg->addWidget(speedButton4_ = Button("SpeedButton4", Q("...")), 0, 2);
  cg->addWidget(Named(new QLabel(Q("Цвет эл-та ввода текста")), "Label30"), 1, 0);
  cg->addWidget(controlColorBox_ = ColourBox("ControlColorBox"), 1, 1);
  cg->addWidget(speedButton7_ = Button("SpeedButton7", Q("...")), 1, 2);
  label26_ = Named(new QLabel(Q("Стандартная")), "Label26");
  label37_ = Named(new QLabel(Q("Исходная")), "Label37");
  for (QLabel* l : {label26_, label37_}) {
    l->setCursor(Qt::PointingHandCursor);
    l->setStyleSheet("color: blue; text-decoration: underline;");
  }
  auto* links = new QHBoxLayout;
  links->addWidget(label26_);
  links->addSpacing(16);
  links->addWidget(label37_);
  links->addStretch(1);
  cg->addLayout(links, 2, 0, 1, 3);
  cg->setColumnStretch(3, 1);
  cg->setRowStretch(3, 1);
  pageControl3_->addTab(colours, Q(ViewPageCaptions()[1]));

  auto* page = new QWidget;
  auto* v = new QVBoxLayout(page);
  v->addWidget(pageControl3_);
  return page;
}

void TSettingsForm::WriteWidgets() {
  const SettingsControls& c = model_.Controls();
  programmatic_ = true;
  workDir_->setText(Q(c.WorkDir));
  auto check = [](QAbstractButton* b, bool on) {
    QSignalBlocker block(b);
    b->setChecked(on);
  };
  check(fileUseTrackName_, c.File_UseTrackName);
  check(fileUseAlbumName_, c.File_UseAlbumName);
  check(fileUseArtistName_, c.File_UseArtistName);
  check(fileUseTrackNum_, c.File_UseTrackNum);
  check(dirAsArtistName_, c.Dir_AsArtistName);
  check(dirAsAlbumName_, c.Dir_AsAlbumName);
  check(useFormatString_, c.UseFormatString);
  {
    QSignalBlocker block(formatEdit_);
    formatEdit_->setText(Q(c.FormatEdit));
  }
  check(ejectACopy_, c.EjectACopy);
  check(priorityBox_, c.PriorityBox);
  check(shutComp_, c.ShutComp);
  check(useAsCDPlayerBox_, c.UseAsCDPlayerBox);
  check(volumeOnCDBox_, c.VolumeOnCDBox);
  check(showGridBox_, c.ShowGridBox);
  check(dpBox_, c.DPBox);
  check(lockCDBox_, c.LockCDBox);
  check(checkBox1_, c.CheckBox1);
  check(onTheFlyEncodingBox_, c.OnTheFlyEncodingBox);
  check(ripLogLosslessBox_, c.RipLogLosslessBox);
  check(ripLogCompressedBox_, c.RipLogCompressedBox);
  ripWorkersBox_->setValue(c.RipWorkersBox);

  SetIndex(codecBox_, c.CodecBox);
  ShowCodec(model_.Codec());
  SetIndex(maxBR_, c.MaxBR);
  SetIndex(vbrBox_, c.VBRBox);
  SetIndex(vbrqBox_, c.VBRQBox);
  SetIndex(lameModeBox_, c.LameModeBox);
  SetIndex(lameQualityBox_, c.LameQualityBox);
  ApplyVbrRule();
  check(oggQualityBox_, c.OggQualityBox);
  oggBar_->setValue(c.OggBar);
  qualityLabel_->setText(Q(OggQualityText(oggBar_->value())));
  SetIndex(oggMinBRBox_, c.OggMinBRBox);
  SetIndex(oggNomBRBox_, c.OggNomBRBox);
  SetIndex(oggMaxBRBox_, c.OggMaxBRBox);
  SetIndex(wmaBitrateBox_, c.WMABitrateBox);
  check(useDRMBox_, c.UseDRMBox);
  SetIndex(decodeFileBox_, c.DecodeFileBox);
  minEdit_->setText(Q(c.MinEdit));
  setMinEdit_->setText(Q(c.SetMinEdit));
  maxEdit_->setText(Q(c.MaxEdit));
  setMaxEdit_->setText(Q(c.SetMaxEdit));
  flacLevelBox_->setValue(c.FlacLevelBox);
  for (QWidget* w : std::initializer_list<QWidget*>{flacLevelBox_, flacLevelLabel_})
    w->setEnabled(model_.FlacEnabled());
  flacNote_->setVisible(!model_.FlacEnabled());
  check(flacVerifyBox_, c.FlacVerifyBox);
  flacVerifyBox_->setEnabled(model_.FlacEnabled());
  SetIndex(replayGainBox_, c.ReplayGainBox);
  opusBitrateBox_->setValue(c.OpusBitrateBox);
  for (QWidget* w : std::initializer_list<QWidget*>{opusBitrateBox_, opusBitrateLabel_})
    w->setEnabled(model_.OpusEnabled());
  opusNote_->setVisible(!model_.OpusEnabled());
  pageControl2_->setCurrentIndex(c.PageControl2);

  SetIndex(deviceName_, c.DeviceName);
  SetIndex(driveTypeBox_, c.DriveTypeBox);
  SetIndex(speedBox_, c.SpeedBox);
  check(cbMaxSpeed_, c.CBMaxSpeed);
  numSecReadEdit_->setText(Q(c.NumSecReadEdit));
  sptiBtn_->setEnabled(model_.SptiEnabled());
  aspiBtn_->setEnabled(model_.AspiEnabled());
  check(sptiBtn_, c.SPTIBtn);
  check(aspiBtn_, !c.SPTIBtn);
  check(errorCorectionBox_, c.ErrorCorectionBox);
  ShowReadOffset();
  SetIndex(ripSecureBox_, c.RipSecureBox);
  ripSecureReadsBox_->setValue(c.RipSecureReadsBox);
  check(ripC2Box_, c.RipC2Box);
  check(ripTestAndCopyBox_, c.RipTestAndCopyBox);
  check(ripHiddenTrackBox_, c.RipHiddenTrackBox);

  serverEdit_->setText(Q(FitField(c.ServerEdit, sizeof(SettingsRecord::CddbHost))));
  pathEdit_->setText(Q(FitField(c.PathEdit, sizeof(SettingsRecord::CddbPath))));
  proxyEdit_->setText(Q(c.ProxyEdit));
  portEdit_->setText(Q(c.PortEdit));
  userEdit_->setText(Q(c.UserEdit));
  passwordEdit_->setText(Q(c.PasswordEdit));
  arServerEdit_->setText(Q(c.ArServerEdit));
  autoLookupBox_->setChecked(c.AutoLookupBox);
  check(musicBrainzBox_, c.MusicBrainzBox);
  musicBrainzServerEdit_->setText(Q(c.MusicBrainzServerEdit));
  check(coverArtBox_, c.CoverArtBox);
  coverArtServerEdit_->setText(Q(c.CoverArtServerEdit));
  SetIndex(coverSizeBox_, c.CoverSizeBox);
  FillExtensions();

  check(showPlayer_, c.ShowPlayer);
  check(showConvert_, c.ShowConvert);
  check(showFreeDB_, c.ShowFreeDB);
  check(showFIND_, c.ShowFIND);
  check(showBURN_, c.ShowBURN);
  check(showWAVE_, c.ShowWAVE);
  check(showWMA_, c.ShowWMA);
  check(mp3AsOggBox_, c.MP3AsOGGBox);
  SetColourBox(windowColorBox_, c.WindowColorBox);
  SetColourBox(controlColorBox_, c.ControlColorBox);

  {
    QSignalBlocker block(trackNames_);
    trackNames_->clear();
    for (const auto& t : model_.TrackItems()) trackNames_->addItem(Q(t));
    trackNames_->setCurrentIndex(c.TrackNames);
  }
  {
    QSignalBlocker block(pageControl1_);
    pageControl1_->setCurrentIndex(c.PageControl1);
  }
  programmatic_ = false;
  ApplyFormatRule();
  FormatEditChanged();
  ShowRange();
}

void TSettingsForm::ReadWidgets() {
  SettingsControls& c = model_.Controls();
  c.WorkDir = S(workDir_->text());
  c.File_UseTrackName = fileUseTrackName_->isChecked();
  c.File_UseAlbumName = fileUseAlbumName_->isChecked();
  c.File_UseArtistName = fileUseArtistName_->isChecked();
  c.File_UseTrackNum = fileUseTrackNum_->isChecked();
  c.Dir_AsArtistName = dirAsArtistName_->isChecked();
  c.Dir_AsAlbumName = dirAsAlbumName_->isChecked();
  c.UseFormatString = useFormatString_->isChecked();
  c.FormatEdit = S(formatEdit_->text());
  c.TrackNames = trackNames_->currentIndex();
  c.CBPos = cbPos_->isChecked();
  c.EjectACopy = ejectACopy_->isChecked();
  c.PriorityBox = priorityBox_->isChecked();
  c.ShutComp = shutComp_->isChecked();
  c.UseAsCDPlayerBox = useAsCDPlayerBox_->isChecked();
  c.VolumeOnCDBox = volumeOnCDBox_->isChecked();
  c.ShowGridBox = showGridBox_->isChecked();
  c.DPBox = dpBox_->isChecked();
  c.LockCDBox = lockCDBox_->isChecked();
  c.CheckBox1 = checkBox1_->isChecked();
  c.OnTheFlyEncodingBox = onTheFlyEncodingBox_->isChecked();
  c.RipLogLosslessBox = ripLogLosslessBox_->isChecked();
  c.RipLogCompressedBox = ripLogCompressedBox_->isChecked();
  c.RipWorkersBox = ripWorkersBox_->value();
  c.CodecBox = codecBox_->currentIndex();
  c.FormatBox = formatBox_->currentIndex();
  c.MaxBR = maxBR_->currentIndex();
  c.VBRBox = vbrBox_->currentIndex();
  c.VBRQBox = vbrqBox_->currentIndex();
  c.LameModeBox = lameModeBox_->currentIndex();
  c.LameQualityBox = lameQualityBox_->currentIndex();
  c.OggQualityBox = oggQualityBox_->isChecked();
  c.OggBar = oggBar_->value();
  c.OggMinBRBox = oggMinBRBox_->currentIndex();
  c.OggNomBRBox = oggNomBRBox_->currentIndex();
  c.OggMaxBRBox = oggMaxBRBox_->currentIndex();
  c.WMABitrateBox = wmaBitrateBox_->currentIndex();
  c.UseDRMBox = useDRMBox_->isChecked();
  c.DecodeFileBox = decodeFileBox_->currentIndex();
  c.MinEdit = S(minEdit_->text());
  c.SetMinEdit = S(setMinEdit_->text());
  c.MaxEdit = S(maxEdit_->text());
  c.SetMaxEdit = S(setMaxEdit_->text());
  c.FlacLevelBox = flacLevelBox_->value();
  c.OpusBitrateBox = opusBitrateBox_->value();
  c.FlacVerifyBox = flacVerifyBox_->isChecked();
  c.ReplayGainBox = replayGainBox_->currentIndex();
  c.PageControl2 = pageControl2_->currentIndex();
  c.DeviceName = deviceName_->currentIndex();
  c.SpeedBox = speedBox_->currentIndex();
  c.CBMaxSpeed = cbMaxSpeed_->isChecked();
  c.NumSecReadEdit = S(numSecReadEdit_->text());
  c.SPTIBtn = !aspiBtn_->isChecked();
  c.DriveTypeBox = driveTypeBox_->currentIndex();
  c.ErrorCorectionBox = errorCorectionBox_->isChecked();
  c.ReadOffsetBox = readOffsetBox_->value();  // of the drive shown
  c.RipSecureBox = ripSecureBox_->currentIndex();
  c.RipSecureReadsBox = ripSecureReadsBox_->value();
  c.RipC2Box = ripC2Box_->isChecked();
  c.RipTestAndCopyBox = ripTestAndCopyBox_->isChecked();
  c.RipHiddenTrackBox = ripHiddenTrackBox_->isChecked();
  c.ServerEdit = S(serverEdit_->text());
  c.PathEdit = S(pathEdit_->text());
  c.ProxyEdit = S(proxyEdit_->text());
  c.PortEdit = S(portEdit_->text());
  c.UserEdit = S(userEdit_->text());
  c.PasswordEdit = S(passwordEdit_->text());
  c.ArServerEdit = S(arServerEdit_->text());
  c.AutoLookupBox = autoLookupBox_->isChecked();
  c.MusicBrainzBox = musicBrainzBox_->isChecked();
  c.MusicBrainzServerEdit = S(musicBrainzServerEdit_->text());
  c.CoverArtBox = coverArtBox_->isChecked();
  c.CoverArtServerEdit = S(coverArtServerEdit_->text());
  c.CoverSizeBox = coverSizeBox_->currentIndex();
  c.ShowPlayer = showPlayer_->isChecked();
  c.ShowConvert = showConvert_->isChecked();
  c.ShowFreeDB = showFreeDB_->isChecked();
  c.ShowFIND = showFIND_->isChecked();
  c.ShowBURN = showBURN_->isChecked();
  c.ShowWAVE = showWAVE_->isChecked();
  c.ShowWMA = showWMA_->isChecked();
  c.MP3AsOGGBox = mp3AsOggBox_->isChecked();
  c.WindowColorBox = ColourBoxValue(windowColorBox_);
  c.ControlColorBox = ColourBoxValue(controlColorBox_);
  c.PageControl1 = pageControl1_->currentIndex();
}

void TSettingsForm::ShowCodec(const CodecView& view) {
  {
    QSignalBlocker block(formatBox_);
    formatBox_->clear();
    for (const auto& i : view.FormatItems) formatBox_->addItem(Q(i));
    formatBox_->setCurrentIndex(view.FormatIndex);
  }
  formatBox_->setMinimumWidth(view.FormatWidth);
  label9_->setText(Q(view.Label9));
  for (QWidget* w :
       std::initializer_list<QWidget*>{maxBR_, vbrBox_, vbrqBox_, lameModeBox_, lameQualityBox_,
                                       label22_, vbrLabel_, label24_, label25_})
    w->setVisible(view.Lame);
}

void TSettingsForm::ApplyVbrRule() {
  bool on = vbrBox_->currentIndex() > 0;
  maxBR_->setEnabled(on);
  label22_->setEnabled(on);
  vbrqBox_->setEnabled(on);
}

void TSettingsForm::ShowReadOffset() {
  const SettingsControls& c = model_.Controls();
  {
    QSignalBlocker block(readOffsetBox_);
    readOffsetBox_->setValue(c.ReadOffsetBox);
  }
  // Only a drive of the list has an offset.
  const bool drive =
      c.DeviceName >= 0 && c.DeviceName < static_cast<int>(model_.DriveItems().size());
  readOffsetBox_->setEnabled(drive);
  readOffsetLabel_->setEnabled(drive);
  findOffset_->setEnabled(drive);
}

void TSettingsForm::ApplyFormatRule() {
  bool naming = !useFormatString_->isChecked();
  for (QWidget* w :
       std::initializer_list<QWidget*>{fileUseTrackName_, fileUseAlbumName_, fileUseArtistName_,
                                       fileUseTrackNum_, dirAsArtistName_, dirAsAlbumName_})
    w->setEnabled(naming);
  formatEdit_->setEnabled(!naming);
}

void TSettingsForm::FormatEditChanged() {
  const QString text = formatEdit_->text();
  const QString cleaned = Q(model_.CleanFormat(S(text)));
  if (cleaned != text) {
    // Refused characters are dropped and "%%" becomes "%" where they were typed.
    int cursor = formatEdit_->cursorPosition() - static_cast<int>(text.size() - cleaned.size());
    QSignalBlocker block(formatEdit_);
    formatEdit_->setText(cleaned);
    formatEdit_->setCursorPosition(std::max(0, cursor));
  }
  model_.Controls().FormatEdit = S(cleaned);
  if (auto preview = model_.Preview()) testLabel_->setText(Q(*preview));
}

void TSettingsForm::ShowRange() {
  const RangeView& v = model_.Range().View();
  bool any = model_.Range().Track() >= 0;
  programmatic_ = true;
  for (QSlider* s : {secBar_, endBar_}) {
    s->setEnabled(any);
    s->setRange(0, v.Max);
  }
  secBar_->setValue(v.Start);
  endBar_->setValue(v.End);
  programmatic_ = false;
  labelTime1_->setText(Q(v.Label1));
  labelTime2_->setText(Q(v.Label2));
  UpdateArrow();
}

void TSettingsForm::UpdateArrow() {
  int row = std::max(secBar_->sizeHint().height(), 24);
  paintBox1_->setPixmap(ArrowPicture(model_.ActiveSliderIsStart(), row));
}

void TSettingsForm::FillExtensions() {
  extListBox_->clear();
  for (const auto& e : model_.Controls().ExtListBox) extListBox_->addItem(Q(e));
}

void TSettingsForm::ApplyColours() {
  const SettingsControls& c = model_.Controls();
  QPalette pal = palette();
  pal.setColor(QPalette::Window, FromColorRef(c.WindowColorBox, palette()));
  setPalette(pal);
  setAutoFillBackground(true);
  const QColor edit = FromColorRef(c.ControlColorBox, palette());
  for (QWidget* w : findChildren<QWidget*>()) {
    if (qobject_cast<QLineEdit*>(w) || qobject_cast<QComboBox*>(w) ||
        qobject_cast<QListWidget*>(w) || qobject_cast<QAbstractSpinBox*>(w)) {
      QPalette p = w->palette();
      p.setColor(QPalette::Base, edit);
      p.setColor(QPalette::Button, edit);
      w->setPalette(p);
    }
  }
}

void TSettingsForm::UpdatePageButtons() {
  bool range = pageControl1_->currentIndex() == 1;
  speedButton11_->setVisible(range);
  speedButton16_->setVisible(range);
}

void TSettingsForm::FocusControl(const std::string& name) {
  auto* target = findChild<QWidget*>(Q(name));
  if (!target) return;
  for (QWidget* w = target; w && w != this; w = w->parentWidget()) {
    QWidget* stack = w->parentWidget();
    auto* tabs = stack ? qobject_cast<QTabWidget*>(stack->parentWidget()) : nullptr;
    if (tabs && tabs->indexOf(w) >= 0) tabs->setCurrentWidget(w);
  }
  target->setFocus();
  if (auto* e = qobject_cast<QLineEdit*>(target)) e->selectAll();
}

void TSettingsForm::TimerPosition(int track, int sector) {
  model_.Controls().PageControl1 = pageControl1_->currentIndex();
  model_.Controls().CBPos = cbPos_->isChecked();
  if (model_.TimerPosition(track, sector)) ShowRange();
}

void TSettingsForm::SpeedButton2Click() {
  ReadWidgets();
  std::string failed;
  if (model_.Ok(&failed)) {
    accept();
    return;
  }
  FocusControl(failed);
}

void TSettingsForm::SpeedButton1Click() {
  reject();
}

void TSettingsForm::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    SpeedButton2Click();
    return;
  }
  QDialog::keyPressEvent(event);  // Esc rejects
}

bool TSettingsForm::eventFilter(QObject* watched, QEvent* event) {
  if ((watched == secBar_ || watched == endBar_) && event->type() == QEvent::FocusIn) {
    model_.SetActiveSlider(watched == secBar_);
    UpdateArrow();
  }
  if (watched == label26_ || watched == label37_) {
    auto* label = static_cast<QLabel*>(watched);
    if (event->type() == QEvent::MouseButtonPress) {
      label->setStyleSheet("color: red; text-decoration: underline;");
      return true;
    }
    if (event->type() == QEvent::MouseButtonRelease) {
      label->setStyleSheet("color: blue; text-decoration: underline;");
      if (watched == label26_) {
        SetColourBox(windowColorBox_, kSystemWindowColor);
        SetColourBox(controlColorBox_, kSystemEditColor);
      } else {
        SetColourBox(windowColorBox_, kDefaultWindowColor);
        SetColourBox(controlColorBox_, kDefaultEditColor);
      }
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace sonarvex

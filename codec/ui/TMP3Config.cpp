#include "codec/ui/TMP3Config.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QEvent>
#include <QIcon>
#include <QListWidget>
#include <QPainter>
#include <QPixmap>
#include <QSignalBlocker>

#include "codec/EncoderSet.h"
#include "platform/ui/QtText.h"

namespace sonarvex {
namespace {

constexpr int kComboHeight = 24;

// The mark of the chosen entry, drawn here.
QIcon CheckIcon() {
  static const QIcon icon = [] {
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::black, 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPolyline(QPolygonF({QPointF(3, 8.5), QPointF(6.5, 12), QPointF(13, 4)}));
    return QIcon(pm);
  }();
  return icon;
}

QIcon BlankIcon() {
  QPixmap blank(16, 16);
  blank.fill(Qt::transparent);
  return QIcon(blank);
}

}  // namespace

QStringList TMP3Config::LameBitrateItems() {
  return {"320kBit/s", "256kBit/s", "224kBit/s", "192kBit/s", "160kBit/s",
          "128kBit/s", "112kBit/s", "96kBit/s",  "80kBit/s",  "64kBit/s",
          "56kBit/s",  "48kBit/s",  "40kBit/s",  "32kBit/s"};
}

TMP3Config::TMP3Config(SettingsRecord& settings, const EncoderSet& encoders,
                       std::function<void()> changed, std::function<void(const QRect&)> closed,
                       QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint),
      settings_(settings),
      encoders_(encoders),
      changed_(std::move(changed)),
      closed_(std::move(closed)) {
  setObjectName("MP3Config");
  setWindowTitle("MP3Config");
  setAttribute(Qt::WA_DeleteOnClose, false);
  resize(330, 260);

  ComboBox1 = new QComboBox(this);
  ComboBox1->setObjectName("ComboBox1");
  ComboBox1->addItem(Q(encoders_.LameVersionText()));
  if (encoders_.Acm().CodecFound()) ComboBox1->addItem(Q(encoders_.Acm().CodecName()));

  FormatList = new QListWidget(this);
  FormatList->setObjectName("FormatList");
  ChannelList = new QListWidget(this);
  ChannelList->setObjectName("ChannelList");
  for (const char* mode : {"Stereo", "JStereo", "2 Channel", "Mono"}) ChannelList->addItem(mode);

  connect(ComboBox1, qOverload<int>(&QComboBox::activated), this,
          [this](int index) { ComboBox1Change(index); });
  connect(FormatList, &QListWidget::itemClicked, this,
          [this](QListWidgetItem* item) { FormatListClick(item); });
  connect(ChannelList, &QListWidget::itemClicked, this,
          [this](QListWidgetItem* item) { ChannelListClick(item); });
  FormActivate();
}

void TMP3Config::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::ActivationChange && isActiveWindow()) FormActivate();
}

void TMP3Config::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  FormActivate();
}

void TMP3Config::FormActivate() {
  // Shows the encoder the settings name; the settings themselves stay as they are.
  const bool lame = settings_.UseLame != 0 || ComboBox1->count() < 2;
  {
    QSignalBlocker block(ComboBox1);
    ComboBox1->setCurrentIndex(lame ? 0 : 1);
  }
  ShowList(lame);
}

void TMP3Config::ShowList(bool lame) {
  lameShown_ = lame;
  FormatList->clear();
  if (lame) {
    FormatList->addItems(LameBitrateItems());
  } else {
    for (const std::string& d : encoders_.Acm().FormatDescriptions()) FormatList->addItem(Q(d));
  }
  ChannelList->setVisible(lame);
  FormResize();
  UpdateChecks();
}

void TMP3Config::ComboBox1Change(int index) {
  if (index == 1) {
    settings_.UseLame = 0;
    ShowList(false);
  } else {
    settings_.UseLame = 1;
    ShowList(true);
  }
  if (changed_) changed_();
}

void TMP3Config::FormatListClick(QListWidgetItem* item) {
  const int row = FormatList->row(item);
  if (row < 0) return;
  if (lameShown_) {
    settings_.Lame.BitrateIndex = 14 - row;
    settings_.Lame.VbrEnabled = 0;
  } else {
    settings_.AcmFormatIndex = static_cast<std::uint16_t>(row);
  }
  UpdateChecks();
  if (changed_) changed_();
}

void TMP3Config::ChannelListClick(QListWidgetItem* item) {
  const int row = ChannelList->row(item);
  if (row < 0) return;
  settings_.Lame.Mode = row;
  UpdateChecks();
  if (changed_) changed_();
}

void TMP3Config::FormResize() {
  const int w = width();
  const int h = height() - kComboHeight;
  ComboBox1->setGeometry(0, 0, w, kComboHeight);
  if (lameShown_) {
    FormatList->setGeometry(0, kComboHeight, std::max(w - 120, 10), h);
    ChannelList->setGeometry(std::max(w - 120, 10), kComboHeight, 120, h);
  } else {
    FormatList->setGeometry(0, kComboHeight, std::max(w - 10, 10), h);
  }
}

void TMP3Config::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  FormResize();
}

void TMP3Config::UpdateChecks() {
  int checked = -1;
  if (lameShown_) {
    const int bi = settings_.Lame.BitrateIndex;
    if (settings_.Lame.VbrEnabled == 0 && bi >= 1 && bi <= 14) checked = 14 - bi;
  } else {
    checked = settings_.AcmFormatIndex;
  }
  for (int i = 0; i < FormatList->count(); ++i) {
    FormatList->item(i)->setIcon(i == checked ? CheckIcon() : BlankIcon());
    FormatList->item(i)->setData(kCheckedRole, i == checked);
  }
  for (int i = 0; i < ChannelList->count(); ++i) {
    ChannelList->item(i)->setIcon(i == settings_.Lame.Mode ? CheckIcon() : BlankIcon());
    ChannelList->item(i)->setData(kCheckedRole, i == settings_.Lame.Mode);
  }
}

void TMP3Config::closeEvent(QCloseEvent* event) {
  if (closed_) closed_(geometry());
  QWidget::closeEvent(event);
}

}  // namespace sonarvex

// The MP3 format chooser: a tool window that stays on top. The user picks
// the encoder (LAME or the codec layer's MP3 codec), the format and, for
// LAME, the channel mode; every change goes straight into the settings
// record and is reported so the main window can recompute its size estimate.
#pragma once

#include <QWidget>
#include <functional>

#include "records/SettingsRecord.h"

class QComboBox;
class QListWidget;
class QListWidgetItem;

namespace sonarvex {

class EncoderSet;

class TMP3Config : public QWidget {
  Q_OBJECT

 public:
  // changed runs after every change of the settings; closed gets the
  // window's geometry (left, top, width, height) when it closes.
  TMP3Config(SettingsRecord& settings, const EncoderSet& encoders, std::function<void()> changed,
             std::function<void(const QRect&)> closed, QWidget* parent = nullptr);

  // Item data role that is true on the entry carrying the check mark.
  static constexpr int kCheckedRole = Qt::UserRole + 1;

  QComboBox* ComboBox1;
  QListWidget* FormatList;
  QListWidget* ChannelList;

  // The fourteen LAME bitrate entries, "320kBit/s" first.
  static QStringList LameBitrateItems();

 protected:
  void changeEvent(QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void FormActivate();
  void ComboBox1Change(int index);
  void FormatListClick(QListWidgetItem* item);
  void ChannelListClick(QListWidgetItem* item);
  void ShowList(bool lame);
  void FormResize();
  void UpdateChecks();

  SettingsRecord& settings_;
  const EncoderSet& encoders_;
  std::function<void()> changed_;
  std::function<void(const QRect&)> closed_;
  bool lameShown_ = true;
};

}  // namespace sonarvex

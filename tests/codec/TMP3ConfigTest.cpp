#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QListWidget>
#include <QTest>

#include "codec/EncoderSet.h"
#include "codec/ui/TMP3Config.h"
#include "platform/ScriptedDialogs.h"

namespace sonarvex {
namespace {

QApplication& App() {
  static int argc = 1;
  static char name[] = "codec_ui_tests";
  static char* argv[] = {name, nullptr};
  // Never destroyed: tearing Qt down in the exit handlers crashes.
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

bool Checked(QListWidget* list, int row) {
  QListWidgetItem* item = list->item(row);
  return item->data(TMP3Config::kCheckedRole).toBool() && !item->icon().isNull();
}

void Click(QListWidget* list, int row) {
  QListWidgetItem* item = list->item(row);
  ASSERT_NE(item, nullptr);
  QRect r = list->visualItemRect(item);
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, r.center());
}

class MP3ConfigTest : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    ApplyFirstStartDefaults(settings_, "/tmp/");
    encoders_ = std::make_unique<EncoderSet>(settings_, dialogs_);
  }
  SettingsRecord settings_{};
  ScriptedDialogs dialogs_;
  std::unique_ptr<EncoderSet> encoders_;
};

TEST_F(MP3ConfigTest, LameListAndSettingsChanges) {
  int changes = 0;
  QRect closedAt;
  TMP3Config w(settings_, *encoders_, [&] { ++changes; }, [&](const QRect& r) { closedAt = r; });
  w.resize(400, 300);
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  EXPECT_EQ(w.objectName(), "MP3Config");
  EXPECT_EQ(w.windowTitle(), "MP3Config");
  EXPECT_TRUE(w.windowFlags() & Qt::WindowStaysOnTopHint);
  ASSERT_EQ(w.ComboBox1->count(), 2);
  EXPECT_EQ(w.ComboBox1->itemText(0).toStdString(), encoders_->LameVersionText());
  EXPECT_EQ(w.ComboBox1->itemText(1).toStdString(), encoders_->Acm().CodecName());
  EXPECT_EQ(w.ComboBox1->currentIndex(), 0);
  ASSERT_EQ(w.FormatList->count(), 14);
  EXPECT_EQ(w.FormatList->item(0)->text(), "320kBit/s");
  EXPECT_EQ(w.FormatList->item(13)->text(), "32kBit/s");
  EXPECT_TRUE(w.ChannelList->isVisible());
  EXPECT_EQ(w.FormatList->width(), w.width() - 120);
  // 224 kbit/s (index 12) is the checked entry.
  EXPECT_TRUE(Checked(w.FormatList, 2));
  EXPECT_FALSE(Checked(w.FormatList, 1));
  EXPECT_TRUE(Checked(w.ChannelList, 1));

  settings_.Lame.VbrEnabled = 1;
  Click(w.FormatList, 5);
  EXPECT_EQ(settings_.Lame.BitrateIndex, 9);
  EXPECT_EQ(settings_.Lame.VbrEnabled, 0);
  Click(w.ChannelList, 3);
  EXPECT_EQ(settings_.Lame.Mode, 3);
  EXPECT_EQ(changes, 2);
  EXPECT_TRUE(Checked(w.FormatList, 5));
  EXPECT_FALSE(Checked(w.FormatList, 2));
  EXPECT_TRUE(Checked(w.ChannelList, 3));

  // The codec layer's list.
  w.ComboBox1->setCurrentIndex(1);
  emit w.ComboBox1->activated(1);
  EXPECT_EQ(settings_.UseLame, 0);
  EXPECT_EQ(changes, 3);
  EXPECT_FALSE(w.ChannelList->isVisible());
  EXPECT_EQ(static_cast<std::size_t>(w.FormatList->count()), encoders_->Acm().FormatCount());
  EXPECT_EQ(w.FormatList->width(), w.width() - 10);
  Click(w.FormatList, 3);
  EXPECT_EQ(settings_.AcmFormatIndex, 3);
  EXPECT_EQ(changes, 4);
  w.resize(500, 300);
  QApplication::processEvents();
  EXPECT_EQ(w.FormatList->width(), 490);

  emit w.ComboBox1->activated(0);
  EXPECT_EQ(settings_.UseLame, 1);
  EXPECT_EQ(w.FormatList->count(), 14);
  w.close();
  EXPECT_EQ(closedAt.width(), 500);
}

TEST_F(MP3ConfigTest, OpensOnTheCodecListWhenLameIsOff) {
  settings_.UseLame = 0;
  TMP3Config w(settings_, *encoders_, nullptr, nullptr);
  w.show();
  EXPECT_EQ(w.ComboBox1->currentIndex(), 1);
  EXPECT_EQ(settings_.UseLame, 0);
  EXPECT_FALSE(w.ChannelList->isVisible());
  EXPECT_TRUE(Checked(w.FormatList, 0));
}

}  // namespace
}  // namespace sonarvex

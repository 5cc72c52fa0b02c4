#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "settings/SettingsFormRules.h"
#include "settings/ui/TSettingsForm.h"
#include "platform/Cp1251.h"
#include "platform/ScriptedDialogs.h"
#include "tests/settings/SettingsDialogTest.h"

namespace sonarvex {
namespace {

QApplication& App() {
  static int argc = 1;
  static char name[] = "settingsform_ui_tests";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

class FormTest : public SettingsDialogTest {
 protected:
  void SetUp() override {
    App();
    SettingsDialogTest::SetUp();
  }
  std::unique_ptr<TSettingsForm> Open() {
    auto f = std::make_unique<TSettingsForm>(settings_, album_, tags_, host_, host_, dialogs_);
    f->show();
    f->activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(f.get()));
    return f;
  }
  template <class W>
  static W* Find(QWidget* form, const char* name) {
    W* w = form->findChild<W*>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
  }
};

TEST_F(FormTest, CancelEscAndCloseDiscardTheEdits) {
  const SettingsRecord before = settings_;
  const AlbumRecord albumBefore = album_;
  {
    auto f = Open();
    Find<QCheckBox>(f.get(), "CBMaxSpeed")->setChecked(true);
    Find<QLineEdit>(f.get(), "ProxyEdit")->setText("proxy");
    Find<QSlider>(f.get(), "SecBar")->setValue(100);
    QTest::mouseClick(Find<QToolButton>(f.get(), "SpeedButton1"), Qt::LeftButton);
    EXPECT_FALSE(f->isVisible());
    EXPECT_FALSE(f->Accepted());
  }
  {
    auto f = Open();
    Find<QCheckBox>(f.get(), "EjectACopy")->setChecked(true);
    QTest::keyClick(f.get(), Qt::Key_Escape);
    EXPECT_FALSE(f->Accepted());
  }
  {
    auto f = Open();
    Find<QCheckBox>(f.get(), "ShowGridBox")->setChecked(true);
    f->close();
  }
  EXPECT_TRUE(SameSettings(before));
  EXPECT_EQ(std::memcmp(&album_, &albumBefore, sizeof album_), 0);
  EXPECT_FALSE(host_.storedExtensions);
}

TEST_F(FormTest, OkStoresMaxSpeedThirdSpeedAndProxy) {
  {
    auto f = Open();
    EXPECT_EQ(f->windowTitle().toStdString(), "Настройки");
    Find<QCheckBox>(f.get(), "CBMaxSpeed")->setChecked(true);
    QTest::mouseClick(Find<QToolButton>(f.get(), "SpeedButton2"), Qt::LeftButton);
    EXPECT_TRUE(f->Accepted());
  }
  EXPECT_EQ(settings_.ReadSpeed, 255);
  {
    auto f = Open();
    auto* max = Find<QCheckBox>(f.get(), "CBMaxSpeed");
    EXPECT_TRUE(max->isChecked());
    EXPECT_EQ(Find<QComboBox>(f.get(), "SpeedBox")->currentIndex(), 49);
    max->setChecked(false);
    Find<QComboBox>(f.get(), "SpeedBox")->setCurrentIndex(2);
    EXPECT_EQ(Find<QComboBox>(f.get(), "SpeedBox")->currentText().toStdString(), "3x ( 529 Кб/с )");
    QTest::keyClicks(Find<QLineEdit>(f.get(), "ProxyEdit"), "proxy.lan");
    // Enter anywhere is OK.
    QTest::keyClick(Find<QLineEdit>(f.get(), "ProxyEdit"), Qt::Key_Return);
    EXPECT_TRUE(f->Accepted());
  }
  EXPECT_EQ(settings_.ReadSpeed, 3);
  EXPECT_EQ(settings_.ProxyEnabled, 1);
  EXPECT_EQ(FieldText(settings_.ProxyHost), "proxy.lan");
}

TEST_F(FormTest, EditsRefuseTextLongerThanTheirFields) {
  auto f = Open();
  Find<QCheckBox>(f.get(), "UseFormatString")->setChecked(true);
  struct Case {
    const char* name;
    int max;
  } cases[] = {{"ServerEdit", 24},   {"PathEdit", 29},   {"ProxyEdit", 24}, {"UserEdit", 24},
               {"PasswordEdit", 24}, {"FormatEdit", 50}, {"WorkDir", 259}};
  for (const Case& c : cases) {
    auto* e = Find<QLineEdit>(f.get(), c.name);
    e->clear();
    e->setFocus();
    QTest::keyClicks(e, QString(c.max + 10, QChar('T')));
    EXPECT_EQ(e->text().size(), c.max) << c.name;
  }
}

TEST_F(FormTest, FormatStringTypingRulesPreviewAndRejection) {
  const SettingsRecord before = settings_;
  auto f = Open();
  auto* use = Find<QCheckBox>(f.get(), "UseFormatString");
  auto* edit = Find<QLineEdit>(f.get(), "FormatEdit");
  auto* title = Find<QCheckBox>(f.get(), "File_UseTrackName");
  auto* preview = Find<QLabel>(f.get(), "TestLabel");
  EXPECT_FALSE(edit->isEnabled());
  EXPECT_TRUE(title->isEnabled());
  use->setChecked(true);
  EXPECT_TRUE(edit->isEnabled());
  EXPECT_FALSE(title->isEnabled());
  EXPECT_FALSE(Find<QCheckBox>(f.get(), "Dir_AsAlbumName")->isEnabled());
  EXPECT_EQ(edit->toolTip().toStdString(), FormatHint());

  f->findChild<QTabWidget*>("PageControl1")->setCurrentIndex(0);
  edit->setFocus();
  QTest::keyClicks(edit, "%N. %%A: - *%T?");
  EXPECT_EQ(edit->text().toStdString(), "%N. %A - %T");
  EXPECT_EQ(preview->text().toStdString(), "01. Artist - Track1.mp3");
  QTest::keyClick(edit, Qt::Key_Percent);  // ends with '%': the preview stays
  EXPECT_EQ(preview->text().toStdString(), "01. Artist - Track1.mp3");

  dialogs_.ExpectMessage(kBadFormatMessage, "Sonarvex", MsgIcon::Information, MsgButtons::Ok);
  QTest::mouseClick(Find<QToolButton>(f.get(), "SpeedButton2"), Qt::LeftButton);
  EXPECT_FALSE(f->Accepted());
  EXPECT_TRUE(f->isVisible());
  EXPECT_TRUE(SameSettings(before));
  EXPECT_TRUE(edit->hasFocus());

  edit->setText("%");
  EXPECT_EQ(preview->text().toStdString(), "");
  edit->setText("%A\\%T");
  QTest::mouseClick(Find<QToolButton>(f.get(), "SpeedButton2"), Qt::LeftButton);
  EXPECT_TRUE(f->Accepted());
  EXPECT_EQ(FieldText(settings_.FormatString), "%A\\%T");
}

TEST_F(FormTest, NamingBoxesFallBackToTheTitle) {
  {
    auto f = Open();
    for (const char* n :
         {"File_UseTrackName", "File_UseAlbumName", "File_UseArtistName", "File_UseTrackNum"})
      Find<QCheckBox>(f.get(), n)->setChecked(false);
    f->SpeedButton2Click();
  }
  EXPECT_EQ(settings_.NameHasTitle, 1);
  auto f = Open();
  EXPECT_TRUE(Find<QCheckBox>(f.get(), "File_UseTrackName")->isChecked());
}

TEST_F(FormTest, BadNumberShowsThePageOfTheEdit) {
  auto f = Open();
  auto* edit = Find<QLineEdit>(f.get(), "SetMaxEdit");
  edit->setText("300");
  dialogs_.ExpectMessage(kNormRangeMessage, kProgramTitle, MsgIcon::Warning, MsgButtons::Ok);
  f->SpeedButton2Click();
  EXPECT_FALSE(f->Accepted());
  EXPECT_EQ(f->findChild<QTabWidget*>("PageControl1")->currentIndex(), 3);
  EXPECT_EQ(f->findChild<QTabWidget*>("PageControl2")->currentIndex(), 3);
}

TEST_F(FormTest, RangeSlidersAndTheCopyRangeGivenBack) {
  host_.selected = 1;
  auto f = Open();
  auto* track = Find<QComboBox>(f.get(), "TrackNames");
  auto* sec = Find<QSlider>(f.get(), "SecBar");
  auto* end = Find<QSlider>(f.get(), "EndBar");
  EXPECT_EQ(track->count(), 3);
  EXPECT_EQ(track->currentIndex(), 1);
  EXPECT_EQ(sec->maximum(), 9000);
  EXPECT_EQ(end->value(), 9000);
  EXPECT_EQ(Find<QLabel>(f.get(), "LabelTime1")->text().toStdString(), "00:00:00 /");
  end->setValue(3000);
  sec->setValue(4000);  // past the end
  EXPECT_EQ(end->value(), 9000);
  EXPECT_EQ(Find<QLabel>(f.get(), "LabelTime1")->text().toStdString(), "00:53:25 /");
  EXPECT_EQ(album_.Tracks[1].RangeFlag, 0);

  // The play position moves the active slider with "Текущая позиция" down.
  f->findChild<QTabWidget*>("PageControl1")->setCurrentIndex(1);
  EXPECT_TRUE(Find<QToolButton>(f.get(), "SpeedButton11")->isVisible());
  Find<QToolButton>(f.get(), "CBPos")->setChecked(true);
  end->setFocus();
  f->TimerPosition(1, 6000);
  EXPECT_EQ(end->value(), 6000);
  EXPECT_EQ(sec->value(), 4000);
  QTest::mouseClick(Find<QToolButton>(f.get(), "SpeedButton11"), Qt::LeftButton);
  ASSERT_EQ(host_.plays.size(), 1u);
  EXPECT_EQ(MsfToFrames(host_.plays[0].from), 13500 + 4000 + 150);
  EXPECT_EQ(MsfToFrames(host_.plays[0].to), 13500 + 6000 + 150);

  f->SpeedButton2Click();
  ASSERT_TRUE(f->Accepted());
  EXPECT_EQ(album_.Tracks[1].RangeFlag, 1);
  EXPECT_EQ(MsfToFrames(album_.Tracks[1].RangeStart), 13500 + 4000 + 150);
  EXPECT_EQ(MsfToFrames(album_.Tracks[1].RangeEnd), 13500 + 6000 + 150);
  EXPECT_EQ(settings_.SettingsPage, 1);
}

TEST_F(FormTest, CodecVbrDriveAndExtensionControls) {
  host_.acm = "MPEG Layer-3";
  host_.acmFormats = {"128 kBit/s, 44100 Hz, Stereo"};
  host_.detection = ReadCommandChoice{2, 1};
  auto f = Open();
  auto* codec = Find<QComboBox>(f.get(), "CodecBox");
  auto* format = Find<QComboBox>(f.get(), "FormatBox");
  auto* maxbr = Find<QComboBox>(f.get(), "MaxBR");
  f->findChild<QTabWidget*>("PageControl1")->setCurrentIndex(3);
  f->findChild<QTabWidget*>("PageControl2")->setCurrentIndex(0);
  EXPECT_EQ(codec->itemText(0).toStdString(), "LAME 3.100");
  EXPECT_EQ(format->count(), 14);
  EXPECT_FALSE(maxbr->isEnabled());
  Find<QComboBox>(f.get(), "VBRBox")->setCurrentIndex(1);
  EXPECT_TRUE(maxbr->isEnabled());
  EXPECT_TRUE(Find<QComboBox>(f.get(), "VBRQBox")->isEnabled());
  codec->setCurrentIndex(1);
  EXPECT_EQ(format->count(), 1);
  EXPECT_FALSE(maxbr->isVisible());
  EXPECT_EQ(Find<QLabel>(f.get(), "Label9")->text().toStdString(), "Формат");
  codec->setCurrentIndex(0);
  EXPECT_TRUE(maxbr->isVisible());

  auto* oggBar = Find<QSlider>(f.get(), "OggBar");
  oggBar->setValue(250);
  EXPECT_EQ(Find<QLabel>(f.get(), "QualityLabel")->text().toStdString(), "2.5");

  auto* device = Find<QComboBox>(f.get(), "DeviceName");
  auto* type = Find<QComboBox>(f.get(), "DriveTypeBox");
  EXPECT_EQ(device->count(), 2);
  device->setCurrentIndex(1);
  QTest::mouseClick(Find<QToolButton>(f.get(), "DetReadCommand"), Qt::LeftButton);
  EXPECT_EQ(type->currentIndex(), 2);
  EXPECT_EQ(Find<QLineEdit>(f.get(), "NumSecReadEdit")->text().toStdString(), "1");
  EXPECT_EQ(Find<QToolButton>(f.get(), "DetReadCommand")->toolTip().toStdString(),
            "Определить команду чтения AudioCD");

  auto* ext = Find<QListWidget>(f.get(), "ExtListBox");
  auto* edit1 = Find<QLineEdit>(f.get(), "Edit1");
  edit1->setText("FLAC");
  QTest::mouseClick(Find<QToolButton>(f.get(), "SpeedButton6"), Qt::LeftButton);
  EXPECT_EQ(ext->count(), 3);
  EXPECT_EQ(ext->item(2)->text().toStdString(), ".flac");

  // "Исходная" and "Стандартная" pick the colour pairs.
  f->findChild<QTabWidget*>("PageControl1")->setCurrentIndex(7);
  f->findChild<QTabWidget*>("PageControl3")->setCurrentIndex(1);
  QTest::mouseClick(Find<QLabel>(f.get(), "Label26"), Qt::LeftButton);
  f->SetColourChooser([](std::uint32_t) { return std::optional<std::uint32_t>(0x123456); });
  QTest::mouseClick(Find<QToolButton>(f.get(), "SpeedButton7"), Qt::LeftButton);
  f->SpeedButton2Click();
  ASSERT_TRUE(f->Accepted());
  EXPECT_EQ(settings_.Lame.VbrMethod, 0);
  EXPECT_EQ(settings_.UseLame, 1);
  EXPECT_EQ(settings_.OggQuality, 250);
  EXPECT_EQ(settings_.DriveIndex, 1);
  EXPECT_EQ(settings_.DriveTypes[1], 2);
  EXPECT_EQ(settings_.SectorsPerRead, 1);
  EXPECT_EQ(settings_.WindowColor, kSystemWindowColor);
  EXPECT_EQ(settings_.EditColor, 0x123456u);
  EXPECT_EQ(host_.storedExtensions->back(), ".flac");
}

TEST_F(FormTest, TransportButtonsFollowAvailability) {
  host_.aspi = false;
  settings_.UseSpti = 1;
  auto f = Open();
  EXPECT_FALSE(Find<QRadioButton>(f.get(), "ASPIBtn")->isEnabled());
  EXPECT_TRUE(Find<QRadioButton>(f.get(), "SPTIBtn")->isChecked());
}

// Every page with the captions in full: no check box, radio button or label
// narrower than its text. With SONARVEX_SHOTS set to a folder, each page is
// also written there as a PNG.
TEST_F(FormTest, EveryPageFitsItsCaptions) {
  host_.acm = "MPEG Layer-3 (FFmpeg)";
  host_.acmFormats = {"128 kBit/s, 44100 Hz, Stereo"};
  host_.selected = 0;
  auto f = Open();
  f->resize(f->sizeHint());
  const char* shots = std::getenv("SONARVEX_SHOTS");
  auto* pc1 = f->findChild<QTabWidget*>("PageControl1");
  auto* pc2 = f->findChild<QTabWidget*>("PageControl2");
  auto* pc3 = f->findChild<QTabWidget*>("PageControl3");
  EXPECT_EQ(pc1->count(), 8);
  std::vector<std::string> captions;
  for (int i = 0; i < pc1->count(); ++i) captions.push_back(pc1->tabText(i).toStdString());
  EXPECT_EQ(captions, PageCaptions());
  auto check = [&](const std::string& shot) {
    QApplication::processEvents();
    for (QTabWidget* tw : {pc1, pc2, pc3}) {
      if (tw->isVisible()) {
        EXPECT_GE(tw->tabBar()->width(), tw->tabBar()->sizeHint().width()) << shot;
      }
    }
    for (QWidget* w : f->findChildren<QWidget*>()) {
      if (!w->isVisible()) continue;
      if (qobject_cast<QCheckBox*>(w) || qobject_cast<QRadioButton*>(w) ||
          qobject_cast<QLabel*>(w)) {
        EXPECT_GE(w->width(), w->minimumSizeHint().width())
            << shot << ": " << w->objectName().toStdString();
      }
    }
    if (shots) f->grab().save(QString::fromStdString(std::string(shots) + "/" + shot + ".png"));
  };
  EXPECT_EQ(pc2->count(), 6);
  for (int i = 0; i < 8; ++i) {
    pc1->setCurrentIndex(i);
    if (i == 3) {
      for (int k = 0; k < pc2->count(); ++k) {
        pc2->setCurrentIndex(k);
        check("page3_" + std::to_string(k));
      }
    } else if (i == 7) {
      for (int k = 0; k < 2; ++k) {
        pc3->setCurrentIndex(k);
        check("page7_" + std::to_string(k));
      }
    } else {
      check("page" + std::to_string(i));
    }
  }
}

// The options of the INI store, shown from the program's facts.
TEST_F(FormTest, IniOptionsAreShownFromTheFacts) {
  host_.ripWorkers = 3;
  host_.flacLevel = 7;
  host_.readOffsets = {{0, 6}, {1, -30}};
  host_.logLossless = false;
  host_.logCompressed = true;
  host_.arServer = "ar.example:8080";
  auto f = Open();
  EXPECT_EQ(Find<QSpinBox>(f.get(), "RipWorkersBox")->value(), 3);
  EXPECT_EQ(Find<QSpinBox>(f.get(), "FlacLevelBox")->value(), 7);
  EXPECT_EQ(Find<QSpinBox>(f.get(), "ReadOffsetBox")->value(), 6);
  EXPECT_FALSE(Find<QCheckBox>(f.get(), "RipLogLosslessBox")->isChecked());
  EXPECT_TRUE(Find<QCheckBox>(f.get(), "RipLogCompressedBox")->isChecked());
  EXPECT_EQ(Find<QLineEdit>(f.get(), "ArServerEdit")->text().toStdString(), "ar.example:8080");
  EXPECT_EQ(Find<QCheckBox>(f.get(), "RipLogLosslessBox")->text().toStdString(),
            "Журнал и cue-лист после копирования в WAV и FLAC");
  EXPECT_EQ(Find<QCheckBox>(f.get(), "RipLogCompressedBox")->text().toStdString(),
            "Журнал и cue-лист после копирования в MP3, OGG и WMA");
  EXPECT_EQ(Find<QLabel>(f.get(), "RipWorkersLabel")->text().toStdString(),
            "Сжимать дорожек одновременно:");
  EXPECT_EQ(Find<QLabel>(f.get(), "ReadOffsetLabel")->text().toStdString(),
            "Смещение чтения (сэмплов):");
  EXPECT_EQ(Find<QLabel>(f.get(), "ArServerLabel")->text().toStdString(),
            "Сервер AccurateRip (пусто — без проверки):");
  EXPECT_EQ(Find<QLabel>(f.get(), "FlacLevelLabel")->text().toStdString(), "Уровень сжатия (0–8):");
  auto* offset = Find<QSpinBox>(f.get(), "ReadOffsetBox");
  EXPECT_EQ(offset->minimum(), -5880);
  EXPECT_EQ(offset->maximum(), 5880);
  auto* workers = Find<QSpinBox>(f.get(), "RipWorkersBox");
  EXPECT_EQ(workers->minimum(), 0);
  EXPECT_EQ(workers->maximum(), 64);
  workers->setValue(0);
  EXPECT_EQ(workers->text().toStdString(), "авто");

  // The FLAC and Opus sheets come after the four the record keeps.
  auto* sheets = f->findChild<QTabWidget*>("PageControl2");
  ASSERT_EQ(sheets->count(), 6);
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(sheets->tabText(i).toStdString(), AudioPageCaptions()[static_cast<std::size_t>(i)]);
  EXPECT_EQ(sheets->tabText(4).toStdString(), "FLAC");
  EXPECT_EQ(sheets->tabText(kOpusAudioPage).toStdString(), "Opus");
  auto* opus = Find<QSpinBox>(f.get(), "OpusBitrateBox");
  EXPECT_EQ(opus->value(), 160);
  EXPECT_EQ(opus->minimum(), 6);
  EXPECT_EQ(opus->maximum(), 510);
  EXPECT_TRUE(opus->isEnabled());
  EXPECT_EQ(Find<QLabel>(f.get(), "OpusBitrateLabel")->text().toStdString(),
            "Битрейт (6–510 кбит/с):");
  EXPECT_TRUE(Find<QLabel>(f.get(), "OpusNote")->isHidden());
  EXPECT_TRUE(Find<QSpinBox>(f.get(), "FlacLevelBox")->isEnabled());
  EXPECT_TRUE(Find<QLabel>(f.get(), "FlacNote")->isHidden());
}

TEST_F(FormTest, OkStoresTheIniOptions) {
  host_.readOffsets = {{1, -30}};
  host_.arServer = "ar.example";
  {
    auto f = Open();
    Find<QSpinBox>(f.get(), "RipWorkersBox")->setValue(6);
    Find<QSpinBox>(f.get(), "FlacLevelBox")->setValue(8);
    Find<QSpinBox>(f.get(), "OpusBitrateBox")->setValue(64);
    Find<QCheckBox>(f.get(), "RipLogLosslessBox")->setChecked(false);
    Find<QCheckBox>(f.get(), "RipLogCompressedBox")->setChecked(true);
    auto* offset = Find<QSpinBox>(f.get(), "ReadOffsetBox");
    f->findChild<QTabWidget*>("PageControl1")->setCurrentIndex(4);
    offset->setFocus();
    offset->selectAll();
    QTest::keyClicks(offset, "667");
    EXPECT_EQ(offset->value(), 667);
    auto* server = Find<QLineEdit>(f.get(), "ArServerEdit");
    server->setText(" ar.lan:8080 ");
    QTest::mouseClick(Find<QToolButton>(f.get(), "SpeedButton2"), Qt::LeftButton);
    ASSERT_TRUE(f->Accepted());
  }
  EXPECT_EQ(host_.ripWorkers, 6);
  EXPECT_EQ(host_.flacLevel, 8);
  EXPECT_EQ(host_.opusBitrate, 64);
  EXPECT_FALSE(host_.logLossless);
  EXPECT_TRUE(host_.logCompressed);
  EXPECT_EQ(host_.readOffsets, (std::map<int, int>{{0, 667}, {1, -30}}));
  EXPECT_EQ(host_.arServer, "ar.lan:8080");
  // A second OK without changes writes nothing.
  host_.iniCalls.clear();
  {
    auto f = Open();
    EXPECT_EQ(Find<QSpinBox>(f.get(), "ReadOffsetBox")->value(), 667);
    f->SpeedButton2Click();
    ASSERT_TRUE(f->Accepted());
  }
  EXPECT_TRUE(host_.iniCalls.empty());
}

TEST_F(FormTest, CancelEscAndCloseStoreNoIniOption) {
  auto edit = [this](TSettingsForm* f) {
    Find<QSpinBox>(f, "RipWorkersBox")->setValue(9);
    Find<QSpinBox>(f, "FlacLevelBox")->setValue(1);
    Find<QSpinBox>(f, "OpusBitrateBox")->setValue(32);
    Find<QSpinBox>(f, "ReadOffsetBox")->setValue(48);
    Find<QComboBox>(f, "DeviceName")->setCurrentIndex(1);
    Find<QSpinBox>(f, "ReadOffsetBox")->setValue(-12);
    Find<QCheckBox>(f, "RipLogCompressedBox")->setChecked(true);
    Find<QLineEdit>(f, "ArServerEdit")->setText("ar.lan");
  };
  {
    auto f = Open();
    edit(f.get());
    QTest::mouseClick(Find<QToolButton>(f.get(), "SpeedButton1"), Qt::LeftButton);
    EXPECT_FALSE(f->Accepted());
  }
  {
    auto f = Open();
    edit(f.get());
    QTest::keyClick(f.get(), Qt::Key_Escape);
    EXPECT_FALSE(f->Accepted());
  }
  {
    auto f = Open();
    edit(f.get());
    f->close();
  }
  EXPECT_TRUE(host_.iniCalls.empty());
  EXPECT_EQ(host_.ripWorkers, 0);
  EXPECT_TRUE(host_.readOffsets.empty());
  EXPECT_EQ(host_.arServer, "");
}

// The offset box shows the offset of the drive chosen in the dialog; the
// offsets of every drive edited are kept until OK.
TEST_F(FormTest, ReadOffsetFollowsTheDriveBox) {
  host_.drives = {"Drive A", "Drive B", "Drive C"};
  host_.readOffsets = {{0, 6}, {1, -30}, {2, 102}};
  auto f = Open();
  auto* device = Find<QComboBox>(f.get(), "DeviceName");
  auto* offset = Find<QSpinBox>(f.get(), "ReadOffsetBox");
  EXPECT_EQ(offset->value(), 6);
  offset->setValue(12);
  device->setCurrentIndex(1);
  EXPECT_EQ(offset->value(), -30);
  offset->setValue(48);
  device->setCurrentIndex(2);
  EXPECT_EQ(offset->value(), 102);
  device->setCurrentIndex(0);
  EXPECT_EQ(offset->value(), 12);
  device->setCurrentIndex(1);
  EXPECT_EQ(offset->value(), 48);
  EXPECT_TRUE(host_.iniCalls.empty());  // nothing before OK
  f->SpeedButton2Click();
  ASSERT_TRUE(f->Accepted());
  EXPECT_EQ(host_.iniCalls, (std::vector<std::string>{"ReadOffset0=12", "ReadOffset1=48"}));
  EXPECT_EQ(host_.readOffsets, (std::map<int, int>{{0, 12}, {1, 48}, {2, 102}}));
  EXPECT_EQ(settings_.DriveIndex, 1);
}

TEST_F(FormTest, ReadOffsetNeedsADrive) {
  host_.drives.clear();
  auto f = Open();
  EXPECT_FALSE(Find<QSpinBox>(f.get(), "ReadOffsetBox")->isEnabled());
  EXPECT_FALSE(Find<QLabel>(f.get(), "ReadOffsetLabel")->isEnabled());
  EXPECT_FALSE(Find<QToolButton>(f.get(), "FindOffsetButton")->isEnabled());
}

// "Определить…" searches the drive shown and fills the box on yes.
TEST_F(FormTest, FindOffsetFillsTheBoxOfTheDriveShown) {
  auto f = Open();
  Find<QComboBox>(f.get(), "DeviceName")->setCurrentIndex(1);
  auto* button = Find<QToolButton>(f.get(), "FindOffsetButton");
  EXPECT_EQ(button->text().toStdString(), "Определить…");
  EXPECT_TRUE(button->isEnabled());
  host_.offsetFinding = {true, -472, "Смещение: -472."};
  dialogs_.ExpectMessage("Смещение: -472.\n\nУстановить смещение -472 для этого устройства?", kProgramTitle,
                         MsgIcon::Question, MsgButtons::YesNo, IdYes);
  QTest::mouseClick(button, Qt::LeftButton);
  EXPECT_EQ(host_.offsetSearches, std::vector<int>{1});
  EXPECT_EQ(Find<QSpinBox>(f.get(), "ReadOffsetBox")->value(), -472);
  EXPECT_TRUE(f->isEnabled());
  f->SpeedButton2Click();
  ASSERT_TRUE(f->Accepted());
  EXPECT_EQ(host_.readOffsets, (std::map<int, int>{{1, -472}}));
}

TEST_F(FormTest, BadAccurateRipServerRefusesOk) {
  const SettingsRecord before = settings_;
  auto f = Open();
  Find<QSpinBox>(f.get(), "RipWorkersBox")->setValue(2);
  auto* server = Find<QLineEdit>(f.get(), "ArServerEdit");
  server->setText("ar.lan:http");
  dialogs_.ExpectMessage(BadArServerMessage("ar.lan:http"), kProgramTitle, MsgIcon::Warning,
                         MsgButtons::Ok);
  QTest::mouseClick(Find<QToolButton>(f.get(), "SpeedButton2"), Qt::LeftButton);
  EXPECT_FALSE(f->Accepted());
  EXPECT_TRUE(f->isVisible());
  EXPECT_TRUE(SameSettings(before));
  EXPECT_TRUE(host_.iniCalls.empty());
  // The FreeDB page is shown with the server selected.
  EXPECT_EQ(f->findChild<QTabWidget*>("PageControl1")->currentIndex(), 5);
  EXPECT_TRUE(server->hasFocus());
  EXPECT_EQ(server->selectedText().toStdString(), "ar.lan:http");

  // Enter takes the same way.
  dialogs_.ExpectMessage(BadArServerMessage("ar.lan:http"), kProgramTitle, MsgIcon::Warning,
                         MsgButtons::Ok);
  QTest::keyClick(server, Qt::Key_Return);
  EXPECT_FALSE(f->Accepted());

  server->setText("ar.lan:8080");
  QTest::mouseClick(Find<QToolButton>(f.get(), "SpeedButton2"), Qt::LeftButton);
  ASSERT_TRUE(f->Accepted());
  EXPECT_EQ(host_.arServer, "ar.lan:8080");
  EXPECT_EQ(host_.ripWorkers, 2);
}

TEST_F(FormTest, FlacControlsAreDisabledWithoutLibFlac) {
  host_.flac = false;
  host_.flacLevel = 3;
  auto f = Open();
  f->findChild<QTabWidget*>("PageControl1")->setCurrentIndex(3);
  f->findChild<QTabWidget*>("PageControl2")->setCurrentIndex(kFlacAudioPage);
  auto* level = Find<QSpinBox>(f.get(), "FlacLevelBox");
  auto* note = Find<QLabel>(f.get(), "FlacNote");
  EXPECT_FALSE(level->isEnabled());
  EXPECT_FALSE(Find<QLabel>(f.get(), "FlacLevelLabel")->isEnabled());
  EXPECT_EQ(level->value(), 3);
  EXPECT_TRUE(note->isVisible());
  EXPECT_EQ(note->text().toStdString(),
            "Кодирование в FLAC невозможно т.к. библиотека libFLAC не установлена.");
  const char* shots = std::getenv("SONARVEX_SHOTS");
  if (shots) f->grab().save(QString::fromStdString(std::string(shots) + "/page3_4_noflac.png"));
  // Leaving the dialog on the FLAC sheet keeps the sheet the record holds.
  const std::uint8_t kept = settings_.OutputKind;
  f->SpeedButton2Click();
  ASSERT_TRUE(f->Accepted());
  EXPECT_EQ(settings_.OutputKind, kept);
  EXPECT_TRUE(host_.iniCalls.empty());
}

// The options that were set only on the command line or in sonarvex.ini:
// FLAC verification and ReplayGain on the audio sheets, secure reading and
// the hidden track on the CDROM page, MusicBrainz and the cover art on the
// FreeDB page.
class NewIniOptionsTest : public FormTest {
 protected:
  // Every one of them away from its default.
  void StoreOthers() {
    host_.flacVerify = false;
    host_.more.ReplayGain = true;
    host_.more.SecureRip = false;
    host_.more.SecureReads = 40;
    host_.more.SecureC2 = false;
    host_.more.TestAndCopy = true;
    host_.more.HiddenTrack = false;
    host_.more.MusicBrainzEnabled = false;
    host_.more.MusicBrainzServer = "http://mb.lan:5000";
    host_.more.CoverArtEnabled = false;
    host_.more.CoverArtServer = "https://covers.lan";
    host_.more.CoverArtSize = 0;
  }
  // Changes every control back to the defaults.
  void EditAll(TSettingsForm* f) {
    Find<QCheckBox>(f, "FlacVerifyBox")->setChecked(true);
    Find<QComboBox>(f, "ReplayGainBox")->setCurrentIndex(kChoiceAuto);
    Find<QComboBox>(f, "RipSecureBox")->setCurrentIndex(kChoiceAuto);
    Find<QSpinBox>(f, "RipSecureReadsBox")->setValue(16);
    Find<QCheckBox>(f, "RipC2Box")->setChecked(true);
    Find<QCheckBox>(f, "RipTestAndCopyBox")->setChecked(false);
    Find<QCheckBox>(f, "RipHiddenTrackBox")->setChecked(true);
    Find<QCheckBox>(f, "MusicBrainzBox")->setChecked(true);
    Find<QLineEdit>(f, "MusicBrainzServerEdit")->setText(" ");
    Find<QCheckBox>(f, "CoverArtBox")->setChecked(true);
    Find<QLineEdit>(f, "CoverArtServerEdit")->setText("");
    Find<QComboBox>(f, "CoverSizeBox")->setCurrentIndex(2);
  }
};

TEST_F(NewIniOptionsTest, ControlsShowTheStoredValues) {
  {
    auto f = Open();  // the defaults
    EXPECT_TRUE(Find<QCheckBox>(f.get(), "FlacVerifyBox")->isChecked());
    EXPECT_EQ(Find<QComboBox>(f.get(), "ReplayGainBox")->currentText().toStdString(), "авто (FLAC)");
    EXPECT_EQ(Find<QComboBox>(f.get(), "RipSecureBox")->currentText().toStdString(), "авто (WAV и FLAC)");
    EXPECT_EQ(Find<QSpinBox>(f.get(), "RipSecureReadsBox")->value(), 16);
    EXPECT_TRUE(Find<QCheckBox>(f.get(), "RipC2Box")->isChecked());
    EXPECT_FALSE(Find<QCheckBox>(f.get(), "RipTestAndCopyBox")->isChecked());
    EXPECT_TRUE(Find<QCheckBox>(f.get(), "RipHiddenTrackBox")->isChecked());
    EXPECT_TRUE(Find<QCheckBox>(f.get(), "MusicBrainzBox")->isChecked());
    EXPECT_TRUE(Find<QCheckBox>(f.get(), "CoverArtBox")->isChecked());
    EXPECT_EQ(Find<QComboBox>(f.get(), "CoverSizeBox")->currentText().toStdString(), "500 точек");
  }
  StoreOthers();
  auto f = Open();
  EXPECT_FALSE(Find<QCheckBox>(f.get(), "FlacVerifyBox")->isChecked());
  EXPECT_EQ(Find<QComboBox>(f.get(), "ReplayGainBox")->currentText().toStdString(), "во все файлы с тегами");
  EXPECT_EQ(Find<QComboBox>(f.get(), "RipSecureBox")->currentText().toStdString(), "никогда");
  EXPECT_EQ(Find<QSpinBox>(f.get(), "RipSecureReadsBox")->value(), 40);
  EXPECT_EQ(Find<QSpinBox>(f.get(), "RipSecureReadsBox")->maximum(), ProgramOptions::kMaxSecureReads);
  EXPECT_FALSE(Find<QCheckBox>(f.get(), "RipC2Box")->isChecked());
  EXPECT_TRUE(Find<QCheckBox>(f.get(), "RipTestAndCopyBox")->isChecked());
  EXPECT_FALSE(Find<QCheckBox>(f.get(), "RipHiddenTrackBox")->isChecked());
  EXPECT_FALSE(Find<QCheckBox>(f.get(), "MusicBrainzBox")->isChecked());
  EXPECT_EQ(Find<QLineEdit>(f.get(), "MusicBrainzServerEdit")->text().toStdString(), "http://mb.lan:5000");
  EXPECT_FALSE(Find<QCheckBox>(f.get(), "CoverArtBox")->isChecked());
  EXPECT_EQ(Find<QLineEdit>(f.get(), "CoverArtServerEdit")->text().toStdString(), "https://covers.lan");
  EXPECT_EQ(Find<QComboBox>(f.get(), "CoverSizeBox")->currentText().toStdString(), "исходный");
  // Each control sits on the page of its subject.
  auto pageOf = [&](const char* name) {
    auto* pc1 = f->findChild<QTabWidget*>("PageControl1");
    for (QWidget* w = Find<QWidget>(f.get(), name); w; w = w->parentWidget())
      if (pc1->indexOf(w) >= 0) return pc1->indexOf(w);
    return -1;
  };
  EXPECT_EQ(pageOf("FlacVerifyBox"), 3);
  EXPECT_EQ(pageOf("ReplayGainBox"), 3);
  for (const char* name : {"RipSecureBox", "RipSecureReadsBox", "RipC2Box", "RipTestAndCopyBox", "RipHiddenTrackBox"})
    EXPECT_EQ(pageOf(name), 4) << name;
  for (const char* name : {"MusicBrainzBox", "MusicBrainzServerEdit", "CoverArtBox", "CoverArtServerEdit", "CoverSizeBox"})
    EXPECT_EQ(pageOf(name), 5) << name;
  // Opening and OK without a change writes nothing.
  f->SpeedButton2Click();
  ASSERT_TRUE(f->Accepted());
  EXPECT_TRUE(host_.iniCalls.empty());
}

TEST_F(NewIniOptionsTest, OkWritesEachBackCancelNone) {
  StoreOthers();
  {
    auto f = Open();
    EditAll(f.get());
    QTest::mouseClick(Find<QToolButton>(f.get(), "SpeedButton1"), Qt::LeftButton);
    EXPECT_FALSE(f->Accepted());
  }
  {
    auto f = Open();
    EditAll(f.get());
    QTest::keyClick(f.get(), Qt::Key_Escape);
    EXPECT_FALSE(f->Accepted());
  }
  EXPECT_TRUE(host_.iniCalls.empty());
  EXPECT_FALSE(host_.flacVerify);
  EXPECT_EQ(host_.more.SecureReads, 40);
  {
    auto f = Open();
    EditAll(f.get());
    QTest::mouseClick(Find<QToolButton>(f.get(), "SpeedButton2"), Qt::LeftButton);
    ASSERT_TRUE(f->Accepted());
  }
  EXPECT_EQ(host_.iniCalls,
            (std::vector<std::string>{"FlacVerify=1", "ReplayGain=auto", "Secure=auto", "SecureReads=16", "C2=1",
                                      "TestAndCopy=0", "HiddenTrack=1", "MusicBrainz=1", "MusicBrainzServer=",
                                      "CoverArt=1", "CoverArtServer=", "CoverArtSize=1200"}));
  // And the other way: from the defaults to the values StoreOthers gives.
  host_.iniCalls.clear();
  {
    auto f = Open();
    Find<QCheckBox>(f.get(), "FlacVerifyBox")->setChecked(false);
    Find<QComboBox>(f.get(), "ReplayGainBox")->setCurrentIndex(kChoiceOff);
    Find<QComboBox>(f.get(), "RipSecureBox")->setCurrentIndex(kChoiceOn);
    Find<QSpinBox>(f.get(), "RipSecureReadsBox")->setValue(3);
    Find<QCheckBox>(f.get(), "RipTestAndCopyBox")->setChecked(true);
    Find<QLineEdit>(f.get(), "MusicBrainzServerEdit")->setText(" https://mb.lan ");
    Find<QComboBox>(f.get(), "CoverSizeBox")->setCurrentIndex(3);
    f->SpeedButton2Click();
    ASSERT_TRUE(f->Accepted());
  }
  EXPECT_FALSE(host_.flacVerify);
  EXPECT_EQ(host_.more.ReplayGain, std::optional<bool>(false));
  EXPECT_EQ(host_.more.SecureRip, std::optional<bool>(true));
  EXPECT_EQ(host_.more.SecureReads, 3);
  EXPECT_TRUE(host_.more.TestAndCopy);
  EXPECT_EQ(host_.more.MusicBrainzServer, "https://mb.lan");
  EXPECT_EQ(host_.more.CoverArtSize, 0);
  EXPECT_EQ(host_.iniCalls.size(), 7u);
}

// A server address the client cannot use keeps the dialog open on it, with
// nothing stored.
TEST_F(NewIniOptionsTest, BadWebServerRefusesOk) {
  auto f = Open();
  Find<QComboBox>(f.get(), "RipSecureBox")->setCurrentIndex(kChoiceOn);
  auto* mb = Find<QLineEdit>(f.get(), "MusicBrainzServerEdit");
  mb->setText("mb.lan:5000");
  dialogs_.ExpectMessage(BadWebServerMessage("MusicBrainz", "mb.lan:5000"), kProgramTitle, MsgIcon::Warning,
                         MsgButtons::Ok);
  f->SpeedButton2Click();
  EXPECT_FALSE(f->Accepted());
  EXPECT_TRUE(host_.iniCalls.empty());
  EXPECT_EQ(f->findChild<QTabWidget*>("PageControl1")->currentIndex(), 5);
  EXPECT_TRUE(mb->hasFocus());
  mb->setText("http://mb.lan:5000");
  auto* covers = Find<QLineEdit>(f.get(), "CoverArtServerEdit");
  covers->setText("ftp://covers.lan");
  dialogs_.ExpectMessage(BadWebServerMessage("Cover Art Archive", "ftp://covers.lan"), kProgramTitle,
                         MsgIcon::Warning, MsgButtons::Ok);
  f->SpeedButton2Click();
  EXPECT_FALSE(f->Accepted());
  EXPECT_TRUE(covers->hasFocus());
  covers->clear();
  f->SpeedButton2Click();
  ASSERT_TRUE(f->Accepted());
  EXPECT_EQ(host_.more.MusicBrainzServer, "http://mb.lan:5000");
  EXPECT_EQ(host_.more.SecureRip, std::optional<bool>(true));
}

TEST_F(NewIniOptionsTest, FlacVerifyIsDisabledWithoutLibFlacAndNotWritten) {
  host_.flac = false;
  auto f = Open();
  auto* verify = Find<QCheckBox>(f.get(), "FlacVerifyBox");
  EXPECT_FALSE(verify->isEnabled());
  verify->setChecked(false);
  f->SpeedButton2Click();
  ASSERT_TRUE(f->Accepted());
  EXPECT_TRUE(host_.flacVerify);
  EXPECT_TRUE(host_.iniCalls.empty());
}

}  // namespace
}  // namespace sonarvex

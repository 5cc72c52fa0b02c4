// The detection dialog and the drive report window.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>

#include "drive/CapabilityReport.h"
#include "drive/CommandBlock.h"
#include "drive/ui/TCDInfo.h"
#include "drive/ui/TReadCommandForm.h"
#include "platform/ui/QtText.h"
#include "platform/ScriptedDialogs.h"
#include "tests/drive/DriveRig.h"

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QScrollBar>
#include <cerrno>
#include <filesystem>
#include <fstream>

namespace sonarvex {
namespace {

QApplication& App() {
  static int argc = 1;
  static char name[] = "drive_ui_test";
  static char* argv[] = {name, nullptr};
  static QApplication app(argc, argv);
  return app;
}

struct SettingsDialogParts {
  QLineEdit edit;
  QComboBox box;
  int changes = 0;
  SettingsDialogParts(const QString& sectors) {
    edit.setText(sectors);
    for (int i = 0; i < kDriveTypeCount; ++i) box.addItem(Q(DriveTypeName(i)));
    box.setCurrentIndex(0);
  }
  ReadCommandFormContext Context(bool spti, std::function<bool()> disc = [] { return true; }) {
    ReadCommandFormContext c;
    c.discPresent = std::move(disc);
    c.useSpti = spti;
    c.device = 0;
    c.numSecReadEdit = &edit;
    c.driveTypeBox = &box;
    c.driveTypeChanged = [this] { ++changes; };
    return c;
  }
};

QTreeWidgetItem* RowOf(QTreeWidget* list, const QString& name, int sectors) {
  for (int i = 0; i < list->topLevelItemCount(); ++i) {
    auto* item = list->topLevelItem(i);
    if (item->text(1) == name && item->text(2).toInt() == sectors) return item;
  }
  return nullptr;
}

TEST(TReadCommandForm, Read10OnlyDriveAndChoosingARow) {
  App();
  VirtualDriveConfig config;
  config.acceptedReadForms = 1u << 6;
  test::DriveRig rig({BuildAudioDisc({3000})}, config);
  for (bool spti : {true, false}) {
    SCOPED_TRACE(spti);
    ScriptedDialogs dialogs;
    SettingsDialogParts settings("30");
    TReadCommandForm form(nullptr, dialogs, rig.spti, rig.aspi, settings.Context(spti));
    ASSERT_TRUE(form.Prepare());
    EXPECT_EQ(form.windowTitle(), Q("Определение команды чтения AudioCD"));
    ASSERT_EQ(form.ListView->topLevelItemCount(), 27);
    for (int i = 0; i < 27; ++i) {
      auto* item = form.ListView->topLevelItem(i);
      EXPECT_EQ(item->text(0).toInt(), i + 1);
      const bool read10 = item->text(1) == "Read10";
      EXPECT_EQ(item->text(3), read10 ? Q("успешно") : Q("неудачно")) << i;
      if (i % 3 == 2) {
        EXPECT_EQ(item->text(2), "30");
      }
    }
    // "Да" without a selection does nothing.
    form.SpeedButton2->click();
    EXPECT_EQ(settings.changes, 0);
    EXPECT_EQ(settings.edit.text(), "30");

    auto* row = RowOf(form.ListView, "Read10", 26);
    ASSERT_TRUE(row);
    form.ListView->setCurrentItem(row);
    form.SpeedButton2->click();
    EXPECT_EQ(settings.edit.text(), "26");
    EXPECT_EQ(settings.box.currentIndex(), 2);
    EXPECT_EQ(settings.box.currentText(), Q("Toshiba (новый)"));
    EXPECT_EQ(settings.changes, 1);
    EXPECT_EQ(form.result(), QDialog::Accepted);
    EXPECT_TRUE(dialogs.Clean());
  }
}

TEST(TReadCommandForm, SonyAndMmc2RowsSelectTheirDriveTypes) {
  App();
  test::DriveRig rig({BuildAudioDisc({3000})});
  ScriptedDialogs dialogs;
  SettingsDialogParts settings("10");
  TReadCommandForm form(nullptr, dialogs, rig.spti, rig.aspi, settings.Context(true));
  ASSERT_TRUE(form.Prepare());
  form.ListView->setCurrentItem(RowOf(form.ListView, "ReadSONY", 10));
  form.SpeedButton2Click();
  EXPECT_EQ(settings.box.currentIndex(), 15);
  EXPECT_EQ(settings.edit.text(), "10");
  form.ListView->setCurrentItem(RowOf(form.ListView, "ReadMMC2", 1));
  form.SpeedButton2Click();
  EXPECT_EQ(settings.box.currentIndex(), 19);
  EXPECT_EQ(settings.edit.text(), "1");
}

TEST(TReadCommandForm, DiscPromptRepeatsAndNoAbandons) {
  App();
  test::DriveRig rig({BuildAudioDisc({3000})});
  {
    ScriptedDialogs dialogs;
    dialogs.ExpectMessage("Вставьте музыкальный диск и нажмите Ok.", "Sonarvex",
                          MsgIcon::Information, MsgButtons::YesNo, IdYes);
    dialogs.ExpectMessage("Вставьте музыкальный диск и нажмите Ok.", "Sonarvex",
                          MsgIcon::Information, MsgButtons::YesNo, IdNo);
    SettingsDialogParts settings("30");
    settings.box.setCurrentIndex(7);
    TReadCommandForm form(nullptr, dialogs, rig.spti, rig.aspi,
                          settings.Context(true, [] { return false; }));
    EXPECT_FALSE(form.Prepare());
    EXPECT_EQ(form.ListView->topLevelItemCount(), 0);
    EXPECT_EQ(settings.edit.text(), "30");
    EXPECT_EQ(settings.box.currentIndex(), 7);
    EXPECT_EQ(settings.changes, 0);
    EXPECT_TRUE(dialogs.Clean());
  }
  {
    int polls = 0;
    ScriptedDialogs dialogs;
    dialogs.ExpectMessage("Вставьте музыкальный диск и нажмите Ok.", "Sonarvex",
                          MsgIcon::Information, MsgButtons::YesNo, IdYes);
    SettingsDialogParts settings("30");
    TReadCommandForm form(nullptr, dialogs, rig.spti, rig.aspi,
                          settings.Context(true, [&] { return ++polls > 1; }));
    EXPECT_TRUE(form.Prepare());
    EXPECT_EQ(form.ListView->topLevelItemCount(), 27);
    EXPECT_TRUE(dialogs.Clean());
  }
}

TEST(TReadCommandForm, FieldWithoutANumberEndsTheDialog) {
  App();
  test::DriveRig rig({BuildAudioDisc({3000})});
  ScriptedDialogs dialogs;
  dialogs.ExpectMessage("'3x' is not a valid integer value", "Sonarvex", MsgIcon::Error,
                        MsgButtons::Ok);
  SettingsDialogParts settings("3x");
  TReadCommandForm form(nullptr, dialogs, rig.spti, rig.aspi, settings.Context(true));
  EXPECT_FALSE(form.Prepare());
  EXPECT_TRUE(dialogs.Clean());
  EXPECT_EQ(rig.Drive().GetStats().audioReads, 0);
}

TEST(TCDInfo, ShowsTheReportAndCopiesIt) {
  App();
  test::DriveRig rig({BuildAudioDisc({3000})});
  ASSERT_TRUE(rig.spti.SelectDevice(0, 0));
  const auto lines = CapabilityReportLines(QueryCapabilities(rig.spti));
  TCDInfo info(nullptr, lines);
  EXPECT_EQ(info.windowTitle(), Q("Информация о приводе"));
  const QStringList shown = info.InfoBox->toPlainText().split('\n');
  ASSERT_EQ(shown.size(), 21);
  EXPECT_EQ(shown[0], Q("Привод : SONARVEXVirtual CD      1.0 "));
  EXPECT_EQ(shown[3], Q("Чтение CD-R       :       Да"));
  EXPECT_EQ(shown[10], Q("Запись CD-R       :       Нет"));
  EXPECT_EQ(shown[20], Q("Размер буфера     :       2048 Kb"));
  EXPECT_EQ(info.SpeedButton4->text(), "Copy");
  EXPECT_EQ(info.SpeedButton1->text(), "Ok");
  EXPECT_TRUE(info.SpeedButton1->font().bold());
  info.SpeedButton4->click();
  EXPECT_EQ(QGuiApplication::clipboard()->text(), info.InfoBox->toPlainText());
  info.SpeedButton1->click();
  EXPECT_EQ(info.result(), QDialog::Accepted);
}

TEST(TCDInfo, NamesTheDrivesThatCannotBeOpened) {
  App();
  // A fake device folder whose only optical drive refuses the user.
  const std::string root = test::MakeTempFolder();
  std::filesystem::create_directories(root + "/dev");
  std::ofstream(root + "/dev/sr0") << "";
  // As root the node can belong to the group "cdrom" that root is not in, as
  // on a Debian system; the reason then names the group.
  bool cdromGroup = false;
  if (::geteuid() == 0)
    if (const struct group* g = ::getgrnam("cdrom"))
      cdromGroup = ::chown((root + "/dev/sr0").c_str(), 0, g->gr_gid) == 0 &&
                   ::chmod((root + "/dev/sr0").c_str(), 0660) == 0;
  DeviceFolders folders;
  folders.dev = root + "/dev";
  folders.scsiGeneric = root + "/none";
  folders.open = [](const std::string&) {
    errno = EACCES;
    return -1;
  };
  DeviceDirectory directory(true, folders);
  auto drive = std::make_shared<VirtualDrive>();
  drive->InsertDisc(BuildAudioDisc({3000}));
  directory.AddVirtual(drive);
  SptiTransport spti(directory);
  ASSERT_TRUE(spti.SelectDevice(1, 0));
  TCDInfo info(nullptr, CapabilityReportLines(QueryCapabilities(spti)));
  const QStringList shown = info.InfoBox->toPlainText().split('\n');
  ASSERT_EQ(shown.size(), 24);
  EXPECT_EQ(shown[0], Q("Привод : SONARVEXVirtual CD      1.0 "));
  EXPECT_EQ(shown[22], Q("Недоступные приводы:"));
  EXPECT_EQ(shown[23], Q(root + "/dev/sr0: нет прав доступа" +
                         (cdromGroup ? ": пользователь не входит в группу cdrom"
                                     : " на чтение и запись")));
  // Shown from its start, though the last line is wider than the memo.
  info.show();
  QApplication::processEvents();
  EXPECT_EQ(info.InfoBox->textCursor().position(), 0);
  EXPECT_EQ(info.InfoBox->horizontalScrollBar()->value(), 0);
  // For a person to look at: SONARVEX_SHOTS=<folder>.
  if (const char* shots = std::getenv("SONARVEX_SHOTS")) {
    info.resize(560, 520);
    info.show();
    QApplication::processEvents();
    EXPECT_TRUE(info.grab().save(QDir(shots).filePath("drive-report-unreachable.png")));
  }
  std::filesystem::remove_all(root);
}

}  // namespace
}  // namespace sonarvex

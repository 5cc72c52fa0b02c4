// sonarvex: the program. One instance at a time; its files live beside it
// when it runs portable, else in the user's XDG folders (ProgramFolders.h).
#include <QApplication>
#include <QIcon>
#include <QMessageBox>
#include <QSocketNotifier>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <string>

#include "platform/Version.h"
#include "session/ProgramFolders.h"
#include "session/Session.h"
#include "app/ui/TMainForm.h"
#include "platform/ProgramFolder.h"
#include "platform/ui/QtDialogs.h"
#include "platform/ui/QtText.h"
#include "platform/SingleInstance.h"
#include "platform/XdgAssociations.h"

namespace {

// Shows what escaped an event handler and goes on, as the window framework
// of the program always did.
class Application : public QApplication {
 public:
  using QApplication::QApplication;
  bool notify(QObject* receiver, QEvent* event) override {
    try {
      return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
      QMessageBox::critical(activeWindow(), QString::fromUtf8("Sonarvex"),
                            QString::fromUtf8(e.what()));
    } catch (...) {
      QMessageBox::critical(activeWindow(), QString::fromUtf8("Sonarvex"),
                            QString::fromUtf8("Непредвиденная ощибка"));
    }
    return false;
  }
};

const char* kUsage =
    "usage: sonarvex [-h | --help] [--version] [DEVICE]\n"
    "The window of Sonarvex, the audio CD ripper. One instance runs at a time:\n"
    "a second start brings the running window to the front. DEVICE (as the\n"
    "desktop gives it for an audio CD) is accepted; the stored drive is shown.\n"
    "Files: beside the program when a setting/ folder is there, else\n"
    "$XDG_CONFIG_HOME/sonarvex/, $XDG_DATA_HOME/sonarvex/, $XDG_CACHE_HOME/sonarvex/.\n"
    "Without a window: sonarvex-cli --help.\n";

// Brings the window to the front (from the taskbar, from behind others).
void RaiseWindow(QWidget& window) {
  window.setWindowState((window.windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
  window.show();
  window.raise();
  window.activateWindow();
}

}  // namespace

int main(int argc, char** argv) {
  // Answers that need no display, before anything starts.
  for (int k = 1; k < argc; ++k) {
    if (std::strcmp(argv[k], "--help") == 0 || std::strcmp(argv[k], "-h") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (std::strcmp(argv[k], "--version") == 0) {
      std::printf("sonarvex %s\n", sonarvex::kProgramVersion);
      return 0;
    }
  }
  // A second instance hands its request to the running one, which comes to
  // the front, and ends; nothing else of the running one is touched.
  sonarvex::SingleInstance instance("Sonarvex v3.x mutex");
  // A lock that cannot be taken at all is said; the program runs without it
  // rather than not at all.
  if (!instance.Problem().empty()) std::fprintf(stderr, "%s\n", instance.Problem().c_str());
  if (!instance.Acquired() && instance.Problem().empty()) {
    std::string request = "raise";
    for (int k = 1; k < argc; ++k) request += std::string("\n") + argv[k];
    instance.HandOver(request);
    return 0;
  }

  Application app(argc, argv);
  std::setlocale(LC_NUMERIC, "C");
  app.setApplicationName("Sonarvex");
  app.setApplicationDisplayName(QString());
  // The standard dialogs and menus speak the program's language.
  sonarvex::InstallQtRussian(app);
  if (QIcon::themeName().isEmpty() || QIcon::themeName() == "hicolor") QIcon::setThemeName("Adwaita");
  // The program's own icon: the installed theme's, else the one built in.
  app.setWindowIcon(QIcon::fromTheme("sonarvex", QIcon(":/sonarvex/sonarvex.svg")));
  app.setDesktopFileName("sonarvex");

  sonarvex::QtDialogs dialogs;
  sonarvex::XdgAssociations xdg = sonarvex::XdgAssociations::FromEnvironment();
  sonarvex::SessionContext context;
  const sonarvex::ProgramFolders folders =
      sonarvex::ChooseProgramFolders(sonarvex::FolderEnvironment::FromProcess());
  sonarvex::FillSessionContext(folders, context);
  // What runs that were killed left behind is cleared away; files that a
  // running writer holds stay.
  if (!folders.Portable)
    sonarvex::RemoveStaleRunFolders(folders.Cache);
  else
    sonarvex::RemoveStaleTemporaryFiles(folders.Temp);
  context.DialogService = &dialogs;
  context.Xdg = &xdg;
  context.ProgramPath = sonarvex::ExecutablePath();
  sonarvex::Session session(context);

  // Command-line arguments are ignored: started as the audio CD player with
  // a drive path, the program shows the disc of its stored drive.
  sonarvex::TMainForm window(session);
  dialogs.SetParent(&window);
  window.show();

  // Later starts knock here.
  std::unique_ptr<QSocketNotifier> knock;
  if (instance.Listen()) {
    knock = std::make_unique<QSocketNotifier>(instance.ListenFd(), QSocketNotifier::Read);
    QObject::connect(knock.get(), &QSocketNotifier::activated, &window, [&instance, &window] {
      if (instance.TakeRequest(200)) RaiseWindow(window);
    });
  }
  return app.exec();
}

// sonarvex: the program. One instance at a time; its files live beside it
// when it runs portable, else in the user's XDG folders (ProgramFolders.h).
#include <QApplication>
#include <QIcon>
#include <QMessageBox>
#include <clocale>
#include <exception>

#include "app/ProgramFolders.h"
#include "app/Session.h"
#include "app/TMainForm.h"
#include "platform/ProgramFolder.h"
#include "platform/QtDialogs.h"
#include "platform/QtText.h"
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

}  // namespace

int main(int argc, char** argv) {
  // A second instance ends at once, showing nothing.
  sonarvex::SingleInstance instance("Sonarvex v3.x mutex");
  if (!instance.Acquired()) return 0;

  Application app(argc, argv);
  std::setlocale(LC_NUMERIC, "C");
  app.setApplicationName("Sonarvex");
  app.setApplicationDisplayName(QString());
  // The standard dialogs and menus speak the program's language.
  sonarvex::InstallQtRussian(app);
  if (QIcon::themeName().isEmpty() || QIcon::themeName() == "hicolor") QIcon::setThemeName("Adwaita");

  sonarvex::QtDialogs dialogs;
  sonarvex::XdgAssociations xdg = sonarvex::XdgAssociations::FromEnvironment();
  sonarvex::SessionContext context;
  const sonarvex::ProgramFolders folders =
      sonarvex::ChooseProgramFolders(sonarvex::FolderEnvironment::FromProcess());
  sonarvex::FillSessionContext(folders, context);
  // Empty folders of runs that crashed are cleared away.
  if (!folders.Portable) sonarvex::RemoveStaleRunFolders(folders.Cache);
  context.DialogService = &dialogs;
  context.Xdg = &xdg;
  context.ProgramPath = sonarvex::ExecutablePath();
  sonarvex::Session session(context);

  // Command-line arguments are ignored: started as the audio CD player with
  // a drive path, the program shows the disc of its stored drive.
  sonarvex::TMainForm window(session);
  dialogs.SetParent(&window);
  window.show();
  return app.exec();
}

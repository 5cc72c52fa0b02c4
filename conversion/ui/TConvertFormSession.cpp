// The conversion window on the program's Session.
#include "session/Session.h"
#include "conversion/ui/TConvertForm.h"

namespace sonarvex {

ConvertFormContext ConvertFormContextFor(Session& session) {
  ConvertFormContext c;
  c.settings = &session.Settings();
  c.settingsTexts = &session.SettingsTexts();
  c.encoders = &session.Encoders();
  c.dialogs = &session.Dialog();
  // libkelpra.so lies beside the program, or in the private library folder
  // of an installed one; the temporary WAV files go beside the program when
  // it runs portable, else into this run's temporary folder.
  c.programFolder = session.LibraryFolder();
  const bool portable = session.TempFolder() == session.ProgramFolder() + "TempFiles/";
  c.tempFolder = (portable ? session.ProgramFolder() : session.TempFolder()) + "TempFile/";
  c.formatOptions.values = session.Options().FormatValues;
  return c;
}

TConvertForm::TConvertForm(Session& session, QWidget* parent)
    : TConvertForm(ConvertFormContextFor(session), parent) {}

}  // namespace sonarvex

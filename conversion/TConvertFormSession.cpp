// The conversion window on the program's Session.
#include "app/Session.h"
#include "codec/WmaFileReader.h"
#include "conversion/TConvertForm.h"

namespace sonarvex {

ConvertFormContext ConvertFormContextFor(Session& session) {
  ConvertFormContext c;
  c.settings = &session.Settings();
  c.encoders = &session.Encoders();
  c.dialogs = &session.Dialog();
  c.programFolder = session.ProgramFolder();
  c.tempFolder = session.ProgramFolder() + "TempFile/";
  c.wmaDecoderAvailable = WmaFileReader::DecoderAvailable();
  return c;
}

TConvertForm::TConvertForm(Session& session, QWidget* parent)
    : TConvertForm(ConvertFormContextFor(session), parent) {}

}  // namespace sonarvex

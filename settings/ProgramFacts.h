// What the program holds that its dialogs ask about: the drive list and the
// transports, the encoders it can offer, the search extension list and the
// options kept outside the settings record (setting/sonarvex.ini). The
// Session answers it; tests give a fake.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "records/OutputKind.h"
#include "settings/ProgramOptions.h"

namespace sonarvex {

struct FormatOption;

class ProgramFacts {
 public:
  virtual ~ProgramFacts() = default;

  // Drive names of the current drive list (UTF-8).
  virtual std::vector<std::string> DriveNames() = 0;
  // Whether each transport can be used on this computer.
  virtual bool AspiUsable() = 0;
  virtual bool SptiUsable() = 0;

  // The LAME version text (entry 0 of the codec list).
  virtual std::string LameVersionText() = 0;
  // The name of the MP3 codec found by the codec layer, empty when none.
  virtual std::string AcmCodecName() = 0;
  // The MP3 formats of that codec, as shown in the format list.
  virtual std::vector<std::string> AcmFormatDescriptions() = 0;
  // Whether files of an output format can be written (its library was found).
  virtual bool FormatAvailable(OutputKind kind) = 0;

  // The search extension list (".mp3", ...).
  virtual std::vector<std::string> SearchExtensions() = 0;
  virtual void SetSearchExtensions(const std::vector<std::string>& extensions) = 0;

  // The options of setting/sonarvex.ini, read fresh (the read offsets of
  // the drives of DriveNames()).
  virtual ProgramOptions Options() = 0;
  // Reads the options fresh, lets `change` alter them and stores what it
  // changed; false when a value is refused or the file could not be written.
  virtual bool ChangeOptions(const std::function<void(ProgramOptions&)>& change) = 0;
};

}  // namespace sonarvex

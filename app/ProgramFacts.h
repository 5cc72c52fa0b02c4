// What the program holds that its dialogs ask about: the drive list and the
// transports, the encoders it can offer, the search extension list and the
// options kept outside the settings record (setting/sonarvex.ini). The
// Session answers it; tests give a fake.
#pragma once

#include <string>
#include <vector>

#include "records/OutputKind.h"

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

  // The options of the INI store. Each setter stores at once and gives false
  // when the value is refused or the file could not be written.
  // How many tracks a rip compresses at once: 0 is "auto" (one per
  // processor), at most 64.
  virtual int IniRipWorkers() = 0;
  virtual bool SetIniRipWorkers(int workers) = 0;
  // An option of an output format (FLAC's compression level): the stored
  // value, else its default.
  virtual int IniFormatOption(const FormatOption& option) = 0;
  virtual bool SetIniFormatOption(const FormatOption& option, int value) = 0;
  // The read offset in samples (at most 5880 either way) of drive `drive`,
  // an index into DriveNames(); 0 when none is stored.
  virtual int IniReadOffset(int drive) = 0;
  virtual bool SetIniReadOffset(int drive, int samples) = 0;
  // Whether a rip leaves a log and a cue sheet beside its files: lossless
  // (WAV and FLAC) and compressed (MP3, Ogg Vorbis, WMA).
  virtual bool IniRipLogLossless() = 0;
  virtual bool IniRipLogCompressed() = 0;
  virtual bool SetIniRipLog(bool lossless, bool compressed) = 0;
  // The AccurateRip server, HOST[:PORT]; "" when verification is off. The
  // setter refuses a text ParseArServer does not accept.
  virtual std::string IniAccurateRipServer() = 0;
  virtual bool SetIniAccurateRipServer(const std::string& hostPort) = 0;
};

}  // namespace sonarvex

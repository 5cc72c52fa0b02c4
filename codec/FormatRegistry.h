// The output formats the program writes, each described once: what the
// command line and the settings call it, its file extension, whether it is
// lossless, its options kept outside the settings record, the writers that
// make its files (and so whether its library is present), the size its
// files are expected to take, the tags they carry and its grab command.
// The rip, the command line, the main window, the settings dialog and the
// conversion ask here instead of listing the formats themselves.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "codec/FormatOptions.h"
#include "records/OutputKind.h"

namespace sonarvex {

class AcmMp3Driver;
class AudioWriter;
class Dialogs;
class EncoderSet;
class IniStore;
struct CodecLibraryNames;
struct SettingsRecord;

// The tags a format's files carry.
enum class TagStyle { None, Id3v2, VorbisComments, WmaAttributes };

// What the writers are made with.
struct WriterEnvironment {
  Dialogs& dialogs;  // a writer whose library is missing may say so here
  const CodecLibraryNames& libraries;
  // The drivers of the codec-layer MP3 writer, which takes them; nullptr:
  // the installed ones.
  std::vector<std::unique_ptr<AcmMp3Driver>>* mp3Drivers = nullptr;
};

// One writer of a format. MP3 has two, LAME and the codec layer; the
// settings choose between them.
struct FormatEncoder {
  const char* id;  // "lame", "acm", "vorbis", "wma", "flac", "opus", "wav"
  std::unique_ptr<AudioWriter> (*make)(const WriterEnvironment& env);
  bool (*chosen)(const SettingsRecord& settings);
};

// The format's command in the main window's grab menu.
struct GrabMenuEntry {
  const char* action;    // the action's object name ("MP3", "FLAC1")
  const char* caption;   // UTF-8, with its '&' mnemonic
  const char* shortcut;  // key sequence text ("F9")
  int position;          // place in the menu, from the top
};

struct OutputFormat {
  OutputKind kind;
  const char* name;       // on the command line: "flac"
  const char* extension;  // ".flac"
  const char* title;      // in messages: "FLAC", "Ogg Vorbis"
  bool lossless;
  // Written through an encoder, from a temporary WAV file or on the fly.
  // WAV is not: the rip writes it as it reads, and EncoderSet keeps no
  // writer for it.
  bool compressed;
  TagStyle tags;
  // The options kept in the INI store (their values reach the writer in
  // FormatOptions).
  std::vector<FormatOption> options;
  std::vector<FormatEncoder> encoders;
  // Said when a grab asks for the format and its library is missing;
  // nullptr: the grab is not refused beforehand.
  const char* missingText;
  GrabMenuEntry menu;
  // CD audio bytes per output byte the format is expected to take.
  double (*expectedRatio)(const SettingsRecord& settings, const EncoderSet& encoders);
  // Applies a bitrate in kbit/s to the settings (or, for a format that keeps
  // it beside the record, to its options), or says why it cannot;
  // nullptr: the format has no bitrate.
  std::optional<std::string> (*setBitrate)(SettingsRecord& settings, FormatOptions& options,
                                           int kbits);

  // The writer the settings choose (nullptr when the format has none).
  const FormatEncoder* ChosenEncoder(const SettingsRecord& settings) const;
};

// Every format, in the order the command line lists them.
const std::vector<OutputFormat>& OutputFormats();
// The format of a kind; nullptr for a value no format has.
const OutputFormat* FindFormat(OutputKind kind);
// The same where the kind is known to be one of the formats (else WAV).
const OutputFormat& FormatFor(OutputKind kind);
// The format an OutputKind value held as a number names (a settings
// field, a command's argument); WAV for any value no format has.
const OutputFormat& FormatForValue(int value);
// By the command line's name (exactly: "flac"); nullptr when unknown.
const OutputFormat* FindFormatByName(std::string_view name);
// By a file extension, with or without its dot, in any case; nullptr when unknown.
const OutputFormat* FindFormatByExtension(std::string_view extension);
// The formats in the grab menu's order.
std::vector<const OutputFormat*> GrabMenuFormats();
// The command-line names of formats joined: "wav, mp3 or ogg".
std::string JoinFormatNames(const std::vector<const OutputFormat*>& formats,
                            std::string_view separator, std::string_view lastSeparator);
// Every format's name, in the command line's order.
std::string JoinFormatNames(std::string_view separator, std::string_view lastSeparator);

// The writer the settings choose for the format, made with the options
// applied; nullptr when the format has none.
std::unique_ptr<AudioWriter> MakeWriter(const OutputFormat& format, const WriterEnvironment& env,
                                        const SettingsRecord& settings,
                                        const FormatOptions& options);

// An option as the INI store holds it: a value that is missing, not a
// number or out of range gives its default.
int StoredOptionValue(const IniStore& ini, const FormatOption& option);
// Stores the value, held to the option's range.
void StoreOptionValue(IniStore& ini, const FormatOption& option, int value);
// The stored values of every format's options.
FormatOptions StoredFormatOptions(const IniStore& ini);

}  // namespace sonarvex

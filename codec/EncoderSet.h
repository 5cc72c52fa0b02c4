// The single front object for all compressed output: it owns a writer of
// every encoder the format registry names (ACM/codec-layer MP3, LAME MP3,
// Ogg Vorbis, WMA, FLAC, Opus) and picks one by the output kind (the settings'
// OutputKind unless given) and the settings (UseLame for MP3). A writer is
// made, and its library loaded, when its format is first asked for: a WAV
// or FLAC rip loads no MP3, Vorbis or FFmpeg library.
//
// Streamed use (ripping on the fly): SetSourceFormat, Open, Write..., Close.
// Whole files: SetPeak, SetProgressCallback, ConvertFile.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "records/SettingsRecord.h"
#include "codec/AcmMp3Driver.h"
#include "codec/AcmMp3Writer.h"
#include "codec/AudioFormat.h"
#include "codec/AudioWriter.h"
#include "codec/FlacWriter.h"
#include "codec/LameWriter.h"
#include "codec/OpusWriter.h"
#include "codec/ProgressCallback.h"
#include "codec/VorbisWriter.h"
#include "codec/WmaWriter.h"
#include "records/OutputKind.h"
#include "records/TextFields.h"
#include "records/TrackTagRecord.h"
#include "platform/Dialogs.h"

namespace sonarvex {

struct FormatEncoder;
struct OutputFormat;

// The file names the encoder libraries are loaded by (tests point them
// elsewhere to see a missing library).
struct CodecLibraryNames {
  std::string Lame = kLameLibraryName;
  std::string Ogg = kOggLibraryName;
  std::string Vorbis = kVorbisLibraryName;
  std::string VorbisEnc = kVorbisEncLibraryName;
  std::string Flac = kFlacLibraryName;
  std::string OpusEnc = kOpusEncLibraryName;
};

class EncoderSet {
 public:
  // Loads nothing: each writer is made when its format is first used
  // (Available, WriterFor, Open, ConvertFile or its accessor below). Making
  // the LAME writer loads the library and reports a missing one once
  // through dialogs; missing Vorbis, WMA, FLAC or Opus libraries quietly
  // disable their kind. mp3Drivers: the codec-layer MP3 writer's drivers;
  // without them the installed ones, enumerated when that writer is made.
  // settings is read at every Open and ConvertFile.
  EncoderSet(SettingsRecord& settings, Dialogs& dialogs, const CodecLibraryNames& names = {},
             std::optional<std::vector<std::unique_ptr<AcmMp3Driver>>> mp3Drivers = std::nullopt);
  ~EncoderSet();
  EncoderSet(const EncoderSet&) = delete;
  EncoderSet& operator=(const EncoderSet&) = delete;

  void SetSettings(SettingsRecord& settings) { settings_ = &settings; }
  SettingsRecord& Settings() const { return *settings_; }
  void SetProgressCallback(ProgressCallback cb) { progress_ = std::move(cb); }
  // The format of the PCM given to Write; nullptr means CdAudioFormat. Reset
  // to CdAudioFormat by every Close.
  void SetSourceFormat(const AudioFormatRecord* format);
  // The largest absolute sample of the material, for normalisation in ConvertFile.
  void SetPeak(std::int16_t peak) { peak_ = peak; }
  std::int16_t Peak() const { return peak_; }
  // The next Open copies these bytes unchanged to the start of an MP3 file
  // instead of writing an ID3v2 tag (size 0: no tag at all). Applies to that
  // one Open only.
  void SetRawTag(const void* bytes, std::uint32_t size);

  // The writer for an output kind (MP3: LAME when the settings' UseLame is
  // set, else the codec layer); nullptr for WAV, which EncoderSet does not write.
  AudioWriter* WriterFor(OutputKind kind);
  // Whether files of the kind can be written on this computer: the library
  // of the writer the settings choose is there (WAV needs none).
  bool Available(OutputKind kind);

  // Starts a file of the given kind (without one: the settings' OutputKind).
  // Fails when already open (the open file is left alone). What is at the
  // name is removed first (a link is removed, never written through). With
  // kind WAV only the open flag is set. A writer that cannot start the file
  // leaves the set closed and says why. options: those of the kind's format
  // kept outside the record, and the disc's tags.
  WriteResult Open(const TrackTagRecord* tag, const std::string& outputName);
  WriteResult Open(const TrackTagRecord* tag, const std::string& outputName, OutputKind kind,
                   const FormatOptions& options = {});
  // The same with the tag's full texts (UTF-8, every script).
  WriteResult Open(const TrackTags& tag, const std::string& outputName, OutputKind kind,
                   const FormatOptions& options = {});
  // Interleaved signed 16-bit little-endian samples in the source format.
  // A failure deletes the partial file; Close then reports it again.
  WriteResult Write(const void* pcm, std::size_t byteCount);
  // Finishes the file; a failure deletes it.
  WriteResult Close();
  // Closes and deletes the file being written.
  void Abort();
  bool IsOpen() const { return open_; }

  // Encodes a whole WAV file (any 16-bit PCM) into a file of the given kind
  // (without one: the settings' OutputKind), replacing what is at the output
  // name; reports through the progress callback, which may cancel. Kind WAV
  // does nothing.
  WriteResult ConvertFile(const std::string& sourceWav, const std::string& outputName,
                          const TrackTagRecord* tag);
  WriteResult ConvertFile(const std::string& sourceWav, const std::string& outputName,
                          const TrackTagRecord* tag, OutputKind kind,
                          const FormatOptions& options = {});
  WriteResult ConvertFile(const std::string& sourceWav, const std::string& outputName,
                          const TrackTags& tag, OutputKind kind, const FormatOptions& options = {});

  // The LAME version text for the choosers; empty without the library.
  std::string LameVersionText() const { return Lame().VersionText(); }

  // The writers by their encoder, for what only they know (the codec
  // layer's formats, the LAME version).
  AcmMp3Writer& Acm() { return static_cast<AcmMp3Writer&>(Writer("acm")); }
  const AcmMp3Writer& Acm() const { return static_cast<const AcmMp3Writer&>(Writer("acm")); }
  LameWriter& Lame() { return static_cast<LameWriter&>(Writer("lame")); }
  const LameWriter& Lame() const { return static_cast<const LameWriter&>(Writer("lame")); }
  WmaWriter& Wma() { return static_cast<WmaWriter&>(Writer("wma")); }
  const WmaWriter& Wma() const { return static_cast<const WmaWriter&>(Writer("wma")); }
  VorbisWriter& Vorbis() { return static_cast<VorbisWriter&>(Writer("vorbis")); }
  const VorbisWriter& Vorbis() const { return static_cast<const VorbisWriter&>(Writer("vorbis")); }
  FlacWriter& Flac() { return static_cast<FlacWriter&>(Writer("flac")); }
  const FlacWriter& Flac() const { return static_cast<const FlacWriter&>(Writer("flac")); }
  OpusWriter& Opus() { return static_cast<OpusWriter&>(Writer("opus")); }
  const OpusWriter& Opus() const { return static_cast<const OpusWriter&>(Writer("opus")); }

 private:
  struct Slot {
    const OutputFormat* format;
    const FormatEncoder* encoder;
    // Made on first use (mutable: the const accessors make it too).
    mutable std::unique_ptr<AudioWriter> writer;
  };
  // The writer made by the registry's encoder `id`.
  AudioWriter& Writer(const char* id) const;
  // The slot's writer, made now when it was not yet.
  AudioWriter& Made(const Slot& slot) const;

  Dialogs* dialogs_;
  CodecLibraryNames names_;
  // Handed to the codec-layer writer when it is made (nullopt: the installed ones).
  mutable std::optional<std::vector<std::unique_ptr<AcmMp3Driver>>> mp3Drivers_;
  std::string outputName_;
  std::vector<Slot> writers_;
  ProgressCallback progress_;
  bool rawTag_ = false;
  std::uint32_t rawTagSize_ = 0;
  const void* rawTagBytes_ = nullptr;
  AudioFormatRecord source_ = CdAudioFormat;
  SettingsRecord* settings_;
  std::int16_t peak_ = 0;
  bool open_ = false;
  // The writer chosen by Open, so that Write and Close reach it even when
  // the settings change while a file is being written (nullptr for WAV).
  AudioWriter* writer_ = nullptr;
};

}  // namespace sonarvex

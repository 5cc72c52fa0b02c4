// The one interface every writer of audio files implements (WAV, MP3 through
// LAME or the codec layer, Ogg Vorbis, WMA). EncoderSet and the ripping loop
// talk to writers only through it.
//
// A file is written by Open, Write..., Close; Abort closes and deletes it
// instead. ConvertFile encodes a finished WAV file as a whole. Every call
// says what failed: a failure carries a message naming the file and the
// reason. After a failure the writer refuses further writes with the same
// message, and Close releases everything, deletes the partial file and
// reports the failure again, so nothing incomplete is left under any name.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "codec/AudioFormat.h"
#include "codec/FormatOptions.h"
#include "codec/ProgressCallback.h"
#include "platform/SafeFile.h"
#include "records/SettingsRecord.h"
#include "records/CoverImage.h"
#include "records/RecordTexts.h"
#include "records/TextFields.h"
#include "records/TrackTagRecord.h"

namespace sonarvex {

class AudioWriter {
 public:
  virtual ~AudioWriter() = default;

  // Whether the writer can produce anything (its library is loaded).
  virtual bool Available() const = 0;
  // Takes the writer's options from the settings record; applies from the
  // next Open or ConvertFile.
  virtual void Configure(const SettingsRecord& settings) = 0;
  // Takes what the record does not hold: the options of the writer's format
  // kept in the INI store and the disc's tags; applies from the next Open
  // or ConvertFile. Writers without such options ignore them.
  virtual void SetOptions(const FormatOptions& /*options*/) {}

  // Creates outputName (exclusively: nothing may be there) and starts the
  // stream. tag may be nullptr; with a raw tag set (MP3 writers) the raw bytes
  // are written instead of a tag built from it.
  virtual WriteResult Open(const TrackTagRecord* tag, const std::string& outputName) = 0;
  // Interleaved signed 16-bit little-endian samples in the source format.
  virtual WriteResult Write(const void* pcm, std::size_t byteCount) = 0;
  // Finishes the file: the encoder's last bytes, headers rewritten, flushed,
  // synced and closed. A failure deletes the file.
  virtual WriteResult Close() = 0;
  // Closes and deletes the file being written.
  virtual void Abort() = 0;
  virtual bool IsOpen() const = 0;

  // Encodes a whole WAV file (any 16-bit PCM) into outputName. Reports
  // through the progress callback, which may cancel (the result then says
  // Cancelled).
  virtual WriteResult ConvertFile(const std::string& sourceWav, const std::string& outputName,
                                  const TrackTagRecord* tag) = 0;

  // The raw tag for the next Open (only MP3 writers use it; size 0: no tag).
  virtual void SetRawTag(bool /*on*/, const void* /*bytes*/, std::uint32_t /*size*/) {}
  // The full texts (UTF-8, keys: the tag record's field names) of the tag
  // record given to Open and ConvertFile, while they run; nullptr: the
  // record's own texts. The caller keeps them alive meanwhile.
  void SetTagTexts(const RecordTexts* texts) { tagTexts_ = texts; }

  // The front cover the next Open and ConvertFile embed (nullptr: none);
  // writers whose format holds no picture leave it alone.
  void SetCover(std::shared_ptr<const CoverImage> cover) { cover_ = std::move(cover); }

  // The format of the PCM given to Write; reset to CdAudioFormat by Close.
  void SetSourceFormat(const AudioFormatRecord& f) { source_ = f; }
  const AudioFormatRecord& SourceFormat() const { return source_; }
  void SetProgress(ProgressCallback cb) { progress_ = std::move(cb); }
  void SetNormalize(bool on) { normalize_ = on; }
  void SetGain(double g) { gain_ = g; }

 protected:
  // The gain ConvertFile applies: 1.0 unless normalising.
  double ConvertGain() const { return normalize_ ? gain_ : 1.0; }
  // What differs between the writers' whole-file encodes.
  struct WholeFileRules {
    bool stopAtDataSize = true;  // else read to the end of the file
    bool keepOnCancel = false;   // a cancelled file is finished and kept
    // How many source bytes a block holds (asked once the writer is open).
    std::function<std::uint32_t()> blockBytes;
    // Told when the source cannot be opened (besides the result).
    std::function<void()> sourceUnavailable;
  };
  // The whole-file encode of every writer: the source opened in any-PCM
  // mode (its format becomes the source format), this writer opened on
  // outputName, the source fed block by block with the progress callback
  // and the gain, then closed. A failure deletes the output; so does a
  // cancel, unless the rules keep it.
  WriteResult ConvertWholeFile(const std::string& sourceWav, const std::string& outputName,
                               const TrackTagRecord* tag, const WholeFileRules& rules);
  // A tag record with its full texts.
  TrackTags FullTag(const TrackTagRecord& tag) const {
    return tagTexts_ ? TrackTags(tag, *tagTexts_) : TrackTags(tag);
  }

  AudioFormatRecord source_ = CdAudioFormat;
  ProgressCallback progress_;
  bool normalize_ = false;
  double gain_ = 1.0;
  const RecordTexts* tagTexts_ = nullptr;
  std::shared_ptr<const CoverImage> cover_;
};

// "Исходный файл 'PATH' недоступен."
std::string SourceUnavailableText(const std::string& path);

}  // namespace sonarvex

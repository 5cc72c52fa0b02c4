// FLAC files as sources of the conversion batch: their tags (the Vorbis
// comments and the front cover of the metadata blocks) and one file's
// conversion on a thread of its own, into a WAV file or through an
// EncoderSet, as the WMA batch runs its readers.
//
// The job is opened and started on the batch's thread (the output is
// created there, under its name + ".part"); the thread then decodes and
// writes until the end, a failure or a cancel. The batch polls Done(),
// Position() and Total(), and gives the finished file its name itself.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "codec/FormatOptions.h"
#include "platform/SafeFile.h"
#include "records/CoverImage.h"
#include "records/OutputKind.h"
#include "records/TextFields.h"

namespace sonarvex {

class EncoderSet;
class FlacReader;

// Reads the tags of a FLAC file into tags (the fields a tag record has, and
// the info keys: ALBUMARTIST, DATE in full, DISCNUMBER, ISRC, MusicBrainz
// identifiers...) and its front cover (or its first picture) into cover.
// Several values of one field are joined by "; ". The tags-on flag is set
// when any field was found. False when the file is no FLAC file or its
// metadata cannot be read (nothing is changed then).
bool ReadFlacTags(const std::string& path, TrackTags* tags, CoverImage* cover);

class FlacConvertJob {
 public:
  // encoders: for a compressed target (nullptr for WAV); it must outlive the
  // job and serve no other file meanwhile.
  FlacConvertJob(std::string source, OutputKind kind, EncoderSet* encoders);
  ~FlacConvertJob();  // stops the thread; an unfinished output file is deleted
  FlacConvertJob(const FlacConvertJob&) = delete;
  FlacConvertJob& operator=(const FlacConvertJob&) = delete;

  // Opens the source: fails with a Russian message naming the file when it
  // cannot be read as FLAC of CD audio.
  WriteResult Open();
  // Creates output + ".part" (a WAV header, or the encoder's file with the
  // tags and the cover of options) and starts the thread.
  WriteResult Start(const std::string& output, const TrackTags& tags, const FormatOptions& options);
  // Asks the thread to stop and waits for it; an unfinished output file is deleted.
  void Stop();

  bool Done() const { return done_.load(std::memory_order_acquire); }
  // Valid once Done(): success (the output file is complete), a failure or a
  // cancel.
  WriteResult Result() const { return result_; }
  // The failure was the source's (not the output's).
  bool SourceFailed() const { return sourceFailed_; }
  // Samples per channel delivered, and the source's total.
  std::uint64_t Position() const { return position_.load(std::memory_order_relaxed); }
  std::uint64_t Total() const { return total_; }
  void SetCancel(bool cancel) { cancel_.store(cancel, std::memory_order_relaxed); }

  const std::string& Source() const { return source_; }
  const std::string& Output() const { return output_; }
  const std::string& Part() const { return part_; }

  // Kept for the batch: the row, its entry in the temporary outputs, and
  // whether the output may replace a file that is there.
  int Row = -1;
  int OutputIndex = -1;
  bool Replace = false;

 private:
  void Run();

  std::string source_, output_, part_;
  OutputKind kind_;
  EncoderSet* encoders_;
  std::unique_ptr<FlacReader> reader_;
  OutputFile wav_;
  bool started_ = false;
  bool sourceFailed_ = false;
  std::uint64_t total_ = 0;
  std::thread thread_;
  std::atomic<bool> done_{false};
  std::atomic<bool> cancel_{false};
  std::atomic<std::uint64_t> position_{0};
  WriteResult result_;
};

}  // namespace sonarvex

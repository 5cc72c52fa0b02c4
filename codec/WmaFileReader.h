// Decodes one Windows Media file (".wma", ".wmv", ".asf": the first audio
// stream of an ASF file) on a thread of its own, through libavformat's ASF
// demuxer and libavcodec's WMA decoders, into a WAV file or, for WMA to MP3
// conversion, into EncoderSet.
//
// Create, Open(source, output), Start; the thread then delivers the PCM
// under the reader's lock until the end of the file, the end of the
// duration or a cancel. The owner polls Done(), Position() and Total() and
// sets the cancel flag; it never waits on the thread except in Stop and the
// destructor.
//
// The output is written under the output name + ".part" and renamed to the
// output name only when complete; a failed or cancelled file leaves nothing,
// and what was at the output name stays as it was.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "codec/AudioFormat.h"
#include "platform/SafeFile.h"
#include "records/TrackTagRecord.h"

namespace sonarvex {

class EncoderSet;

class WmaFileReader {
 public:
  // toMp3: feed EncoderSet (which must outlive the reader) instead of
  // writing a WAV file.
  WmaFileReader(EncoderSet* encoders, bool toMp3);
  ~WmaFileReader();  // stops the thread; an unfinished output is deleted
  WmaFileReader(const WmaFileReader&) = delete;
  WmaFileReader& operator=(const WmaFileReader&) = delete;

  // Whether this build can read WMA files at all (the ASF demuxer and the
  // WMA decoders are there).
  static bool DecoderAvailable();

  // Opens the source and reads its duration, its output format and (for MP3
  // output) its tags. Fails when the file cannot be read as ASF, has no
  // decodable audio, has no duration, or, for MP3 output, is not at
  // 44100 Hz; OpenFailure() then says why.
  bool Open(const std::string& source, const std::string& output);
  // Starts the output and the decoding thread. For MP3 output the output
  // name's extension becomes ".mp3". False when the output cannot be
  // started (Result() says why).
  bool Start();
  // Asks the thread to stop and waits for it; an unfinished output is deleted.
  void Stop();
  // Stop, then release the source.
  void Close();

  // Set by the thread when the file is finished: complete (Result() is
  // success), failed or cancelled.
  bool Done() const { return done_.load(std::memory_order_acquire); }
  // What the file ended with; valid once Done().
  WriteResult Result() const;
  // Milliseconds of the last sample delivered, and the duration.
  std::uint32_t Position() const { return position_.load(std::memory_order_relaxed); }
  std::uint32_t Total() const { return durationMs_; }
  std::uint64_t DeliveredBytes() const { return delivered_.load(std::memory_order_relaxed); }
  // The cancel flag (the conversion window's status byte: 1 cancels).
  void SetCancel(std::uint8_t value) { cancel_.store(value, std::memory_order_relaxed); }

  const std::string& SourceName() const { return source_; }
  const std::string& OutputName() const { return output_; }
  const AudioFormatRecord& OutputFormat() const { return format_; }
  const TrackTagRecord& Tags() const { return tags_; }
  const std::string& OpenFailure() const { return openFailure_; }
  bool ToMp3() const { return toMp3_; }

  // Kept for the conversion window: the row and its entry in the list of
  // temporary outputs.
  int Row = -1;
  int OutputIndex = -1;

  struct Source;  // the demuxer, the decoder and the resampler

 private:
  void Run();
  WriteResult Deliver(const std::uint8_t* pcm, std::size_t bytes, std::uint32_t timeMs);
  WriteResult Finish();
  void Discard();
  void End(WriteResult r);

  EncoderSet* encoders_;
  bool toMp3_;
  std::unique_ptr<Source> src_;
  std::string source_;
  std::string output_;
  std::string part_;
  std::string openFailure_;
  AudioFormatRecord format_ = CdAudioFormat;
  TrackTagRecord tags_{};
  std::uint32_t durationMs_ = 0;
  OutputFile wav_;
  bool mp3Open_ = false;
  mutable std::mutex lock_;
  std::thread thread_;
  std::atomic<bool> done_{false};
  std::atomic<bool> stop_{false};
  std::atomic<std::uint8_t> cancel_{0};
  std::atomic<std::uint32_t> position_{0};
  std::atomic<std::uint64_t> delivered_{0};
  WriteResult result_;
};

}  // namespace sonarvex

// Opens a WAV file (a regular file only; a FIFO or device is refused without
// waiting on it), walks its chunks to the format and the sample data (other
// chunks such as LIST are skipped), and tells the caller
// whether the data can be used as they are. Data in another format are
// converted by the codec layer into a CD-format WAV file (or, when allowed, a
// 16-bit PCM file at the source's own rate and channel count), which the
// reader then opens in place of the source.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "codec/AudioFormat.h"
#include "codec/ProgressCallback.h"
#include "platform/SafeFile.h"

namespace sonarvex {

class WavSourceReader {
 public:
  // Open results.
  static constexpr int kUsable = 1;          // usable PCM, positioned at the first sample byte
  static constexpr int kAlreadyOpen = 10;    // another file is open (left untouched)
  static constexpr int kNeedsConversion = 11;  // format needs conversion (file open) or no data chunk (closed)
  static constexpr int kCannotOpen = 12;     // empty name or the file cannot be opened
  static constexpr int kNotWave = 13;        // not a RIFF/WAVE file

  static constexpr std::size_t kFormatAreaSize = 100;

  WavSourceReader();
  ~WavSourceReader();
  WavSourceReader(const WavSourceReader&) = delete;
  WavSourceReader& operator=(const WavSourceReader&) = delete;

  // anyPcm: any PCM format counts as usable, not only CD format.
  int Open(const std::string& name, bool anyPcm);
  // Plain read from the current position (not limited to the data chunk).
  // Returns false when no file is open or the read fails.
  bool Read(void* buffer, std::uint32_t byteCount, std::uint32_t* bytesRead);
  // Moves the read position to `offset` bytes after the first sample byte.
  bool SeekData(std::uint64_t offset);
  void Close();

  // Converts the open file into ConvertedFileName() (which the caller sets
  // first) and reopens the result in its place. With allowSuggestion a source
  // that cannot become CD audio becomes 16-bit PCM at its own rate and
  // channels. progress gets (consumed, data bytes, nullptr, -1) before each
  // block; without it the message pump runs instead. True when the converted
  // file opened with result 1.
  bool ConvertToCd(const ProgressCallback* progress, bool allowSuggestion);

  bool IsOpen() const { return fd_ >= 0; }
  // The first 20 bytes of the fmt chunk (valid while a file is open).
  const AudioFormatRecord& Format() const { return *format_; }
  const std::uint8_t* FormatArea() const { return area_; }
  std::uint32_t FmtChunkSize() const { return fmtSize_; }
  std::uint32_t DataByteCount() const { return dataBytes_; }
  std::uint32_t DataStart() const { return dataStart_; }
  std::uint32_t ConvertedSize() const { return convertedSize_; }
  const AudioFormatRecord& SuggestedFormat() const { return suggested_; }
  const std::string& SourceName() const { return sourceName_; }

  // Why the last Open or ConvertToCd failed: a sentence naming the file and
  // the reason ("Не удалось прочитать файл '...': это не обычный файл.", or
  // the failure to write the converted file), empty when nothing failed.
  const std::string& Problem() const { return problem_; }
  // Whether that failure was writing the converted file (a full disk...).
  bool ProblemIsWrite() const { return problemIsWrite_; }
  // The sample bytes the open file really holds: the data chunk's size, or
  // less when the file ends before it.
  std::uint64_t AudioBytes() const;

  const std::string& ConvertedFileName() const { return convertedName_; }
  void SetConvertedFileName(std::string name) { convertedName_ = std::move(name); }

  // Keeps the user interface alive during a conversion without a progress
  // routine (no-op by default).
  void SetMessagePump(std::function<void()> pump) { pump_ = std::move(pump); }

 private:
  bool ReadExact(void* buf, std::size_t n);
  void SetProblem(const std::string& reason);

  alignas(4) std::uint8_t area_[kFormatAreaSize];
  int fd_ = -1;
  std::uint32_t dataBytes_ = 0;
  std::uint32_t dataStart_ = 0;
  std::uint32_t convertedSize_ = 0;
  const AudioFormatRecord* format_;
  AudioFormatRecord suggested_{};
  std::uint32_t fmtSize_ = 0;
  std::string sourceName_;
  std::string convertedName_;
  std::string problem_;
  bool problemIsWrite_ = false;
  std::uint64_t fileSize_ = 0;
  std::function<void()> pump_;
};

// Feeds the samples of an open reader to a writer: before each block of at
// most blockBytes the progress routine is asked (it may cancel), then the
// gain is applied (1.0 leaves the block alone) and the block is written.
// Reading ends with the file, or with the data chunk's size when
// stopAtDataSize. The result is Cancelled when the progress routine
// cancelled, the writer's failure when a write failed (feeding stops there),
// a failure when the source could not be read, else success.
WriteResult FeedSamples(WavSourceReader& reader, std::uint32_t blockBytes, bool stopAtDataSize,
                        const ProgressCallback& progress, double gain,
                        const std::function<WriteResult(const std::uint8_t*, std::uint32_t)>& write);

}  // namespace sonarvex

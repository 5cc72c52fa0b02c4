// Decodes FLAC files of CD audio through libFLAC's stream decoder
// (libFLAC.so.12, loaded at run time as the FLAC writer loads it: without it
// FLAC files alone cannot be read). What comes out is what a CD holds:
// 16-bit stereo 44100 Hz PCM, little-endian, the channels interleaved.
// Files in any other format are refused when opened. The decoder checks
// every frame's CRC and, at the end of the stream, the MD5 signature of the
// whole audio; a damaged file fails with a message that names it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "codec/FlacWriter.h"  // kFlacLibraryName
#include "platform/SafeFile.h"

namespace sonarvex {

class FlacReader {
 public:
  explicit FlacReader(const std::string& library = kFlacLibraryName);
  ~FlacReader();
  FlacReader(const FlacReader&) = delete;
  FlacReader& operator=(const FlacReader&) = delete;

  // The library could be loaded.
  bool Available() const { return loaded_; }

  // Opens a regular file (a FIFO or a device is refused without waiting on
  // it) and reads its metadata. Fails (message in Russian naming the file)
  // when the library is missing, the file cannot be opened, is not FLAC, is
  // damaged, or is not 16-bit stereo 44100 Hz. A stream whose header does
  // not give its length is decoded once to count its samples.
  WriteResult Open(const std::string& path);
  bool IsOpen() const { return open_; }
  void Close();

  // Valid while open.
  std::uint64_t TotalSamples() const { return totalSamples_; }  // per channel
  unsigned Channels() const { return channels_; }
  unsigned SampleRate() const { return sampleRate_; }
  unsigned BitsPerSample() const { return bitsPerSample_; }
  // The size of the decoded PCM: TotalSamples() * 4.
  std::uint64_t PcmBytes() const { return totalSamples_ * 4u; }
  const std::string& Path() const { return path_; }

  // Reads up to `bytes` (above 0) bytes of PCM (a multiple of 4 is best;
  // any size works) into buffer. *got receives how many; 0 with success means the end
  // of the stream. At the end the decoded length and the MD5 signature are
  // checked: a mismatch is a failure. After a failure every later read fails
  // with the same message.
  WriteResult Read(void* buffer, std::size_t bytes, std::size_t* got);

  // Decodes the rest of the stream, handing the PCM to sink in blocks; a
  // sink that returns a failure or a cancel stops the decoding with that.
  WriteResult ReadAll(const std::function<WriteResult(const std::uint8_t*, std::size_t)>& sink);

  struct Library;
  struct Stream;  // the decoder's callbacks' view of the file

 private:
  WriteResult Fail(WriteResult r);
  WriteResult DecoderFailure();
  WriteResult StartDecoder();
  void StopDecoder();

  std::unique_ptr<Library> lib_;
  std::unique_ptr<Stream> stream_;
  bool loaded_ = false;
  bool open_ = false;
  std::string path_;
  std::uint64_t totalSamples_ = 0;
  unsigned channels_ = 0, sampleRate_ = 0, bitsPerSample_ = 0;
  WriteResult error_;
};

}  // namespace sonarvex

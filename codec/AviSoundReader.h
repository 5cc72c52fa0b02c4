// The sound track of an AVI file, read through libavformat's AVI demuxer:
// the first audio stream, its wave format as the file states it, and its
// raw stream bytes block by block (nothing is decoded).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "codec/AudioFormat.h"

namespace sonarvex {

class AviSoundReader {
 public:
  enum class OpenResult { Ok, CannotOpen, NoSound };
  enum class ReadResult { Block, End, Failed };

  AviSoundReader();
  ~AviSoundReader();
  AviSoundReader(const AviSoundReader&) = delete;
  AviSoundReader& operator=(const AviSoundReader&) = delete;

  // A regular file that the AVI demuxer reads (read-only) with an audio stream.
  OpenResult Open(const std::string& path);
  void Close();

  // The stream's wave format: format tag (85 = MPEG Layer-3), channels, rate,
  // bytes per second, block align, bits per sample; extra size 20 as in
  // every record the program builds.
  const AudioFormatRecord& Format() const { return format_; }
  // The codec-specific bytes that follow the wave format in the file (empty
  // for PCM).
  const std::vector<std::uint8_t>& FormatExtra() const { return extra_; }
  // The stream's length in bytes as the file states it (0 when unknown).
  std::uint64_t StatedBytes() const { return statedBytes_; }

  // The next block of stream bytes (one chunk of the file).
  ReadResult Read(std::vector<std::uint8_t>& block);
  // Bytes read so far.
  std::uint64_t Position() const { return position_; }
  const std::string& Failure() const { return failure_; }

  struct Demuxer;

 private:
  std::unique_ptr<Demuxer> d_;
  AudioFormatRecord format_{};
  std::vector<std::uint8_t> extra_;
  std::uint64_t statedBytes_ = 0;
  std::uint64_t position_ = 0;
  std::string failure_;
};

}  // namespace sonarvex

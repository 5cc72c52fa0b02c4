// MP3 output through the codec layer's MP3 driver (the first installed driver
// that offers MPEG Layer-3), in one of the formats reachable from CD audio.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "codec/AcmMp3Driver.h"
#include "codec/AudioFormat.h"
#include "codec/ProgressCallback.h"
#include "records/TrackTagRecord.h"
#include "platform/Dialogs.h"

namespace sonarvex {

class AcmMp3Writer {
 public:
  static constexpr std::size_t kMaxFormats = 150;
  static constexpr std::uint32_t kInitialBlock = 176400;

  // Enumerates the drivers at once: the first one offering MPEG Layer-3
  // gives the codec name and the formats (at most 150) that a stream from
  // CD audio can reach.
  AcmMp3Writer(Dialogs& dialogs, std::vector<std::unique_ptr<AcmMp3Driver>> drivers);
  ~AcmMp3Writer();
  AcmMp3Writer(const AcmMp3Writer&) = delete;
  AcmMp3Writer& operator=(const AcmMp3Writer&) = delete;

  bool CodecFound() const { return found_; }
  const std::string& CodecName() const { return codecName_; }
  const std::vector<std::string>& FormatDescriptions() const { return descriptions_; }
  std::size_t FormatCount() const { return formats_.size(); }
  // The header of format i (nullptr when out of range).
  const AudioFormatRecord* FormatAt(std::size_t i) const;

  // tag: a TrackTagRecord, or with the raw-tag flag the raw bytes; nullptr
  // for no tag. Returns the source block size, 0 on failure.
  std::uint32_t Open(const void* tag, const std::string& fileName, int formatIndex);
  void Write(const void* pcm, std::size_t byteCount);
  void Close();
  void ConvertFile(const std::string& source, const std::string& output, int formatIndex,
                   const TrackTagRecord* tag);

  void SetRawTag(bool on, std::uint32_t size) { rawTag_ = on; rawTagSize_ = size; }
  void SetSourceFormat(const AudioFormatRecord& f) { source_ = f; }
  const AudioFormatRecord& SourceFormat() const { return source_; }
  void SetProgress(ProgressCallback cb) { progress_ = std::move(cb); }
  void SetNormalize(bool on) { normalize_ = on; }
  void SetGain(double g) { gain_ = g; }

  bool IsOpen() const { return file_ != nullptr; }
  std::uint32_t SourceBlockSize() const { return srcBlock_; }

 private:
  Dialogs& dialogs_;
  std::vector<std::unique_ptr<AcmMp3Driver>> drivers_;
  AcmMp3Driver* driver_ = nullptr;
  std::FILE* file_ = nullptr;
  std::uint32_t srcBlock_ = kInitialBlock;
  std::uint32_t dstBlock_ = kInitialBlock;
  std::uint64_t converted_ = 0;
  std::unique_ptr<AcmEncodeStream> stream_;
  std::vector<std::string> descriptions_;
  std::vector<Mp3FormatBytes> formats_;
  std::vector<AudioFormatRecord> headers_;
  bool found_ = false;
  AudioFormatRecord source_ = CdAudioFormat;
  std::string codecName_;
  ProgressCallback progress_;
  double gain_ = 1.0;
  bool normalize_ = false;
  bool rawTag_ = false;
  std::uint32_t rawTagSize_ = 0;
  std::vector<std::uint8_t> coded_;
};

}  // namespace sonarvex

// MP3 output through the codec layer's MP3 driver (the first installed driver
// that offers MPEG Layer-3), in one of the formats reachable from CD audio.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "codec/AcmMp3Driver.h"
#include "codec/AudioFormat.h"
#include "codec/AudioWriter.h"
#include "records/TrackTagRecord.h"
#include "platform/Dialogs.h"

namespace sonarvex {

class AcmMp3Writer : public AudioWriter {
 public:
  static constexpr std::size_t kMaxFormats = 150;
  static constexpr std::uint32_t kInitialBlock = 176400;

  // Enumerates the drivers at once: the first one offering MPEG Layer-3
  // gives the codec name and the formats (at most 150) that a stream from
  // CD audio can reach.
  AcmMp3Writer(Dialogs& dialogs, std::vector<std::unique_ptr<AcmMp3Driver>> drivers);
  ~AcmMp3Writer() override;
  AcmMp3Writer(const AcmMp3Writer&) = delete;
  AcmMp3Writer& operator=(const AcmMp3Writer&) = delete;

  bool CodecFound() const { return found_; }
  const std::string& CodecName() const { return codecName_; }
  const std::vector<std::string>& FormatDescriptions() const { return descriptions_; }
  std::size_t FormatCount() const { return formats_.size(); }
  // The header of format i (nullptr when out of range).
  const AudioFormatRecord* FormatAt(std::size_t i) const;

  bool Available() const override { return found_ && !formats_.empty(); }
  // Takes AcmFormatIndex.
  void Configure(const SettingsRecord& s) override { formatIndex_ = s.AcmFormatIndex; }
  void Configure(int formatIndex) { formatIndex_ = formatIndex; }

  // With the raw tag set, its bytes start the file; otherwise the ID3v2 tag
  // built from tag (none for nullptr).
  WriteResult Open(const TrackTagRecord* tag, const std::string& fileName) override;
  WriteResult Write(const void* pcm, std::size_t byteCount) override;
  WriteResult Close() override;
  void Abort() override;
  bool IsOpen() const override { return active_; }
  // Cancelled: the file is closed and kept, as far as it got.
  WriteResult ConvertFile(const std::string& source, const std::string& output,
                          const TrackTagRecord* tag) override;
  void SetRawTag(bool on, const void* bytes, std::uint32_t size) override {
    rawTag_ = on;
    rawTagBytes_ = bytes;
    rawTagSize_ = bytes != nullptr ? size : 0;
  }

  // The source block size of the open stream.
  std::uint32_t SourceBlockSize() const { return srcBlock_; }

 private:
  WriteResult Fail(WriteResult r);
  void Release();

  Dialogs& dialogs_;
  std::vector<std::unique_ptr<AcmMp3Driver>> drivers_;
  AcmMp3Driver* driver_ = nullptr;
  int formatIndex_ = 0;
  OutputFile file_;
  bool active_ = false;
  WriteResult error_;
  std::uint32_t srcBlock_ = kInitialBlock;
  std::uint32_t dstBlock_ = kInitialBlock;
  std::uint64_t converted_ = 0;
  std::unique_ptr<AcmEncodeStream> stream_;
  std::vector<std::string> descriptions_;
  std::vector<Mp3FormatBytes> formats_;
  std::vector<AudioFormatRecord> headers_;
  bool found_ = false;
  std::string codecName_;
  bool rawTag_ = false;
  const void* rawTagBytes_ = nullptr;
  std::uint32_t rawTagSize_ = 0;
  std::vector<std::uint8_t> coded_;
};

}  // namespace sonarvex

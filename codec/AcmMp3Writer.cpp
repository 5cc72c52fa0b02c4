#include "codec/AcmMp3Writer.h"

#include "codec/Id3v2Writer.h"
#include "codec/SampleOps.h"
#include "codec/WavSourceReader.h"

namespace sonarvex {

AcmMp3Writer::AcmMp3Writer(Dialogs& dialogs, std::vector<std::unique_ptr<AcmMp3Driver>> drivers)
    : dialogs_(dialogs), drivers_(std::move(drivers)) {
  for (auto& d : drivers_) {
    std::vector<Mp3FormatDetails> offered = d->Formats();
    if (offered.empty()) continue;  // no MPEG Layer-3 in this driver
    found_ = true;
    for (const auto& f : offered) {
      if (formats_.size() >= kMaxFormats) break;
      if (!d->CanConvert(CdAudioFormat, f.format)) continue;
      formats_.push_back(f.format);
      headers_.push_back(Mp3FormatHeader(f.format));
      descriptions_.push_back(f.description);
    }
    codecName_ = d->LongName();
    driver_ = d.get();
    break;
  }
}

AcmMp3Writer::~AcmMp3Writer() {
  if (file_ != nullptr) Close();
}

const AudioFormatRecord* AcmMp3Writer::FormatAt(std::size_t i) const {
  return i < headers_.size() ? &headers_[i] : nullptr;
}

std::uint32_t AcmMp3Writer::Open(const void* tag, const std::string& fileName, int formatIndex) {
  if (file_ != nullptr) return 0;
  converted_ = 0;
  srcBlock_ = dstBlock_ = kInitialBlock;
  if (driver_ == nullptr || formatIndex < 0 ||
      static_cast<std::size_t>(formatIndex) >= formats_.size())
    return 0;
  file_ = std::fopen(fileName.c_str(), "wb");
  if (file_ == nullptr) return 0;
  if (tag != nullptr) {
    if (rawTag_) std::fwrite(tag, 1, rawTagSize_, file_);
    else WriteId3v2(*static_cast<const TrackTagRecord*>(tag), file_);
  }
  stream_ = driver_->OpenStream(source_, formats_[static_cast<std::size_t>(formatIndex)]);
  if (!stream_) return 0;
  dstBlock_ = stream_->DestinationSize(srcBlock_);
  if (dstBlock_ < srcBlock_) {
    std::uint32_t s = stream_->SourceSize(dstBlock_);
    if (s > 0) srcBlock_ = s;
  }
  return srcBlock_;
}

void AcmMp3Writer::Write(const void* pcm, std::size_t byteCount) {
  if (file_ == nullptr || !stream_) return;
  const auto* p = static_cast<const std::uint8_t*>(pcm);
  for (std::size_t at = 0; at < byteCount; at += srcBlock_) {
    const std::uint32_t n = static_cast<std::uint32_t>(std::min<std::size_t>(srcBlock_, byteCount - at));
    coded_.clear();
    if (!stream_->Convert(p + at, n, converted_ == 0 && at == 0, coded_)) break;
    if (!coded_.empty()) std::fwrite(coded_.data(), 1, coded_.size(), file_);
  }
  converted_ += byteCount;
}

void AcmMp3Writer::Close() {
  if (stream_) {
    // What the encoder still holds belongs to the end of the file.
    coded_.clear();
    if (stream_->Finish(coded_) && !coded_.empty() && file_ != nullptr)
      std::fwrite(coded_.data(), 1, coded_.size(), file_);
    stream_.reset();
  }
  coded_.clear();
  converted_ = 0;
  srcBlock_ = dstBlock_ = 0;
  source_ = CdAudioFormat;
  if (file_ != nullptr) std::fclose(file_);
  file_ = nullptr;
}

void AcmMp3Writer::ConvertFile(const std::string& source, const std::string& output,
                               int formatIndex, const TrackTagRecord* tag) {
  WavSourceReader reader;
  reader.Open(source, true);
  if (!reader.IsOpen()) {
    dialogs_.Warning("Исходный файл недоступен.");
    return;
  }
  source_ = reader.Format();
  const std::uint32_t block = Open(tag, output, formatIndex);
  if (block == 0) {
    Close();
    return;
  }
  FeedSamples(reader, block, false, progress_, normalize_ ? gain_ : 1.0,
              [this](const std::uint8_t* data, std::uint32_t bytes) { Write(data, bytes); });
  Close();
  reader.Close();
}

}  // namespace sonarvex

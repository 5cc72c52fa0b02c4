#include "codec/AcmMp3Writer.h"

#include <cerrno>

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

AcmMp3Writer::~AcmMp3Writer() { Abort(); }

const AudioFormatRecord* AcmMp3Writer::FormatAt(std::size_t i) const {
  return i < headers_.size() ? &headers_[i] : nullptr;
}

void AcmMp3Writer::Release() {
  stream_.reset();
  coded_.clear();
  converted_ = 0;
  srcBlock_ = dstBlock_ = 0;
}

WriteResult AcmMp3Writer::Fail(WriteResult r) {
  // Nothing half written stays: the stream goes, the file is deleted.
  Release();
  file_.Abort();
  error_ = r;
  return r;
}

WriteResult AcmMp3Writer::Open(const TrackTagRecord* tag, const std::string& fileName) {
  const bool raw = rawTag_;
  rawTag_ = false;  // the raw tag applies to this one Open
  if (active_) return WriteResult::Failure(CreateFailureText(fileName, EBUSY));
  converted_ = 0;
  srcBlock_ = dstBlock_ = kInitialBlock;
  error_ = {};
  if (driver_ == nullptr || formatIndex_ < 0 ||
      static_cast<std::size_t>(formatIndex_) >= formats_.size())
    return WriteResult::Failure("Формат MP3 для файла '" + fileName + "' не выбран.");
  stream_ = driver_->OpenStream(source_, formats_[static_cast<std::size_t>(formatIndex_)]);
  if (!stream_)
    return WriteResult::Failure("Кодек MP3 не принял формат для файла '" + fileName + "'.");
  if (WriteResult r = file_.Create(fileName); !r) {
    Release();
    return r;
  }
  active_ = true;
  if (raw) {
    if (rawTagSize_ > 0) {
      if (WriteResult r = file_.Write(rawTagBytes_, rawTagSize_); !r) return Fail(r);
    }
  } else if (tag != nullptr) {
    const std::vector<unsigned char> id3 = BuildId3v2(FullTag(*tag), cover_.get());
    if (WriteResult r = file_.Write(id3.data(), id3.size()); !r) return Fail(r);
  }
  dstBlock_ = stream_->DestinationSize(srcBlock_);
  if (dstBlock_ < srcBlock_) {
    std::uint32_t s = stream_->SourceSize(dstBlock_);
    if (s > 0) srcBlock_ = s;
  }
  return {};
}

WriteResult AcmMp3Writer::Write(const void* pcm, std::size_t byteCount) {
  if (!active_) return WriteResult::Failure("Файл MP3 не открыт.");
  if (!error_) return error_;
  const auto* p = static_cast<const std::uint8_t*>(pcm);
  for (std::size_t at = 0; at < byteCount; at += srcBlock_) {
    const std::uint32_t n = static_cast<std::uint32_t>(std::min<std::size_t>(srcBlock_, byteCount - at));
    coded_.clear();
    if (!stream_->Convert(p + at, n, converted_ == 0 && at == 0, coded_))
      return Fail(WriteResult::Failure("Ошибка кодека MP3 при записи файла '" + file_.Path() + "'."));
    if (!coded_.empty()) {
      if (WriteResult r = file_.Write(coded_.data(), coded_.size()); !r) return Fail(r);
    }
  }
  converted_ += byteCount;
  return {};
}

WriteResult AcmMp3Writer::Close() {
  if (!active_) return WriteResult::Failure("Файл MP3 не открыт.");
  active_ = false;
  source_ = CdAudioFormat;
  WriteResult r = error_;
  error_ = {};
  if (!r) return r;  // already released and deleted
  // What the encoder still holds belongs to the end of the file.
  coded_.clear();
  if (!stream_->Finish(coded_))
    r = WriteResult::Failure("Ошибка кодека MP3 при записи файла '" + file_.Path() + "'.");
  else if (!coded_.empty())
    r = file_.Write(coded_.data(), coded_.size());
  Release();
  if (!r) {
    file_.Abort();
    return r;
  }
  return file_.Finish();
}

void AcmMp3Writer::Abort() {
  Release();
  file_.Abort();
  active_ = false;
  error_ = {};
  source_ = CdAudioFormat;
}

WriteResult AcmMp3Writer::ConvertFile(const std::string& source, const std::string& output,
                                      const TrackTagRecord* tag) {
  WholeFileRules rules;
  rules.stopAtDataSize = false;  // a chunk after the data is encoded too
  rules.keepOnCancel = true;
  rules.blockBytes = [this] { return srcBlock_; };
  rules.sourceUnavailable = [this] { dialogs_.Warning("Исходный файл недоступен."); };
  return ConvertWholeFile(source, output, tag, rules);
}

}  // namespace sonarvex

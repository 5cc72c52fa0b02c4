#include "codec/EncoderSet.h"

#include <cerrno>

#include "codec/SampleOps.h"
#include "codec/WavSourceReader.h"

namespace sonarvex {

EncoderSet::EncoderSet(SettingsRecord& settings, Dialogs& dialogs, const CodecLibraryNames& names,
                       std::vector<std::unique_ptr<AcmMp3Driver>> mp3Drivers)
    : settings_(&settings) {
  acm_ = std::make_unique<AcmMp3Writer>(dialogs, std::move(mp3Drivers));
  lame_ = std::make_unique<LameWriter>(dialogs, names.Lame);
  wma_ = std::make_unique<WmaWriter>();
  vorbis_ = std::make_unique<VorbisWriter>(names.Ogg, names.Vorbis, names.VorbisEnc);
  flac_ = std::make_unique<FlacWriter>(names.Flac);
}

EncoderSet::~EncoderSet() {
  // A file still open at the end was never finished: it does not stay.
  if (open_) Abort();
}

void EncoderSet::SetSourceFormat(const AudioFormatRecord* format) {
  source_ = format != nullptr ? *format : CdAudioFormat;
}

void EncoderSet::SetRawTag(const void* bytes, std::uint32_t size) {
  rawTag_ = true;
  rawTagBytes_ = bytes;
  rawTagSize_ = bytes != nullptr ? size : 0;
}

AudioWriter* EncoderSet::WriterFor(OutputKind kind) {
  switch (kind) {
    case OutputKind::Mp3:
      if (settings_->UseLame != 0) return lame_.get();
      return acm_.get();
    case OutputKind::Wma: return wma_.get();
    case OutputKind::Ogg: return vorbis_.get();
    case OutputKind::Flac: return flac_.get();
    case OutputKind::Wav: break;
  }
  return nullptr;
}

WriteResult EncoderSet::Open(const TrackTagRecord* tag, const std::string& outputName) {
  return Open(tag, outputName, OutputKindFromRecord(settings_->OutputKind));
}

WriteResult EncoderSet::Open(const TrackTagRecord* tag, const std::string& outputName,
                             OutputKind kind) {
  if (open_) return WriteResult::Failure(CreateFailureText(outputName, EBUSY));
  const bool raw = rawTag_;
  rawTag_ = false;  // the raw tag applies to this one Open
  if (!RemoveForReplacement(outputName))
    return WriteResult::Failure(CreateFailureText(outputName, errno));
  writer_ = WriterFor(kind);
  outputName_ = outputName;
  if (writer_ == nullptr) {
    open_ = true;  // WAV: the flag alone
    return {};
  }
  writer_->Configure(*settings_);
  writer_->SetRawTag(raw, rawTagBytes_, rawTagSize_);
  writer_->SetSourceFormat(source_);
  // A raw tag is for MP3 files; the others get no tag then.
  WriteResult r = writer_->Open(raw ? nullptr : tag, outputName);
  if (!r) {
    writer_ = nullptr;
    source_ = CdAudioFormat;
    return r;
  }
  open_ = true;
  return r;
}

WriteResult EncoderSet::Open(const TrackTags& tag, const std::string& outputName,
                             OutputKind kind) {
  AudioWriter* writer = WriterFor(kind);
  if (writer) writer->SetTagTexts(&tag.Texts);
  WriteResult r = Open(&tag.Record, outputName, kind);
  if (writer) writer->SetTagTexts(nullptr);
  return r;
}

WriteResult EncoderSet::Write(const void* pcm, std::size_t byteCount) {
  if (!open_) return WriteResult::Failure("Файл не открыт для записи.");
  if (writer_ == nullptr || pcm == nullptr) return {};
  return writer_->Write(pcm, byteCount);
}

WriteResult EncoderSet::Close() {
  if (!open_) return WriteResult::Failure("Файл не открыт для записи.");
  source_ = CdAudioFormat;
  open_ = false;
  AudioWriter* w = writer_;
  writer_ = nullptr;
  return w != nullptr ? w->Close() : WriteResult::Success();
}

void EncoderSet::Abort() {
  if (!open_) return;
  source_ = CdAudioFormat;
  open_ = false;
  if (writer_ != nullptr) writer_->Abort();
  writer_ = nullptr;
}

WriteResult EncoderSet::ConvertFile(const std::string& sourceWav, const std::string& outputName,
                                    const TrackTagRecord* tag) {
  return ConvertFile(sourceWav, outputName, tag, OutputKindFromRecord(settings_->OutputKind));
}

WriteResult EncoderSet::ConvertFile(const std::string& sourceWav, const std::string& outputName,
                                    const TrackTagRecord* tag, OutputKind kind) {
  const SettingsRecord& s = *settings_;
  AudioWriter* writer = WriterFor(kind);
  if (writer == nullptr) return {};  // WAV: nothing to encode
  const double gain = ComputeNormalizeGain(peak_, s.NormLowThreshold, s.NormHighThreshold,
                                           s.NormLowTarget, s.NormHighTarget);
  AudioFormatRecord format = CdAudioFormat;
  {
    WavSourceReader reader;
    reader.Open(sourceWav, true);
    if (reader.IsOpen()) format = reader.Format();
  }
  // Every writer gets the progress routine, the normalisation and the
  // source's format, so that each kind behaves the same.
  for (AudioWriter* w : {static_cast<AudioWriter*>(acm_.get()), static_cast<AudioWriter*>(lame_.get()),
                         static_cast<AudioWriter*>(wma_.get()), static_cast<AudioWriter*>(vorbis_.get()),
                         static_cast<AudioWriter*>(flac_.get())}) {
    w->SetProgress(progress_);
    w->SetNormalize(s.NormalizeEnabled != 0);
    w->SetGain(gain);
    w->SetSourceFormat(format);
    w->SetRawTag(false, nullptr, 0);
  }
  writer->Configure(s);
  if (!RemoveForReplacement(outputName))
    return WriteResult::Failure(CreateFailureText(outputName, errno));
  return writer->ConvertFile(sourceWav, outputName, tag);
}

WriteResult EncoderSet::ConvertFile(const std::string& sourceWav, const std::string& outputName,
                                    const TrackTags& tag, OutputKind kind) {
  AudioWriter* writer = WriterFor(kind);
  if (writer) writer->SetTagTexts(&tag.Texts);
  WriteResult r = ConvertFile(sourceWav, outputName, &tag.Record, kind);
  if (writer) writer->SetTagTexts(nullptr);
  return r;
}

}  // namespace sonarvex

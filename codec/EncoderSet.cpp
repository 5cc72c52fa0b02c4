#include "codec/EncoderSet.h"

#include <cerrno>
#include <cstdlib>
#include <string_view>

#include "codec/FormatRegistry.h"
#include "codec/SampleOps.h"
#include "codec/WavSourceReader.h"

namespace sonarvex {

EncoderSet::EncoderSet(SettingsRecord& settings, Dialogs& dialogs, const CodecLibraryNames& names,
                       std::optional<std::vector<std::unique_ptr<AcmMp3Driver>>> mp3Drivers)
    : dialogs_(&dialogs),
      names_(names),
      mp3Drivers_(std::move(mp3Drivers)),
      settings_(&settings) {
  for (const OutputFormat& format : OutputFormats()) {
    if (!format.compressed) continue;  // WAV: written by the caller
    for (const FormatEncoder& encoder : format.encoders)
      writers_.push_back({&format, &encoder, nullptr});
  }
}

AudioWriter& EncoderSet::Made(const Slot& slot) const {
  if (!slot.writer) {
    const WriterEnvironment env{*dialogs_, names_, mp3Drivers_ ? &*mp3Drivers_ : nullptr};
    slot.writer = slot.encoder->make(env);
  }
  return *slot.writer;
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

AudioWriter& EncoderSet::Writer(const char* id) const {
  const std::string_view wanted = id;
  for (const Slot& slot : writers_)
    if (wanted == slot.encoder->id) return Made(slot);
  // Every encoder the registry names has its writer here.
  std::abort();
}

AudioWriter* EncoderSet::WriterFor(OutputKind kind) {
  for (const Slot& slot : writers_)
    if (slot.format->kind == kind && slot.encoder->chosen(*settings_)) return &Made(slot);
  return nullptr;
}

bool EncoderSet::Available(OutputKind kind) {
  const OutputFormat* format = FindFormat(kind);
  if (format == nullptr) return false;
  if (!format->compressed) return true;
  const AudioWriter* writer = WriterFor(kind);
  return writer != nullptr && writer->Available();
}

WriteResult EncoderSet::Open(const TrackTagRecord* tag, const std::string& outputName) {
  return Open(tag, outputName, OutputKindFromRecord(settings_->OutputKind));
}

WriteResult EncoderSet::Open(const TrackTagRecord* tag, const std::string& outputName,
                             OutputKind kind, const FormatOptions& options) {
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
  writer_->SetOptions(options);
  writer_->SetCover(options.cover);
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
                             OutputKind kind, const FormatOptions& options) {
  AudioWriter* writer = WriterFor(kind);
  if (writer) writer->SetTagTexts(&tag.Texts);
  WriteResult r = Open(&tag.Record, outputName, kind, options);
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
                                    const TrackTagRecord* tag, OutputKind kind,
                                    const FormatOptions& options) {
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
  // Every writer made so far (the chosen one among them) gets the progress
  // routine, the normalisation and the source's format, so that each kind
  // behaves the same.
  for (const Slot& slot : writers_) {
    AudioWriter* w = slot.writer.get();
    if (w == nullptr) continue;
    w->SetProgress(progress_);
    w->SetNormalize(s.NormalizeEnabled != 0);
    w->SetGain(gain);
    w->SetSourceFormat(format);
    w->SetRawTag(false, nullptr, 0);
  }
  writer->Configure(s);
  writer->SetOptions(options);
  writer->SetCover(options.cover);
  if (!RemoveForReplacement(outputName))
    return WriteResult::Failure(CreateFailureText(outputName, errno));
  return writer->ConvertFile(sourceWav, outputName, tag);
}

WriteResult EncoderSet::ConvertFile(const std::string& sourceWav, const std::string& outputName,
                                    const TrackTags& tag, OutputKind kind,
                                    const FormatOptions& options) {
  AudioWriter* writer = WriterFor(kind);
  if (writer) writer->SetTagTexts(&tag.Texts);
  WriteResult r = ConvertFile(sourceWav, outputName, &tag.Record, kind, options);
  if (writer) writer->SetTagTexts(nullptr);
  return r;
}

}  // namespace sonarvex

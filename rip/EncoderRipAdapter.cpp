#include "rip/EncoderRipAdapter.h"

#include <algorithm>

#include "codec/EncoderSet.h"
#include "codec/FormatRegistry.h"
#include "codec/SampleOps.h"

namespace sonarvex {

namespace detail {
OwnEncoderParts::OwnEncoderParts(const SettingsRecord& s, Dialogs& dialogs)
    : settings(s), set(std::make_unique<EncoderSet>(settings, dialogs)) {}
OwnEncoderParts::~OwnEncoderParts() = default;
}  // namespace detail

OwnEncoderRipAdapter::OwnEncoderRipAdapter(const SettingsRecord& settings, Dialogs& dialogs)
    : detail::OwnEncoderParts(settings, dialogs), EncoderRipAdapter(*set) {}

EncoderRipAdapter::~EncoderRipAdapter() {
  // Anything still being written when the rip ends was not finished.
  wav_.Abort();
  if (encoder_ != nullptr) encoder_->Abort();
}

EncoderSet& EncoderRipAdapter::Encoder() {
  if (!encoder_) {
    encoder_ = &get_();
    if (progress_) InstallProgress();
  }
  return *encoder_;
}

bool EncoderRipAdapter::Available(OutputKind kind) { return Encoder().Available(kind); }

void EncoderRipAdapter::Configure(
    const SettingsRecord&, OutputKind kind, const FormatOptions& options,
    std::function<void(std::uint64_t, std::uint64_t, int*, int)> progress) {
  kind_ = kind;
  options_ = options;
  progress_ = std::move(progress);
  if (encoder_) InstallProgress();
}

void EncoderRipAdapter::InstallProgress() {
  encoder_->SetProgressCallback([this](std::uint32_t done, std::uint32_t total, bool* cancel,
                                       int mode) {
    if (!progress_) return;
    int flag = 0;
    progress_(done, total, cancel ? &flag : nullptr, mode);
    if (flag && cancel) {
      *cancel = true;
      cancelled_ = true;
    }
  });
}

WriteResult EncoderRipAdapter::Open(const TrackTags& tag, const std::string& outPath) {
  Encoder().SetSourceFormat(nullptr);
  return Encoder().Open(tag, outPath, kind_, options_);
}

WriteResult EncoderRipAdapter::Write(const std::uint8_t* data, std::size_t bytes) {
  return Encoder().Write(data, bytes);
}

WriteResult EncoderRipAdapter::Close() { return Encoder().Close(); }

void EncoderRipAdapter::Abort() {
  if (encoder_ != nullptr) encoder_->Abort();
}

WriteResult EncoderRipAdapter::ConvertFile(const std::string& wavPath, const std::string& outPath,
                                           const TrackTags& tag, int peak) {
  cancelled_ = false;
  Encoder().SetPeak(static_cast<std::int16_t>(std::clamp(peak, 0, 32767)));
  WriteResult r = Encoder().ConvertFile(wavPath, outPath, tag, kind_, options_);
  if (r && cancelled_) return WriteResult::Cancel();
  return r;
}

WriteResult EncoderRipAdapter::CreateWav(const std::string& path, bool durable) {
  wav_.SetSourceFormat(CdAudioFormat);
  wav_.SetSync(durable);
  return wav_.Open(nullptr, path);
}

WriteResult EncoderRipAdapter::WriteWav(const std::uint8_t* data, std::size_t bytes) {
  return wav_.Write(data, bytes);
}

WriteResult EncoderRipAdapter::FinishWav(std::uint64_t /*dataBytes*/) {
  // The header gets the size of what was actually written.
  return wav_.Close();
}

void EncoderRipAdapter::AbortWav() { wav_.Abort(); }

void EncoderRipAdapter::FindPeak(const std::uint8_t* data, std::size_t bytes, int& peak) {
  std::int16_t p = static_cast<std::int16_t>(std::clamp(peak, 0, 32767));
  sonarvex::FindPeak(data, bytes, p);
  peak = p;
}

double EncoderRipAdapter::ExpectedRatio(const SettingsRecord& settings, OutputKind kind,
                                        const FormatOptions& options) {
  const OutputFormat* format = FindFormat(kind);
  if (format == nullptr) return 1;
  // Uncompressed output is as big as the audio: no encoder is needed to tell.
  if (!format->compressed) return 1;
  // A format whose options set its size (Opus's bitrate) is asked with this rip's.
  if (AudioWriter* writer = Encoder().WriterFor(kind)) writer->SetOptions(options);
  return format->expectedRatio(settings, Encoder());
}

}  // namespace sonarvex

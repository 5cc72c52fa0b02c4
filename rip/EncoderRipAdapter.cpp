#include "rip/EncoderRipAdapter.h"

#include <algorithm>

#include "codec/CompressionRatio.h"
#include "codec/EncoderSet.h"
#include "codec/SampleOps.h"

namespace sonarvex {

namespace detail {
OwnEncoderParts::OwnEncoderParts(const SettingsRecord& s, Dialogs& dialogs)
    : settings(s), set(std::make_unique<EncoderSet>(settings, dialogs)) {}
OwnEncoderParts::~OwnEncoderParts() = default;
}  // namespace detail

OwnEncoderRipAdapter::OwnEncoderRipAdapter(const SettingsRecord& settings, Dialogs& dialogs)
    : detail::OwnEncoderParts(settings, dialogs), EncoderRipAdapter(*set) {}

OwnEncoderRipAdapter::OwnEncoderRipAdapter(const SettingsRecord& settings, Dialogs& dialogs,
                                           int flacLevel, FlacDiscTags flacDisc)
    : OwnEncoderRipAdapter(settings, dialogs) {
  SetFlacOptions(flacLevel, std::move(flacDisc));
}

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

bool EncoderRipAdapter::WmaAvailable() { return Encoder().Wma().Available(); }

bool EncoderRipAdapter::VorbisAvailable() { return Encoder().Vorbis().Available(); }

bool EncoderRipAdapter::FlacAvailable() { return Encoder().Flac().Available(); }

void EncoderRipAdapter::Configure(
    const SettingsRecord&, OutputKind kind,
    std::function<void(std::uint64_t, std::uint64_t, int*, int)> progress) {
  kind_ = kind;
  progress_ = std::move(progress);
  if (encoder_) InstallProgress();
  if (kind == OutputKind::Flac) {
    Encoder().Flac().SetLevel(flacLevel_);
    Encoder().Flac().SetDiscTags(flacDisc_);
  }
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
  return Encoder().Open(tag, outPath, kind_);
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
  WriteResult r = Encoder().ConvertFile(wavPath, outPath, tag, kind_);
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

double EncoderRipAdapter::ExpectedRatio(const SettingsRecord& settings, OutputKind kind) {
  // CD audio bytes a second over the writer's bytes a second.
  auto atKbits = [](double kbits) { return kbits > 0 ? 176400.0 / (kbits * 125) : 1.0; };
  switch (kind) {
    case OutputKind::Wav: return 1;
    case OutputKind::Flac: return kFlacCompressionRatio;
    case OutputKind::Mp3: return ExpectedCompressionRatio(settings, Encoder().Acm());
    case OutputKind::Wma: {
      static constexpr int kWmaKbits[] = {32, 40, 48, 64, 80, 96, 128, 160, 192};
      return atKbits(kWmaKbits[std::min<int>(settings.WmaBitrateIndex, 8)]);
    }
    case OutputKind::Ogg:
      // Vorbis at its quality varies with the music: counted at the most a
      // stereo stream commonly takes.
      return atKbits(320);
  }
  return 1;
}

}  // namespace sonarvex

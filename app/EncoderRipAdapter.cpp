#include "app/EncoderRipAdapter.h"

#include <unistd.h>

#include <algorithm>

#include "codec/EncoderSet.h"
#include "codec/SampleOps.h"
#include "codec/WavFile.h"
#include "platform/Files.h"

namespace sonarvex {

EncoderRipAdapter::~EncoderRipAdapter() {
  if (wav_ >= 0) ::close(wav_);
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

void EncoderRipAdapter::Configure(
    const SettingsRecord&, std::function<void(std::uint64_t, std::uint64_t, int*, int)> progress) {
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

bool EncoderRipAdapter::Open(const TrackTagRecord& tag, const std::string& outPath) {
  Encoder().SetSourceFormat(nullptr);
  Encoder().Open(&tag, outPath);
  openPath_ = outPath;
  return Encoder().IsOpen() && FileExists(outPath);
}

bool EncoderRipAdapter::Write(const std::uint8_t* data, std::size_t bytes) {
  Encoder().Write(data, bytes);
  return Encoder().IsOpen();
}

void EncoderRipAdapter::Close() { Encoder().Close(); }

bool EncoderRipAdapter::ConvertFile(const std::string& wavPath, const std::string& outPath,
                                    const TrackTagRecord& tag, int peak) {
  cancelled_ = false;
  Encoder().SetPeak(static_cast<std::int16_t>(std::clamp(peak, 0, 32767)));
  Encoder().ConvertFile(wavPath, outPath, &tag);
  return !cancelled_ && FileExists(outPath);
}

bool EncoderRipAdapter::CreateWav(const std::string& path) {
  wav_ = CreateWavFile(path, CdAudioFormat);
  return wav_ != kInvalidWavHandle;
}

bool EncoderRipAdapter::WriteWav(const std::uint8_t* data, std::size_t bytes) {
  return wav_ >= 0 && WriteWavData(wav_, data, bytes);
}

bool EncoderRipAdapter::FinishWav(std::uint64_t dataBytes) {
  if (wav_ < 0) return false;
  FinishWavFile(wav_, static_cast<std::uint32_t>(dataBytes), CdAudioFormat);
  wav_ = -1;
  return true;
}

void EncoderRipAdapter::FindPeak(const std::uint8_t* data, std::size_t bytes, int& peak) {
  std::int16_t p = static_cast<std::int16_t>(std::clamp(peak, 0, 32767));
  sonarvex::FindPeak(data, bytes, p);
  peak = p;
}

}  // namespace sonarvex

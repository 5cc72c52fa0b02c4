#include "codec/EncoderSet.h"

#include <cstdio>

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
}

EncoderSet::~EncoderSet() {
  if (open_) Close();
}

void EncoderSet::SetSourceFormat(const AudioFormatRecord* format) {
  source_ = format != nullptr ? *format : CdAudioFormat;
}

void EncoderSet::SetRawTag(const void* bytes, std::uint32_t size) {
  rawTag_ = true;
  rawTagBytes_ = bytes;
  rawTagSize_ = bytes != nullptr ? size : 0;
}

void EncoderSet::CopyOggSettings() {
  const SettingsRecord& s = *settings_;
  vorbis_->SetBitrates(s.OggMinBitrateIndex, s.OggNominalBitrateIndex, s.OggMaxBitrateIndex);
  vorbis_->SetQuality(s.OggQuality, s.OggUseQuality != 0);
}

void EncoderSet::Open(const TrackTagRecord* tag, const std::string& outputName) {
  if (open_) return;
  std::remove(outputName.c_str());
  open_ = true;
  outputName_ = outputName;
  const SettingsRecord& s = *settings_;
  const bool raw = rawTag_;
  // A raw tag of size 0 means no tag; the writers then copy nothing.
  tag_ = raw ? (rawTagSize_ > 0 ? rawTagBytes_ : nullptr) : tag;
  lame_->SetRawTag(raw, rawTagSize_);
  acm_->SetRawTag(raw, rawTagSize_);
  rawTag_ = false;
  acm_->SetSourceFormat(source_);
  lame_->SetSourceFormat(source_);
  wma_->SetSourceFormat(source_);
  vorbis_->SetSourceFormat(source_);
  openKind_ = s.OutputKind;
  openLame_ = s.UseLame != 0;
  switch (openKind_) {
    case 1:
      if (openLame_) lame_->Open(tag_, outputName, s.Lame);
      else acm_->Open(tag_, outputName, s.AcmFormatIndex);
      break;
    case 2:
      wma_->Open(outputName, s.WmaBitrateIndex, s.WmaDrm != 0);
      break;
    case 3:
      CopyOggSettings();
      vorbis_->Open(raw ? nullptr : tag, outputName);
      break;
    default:
      break;
  }
}

void EncoderSet::Write(const void* pcm, std::size_t byteCount) {
  if (!open_ || pcm == nullptr) return;
  switch (openKind_) {
    case 1:
      if (openLame_) lame_->Write(pcm, byteCount);
      else acm_->Write(pcm, byteCount);
      break;
    case 2: wma_->Write(pcm, byteCount); break;
    case 3: vorbis_->Write(pcm, byteCount); break;
    default: break;
  }
}

void EncoderSet::Close() {
  if (!open_) return;
  source_ = CdAudioFormat;
  switch (openKind_) {
    case 1:
      if (openLame_) lame_->Close(outputName_);
      else acm_->Close();
      break;
    case 2: wma_->Close(static_cast<const TrackTagRecord*>(tag_)); break;
    case 3: vorbis_->Close(); break;
    default: break;
  }
  open_ = false;
}

void EncoderSet::ConvertFile(const std::string& sourceWav, const std::string& outputName,
                             const TrackTagRecord* tag) {
  const SettingsRecord& s = *settings_;
  const double gain = ComputeNormalizeGain(peak_, s.NormLowThreshold, s.NormHighThreshold,
                                           s.NormLowTarget, s.NormHighTarget);
  const bool normalize = s.NormalizeEnabled != 0;
  acm_->SetProgress(progress_);
  lame_->SetProgress(progress_);
  wma_->SetProgress(progress_);
  vorbis_->SetProgress(progress_);
  acm_->SetNormalize(normalize);
  lame_->SetNormalize(normalize);
  wma_->SetNormalize(normalize);
  vorbis_->SetNormalize(normalize);

  AudioFormatRecord format = CdAudioFormat;
  {
    WavSourceReader reader;
    reader.Open(sourceWav, true);
    if (reader.IsOpen()) format = reader.Format();
  }
  acm_->SetSourceFormat(format);
  lame_->SetSourceFormat(format);
  wma_->SetSourceFormat(format);
  vorbis_->SetSourceFormat(format);
  // Every writer gets the gain, so normalisation works for every output kind.
  acm_->SetGain(gain);
  lame_->SetGain(gain);
  wma_->SetGain(gain);
  vorbis_->SetGain(gain);
  lame_->SetRawTag(false, 0);
  acm_->SetRawTag(false, 0);

  switch (s.OutputKind) {
    case 1:
      if (s.UseLame != 0) lame_->ConvertFile(sourceWav, outputName, tag, s.Lame);
      else acm_->ConvertFile(sourceWav, outputName, s.AcmFormatIndex, tag);
      break;
    case 2:
      wma_->ConvertFile(sourceWav, outputName, tag, s.WmaDrm != 0, s.WmaBitrateIndex);
      break;
    case 3:
      CopyOggSettings();
      vorbis_->ConvertFile(sourceWav, outputName, tag);
      break;
    default:
      break;
  }
}

}  // namespace sonarvex

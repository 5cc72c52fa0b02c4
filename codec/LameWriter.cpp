#include "codec/LameWriter.h"

#include <lame/lame.h>

#include <cerrno>
#include <cstring>

#include "codec/DynamicLibrary.h"
#include "codec/Id3v2Writer.h"
#include "codec/SampleOps.h"
#include "codec/WavSourceReader.h"

namespace sonarvex {

// The library and the entry points the writer uses, looked up by name.
struct LameWriter::Library {
  DynamicLibrary dl;
  bool complete = false;
  decltype(&::lame_init) init = nullptr;
  decltype(&::lame_set_in_samplerate) set_in_samplerate = nullptr;
  decltype(&::lame_set_out_samplerate) set_out_samplerate = nullptr;
  decltype(&::lame_set_num_channels) set_num_channels = nullptr;
  decltype(&::lame_set_mode) set_mode = nullptr;
  decltype(&::lame_set_brate) set_brate = nullptr;
  decltype(&::lame_set_quality) set_quality = nullptr;
  decltype(&::lame_set_preset) set_preset = nullptr;
  decltype(&::lame_set_VBR) set_VBR = nullptr;
  decltype(&::lame_set_VBR_q) set_VBR_q = nullptr;
  decltype(&::lame_set_VBR_min_bitrate_kbps) set_VBR_min = nullptr;
  decltype(&::lame_set_VBR_max_bitrate_kbps) set_VBR_max = nullptr;
  decltype(&::lame_set_original) set_original = nullptr;
  decltype(&::lame_set_copyright) set_copyright = nullptr;
  decltype(&::lame_set_extension) set_extension = nullptr;
  decltype(&::lame_set_error_protection) set_error_protection = nullptr;
  decltype(&::lame_set_strict_ISO) set_strict_ISO = nullptr;
  decltype(&::lame_set_disable_reservoir) set_disable_reservoir = nullptr;
  decltype(&::lame_set_emphasis) set_emphasis = nullptr;
  decltype(&::lame_set_bWriteVbrTag) set_bWriteVbrTag = nullptr;
  decltype(&::lame_set_write_id3tag_automatic) set_write_id3tag_automatic = nullptr;
  decltype(&::lame_init_params) init_params = nullptr;
  decltype(&::lame_get_framesize) get_framesize = nullptr;
  decltype(&::lame_get_num_channels) get_num_channels = nullptr;
  decltype(&::lame_encode_buffer) encode_buffer = nullptr;
  decltype(&::lame_encode_buffer_interleaved) encode_buffer_interleaved = nullptr;
  decltype(&::lame_encode_flush) encode_flush = nullptr;
  decltype(&::lame_get_lametag_frame) get_lametag_frame = nullptr;
  decltype(&::lame_close) close = nullptr;
  decltype(&::get_lame_version_numerical) version = nullptr;

  bool Bind() {
    return dl.Find("lame_init", init) && dl.Find("lame_set_in_samplerate", set_in_samplerate) &&
           dl.Find("lame_set_out_samplerate", set_out_samplerate) &&
           dl.Find("lame_set_num_channels", set_num_channels) &&
           dl.Find("lame_set_mode", set_mode) && dl.Find("lame_set_brate", set_brate) &&
           dl.Find("lame_set_quality", set_quality) && dl.Find("lame_set_preset", set_preset) &&
           dl.Find("lame_set_VBR", set_VBR) && dl.Find("lame_set_VBR_q", set_VBR_q) &&
           dl.Find("lame_set_VBR_min_bitrate_kbps", set_VBR_min) &&
           dl.Find("lame_set_VBR_max_bitrate_kbps", set_VBR_max) &&
           dl.Find("lame_set_original", set_original) &&
           dl.Find("lame_set_copyright", set_copyright) &&
           dl.Find("lame_set_extension", set_extension) &&
           dl.Find("lame_set_error_protection", set_error_protection) &&
           dl.Find("lame_set_strict_ISO", set_strict_ISO) &&
           dl.Find("lame_set_disable_reservoir", set_disable_reservoir) &&
           dl.Find("lame_set_emphasis", set_emphasis) &&
           dl.Find("lame_set_bWriteVbrTag", set_bWriteVbrTag) &&
           dl.Find("lame_set_write_id3tag_automatic", set_write_id3tag_automatic) &&
           dl.Find("lame_init_params", init_params) &&
           dl.Find("lame_get_framesize", get_framesize) &&
           dl.Find("lame_get_num_channels", get_num_channels) &&
           dl.Find("lame_encode_buffer", encode_buffer) &&
           dl.Find("lame_encode_buffer_interleaved", encode_buffer_interleaved) &&
           dl.Find("lame_encode_flush", encode_flush) &&
           dl.Find("lame_get_lametag_frame", get_lametag_frame) &&
           dl.Find("lame_close", close) && dl.Find("get_lame_version_numerical", version);
  }
};

namespace {

// The classic quality-preset numbers of the settings record.
enum : int {
  kPresetNone = -1,
  kPresetNormal = 0,
  kPresetLow = 1,
  kPresetHigh = 2,
  kPresetVoice = 3,
  kPresetR3mix = 4,
  kPresetVeryHigh = 5,
  kPresetStandard = 6,
  kPresetFastStandard = 7,
  kPresetExtreme = 8,
  kPresetFastExtreme = 9,
  kPresetInsane = 10,
  kPresetAbr = 11,
  kPresetCbr = 12,
  kPresetMedium = 13,
  kPresetFastMedium = 14,
};

void ApplyPreset(const LameWriter::Library& L, lame_global_flags* g, const LameConfig& c) {
  switch (c.Preset) {
    case kPresetNone: break;
    case kPresetNormal: L.set_quality(g, 5); break;
    case kPresetLow: L.set_quality(g, 9); break;
    case kPresetHigh: L.set_quality(g, 2); break;
    case kPresetVeryHigh: L.set_quality(g, 0); break;
    case kPresetVoice:
      L.set_mode(g, MONO);
      L.set_preset(g, 56);
      break;
    case kPresetR3mix: L.set_preset(g, R3MIX); break;
    case kPresetStandard: L.set_preset(g, STANDARD); break;
    case kPresetFastStandard: L.set_preset(g, STANDARD_FAST); break;
    case kPresetExtreme: L.set_preset(g, EXTREME); break;
    case kPresetFastExtreme: L.set_preset(g, EXTREME_FAST); break;
    case kPresetInsane: L.set_preset(g, INSANE); break;
    case kPresetAbr:
    case kPresetCbr:
      if (c.Bitrate >= 8 && c.Bitrate <= 320) L.set_preset(g, static_cast<int>(c.Bitrate));
      break;
    case kPresetMedium: L.set_preset(g, MEDIUM); break;
    case kPresetFastMedium: L.set_preset(g, MEDIUM_FAST); break;
    default: {
      // The named bitrate presets 1000 (phone) .. 10000 (studio).
      static const int kNamed[] = {16, 24, 40, 112, 56, 112, 112, 160, 192, 256};
      if (c.Preset >= 1000 && c.Preset <= 10000 && c.Preset % 1000 == 0)
        L.set_preset(g, kNamed[c.Preset / 1000 - 1]);
      break;
    }
  }
}

}  // namespace

int Mp3BitrateFor(std::int32_t index) {
  if (index >= 0 && index <= 14) return kMp3Bitrates[index];
  if (index >= 16) return index;
  return 0;
}

LameWriter::LameWriter(Dialogs& dialogs, const std::string& libraryName)
    : lib_(std::make_unique<Library>()), dialogs_(dialogs) {
  if (!lib_->dl.Load(libraryName)) {
    dialogs_.Warning("Нету libmp3lame.so.0 !");
    return;
  }
  loaded_ = true;
  lib_->complete = lib_->Bind();
  if (!lib_->complete) dialogs_.Warning("Ошибка при загрузке libmp3lame.so.0 !");
}

LameWriter::~LameWriter() { Abort(); }

bool LameWriter::Available() const { return lib_->complete; }

LameConfig LameWriter::BuildConfig(const LameSettings& s, int sourceChannels) {
  LameConfig c;
  c.Mode = sourceChannels == 1 ? 3 : s.Mode;
  if (c.Mode < 0 || c.Mode > 3) c.Mode = 1;
  c.Bitrate = static_cast<std::uint32_t>(Mp3BitrateFor(s.BitrateIndex));
  c.Preset = s.Preset;
  c.MpegVersion = 1;
  c.WriteVbrHeader = true;
  c.EnableVbr = s.VbrEnabled != 0;
  c.MaxBitrate = c.EnableVbr ? static_cast<std::uint32_t>(Mp3BitrateFor(s.MaxBitrateIndex)) : 0;
  c.Original = c.EnableVbr;
  c.VbrQuality = c.EnableVbr ? s.VbrQuality : 0;
  if (c.VbrQuality < 0 || c.VbrQuality > 9) c.VbrQuality = c.VbrQuality < 0 ? 0 : 9;
  return c;
}

void LameWriter::Release() {
  if (stream_ != nullptr) lib_->close(static_cast<lame_global_flags*>(stream_));
  stream_ = nullptr;
  output_.clear();
  output_.shrink_to_fit();
}

WriteResult LameWriter::Fail(WriteResult r) {
  // Nothing half written stays: the encoder goes, the file is deleted.
  Release();
  file_.Abort();
  error_ = r;
  return r;
}

WriteResult LameWriter::Open(const TrackTagRecord* tag, const std::string& fileName) {
  const bool raw = rawTag_;
  rawTag_ = false;  // the raw tag applies to this one Open
  if (!Available()) {
    return WriteResult::Failure(loaded_ ? "Ошибка при загрузке libmp3lame.so.0 !"
                                        : "Нету libmp3lame.so.0 !");
  }
  if (active_) return WriteResult::Failure(CreateFailureText(fileName, EBUSY));
  const Library& L = *lib_;
  error_ = {};
  downmix_ = settings_.Mode == 3 && source_.Channels == 2;
  config_ = BuildConfig(settings_, source_.Channels);

  lame_global_flags* g = L.init();
  if (g == nullptr) return WriteResult::Failure(CreateFailureText(fileName, ENOMEM));
  L.set_in_samplerate(g, static_cast<int>(config_.SampleRate));
  // MPEG-1 output: the encoder keeps the input rate instead of choosing a lower one.
  L.set_out_samplerate(g, config_.ReSampleRate != 0 ? static_cast<int>(config_.ReSampleRate)
                                                    : static_cast<int>(config_.SampleRate));
  L.set_num_channels(g, config_.Mode == 3 ? 1 : 2);
  L.set_mode(g, static_cast<MPEG_mode>(config_.Mode));
  L.set_copyright(g, 0);
  L.set_extension(g, 0);
  L.set_error_protection(g, 0);
  L.set_strict_ISO(g, 0);
  L.set_disable_reservoir(g, 0);
  L.set_emphasis(g, 0);
  L.set_original(g, config_.Original ? 1 : 0);
  L.set_bWriteVbrTag(g, config_.WriteVbrHeader ? 1 : 0);
  L.set_write_id3tag_automatic(g, 0);
  if (config_.EnableVbr) {
    L.set_VBR(g, vbr_default);
    L.set_VBR_q(g, config_.VbrQuality);
    if (config_.Bitrate != 0) L.set_VBR_min(g, static_cast<int>(config_.Bitrate));
    if (config_.MaxBitrate != 0) L.set_VBR_max(g, static_cast<int>(config_.MaxBitrate));
  } else {
    L.set_VBR(g, vbr_off);
    if (config_.Bitrate != 0) L.set_brate(g, static_cast<int>(config_.Bitrate));
  }
  ApplyPreset(L, g, config_);
  if (L.init_params(g) < 0) {
    L.close(g);
    return WriteResult::Failure("Кодер MP3 не принял настройки для файла '" + fileName + "'.");
  }
  samplesPerChunk_ = static_cast<std::uint32_t>(L.get_framesize(g) * L.get_num_channels(g));
  outputBufferSize_ = samplesPerChunk_ * 5 / 4 + 7200;

  if (WriteResult r = file_.Create(fileName); !r) {
    L.close(g);
    return r;
  }
  stream_ = g;
  active_ = true;
  output_.assign(outputBufferSize_, 0);
  if (raw) {
    if (rawTagSize_ > 0) {
      if (WriteResult r = file_.Write(rawTagBytes_, rawTagSize_); !r) return Fail(r);
    }
  } else if (tag != nullptr) {
    const std::vector<unsigned char> id3 = BuildId3v2(FullTag(*tag), cover_.get());
    if (WriteResult r = file_.Write(id3.data(), id3.size()); !r) return Fail(r);
  }
  audioStart_ = file_.Position();
  return {};
}

WriteResult LameWriter::Write(const void* pcm, std::size_t byteCount) {
  if (!active_) return WriteResult::Failure("Файл MP3 не открыт.");
  if (!error_) return error_;
  const Library& L = *lib_;
  auto* g = static_cast<lame_global_flags*>(stream_);
  scratch_.resize(byteCount / 2);
  std::memcpy(scratch_.data(), pcm, scratch_.size() * 2);
  std::size_t bytes = scratch_.size() * 2;
  if (downmix_) bytes = DownmixToMono(scratch_.data(), bytes);
  const std::size_t samples = bytes / 2;
  const bool stereo = L.get_num_channels(g) == 2;
  for (std::size_t at = 0; at < samples; at += samplesPerChunk_) {
    const std::size_t n = std::min<std::size_t>(samplesPerChunk_, samples - at);
    short* chunk = scratch_.data() + at;
    int produced =
        stereo ? L.encode_buffer_interleaved(g, chunk, static_cast<int>(n / 2), output_.data(),
                                             static_cast<int>(output_.size()))
               : L.encode_buffer(g, chunk, chunk, static_cast<int>(n), output_.data(),
                                 static_cast<int>(output_.size()));
    if (produced < 0) {
      return Fail(WriteResult::Failure("Ошибка кодера MP3 (" + std::to_string(produced) +
                                       ") при записи файла '" + file_.Path() + "'."));
    }
    if (produced > 0) {
      if (WriteResult r = file_.Write(output_.data(), static_cast<std::size_t>(produced)); !r)
        return Fail(r);
    }
  }
  return {};
}

WriteResult LameWriter::Close() {
  if (!active_) return WriteResult::Failure("Файл MP3 не открыт.");
  active_ = false;
  source_ = CdAudioFormat;
  WriteResult r = error_;
  error_ = {};
  if (!r) return r;  // already released and deleted
  const Library& L = *lib_;
  auto* g = static_cast<lame_global_flags*>(stream_);
  int produced = L.encode_flush(g, output_.data(), static_cast<int>(output_.size()));
  if (produced < 0) {
    r = WriteResult::Failure("Ошибка кодера MP3 (" + std::to_string(produced) +
                             ") при записи файла '" + file_.Path() + "'.");
  } else if (produced > 0) {
    r = file_.Write(output_.data(), static_cast<std::size_t>(produced));
  }
  // The VBR/info header replaces the placeholder first frame.
  if (r && config_.WriteVbrHeader) {
    std::vector<unsigned char> infoFrame(L.get_lametag_frame(g, nullptr, 0));
    if (!infoFrame.empty() &&
        L.get_lametag_frame(g, infoFrame.data(), infoFrame.size()) == infoFrame.size() &&
        file_.Position() >= audioStart_ + infoFrame.size())
      r = file_.WriteAt(audioStart_, infoFrame.data(), infoFrame.size());
  }
  Release();
  if (!r) {
    file_.Abort();
    return r;
  }
  return file_.Finish();
}

void LameWriter::Abort() {
  Release();
  file_.Abort();
  active_ = false;
  error_ = {};
  source_ = CdAudioFormat;
}

WriteResult LameWriter::ConvertFile(const std::string& source, const std::string& output,
                                    const TrackTagRecord* tag) {
  WholeFileRules rules;
  rules.stopAtDataSize = false;  // a chunk after the data is encoded too
  rules.keepOnCancel = true;
  rules.blockBytes = [this] { return samplesPerChunk_ * (downmix_ ? 4u : 2u); };
  rules.sourceUnavailable = [this] { dialogs_.Warning("Исходный файл недоступен."); };
  return ConvertWholeFile(source, output, tag, rules);
}

std::string LameWriter::VersionText() const {
  // The version entry point alone is enough for the text.
  decltype(&::get_lame_version_numerical) version = lib_->version;
  if (version == nullptr && !lib_->dl.Find("get_lame_version_numerical", version)) return {};
  lame_version_t v{};
  version(&v);
  return "Lame MP3 Encoder " + std::to_string(v.major) + "." + std::to_string(v.minor);
}

}  // namespace sonarvex

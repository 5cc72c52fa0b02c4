#include "codec/ReplayGain.h"

#include <ebur128.h>

#include <algorithm>
#include <charconv>
#include <cmath>

namespace sonarvex {

namespace {

ebur128_state* St(void* p) { return static_cast<ebur128_state*>(p); }

std::string Fixed(double v, int decimals) {
  char b[64];
  const auto r = std::to_chars(b, b + sizeof b, v, std::chars_format::fixed, decimals);
  return std::string(b, r.ptr);
}

}  // namespace

LoudnessMeter::LoudnessMeter(unsigned channels, unsigned sampleRate) : channels_(channels) {
  if (channels_ == 0 || sampleRate == 0) return;
  state_ = ebur128_init(channels, sampleRate, EBUR128_MODE_I | EBUR128_MODE_SAMPLE_PEAK);
}

LoudnessMeter::~LoudnessMeter() {
  if (state_ != nullptr) {
    ebur128_state* s = St(state_);
    ebur128_destroy(&s);
  }
}

void LoudnessMeter::Add(const std::uint8_t* pcm, std::size_t bytes) {
  if (state_ == nullptr) return;
  const std::size_t frames = bytes / (2u * channels_);
  if (frames == 0) return;
  samples_.resize(frames * channels_);
  for (std::size_t i = 0; i < samples_.size(); ++i)
    samples_[i] = static_cast<std::int16_t>(
        static_cast<std::uint16_t>(pcm[2 * i] | (pcm[2 * i + 1] << 8)));
  ebur128_add_frames_short(St(state_), samples_.data(), frames);
}

std::optional<double> LoudnessMeter::Loudness() const {
  double out = 0;
  if (state_ == nullptr || ebur128_loudness_global(St(state_), &out) != EBUR128_SUCCESS ||
      !std::isfinite(out))
    return std::nullopt;
  return out;
}

double LoudnessMeter::Peak() const {
  double peak = 0;
  for (unsigned c = 0; state_ != nullptr && c < channels_; ++c) {
    double p = 0;
    if (ebur128_sample_peak(St(state_), c, &p) == EBUR128_SUCCESS) peak = std::max(peak, p);
  }
  return peak;
}

std::optional<double> AlbumLoudness(const std::vector<const LoudnessMeter*>& tracks) {
  std::vector<ebur128_state*> states;
  for (const LoudnessMeter* t : tracks)
    if (t != nullptr && t->Valid()) states.push_back(St(t->State()));
  if (states.empty()) return std::nullopt;
  double out = 0;
  if (ebur128_loudness_global_multiple(states.data(), states.size(), &out) != EBUR128_SUCCESS ||
      !std::isfinite(out))
    return std::nullopt;
  return out;
}

std::string ReplayGainText(double gainDb) {
  // Rounded first, so that -0.001 is "+0.00 dB", not "-0.00 dB".
  const double rounded = std::round(gainDb * 100) / 100;
  return (rounded < 0 ? "" : "+") + Fixed(rounded == 0 ? 0.0 : rounded, 2) + " dB";
}

std::string ReplayGainPeakText(double peak) { return Fixed(std::max(0.0, peak), 6); }

std::vector<std::pair<std::string, std::string>> ReplayGainTags(const ReplayGainValues& v) {
  std::vector<std::pair<std::string, std::string>> out;
  if (v.trackGain) {
    out.emplace_back("REPLAYGAIN_TRACK_GAIN", ReplayGainText(*v.trackGain));
    out.emplace_back("REPLAYGAIN_TRACK_PEAK", ReplayGainPeakText(v.trackPeak));
  }
  if (v.album && v.albumGain) {
    out.emplace_back("REPLAYGAIN_ALBUM_GAIN", ReplayGainText(*v.albumGain));
    out.emplace_back("REPLAYGAIN_ALBUM_PEAK", ReplayGainPeakText(v.albumPeak));
  }
  return out;
}

std::string R128GainText(double loudness) {
  const double q = std::round((-23.0 - loudness) * 256);
  return std::to_string(static_cast<int>(std::clamp(q, -32768.0, 32767.0)));
}

}  // namespace sonarvex

#include "codec/ReplayGain.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace sonarvex {

namespace {

std::string Fixed(double v, int decimals) {
  char b[64];
  const auto r = std::to_chars(b, b + sizeof b, v, std::chars_format::fixed, decimals);
  return std::string(b, r.ptr);
}

// The absolute gate: the energy of a block at -70 LUFS.
const double kAbsoluteGate = std::pow(10.0, (-70.0 + 0.691) / 10.0);

// States smaller than this are set to 0 at the end of each 100 ms step, so
// that a filter ringing out into silence never reaches denormal numbers
// (which are slow); what they would still add is far below any rounding.
constexpr double kNegligible = 1e-100;

double Flushed(double v) { return std::fabs(v) < kNegligible ? 0.0 : v; }

// The gated mean of block energies in LUFS: the blocks within 10 LU of the
// mean of all (each already above the absolute gate).
std::optional<double> GatedLoudness(const std::vector<const std::vector<double>*>& lists) {
  double sum = 0;
  std::size_t count = 0;
  for (const auto* blocks : lists)
    for (double e : *blocks) sum += e, ++count;
  if (count == 0) return std::nullopt;
  const double relative = sum / static_cast<double>(count) * 0.1;
  double gated = 0;
  std::size_t kept = 0;
  for (const auto* blocks : lists)
    for (double e : *blocks)
      if (e >= relative) gated += e, ++kept;
  if (kept == 0 || gated <= 0) return std::nullopt;
  const double loudness = 10.0 * std::log10(gated / static_cast<double>(kept)) - 0.691;
  if (!std::isfinite(loudness)) return std::nullopt;
  return loudness;
}

}  // namespace

LoudnessMeter::LoudnessMeter(unsigned channels, unsigned sampleRate) : channels_(channels) {
  if (channels_ == 0 || sampleRate == 0) return;
  valid_ = true;
  // The K-weighting of BS.1770 at any rate: the high shelf (+4 dB above
  // about 1.7 kHz, the head's effect) and the RLB high pass (about 38 Hz),
  // both from their analogue prototypes by the bilinear transform.
  const double rate = sampleRate;
  {
    const double f0 = 1681.974450955533, gain = 3.999843853973347, q = 0.7071752369554196;
    const double k = std::tan(M_PI * f0 / rate);
    const double vh = std::pow(10.0, gain / 20.0);
    const double vb = std::pow(vh, 0.4996667741545416);
    const double a0 = 1.0 + k / q + k * k;
    shelf_[0] = (vh + vb * k / q + k * k) / a0;
    shelf_[1] = 2.0 * (k * k - vh) / a0;
    shelf_[2] = (vh - vb * k / q + k * k) / a0;
    shelf_[3] = 2.0 * (k * k - 1.0) / a0;
    shelf_[4] = (1.0 - k / q + k * k) / a0;
  }
  {
    const double f0 = 38.13547087602444, q = 0.5003270373238773;
    const double k = std::tan(M_PI * f0 / rate);
    const double a0 = 1.0 + k / q + k * k;
    pass_[0] = 1.0;
    pass_[1] = -2.0;
    pass_[2] = 1.0;
    pass_[3] = 2.0 * (k * k - 1.0) / a0;
    pass_[4] = (1.0 - k / q + k * k) / a0;
  }
  state_.resize(channels_);
  // Left, right, centre count once, the LFE not at all, the surround
  // channels 1.41 times; further channels are not weighed in.
  for (unsigned c = 0; c < channels_; ++c)
    weights_.push_back(c < 3 ? 1.0 : c == 3 ? 0.0 : c < 6 ? 1.41 : 0.0);
  stepFrames_ = (sampleRate + 5) / 10;
}

// One sample through the K-weighting of a channel: the terms of each
// biquad that do not wait for the previous output are summed first.
inline double KWeighted(LoudnessMeter::Channel& c, double x, const double* sh, const double* hp) {
  const double ty = sh[0] * x + sh[1] * c.x1 + sh[2] * c.x2 - sh[4] * c.y2;
  const double y = ty - sh[3] * c.y1;
  const double tz = hp[0] * y + hp[1] * c.y1 + hp[2] * c.y2 - hp[4] * c.z2;
  const double z = tz - hp[3] * c.z1;
  c.x2 = c.x1;
  c.x1 = x;
  c.y2 = c.y1;
  c.y1 = y;
  c.z2 = c.z1;
  c.z1 = z;
  return z;
}

void LoudnessMeter::Add(const std::uint8_t* pcm, std::size_t bytes) {
  if (!valid_) return;
  std::size_t frames = bytes / (2u * channels_);
  const double* const sh = shelf_;
  const double* const hp = pass_;
  auto sample = [](const std::uint8_t* p) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(p[0] | (p[1] << 8)));
  };
  while (frames > 0) {
    const std::size_t n = std::min(frames, stepFrames_ - filled_);
    int peak = peak_;
    double sum = 0;
    if (channels_ == 2) {
      // Both channels at once, as the two lanes of SSE2 vectors: two
      // independent chains in the same instructions.
      using Lanes = double __attribute__((vector_size(16)));
      const Lanes s0 = {sh[0], sh[0]}, s1 = {sh[1], sh[1]}, s2 = {sh[2], sh[2]}, s3 = {sh[3], sh[3]},
                  s4 = {sh[4], sh[4]}, h3 = {hp[3], hp[3]}, h4 = {hp[4], hp[4]};
      Channel& l = state_[0];
      Channel& r = state_[1];
      Lanes x1 = {l.x1, r.x1}, x2 = {l.x2, r.x2}, y1 = {l.y1, r.y1}, y2 = {l.y2, r.y2},
            z1 = {l.z1, r.z1}, z2 = {l.z2, r.z2}, acc = {0, 0};
      const Lanes scale = {1.0 / 32768, 1.0 / 32768};
      for (std::size_t i = 0; i < n; ++i, pcm += 4) {
        const int a = sample(pcm), b = sample(pcm + 2);
        peak = std::max(peak, std::max(std::abs(a), std::abs(b)));
        const Lanes x = Lanes{static_cast<double>(a), static_cast<double>(b)} * scale;
        const Lanes y = (s0 * x + s1 * x1 + s2 * x2 - s4 * y2) - s3 * y1;
        // The high pass's numerator is 1, -2, 1.
        const Lanes z = (y - (y1 + y1) + y2 - h4 * z2) - h3 * z1;
        x2 = x1;
        x1 = x;
        y2 = y1;
        y1 = y;
        z2 = z1;
        z1 = z;
        acc += z * z;
      }
      l = {x1[0], x2[0], y1[0], y2[0], z1[0], z2[0]};
      r = {x1[1], x2[1], y1[1], y2[1], z1[1], z2[1]};
      sum = acc[0] * weights_[0] + acc[1] * weights_[1];
    } else {
      for (unsigned c = 0; c < channels_; ++c) {
        Channel& ch = state_[c];
        double channelSum = 0;
        const std::uint8_t* p = pcm + 2 * c;
        for (std::size_t i = 0; i < n; ++i, p += 2 * channels_) {
          const int v = sample(p);
          peak = std::max(peak, std::abs(v));
          const double z = KWeighted(ch, v / 32768.0, sh, hp);
          channelSum += z * z;
        }
        sum += channelSum * weights_[c];
      }
      pcm += n * 2 * channels_;
    }
    peak_ = peak;
    current_ += sum;
    filled_ += n;
    frames -= n;
    if (filled_ == stepFrames_) {
      steps_[0] = steps_[1];
      steps_[1] = steps_[2];
      steps_[2] = steps_[3];
      steps_[3] = current_;
      current_ = 0;
      filled_ = 0;
      if (++stepsDone_ >= 4) {
        const double energy =
            (steps_[0] + steps_[1] + steps_[2] + steps_[3]) / (4.0 * static_cast<double>(stepFrames_));
        if (energy >= kAbsoluteGate) blocks_.push_back(energy);
      }
      for (Channel& c : state_) {
        c.y1 = Flushed(c.y1);
        c.y2 = Flushed(c.y2);
        c.z1 = Flushed(c.z1);
        c.z2 = Flushed(c.z2);
      }
    }
  }
}

std::optional<double> LoudnessMeter::Loudness() const {
  if (!valid_) return std::nullopt;
  return GatedLoudness({&blocks_});
}

std::optional<double> AlbumLoudness(const std::vector<const LoudnessMeter*>& tracks) {
  std::vector<const std::vector<double>*> lists;
  for (const LoudnessMeter* t : tracks)
    if (t != nullptr && t->Valid()) lists.push_back(&t->Blocks());
  if (lists.empty()) return std::nullopt;
  return GatedLoudness(lists);
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

// ReplayGain 2.0: the loudness of a track measured as it is ripped (EBU
// R 128 / ITU-R BS.1770: K-weighted, gated over 400 ms blocks every
// 100 ms), the gain that brings it to -18 LUFS,
// its sample peak, and the album's values from the tracks' measurements
// together. The tags say it the way players read it: REPLAYGAIN_TRACK_GAIN
// "-6.52 dB", REPLAYGAIN_TRACK_PEAK "0.988525" (sample peak, 1.0 = full
// scale) and the same for the album.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace sonarvex {

// The loudness ReplayGain 2.0 brings every track (or album) to, in LUFS.
inline constexpr double kReplayGainReference = -18.0;

// One track's measurement, fed with the PCM its file is made of. The
// K-weighting runs in double precision on both channels of a frame at once;
// it costs a few nanoseconds a frame, so that measuring does not slow a
// lossless rip.
class LoudnessMeter {
 public:
  LoudnessMeter(unsigned channels = 2, unsigned sampleRate = 44100);
  LoudnessMeter(const LoudnessMeter&) = delete;
  LoudnessMeter& operator=(const LoudnessMeter&) = delete;

  // False for no channels or no sample rate.
  bool Valid() const { return valid_; }
  // Interleaved signed 16-bit little-endian samples; a partial frame at the
  // end is left out.
  void Add(const std::uint8_t* pcm, std::size_t bytes);
  // The gate-integrated loudness in LUFS; nothing for audio too short or too
  // quiet to measure (silence).
  std::optional<double> Loudness() const;
  // The largest absolute sample of any channel (1.0 = full scale).
  double Peak() const { return peak_ / 32768.0; }

  // The mean square energies of the 400 ms blocks above the absolute gate
  // (-70 LUFS), in the order measured: what the album's gating combines.
  const std::vector<double>& Blocks() const { return blocks_; }

  // The filter of one channel: the high shelf and the high pass in series,
  // each a biquad in direct form I (its last two inputs and outputs), whose
  // feedback costs one multiply and one subtraction a sample.
  struct Channel {
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0, z1 = 0, z2 = 0;
  };

 private:
  bool valid_ = false;
  unsigned channels_;
  // The coefficients: shelf b0 b1 b2 a1 a2, then high pass b0 b1 b2 a1 a2.
  double shelf_[5] = {}, pass_[5] = {};
  std::vector<Channel> state_;
  std::vector<double> weights_;  // per channel: 1, the LFE 0, surround 1.41
  // Sums of the weighted squares of the last four 100 ms steps and of the
  // step being filled.
  double steps_[4] = {};
  double current_ = 0;
  std::size_t stepFrames_ = 0;   // frames in 100 ms
  std::size_t filled_ = 0;       // frames in the current step
  std::size_t stepsDone_ = 0;    // whole steps so far
  std::vector<double> blocks_;
  int peak_ = 0;
};

// The album's loudness: the tracks' measurements gated together (as if the
// tracks were one piece of audio); nothing when it cannot be measured.
std::optional<double> AlbumLoudness(const std::vector<const LoudnessMeter*>& tracks);

struct ReplayGainValues {
  // Track values; the gain is missing for a track that cannot be measured.
  std::optional<double> trackGain;
  double trackPeak = 0;
  std::optional<double> albumGain;
  double albumPeak = 0;
  bool album = false;  // the album values are known
};

// The gain in dB that brings audio of this loudness to the reference.
inline double ReplayGainFor(double loudness) { return kReplayGainReference - loudness; }

// "-6.52 dB", "+3.10 dB" (two decimals, always with a sign, a point as
// decimal separator whatever the locale).
std::string ReplayGainText(double gainDb);
// "0.988525" (six decimals).
std::string ReplayGainPeakText(double peak);

// The tags of the values, in this order: REPLAYGAIN_TRACK_GAIN,
// REPLAYGAIN_TRACK_PEAK, then, when the album is known,
// REPLAYGAIN_ALBUM_GAIN, REPLAYGAIN_ALBUM_PEAK. A gain that could not be
// measured (silence) is left out with its peak.
std::vector<std::pair<std::string, std::string>> ReplayGainTags(const ReplayGainValues& v);

// R128_TRACK_GAIN / R128_ALBUM_GAIN of Opus files: the gain to -23 LUFS in
// Q7.8 fixed point (1/256 dB steps), held to the 16-bit range, as decimal
// text ("-1669").
std::string R128GainText(double loudness);

}  // namespace sonarvex

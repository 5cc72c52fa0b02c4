// ReplayGain 2.0: the loudness of a track measured as it is ripped (EBU
// R 128 through libebur128, linked), the gain that brings it to -18 LUFS,
// its sample peak, and the album's values from the tracks' measurements
// together. The tags say it the way players read it: REPLAYGAIN_TRACK_GAIN
// "-6.52 dB", REPLAYGAIN_TRACK_PEAK "0.988525" (sample peak, 1.0 = full
// scale) and the same for the album.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace sonarvex {

// The loudness ReplayGain 2.0 brings every track (or album) to, in LUFS.
inline constexpr double kReplayGainReference = -18.0;

// One track's measurement, fed with the PCM its file is made of.
class LoudnessMeter {
 public:
  LoudnessMeter(unsigned channels = 2, unsigned sampleRate = 44100);
  ~LoudnessMeter();
  LoudnessMeter(const LoudnessMeter&) = delete;
  LoudnessMeter& operator=(const LoudnessMeter&) = delete;

  // False when the library could not set up the measurement.
  bool Valid() const { return state_ != nullptr; }
  // Interleaved signed 16-bit little-endian samples; a partial frame at the
  // end is left out.
  void Add(const std::uint8_t* pcm, std::size_t bytes);
  // The gate-integrated loudness in LUFS; nothing for audio too short or too
  // quiet to measure (silence).
  std::optional<double> Loudness() const;
  // The largest absolute sample of any channel (1.0 = full scale).
  double Peak() const;

  // The library's state (ebur128_state*), for the album's measurement.
  void* State() const { return state_; }

 private:
  void* state_ = nullptr;
  unsigned channels_;
  std::vector<std::int16_t> samples_;
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

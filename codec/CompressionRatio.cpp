#include "codec/CompressionRatio.h"

#include <limits>

#include "codec/AcmMp3Writer.h"
#include "codec/LameWriter.h"

namespace sonarvex {

double LameCompressionRatio(const LameSettings& lame) {
  const int kbps = Mp3BitrateFor(lame.VbrEnabled ? lame.MaxBitrateIndex : lame.BitrateIndex);
  if (kbps <= 0) return std::numeric_limits<double>::infinity();
  // The bitrate is that of the whole stream, mono or not.
  return 176400.0 / (kbps * 1000.0 * 0.125);
}

double AcmCompressionRatio(const AudioFormatRecord& f) {
  if (f.AvgBytesPerSec == 0 || f.Channels == 0 || f.SampleRate == 0)
    return std::numeric_limits<double>::infinity();
  // The data rate already covers the channel count and the sample rate.
  return 176400.0 / f.AvgBytesPerSec;
}

double ExpectedCompressionRatio(const SettingsRecord& s, const AcmMp3Writer& acm) {
  if (s.UseLame != 0) return LameCompressionRatio(s.Lame);
  const AudioFormatRecord* f = acm.FormatAt(s.AcmFormatIndex);
  if (f == nullptr) return std::numeric_limits<double>::infinity();
  return AcmCompressionRatio(*f);
}

}  // namespace sonarvex

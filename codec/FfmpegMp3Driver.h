// The MP3 driver of the FFmpeg codec layer: MPEG Layer-3 formats at the CD
// rate and its halves (44100, 22050, 11025 Hz), stereo and mono, encoded by
// libavcodec's MP3 encoder with libswresample in front.
#pragma once

#include <map>
#include <tuple>

#include "codec/AcmMp3Driver.h"

namespace sonarvex {

class FfmpegMp3Driver : public AcmMp3Driver {
 public:
  // True when libavcodec offers an MP3 encoder.
  static bool EncoderPresent();

  std::string LongName() const override;
  std::vector<Mp3FormatDetails> Formats() override;
  bool CanConvert(const AudioFormatRecord& src, const Mp3FormatBytes& dst) override;
  std::unique_ptr<AcmEncodeStream> OpenStream(const AudioFormatRecord& src,
                                              const Mp3FormatBytes& dst) override;

 private:
  // Encoder set-ups already tried: (kbit/s, rate, channels) -> opened.
  std::map<std::tuple<int, std::uint32_t, int>, bool> tried_;
};

}  // namespace sonarvex

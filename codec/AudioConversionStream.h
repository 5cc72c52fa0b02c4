// The codec layer's decoding side: a stream from any WAV format that FFmpeg
// can decode (the format tags of the RIFF tag table: PCM of any width, float,
// A-law, mu-law, IMA and MS ADPCM, GSM, MPEG audio, ...) to 16-bit PCM at a
// chosen rate and channel count. Built on libavcodec and libswresample.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "codec/AudioFormat.h"

namespace sonarvex {

class AudioConversionStream {
 public:
  ~AudioConversionStream();
  AudioConversionStream(const AudioConversionStream&) = delete;
  AudioConversionStream& operator=(const AudioConversionStream&) = delete;

  // A stream from the format described by the fmt chunk bytes (at least the
  // 16 bytes of the basic header; extra codec bytes follow) to dst, which must
  // be 16-bit PCM. nullptr when the source cannot be decoded or dst is not
  // 16-bit PCM with 1..8 channels at 1000..384000 Hz.
  static std::unique_ptr<AudioConversionStream> Open(const std::uint8_t* fmt, std::size_t fmtSize,
                                                     const AudioFormatRecord& dst);

  // A PCM destination the codec proposes for the source: its own rate and
  // channel count as 16-bit PCM. False when the source cannot be decoded.
  static bool SuggestPcmFormat(const std::uint8_t* fmt, std::size_t fmtSize,
                               AudioFormatRecord* suggested);

  // The expected destination bytes for srcBytes of source data.
  std::uint32_t DestinationSize(std::uint32_t srcBytes) const;

  // Converts src; appends the PCM produced to out. used receives the source
  // bytes taken (whole codec blocks; the rest must be offered again). With end
  // set, everything is taken and the decoder and resampler are drained.
  // False on a decoding error.
  bool Convert(const std::uint8_t* src, std::uint32_t srcLen, bool end,
               std::vector<std::uint8_t>& out, std::uint32_t* used);

  const AudioFormatRecord& Destination() const { return dst_; }

 private:
  struct Impl;
  explicit AudioConversionStream(std::unique_ptr<Impl> impl, const AudioFormatRecord& dst);
  std::unique_ptr<Impl> impl_;
  AudioFormatRecord dst_;
};

}  // namespace sonarvex

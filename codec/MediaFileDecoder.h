// Decodes the first audio stream of a file libavformat can read (Ogg Vorbis,
// Opus, WMA, ...) to what a CD holds: 16-bit stereo 44100 Hz PCM,
// little-endian, the channels interleaved, resampled where the file has
// another rate or channel count. The PCM is pulled block by block, so a
// file is decoded as it is used, never all at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace sonarvex {

class MediaFileDecoder {
 public:
  MediaFileDecoder();
  ~MediaFileDecoder();
  MediaFileDecoder(const MediaFileDecoder&) = delete;
  MediaFileDecoder& operator=(const MediaFileDecoder&) = delete;

  // Opens a regular file and reads its headers (nothing is decoded yet).
  // False with the reason (Russian, naming the file) when it cannot be read,
  // has no audio stream that can be decoded, or does not say how long it is.
  bool Open(const std::string& path, std::string* why);
  void Close();
  bool IsOpen() const;

  // The length of the CD-format PCM from the file's own figures (the last
  // granule position of an Ogg stream, the duration of an ASF file), in
  // bytes (a multiple of 4).
  std::uint64_t PcmBytes() const { return pcmBytes_; }
  // The source's rate, channel count and codec name, as the file states them.
  int SampleRate() const { return sampleRate_; }
  int Channels() const { return channels_; }
  const std::string& CodecName() const { return codec_; }

  // Up to `want` bytes of PCM (whole sample frames) into buffer; *got 0
  // with true at the end of the stream. False with the reason after a
  // decoding error.
  bool Read(std::uint8_t* buffer, std::size_t want, std::size_t* got, std::string* why);

  struct State;

 private:
  bool Refill(std::string* why);

  std::unique_ptr<State> s_;
  std::string path_;
  std::uint64_t pcmBytes_ = 0;
  int sampleRate_ = 0, channels_ = 0;
  std::string codec_;
};

}  // namespace sonarvex

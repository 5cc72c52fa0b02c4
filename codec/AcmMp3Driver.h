// The codec layer's MP3 side, as the ACM MP3 writer sees it: a driver with a
// long name, the MPEG Layer-3 formats it offers (36-byte format records with
// their description texts), a query whether a stream from a PCM format to one
// of them can be opened, and the encoding stream itself.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "codec/AudioFormat.h"

namespace sonarvex {

// An MPEG Layer-3 format: the 18-byte wave format header (tag 85) followed by
// the 12 MPEG Layer-3 bytes (id, flags, block size, frames per block, codec
// delay), zero-padded to 36 bytes.
using Mp3FormatBytes = std::array<std::uint8_t, 36>;

// The header fields of a format record (extra size as stored: 12).
AudioFormatRecord Mp3FormatHeader(const Mp3FormatBytes& f);
Mp3FormatBytes MakeMp3Format(int kbps, std::uint32_t sampleRate, int channels);

struct Mp3FormatDetails {
  Mp3FormatBytes format;
  std::string description;  // "128 kBit/s, 44100 Hz, Stereo"
};

class AcmEncodeStream {
 public:
  virtual ~AcmEncodeStream() = default;
  // Destination bytes expected for srcBytes of source PCM.
  virtual std::uint32_t DestinationSize(std::uint32_t srcBytes) const = 0;
  // Source bytes whose output fills dstBytes.
  virtual std::uint32_t SourceSize(std::uint32_t dstBytes) const = 0;
  // Encodes one piece of PCM (start is set for the first piece); appends the
  // coded bytes to out. False on a codec error.
  virtual bool Convert(const std::uint8_t* pcm, std::uint32_t bytes, bool start,
                       std::vector<std::uint8_t>& out) = 0;
  // Encodes what the codec still holds.
  virtual bool Finish(std::vector<std::uint8_t>& out) = 0;
};

class AcmMp3Driver {
 public:
  virtual ~AcmMp3Driver() = default;
  virtual std::string LongName() const = 0;
  // Every MPEG Layer-3 format of the driver, in its own order.
  virtual std::vector<Mp3FormatDetails> Formats() = 0;
  // Whether a stream from src to dst could be opened (query only).
  virtual bool CanConvert(const AudioFormatRecord& src, const Mp3FormatBytes& dst) = 0;
  virtual std::unique_ptr<AcmEncodeStream> OpenStream(const AudioFormatRecord& src,
                                                      const Mp3FormatBytes& dst) = 0;
};

// The installed MP3 drivers: the FFmpeg one when libavcodec has an MP3
// encoder (libmp3lame), else none.
std::vector<std::unique_ptr<AcmMp3Driver>> InstalledMp3Drivers();

}  // namespace sonarvex

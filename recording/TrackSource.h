// The audio of one compilation file as the recording writes it: CD-format
// PCM (16-bit stereo 44100 Hz, little-endian) of a CD-audio WAV file, a
// FLAC file (one not in CD format decoded through FFmpeg), an MP3 file (decoded by libkelpra.so), or an Ogg Vorbis, Opus
// or WMA file (decoded through FFmpeg), resampled where the file has
// another rate. A file is decoded as the write reads it, never whole
// beforehand; its length is known from its headers before anything is
// decoded, and a source always gives exactly that many bytes (a decoder
// that ends a little early is followed by silence, one that gives more is
// cut), so that the disc's layout made from the lengths holds.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace sonarvex {

enum class TrackSourceKind { None, Wave, Flac, Mp3, Media };

// What a file is by its first bytes: RIFF/WAVE, FLAC (after an ID3v2 tag
// too), an MPEG audio frame (after an ID3v2 tag too), an Ogg or ASF
// container. None for anything else or a file that cannot be read.
TrackSourceKind SniffTrackSource(const std::string& path);

// Whether a file name has an extension of a file the compilation takes
// (.wav .flac .mp3 .ogg .oga .opus .wma, any case).
bool IsCompilationAudioName(const std::string& path);

class TrackSource {
 public:
  virtual ~TrackSource() = default;

  // Opens a file of any kind above and finds its length; nullptr with the
  // reason (Russian, naming the file) when it cannot be used. MP3 files
  // need libkelpra.so from decoderFolder.
  static std::unique_ptr<TrackSource> Open(const std::string& path, const std::string& decoderFolder,
                                           std::string* why);

  TrackSourceKind Kind() const { return kind_; }
  // CD-format bytes the file gives (a multiple of 4).
  std::uint64_t Bytes() const { return bytes_; }
  // The next bytes in order: want bytes unless the end is nearer (*got 0 at
  // the end). False after a read or decoding failure (Error says why).
  bool Read(std::uint8_t* buffer, std::uint32_t want, std::uint32_t* got);
  // Moves to a byte of the PCM (a WAV file seeks, a decoded file is decoded
  // from its start again up to there). False when that fails.
  bool SeekData(std::uint64_t byte);
  // Reads what is left of the file (the bytes up to Bytes() that were not
  // read, such as the bytes of a sector the disc leaves out) and lets the
  // decoder make its checks of the whole file: a FLAC file's decoded length
  // and the MD5 signature of its audio. False, with Error() naming the
  // file, when they fail; a file given back whole and checked is true.
  bool Finish();
  const std::string& Error() const { return error_; }

 protected:
  // The next PCM of the decoder; *got 0 with true at its end.
  virtual bool Pull(std::uint8_t* buffer, std::uint32_t want, std::uint32_t* got) = 0;
  // Back to the first byte.
  virtual bool Restart() = 0;
  // To a byte of the PCM: by default decoded again from the start.
  virtual bool SeekTo(std::uint64_t byte);
  // After the last byte: the decoder's own checks of the whole file (none
  // by default).
  virtual bool CheckEnd() { return true; }

  TrackSourceKind kind_ = TrackSourceKind::None;
  std::uint64_t bytes_ = 0;
  std::uint64_t position_ = 0;
  bool decoderEnded_ = false;
  std::string path_;
  std::string error_;
};

}  // namespace sonarvex

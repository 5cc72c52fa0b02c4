// WMA output: Windows Media Audio 2 in an ASF file, encoded by FFmpeg's
// wmav2 encoder and written by its ASF muxer into a file the writer creates
// itself (exclusively, every write, seek, sync and close checked). The
// track's tags become the file's ASF attributes (UTF-8).
//
// A build whose FFmpeg lacks the encoder or the muxer leaves the writer
// unavailable: every attempt to write WMA then fails with the message the
// program gives when the WMA encoder is missing.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "codec/AudioWriter.h"

namespace sonarvex {

// WMA bitrates (kbit/s) by index 0..8.
inline constexpr int kWmaBitrates[9] = {32, 40, 48, 64, 80, 96, 128, 160, 192};

inline constexpr const char* kWmaUnavailableText =
    "Кодирование в WMA невозможно т.к. кодер не установлен.";
inline constexpr const char* kWmaEncoderName = "wmav2";
// The encoder's messages when a file cannot be started.
inline constexpr const char* kWmaMemoryErrorText = "A memory error occured.";
inline constexpr const char* kWmaCodecErrorText =
    "The CODEC required to compress could not be opened.\n(Probably some problem with the "
    "pSetSettings call)";

// kbit/s for a WmaBitrateIndex; indexes outside the table give the nearest end.
int WmaBitrateFor(int index);

// The ASF attributes of a tag record, in the order they are stored: title,
// artist, album, comment, year, genre, track, encoded-by, as FFmpeg's
// metadata keys with UTF-8 values (empty texts included). Then the info keys
// that have a text, under the attribute names MusicBrainz's tagger uses
// (WM/AlbumArtist, WM/PartOfSet "n/N", WM/Publisher, WM/CatalogNo,
// WM/Barcode, WM/Media, WM/ISRC, WM/OriginalReleaseTime and ...Year,
// MusicBrainz/Album Id, .../Album Artist Id, .../Release Group Id, .../Disc
// Id, .../Album Release Country, .../Track Id (the recording), .../Release
// Track Id, .../Artist Id); several values stay in one attribute, joined by
// "; " (the ASF muxer keeps one attribute of a name). Empty when
// the record is null or its tags-on flag is 0.
std::vector<std::pair<std::string, std::string>> WmaAttributesFor(const TrackTags& tag);
std::vector<std::pair<std::string, std::string>> WmaAttributesFor(const TrackTagRecord* tag);

class WmaWriter : public AudioWriter {
 public:
  // encoderName: FFmpeg's name of the encoder (tests name a missing one).
  explicit WmaWriter(const std::string& encoderName = kWmaEncoderName);
  ~WmaWriter() override;
  WmaWriter(const WmaWriter&) = delete;
  WmaWriter& operator=(const WmaWriter&) = delete;

  // 0 when the encoder is usable.
  std::uint32_t Unavailable() const;
  bool Available() const override { return Unavailable() == 0; }
  // Takes WmaBitrateIndex and WmaDrm (the DRM switch is accepted; the files
  // are written without protection).
  void Configure(const SettingsRecord& s) override {
    bitrateIndex_ = s.WmaBitrateIndex;
    drm_ = s.WmaDrm != 0;
  }
  void SetBitrateIndex(int index) { bitrateIndex_ = index; }
  int BitrateIndex() const { return bitrateIndex_; }

  // The source format (SetSourceFormat) must be 16-bit PCM, 1 or 2 channels,
  // at most 48000 Hz.
  WriteResult Open(const TrackTagRecord* tag, const std::string& fileName) override;
  WriteResult Write(const void* pcm, std::size_t byteCount) override;
  WriteResult Close() override;
  void Abort() override;
  bool IsOpen() const override { return stream_ != nullptr; }
  // Cancelled: the output is deleted.
  WriteResult ConvertFile(const std::string& source, const std::string& output,
                          const TrackTagRecord* tag) override;

  struct Stream;  // the encoder, the muxer and the file

 private:
  WriteResult EncodeFrames(bool flush);
  WriteResult Fail(WriteResult r);

  std::unique_ptr<Stream> stream_;
  std::string encoderName_;
  mutable int unavailable_ = -1;  // not asked yet
  int bitrateIndex_ = 0;
  bool drm_ = false;
};

}  // namespace sonarvex

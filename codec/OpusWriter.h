// Ogg Opus output through libopusenc (libopusenc.so.0, loaded at run time:
// without it Opus output alone is unavailable). The library takes the PCM at
// its own rate (CD audio is 44100 Hz) and resamples it to the 48 kHz every
// Opus stream runs at. The bitrate (kbit/s) is an option of the format kept
// in the INI store; the tags are Vorbis comments in the OpusTags header,
// with the front cover as METADATA_BLOCK_PICTURE. The header's output gain
// stays 0: loudness goes into R128_TRACK_GAIN / R128_ALBUM_GAIN comments,
// set after the rip.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "codec/AudioFormat.h"
#include "codec/AudioWriter.h"
#include "codec/FormatOptions.h"
#include "records/TrackTagRecord.h"

namespace sonarvex {

inline constexpr const char* kOpusEncLibraryName = "libopusenc.so.0";

// Bitrates (kbit/s) the encoder takes; 160 unless the user chose another.
inline constexpr int kOpusMinKbits = 6;
inline constexpr int kOpusMaxKbits = 510;
inline constexpr int kOpusDefaultKbits = 160;
// Where the bitrate is kept in the settings folder's INI store.
inline constexpr const char* kOpusIniSection = "Opus";
inline constexpr const char* kOpusIniBitrateKey = "Bitrate";

// The bitrate as an option of the format (FormatOptions carries its value).
inline constexpr FormatOption kOpusBitrateOption{kOpusIniSection, kOpusIniBitrateKey,
                                                 kOpusMinKbits, kOpusMaxKbits, kOpusDefaultKbits};

inline constexpr const char* kOpusMissingText =
    "Кодирование в Opus невозможно т.к. библиотека libopusenc не установлена.";

// Why a bitrate cannot be used ("Opus пишется с битрейтом от 6 до 510
// кбит/с."); nothing when it can.
std::optional<std::string> OpusBitrateProblem(int kbits);

class OpusWriter : public AudioWriter {
 public:
  explicit OpusWriter(const std::string& library = kOpusEncLibraryName);
  ~OpusWriter() override;
  OpusWriter(const OpusWriter&) = delete;
  OpusWriter& operator=(const OpusWriter&) = delete;

  bool Available() const override { return loaded_; }
  // The settings record has no Opus fields; the bitrate comes from the
  // options (or SetBitrate).
  void Configure(const SettingsRecord&) override {}
  void SetOptions(const FormatOptions& options) override {
    SetBitrate(options.Value(kOpusBitrateOption));
  }
  // kbit/s, held to 6..510.
  void SetBitrate(int kbits) { kbits_ = kOpusBitrateOption.Clamped(kbits); }
  int Bitrate() const { return kbits_; }

  WriteResult Open(const TrackTagRecord* tag, const std::string& fileName) override;
  WriteResult Write(const void* pcm, std::size_t byteCount) override;
  // Encodes what the library still holds, ends the stream and finishes the file.
  WriteResult Close() override;
  void Abort() override;
  // Cancelled: the output is deleted.
  WriteResult ConvertFile(const std::string& source, const std::string& output,
                          const TrackTagRecord* tag) override;
  bool IsOpen() const override { return open_; }

  struct Library;  // the loaded entry points
  struct Stream;   // the write callback's view of the file

 private:
  WriteResult Fail(WriteResult r);
  WriteResult EncoderFailure(const char* what, int error);
  void Release();

  std::unique_ptr<Library> lib_;
  std::unique_ptr<Stream> stream_;
  void* encoder_ = nullptr;
  std::vector<std::int16_t> samples_;
  int kbits_ = kOpusDefaultKbits;
  bool open_ = false;
  bool loaded_ = false;
  WriteResult error_;
  std::string fileName_;
};

}  // namespace sonarvex

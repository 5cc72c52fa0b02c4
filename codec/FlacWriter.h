// Lossless FLAC output through libFLAC (libFLAC.so.12, loaded at run time:
// without it FLAC output alone is unavailable). Unless [FLAC] Verify is 0
// the encoder runs with its verify mode on, so every frame is decoded again
// and compared with the input before the file counts as written. Tags are
// Vorbis comments in UTF-8.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "codec/AudioFormat.h"
#include "codec/AudioWriter.h"
#include "codec/FormatOptions.h"
#include "records/TrackTagRecord.h"

namespace sonarvex {

inline constexpr const char* kFlacLibraryName = "libFLAC.so.12";

// Compression levels the encoder knows; 5 unless the user chose another.
inline constexpr int kFlacMinLevel = 0;
inline constexpr int kFlacMaxLevel = 8;
inline constexpr int kFlacDefaultLevel = 5;
// Where the level is kept in the settings folder's INI store.
inline constexpr const char* kFlacIniSection = "FLAC";
inline constexpr const char* kFlacIniLevelKey = "Level";

// The level as an option of the format (FormatOptions carries its value).
inline constexpr FormatOption kFlacLevelOption{kFlacIniSection, kFlacIniLevelKey, kFlacMinLevel,
                                               kFlacMaxLevel, kFlacDefaultLevel};

// Whether the encoder decodes every frame again and compares it with the
// input ([FLAC] Verify, 1 unless the user turned it off): about half of
// the encoder's time, for a check of libFLAC itself.
inline constexpr const char* kFlacIniVerifyKey = "Verify";
inline constexpr FormatOption kFlacVerifyOption{kFlacIniSection, kFlacIniVerifyKey, 0, 1, 1};

// The tags of a track that its tag record has no field for.
using FlacDiscTags = DiscTags;

// The Vorbis comments of a FLAC file for a track (nothing when its tags are off).
std::vector<std::pair<std::string, std::string>> FlacCommentsFor(const TrackTags& tag,
                                                                 const FlacDiscTags& disc);

class FlacWriter : public AudioWriter {
 public:
  explicit FlacWriter(const std::string& library = kFlacLibraryName);
  ~FlacWriter() override;
  FlacWriter(const FlacWriter&) = delete;
  FlacWriter& operator=(const FlacWriter&) = delete;

  bool Available() const override { return loaded_; }
  // The settings record has no FLAC fields; the level and the disc's tags
  // come from the options (or SetLevel and SetDiscTags).
  void Configure(const SettingsRecord&) override {}
  void SetOptions(const FormatOptions& options) override {
    SetLevel(options.Value(kFlacLevelOption));
    SetVerify(options.Value(kFlacVerifyOption) != 0);
    SetDiscTags(options.disc);
  }
  // Clamped to 0..8.
  void SetLevel(int level);
  int Level() const { return level_; }
  // The encoder's verify mode, from the next Open or ConvertFile on.
  void SetVerify(bool on) { verify_ = on; }
  bool Verify() const { return verify_; }
  // Applies from the next Open or ConvertFile until changed.
  void SetDiscTags(FlacDiscTags tags) { disc_ = std::move(tags); }

  WriteResult Open(const TrackTagRecord* tag, const std::string& fileName) override;
  WriteResult Write(const void* pcm, std::size_t byteCount) override;
  // Flushes the last frames, lets the encoder rewrite the stream header with
  // the sample count and MD5 signature, and finishes the file.
  WriteResult Close() override;
  void Abort() override;
  WriteResult ConvertFile(const std::string& source, const std::string& output,
                          const TrackTagRecord* tag) override;
  bool IsOpen() const override { return open_; }

  // The number of samples per channel the next Open announces to the
  // encoder (0: unknown, the header is completed at Close).
  void SetExpectedFrames(std::uint64_t frames) { expectedFrames_ = frames; }

  struct Library;
  struct Stream;  // the callbacks' view of the file

 private:
  WriteResult Fail(WriteResult r);
  WriteResult EncoderFailure(const std::string& what);
  void Release();

  std::unique_ptr<Library> lib_;
  std::unique_ptr<Stream> stream_;
  void* encoder_ = nullptr;
  std::vector<void*> metadata_;
  std::vector<std::int32_t> samples_;
  FlacDiscTags disc_;
  std::uint64_t expectedFrames_ = 0;
  int level_ = kFlacDefaultLevel;
  bool verify_ = true;
  bool open_ = false;
  bool loaded_ = false;
  WriteResult error_;
  std::string fileName_;
};

}  // namespace sonarvex

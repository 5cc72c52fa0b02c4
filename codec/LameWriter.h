// MP3 output through the LAME encoder library (libmp3lame.so.0, loaded at run
// time), driven with the program's LAME settings.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "records/SettingsRecord.h"
#include "codec/AudioFormat.h"
#include "codec/AudioWriter.h"
#include "records/TrackTagRecord.h"
#include "platform/Dialogs.h"

namespace sonarvex {

inline constexpr const char* kLameLibraryName = "libmp3lame.so.0";

// MPEG-1 Layer III bitrates (kbit/s) by bitrate index 0..14.
inline constexpr int kMp3Bitrates[15] = {0,   32,  40,  48,  56,  64,  80, 96,
                                         112, 128, 160, 192, 224, 256, 320};

// kbit/s for a BitrateIndex/MaxBitrateIndex value: the table for 0..14, the
// value itself from 16 on, 0 (the encoder's default) for anything else.
int Mp3BitrateFor(std::int32_t index);

// The encoder parameters derived from the settings and the source.
struct LameConfig {
  std::uint32_t SampleRate = 44100;
  std::uint32_t ReSampleRate = 0;
  int Mode = 1;  // 0 stereo, 1 joint stereo, 2 dual channel, 3 mono
  std::uint32_t Bitrate = 0;
  int Preset = 0;
  int MpegVersion = 1;
  bool WriteVbrHeader = true;
  std::uint32_t MaxBitrate = 0;
  bool Original = false;
  bool EnableVbr = false;
  int VbrQuality = 0;
};

class LameWriter : public AudioWriter {
 public:
  // Loads the library; a missing library or missing functions are reported
  // once through dialogs, and the writer then produces nothing.
  LameWriter(Dialogs& dialogs, const std::string& libraryName = kLameLibraryName);
  ~LameWriter() override;
  LameWriter(const LameWriter&) = delete;
  LameWriter& operator=(const LameWriter&) = delete;

  bool Available() const override;

  static LameConfig BuildConfig(const LameSettings& s, int sourceChannels);

  // Takes LameSettings.
  void Configure(const SettingsRecord& settings) override { settings_ = settings.Lame; }
  void Configure(const LameSettings& settings) { settings_ = settings; }

  // With the raw tag set, its bytes start the file; otherwise the ID3v2 tag
  // built from tag (none for nullptr).
  WriteResult Open(const TrackTagRecord* tag, const std::string& fileName) override;
  WriteResult Write(const void* pcm, std::size_t byteCount) override;
  // The encoder's last frames, then the VBR/info header over the first frame.
  WriteResult Close() override;
  void Abort() override;
  bool IsOpen() const override { return active_; }
  // Cancelled: the file is closed and kept, as far as it got.
  WriteResult ConvertFile(const std::string& source, const std::string& output,
                          const TrackTagRecord* tag) override;
  void SetRawTag(bool on, const void* bytes, std::uint32_t size) override {
    rawTag_ = on;
    rawTagBytes_ = bytes;
    rawTagSize_ = bytes != nullptr ? size : 0;
  }

  // "Lame MP3 Encoder 3.100"; empty when the library is not loaded.
  std::string VersionText() const;

  // Bytes per chunk of the open stream (samples per chunk x 2).
  std::uint32_t BlockBytes() const { return samplesPerChunk_ * 2; }
  bool Downmixing() const { return downmix_; }
  // Parameters of the current (or last) stream.
  const LameConfig& Config() const { return config_; }

 struct Library;  // the loaded entry points

 private:
  WriteResult Fail(WriteResult r);
  void Release();

  std::unique_ptr<Library> lib_;
  Dialogs& dialogs_;
  bool loaded_ = false;
  LameSettings settings_{};

  std::uint32_t outputBufferSize_ = 0;
  std::uint32_t samplesPerChunk_ = 0;
  void* stream_ = nullptr;
  bool downmix_ = false;
  std::vector<unsigned char> output_;
  std::vector<std::int16_t> scratch_;
  OutputFile file_;
  bool active_ = false;
  WriteResult error_;
  std::uint64_t audioStart_ = 0;
  bool rawTag_ = false;
  const void* rawTagBytes_ = nullptr;
  std::uint32_t rawTagSize_ = 0;
  LameConfig config_;
};

}  // namespace sonarvex

// MP3 output through the LAME encoder library (libmp3lame.so.0, loaded at run
// time), driven with the program's LAME settings.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "records/SettingsRecord.h"
#include "codec/AudioFormat.h"
#include "codec/ProgressCallback.h"
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

class LameWriter {
 public:
  // Loads the library; a missing library or missing functions are reported
  // once through dialogs, and the writer then produces nothing.
  LameWriter(Dialogs& dialogs, const std::string& libraryName = kLameLibraryName);
  ~LameWriter();
  LameWriter(const LameWriter&) = delete;
  LameWriter& operator=(const LameWriter&) = delete;

  bool Available() const;

  static LameConfig BuildConfig(const LameSettings& s, int sourceChannels);

  // tag: a TrackTagRecord, or with the raw-tag flag the raw bytes to copy to
  // the start of the file; nullptr for no tag. Returns the bytes per chunk
  // (samples per chunk x 2), 0 on failure.
  std::uint32_t Open(const void* tag, const std::string& fileName, const LameSettings& s);
  void Write(const void* pcm, std::size_t byteCount);
  void Close(const std::string& fileName);
  void ConvertFile(const std::string& source, const std::string& output, const TrackTagRecord* tag,
                   const LameSettings& s);

  // "Lame MP3 Encoder 3.100"; empty when the library is not loaded.
  std::string VersionText() const;

  // Handed over by EncoderSet.
  void SetRawTag(bool on, std::uint32_t size) { rawTag_ = on; rawTagSize_ = size; }
  void SetSourceFormat(const AudioFormatRecord& f) { source_ = f; }
  const AudioFormatRecord& SourceFormat() const { return source_; }
  void SetProgress(ProgressCallback cb) { progress_ = std::move(cb); }
  void SetNormalize(bool on) { normalize_ = on; }
  void SetGain(double g) { gain_ = g; }

  bool IsOpen() const { return file_ != nullptr; }
  bool Downmixing() const { return downmix_; }
  // Parameters of the current (or last) stream.
  const LameConfig& Config() const { return config_; }

 struct Library;  // the loaded entry points

 private:
  std::unique_ptr<Library> lib_;
  Dialogs& dialogs_;

  std::uint32_t outputBufferSize_ = 0;
  std::uint32_t samplesPerChunk_ = 0;
  void* stream_ = nullptr;
  bool downmix_ = false;
  std::vector<unsigned char> output_;
  std::vector<std::int16_t> scratch_;
  std::FILE* file_ = nullptr;
  long audioStart_ = 0;
  bool normalize_ = false;
  bool rawTag_ = false;
  std::uint32_t rawTagSize_ = 0;
  AudioFormatRecord source_ = CdAudioFormat;
  ProgressCallback progress_;
  double gain_ = 1.0;
  LameConfig config_;
};

}  // namespace sonarvex

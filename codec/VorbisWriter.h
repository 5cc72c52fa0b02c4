// Ogg Vorbis output through the reference libraries (libogg.so.0,
// libvorbis.so.0, libvorbisenc.so.2, loaded at run time), in quality mode or
// with managed bitrates, with the track's tags as Vorbis comments.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "codec/AudioFormat.h"
#include "codec/AudioWriter.h"
#include "records/TrackTagRecord.h"

namespace sonarvex {

inline constexpr const char* kOggLibraryName = "libogg.so.0";
inline constexpr const char* kVorbisLibraryName = "libvorbis.so.0";
inline constexpr const char* kVorbisEncLibraryName = "libvorbisenc.so.2";

// Managed bitrates (kbit/s) by index 0..10.
inline constexpr int kOggBitrates[11] = {350, 256, 192, 160, 128, 96, 80, 64, 48, 40, 32};

// kbit/s for an index; indexes outside the table give the nearest end.
int OggBitrateFor(std::int32_t index);

class VorbisWriter : public AudioWriter {
 public:
  // Loads the three libraries (quietly: without them Ogg output produces
  // nothing) and masks the floating-point exceptions for the process.
  VorbisWriter(const std::string& oggLibrary = kOggLibraryName,
               const std::string& vorbisLibrary = kVorbisLibraryName,
               const std::string& vorbisEncLibrary = kVorbisEncLibraryName);
  ~VorbisWriter() override;
  VorbisWriter(const VorbisWriter&) = delete;
  VorbisWriter& operator=(const VorbisWriter&) = delete;

  bool Available() const override { return loaded_; }

  // Takes the five Ogg settings.
  void Configure(const SettingsRecord& s) override {
    SetBitrates(s.OggMinBitrateIndex, s.OggNominalBitrateIndex, s.OggMaxBitrateIndex);
    SetQuality(s.OggQuality, s.OggUseQuality != 0);
  }
  void SetBitrates(std::int32_t minIndex, std::int32_t nominalIndex, std::int32_t maxIndex) {
    minIndex_ = minIndex;
    nominalIndex_ = nominalIndex;
    maxIndex_ = maxIndex;
  }
  void SetQuality(std::int32_t thousandths, bool qualityMode) {
    quality_ = static_cast<float>(thousandths);
    qualityMode_ = qualityMode;
  }

  // The quality given to the encoder for a setting in thousandths: -0.1..1.0.
  static float EncoderQuality(float thousandths);

  WriteResult Open(const TrackTagRecord* tag, const std::string& fileName) override;
  WriteResult Write(const void* pcm, std::size_t byteCount) override;
  // Ends the stream (its last page carries the end-of-stream mark).
  WriteResult Close() override;
  void Abort() override;
  // Cancelled: the output is deleted.
  WriteResult ConvertFile(const std::string& source, const std::string& output,
                          const TrackTagRecord* tag) override;

  bool IsOpen() const override { return open_; }
  std::uint32_t BlockSize() const { return blockSize_; }

  struct Library;  // the loaded entry points
  struct State;    // the libraries' state records

 private:
  WriteResult WriteFrames(const std::uint8_t* pcm, std::size_t frames);
  WriteResult WritePage();
  void ClearState();

  std::unique_ptr<Library> lib_;
  std::unique_ptr<State> st_;
  bool endOfStream_ = false;
  bool open_ = false;
  bool stateLive_ = false;
  WriteResult error_;
  OutputFile file_;
  std::uint32_t blockSize_ = 2048;
  std::int32_t minIndex_ = 10, nominalIndex_ = 4, maxIndex_ = 0;
  float quality_ = 400;
  bool qualityMode_ = false;
  bool loaded_ = false;
};

}  // namespace sonarvex

// Plain WAV output behind the writer interface: the 48-byte header of
// CreateWavFile, the samples, and the sizes patched at the end as
// FinishWavFile patches them. Used for WAV rips and the temporary WAV file.
#pragma once

#include "codec/AudioWriter.h"

namespace sonarvex {

class WavWriter : public AudioWriter {
 public:
  ~WavWriter() override;

  bool Available() const override { return true; }
  void Configure(const SettingsRecord&) override {}
  // Tags are not written to WAV files.
  WriteResult Open(const TrackTagRecord* tag, const std::string& outputName) override;
  WriteResult Write(const void* pcm, std::size_t byteCount) override;
  WriteResult Close() override;
  void Abort() override;
  bool IsOpen() const override { return file_.IsOpen(); }
  // Copies the source's samples (with the normalisation gain) into a new
  // file in the source's format.
  WriteResult ConvertFile(const std::string& sourceWav, const std::string& outputName,
                          const TrackTagRecord* tag) override;

  // Whether Close syncs the file to disk (a temporary file that is read back
  // at once and deleted need not be).
  void SetSync(bool on) { sync_ = on; }
  std::uint64_t DataBytes() const { return dataBytes_; }

 private:
  OutputFile file_;
  std::uint64_t dataBytes_ = 0;
  bool sync_ = true;
};

}  // namespace sonarvex

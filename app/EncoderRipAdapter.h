// The ripping loop's encoder: EncoderSet for compressed output and the WAV
// file operations for WAV output and temporary files.
#pragma once

#include <functional>

#include "app/RipPipeline.h"

namespace sonarvex {

class EncoderSet;

class EncoderRipAdapter : public RipEncoder {
 public:
  explicit EncoderRipAdapter(EncoderSet& encoder)
      : get_([&encoder]() -> EncoderSet& { return encoder; }) {}
  // The encoder is made on first use: a WAV rip never needs it.
  explicit EncoderRipAdapter(std::function<EncoderSet&()> get) : get_(std::move(get)) {}
  ~EncoderRipAdapter() override;

  bool WmaAvailable() override;
  bool VorbisAvailable() override;
  void Configure(const SettingsRecord& settings,
                 std::function<void(std::uint64_t, std::uint64_t, int*, int)> progress) override;
  bool Open(const TrackTagRecord& tag, const std::string& outPath) override;
  bool Write(const std::uint8_t* data, std::size_t bytes) override;
  void Close() override;
  bool ConvertFile(const std::string& wavPath, const std::string& outPath,
                   const TrackTagRecord& tag, int peak) override;
  bool CreateWav(const std::string& path) override;
  bool WriteWav(const std::uint8_t* data, std::size_t bytes) override;
  bool FinishWav(std::uint64_t dataBytes) override;
  void FindPeak(const std::uint8_t* data, std::size_t bytes, int& peak) override;

 private:
  EncoderSet& Encoder();
  void InstallProgress();

  std::function<EncoderSet&()> get_;
  EncoderSet* encoder_ = nullptr;
  std::function<void(std::uint64_t, std::uint64_t, int*, int)> progress_;
  bool cancelled_ = false;
  int wav_ = -1;
  std::string openPath_;
};

}  // namespace sonarvex

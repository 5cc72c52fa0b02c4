// The ripping loop's encoder: EncoderSet for compressed output and the WAV
// writer for WAV output and temporary files.
#pragma once

#include <functional>
#include <memory>

#include "rip/RipPipeline.h"
#include "codec/WavWriter.h"

namespace sonarvex {

class Dialogs;
class EncoderSet;

class EncoderRipAdapter : public RipEncoder {
 public:
  explicit EncoderRipAdapter(EncoderSet& encoder)
      : get_([&encoder]() -> EncoderSet& { return encoder; }) {}
  // The encoder is made on first use: a WAV rip never needs it.
  explicit EncoderRipAdapter(std::function<EncoderSet&()> get) : get_(std::move(get)) {}
  ~EncoderRipAdapter() override;

  bool Available(OutputKind kind) override;
  void Configure(const SettingsRecord& settings, OutputKind kind, const FormatOptions& options,
                 std::function<void(std::uint64_t, std::uint64_t, int*, int)> progress) override;
  WriteResult Open(const TrackTags& tag, const std::string& outPath) override;
  WriteResult Write(const std::uint8_t* data, std::size_t bytes) override;
  WriteResult Close() override;
  void Abort() override;
  WriteResult ConvertFile(const std::string& wavPath, const std::string& outPath,
                          const TrackTags& tag, int peak) override;
  WriteResult CreateWav(const std::string& path, bool durable) override;
  WriteResult WriteWav(const std::uint8_t* data, std::size_t bytes) override;
  WriteResult FinishWav(std::uint64_t dataBytes) override;
  void AbortWav() override;
  void FindPeak(const std::uint8_t* data, std::size_t bytes, int& peak) override;
  double ExpectedRatio(const SettingsRecord& settings, OutputKind kind,
                       const FormatOptions& options) override;

 private:
  EncoderSet& Encoder();
  void InstallProgress();

  std::function<EncoderSet&()> get_;
  EncoderSet* encoder_ = nullptr;
  std::function<void(std::uint64_t, std::uint64_t, int*, int)> progress_;
  OutputKind kind_ = OutputKind::Mp3;
  FormatOptions options_;
  bool cancelled_ = false;
  WavWriter wav_;
};

namespace detail {
// The settings and writers an OwnEncoderRipAdapter owns; a base of it so
// that they outlive the adapter part, which aborts what is still open.
struct OwnEncoderParts {
  OwnEncoderParts(const SettingsRecord& settings, Dialogs& dialogs);
  ~OwnEncoderParts();
  SettingsRecord settings;
  std::unique_ptr<EncoderSet> set;
};
}  // namespace detail

// An encoder with writers of its own on its own copy of the settings: each
// worker of the ripping loop's encoder pool compresses with one, so that no
// writer is shared between threads. Made on the grab's thread.
class OwnEncoderRipAdapter : private detail::OwnEncoderParts, public EncoderRipAdapter {
 public:
  OwnEncoderRipAdapter(const SettingsRecord& settings, Dialogs& dialogs);
};

}  // namespace sonarvex

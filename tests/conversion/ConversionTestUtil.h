// Helpers for the conversion tests: a recording host, source files made
// with lame and ffmpeg, and an engine set up on a temporary program folder
// that uses the build's libkelpra.so.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "codec/EncoderSet.h"
#include "conversion/ConvertEngine.h"
#include "platform/ScriptedDialogs.h"
#include "tests/codec/CodecTestUtil.h"

namespace sonarvex::test {

// Records what the engine tells its window.
class RecordingHost : public ConvertHost {
 public:
  void RowsReset() override { ++resets; }
  void RowChanged(int row) override { changed.push_back(row); }
  void CurrentRow(int row) override { current.push_back(row); }
  void CaptionChanged(const std::string& c) override { captions.push_back(c); }
  bool Pump() override {
    ++pumps;
    if (onPump) onPump();
    return alive;
  }
  void Pause(int ms) override {
    pauses.push_back(ms);
    ConvertHost::Pause(ms);
  }
  void FileDone(const std::string& s, const std::string& o) override { done.push_back({s, o}); }
  void FileFailed(const std::string& s, const std::string& why) override {
    failed.push_back({s, why});
  }
  void FileSkipped(const std::string& s, const std::string& why) override {
    skipped.push_back({s, why});
  }

  int resets = 0, pumps = 0;
  bool alive = true;
  std::function<void()> onPump;
  std::vector<int> changed, current, pauses;
  std::vector<std::string> captions;
  std::vector<std::pair<std::string, std::string>> done, failed, skipped;
};

bool ToolPresent(const std::string& name);

// A WAV of the program's own layout with a stereo tone; returns its samples.
std::vector<std::int16_t> MakeWav(const std::string& path, double seconds, int rate = 44100,
                                  int channels = 2);
// lame from a WAV made here; extra options such as "-b 192 --tt Title".
void MakeMp3(const std::string& path, double seconds, const std::string& options,
             int rate = 44100);
// flac from a WAV made here (the tone of MakeWav); options such as
// "-T TITLE=Song --picture=3||||cover.png". Returns the samples.
std::vector<std::int16_t> MakeFlac(const std::string& path, double seconds,
                                   const std::string& options = "", int rate = 44100,
                                   int channels = 2);
// A small PNG picture made by ffmpeg.
void MakePng(const std::string& path);
// ffmpeg from a sine.
void MakeWma(const std::string& path, double seconds, int rate = 44100,
             const std::string& extra = "");
// An AVI with a test picture and, unless audioCodec is empty, a sine track.
void MakeAvi(const std::string& path, double seconds, const std::string& audioCodec);

// A 440 Hz sine of `seconds` made by ffmpeg as a WAV with the given codec
// (pcm_s16le, pcm_u8, pcm_s24le...), rate and channels. bitexact: without
// FFmpeg's LIST chunk.
void MakeSineWav(const std::string& path, double seconds, int rate, int channels,
                 const std::string& codec, bool bitexact = true);

// The length and the pitch of an audio file, decoded by ffmpeg to 44100 Hz
// mono: seconds, and the frequency from the rising zero crossings.
struct ToneMeasure {
  double seconds = 0;
  double hz = 0;
};
ToneMeasure MeasureTone(const std::string& path);

// An engine on a fresh folder, with the build's libkelpra.so.
struct EngineRig {
  EngineRig();
  ~EngineRig();
  ConvertEngine& Engine() { return *engine; }

  TempDir dir;
  SettingsRecord settings{};
  ScriptedDialogs dialogs;
  RecordingHost host;
  std::unique_ptr<EncoderSet> encoders;
  std::unique_ptr<ConvertEngine> engine;
  ConvertEngineContext context;
};

}  // namespace sonarvex::test

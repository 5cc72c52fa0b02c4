// The exported ConvertMP3ToWAV: the options record it fills, the WAV file,
// the callbacks and the failure outcomes; and decoding of broken input
// without a crash, a hang or a read outside the file (run under ASan too).
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <random>

#include "DecoderTestUtil.h"
#include "PcmCompare.h"

namespace kelpra_test {
namespace {

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
  return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
         uint32_t(b[at + 3]) << 24;
}

// An MPEG stream made with lame from the test signal, or "" without lame.
std::string Encode(const TempDir& tmp, const std::string& name, int rate, int channels,
                   const std::string& args, double seconds = 1.0) {
  if (!HaveProgram("lame")) return {};
  WriteTestWav(tmp / (name + ".wav"), rate, channels, seconds);
  const std::string out = tmp / (name + ".mp3");
  if (RunCommand("lame --quiet " + args + " '" + (tmp / (name + ".wav")) + "' '" + out +
                 "' >/dev/null 2>&1") != 0)
    return {};
  return out;
}

// Frame with an MPEG-1 Layer III header (44100 Hz, given bitrate index) and
// zero side information.
std::vector<uint8_t> SilentFrame(int bitrateIndex, int padding) {
  static const int kbps[] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
  const int len = 144 * kbps[bitrateIndex] * 1000 / 44100 + padding;
  std::vector<uint8_t> f(size_t(len), 0);
  f[0] = 0xFF;
  f[1] = 0xFB;
  f[2] = uint8_t(bitrateIndex << 4 | padding << 1);
  f[3] = 0x00;
  return f;
}

struct CallbackLog {
  int progress = 0;
  int events[4] = {0, 0, 0, 0};
  uint8_t answerFirst = 1;
  bool cancelOnFirstProgress = false;
  uint8_t* status = nullptr;
  std::vector<uint32_t> batchBytes;
  std::string message, caption;
  uint32_t messageType = 0;
};
CallbackLog* gLog = nullptr;

void OnProgress(uint32_t, uint32_t, uint8_t*, uint32_t bytes) {
  ++gLog->progress;
  gLog->batchBytes.push_back(bytes);
  if (gLog->cancelOnFirstProgress && gLog->status) *gLog->status = MP3_STATUS_CANCEL;
}

uint8_t OnEvent(MP3_DECODER_OPTIONS*, int32_t event, intptr_t, intptr_t) {
  if (event >= 1 && event <= 3) ++gLog->events[event];
  return event == MP3_EVENT_FIRST_FRAME ? gLog->answerFirst : 1;
}

struct Owner : MP3_DECODER_OWNER {
  CallbackLog* log;
};

void OnMessage(MP3_DECODER_OWNER* owner, const char* text, const char* caption, uint32_t type) {
  CallbackLog* log = static_cast<Owner*>(owner)->log;
  log->message = text;
  log->caption = caption;
  log->messageType = type;
}

class ExportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    convert_ = LoadConvert();
    ASSERT_NE(convert_, nullptr) << "libkelpra.so not loadable";
    gLog = &log_;
    owner_.MessageBox = OnMessage;
    owner_.log = &log_;
  }
  // Runs the export with the logging callbacks.
  void Run(const std::string& in, const std::string& out, bool writeWav) {
    std::memset(&o_, 0, sizeof o_);
    o_.inputFile = in.c_str();
    o_.outputFile = out.c_str();
    o_.writeWav = writeWav ? 1 : 0;
    o_.progressCallback = OnProgress;
    o_.eventCallback = OnEvent;
    o_.status = &status_;
    o_.ownerWindow = &owner_;
    o_.reserved3 = -1;
    log_.status = &status_;
    convert_(&o_);
  }

  MP3_CONVERT_FUNCTION convert_ = nullptr;
  MP3_DECODER_OPTIONS o_{};
  uint8_t status_ = 0;
  CallbackLog log_;
  Owner owner_{};
  TempDir tmp_;
};

TEST_F(ExportTest, MonoLayer3ReportsFormatAndWritesConsistentWav) {
  const std::string mp3 = Encode(tmp_, "mono", 44100, 1, "-b 128 -m m");
  if (mp3.empty()) GTEST_SKIP() << "lame not installed";
  Run(mp3, tmp_ / "mono.wav", true);
  EXPECT_EQ(status_, 0);
  EXPECT_EQ(o_.bitrate, 128);
  EXPECT_EQ(o_.sampleRate, 44100);
  EXPECT_EQ(o_.waveFormat.formatTag, 1);
  EXPECT_EQ(o_.waveFormat.channels, 1);
  EXPECT_EQ(o_.waveFormat.blockAlign, 2);
  EXPECT_EQ(o_.waveFormat.avgBytesPerSec, 88200u);
  EXPECT_EQ(o_.waveFormat.bitsPerSample, 16);
  EXPECT_EQ(o_.waveFormat.extraSize, 0);
  EXPECT_EQ(o_.firstFrameOffset, 0);
  ASSERT_FALSE(log_.batchBytes.empty());
  EXPECT_EQ(log_.batchBytes[0], 10u * 2304u);  // ten frames of 1152 mono samples
  const auto wav = ReadFileBytes(tmp_ / "mono.wav");
  ASSERT_GE(wav.size(), 46u);
  EXPECT_EQ(std::memcmp(wav.data(), "RIFF", 4), 0);
  EXPECT_EQ(std::memcmp(wav.data() + 8, "WAVEfmt ", 8), 0);
  EXPECT_EQ(Le32(wav, 16), 18u);
  EXPECT_EQ(std::memcmp(wav.data() + 20, &o_.waveFormat, 18), 0);
  EXPECT_EQ(std::memcmp(wav.data() + 38, "data", 4), 0);
  const uint32_t n = Le32(wav, 42);
  EXPECT_EQ(wav.size(), size_t(n) + 46);
  EXPECT_EQ(Le32(wav, 4), n + 38);
  EXPECT_EQ(n % 2304, 0u);
  // Progress and events once per batch.
  EXPECT_EQ(log_.events[1], 1);
  EXPECT_EQ(log_.events[2], log_.progress);
  EXPECT_EQ(log_.events[3], log_.progress);
}

TEST_F(ExportTest, Mpeg2BitrateIndex5Is40k) {
  const std::string mp3 = Encode(tmp_, "lsf", 22050, 2, "-b 40 --resample 22.05");
  if (mp3.empty()) GTEST_SKIP() << "lame not installed";
  Run(mp3, tmp_ / "lsf-out.wav", false);
  EXPECT_EQ(o_.bitrate, 40);
  EXPECT_EQ(o_.sampleRate, 22050);
  EXPECT_EQ(o_.waveFormat.channels, 2);
  ASSERT_FALSE(log_.batchBytes.empty());
  EXPECT_EQ(log_.batchBytes[0], 10u * 2304u);  // 576 stereo samples per frame
  EXPECT_FALSE(std::filesystem::exists(tmp_ / "lsf-out.wav"));
}

TEST_F(ExportTest, RefusalOnFirstFrameLeavesNoOutput) {
  const std::string mp3 = Encode(tmp_, "refuse", 44100, 2, "-b 128");
  if (mp3.empty()) GTEST_SKIP() << "lame not installed";
  log_.answerFirst = 0;
  Run(mp3, tmp_ / "refused.wav", true);
  EXPECT_EQ(log_.events[1], 1);
  EXPECT_EQ(log_.events[2], 0);
  EXPECT_EQ(log_.progress, 0);
  EXPECT_EQ(status_, 0);
  EXPECT_EQ(o_.sampleRate, 44100);
  EXPECT_FALSE(std::filesystem::exists(tmp_ / "refused.wav"));
}

TEST_F(ExportTest, CancelDuringFirstProgressStopsAfterOneBatch) {
  const std::string mp3 = Encode(tmp_, "cancel", 44100, 2, "-b 128", 3.0);
  if (mp3.empty()) GTEST_SKIP() << "lame not installed";
  log_.cancelOnFirstProgress = true;
  Run(mp3, tmp_ / "cancel.wav", true);
  EXPECT_EQ(log_.progress, 1);
  EXPECT_EQ(status_, MP3_STATUS_CANCEL);
  const auto wav = ReadFileBytes(tmp_ / "cancel.wav");
  ASSERT_EQ(wav.size(), 46u + 10 * 4608);
  EXPECT_EQ(Le32(wav, 42), 10u * 4608);
  EXPECT_EQ(Le32(wav, 4), 10u * 4608 + 38);
}

TEST_F(ExportTest, LeadingId3v2TagAndTrailingId3v1TagDoNotChangeThePcm) {
  const std::string plain = Encode(tmp_, "plain", 44100, 2, "-b 128 --id3v2-only --tt x", 1.5);
  if (plain.empty()) GTEST_SKIP() << "lame not installed";
  // Strip lame's own tag to get the bare stream, then add ours.
  std::vector<uint8_t> bytes = ReadFileBytes(plain);
  ASSERT_GT(bytes.size(), 10u);
  ASSERT_EQ(std::memcmp(bytes.data(), "ID3", 3), 0);
  const size_t tagLen = 10 + (size_t(bytes[6]) << 21 | size_t(bytes[7]) << 14 |
                              size_t(bytes[8]) << 7 | size_t(bytes[9]));
  std::vector<uint8_t> bare(bytes.begin() + long(tagLen), bytes.end());
  WriteFile(tmp_ / "bare.mp3", bare);
  const Decoded ref = DecodeToWav(tmp_ / "bare.mp3", tmp_ / "bare.wav");
  EXPECT_EQ(ref.options.firstFrameOffset, 0);
  ASSERT_GT(ref.pcm.size(), 0u);

  // A 300-byte ID3v2 tag (with FF FB inside neither) in front.
  std::vector<uint8_t> tagged = {'I', 'D', '3', 3, 0, 0, 0, 0, 2, 34};
  tagged.resize(300, 'x');
  tagged.insert(tagged.end(), bare.begin(), bare.end());
  WriteFile(tmp_ / "v2.mp3", tagged);
  const Decoded v2 = DecodeToWav(tmp_ / "v2.mp3", tmp_ / "v2.wav");
  EXPECT_EQ(v2.options.firstFrameOffset, 300);
  EXPECT_EQ(v2.pcm, ref.pcm);

  // A 128-byte ID3v1 tag at the end is not decoded.
  std::vector<uint8_t> v1 = bare;
  std::vector<uint8_t> tag(128, ' ');
  std::memcpy(tag.data(), "TAG", 3);
  v1.insert(v1.end(), tag.begin(), tag.end());
  WriteFile(tmp_ / "v1.mp3", v1);
  const Decoded d1 = DecodeToWav(tmp_ / "v1.mp3", tmp_ / "v1.wav");
  EXPECT_EQ(d1.pcm, ref.pcm);
}

TEST_F(ExportTest, Id3v2WithLyingSizeFallsBackToFrameSearch) {
  std::vector<uint8_t> file = {'I', 'D', '3', 3, 0, 0, 0x7f, 0x7f, 0x7f, 0x7f};
  file.resize(40, 0);
  for (int i = 0; i < 30; ++i) {
    const auto f = SilentFrame(9, i & 1);
    file.insert(file.end(), f.begin(), f.end());
  }
  WriteFile(tmp_ / "lying.mp3", file);
  Run(tmp_ / "lying.mp3", tmp_ / "lying.wav", true);
  EXPECT_EQ(o_.firstFrameOffset, 40);
  EXPECT_EQ(o_.bitrate, 128);
  EXPECT_EQ(status_, 0);
  // 30 frames: three batches... but the walk stops before the last stretch
  // shorter than ten frames, so at least two full batches come out.
  const auto wav = ReadFileBytes(tmp_ / "lying.wav");
  EXPECT_GE(Le32(wav, 42), 2u * 10 * 4608);
  EXPECT_EQ(wav.size(), Le32(wav, 42) + 46u);
}

TEST_F(ExportTest, PaddedFramesAreStepped) {
  // 25 silent frames alternating 417 and 418 bytes: two batches, every frame
  // found by its own length (a stray sync would show as a no-sync slot).
  std::vector<uint8_t> file;
  for (int i = 0; i < 25; ++i) {
    const auto f = SilentFrame(9, i % 2);
    file.insert(file.end(), f.begin(), f.end());
  }
  WriteFile(tmp_ / "pad.mp3", file);
  Run(tmp_ / "pad.mp3", tmp_ / "pad.wav", true);
  EXPECT_EQ(status_, 0);
  EXPECT_EQ(log_.progress, 2);
  const auto wav = ReadFileBytes(tmp_ / "pad.wav");
  EXPECT_EQ(Le32(wav, 42), 2u * 10 * 4608);
}

TEST_F(ExportTest, ShortFileEndsItsOnlyBatchAtTheEndOfTheData) {
  std::vector<uint8_t> file;
  for (int i = 0; i < 3; ++i) {
    const auto f = SilentFrame(9, 0);
    file.insert(file.end(), f.begin(), f.end());
  }
  file.resize(file.size() - 100);  // the third frame is cut short
  WriteFile(tmp_ / "short.mp3", file);
  Run(tmp_ / "short.mp3", tmp_ / "short.wav", true);
  EXPECT_EQ(status_, 0);
  EXPECT_EQ(log_.progress, 1);
  const auto wav = ReadFileBytes(tmp_ / "short.wav");
  EXPECT_EQ(Le32(wav, 42), 3u * 4608);
}

TEST_F(ExportTest, InvalidFirstHeaderFailsWithStatus17AndMessage) {
  std::vector<uint8_t> file(4000, 0x55);  // no frame anywhere
  WriteFile(tmp_ / "junk.mp3", file);
  Run(tmp_ / "junk.mp3", tmp_ / "junk.wav", true);
  EXPECT_EQ(status_, MP3_STATUS_CANNOT_DECODE);
  EXPECT_EQ(log_.message, "Не получилось декодировать файл!!!");
  EXPECT_EQ(log_.caption, "Sonarvex's MP3 Decoder");
  EXPECT_EQ(log_.messageType, uint32_t(MP3_MB_ICONERROR));
  EXPECT_EQ(log_.progress, 1);
  const auto wav = ReadFileBytes(tmp_ / "junk.wav");
  ASSERT_EQ(wav.size(), 46u);
  EXPECT_EQ(Le32(wav, 42), 0u);
  EXPECT_EQ(Le32(wav, 4), 38u);
}

TEST_F(ExportTest, FreeFormatIsRefusedWithStatus17) {
  std::vector<uint8_t> file(4000, 0);
  for (size_t i = 0; i + 4 <= file.size(); i += 400) {
    file[i] = 0xFF;
    file[i + 1] = 0xFB;
    file[i + 2] = 0x00;  // bitrate index 0
  }
  WriteFile(tmp_ / "free.mp3", file);
  Run(tmp_ / "free.mp3", tmp_ / "free.wav", true);
  EXPECT_EQ(status_, MP3_STATUS_CANNOT_DECODE);
}

TEST_F(ExportTest, UncreatableOutputGivesStatus16) {
  std::vector<uint8_t> file;
  for (int i = 0; i < 12; ++i) {
    const auto f = SilentFrame(9, 0);
    file.insert(file.end(), f.begin(), f.end());
  }
  WriteFile(tmp_ / "ok.mp3", file);
  Run(tmp_ / "ok.mp3", tmp_ / "no/such/folder/out.wav", true);
  EXPECT_EQ(status_, MP3_STATUS_CANNOT_CREATE);
  EXPECT_EQ(log_.progress, 0);
}

TEST_F(ExportTest, MissingOrEmptyInputReturnsSilently) {
  Run(tmp_ / "missing.mp3", tmp_ / "missing.wav", true);
  WriteFile(tmp_ / "empty.mp3", {});
  Run(tmp_ / "empty.mp3", tmp_ / "empty.wav", true);
  EXPECT_EQ(status_, 0);
  EXPECT_EQ(log_.events[1], 0);
  EXPECT_EQ(log_.progress, 0);
  EXPECT_FALSE(std::filesystem::exists(tmp_ / "missing.wav"));
}

// Robustness: every shared vector, and damaged copies of a real stream.
class RobustnessTest : public ExportTest {
 protected:
  void Survive(const std::string& path) {
    SCOPED_TRACE(path);
    status_ = 0;
    Run(path, tmp_ / "robust.wav", true);
    const auto wav = ReadFileBytes(tmp_ / "robust.wav");
    if (!wav.empty()) {
      ASSERT_GE(wav.size(), 46u);
      EXPECT_EQ(wav.size(), Le32(wav, 42) + 46u);
    }
  }
};

TEST_F(RobustnessTest, SharedVectorsDecodeWithoutFault) {
  const std::string shared = SharedDir();
  if (shared.empty()) GTEST_SKIP() << "shared reference folder absent";
  int n = 0;
  for (const auto& e : std::filesystem::directory_iterator(shared + "/mpeg-audio/vectors")) {
    const std::string name = e.path().filename().string();
    // The big conformance streams are covered by the accuracy tests.
    if (e.file_size() > 60000 && name.find("ILL") == std::string::npos) continue;
    Survive(e.path().string());
    ++n;
  }
  EXPECT_GT(n, 30);
}

TEST_F(RobustnessTest, DamagedStreamsDecodeWithoutFault) {
  const std::string mp3 = Encode(tmp_, "src", 44100, 2, "-b 160", 1.0);
  if (mp3.empty()) GTEST_SKIP() << "lame not installed";
  const std::vector<uint8_t> good = ReadFileBytes(mp3);
  std::mt19937 rng(1234);
  for (int round = 0; round < 40; ++round) {
    std::vector<uint8_t> bad = good;
    const int kind = round % 4;
    if (kind == 0) {  // random bytes flipped everywhere, headers spared now and then
      for (int i = 0; i < 200; ++i) bad[rng() % bad.size()] ^= uint8_t(1u << (rng() % 8));
    } else if (kind == 1) {  // side information set to extremes
      for (size_t p = 0; p + 40 < bad.size(); p += 417)
        for (int i = 4; i < 36; ++i) bad[p + size_t(i)] = uint8_t(rng() % 2 ? 0xFF : rng());
    } else if (kind == 2) {  // truncated at a random place
      bad.resize(rng() % bad.size());
    } else {  // random bytes behind a valid first header
      for (size_t i = 4; i < bad.size(); ++i) bad[i] = uint8_t(rng());
    }
    WriteFile(tmp_ / "bad.mp3", bad);
    Survive(tmp_ / "bad.mp3");
  }
}

}  // namespace
}  // namespace kelpra_test

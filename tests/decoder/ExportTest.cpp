// The exported ConvertMP3ToWAV: the options record it fills, the WAV file,
// the callbacks and the failure outcomes; and decoding of broken input
// without a crash, a hang or a read outside the file (run under ASan too).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
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
  std::function<void()> onProgress;
};
CallbackLog* gLog = nullptr;

void OnProgress(uint32_t, uint32_t, uint8_t*, uint32_t bytes) {
  ++gLog->progress;
  gLog->batchBytes.push_back(bytes);
  if (gLog->cancelOnFirstProgress && gLog->status) *gLog->status = MP3_STATUS_CANCEL;
  if (gLog->onProgress) gLog->onProgress();
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

  std::vector<std::string> OtherFiles() const { return tmp_.Names(); }

  MP3_CONVERT_FUNCTION convert_ = nullptr;
  MP3_DECODER_OPTIONS o_{};
  uint8_t status_ = 0;
  CallbackLog log_;
  Owner owner_{};
  TempDir tmp_;
};

TEST_F(ExportTest, MonoLayer3ReportsFormatAndWritesConsistentWav) {
  // Without the encoder header (-t) every frame gives its PCM.
  const std::string mp3 = Encode(tmp_, "mono", 44100, 1, "-t -b 128 -m m");
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
  const std::string mp3 = Encode(tmp_, "lsf", 22050, 2, "-t -b 40 --resample 22.05");
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
  const std::string mp3 = Encode(tmp_, "cancel", 44100, 2, "-t -b 128", 3.0);
  if (mp3.empty()) GTEST_SKIP() << "lame not installed";
  log_.cancelOnFirstProgress = true;
  Run(mp3, tmp_ / "cancel.wav", true);
  EXPECT_EQ(log_.progress, 1);
  EXPECT_EQ(status_, MP3_STATUS_CANCEL);
  const auto wav = ReadFileBytes(tmp_ / "cancel.wav");
  ASSERT_EQ(wav.size(), 46u + 10 * 4608);
  EXPECT_EQ(Le32(wav, 42), 10u * 4608);
  EXPECT_EQ(Le32(wav, 4), 10u * 4608 + 38);
  EXPECT_EQ(OtherFiles(), std::vector<std::string>({"cancel.mp3", "cancel.wav"}));
}

TEST_F(ExportTest, CancelWithGaplessTrimKeepsExactlyTheFirstTrimmedBatch) {
  const std::string mp3 = Encode(tmp_, "gcancel", 44100, 2, "-b 128", 3.0);
  if (mp3.empty()) GTEST_SKIP() << "lame not installed";
  log_.cancelOnFirstProgress = true;
  Run(mp3, tmp_ / "gcancel.wav", true);
  EXPECT_EQ(log_.progress, 1);
  ASSERT_EQ(log_.batchBytes.size(), 1u);
  // Ten frames less the encoder's and the decoder's delay at the start and
  // the held-back length of the encoder's padding at the end.
  EXPECT_GT(log_.batchBytes[0], 0u);
  EXPECT_LT(log_.batchBytes[0], 10u * 4608 - 576 * 4);
  EXPECT_EQ(log_.batchBytes[0] % 4, 0u);
  const auto wav = ReadFileBytes(tmp_ / "gcancel.wav");
  ASSERT_EQ(wav.size(), 46u + log_.batchBytes[0]);
  EXPECT_EQ(Le32(wav, 42), log_.batchBytes[0]);
  EXPECT_EQ(Le32(wav, 4), log_.batchBytes[0] + 38);
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
  // 30 frames: three full batches.
  const auto wav = ReadFileBytes(tmp_ / "lying.wav");
  EXPECT_EQ(Le32(wav, 42), 30u * 4608);
  EXPECT_EQ(wav.size(), Le32(wav, 42) + 46u);
  EXPECT_EQ(log_.progress, 3);
}

TEST_F(ExportTest, PaddedFramesAreStepped) {
  // 25 silent frames alternating 417 and 418 bytes: three batches (the last
  // of five frames), every frame found by its own length.
  std::vector<uint8_t> file;
  for (int i = 0; i < 25; ++i) {
    const auto f = SilentFrame(9, i % 2);
    file.insert(file.end(), f.begin(), f.end());
  }
  WriteFile(tmp_ / "pad.mp3", file);
  Run(tmp_ / "pad.mp3", tmp_ / "pad.wav", true);
  EXPECT_EQ(status_, 0);
  EXPECT_EQ(log_.progress, 3);
  EXPECT_EQ(log_.batchBytes, std::vector<uint32_t>({46080, 46080, 5 * 4608}));
  const auto wav = ReadFileBytes(tmp_ / "pad.wav");
  EXPECT_EQ(Le32(wav, 42), 25u * 4608);
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

TEST_F(ExportTest, FreeFormatTakesItsLengthFromTheNextHeader) {
  std::vector<uint8_t> file(4000, 0);
  for (size_t i = 0; i + 4 <= file.size(); i += 400) {
    file[i] = 0xFF;
    file[i + 1] = 0xFB;
    file[i + 2] = 0x00;  // bitrate index 0
  }
  WriteFile(tmp_ / "free.mp3", file);
  Run(tmp_ / "free.mp3", tmp_ / "free.wav", true);
  EXPECT_EQ(status_, 0);
  EXPECT_EQ(o_.bitrate, 123);  // 400 bytes per 1152 samples at 44100 Hz: 122.5 kbit/s
  const auto wav = ReadFileBytes(tmp_ / "free.wav");
  EXPECT_EQ(Le32(wav, 42), 10u * 4608);
}

TEST_F(ExportTest, FreeFormatStreamDecodesLikeItsFixedBitrateTwin) {
  // A stream whose headers name the bitrate, and the same stream with the
  // bitrate index cleared: the frame lengths (with their padding) are the
  // same, so the PCM must be too.
  const std::string mp3 = Encode(tmp_, "twin", 44100, 2, "-t -b 160", 1.5);
  if (mp3.empty()) GTEST_SKIP() << "lame not installed";
  std::vector<uint8_t> bytes = ReadFileBytes(mp3);
  size_t at = 0, frames = 0;
  while (at + 4 <= bytes.size() && bytes[at] == 0xFF) {
    const size_t len = 144 * 160000 / 44100 + ((bytes[at + 2] >> 1) & 1);
    bytes[at + 2] &= 0x0F;
    at += len;
    ++frames;
  }
  ASSERT_GT(frames, 50u);
  WriteFile(tmp_ / "free.mp3", bytes);
  const Decoded fixed = DecodeToWav(mp3, tmp_ / "fixed.wav");
  const Decoded free = DecodeToWav(tmp_ / "free.mp3", tmp_ / "free.wav");
  EXPECT_EQ(free.status, 0);
  EXPECT_EQ(free.options.bitrate, 160);
  ASSERT_EQ(free.pcm.size(), frames * 2304);
  EXPECT_TRUE(free.pcm == fixed.pcm);
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

std::vector<uint8_t> SilentFrames(int n) {
  std::vector<uint8_t> file;
  for (int i = 0; i < n; ++i) {
    const auto f = SilentFrame(9, i % 2);
    file.insert(file.end(), f.begin(), f.end());
  }
  return file;
}

TEST_F(ExportTest, EveryCompleteFrameIsDecodedToTheEnd) {
  for (int n : {1, 9, 10, 11, 19, 23}) {
    SCOPED_TRACE(n);
    log_ = CallbackLog{};
    WriteFile(tmp_ / "n.mp3", SilentFrames(n));
    Run(tmp_ / "n.mp3", tmp_ / "n.wav", true);
    EXPECT_EQ(status_, 0);
    const auto wav = ReadFileBytes(tmp_ / "n.wav");
    ASSERT_GE(wav.size(), 46u);
    EXPECT_EQ(Le32(wav, 42), uint32_t(n) * 4608);
    EXPECT_EQ(wav.size(), 46u + size_t(n) * 4608);
    // Batches of ten, the last one shorter, and their byte counts add up.
    const size_t batches = size_t(n + 9) / 10;
    ASSERT_EQ(log_.batchBytes.size(), batches);
    EXPECT_EQ(log_.batchBytes.back(), uint32_t(n - 10 * int(batches - 1)) * 4608);
    EXPECT_EQ(log_.events[2], int(batches));
  }
}

TEST_F(ExportTest, TrailingBytesWithoutFramesEndTheWalk) {
  std::vector<uint8_t> file = SilentFrames(12);
  const char* ape = "APETAGEX\xd0\x07\0\0 and some more bytes of a tag footer";
  file.insert(file.end(), ape, ape + 48);
  WriteFile(tmp_ / "ape.mp3", file);
  Run(tmp_ / "ape.mp3", tmp_ / "ape.wav", true);
  EXPECT_EQ(status_, 0);
  EXPECT_EQ(Le32(ReadFileBytes(tmp_ / "ape.wav"), 42), 12u * 4608);
}

TEST_F(ExportTest, DamagedSyncKeepsTheFramesPlaceAndJunkIsSkipped) {
  // Frame 7 loses its sync word: it stays a (silent) frame.
  std::vector<uint8_t> file = SilentFrames(15);
  size_t seventh = 0;
  for (int i = 0; i < 6; ++i) seventh += 417 + size_t(i % 2);
  file[seventh] = 0;
  WriteFile(tmp_ / "sync.mp3", file);
  Run(tmp_ / "sync.mp3", tmp_ / "sync.wav", true);
  EXPECT_EQ(Le32(ReadFileBytes(tmp_ / "sync.wav"), 42), 15u * 4608);

  // 37 bytes of junk between frames 5 and 6: skipped, nothing added.
  file = SilentFrames(12);
  size_t fifth = 0;
  for (int i = 0; i < 5; ++i) fifth += 417 + size_t(i % 2);
  file.insert(file.begin() + long(fifth), 37, uint8_t(0x5A));
  WriteFile(tmp_ / "junk2.mp3", file);
  Run(tmp_ / "junk2.mp3", tmp_ / "junk2.wav", true);
  EXPECT_EQ(status_, 0);
  EXPECT_EQ(Le32(ReadFileBytes(tmp_ / "junk2.wav"), 42), 12u * 4608);
}

TEST_F(ExportTest, GaplessStreamGivesTheSourcesSamplesThroughEveryChannel) {
  const std::string mp3 = Encode(tmp_, "gap", 44100, 2, "-b 128", 1.0);
  if (mp3.empty()) GTEST_SKIP() << "lame not installed";
  const size_t sourceBytes = ReadFileBytes(tmp_ / "gap.wav").size() - 44;
  Run(mp3, tmp_ / "gap-out.wav", true);
  EXPECT_EQ(status_, 0);
  const auto wav = ReadFileBytes(tmp_ / "gap-out.wav");
  ASSERT_GE(wav.size(), 46u);
  EXPECT_EQ(Le32(wav, 42), sourceBytes);
  uint64_t sum = 0;
  for (uint32_t b : log_.batchBytes) sum += b;
  EXPECT_EQ(sum, sourceBytes);
  // The first batch lost the delays, the last one the padding.
  ASSERT_GE(log_.batchBytes.size(), 3u);
  EXPECT_LT(log_.batchBytes.front(), log_.batchBytes[1]);
  EXPECT_EQ(log_.batchBytes[1], 46080u);

  // Without the WAV, the same bytes reach the event callback.
  log_ = CallbackLog{};
  Run(mp3, tmp_ / "none.wav", false);
  uint64_t events = 0;
  for (uint32_t b : log_.batchBytes) events += b;
  EXPECT_EQ(events, sourceBytes);
  EXPECT_FALSE(std::filesystem::exists(tmp_ / "none.wav"));
}

// Output files: never the input, never through a link, never partial.
TEST_F(ExportTest, OutputThatIsTheInputIsRefused) {
  WriteFile(tmp_ / "same.mp3", SilentFrames(12));
  const auto before = ReadFileBytes(tmp_ / "same.mp3");
  Run(tmp_ / "same.mp3", tmp_ / "same.mp3", true);
  EXPECT_EQ(status_, MP3_STATUS_CANNOT_CREATE);
  EXPECT_EQ(ReadFileBytes(tmp_ / "same.mp3"), before);
  EXPECT_EQ(log_.progress, 0);
  // The same file under another name.
  std::filesystem::create_hard_link(tmp_ / "same.mp3", tmp_ / "other.wav");
  status_ = 0;
  Run(tmp_ / "same.mp3", tmp_ / "other.wav", true);
  EXPECT_EQ(status_, MP3_STATUS_CANNOT_CREATE);
  EXPECT_EQ(ReadFileBytes(tmp_ / "same.mp3"), before);
  EXPECT_EQ(OtherFiles(), std::vector<std::string>({"other.wav", "same.mp3"}));
}

TEST_F(ExportTest, LinkAtTheOutputNameIsReplacedNotWrittenThrough) {
  TempDir elsewhere;
  WriteFile(elsewhere / "victim", {'k', 'e', 'e', 'p'});
  std::filesystem::create_symlink(elsewhere / "victim", tmp_ / "out.wav");
  WriteFile(tmp_ / "in.mp3", SilentFrames(3));
  Run(tmp_ / "in.mp3", tmp_ / "out.wav", true);
  EXPECT_EQ(status_, 0);
  EXPECT_EQ(ReadFileBytes(elsewhere / "victim"), std::vector<uint8_t>({'k', 'e', 'e', 'p'}));
  EXPECT_FALSE(std::filesystem::is_symlink(tmp_ / "out.wav"));
  EXPECT_EQ(ReadFileBytes(tmp_ / "out.wav").size(), 46u + 3 * 4608);
}

TEST_F(ExportTest, ExistingOutputIsReplacedWhole) {
  WriteFile(tmp_ / "out.wav", std::vector<uint8_t>(200000, 0x77));
  WriteFile(tmp_ / "in.mp3", SilentFrames(3));
  Run(tmp_ / "in.mp3", tmp_ / "out.wav", true);
  EXPECT_EQ(status_, 0);
  const auto wav = ReadFileBytes(tmp_ / "out.wav");
  EXPECT_EQ(wav.size(), 46u + 3 * 4608);
  EXPECT_EQ(OtherFiles(), std::vector<std::string>({"in.mp3", "out.wav"}));
}

// Runs the export in a child process whose files may not grow beyond
// `limit` bytes (SIGXFSZ ignored, so writes fail with EFBIG as on a full
// disk). Returns the status byte and the message the library showed.
struct LimitedRun {
  int status = -1;
  std::string message;
};

std::string* gChildMessage = nullptr;
void CaptureMessage(MP3_DECODER_OWNER*, const char* text, const char*, uint32_t) {
  *gChildMessage = text;
}

LimitedRun RunWithFileSizeLimit(MP3_CONVERT_FUNCTION convert, const std::string& in,
                                const std::string& out, rlim_t limit) {
  int fds[2];
  if (pipe(fds) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit rl = {limit, limit};
    setrlimit(RLIMIT_FSIZE, &rl);
    std::string message;
    gChildMessage = &message;
    MP3_DECODER_OWNER owner{CaptureMessage};
    uint8_t status = 0;
    MP3_DECODER_OPTIONS o;
    std::memset(&o, 0, sizeof o);
    o.inputFile = in.c_str();
    o.outputFile = out.c_str();
    o.writeWav = 1;
    o.status = &status;
    o.ownerWindow = &owner;
    convert(&o);
    if (write(fds[1], message.data(), message.size()) < 0) _exit(255);
    _exit(status);
  }
  close(fds[1]);
  LimitedRun r;
  char buf[512];
  ssize_t n;
  while ((n = read(fds[0], buf, sizeof buf)) > 0) r.message.append(buf, size_t(n));
  close(fds[0]);
  int ws = 0;
  waitpid(pid, &ws, 0);
  if (WIFEXITED(ws)) r.status = WEXITSTATUS(ws);
  return r;
}

TEST_F(ExportTest, FailedWriteIsReportedAndLeavesNothing) {
  WriteFile(tmp_ / "in.mp3", SilentFrames(60));  // 60 * 4608 bytes of PCM
  const LimitedRun r = RunWithFileSizeLimit(convert_, tmp_ / "in.mp3", tmp_ / "out.wav", 100000);
  EXPECT_EQ(r.status, MP3_STATUS_WRITE_FAILED);
  EXPECT_NE(r.message.find(tmp_ / "out.wav"), std::string::npos) << r.message;
  EXPECT_NE(r.message.find(std::strerror(EFBIG)), std::string::npos) << r.message;
  EXPECT_EQ(OtherFiles(), std::vector<std::string>({"in.mp3"}));

  // An older file under the output name stays as it was.
  WriteFile(tmp_ / "out.wav", {'o', 'l', 'd'});
  const LimitedRun again =
      RunWithFileSizeLimit(convert_, tmp_ / "in.mp3", tmp_ / "out.wav", 100000);
  EXPECT_EQ(again.status, MP3_STATUS_WRITE_FAILED);
  EXPECT_EQ(ReadFileBytes(tmp_ / "out.wav"), std::vector<uint8_t>({'o', 'l', 'd'}));
  EXPECT_EQ(OtherFiles(), std::vector<std::string>({"in.mp3", "out.wav"}));

  // With room for it all the same run succeeds.
  const LimitedRun fits =
      RunWithFileSizeLimit(convert_, tmp_ / "in.mp3", tmp_ / "out.wav", 1000000);
  EXPECT_EQ(fits.status, 0);
  EXPECT_EQ(ReadFileBytes(tmp_ / "out.wav").size(), 46u + 60 * 4608);
}

// The command-line tool on top of it.
class DecodeToolTest : public ::testing::Test {
 protected:
  int Tool(const std::string& args, std::string* err = nullptr) {
    const std::string cmd = std::string(SONARVEX_BIN_DIR) + "/kelpra-decode " + args + " >'" +
                            (tmp_ / "stdout") + "' 2>'" + (tmp_ / "stderr") + "'";
    const int rc = RunCommand(cmd);
    const auto e = ReadFileBytes(tmp_ / "stderr");
    if (err) err->assign(e.begin(), e.end());
    std::filesystem::remove(tmp_ / "stdout");
    std::filesystem::remove(tmp_ / "stderr");
    return rc;
  }
  TempDir tmp_;
};

TEST_F(DecodeToolTest, RefusesToWriteOverItsInput) {
  WriteFile(tmp_ / "same.mp3", SilentFrames(12));
  const auto before = ReadFileBytes(tmp_ / "same.mp3");
  std::string err;
  EXPECT_NE(Tool("'" + (tmp_ / "same.mp3") + "' '" + (tmp_ / "same.mp3") + "'", &err), 0);
  EXPECT_NE(err.find("same.mp3"), std::string::npos) << err;
  EXPECT_EQ(ReadFileBytes(tmp_ / "same.mp3"), before);
  EXPECT_EQ(tmp_.Names(), std::vector<std::string>({"same.mp3"}));
}

TEST_F(DecodeToolTest, FullDiskFailsNamingTheFileAndTheReason) {
  WriteFile(tmp_ / "in.mp3", SilentFrames(60));
  std::string err;
  // ulimit -f counts 512-byte blocks in sh; the ignored SIGXFSZ is inherited.
  const int rc = Tool("'" + (tmp_ / "in.mp3") + "' '" + (tmp_ / "out.wav") + "'", &err);
  ASSERT_EQ(rc, 0) << "the unlimited run fails: " << err;
  std::filesystem::remove(tmp_ / "out.wav");
  const std::string limited = "ulimit -f 100; trap '' XFSZ; ";
  const std::string cmd = limited + SONARVEX_BIN_DIR "/kelpra-decode '" + (tmp_ / "in.mp3") +
                          "' '" + (tmp_ / "out.wav") + "' >/dev/null 2>'" + (tmp_ / "err") + "'";
  EXPECT_NE(RunCommand(cmd), 0);
  const auto e = ReadFileBytes(tmp_ / "err");
  err.assign(e.begin(), e.end());
  std::filesystem::remove(tmp_ / "err");
  EXPECT_NE(err.find(tmp_ / "out.wav"), std::string::npos) << err;
  EXPECT_NE(err.find(std::strerror(EFBIG)), std::string::npos) << err;
  EXPECT_EQ(tmp_.Names(), std::vector<std::string>({"in.mp3"}));
}

TEST_F(DecodeToolTest, AFailedDecodeKeepsAnExistingOutputAndLeavesNoFile) {
  std::vector<uint8_t> garbage(3000);
  std::mt19937 rng(7);
  for (auto& b : garbage) b = uint8_t(rng() & 0x7F);  // never a sync word
  WriteFile(tmp_ / "garbage.mp3", garbage);
  WriteFile(tmp_ / "empty.mp3", {});
  const std::vector<uint8_t> mine = {'m', 'i', 'n', 'e'};
  WriteFile(tmp_ / "p.wav", mine);
  for (const char* in : {"garbage.mp3", "empty.mp3"}) {
    SCOPED_TRACE(in);
    std::string err;
    EXPECT_EQ(Tool("'" + (tmp_ / in) + "' '" + (tmp_ / "p.wav") + "'", &err), 1);
    EXPECT_NE(err.find(tmp_ / in), std::string::npos) << err;
    EXPECT_NE(err.find("left as it was"), std::string::npos) << err;
    EXPECT_EQ(ReadFileBytes(tmp_ / "p.wav"), mine);
    EXPECT_EQ(tmp_.Names(), std::vector<std::string>({"empty.mp3", "garbage.mp3", "p.wav"}));
  }
  // A good decode replaces it.
  WriteFile(tmp_ / "good.mp3", SilentFrames(30));
  EXPECT_EQ(Tool("'" + (tmp_ / "good.mp3") + "' '" + (tmp_ / "p.wav") + "'"), 0);
  const auto wav = ReadFileBytes(tmp_ / "p.wav");
  ASSERT_GT(wav.size(), 46u);
  EXPECT_EQ(wav.size(), Le32(wav, 42) + 46u);
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


// A caller that names its partial file gets it written under that name,
// locked while it is written: nothing under a second, random partial name
// that a killed run would leave behind.
TEST_F(ExportTest, APartialOutputNameIsWrittenAsItIsAndLocked) {
  const std::string mp3 = Encode(tmp_, "part", 44100, 2, "-b 128", 2.0);
  if (mp3.empty()) GTEST_SKIP() << "lame not installed";
  const std::string part = tmp_ / "part.wav.part";
  std::vector<std::vector<std::string>> seen;
  int lockedByWriter = 0;
  log_.onProgress = [&] {
    seen.push_back(OtherFiles());
    const int fd = ::open(part.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) ++lockedByWriter;
    if (fd >= 0) ::close(fd);
  };
  Run(mp3, part, true);
  EXPECT_EQ(status_, 0);
  ASSERT_FALSE(seen.empty());
  for (const auto& names : seen)
    EXPECT_EQ(names, std::vector<std::string>({"part.mp3", "part.wav", "part.wav.part"}));
  EXPECT_EQ(lockedByWriter, static_cast<int>(seen.size()));
  const auto wav = ReadFileBytes(part);
  ASSERT_GT(wav.size(), 46u);
  EXPECT_EQ(Le32(wav, 42), wav.size() - 46);
}

}  // namespace
}  // namespace kelpra_test

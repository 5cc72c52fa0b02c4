// A compilation of MP3, Ogg Vorbis, FLAC and WAV rows: the rows' times and
// sizes from the files' headers before anything is decoded, the disc
// written on the software recorder with every file decoded as it is
// written, each track equal to its file decoded to CD format (MP3 by our
// own decoder library, Ogg by FFmpeg), and files that cannot be used
// refused with a message naming them.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <filesystem>

#include "conversion/Mp3DecoderLibrary.h"
#include "drive/virtual/VirtualRecorder.h"
#include "platform/Dialogs.h"
#include "platform/Files.h"
#include "platform/ScriptedDialogs.h"
#include "recording/Compilation.h"
#include "recording/Recorder.h"
#include "recording/TWriteThread.h"
#include "recording/TrackSource.h"
#include "tests/recording/RecordingRig.h"

namespace sonarvex {
namespace {

using test::RecordingRig;

bool HaveTool(const char* tool) {
  int rc = 1;
  test::Run(std::string("command -v ") + tool + " >/dev/null", &rc);
  return rc == 0;
}

// Message boxes as texts.
struct CapturingDialogs : WindowlessDialogs {
  std::vector<std::string> texts;
  int Message(const std::string& text, const std::string&, MsgIcon, MsgButtons) override {
    texts.push_back(text);
    return IdOk;
  }
};

struct QuietHost : WriteThreadHost {
  std::string verified;
  void SetPhase(const std::string&) override {}
  void ShowErrorCount(bool) override {}
  std::string SetStatus(const std::string&) override { return {}; }
  void Progress(std::int32_t, std::int32_t, int, std::int32_t) override {}
  void TrackDone(int) override {}
  void WriteFinished() override {}
  void PlaySound(const std::string&) override {}
  void SourcesDeleted() override {}
  void CloseBlankWindow() override {}
  void Completed() override {}
  void Verified(const std::string& text, bool) override { verified = text; }
};

// The PCM our decoder library makes of an MP3 file (its own WAV output).
std::vector<std::uint8_t> DecodeWithKelpra(const std::string& mp3, const std::string& wav) {
  Mp3DecoderLibrary lib;
  if (lib.Load(std::string(SONARVEX_BIN_DIR) + "/" + kMp3DecoderLibraryName) != Mp3DecoderLibrary::LoadResult::Loaded)
    return {};
  std::uint8_t status = 0;
  MP3_DECODER_OPTIONS o{};
  o.inputFile = mp3.c_str();
  o.outputFile = wav.c_str();
  o.writeWav = 1;
  o.status = &status;
  o.reserved3 = -1;
  lib.Convert()(&o);
  auto bytes = test::ReadAll(wav);
  // The audio after the program's 48-byte WAV header... or any header: the
  // "data" chunk's bytes.
  for (std::size_t i = 12; i + 8 <= bytes.size(); ++i)
    if (std::memcmp(bytes.data() + i, "data", 4) == 0) return {bytes.begin() + static_cast<long>(i) + 8, bytes.end()};
  return {};
}

// The signal-to-noise ratio of `got` against `ref` over their first n
// bytes of 16-bit PCM, in dB (200 when they are the same).
double SnrDb(const std::uint8_t* got, const std::uint8_t* ref, std::size_t n) {
  double signal = 0, noise = 0;
  for (std::size_t i = 0; i + 1 < n; i += 2) {
    const auto a = static_cast<std::int16_t>(got[i] | got[i + 1] << 8);
    const auto b = static_cast<std::int16_t>(ref[i] | ref[i + 1] << 8);
    signal += static_cast<double>(b) * b;
    noise += static_cast<double>(a - b) * (a - b);
  }
  return noise == 0 ? 200.0 : 10.0 * std::log10(signal / noise);
}

std::vector<std::uint8_t> Bytes(const std::vector<std::int16_t>& samples) {
  std::vector<std::uint8_t> v(samples.size() * 2);
  if (!v.empty()) std::memcpy(v.data(), samples.data(), v.size());
  return v;
}

// Encodes a CD-audio WAV file with ffmpeg; false when it cannot (an encoder
// this ffmpeg does not have).
bool FfmpegEncode(const std::string& wav, const std::string& options, const std::string& out) {
  int rc = 1;
  test::Run("ffmpeg -v error -nostdin -y -i " + test::Quote(wav) + " " + options + " " + test::Quote(out), &rc);
  return rc == 0;
}

class AnyAudioBurnTest : public testing::Test {
 protected:
  AnyAudioBurnTest() : rec_(rig_.spti, rig_.aspi, dialogs_) {
    rec_.Create();
    rec_.SelectDevice(rig_.RecorderDevice());
    rec_.SetDecoderFolder(SONARVEX_BIN_DIR);
  }

  // A row of the compilation and what its track must hold: the source
  // decoded to CD format, the same bytes (minSnrDb 0) or as close as that.
  struct Expect {
    std::string path;
    std::vector<std::uint8_t> reference;
    double minSnrDb = 0;
    // How much longer than the reference the file's headers may say it is
    // (the track ends in silence there).
    std::size_t slack = 2352 * 2;
  };
  // Adds the files as the recording window does (listed as they are, each
  // length from its headers, near its reference's), burns them with the
  // verify step, and compares each track with its reference: the audio,
  // then silence where a decoder gave a little less than its headers said.
  // Writes the compilation to the software recorder through the write
  // thread with the verify step, which must find every track the same.
  void BurnWithVerify(const Compilation& c) {
    QuietHost host;
    std::atomic<bool> cancel{false};
    TWriteThread th(rec_, host, dialogs_, cancel);
    th.files = c.Paths();
    for (const auto& r : c.Rows()) th.names.push_back(r.name);
    th.settings = DefaultRecordingSettings();
    th.verify = true;
    ASSERT_TRUE(rec_.SetFiles(th.files));
    ASSERT_TRUE(rec_.InitWriteProcess(false, {}));
    ASSERT_TRUE(rec_.SendCUEToCD());
    th.Execute();
    ASSERT_EQ(th.Result(), TWriteThread::Outcome::Done);
    EXPECT_EQ(th.VerifyResult(), TWriteThread::Verify::Same) << host.verified;
  }

  void BurnAndCompare(const std::vector<Expect>& rows) {
    Compilation c(rig_.dir.File("WCDDATF"), dialogs_);
    c.SetDecoderFolder(SONARVEX_BIN_DIR);
    for (const auto& r : rows) ASSERT_TRUE(c.AddFile(r.path, false)) << r.path;
    ASSERT_EQ(c.Rows().size(), rows.size());
    EXPECT_TRUE(c.Converted().empty());
    for (std::size_t k = 0; k < rows.size(); ++k) {
      EXPECT_EQ(c.Rows()[k].Path(), rows[k].path);
      EXPECT_NEAR(static_cast<double>(c.Rows()[k].bytes), static_cast<double>(rows[k].reference.size()),
                  static_cast<double>(rows[k].slack))
          << rows[k].path;
    }
    BurnWithVerify(c);
    if (HasFatalFailure()) return;
    const auto bin = ReadFileBytes(BinPathForCue(rig_.cue));
    ASSERT_TRUE(bin);
    const auto& table = rec_.TrackTable();
    ASSERT_EQ(table.size(), rows.size() + 1);
    for (std::size_t k = 0; k < rows.size(); ++k) {
      SCOPED_TRACE(rows[k].path);
      const auto& ref = rows[k].reference;
      const std::size_t at = static_cast<std::size_t>(table[k]) * 2352;
      const std::size_t len = static_cast<std::size_t>(table[k + 1] - table[k]) * 2352;
      EXPECT_EQ(len, c.Rows()[k].bytes / 2352 * 2352);
      ASSERT_LE(at + len, bin->size());
      const std::size_t same = std::min(len, ref.size());
      EXPECT_GT(same + rows[k].slack, len);
      const auto* track = reinterpret_cast<const std::uint8_t*>(bin->data()) + at;
      if (rows[k].minSnrDb == 0) EXPECT_EQ(std::memcmp(track, ref.data(), same), 0);
      else EXPECT_GE(SnrDb(track, ref.data(), same), rows[k].minSnrDb);
      for (std::size_t i = same; i < len; ++i)
        if (track[i] != 0) {
          ADD_FAILURE() << "byte " << i << " after the decoded audio is not silence";
          break;
        }
    }
  }

  RecordingRig rig_;
  ScriptedDialogs dialogs_;
  Recorder rec_;
};

TEST_F(AnyAudioBurnTest, Mp3OggFlacAndWavRowsBurnAsTheirFilesDecode) {
  for (const char* tool : {"lame", "flac", "ffmpeg"})
    if (!HaveTool(tool)) GTEST_SKIP() << tool << " is not installed";
  if (!FileExists(std::string(SONARVEX_BIN_DIR) + "/" + kMp3DecoderLibraryName))
    GTEST_SKIP() << "libkelpra.so is not built";
  // Four sources of about three seconds each.
  const auto wavAudio = test::ToneAudio(1, 2352 * 200);
  const std::string wav = test::WriteCdWav(rig_.dir.File("a.wav"), wavAudio);
  const auto flacAudio = test::ToneAudio(2, 2352 * 250 + 588);
  const std::string flacSrc = test::WriteCdWav(rig_.dir.File("b-src.wav"), flacAudio);
  const std::string flac = rig_.dir.File("b.flac");
  int rc = 1;
  test::Run("flac -s -f -o " + test::Quote(flac) + " " + test::Quote(flacSrc), &rc);
  ASSERT_EQ(rc, 0);
  const std::string mp3Src = test::WriteCdWav(rig_.dir.File("c-src.wav"), test::ToneAudio(3, 2352 * 230));
  const std::string mp3 = rig_.dir.File("c.mp3");
  test::Run("lame --quiet -b 192 " + test::Quote(mp3Src) + " " + test::Quote(mp3), &rc);
  ASSERT_EQ(rc, 0);
  const std::string oggSrc = test::WriteCdWav(rig_.dir.File("d-src.wav"), test::ToneAudio(4, 2352 * 210));
  const std::string ogg = rig_.dir.File("d.ogg");
  test::Run("ffmpeg -v error -nostdin -y -i " + test::Quote(oggSrc) + " -c:a libvorbis " + test::Quote(ogg) +
                " || ffmpeg -v error -nostdin -y -i " + test::Quote(oggSrc) + " -strict -2 -c:a vorbis -ac 2 " +
                test::Quote(ogg),
            &rc);
  ASSERT_EQ(rc, 0);

  // The references: each file decoded to CD format.
  const auto mp3Pcm = DecodeWithKelpra(mp3, rig_.dir.File("c-ref.wav"));
  ASSERT_FALSE(mp3Pcm.empty());
  const auto oggSamples = test::DecodeWithFfmpeg(ogg, "-ar 44100 -ac 2");
  std::vector<std::uint8_t> oggPcm(oggSamples.size() * 2);
  std::memcpy(oggPcm.data(), oggSamples.data(), oggPcm.size());

  Compilation c(rig_.dir.File("WCDDATF"), dialogs_);
  c.SetDecoderFolder(SONARVEX_BIN_DIR);
  for (const auto& f : {wav, flac, mp3, ogg}) ASSERT_TRUE(c.AddFile(f, false)) << f;
  // Listed as they are, nothing converted, each length from its headers.
  ASSERT_EQ(c.Rows().size(), 4u);
  EXPECT_TRUE(c.Converted().empty());
  EXPECT_EQ(c.Rows()[1].name, "b.flac");
  EXPECT_EQ(c.Rows()[1].bytes, flacAudio.size());
  EXPECT_EQ(c.Rows()[2].name, "c.mp3");
  EXPECT_NEAR(static_cast<double>(c.Rows()[2].bytes), static_cast<double>(mp3Pcm.size()), 1152.0 * 4);
  EXPECT_NEAR(static_cast<double>(c.Rows()[3].bytes), static_cast<double>(oggPcm.size()), 1024.0 * 4);
  EXPECT_EQ(SectorTimeText(c.Rows()[1].bytes / 2352), "00:03:25");

  // Burned with the verify step.
  BurnWithVerify(c);
  if (HasFatalFailure()) return;

  const auto bin = ReadFileBytes(BinPathForCue(rig_.cue));
  ASSERT_TRUE(bin);
  const auto& table = rec_.TrackTable();
  ASSERT_EQ(table.size(), 5u);
  // Each track: its file's PCM (whole sectors of it), silence where a
  // decoder gave a little less than the file's headers said.
  const std::vector<const std::vector<std::uint8_t>*> refs = {&wavAudio, &flacAudio, &mp3Pcm, &oggPcm};
  for (std::size_t k = 0; k < 4; ++k) {
    const std::size_t at = static_cast<std::size_t>(table[k]) * 2352;
    const std::size_t len = static_cast<std::size_t>(table[k + 1] - table[k]) * 2352;
    EXPECT_EQ(len, c.Rows()[k].bytes / 2352 * 2352) << "track " << k + 1;
    ASSERT_LE(at + len, bin->size());
    const std::size_t same = std::min(len, refs[k]->size());
    EXPECT_GT(same + 2352 * 2, len) << "track " << k + 1;
    EXPECT_EQ(std::memcmp(bin->data() + at, refs[k]->data(), same), 0) << "track " << k + 1;
    for (std::size_t i = same; i < len; ++i)
      if ((*bin)[at + i] != 0) {
        ADD_FAILURE() << "track " << k + 1 << " byte " << i << " after the decoded audio is not silence";
        break;
      }
  }
}

// Rows of the kinds the first test leaves out: Opus and WMA (FFmpeg),
// sources of other rates and of one channel (resampled and spread to CD
// format as they are written), and an MP3 file without a VBR header (its
// length counted frame by frame). Each track is its file decoded to CD
// format, byte for byte: MP3 as our decoder library decodes it (made CD
// format by ffmpeg where it has one channel; at 22.05 kHz, where the two
// resamplers' filters differ by a fraction of a sample, by SNR), the
// others as ffmpeg decodes them.
TEST_F(AnyAudioBurnTest, OpusWmaOtherRatesMonoAndAnMp3WithoutVbrHeaderBurnAsTheyDecode) {
  for (const char* tool : {"lame", "ffmpeg"})
    if (!HaveTool(tool)) GTEST_SKIP() << tool << " is not installed";
  if (!FileExists(std::string(SONARVEX_BIN_DIR) + "/" + kMp3DecoderLibraryName))
    GTEST_SKIP() << "libkelpra.so is not built";
  std::vector<Expect> rows;
  int rc = 1;
  auto source = [&](int seed, std::size_t sectors) {
    return test::WriteCdWav(rig_.dir.File("src" + std::to_string(seed) + ".wav"), test::ToneAudio(seed, 2352 * sectors));
  };
  // What ffmpeg makes of a file in CD format.
  auto ffmpegCd = [](const std::string& path) { return Bytes(test::DecodeWithFfmpeg(path, "-ar 44100 -ac 2")); };

  // An MP3 file without a VBR (Xing/Info) header: the same bytes as our
  // decoder library gives.
  const std::string plain = rig_.dir.File("plain.mp3");
  test::Run("lame --quiet -t -b 160 " + test::Quote(source(1, 190)) + " " + test::Quote(plain), &rc);
  ASSERT_EQ(rc, 0);
  rows.push_back({plain, DecodeWithKelpra(plain, rig_.dir.File("plain-ref.wav")), 0});
  ASSERT_FALSE(rows.back().reference.empty());

  // MP3 at 22.05 kHz and in one channel: our decoder's PCM, made CD format
  // by ffmpeg (the 22.05 kHz track is within 34-35 dB of that).
  const std::string low = rig_.dir.File("low.mp3");
  test::Run("lame --quiet --resample 22.05 -b 64 " + test::Quote(source(2, 170)) + " " + test::Quote(low), &rc);
  ASSERT_EQ(rc, 0);
  DecodeWithKelpra(low, rig_.dir.File("low-ref.wav"));
  rows.push_back({low, ffmpegCd(rig_.dir.File("low-ref.wav")), 30});
  const std::string mono = rig_.dir.File("mono.mp3");
  test::Run("lame --quiet -m m -b 96 " + test::Quote(source(3, 160)) + " " + test::Quote(mono), &rc);
  ASSERT_EQ(rc, 0);
  DecodeWithKelpra(mono, rig_.dir.File("mono-ref.wav"));
  rows.push_back({mono, ffmpegCd(rig_.dir.File("mono-ref.wav")), 0});

  // Through FFmpeg: Opus (48 kHz inside), Ogg Vorbis of a 48 kHz source,
  // Vorbis in one channel, WMA.
  std::vector<std::string> missing;
  struct Encoded {
    const char* name;
    const char* options;
    int seed;
  };
  for (const Encoded& e : {Encoded{"a.opus", "-c:a libopus -b:a 128k", 4},
                           Encoded{"b48.ogg", "-ar 48000 -c:a libvorbis -q:a 6", 5},
                           Encoded{"c-mono.ogg", "-ac 1 -c:a libvorbis -q:a 6", 6},
                           Encoded{"d.wma", "-c:a wmav2 -b:a 192k", 7}}) {
    const std::string out = rig_.dir.File(e.name);
    if (!FfmpegEncode(source(e.seed, 150), e.options, out)) {
      missing.push_back(e.name);
      continue;
    }
    rows.push_back({out, ffmpegCd(out), 0});
    // An ASF file's play duration covers the encoder's last packet whole,
    // a few hundredths of a second past the audio it decodes to.
    if (std::string(e.name) == "d.wma") rows.back().slack = 2352 * 5;
  }
  // A FLAC file of one channel at 48 kHz: not CD format, so FFmpeg decodes
  // and resamples it as it does an Ogg file.
  if (HaveTool("flac")) {
    const std::string flacSrc = rig_.dir.File("e48.wav");
    test::WriteWav(flacSrc, test::Tone(48000 * 2, 1, 48000), MakePcmFormat(48000, 1));
    const std::string flac = rig_.dir.File("e48.flac");
    test::Run("flac -s -f -o " + test::Quote(flac) + " " + test::Quote(flacSrc), &rc);
    ASSERT_EQ(rc, 0);
    rows.push_back({flac, ffmpegCd(flac), 0});
  } else {
    missing.push_back("e48.flac (flac)");
  }
  BurnAndCompare(rows);
  if (!missing.empty()) {
    std::string names;
    for (const auto& m : missing) names += " " + m;
    GTEST_SKIP() << "not made (encoder or tool missing):" << names << "; the other rows were burned";
  }
}

TEST_F(AnyAudioBurnTest, AFileThatIsNoAudioIsRefusedWithItsNameAndReason) {
  CapturingDialogs said;
  Compilation c(rig_.dir.File("WCDDATF"), said);
  c.SetDecoderFolder(SONARVEX_BIN_DIR);
  // Not a file of any kind the recording takes.
  const std::string junk = rig_.dir.File("notes.mp3");
  WriteFileAtomically(junk, std::string(5000, 'x'));
  EXPECT_EQ(SniffTrackSource(junk), TrackSourceKind::None);
  EXPECT_FALSE(c.AddFile(junk, false));
  ASSERT_EQ(said.texts.size(), 1u);
  EXPECT_EQ(said.texts[0], "Не удалось прочитать файл '" + junk +
                               "': это не звуковой файл, который можно записать (WAV, FLAC, MP3, Ogg, Opus, WMA).");
  // An Ogg file that holds nothing past its first bytes: named with the
  // reason, not listed.
  const std::string ogg = rig_.dir.File("cut.ogg");
  WriteFileAtomically(ogg, std::string("OggS") + std::string(60, '\0'));
  EXPECT_FALSE(c.AddFile(ogg, false));
  ASSERT_EQ(said.texts.size(), 2u);
  EXPECT_EQ(said.texts[1].find("Не удалось прочитать файл '" + ogg + "': "), 0u) << said.texts[1];
  // A file that is not there is left out silently, as before.
  EXPECT_FALSE(c.AddFile(rig_.dir.File("gone.flac"), false));
  EXPECT_EQ(said.texts.size(), 2u);
  EXPECT_TRUE(c.Rows().empty());
}

// An MP3 file whose VBR header promises far more frames than the file
// holds (cut short after it was encoded): its decoded audio ends early, and
// reading it fails instead of making the rest of the track silence.
TEST_F(AnyAudioBurnTest, AnMp3CutShortFailsInsteadOfBecomingSilence) {
  if (!HaveTool("lame")) GTEST_SKIP() << "lame is not installed";
  if (!FileExists(std::string(SONARVEX_BIN_DIR) + "/" + kMp3DecoderLibraryName))
    GTEST_SKIP() << "libkelpra.so is not built";
  const std::string src = test::WriteCdWav(rig_.dir.File("s.wav"), test::ToneAudio(5, 2352 * 600));
  const std::string mp3 = rig_.dir.File("s.mp3");
  int rc = 1;
  test::Run("lame --quiet -b 128 " + test::Quote(src) + " " + test::Quote(mp3), &rc);
  ASSERT_EQ(rc, 0);
  auto bytes = test::ReadAll(mp3);
  bytes.resize(bytes.size() / 3);
  test::WriteAll(mp3, bytes);
  std::string why;
  auto source = TrackSource::Open(mp3, SONARVEX_BIN_DIR, &why);
  ASSERT_NE(source, nullptr) << why;
  EXPECT_GT(source->Bytes(), 2352u * 590);  // as the VBR header says
  std::vector<std::uint8_t> block(2352 * 25);
  std::uint32_t got = 0;
  bool ok = true;
  std::uint64_t total = 0;
  while ((ok = source->Read(block.data(), static_cast<std::uint32_t>(block.size()), &got)) && got > 0) total += got;
  EXPECT_FALSE(ok);
  EXPECT_LT(total, source->Bytes());
  EXPECT_EQ(source->Error(), "Не удалось прочитать файл '" + mp3 +
                                 "': файл обрезан или повреждён: звука меньше, чем говорят его заголовки.");
}

TEST(TrackSourceNames, TheCompilationTakesTheseExtensions) {
  for (const char* name : {"a.wav", "b.FLAC", "c.mp3", "d.ogg", "e.oga", "f.opus", "g.WMA"})
    EXPECT_TRUE(IsCompilationAudioName(name)) << name;
  for (const char* name : {"a.txt", "b.cue", "mp3", "dir.mp3/file"}) EXPECT_FALSE(IsCompilationAudioName(name)) << name;
}

}  // namespace
}  // namespace sonarvex

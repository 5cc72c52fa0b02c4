// Ogg Opus output checked with the peer tools: opusinfo must accept the
// stream, ffprobe must read it as Opus at 48000 Hz with its tags and its
// cover, and ffmpeg's decoding must give back the source within what a lossy
// codec changes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "codec/DynamicLibrary.h"
#include "codec/EncoderSet.h"
#include "codec/FormatRegistry.h"
#include "codec/OpusWriter.h"
#include "platform/Files.h"
#include "platform/IniStore.h"
#include "platform/ScriptedDialogs.h"
#include "records/CoverImage.h"
#include "tests/codec/CodecTestUtil.h"
#include "tests/codec/SignalCompare.h"

namespace sonarvex {
namespace {

bool Have(const char* tool) {
  int rc = -1;
  test::Run(std::string("command -v ") + tool + " >/dev/null", &rc);
  return rc == 0;
}

SettingsRecord Defaults() {
  SettingsRecord s{};
  ApplyFirstStartDefaults(s, "/tmp/");
  return s;
}

// A tone with some noise: music-like material that fills the bitrate.
std::vector<std::int16_t> Material(std::size_t frames) {
  auto pcm = test::Tone(frames, 2);
  std::uint32_t x = 4242;
  for (auto& v : pcm) {
    x = x * 1664525u + 1013904223u;
    v = static_cast<std::int16_t>(v + static_cast<std::int16_t>((x >> 16) % 3001) - 1500);
  }
  return pcm;
}

std::uint64_t SizeOf(const std::string& path) { return test::ReadAll(path).size(); }

class OpusWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!OpusWriter().Available()) GTEST_SKIP() << kOpusEncLibraryName << " cannot be loaded";
    pcm_ = Material(44100 * 3 / 2 + 123);
    wav_ = dir_.File("src.wav");
    test::WriteWav(wav_, pcm_, CdAudioFormat);
  }
  test::TempDir dir_;
  std::vector<std::int16_t> pcm_;
  std::string wav_;
};

TEST_F(OpusWriterTest, ConvertedFilePlaysDecodesCloseToTheSourceAndCarriesTagsAndCover) {
  if (!Have("ffprobe") || !Have("ffmpeg") || !Have("opusinfo"))
    GTEST_SKIP() << "ffprobe, ffmpeg or opusinfo is not installed";
  // A small real picture for the cover.
  const std::string png = dir_.File("cover.png");
  test::Run("ffmpeg -v error -f lavfi -i color=c=red:s=16x16 -frames:v 1 -y " + test::Quote(png));
  auto cover = std::make_shared<CoverImage>();
  ASSERT_TRUE(ReadCoverImage(test::ReadAll(png), *cover));

  SettingsRecord s = Defaults();
  ScriptedDialogs dialogs;
  EncoderSet enc(s, dialogs);
  TrackTags tag;
  tag.Record.TagsOn = 1;
  tag.Set(TagField::Title, "Песня о 東京");
  tag.Set(TagField::Artist, "Кино");
  tag.Set(TagField::Album, "Группа крови");
  tag.Set(TagField::TrackNumber, "3");
  FormatOptions options;
  options.cover = cover;
  const std::string out = dir_.File("песня.opus");
  const WriteResult r = enc.ConvertFile(wav_, out, tag, OutputKind::Opus, options);
  ASSERT_TRUE(r.Ok()) << r.message;

  int rc = -1;
  const std::string info = test::Run("opusinfo " + test::Quote(out) + " 2>&1", &rc);
  EXPECT_EQ(rc, 0) << info;
  const std::string probe = test::Run(
      "ffprobe -v error -select_streams a:0 -show_entries stream=codec_name,sample_rate,channels "
      "-of default=nw=1 " + test::Quote(out));
  EXPECT_EQ(test::ProbeValue(probe, "codec_name"), "opus") << probe;
  EXPECT_EQ(test::ProbeValue(probe, "sample_rate"), "48000") << probe;
  EXPECT_EQ(test::ProbeValue(probe, "channels"), "2") << probe;
  // The header's output gain is left at 0 (loudness goes into R128 tags).
  EXPECT_NE(info.find("Playback gain: 0 dB"), std::string::npos) << info;

  // Tags as Vorbis comments, in full UTF-8.
  const std::string tags = test::Run("ffprobe -v error -show_entries stream_tags:format_tags "
                                     "-of default=nw=1 " + test::Quote(out));
  EXPECT_NE(tags.find("TAG:TITLE=Песня о 東京"), std::string::npos) << tags;
  EXPECT_NE(tags.find("TAG:ARTIST=Кино"), std::string::npos) << tags;
  EXPECT_NE(tags.find("TAG:ALBUM=Группа крови"), std::string::npos) << tags;
  // The cover: a METADATA_BLOCK_PICTURE comment that ffprobe shows as the
  // file's attached picture, the PNG it was made from.
  EXPECT_NE(test::Run("grep -c METADATA_BLOCK_PICTURE= " + test::Quote(out)), "0\n");
  const std::string pictures = test::Run(
      "ffprobe -v error -select_streams v -show_entries stream=codec_name,width,height:"
      "stream_disposition=attached_pic -of default=nw=1 " + test::Quote(out));
  EXPECT_EQ(test::ProbeValue(pictures, "codec_name"), "png") << pictures;
  EXPECT_EQ(test::ProbeValue(pictures, "width"), "16") << pictures;
  EXPECT_EQ(test::ProbeValue(pictures, "DISPOSITION:attached_pic"), "1") << pictures;

  // Decoded back at the source's rate: the same length (within one 20 ms
  // Opus frame) and close to the source.
  const auto decoded = test::DecodeWithFfmpeg(out, "-ar 44100 -ac 2");
  const long frames = static_cast<long>(pcm_.size() / 2);
  EXPECT_NEAR(static_cast<long>(decoded.size() / 2), frames, 882);
  EXPECT_GT(test::BestSnrDb(pcm_, decoded, 2, 2000), 12.0);
  EXPECT_TRUE(dialogs.Clean());
}

TEST_F(OpusWriterTest, TheBitrateComesFromTheIniStoreAndSetsTheFilesSize) {
  // The store's value reaches the writer through the format's option; a
  // value out of range gives the default.
  test::TempDir settings;
  IniStore ini(settings.File("sonarvex.ini"));
  EXPECT_EQ(StoredFormatOptions(ini).Value(kOpusBitrateOption), 160);
  StoreOptionValue(ini, kOpusBitrateOption, 32);
  const FormatOptions low = StoredFormatOptions(ini);
  EXPECT_EQ(low.Value(kOpusBitrateOption), 32);
  ini.SetInt("Opus", "Bitrate", 900);
  EXPECT_EQ(StoredFormatOptions(ini).Value(kOpusBitrateOption), 160);

  SettingsRecord s = Defaults();
  ScriptedDialogs dialogs;
  EncoderSet enc(s, dialogs);
  const std::string small = dir_.File("32.opus"), big = dir_.File("256.opus");
  ASSERT_TRUE(enc.ConvertFile(wav_, small, nullptr, OutputKind::Opus, low).Ok());
  FormatOptions high;
  // The command line's --bitrate goes through the format's descriptor.
  const OutputFormat& opus = FormatFor(OutputKind::Opus);
  ASSERT_NE(opus.setBitrate, nullptr);
  ASSERT_FALSE(opus.setBitrate(s, high, 256));
  EXPECT_EQ(high.Value(kOpusBitrateOption), 256);
  ASSERT_TRUE(enc.ConvertFile(wav_, big, nullptr, OutputKind::Opus, high).Ok());
  const double seconds = static_cast<double>(pcm_.size() / 2) / 44100;
  // Each file near its bitrate (the headers and Ogg pages add a little).
  EXPECT_NEAR(SizeOf(small) * 8 / seconds / 1000, 32, 12);
  EXPECT_NEAR(SizeOf(big) * 8 / seconds / 1000, 256, 60);
  // The expected size of the track list follows the bitrate last used.
  EXPECT_NEAR(opus.expectedRatio(s, enc), 1411.2 / 256, 0.01);

  // Bitrates the encoder does not take are refused, saying which it does.
  for (int kbits : {0, 5, 511, 1000}) {
    FormatOptions o;
    EXPECT_EQ(opus.setBitrate(s, o, kbits).value_or(""),
              "Opus пишется с битрейтом от 6 до 510 кбит/с.")
        << kbits;
    EXPECT_TRUE(o.values.empty());
  }
}

TEST_F(OpusWriterTest, StreamedWritesCancelAndFailuresLeaveNothingBehind) {
  OpusWriter w;
  // Something already at the name is never written over.
  const std::string taken = dir_.File("taken.opus");
  test::WriteAll(taken, {1, 2, 3});
  WriteResult r = w.Open(nullptr, taken);
  EXPECT_TRUE(r.Failed());
  EXPECT_NE(r.message.find(taken), std::string::npos) << r.message;
  EXPECT_EQ(test::ReadAll(taken), (std::vector<std::uint8_t>{1, 2, 3}));
  EXPECT_EQ(w.Write("abcd", 4).message, "Файл Opus не открыт.");
  EXPECT_EQ(w.Close().message, "Файл Opus не открыт.");

  // Streamed in chunks of odd sizes: a whole file.
  const std::string streamed = dir_.File("streamed.opus");
  ASSERT_TRUE(w.Open(nullptr, streamed).Ok());
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(pcm_.data());
  const std::size_t total = pcm_.size() * 2;
  for (std::size_t at = 0, step = 4 * 7; at < total; at += step, step = step * 3 % 40000 + 4)
    ASSERT_TRUE(w.Write(bytes + at, std::min(step, total - at)).Ok());
  ASSERT_TRUE(w.Close().Ok());
  EXPECT_EQ(test::ReadAll(streamed).size() > 1000, true);
  if (Have("opusinfo")) {
    int rc = -1;
    test::Run("opusinfo " + test::Quote(streamed) + " >/dev/null 2>&1", &rc);
    EXPECT_EQ(rc, 0);
  }

  // Aborting deletes the file being written.
  const std::string aborted = dir_.File("aborted.opus");
  ASSERT_TRUE(w.Open(nullptr, aborted).Ok());
  ASSERT_TRUE(w.Write(pcm_.data(), 44100).Ok());
  w.Abort();
  EXPECT_FALSE(FileExists(aborted));
  EXPECT_FALSE(w.IsOpen());

  // A cancel through the progress routine leaves nothing.
  int calls = 0;
  w.SetProgress([&](std::uint32_t, std::uint32_t, bool* cancel, int) {
    if (cancel != nullptr && ++calls == 2) *cancel = true;
  });
  const std::string cancelled = dir_.File("cancelled.opus");
  EXPECT_TRUE(w.ConvertFile(wav_, cancelled, nullptr).Cancelled());
  EXPECT_FALSE(FileExists(cancelled));
  w.SetProgress({});

  // A file that can no longer grow: the failure names the file and nothing stays.
  const std::string full = dir_.File("full.opus");
  WriteResult failed;
  {
    test::FileSizeLimit limit(8 * 1024);
    failed = w.ConvertFile(wav_, full, nullptr);
  }
  EXPECT_TRUE(failed.Failed());
  EXPECT_NE(failed.message.find(full), std::string::npos) << failed.message;
  EXPECT_FALSE(FileExists(full));
  EXPECT_FALSE(w.IsOpen());
}

TEST(OpusLibraryTest, AMissingLibraryDisablesOnlyOpusAndSaysSo) {
  test::TempDir dir;
  SettingsRecord s = Defaults();
  ScriptedDialogs dialogs;
  CodecLibraryNames names;
  names.OpusEnc = "libopusenc-missing.so.99";
  EncoderSet enc(s, dialogs, names);
  EXPECT_FALSE(enc.Available(OutputKind::Opus));
  const WriteResult r = enc.Open(nullptr, dir.File("a.opus"), OutputKind::Opus);
  EXPECT_EQ(r.message, "Кодирование в Opus невозможно т.к. библиотека libopusenc не установлена.");
  EXPECT_EQ(FormatFor(OutputKind::Opus).missingText, r.message);
  EXPECT_FALSE(enc.IsOpen());
  EXPECT_FALSE(FileExists(dir.File("a.opus")));
  EXPECT_EQ(enc.WriterFor(OutputKind::Opus), &enc.Opus());
  EXPECT_TRUE(dialogs.Clean());
}

}  // namespace
}  // namespace sonarvex

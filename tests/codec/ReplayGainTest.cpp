// ReplayGain: the loudness measured against libebur128's and ffmpeg's EBU
// R 128 meters, the
// tag texts, and the tags set afterwards in finished FLAC, Ogg Vorbis and
// MP3 files, checked with the peer tools (metaflac, flac, vorbiscomment,
// ogginfo, mutagen-inspect, ffmpeg); each check skips when its tool is
// missing.
#include <ebur128.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <cstring>
#include <optional>

#include "codec/FileTagUpdate.h"
#include "codec/FlacWriter.h"
#include "codec/LameWriter.h"
#include "codec/ReplayGain.h"
#include "codec/VorbisWriter.h"
#include "platform/ScriptedDialogs.h"
#include "records/SettingsRecord.h"
#include "tests/codec/CodecTestUtil.h"

namespace sonarvex {
namespace {

bool Have(const std::string& tool) {
  int rc = -1;
  test::Run("command -v " + tool + " >/dev/null", &rc);
  return rc == 0;
}

// A tone with noise at `amplitude`, so that the loudness is not trivial.
std::vector<std::int16_t> Music(std::size_t frames, double amplitude, std::uint32_t seed) {
  auto tone = test::Tone(frames, 2, 44100, amplitude);
  std::uint32_t x = seed;
  for (auto& v : tone) {
    x = x * 1664525u + 1013904223u;
    const int noise = static_cast<int>((x >> 16) % 2001) - 1000;
    v = static_cast<std::int16_t>(std::clamp<int>(v + noise * amplitude / 12000, -32768, 32767));
  }
  return tone;
}

// The integrated loudness ffmpeg's ebur128 filter gives raw CD audio.
std::optional<double> FfmpegLoudness(const std::string& raw) {
  const std::string out = test::Run("ffmpeg -hide_banner -nostats -f s16le -ar 44100 -ac 2 -i " +
                                    test::Quote(raw) + " -af ebur128 -f null - 2>&1");
  const auto summary = out.rfind("Integrated loudness:");
  if (summary == std::string::npos) return std::nullopt;
  const auto i = out.find("I:", summary);
  if (i == std::string::npos) return std::nullopt;
  return std::strtod(out.c_str() + i + 2, nullptr);
}

std::vector<std::uint8_t> Bytes(const std::vector<std::int16_t>& s) {
  std::vector<std::uint8_t> b(s.size() * 2);
  std::memcpy(b.data(), s.data(), b.size());
  return b;
}

TEST(ReplayGainTest, TextsAreWhatPlayersRead) {
  EXPECT_EQ(ReplayGainText(-6.5249), "-6.52 dB");
  EXPECT_EQ(ReplayGainText(3.1), "+3.10 dB");
  EXPECT_EQ(ReplayGainText(-0.001), "+0.00 dB");
  EXPECT_EQ(ReplayGainPeakText(0.98852539), "0.988525");
  EXPECT_EQ(ReplayGainPeakText(1.0), "1.000000");
  // -23 LUFS is 0; -16.48 LUFS is 6.52 dB too loud: -1669/256.
  EXPECT_EQ(R128GainText(-23), "0");
  EXPECT_EQ(R128GainText(-16.48), "-1669");
  EXPECT_EQ(R128GainText(-300), "32767");
  ReplayGainValues v;
  v.trackGain = -6.52;
  v.trackPeak = 0.5;
  EXPECT_EQ(ReplayGainTags(v).size(), 2u) << "no album values before the album is known";
  v.album = true;
  v.albumGain = -7.0;
  v.albumPeak = 0.75;
  const auto tags = ReplayGainTags(v);
  ASSERT_EQ(tags.size(), 4u);
  EXPECT_EQ(tags[2].first, "REPLAYGAIN_ALBUM_GAIN");
  EXPECT_EQ(tags[2].second, "-7.00 dB");
  EXPECT_EQ(tags[3].second, "0.750000");
}

TEST(ReplayGainTest, SilenceHasNoGainAndPeaksAreSamplePeaks) {
  LoudnessMeter silent;
  std::vector<std::uint8_t> zeros(44100 * 4 * 2);
  silent.Add(zeros.data(), zeros.size());
  EXPECT_FALSE(silent.Loudness());
  EXPECT_EQ(silent.Peak(), 0.0);
  LoudnessMeter loud;
  auto music = Music(44100 * 2, 8000, 1);
  music[1001] = -32768;  // one full-scale sample of the right channel
  const auto bytes = Bytes(music);
  loud.Add(bytes.data(), bytes.size());
  EXPECT_DOUBLE_EQ(loud.Peak(), 1.0);
}

TEST(ReplayGainTest, TrackAndAlbumLoudnessAgreeWithFfmpeg) {
  if (!Have("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
  test::TempDir dir;
  // Tracks of some length, as the album's blocks are gated per track: the
  // few blocks that would straddle the tracks' boundary count for little.
  const auto quiet = Bytes(Music(44100 * 30, 5000, 7));
  const auto loud = Bytes(Music(44100 * 20, 14000, 9));
  LoudnessMeter a, b;
  // In the pieces the rip reads (26 sectors), the last one short.
  for (std::size_t at = 0; at < quiet.size(); at += 26 * 2352)
    a.Add(quiet.data() + at, std::min<std::size_t>(26 * 2352, quiet.size() - at));
  b.Add(loud.data(), loud.size());
  test::WriteAll(dir.File("a.raw"), quiet);
  test::WriteAll(dir.File("b.raw"), loud);
  std::vector<std::uint8_t> both = quiet;
  both.insert(both.end(), loud.begin(), loud.end());
  test::WriteAll(dir.File("ab.raw"), both);
  const auto la = FfmpegLoudness(dir.File("a.raw")), lb = FfmpegLoudness(dir.File("b.raw")),
             lab = FfmpegLoudness(dir.File("ab.raw"));
  ASSERT_TRUE(la && lb && lab);
  ASSERT_TRUE(a.Loudness() && b.Loudness());
  EXPECT_NEAR(*a.Loudness(), *la, 0.1);
  EXPECT_NEAR(*b.Loudness(), *lb, 0.1);
  const auto album = AlbumLoudness({&a, &b});
  ASSERT_TRUE(album);
  EXPECT_NEAR(*album, *lab, 0.1);
  EXPECT_GT(std::abs(*album - *a.Loudness()), 1) << "the material differs enough to tell";
}

// libebur128's integrated loudness and sample peak of the same audio, fed in
// the same pieces.
struct Reference {
  std::optional<double> loudness;
  double peak = 0;
};
Reference Ebur128Of(const std::vector<std::vector<std::int16_t>>& tracks, unsigned channels,
                    unsigned rate, std::optional<double>* album = nullptr) {
  std::vector<ebur128_state*> states;
  Reference last;
  for (const auto& samples : tracks) {
    ebur128_state* st = ebur128_init(channels, rate, EBUR128_MODE_I | EBUR128_MODE_SAMPLE_PEAK);
    const std::size_t frames = samples.size() / channels;
    for (std::size_t at = 0; at < frames; at += 6000)
      ebur128_add_frames_short(st, samples.data() + at * channels, std::min<std::size_t>(6000, frames - at));
    double l = 0;
    last.loudness.reset();
    if (ebur128_loudness_global(st, &l) == EBUR128_SUCCESS && std::isfinite(l)) last.loudness = l;
    last.peak = 0;
    for (unsigned c = 0; c < channels; ++c) {
      double p = 0;
      ebur128_sample_peak(st, c, &p);
      last.peak = std::max(last.peak, p);
    }
    states.push_back(st);
  }
  if (album) {
    double l = 0;
    album->reset();
    if (ebur128_loudness_global_multiple(states.data(), states.size(), &l) == EBUR128_SUCCESS &&
        std::isfinite(l))
      *album = l;
  }
  for (ebur128_state* st : states) ebur128_destroy(&st);
  return last;
}

// Our meter gives what libebur128 gives to a hundredth of a decibel or
// better (the tags' precision): stereo at CD rate fed in uneven pieces, mono,
// 48 kHz, a fade into silence (the filters ring out), audio shorter than one
// block, and the album of tracks of different loudness.
TEST(ReplayGainTest, LoudnessEqualsLibebur128s) {
  auto music = Music(44100 * 7 + 123, 9000, 5);
  for (std::size_t i = 44100 * 4 * 2; i < music.size(); ++i) music[i] = 0;  // silence after 4 s
  auto quiet = Music(44100 * 12, 1500, 6);
  quiet[777] = 32767;
  auto shortOne = Music(44100 / 4, 9000, 8);  // 250 ms: no whole block
  std::vector<std::int16_t> mono(44100 * 3);
  for (std::size_t i = 0; i < mono.size(); ++i)
    mono[i] = static_cast<std::int16_t>(6000 * std::sin(i * 0.05) + 3000 * std::sin(i * 0.3));
  auto at48k = Music(48000 * 3, 7000, 9);

  struct Case {
    const char* name;
    const std::vector<std::int16_t>* samples;
    unsigned channels, rate;
  } cases[] = {{"stereo with silence", &music, 2, 44100}, {"quiet", &quiet, 2, 44100},
               {"short", &shortOne, 2, 44100},            {"mono", &mono, 1, 44100},
               {"48 kHz", &at48k, 2, 48000}};
  for (const Case& c : cases) {
    LoudnessMeter ours(c.channels, c.rate);
    const auto bytes = Bytes(*c.samples);
    for (std::size_t at = 0; at < bytes.size(); at += 26 * 2352 + 8)
      ours.Add(bytes.data() + at, std::min<std::size_t>(26 * 2352 + 8, bytes.size() - at));
    const Reference ref = Ebur128Of({*c.samples}, c.channels, c.rate);
    ASSERT_EQ(ours.Loudness().has_value(), ref.loudness.has_value()) << c.name;
    if (ref.loudness) {
      EXPECT_NEAR(*ours.Loudness(), *ref.loudness, 0.001) << c.name;
    }
    EXPECT_DOUBLE_EQ(ours.Peak(), ref.peak) << c.name;
  }

  LoudnessMeter a, b;
  const auto ba = Bytes(music), bb = Bytes(quiet);
  a.Add(ba.data(), ba.size());
  b.Add(bb.data(), bb.size());
  std::optional<double> album;
  Ebur128Of({music, quiet}, 2, 44100, &album);
  ASSERT_TRUE(album);
  ASSERT_TRUE(AlbumLoudness({&a, &b}));
  EXPECT_NEAR(*AlbumLoudness({&a, &b}), *album, 0.001);
  EXPECT_GT(std::abs(*album - *a.Loudness()), 1) << "the tracks differ enough to tell";
}

class FileTagUpdateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wav_ = dir_.File("in.wav");
    music_ = Music(44100 * 2, 9000, 3);
    test::WriteWav(wav_, music_, CdAudioFormat);
    tag_.TagsOn = 1;
    std::strcpy(tag_.Title, "Tone");
    std::strcpy(tag_.Artist, "Band");
  }
  static off_t SizeOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_size : -1;
  }

  test::TempDir dir_;
  std::string wav_;
  std::vector<std::int16_t> music_;
  TrackTagRecord tag_{};
  const TagPairs gains_ = {{"REPLAYGAIN_TRACK_GAIN", "-6.52 dB"},
                           {"REPLAYGAIN_TRACK_PEAK", "0.988525"},
                           {"REPLAYGAIN_ALBUM_GAIN", "-7.10 dB"},
                           {"REPLAYGAIN_ALBUM_PEAK", "1.000000"}};
};

TEST_F(FileTagUpdateTest, FlacTagsGoIntoThePaddingAndElseTheFileIsWrittenAnew) {
  FlacWriter w;
  if (!w.Available() || !Have("metaflac") || !Have("flac")) GTEST_SKIP() << "no libFLAC or flac tools";
  const std::string out = dir_.File("t.flac");
  ASSERT_TRUE(w.ConvertFile(wav_, out, &tag_).Ok());
  const off_t before = SizeOf(out);
  const std::string md5 = test::Run("metaflac --show-md5sum " + test::Quote(out));
  ASSERT_TRUE(SetFlacComments(out, gains_).Ok());
  EXPECT_EQ(SizeOf(out), before) << "rewritten in place, within the padding";
  // Set again with another value: replaced, not added.
  ASSERT_TRUE(SetFlacComments(out, {{"replaygain_track_gain", "-1.00 dB"}}).Ok());
  std::string tags = test::Run("metaflac --export-tags-to=- " + test::Quote(out));
  EXPECT_NE(tags.find("TITLE=Tone\n"), std::string::npos) << tags;
  EXPECT_NE(tags.find("replaygain_track_gain=-1.00 dB\n"), std::string::npos) << tags;
  EXPECT_EQ(tags.find("REPLAYGAIN_TRACK_GAIN="), std::string::npos) << tags;
  EXPECT_NE(tags.find("REPLAYGAIN_ALBUM_GAIN=-7.10 dB\n"), std::string::npos) << tags;
  EXPECT_NE(tags.find("REPLAYGAIN_ALBUM_PEAK=1.000000\n"), std::string::npos) << tags;
  int rc = -1;
  test::Run("flac -t -s " + test::Quote(out) + " 2>&1", &rc);
  EXPECT_EQ(rc, 0);
  // More than the padding holds: the file is written anew, the audio unchanged.
  ASSERT_TRUE(SetFlacComments(out, {{"COMMENT", std::string(10000, 'x')}}).Ok());
  EXPECT_GT(SizeOf(out), before + 10000);
  test::Run("flac -t -s " + test::Quote(out) + " 2>&1", &rc);
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(test::Run("metaflac --show-md5sum " + test::Quote(out)), md5);
  tags = test::Run("metaflac --export-tags-to=- " + test::Quote(out));
  EXPECT_NE(tags.find("REPLAYGAIN_ALBUM_GAIN=-7.10 dB\n"), std::string::npos) << tags;
  EXPECT_FALSE(test::ReadAll(dir_.File("t.flac.tags.part")).size()) << "no file left beside it";
  // Not a FLAC file: refused, untouched.
  test::WriteAll(dir_.File("x.flac"), {'a', 'b', 'c', 'd', 'e'});
  const WriteResult r = SetFlacComments(dir_.File("x.flac"), gains_);
  EXPECT_TRUE(r.Failed());
  EXPECT_NE(r.message.find("x.flac"), std::string::npos) << r.message;
  EXPECT_EQ(test::ReadAll(dir_.File("x.flac")).size(), 5u);
}

TEST_F(FileTagUpdateTest, OggCommentsAreSetAndLongOnesRepaginateTheStream) {
  VorbisWriter w;
  if (!w.Available() || !Have("vorbiscomment") || !Have("ogginfo") || !Have("ffmpeg"))
    GTEST_SKIP() << "no Vorbis libraries or vorbis-tools/ffmpeg";
  SettingsRecord s{};
  ApplyFirstStartDefaults(s, "/tmp/");
  w.Configure(s);
  const std::string out = dir_.File("t.ogg");
  ASSERT_TRUE(w.ConvertFile(wav_, out, &tag_).Ok());
  const auto decoded = test::DecodeWithFfmpeg(out);
  ASSERT_TRUE(SetOggComments(out, gains_).Ok());
  std::string list = test::Run("vorbiscomment -l " + test::Quote(out));
  EXPECT_NE(list.find("TITLE=Tone\n"), std::string::npos) << list;
  EXPECT_NE(list.find("REPLAYGAIN_TRACK_GAIN=-6.52 dB\n"), std::string::npos) << list;
  EXPECT_NE(list.find("REPLAYGAIN_ALBUM_PEAK=1.000000\n"), std::string::npos) << list;
  int rc = -1;
  std::string info = test::Run("ogginfo " + test::Quote(out) + " 2>&1", &rc);
  EXPECT_EQ(rc, 0) << info;
  // A comment larger than a page: the header takes more pages, the audio
  // pages are renumbered, and everything still decodes to the same samples.
  ASSERT_TRUE(SetOggComments(out, {{"REPLAYGAIN_TRACK_GAIN", "-3.00 dB"},
                                   {"COMMENT", std::string(200000, 'y')}})
                  .Ok());
  info = test::Run("ogginfo " + test::Quote(out) + " 2>&1", &rc);
  EXPECT_EQ(rc, 0) << info;
  EXPECT_EQ(info.find("WARNING"), std::string::npos) << info;
  list = test::Run("vorbiscomment -l " + test::Quote(out));
  EXPECT_NE(list.find("REPLAYGAIN_TRACK_GAIN=-3.00 dB\n"), std::string::npos);
  EXPECT_EQ(list.find("REPLAYGAIN_TRACK_GAIN=-6.52 dB"), std::string::npos);
  EXPECT_NE(list.find("REPLAYGAIN_ALBUM_GAIN=-7.10 dB\n"), std::string::npos);
  EXPECT_EQ(test::DecodeWithFfmpeg(out), decoded);
}

TEST_F(FileTagUpdateTest, Mp3GetsTxxxFramesWithOrWithoutATag) {
  ScriptedDialogs dialogs;
  LameWriter w(dialogs);
  if (!w.Available() || !Have("mutagen-inspect") || !Have("ffmpeg"))
    GTEST_SKIP() << "no LAME or mutagen/ffmpeg";
  SettingsRecord s{};
  ApplyFirstStartDefaults(s, "/tmp/");
  w.Configure(s);
  for (bool tagged : {true, false}) {
    TrackTagRecord tag = tag_;
    tag.TagsOn = tagged ? 1 : 0;
    const std::string out = dir_.File(tagged ? "t.mp3" : "plain.mp3");
    ASSERT_TRUE(w.ConvertFile(wav_, out, &tag).Ok());
    const auto decoded = test::DecodeWithFfmpeg(out);
    ASSERT_TRUE(SetId3v2UserTexts(out, gains_).Ok());
    ASSERT_TRUE(SetId3v2UserTexts(out, {{"REPLAYGAIN_TRACK_GAIN", "-2.00 dB"}}).Ok());
    const std::string inspect = test::Run("mutagen-inspect " + test::Quote(out));
    EXPECT_NE(inspect.find("TXXX=REPLAYGAIN_TRACK_GAIN=-2.00 dB"), std::string::npos) << inspect;
    EXPECT_EQ(inspect.find("-6.52 dB"), std::string::npos) << inspect;
    EXPECT_NE(inspect.find("TXXX=REPLAYGAIN_ALBUM_GAIN=-7.10 dB"), std::string::npos) << inspect;
    if (tagged) {
      EXPECT_NE(inspect.find("TIT2=Tone"), std::string::npos) << inspect;
    }
    EXPECT_EQ(test::DecodeWithFfmpeg(out), decoded);
  }
}

}  // namespace
}  // namespace sonarvex

// The registry of output formats: every format is found by its kind, its
// command-line name and its extension; its writer factory makes files its
// reader accepts, with the options given (FLAC's level and the disc's
// tags, the settings' bitrates); availability follows the libraries; the
// manual and the shell completion name the formats the registry has.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>

#include "codec/AcmMp3Driver.h"
#include "codec/DynamicLibrary.h"
#include "codec/EncoderSet.h"
#include "codec/FlacReader.h"
#include "codec/FlacWriter.h"
#include "codec/FormatRegistry.h"
#include "codec/WavSourceReader.h"
#include "codec/WmaWriter.h"
#include "platform/ScriptedDialogs.h"
#include "tests/codec/CodecTestUtil.h"

namespace sonarvex {
namespace {

SettingsRecord Defaults() {
  SettingsRecord s{};
  ApplyFirstStartDefaults(s, "/tmp/");
  s.NormalizeEnabled = 0;
  return s;
}

// Noise-like stereo material, so that the FLAC levels differ in their output.
std::vector<std::int16_t> Material(std::size_t frames) {
  auto pcm = test::Tone(frames, 2);
  std::uint32_t x = 2024;
  for (auto& v : pcm) {
    x = x * 1664525u + 1013904223u;
    v = static_cast<std::int16_t>(v + static_cast<std::int16_t>((x >> 16) % 1601) - 800);
  }
  return pcm;
}

std::string Text(const std::vector<std::uint8_t>& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

bool StartsWith(const std::vector<std::uint8_t>& bytes, std::string_view magic) {
  return bytes.size() >= magic.size() && std::memcmp(bytes.data(), magic.data(), magic.size()) == 0;
}

TEST(FormatRegistryTest, EveryFormatIsFoundByItsKindItsNameAndItsExtension) {
  std::set<std::string> names, extensions, actions;
  std::set<int> kinds, positions;
  for (const OutputFormat& f : OutputFormats()) {
    SCOPED_TRACE(f.name);
    EXPECT_EQ(FindFormat(f.kind), &f);
    EXPECT_EQ(&FormatFor(f.kind), &f);
    EXPECT_EQ(FindFormatByName(f.name), &f);
    EXPECT_EQ(FindFormatByExtension(f.extension), &f);
    // Without its dot and in capitals, as file names may have it.
    std::string upper = std::string(f.extension).substr(1);
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_EQ(FindFormatByExtension(upper), &f);
    EXPECT_TRUE(names.insert(f.name).second);
    EXPECT_TRUE(extensions.insert(f.extension).second);
    EXPECT_TRUE(actions.insert(f.menu.action).second);
    EXPECT_TRUE(kinds.insert(static_cast<int>(f.kind)).second);
    EXPECT_TRUE(positions.insert(f.menu.position).second);
    EXPECT_FALSE(f.encoders.empty());
  }
  // Every kind the enum has, and the command line's order of them.
  EXPECT_EQ(kinds, (std::set<int>{0, 1, 2, 3, 4, 5}));
  EXPECT_EQ(JoinFormatNames("|", "|"), "wav|mp3|ogg|wma|flac|opus");
  EXPECT_EQ(JoinFormatNames(", ", " or "), "wav, mp3, ogg, wma, flac or opus");
  std::vector<std::string> menu;
  for (const OutputFormat* f : GrabMenuFormats()) menu.push_back(f->menu.action);
  EXPECT_EQ(menu, (std::vector<std::string>{"MP3", "OGG1", "WMA1", "WAVE1", "FLAC1", "OPUS1"}));
}

TEST(FormatRegistryTest, UnknownNamesExtensionsAndKindsAreRefused) {
  for (const char* name : {"", "FLAC", "Mp3", "Opus", "aiff", "wav ", "fla", ".flac"})
    EXPECT_EQ(FindFormatByName(name), nullptr) << name;
  for (const char* ext : {"", ".", "opu", ".aiff", "fla", ".flac.part", "..wav", "wave"})
    EXPECT_EQ(FindFormatByExtension(ext), nullptr) << ext;
  EXPECT_EQ(FindFormat(static_cast<OutputKind>(6)), nullptr);
  EXPECT_EQ(FindFormat(static_cast<OutputKind>(255)), nullptr);
  // A value no format has is taken as WAV where one is needed.
  EXPECT_EQ(FormatFor(static_cast<OutputKind>(9)).kind, OutputKind::Wav);
  for (int v : {-1, 6, 256, 260}) EXPECT_EQ(FormatForValue(v).kind, OutputKind::Wav) << v;
  EXPECT_EQ(FormatForValue(4).kind, OutputKind::Flac);
  EXPECT_EQ(FormatForValue(5).kind, OutputKind::Opus);
  // The settings record stores neither: its value 5 means WAV there.
  EXPECT_EQ(OutputKindFromRecord(5), OutputKind::Wav);
}

TEST(FormatRegistryTest, TheRecordsKindsMeanWhatTheSettingsAndTheRipRelyOn) {
  // Lossless output is what the rip log's lossless switch covers.
  for (const OutputFormat& f : OutputFormats())
    EXPECT_EQ(f.lossless, f.kind == OutputKind::Wav || f.kind == OutputKind::Flac) << f.name;
  // WAV alone is written without an encoder; MP3 alone has two writers, by UseLame.
  SettingsRecord s = Defaults();
  const OutputFormat& mp3 = FormatFor(OutputKind::Mp3);
  s.UseLame = 1;
  EXPECT_STREQ(mp3.ChosenEncoder(s)->id, "lame");
  s.UseLame = 0;
  EXPECT_STREQ(mp3.ChosenEncoder(s)->id, "acm");
  EXPECT_FALSE(FormatFor(OutputKind::Wav).compressed);
  EXPECT_TRUE(FormatFor(OutputKind::Flac).compressed);
}

class FormatWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    pcm_ = Material(44100 / 2 + 333);
    wav_ = dir_.File("src.wav");
    test::WriteWav(wav_, pcm_, CdAudioFormat);
    tag_.Record.TagsOn = 1;
    tag_.Set(TagField::Title, "Группа крови");
    tag_.Set(TagField::Artist, "Кино");
  }
  // The file the format's factory writes from the source with these
  // settings and options; empty when the writer is not available here.
  std::vector<std::uint8_t> Written(const OutputFormat& format, const SettingsRecord& s,
                                    const FormatOptions& options, const std::string& name) {
    std::unique_ptr<AudioWriter> writer = MakeWriter(format, env_, s, options);
    EXPECT_NE(writer, nullptr);
    if (!writer || !writer->Available()) return {};
    writer->SetTagTexts(&tag_.Texts);
    const std::string out = dir_.File(name);
    const WriteResult r = writer->ConvertFile(wav_, out, &tag_.Record);
    EXPECT_TRUE(r.Ok()) << r.message;
    return test::ReadAll(out);
  }

  test::TempDir dir_;
  ScriptedDialogs dialogs_;
  CodecLibraryNames names_;
  FormatOptions scratch_;  // where a format puts a bitrate kept beside the record
  WriterEnvironment env_{dialogs_, names_};
  std::vector<std::int16_t> pcm_;
  std::string wav_;
  TrackTags tag_;
};

TEST_F(FormatWriterTest, WavIsTheSourceAgain) {
  const auto bytes = Written(FormatFor(OutputKind::Wav), Defaults(), {}, "a.wav");
  ASSERT_TRUE(StartsWith(bytes, "RIFF"));
  EXPECT_EQ(Text(bytes).substr(8, 4), "WAVE");
  WavSourceReader reader;
  ASSERT_EQ(reader.Open(dir_.File("a.wav"), false), WavSourceReader::kUsable);
  std::vector<std::int16_t> back(pcm_.size());
  std::uint32_t got = 0;
  ASSERT_TRUE(reader.Read(back.data(), static_cast<std::uint32_t>(back.size() * 2), &got));
  EXPECT_EQ(got, pcm_.size() * 2);
  EXPECT_EQ(back, pcm_);
}

TEST_F(FormatWriterTest, FlacLevelAndDiscTagsReachTheStreamAsOnTheWriterItself) {
  FlacWriter probe;
  if (!probe.Available()) GTEST_SKIP() << kFlacLibraryName << " cannot be loaded";
  const OutputFormat& flac = FormatFor(OutputKind::Flac);
  ASSERT_EQ(flac.options.size(), 2u);
  const FormatOption& level = flac.options[0];
  EXPECT_EQ(level.Id(), std::string("FLAC/Level"));
  EXPECT_EQ(flac.options[1].Id(), std::string("FLAC/Verify"));
  EXPECT_EQ(FormatOptions{}.Value(flac.options[1]), 1);

  for (int l : {0, 8}) {
    SCOPED_TRACE(l);
    FormatOptions options;
    options.Set(level, l);
    options.disc = {"Сборник", 12};
    const auto made = Written(flac, Defaults(), options, "made" + std::to_string(l) + ".flac");
    // The writer set up by hand, as the rip did before.
    FlacWriter direct;
    direct.SetLevel(l);
    direct.SetDiscTags({"Сборник", 12});
    direct.SetTagTexts(&tag_.Texts);
    const std::string byHand = dir_.File("hand" + std::to_string(l) + ".flac");
    ASSERT_TRUE(direct.ConvertFile(wav_, byHand, &tag_.Record).Ok());
    EXPECT_EQ(made, test::ReadAll(byHand));
    ASSERT_TRUE(StartsWith(made, "fLaC"));
    // STREAMINFO's largest block: 1152 samples at level 0, 4096 from level 3.
    ASSERT_GT(made.size(), 14u);
    EXPECT_EQ(made[10] << 8 | made[11], l == 0 ? 1152 : 4096);
    EXPECT_NE(Text(made).find("ALBUMARTIST=Сборник"), std::string::npos);
    EXPECT_NE(Text(made).find("TRACKTOTAL=12"), std::string::npos);
    // The reader takes it back to the source.
    FlacReader reader;
    ASSERT_TRUE(reader.Open(dir_.File("made" + std::to_string(l) + ".flac")).Ok());
    std::vector<std::int16_t> back(pcm_.size() + 16);
    std::size_t got = 0, total = 0;
    while (reader
               .Read(reinterpret_cast<std::uint8_t*>(back.data()) + total, back.size() * 2 - total,
                     &got)
               .Ok() &&
           got > 0)
      total += got;
    back.resize(total / 2);
    EXPECT_EQ(back, pcm_);
  }
  // Without a value the option's default applies; a value beyond the range is held to it.
  FormatOptions none, beyond;
  beyond.Set(level, 99);
  EXPECT_EQ(none.Value(level), kFlacDefaultLevel);
  EXPECT_EQ(beyond.Value(level), kFlacMaxLevel);

  // EncoderSet hands the options to the same writer: the same bytes.
  SettingsRecord s = Defaults();
  ScriptedDialogs dialogs;
  EncoderSet enc(s, dialogs);
  FormatOptions options;
  options.Set(level, 0);
  options.disc = {"Сборник", 12};
  const std::string viaSet = dir_.File("set.flac");
  TrackTags tag = tag_;
  ASSERT_TRUE(enc.ConvertFile(wav_, viaSet, tag, OutputKind::Flac, options).Ok());
  EXPECT_EQ(test::ReadAll(viaSet), test::ReadAll(dir_.File("hand0.flac")));
}

TEST_F(FormatWriterTest, Mp3WritersTakeTheBitrateTheFormatSetsInTheSettings) {
  const OutputFormat& mp3 = FormatFor(OutputKind::Mp3);
  int written = 0;
  for (int lame : {1, 0}) {
    SCOPED_TRACE(lame ? "LAME" : "codec layer");
    SettingsRecord s = Defaults();
    if (lame) {
      // --bitrate means LAME at a constant bitrate.
      ASSERT_FALSE(mp3.setBitrate(s, scratch_, 128));
      EXPECT_EQ(s.UseLame, 1);
    } else {
      // The codec layer writes the format the settings choose.
      s.UseLame = 0;
      s.AcmFormatIndex = 0;
    }
    const auto bytes = Written(mp3, s, {}, lame ? "lame.mp3" : "acm.mp3");
    if (bytes.empty()) continue;  // this writer's library is not here
    ++written;
    // An ID3v2 tag with a title frame, then MPEG audio frames.
    ASSERT_TRUE(StartsWith(bytes, "ID3"));
    EXPECT_NE(Text(bytes).find("TIT2"), std::string::npos);
    test::Mp3Frame frame;
    ASSERT_TRUE(test::FindMp3Frame(bytes, test::Id3v2Size(bytes), &frame));
    EXPECT_EQ(frame.sampleRate, 44100);
    if (lame) {
      EXPECT_EQ(frame.bitrateKbps, 128);
    }
  }
  if (written == 0) GTEST_SKIP() << "neither MP3 writer is available";
  // A bitrate MP3 does not have is refused, naming those it has.
  SettingsRecord s = Defaults();
  EXPECT_EQ(mp3.setBitrate(s, scratch_, 100).value_or(""),
            "MP3 пишется с битрейтом 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320 "
            "кбит/с.");
}

TEST_F(FormatWriterTest, OggAndWmaFilesStartAsTheirContainersDo) {
  int written = 0;
  {
    SettingsRecord s = Defaults();
    const OutputFormat& ogg = FormatFor(OutputKind::Ogg);
    ASSERT_FALSE(ogg.setBitrate(s, scratch_, 128));
    const auto bytes = Written(ogg, s, {}, "a.ogg");
    if (!bytes.empty()) {
      ++written;
      ASSERT_TRUE(StartsWith(bytes, "OggS"));
      EXPECT_NE(Text(bytes).find("\x01vorbis"), std::string::npos);
      EXPECT_NE(Text(bytes).find("TITLE=Группа крови"), std::string::npos);
    }
  }
  {
    SettingsRecord s = Defaults();
    const OutputFormat& wma = FormatFor(OutputKind::Wma);
    ASSERT_FALSE(wma.setBitrate(s, scratch_, 64));
    EXPECT_EQ(s.WmaBitrateIndex, 3);
    const auto bytes = Written(wma, s, {}, "a.wma");
    if (!bytes.empty()) {
      ++written;
      // The ASF header object's identifier.
      static const std::uint8_t kAsf[] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11};
      ASSERT_GE(bytes.size(), sizeof kAsf);
      EXPECT_EQ(std::memcmp(bytes.data(), kAsf, sizeof kAsf), 0);
      const std::string probe = test::Run(
          "ffprobe -v error -show_entries format=bit_rate:stream=codec_name "
          "-of default=nw=1 " +
          test::Quote(dir_.File("a.wma")));
      if (!probe.empty()) {
        EXPECT_EQ(test::ProbeValue(probe, "codec_name"), "wmav2");
      }
    }
  }
  if (written == 0) GTEST_SKIP() << "neither the Vorbis libraries nor the WMA encoder is here";
}

TEST(FormatAvailabilityTest, FollowsTheLibrariesOfThisComputer) {
  SettingsRecord s = Defaults();
  ScriptedDialogs dialogs;
  EncoderSet enc(s, dialogs);
  if (!dialogs.Clean()) GTEST_SKIP() << "the LAME library is missing here";
  EXPECT_TRUE(enc.Available(OutputKind::Wav));
  EXPECT_EQ(enc.Available(OutputKind::Flac), DynamicLibrary(kFlacLibraryName).Loaded());
  EXPECT_EQ(enc.Available(OutputKind::Opus), DynamicLibrary(kOpusEncLibraryName).Loaded());
  EXPECT_EQ(enc.Available(OutputKind::Ogg), DynamicLibrary(kOggLibraryName).Loaded() &&
                                                DynamicLibrary(kVorbisLibraryName).Loaded() &&
                                                DynamicLibrary(kVorbisEncLibraryName).Loaded());
  EXPECT_EQ(enc.Available(OutputKind::Wma), WmaWriter().Available());
  s.UseLame = 1;
  EXPECT_TRUE(enc.Available(OutputKind::Mp3));
  s.UseLame = 0;
  EXPECT_EQ(enc.Available(OutputKind::Mp3), enc.Acm().Available());
  EXPECT_FALSE(enc.Available(static_cast<OutputKind>(7)));
}

TEST(FormatAvailabilityTest, MissingLibrariesMakeTheirFormatsUnavailable) {
  SettingsRecord s = Defaults();
  ScriptedDialogs dialogs;
  dialogs.ExpectMessage("Нету libmp3lame.so.0 !", "Sonarvex v3.2", MsgIcon::Warning,
                        MsgButtons::Ok);
  CodecLibraryNames names;
  names.Lame = "libsonarvex-no-such-lame.so.0";
  names.Vorbis = "libsonarvex-no-such-vorbis.so.0";
  names.Flac = "libsonarvex-no-such-flac.so.12";
  names.OpusEnc = "libsonarvex-no-such-opusenc.so.0";
  // No MP3 driver of the codec layer either.
  EncoderSet enc(s, dialogs, names, std::vector<std::unique_ptr<AcmMp3Driver>>{});
  EXPECT_TRUE(enc.Available(OutputKind::Wav));
  EXPECT_FALSE(enc.Available(OutputKind::Flac));
  EXPECT_FALSE(enc.Available(OutputKind::Opus));
  EXPECT_FALSE(enc.Available(OutputKind::Ogg));
  // The missing LAME is said when MP3 through LAME is first asked for.
  s.UseLame = 1;
  EXPECT_FALSE(enc.Available(OutputKind::Mp3));
  EXPECT_TRUE(dialogs.Clean());
  s.UseLame = 0;
  EXPECT_FALSE(enc.Available(OutputKind::Mp3));
  // The factory's writer says the same.
  ScriptedDialogs quiet;
  WriterEnvironment env{quiet, names};
  EXPECT_FALSE(MakeWriter(FormatFor(OutputKind::Flac), env, s, {})->Available());
  EXPECT_FALSE(MakeWriter(FormatFor(OutputKind::Ogg), env, s, {})->Available());
  EXPECT_FALSE(MakeWriter(FormatFor(OutputKind::Opus), env, s, {})->Available());
  EXPECT_TRUE(MakeWriter(FormatFor(OutputKind::Wav), env, s, {})->Available());
}

// The shell completion and the manual list the --format values by hand:
// they must be the registry's.
std::string SourceFile(const std::string& relative) {
  std::ifstream in(std::string(SONARVEX_SOURCE_DIR) + "/" + relative);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(FormatRegistryTest, TheCompletionAndTheManualNameEveryFormat) {
  const std::string completion = SourceFile("data/sonarvex-cli.bash-completion");
  ASSERT_FALSE(completion.empty());
  EXPECT_NE(completion.find("compgen -W \"" + JoinFormatNames(" ", " ") + "\""), std::string::npos)
      << "data/sonarvex-cli.bash-completion: --format";
  const std::string manual = SourceFile("doc/sonarvex-cli.1");
  ASSERT_FALSE(manual.empty());
  EXPECT_NE(manual.find("\\fB\\-\\-format\\fR \\fIFORMAT\\fR\nOne of\n.B \"" + JoinFormatNames(" | ", " | ") + "\""),
            std::string::npos)
      << "doc/sonarvex-cli.1: --format";
}

}  // namespace
}  // namespace sonarvex

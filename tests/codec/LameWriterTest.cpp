#include <gtest/gtest.h>

#include <cstring>

#include "codec/EncoderSet.h"
#include "platform/Cp1251.h"
#include "platform/Files.h"
#include "platform/ScriptedDialogs.h"
#include "tests/codec/CodecTestUtil.h"

namespace sonarvex {
namespace {

SettingsRecord Defaults() {
  SettingsRecord s{};
  ApplyFirstStartDefaults(s, "/tmp/");
  return s;
}

class LameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    stereo_ = dir_.File("stereo.wav");
    tone_ = test::Tone(44100 / 2, 2);
    test::WriteWav(stereo_, tone_, CdAudioFormat);
  }

  // Encodes src with the given settings through EncoderSet and returns the file.
  std::vector<std::uint8_t> Encode(SettingsRecord s, const std::string& src, const std::string& out,
                                   const TrackTagRecord* tag = nullptr) {
    ScriptedDialogs dialogs;
    EncoderSet enc(s, dialogs);
    enc.ConvertFile(src, out, tag);
    EXPECT_TRUE(dialogs.Clean());
    return test::ReadAll(out);
  }

  std::string Probe(const std::string& path) {
    return test::Run("ffprobe -v error -show_streams -select_streams a -of default=nw=1 " +
                     test::Quote(path));
  }

  test::TempDir dir_;
  std::string stereo_;
  std::vector<std::int16_t> tone_;
};

TEST_F(LameTest, ConstantBitratesModesAndInfoHeader) {
  for (int index : {9, 12, 14}) {
    SettingsRecord s = Defaults();
    s.Lame.BitrateIndex = index;
    const std::string out = dir_.File("cbr" + std::to_string(index) + ".mp3");
    TrackTagRecord tag{};
    tag.TagsOn = 1;
    std::strcpy(tag.Title, "Tone");
    auto bytes = Encode(s, stereo_, out, &tag);
    const std::size_t id3 = test::Id3v2Size(bytes);
    ASSERT_GT(id3, 10u) << "starts with the ID3v2 tag";
    test::Mp3Frame f;
    ASSERT_TRUE(test::FindMp3Frame(bytes, id3, &f));
    EXPECT_EQ(f.offset, id3) << "audio follows the tag directly";
    EXPECT_EQ(f.bitrateKbps, kMp3Bitrates[index]);
    EXPECT_EQ(f.version, 1);
    EXPECT_EQ(f.sampleRate, 44100);
    EXPECT_EQ(f.mode, 1);
    EXPECT_FALSE(f.original);
    const std::string first(bytes.begin() + f.offset, bytes.begin() + f.offset + f.length);
    EXPECT_NE(first.find("Info"), std::string::npos) << "Info header in the first frame";
    EXPECT_NE(first.find("LAME"), std::string::npos);
    const std::string probe = Probe(out);
    EXPECT_EQ(test::ProbeValue(probe, "bit_rate"), std::to_string(kMp3Bitrates[index] * 1000));
    EXPECT_EQ(test::ProbeValue(probe, "channels"), "2");
    // The encoder delay and padding of the info header give back the exact length.
    EXPECT_EQ(test::DecodeWithFfmpeg(out).size(), tone_.size());
  }
}

TEST_F(LameTest, VariableBitrateGetsXingHeaderAndOriginalBit) {
  SettingsRecord s = Defaults();
  s.Lame.VbrEnabled = 1;
  s.Lame.VbrQuality = 4;
  s.Lame.BitrateIndex = 1;
  s.Lame.MaxBitrateIndex = 14;
  auto bytes = Encode(s, stereo_, dir_.File("vbr.mp3"));
  EXPECT_EQ(test::Id3v2Size(bytes), 0u) << "no tag record, no tag";
  test::Mp3Frame f;
  ASSERT_TRUE(test::FindMp3Frame(bytes, 0, &f));
  EXPECT_EQ(f.offset, 0u);
  EXPECT_TRUE(f.original);
  const std::string first(bytes.begin(), bytes.begin() + f.length);
  EXPECT_NE(first.find("Xing"), std::string::npos);
  EXPECT_EQ(test::DecodeWithFfmpeg(dir_.File("vbr.mp3")).size(), tone_.size());
}

TEST_F(LameTest, MonoDownmixAndMonoSource) {
  SettingsRecord s = Defaults();
  s.Lame.Mode = 3;
  s.Lame.BitrateIndex = 9;
  const std::string out = dir_.File("downmix.mp3");
  auto bytes = Encode(s, stereo_, out);
  test::Mp3Frame f;
  ASSERT_TRUE(test::FindMp3Frame(bytes, 0, &f));
  EXPECT_EQ(f.mode, 3);
  EXPECT_EQ(test::ProbeValue(Probe(out), "channels"), "1");
  auto decoded = test::DecodeWithFfmpeg(out);
  EXPECT_EQ(decoded.size(), tone_.size() / 2);

  // A mono source is encoded as mono whatever the mode says.
  const std::string monoSrc = dir_.File("mono.wav");
  auto mono = test::Tone(44100 / 2, 1);
  test::WriteWav(monoSrc, mono, MakePcmFormat(44100, 1));
  s.Lame.Mode = 1;
  const std::string out2 = dir_.File("mono.mp3");
  bytes = Encode(s, monoSrc, out2);
  ASSERT_TRUE(test::FindMp3Frame(bytes, 0, &f));
  EXPECT_EQ(f.mode, 3);
  EXPECT_EQ(test::DecodeWithFfmpeg(out2).size(), mono.size());
}

TEST(LameConfigTest, ParametersFromSettings) {
  LameSettings l = Defaults().Lame;
  LameConfig c = LameWriter::BuildConfig(l, 2);
  EXPECT_EQ(c.Bitrate, 224u);
  EXPECT_EQ(c.Mode, 1);
  EXPECT_FALSE(c.Original);
  EXPECT_FALSE(c.EnableVbr);
  EXPECT_EQ(c.MaxBitrate, 0u);
  EXPECT_TRUE(c.WriteVbrHeader);
  EXPECT_EQ(c.MpegVersion, 1);
  l.BitrateIndex = 9;
  EXPECT_EQ(LameWriter::BuildConfig(l, 2).Bitrate, 128u);
  l.BitrateIndex = 128;
  EXPECT_EQ(LameWriter::BuildConfig(l, 2).Bitrate, 128u);
  l.BitrateIndex = 15;  // not a bitrate: the encoder's default
  EXPECT_EQ(LameWriter::BuildConfig(l, 2).Bitrate, 0u);
  l.VbrEnabled = 1;
  l.VbrQuality = 3;
  c = LameWriter::BuildConfig(l, 1);
  EXPECT_EQ(c.Mode, 3);
  EXPECT_TRUE(c.Original);
  EXPECT_EQ(c.MaxBitrate, 320u);
  EXPECT_EQ(c.VbrQuality, 3);
}

TEST_F(LameTest, VersionTextAndStreamedWritesWithRawTag) {
  SettingsRecord s = Defaults();
  ScriptedDialogs dialogs;
  EncoderSet enc(s, dialogs);
  EXPECT_EQ(enc.LameVersionText().rfind("Lame MP3 Encoder 3.", 0), 0u) << enc.LameVersionText();
  const std::string out = dir_.File("raw.mp3");
  const std::uint8_t raw[] = {'R', 'A', 'W', '!', 0, 1, 2};
  enc.SetRawTag(raw, sizeof raw);
  enc.Open(nullptr, out);
  EXPECT_TRUE(enc.IsOpen());
  EXPECT_TRUE(enc.Lame().Open(nullptr, dir_.File("other.mp3")).Failed()) << "one stream at a time";
  EXPECT_FALSE(FileExists(dir_.File("other.mp3")));
  // Ripping hands whole sectors.
  for (std::size_t at = 0; at + 1176 <= tone_.size(); at += 1176) enc.Write(&tone_[at], 2352);
  enc.Close();
  EXPECT_FALSE(enc.IsOpen());
  auto bytes = test::ReadAll(out);
  ASSERT_GT(bytes.size(), sizeof raw);
  EXPECT_EQ(std::memcmp(bytes.data(), raw, sizeof raw), 0);
  test::Mp3Frame f;
  ASSERT_TRUE(test::FindMp3Frame(bytes, sizeof raw, &f));
  EXPECT_EQ(f.offset, sizeof raw);
  const std::string first(bytes.begin() + f.offset, bytes.begin() + f.offset + f.length);
  EXPECT_NE(first.find("Info"), std::string::npos);

  // The raw tag applied to that one Open only.
  TrackTagRecord tag{};
  tag.TagsOn = 1;
  enc.Open(&tag, out);
  enc.Write(tone_.data(), 4 * 1152);
  enc.Close();
  EXPECT_EQ(test::Id3v2Size(test::ReadAll(out)), 147u);
  EXPECT_TRUE(dialogs.Clean());
}

TEST_F(LameTest, MutagenReadsLatinAndCyrillicTags) {
  for (bool cyrillic : {false, true}) {
    TrackTagRecord t{};
    t.TagsOn = 1;
    auto set = [&](auto& field, const char* latin, const char* cyr) {
      SetFieldUtf8(field, cyrillic ? cyr : latin);
    };
    set(t.Title, "Title", "Заголовок");
    set(t.Artist, "Artist", "Исполнитель");
    set(t.Album, "Album", "Альбом");
    set(t.Comment, "Comment", "Комментарий");
    set(t.TrackNumber, "7", "7");
    set(t.Url, "http://example.org/", "http://пример.рф/");
    set(t.EncodedBy, "Enc", "Кодировщик");
    set(t.Copyright, "Copy", "Права");
    set(t.OriginalArtist, "Orig", "Оригинал");
    set(t.Composer, "Comp", "Композитор");
    set(t.Genre, "Rock", "Рок");
    set(t.Year, "1999", "1999");
    const std::string out = dir_.File(cyrillic ? "cyr.mp3" : "lat.mp3");
    Encode(Defaults(), stereo_, out, &t);
    const std::string m = test::Run("mutagen-inspect " + test::Quote(out));
    auto has = [&](const std::string& line) {
      EXPECT_NE(m.find(line + "\n"), std::string::npos) << line << "\n" << m;
    };
    has(cyrillic ? "TIT2=Заголовок" : "TIT2=Title");
    has(cyrillic ? "TPE1=Исполнитель" : "TPE1=Artist");
    has(cyrillic ? "TALB=Альбом" : "TALB=Album");
    // The language bytes are zero; mutagen prints them as they are.
    const std::string lang(3, '\0');
    has("COMM==" + lang + (cyrillic ? "=Комментарий" : "=Comment"));
    has("TRCK=7");
    has(cyrillic ? "TENC=Кодировщик" : "TENC=Enc");
    has(cyrillic ? "TCOP=Права" : "TCOP=Copy");
    has(cyrillic ? "TOPE=Оригинал" : "TOPE=Orig");
    has(cyrillic ? "TCOM=Композитор" : "TCOM=Comp");
    has(cyrillic ? "TCON=Рок" : "TCON=Rock");
    has("TDRC=1999");  // mutagen shows the year under its ID3v2.4 name
    has(cyrillic ? "WXXX=http://%D0%BF%D1%80%D0%B8%D0%BC%D0%B5%D1%80.%D1%80%D1%84/"
                 : "WXXX=http://example.org/");
  }
}

TEST_F(LameTest, CancelKeepsOutputAndMissingSourceDeletesIt) {
  SettingsRecord s = Defaults();
  ScriptedDialogs dialogs;
  EncoderSet enc(s, dialogs);
  int calls = 0;
  enc.SetProgressCallback([&](std::uint32_t, std::uint32_t total, bool* cancel, int mode) {
    EXPECT_EQ(mode, 0);
    EXPECT_EQ(total, tone_.size() * 2);
    if (++calls == 5) *cancel = true;
  });
  const std::string out = dir_.File("cancel.mp3");
  enc.ConvertFile(stereo_, out, nullptr);
  EXPECT_EQ(calls, 5);
  EXPECT_TRUE(FileExists(out));
  test::Mp3Frame f;
  EXPECT_TRUE(test::FindMp3Frame(test::ReadAll(out), 0, &f));

  dialogs.ExpectMessage("Исходный файл недоступен.", "Sonarvex v3.2", MsgIcon::Warning,
                        MsgButtons::Ok);
  const std::string gone = dir_.File("gone.mp3");
  enc.ConvertFile(dir_.File("no-such.wav"), gone, nullptr);
  EXPECT_FALSE(FileExists(gone));
  EXPECT_TRUE(dialogs.Clean());
}

TEST(LameLibraryTest, MissingOrIncompleteLibraryDisablesOnlyLame) {
  test::TempDir dir;
  const std::string src = dir.File("s.wav");
  test::WriteWav(src, test::Tone(8000, 2), CdAudioFormat);
  SettingsRecord s = Defaults();
  {
    ScriptedDialogs dialogs;
    dialogs.ExpectMessage("Нету libmp3lame.so.0 !", "Sonarvex v3.2", MsgIcon::Warning,
                          MsgButtons::Ok);
    CodecLibraryNames names;
    names.Lame = "libsonarvex-no-such-lame.so.0";
    EncoderSet enc(s, dialogs, names);
    EXPECT_FALSE(enc.Lame().Available());
    EXPECT_EQ(enc.LameVersionText(), "");
    enc.ConvertFile(src, dir.File("none.mp3"), nullptr);
    enc.Open(nullptr, dir.File("none2.mp3"));
    enc.Write(src.data(), 4);
    enc.Close();
    EXPECT_FALSE(FileExists(dir.File("none.mp3")));
    EXPECT_FALSE(FileExists(dir.File("none2.mp3")));
    // Ogg output still works.
    s.OutputKind = 3;
    enc.ConvertFile(src, dir.File("still.ogg"), nullptr);
    EXPECT_TRUE(FileExists(dir.File("still.ogg")));
    EXPECT_TRUE(dialogs.Clean());
    EXPECT_EQ(dialogs.Shown().size(), 1u);
  }
  {
    ScriptedDialogs dialogs;
    dialogs.ExpectMessage("Ошибка при загрузке libmp3lame.so.0 !", "Sonarvex v3.2",
                          MsgIcon::Warning, MsgButtons::Ok);
    CodecLibraryNames names;
    names.Lame = "libogg.so.0";  // loads, but has none of the encoder's functions
    EncoderSet enc(s, dialogs, names);
    EXPECT_FALSE(enc.Lame().Available());
    EXPECT_TRUE(dialogs.Clean());
  }
}

TEST(LameLibraryTest, MissingLibraryIsSaidWhenMp3IsFirstAskedForNotBefore) {
  test::TempDir dir;
  const std::string src = dir.File("s.wav");
  test::WriteWav(src, test::Tone(8000, 2), CdAudioFormat);
  SettingsRecord s = Defaults();
  ASSERT_NE(s.UseLame, 0) << "the first start chooses LAME";
  ScriptedDialogs dialogs;
  CodecLibraryNames names;
  names.Lame = "libsonarvex-no-such-lame.so.0";
  EncoderSet enc(s, dialogs, names);
  EXPECT_TRUE(dialogs.Shown().empty()) << "the set loads no library when it is made";
  // WAV and Ogg output have nothing to say about MP3's library.
  EXPECT_TRUE(enc.Available(OutputKind::Wav));
  ASSERT_TRUE(enc.Open(nullptr, dir.File("plain.wav"), OutputKind::Wav));
  ASSERT_TRUE(enc.Close());
  if (enc.Available(OutputKind::Ogg)) {
    EXPECT_TRUE(enc.ConvertFile(src, dir.File("still.ogg"), nullptr, OutputKind::Ogg));
    EXPECT_TRUE(FileExists(dir.File("still.ogg")));
  }
  EXPECT_TRUE(dialogs.Shown().empty()) << "said before MP3 was asked for";
  // The first question about MP3 says it, once.
  dialogs.ExpectMessage("Нету libmp3lame.so.0 !", "Sonarvex v3.2", MsgIcon::Warning,
                        MsgButtons::Ok);
  EXPECT_FALSE(enc.Available(OutputKind::Mp3));
  EXPECT_TRUE(dialogs.Clean());
  const WriteResult r = enc.Open(nullptr, dir.File("none.mp3"), OutputKind::Mp3);
  EXPECT_TRUE(r.Failed());
  EXPECT_EQ(r.message, "Нету libmp3lame.so.0 !");
  EXPECT_FALSE(enc.ConvertFile(src, dir.File("none2.mp3"), nullptr, OutputKind::Mp3));
  EXPECT_FALSE(FileExists(dir.File("none.mp3")));
  EXPECT_FALSE(FileExists(dir.File("none2.mp3")));
  EXPECT_EQ(dialogs.Shown().size(), 1u);
}

}  // namespace
}  // namespace sonarvex

// The writer interface: every writer creates its file exclusively (never
// through a link), says what failed, and EncoderSet replaces what is at an
// output name without following a link.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "codec/EncoderSet.h"
#include "codec/WavFile.h"
#include "codec/WavWriter.h"
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

bool IsLink(const std::string& p) {
  struct stat st{};
  return lstat(p.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

class AudioWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    target_ = dir_.File("target");
    test::WriteAll(target_, {'k', 'e', 'e', 'p'});
    tone_ = test::Tone(11025, 2);
    src_ = dir_.File("src.wav");
    test::WriteWav(src_, tone_, CdAudioFormat);
  }
  // The writers of every kind the program can write here.
  std::vector<std::pair<std::string, AudioWriter*>> Writers(EncoderSet& enc, WavWriter& wav) {
    return {{"wav", &wav},
            {"lame", &enc.Lame()},
            {"acm", &enc.Acm()},
            {"ogg", &enc.Vorbis()},
            {"wma", &enc.Wma()}};
  }
  test::TempDir dir_;
  std::string target_, src_;
  std::vector<std::int16_t> tone_;
};

TEST_F(AudioWriterTest, NoWriterWritesThroughALinkOrOverAFile) {
  SettingsRecord s = Defaults();
  ScriptedDialogs dialogs;
  EncoderSet enc(s, dialogs);
  WavWriter wav;
  for (auto [name, w] : Writers(enc, wav)) {
    ASSERT_TRUE(w->Available()) << name;
    w->Configure(s);
    const std::string link = dir_.File(name + ".link");
    ASSERT_EQ(symlink(target_.c_str(), link.c_str()), 0);
    WriteResult r = w->Open(nullptr, link);
    EXPECT_TRUE(r.Failed()) << name;
    EXPECT_EQ(r.message, "Не удалось создать файл '" + link + "': " + std::strerror(EEXIST) + ".")
        << name;
    EXPECT_FALSE(w->IsOpen()) << name;
    EXPECT_TRUE(IsLink(link)) << name;
    // Converting onto a link or an existing file refuses the same way.
    EXPECT_TRUE(w->ConvertFile(src_, link, nullptr).Failed()) << name;
    EXPECT_TRUE(w->ConvertFile(src_, target_, nullptr).Failed()) << name;
    EXPECT_EQ(test::ReadAll(target_), (std::vector<std::uint8_t>{'k', 'e', 'e', 'p'})) << name;
    // A fresh name works, and the result says so.
    const std::string fresh = dir_.File(name + ".fresh");
    ASSERT_TRUE(w->Open(nullptr, fresh)) << name;
    ASSERT_TRUE(w->Write(tone_.data(), tone_.size() * 2)) << name;
    EXPECT_TRUE(w->Close()) << name;
    EXPECT_EQ(test::DecodeWithFfmpeg(fresh, "-ac 2 -ar 44100").size() > tone_.size() / 2, true)
        << name;
  }
  EXPECT_TRUE(dialogs.Clean());
}

TEST_F(AudioWriterTest, EncoderSetReplacesALinkAtTheNameWithItsFile) {
  for (int kind : {1, 2, 3}) {
    SettingsRecord s = Defaults();
    s.OutputKind = static_cast<std::uint8_t>(kind);
    ScriptedDialogs dialogs;
    EncoderSet enc(s, dialogs);
    const std::string streamed = dir_.File("streamed" + std::to_string(kind));
    const std::string converted = dir_.File("converted" + std::to_string(kind));
    ASSERT_EQ(symlink(target_.c_str(), streamed.c_str()), 0);
    ASSERT_EQ(symlink(target_.c_str(), converted.c_str()), 0);
    ASSERT_TRUE(enc.Open(nullptr, streamed)) << kind;
    ASSERT_TRUE(enc.Write(tone_.data(), tone_.size() * 2)) << kind;
    ASSERT_TRUE(enc.Close()) << kind;
    ASSERT_TRUE(enc.ConvertFile(src_, converted, nullptr)) << kind;
    EXPECT_FALSE(IsLink(streamed));
    EXPECT_FALSE(IsLink(converted));
    EXPECT_GT(test::ReadAll(streamed).size(), 1000u);
    EXPECT_GT(test::ReadAll(converted).size(), 1000u);
    EXPECT_EQ(test::ReadAll(target_), (std::vector<std::uint8_t>{'k', 'e', 'e', 'p'}));
  }
}

TEST_F(AudioWriterTest, ResultsOfAnUnusableWriterAndAClosedSet) {
  SettingsRecord s = Defaults();
  ScriptedDialogs dialogs;
  EncoderSet enc(s, dialogs);
  // A WMA writer without its encoder: the program's message, and no file.
  WmaWriter missing("no-such-encoder");
  WriteResult r = missing.Open(nullptr, dir_.File("x.wma"));
  EXPECT_EQ(r.message, "Кодирование в WMA невозможно т.к. кодер не установлен.");
  EXPECT_FALSE(missing.IsOpen());
  EXPECT_TRUE(missing.ConvertFile(src_, dir_.File("y.wma"), nullptr).Failed());
  EXPECT_FALSE(FileExists(dir_.File("x.wma")));
  EXPECT_FALSE(FileExists(dir_.File("y.wma")));
  // Writing to a closed set is no success.
  EXPECT_TRUE(enc.Write(tone_.data(), 4).Failed());
  EXPECT_TRUE(enc.Close().Failed());
  // A second Open fails and leaves the first file alone.
  const std::string first = dir_.File("first.mp3");
  ASSERT_TRUE(enc.Open(nullptr, first, OutputKind::Mp3));
  EXPECT_TRUE(enc.Open(nullptr, dir_.File("second.mp3"), OutputKind::Mp3).Failed());
  EXPECT_FALSE(FileExists(dir_.File("second.mp3")));
  // Abort deletes the file being written.
  ASSERT_TRUE(enc.Write(tone_.data(), tone_.size() * 2));
  enc.Abort();
  EXPECT_FALSE(enc.IsOpen());
  EXPECT_FALSE(FileExists(first));
  // A missing source names the file.
  s.OutputKind = 3;
  EXPECT_EQ(enc.ConvertFile(dir_.File("none.wav"), dir_.File("z.ogg"), nullptr).message,
            "Исходный файл '" + dir_.File("none.wav") + "' недоступен.");
  EXPECT_TRUE(dialogs.Clean());
}

TEST_F(AudioWriterTest, WavWriterWritesWhatCreateAndFinishWrite) {
  const std::string a = dir_.File("a.wav"), b = dir_.File("b.wav");
  int h = CreateWavFile(a, CdAudioFormat);
  ASSERT_NE(h, kInvalidWavHandle);
  ASSERT_TRUE(WriteWavData(h, tone_.data(), tone_.size() * 2));
  ASSERT_TRUE(FinishWavFile(h, static_cast<std::uint32_t>(tone_.size() * 2), CdAudioFormat));
  WavWriter w;
  ASSERT_TRUE(w.Open(nullptr, b));
  ASSERT_TRUE(w.Write(tone_.data(), 1000));
  ASSERT_TRUE(w.Write(tone_.data() + 500, tone_.size() * 2 - 1000));
  ASSERT_TRUE(w.Close());
  EXPECT_EQ(test::ReadAll(a), test::ReadAll(b));
  // Aborted: nothing stays.
  ASSERT_TRUE(w.Open(nullptr, dir_.File("c.wav")));
  ASSERT_TRUE(w.Write(tone_.data(), 1000));
  w.Abort();
  EXPECT_FALSE(FileExists(dir_.File("c.wav")));
  // CreateWavFile replaces a link at its name instead of writing through it.
  ASSERT_EQ(symlink(target_.c_str(), dir_.File("d.wav").c_str()), 0);
  h = CreateWavFile(dir_.File("d.wav"), CdAudioFormat);
  ASSERT_NE(h, kInvalidWavHandle);
  EXPECT_TRUE(FinishWavFile(h, 0, CdAudioFormat));
  EXPECT_FALSE(IsLink(dir_.File("d.wav")));
  EXPECT_EQ(test::ReadAll(target_), (std::vector<std::uint8_t>{'k', 'e', 'e', 'p'}));
}

}  // namespace
}  // namespace sonarvex

// FLAC output checked with the reference tools: flac -d must give back the
// exact source PCM, flac -t must pass, metaflac must read the tags exactly.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <cstring>

#include "codec/EncoderSet.h"
#include "codec/FlacWriter.h"
#include "codec/FormatRegistry.h"
#include "platform/Files.h"
#include "platform/IniStore.h"
#include "platform/ScriptedDialogs.h"
#include "tests/codec/CodecTestUtil.h"

namespace sonarvex {
namespace {

bool HaveFlacTools() {
  int rc = -1;
  test::Run("command -v flac >/dev/null && command -v metaflac >/dev/null", &rc);
  return rc == 0;
}

// The file decoded by flac to raw 16-bit little-endian samples.
std::vector<std::uint8_t> FlacDecode(const std::string& path) {
  const std::string raw = test::Run("flac -d -s --force-raw-format --endian=little --sign=signed -c " +
                                    test::Quote(path) + " 2>/dev/null");
  return std::vector<std::uint8_t>(raw.begin(), raw.end());
}

std::vector<std::uint8_t> Bytes(const std::vector<std::int16_t>& samples) {
  std::vector<std::uint8_t> out(samples.size() * 2);
  std::memcpy(out.data(), samples.data(), out.size());
  return out;
}

bool FlacTestPasses(const std::string& path) {
  int rc = -1;
  test::Run("flac -t -s " + test::Quote(path) + " 2>&1", &rc);
  return rc == 0;
}

std::string Metaflac(const std::string& args, const std::string& path) {
  return test::Run("metaflac " + args + " " + test::Quote(path));
}

SettingsRecord Defaults() {
  SettingsRecord s{};
  ApplyFirstStartDefaults(s, "/tmp/");
  return s;
}

// Noise-like material so that levels make a difference and every bit counts.
std::vector<std::int16_t> Material(std::size_t frames, int channels) {
  auto tone = test::Tone(frames, channels);
  std::uint32_t x = 12345;
  for (auto& v : tone) {
    x = x * 1664525u + 1013904223u;
    v = static_cast<std::int16_t>(v + static_cast<std::int16_t>((x >> 16) % 2001) - 1000);
  }
  if (!tone.empty()) tone[0] = -32768, tone[tone.size() - 1] = 32767;
  return tone;
}

class FlacWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveFlacTools()) GTEST_SKIP() << "flac and metaflac are not installed";
    FlacWriter probe;
    if (!probe.Available()) GTEST_SKIP() << kFlacLibraryName << " cannot be loaded";
  }
  test::TempDir dir_;
};

TEST_F(FlacWriterTest, ConvertedFileDecodesToTheSourceAndCarriesEveryTagInFull) {
  const auto pcm = Material(44100 + 777, 2);
  const std::string wav = dir_.File("src.wav");
  test::WriteWav(wav, pcm, CdAudioFormat);
  SettingsRecord s = Defaults();
  ScriptedDialogs dialogs;
  EncoderSet enc(s, dialogs);
  FormatOptions options;
  options.disc = {"Сборник разных исполнителей", 12};
  TrackTags tag;
  tag.Record.TagsOn = 1;
  // Longer than the record's 50-byte fields in UTF-8 and outside code page
  // 1251: only the full texts hold them.
  tag.Set(TagField::Title, "Песня о 東京 и очень длинное название её");
  tag.Set(TagField::Artist, "坂本龍一と東京フィルハーモニー交響楽団の皆さん");
  tag.Set(TagField::Album, "Альбом");
  tag.Set(TagField::TrackNumber, "7");
  tag.Set(TagField::Year, "1999");
  tag.Set(TagField::Genre, "Классика");
  tag.Set(TagField::Comment, "Ёж — 東京");
  const std::string out = dir_.File("тест 東京.flac");
  const WriteResult r = enc.ConvertFile(wav, out, tag, OutputKind::Flac, options);
  ASSERT_TRUE(r.Ok()) << r.message;
  EXPECT_TRUE(FlacTestPasses(out));
  EXPECT_EQ(FlacDecode(out), Bytes(pcm));
  EXPECT_EQ(Metaflac("--export-tags-to=-", out),
            "TITLE=Песня о 東京 и очень длинное название её\n"
            "ARTIST=坂本龍一と東京フィルハーモニー交響楽団の皆さん\n"
            "ALBUM=Альбом\n"
            "ALBUMARTIST=Сборник разных исполнителей\n"
            "TRACKNUMBER=7\n"
            "TRACKTOTAL=12\n"
            "DATE=1999\n"
            "GENRE=Классика\n"
            "COMMENT=Ёж — 東京\n");
  EXPECT_EQ(Metaflac("--show-total-samples", out), std::to_string(pcm.size() / 2) + "\n");
  EXPECT_EQ(Metaflac("--show-sample-rate --show-channels --show-bps", out), "44100\n2\n16\n");
  EXPECT_TRUE(dialogs.Clean());
}

TEST_F(FlacWriterTest, StreamedChunksOfAnySizeAndMonoAtAnotherRate) {
  SettingsRecord s = Defaults();
  ScriptedDialogs dialogs;
  EncoderSet enc(s, dialogs);
  const auto pcm = Material(3 * 44100 + 5, 2);
  const std::string out = dir_.File("stream.flac");
  ASSERT_TRUE(enc.Open(nullptr, out, OutputKind::Flac).Ok());
  EXPECT_TRUE(enc.Write(pcm.data(), 0).Ok());  // an empty write changes nothing
  // Sector-sized chunks and odd ones, as the ripping loop and a converter give them.
  std::size_t at = 0, step = 1176;
  while (at < pcm.size()) {
    const std::size_t n = std::min(step, pcm.size() - at);
    ASSERT_TRUE(enc.Write(&pcm[at], n * 2).Ok());
    at += n;
    step = step == 1176 ? 10 : step == 10 ? 50000 : 1176;
  }
  const WriteResult closed = enc.Close();
  ASSERT_TRUE(closed.Ok()) << closed.message;
  EXPECT_TRUE(FlacTestPasses(out));
  EXPECT_EQ(FlacDecode(out), Bytes(pcm));
  // No tag record: no comments at all.
  EXPECT_EQ(Metaflac("--export-tags-to=-", out), "");

  const auto mono = Material(22050, 1);
  const AudioFormatRecord monoFormat = MakePcmFormat(22050, 1);
  enc.SetSourceFormat(&monoFormat);
  const std::string out2 = dir_.File("mono.flac");
  ASSERT_TRUE(enc.Open(nullptr, out2, OutputKind::Flac).Ok());
  ASSERT_TRUE(enc.Write(mono.data(), mono.size() * 2).Ok());
  ASSERT_TRUE(enc.Close().Ok());
  EXPECT_EQ(Metaflac("--show-sample-rate --show-channels", out2), "22050\n1\n");
  EXPECT_EQ(FlacDecode(out2), Bytes(mono));
  EXPECT_TRUE(FlacTestPasses(out2));
}

TEST_F(FlacWriterTest, LevelChoosesTheEncodersSettingsAndComesFromTheIniStore) {
  const auto pcm = Material(44100, 2);
  const std::string wav = dir_.File("src.wav");
  test::WriteWav(wav, pcm, CdAudioFormat);
  FlacWriter w;
  EXPECT_EQ(w.Level(), 5);
  w.SetLevel(0);
  ASSERT_TRUE(w.ConvertFile(wav, dir_.File("l0.flac"), nullptr).Ok());
  w.SetLevel(99);
  EXPECT_EQ(w.Level(), 8);
  ASSERT_TRUE(w.ConvertFile(wav, dir_.File("l8.flac"), nullptr).Ok());
  w.SetLevel(-3);
  EXPECT_EQ(w.Level(), 0);
  // Level 0 uses 1152-sample blocks, levels 3 and up 4096.
  EXPECT_EQ(Metaflac("--show-max-blocksize", dir_.File("l0.flac")), "1152\n");
  EXPECT_EQ(Metaflac("--show-max-blocksize", dir_.File("l8.flac")), "4096\n");
  EXPECT_GT(test::ReadAll(dir_.File("l0.flac")).size(), test::ReadAll(dir_.File("l8.flac")).size());
  EXPECT_EQ(FlacDecode(dir_.File("l0.flac")), Bytes(pcm));
  EXPECT_EQ(FlacDecode(dir_.File("l8.flac")), Bytes(pcm));

  IniStore ini(dir_.File("sonarvex.ini"));
  EXPECT_EQ(StoredOptionValue(ini, kFlacLevelOption), kFlacDefaultLevel);
  ini.Set(kFlacIniSection, kFlacIniLevelKey, "9");
  EXPECT_EQ(StoredOptionValue(ini, kFlacLevelOption), kFlacDefaultLevel);
  ini.Set(kFlacIniSection, kFlacIniLevelKey, "x");
  EXPECT_EQ(StoredOptionValue(ini, kFlacLevelOption), kFlacDefaultLevel);
  StoreOptionValue(ini, kFlacLevelOption, 8);
  ASSERT_TRUE(ini.Save());
  IniStore again(dir_.File("sonarvex.ini"));
  again.Load();
  EXPECT_EQ(StoredOptionValue(again, kFlacLevelOption), 8);
  StoreOptionValue(again, kFlacLevelOption, 12);
  EXPECT_EQ(StoredOptionValue(again, kFlacLevelOption), 8);
}

TEST_F(FlacWriterTest, ProgressReportsAndCancelLeavesNothing) {
  const auto pcm = Material(44100, 2);
  const std::string wav = dir_.File("src.wav");
  test::WriteWav(wav, pcm, CdAudioFormat);
  FlacWriter w;
  std::vector<std::uint32_t> done;
  w.SetProgress([&](std::uint32_t d, std::uint32_t total, bool* cancel, int mode) {
    if (cancel == nullptr) return;  // the reader's own reports
    EXPECT_EQ(mode, 0);
    EXPECT_EQ(total, pcm.size() * 2);
    done.push_back(d);
  });
  ASSERT_TRUE(w.ConvertFile(wav, dir_.File("all.flac"), nullptr).Ok());
  ASSERT_GE(done.size(), 2u);
  for (std::size_t i = 1; i < done.size(); ++i) EXPECT_GT(done[i], done[i - 1]);
  EXPECT_LT(done.back(), pcm.size() * 2);

  int calls = 0;
  w.SetProgress([&](std::uint32_t, std::uint32_t, bool* cancel, int) {
    if (cancel != nullptr && ++calls == 3) *cancel = true;
  });
  const std::string cancelled = dir_.File("cancelled.flac");
  const WriteResult r = w.ConvertFile(wav, cancelled, nullptr);
  EXPECT_TRUE(r.Cancelled());
  EXPECT_FALSE(FileExists(cancelled));
  EXPECT_FALSE(w.IsOpen());
}

TEST_F(FlacWriterTest, FailuresAreHonestAndLeaveNothingBehind) {
  FlacWriter w;
  // Something already at the name is never written over.
  const std::string taken = dir_.File("taken.flac");
  test::WriteAll(taken, {1, 2, 3});
  WriteResult r = w.Open(nullptr, taken);
  EXPECT_TRUE(r.Failed());
  EXPECT_NE(r.message.find(taken), std::string::npos) << r.message;
  EXPECT_EQ(test::ReadAll(taken), (std::vector<std::uint8_t>{1, 2, 3}));
  EXPECT_FALSE(w.IsOpen());

  // Write and Close without a file.
  EXPECT_EQ(w.Write("abcd", 4).message, "Файл FLAC не открыт.");
  EXPECT_EQ(w.Close().message, "Файл FLAC не открыт.");

  // An 8-bit source is refused with the file named.
  AudioFormatRecord eight = CdAudioFormat;
  eight.BitsPerSample = 8;
  w.SetSourceFormat(eight);
  r = w.Open(nullptr, dir_.File("eight.flac"));
  EXPECT_TRUE(r.Failed());
  EXPECT_NE(r.message.find("eight.flac"), std::string::npos);
  EXPECT_FALSE(FileExists(dir_.File("eight.flac")));
  w.SetSourceFormat(CdAudioFormat);

  // Aborting deletes the file being written.
  const std::string aborted = dir_.File("aborted.flac");
  ASSERT_TRUE(w.Open(nullptr, aborted).Ok());
  const auto pcm = Material(20000, 2);
  ASSERT_TRUE(w.Write(pcm.data(), pcm.size() * 2).Ok());
  w.Abort();
  EXPECT_FALSE(FileExists(aborted));
  EXPECT_FALSE(w.IsOpen());

  // A file that can no longer grow: the failure names the file, later
  // writes repeat it, Close reports it and nothing stays.
  const std::string big = dir_.File("big.flac");
  ASSERT_TRUE(w.Open(nullptr, big).Ok());
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  getrlimit(RLIMIT_FSIZE, &old);
  rlimit small = old;
  small.rlim_cur = 64 * 1024;
  setrlimit(RLIMIT_FSIZE, &small);
  WriteResult failed;
  const auto noise = Material(44100 * 3, 2);
  for (int i = 0; i < 20 && failed.Ok(); ++i) failed = w.Write(noise.data(), noise.size() * 2);
  if (failed.Ok()) failed = w.Close();
  else {
    EXPECT_EQ(w.Write(noise.data(), 4).message, failed.message);
    EXPECT_EQ(w.Close().message, failed.message);
  }
  setrlimit(RLIMIT_FSIZE, &old);
  EXPECT_TRUE(failed.Failed());
  EXPECT_NE(failed.message.find(big), std::string::npos) << failed.message;
  EXPECT_FALSE(FileExists(big));
  EXPECT_FALSE(w.IsOpen());
}

TEST(FlacLibraryTest, AMissingLibraryDisablesOnlyFlac) {
  test::TempDir dir;
  SettingsRecord s = Defaults();
  ScriptedDialogs dialogs;
  CodecLibraryNames names;
  names.Flac = "libFLAC-missing.so.99";
  EncoderSet enc(s, dialogs, names);
  EXPECT_FALSE(enc.Flac().Available());
  const WriteResult r = enc.Open(nullptr, dir.File("a.flac"), OutputKind::Flac);
  EXPECT_EQ(r.message, "Кодирование в FLAC невозможно т.к. нет необходимых библиотек.");
  EXPECT_FALSE(enc.IsOpen());
  EXPECT_FALSE(FileExists(dir.File("a.flac")));
  EXPECT_EQ(enc.WriterFor(OutputKind::Flac), &enc.Flac());
  EXPECT_EQ(enc.WriterFor(OutputKind::Ogg), &enc.Vorbis());
  // The record never stores FLAC: a stored 4 stays WAV.
  EXPECT_EQ(OutputKindFromRecord(4), OutputKind::Wav);
  EXPECT_EQ(OutputKindFromRecord(3), OutputKind::Ogg);
  EXPECT_TRUE(dialogs.Clean());
}

TEST(FlacCommentsTest, TagsOffGiveNoCommentsAndEmptyFieldsAreLeftOut) {
  TrackTags t;
  t.Set(TagField::Title, "x");
  EXPECT_TRUE(FlacCommentsFor(t, {"Various", 3}).empty());
  t.Record.TagsOn = 1;
  const auto c = FlacCommentsFor(t, {});
  ASSERT_EQ(c.size(), 1u);
  EXPECT_EQ(c[0], (std::pair<std::string, std::string>{"TITLE", "x"}));
  const auto d = FlacCommentsFor(t, {"", 9});
  ASSERT_EQ(d.size(), 2u);
  EXPECT_EQ(d[1], (std::pair<std::string, std::string>{"TRACKTOTAL", "9"}));
}

}  // namespace
}  // namespace sonarvex

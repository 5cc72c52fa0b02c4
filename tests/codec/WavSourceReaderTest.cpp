#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "codec/AudioConversionStream.h"
#include "codec/WavSourceReader.h"
#include "tests/codec/CodecTestUtil.h"
#include "tests/codec/SignalCompare.h"

namespace sonarvex {
namespace {

using Bytes = std::vector<std::uint8_t>;

void Put32(Bytes& b, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void Put16(Bytes& b, std::uint16_t v) {
  b.push_back(static_cast<std::uint8_t>(v));
  b.push_back(static_cast<std::uint8_t>(v >> 8));
}
void Chunk(Bytes& b, const char* id, const Bytes& body, std::uint32_t claimed = 0xFFFFFFFF) {
  b.insert(b.end(), id, id + 4);
  Put32(b, claimed == 0xFFFFFFFF ? static_cast<std::uint32_t>(body.size()) : claimed);
  b.insert(b.end(), body.begin(), body.end());
}
Bytes Fmt(std::uint16_t tag, std::uint16_t ch, std::uint32_t rate, std::uint16_t bits,
          std::uint16_t align) {
  Bytes f;
  Put16(f, tag);
  Put16(f, ch);
  Put32(f, rate);
  Put32(f, rate * align);
  Put16(f, align);
  Put16(f, bits);
  return f;
}
Bytes Riff(const Bytes& chunks) {
  Bytes b = {'R', 'I', 'F', 'F'};
  Put32(b, static_cast<std::uint32_t>(chunks.size() + 4));
  b.insert(b.end(), {'W', 'A', 'V', 'E'});
  b.insert(b.end(), chunks.begin(), chunks.end());
  return b;
}

class ReaderTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& name, const Bytes& bytes) {
    std::string p = dir_.File(name);
    test::WriteAll(p, bytes);
    return p;
  }
  test::TempDir dir_;
};

TEST_F(ReaderTest, ResultCodesOfTheHeaderWalk) {
  WavSourceReader r;
  EXPECT_EQ(r.Open("", true), 12);
  EXPECT_EQ(r.Open(dir_.File("missing.wav"), true), 12);
  EXPECT_FALSE(r.IsOpen());
  EXPECT_EQ(r.Open(Write("junk.wav", Bytes(64, 'x')), true), 13);
  EXPECT_FALSE(r.IsOpen());

  Bytes pcm(400, 1);
  Bytes mono;
  Chunk(mono, "fmt ", Fmt(1, 1, 44100, 16, 2));
  Chunk(mono, "data", pcm);
  const std::string monoPath = Write("mono.wav", Riff(mono));
  EXPECT_EQ(r.Open(monoPath, false), 11);
  EXPECT_TRUE(r.IsOpen());  // kept open for the conversion
  EXPECT_EQ(r.Open(monoPath, true), 10);
  r.Close();
  EXPECT_EQ(r.Open(monoPath, true), 1);
  EXPECT_EQ(r.DataByteCount(), 400u);
  EXPECT_EQ(r.DataStart(), 44u);
  r.Close();

  Bytes fact;
  Chunk(fact, "fmt ", Fmt(1, 2, 44100, 16, 4));
  Chunk(fact, "fact", Bytes{1, 2, 3, 4});
  Chunk(fact, "data", pcm);
  EXPECT_EQ(r.Open(Write("fact.wav", Riff(fact)), false), 1);
  std::uint8_t buf[8];
  std::uint32_t got = 0;
  EXPECT_TRUE(r.Read(buf, 8, &got));
  EXPECT_EQ(got, 8u);
  EXPECT_EQ(buf[0], 1);
  r.Close();

  // Chunks other than fmt and data (LIST, as FFmpeg writes it) are skipped.
  Bytes list;
  Chunk(list, "fmt ", Fmt(1, 2, 44100, 16, 4));
  Chunk(list, "LIST", Bytes(10, 0));
  Chunk(list, "data", pcm);
  EXPECT_EQ(r.Open(Write("list.wav", Riff(list)), true), 1);
  EXPECT_EQ(r.DataByteCount(), 400u);
  r.Close();

  // No data chunk at all: 11, closed, and the reason named.
  Bytes noData;
  Chunk(noData, "fmt ", Fmt(1, 2, 44100, 16, 4));
  Chunk(noData, "LIST", Bytes(10, 0));
  const std::string noDataPath = Write("nodata.wav", Riff(noData));
  EXPECT_EQ(r.Open(noDataPath, true), 11);
  EXPECT_FALSE(r.IsOpen());
  EXPECT_EQ(r.Problem(), "Не удалось прочитать файл '" + noDataPath +
                             "': в файле нет блока звуковых данных.");
}

TEST_F(ReaderTest, ChunksOfOddSizeBeforeAndAfterTheFormatArePaddedAndSkipped) {
  WavSourceReader r;
  Bytes pcm(16, 9);
  Bytes odd;
  Chunk(odd, "JUNK", Bytes(3, 'j'));
  odd.push_back(0);  // the pad byte of an odd chunk
  Chunk(odd, "fmt ", Fmt(1, 2, 44100, 16, 4));
  Chunk(odd, "LIST", Bytes(7, 'l'));
  odd.push_back(0);
  Chunk(odd, "data", pcm);
  ASSERT_EQ(r.Open(Write("odd.wav", Riff(odd)), false), 1) << r.Problem();
  EXPECT_EQ(r.DataStart(), 12u + 12u + 24u + 16u + 8u);
  std::uint8_t b[16];
  std::uint32_t got = 0;
  ASSERT_TRUE(r.Read(b, 16, &got));
  EXPECT_EQ(got, 16u);
  EXPECT_EQ(b[0], 9);
  EXPECT_EQ(r.AudioBytes(), 16u);
  r.Close();

  // A header without samples: it opens, and holds no audio.
  Bytes empty;
  Chunk(empty, "fmt ", Fmt(1, 1, 22050, 16, 2));
  Chunk(empty, "data", {});
  ASSERT_EQ(r.Open(Write("empty.wav", Riff(empty)), false), 11);
  EXPECT_EQ(r.AudioBytes(), 0u);
  r.SetConvertedFileName(dir_.File("empty-cd.wav"));
  EXPECT_FALSE(r.ConvertToCd(nullptr, false));
  EXPECT_NE(r.Problem().find("в файле нет звука"), std::string::npos) << r.Problem();
  EXPECT_FALSE(test::ReadAll(dir_.File("empty-cd.wav")).size() > 0);
}

TEST_F(ReaderTest, AFifoIsRefusedWithoutWaitingForAWriter) {
  const std::string fifo = dir_.File("pipe.wav");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  // A regression would block in open(); the alarm ends the test instead.
  alarm(20);
  WavSourceReader r;
  EXPECT_EQ(r.Open(fifo, false), 12);
  alarm(0);
  EXPECT_FALSE(r.IsOpen());
  EXPECT_EQ(r.Problem(), "Не удалось прочитать файл '" + fifo + "': это не обычный файл.");
}

TEST_F(ReaderTest, AFullDiskWhileConvertingNamesTheConvertedFileAndTheReason) {
  const std::string src = dir_.File("mono.wav");
  test::WriteWav(src, test::Tone(44100, 1, 22050), MakePcmFormat(22050, 1));
  WavSourceReader r;
  ASSERT_EQ(r.Open(src, false), 11);
  r.SetConvertedFileName(dir_.File("cd.wav"));
  bool ok = true;
  {
    test::FileSizeLimit limit(20000);
    ok = r.ConvertToCd(nullptr, false);
  }
  EXPECT_FALSE(ok);
  EXPECT_TRUE(r.ProblemIsWrite());
  EXPECT_EQ(r.Problem(), "Не удалось записать файл '" + dir_.File("cd.wav") + "': " +
                             std::strerror(EFBIG) + ".");
  EXPECT_TRUE(test::ReadAll(dir_.File("cd.wav")).empty()) << "no partial converted file";
}

TEST_F(ReaderTest, LyingHeadersNeverReadOutOfBounds) {
  WavSourceReader r;
  // fmt size far beyond the end of the file
  Bytes big;
  Chunk(big, "fmt ", Fmt(1, 2, 44100, 16, 4), 0x7FFFFFF0);
  EXPECT_EQ(r.Open(Write("bigfmt.wav", Riff(big)), true), 11);
  EXPECT_FALSE(r.IsOpen());

  // truncated in the middle of the fmt chunk
  Bytes cut = Riff([] { Bytes b; Chunk(b, "fmt ", Fmt(1, 2, 44100, 16, 4)); return b; }());
  cut.resize(30);
  EXPECT_EQ(r.Open(Write("cut.wav", cut), true), 11);
  EXPECT_EQ(r.Open(Write("tiny.wav", Bytes{'R', 'I', 'F', 'F'}), true), 13);

  // data size beyond the end: opens, reads stop at the end of the file
  Bytes lie;
  Chunk(lie, "fmt ", Fmt(1, 2, 44100, 16, 4));
  Chunk(lie, "data", Bytes(16, 7), 0xFFFFFFF0);
  EXPECT_EQ(r.Open(Write("lie.wav", Riff(lie)), true), 1);
  std::vector<std::uint8_t> buf(1000);
  std::uint32_t got = 0;
  EXPECT_TRUE(r.Read(buf.data(), 1000, &got));
  EXPECT_EQ(got, 16u);
  r.Close();

  // zero channels and block align 0: no usable PCM, no conversion
  Bytes zero;
  Chunk(zero, "fmt ", Fmt(1, 0, 44100, 16, 0));
  Chunk(zero, "data", Bytes(64, 0));
  EXPECT_EQ(r.Open(Write("zero.wav", Riff(zero)), true), 11);
  r.SetConvertedFileName(dir_.File("zero-out.wav"));
  EXPECT_FALSE(r.ConvertToCd(nullptr, true));
  r.Close();
  Bytes ima0;
  Chunk(ima0, "fmt ", Fmt(0x11, 2, 44100, 4, 0));
  Chunk(ima0, "data", Bytes(64, 0));
  EXPECT_EQ(r.Open(Write("ima0.wav", Riff(ima0)), true), 11);
  r.SetConvertedFileName(dir_.File("ima0-out.wav"));
  EXPECT_FALSE(r.ConvertToCd(nullptr, true));
  r.Close();

  // a 150-byte fmt chunk: 100 bytes kept, the rest skipped
  Bytes fmt150 = Fmt(1, 2, 44100, 16, 4);
  fmt150.resize(150, 0xAB);
  Bytes longFmt;
  Chunk(longFmt, "fmt ", fmt150);
  Chunk(longFmt, "data", Bytes(8, 3));
  EXPECT_EQ(r.Open(Write("longfmt.wav", Riff(longFmt)), false), 1);
  EXPECT_EQ(r.FmtChunkSize(), 150u);
  EXPECT_EQ(r.FormatArea()[99], 0xAB);
  EXPECT_EQ(r.DataByteCount(), 8u);
  EXPECT_EQ(r.DataStart(), 20u + 150u + 8u);
}

TEST_F(ReaderTest, ConvertNeedsANameAndNeverOverwritesItsSource) {
  test::TempDir dir;
  const std::string src = dir.File("m.wav");
  test::WriteWav(src, test::Tone(1000, 1), MakePcmFormat(44100, 1));
  WavSourceReader r;
  EXPECT_FALSE(r.ConvertToCd(nullptr, false));  // nothing open
  ASSERT_EQ(r.Open(src, false), 11);
  EXPECT_FALSE(r.ConvertToCd(nullptr, false));  // no converted-file name
  r.SetConvertedFileName(src);
  EXPECT_FALSE(r.ConvertToCd(nullptr, false));
  EXPECT_TRUE(r.IsOpen());
  EXPECT_EQ(test::ReadAll(src).size(), 48u + 2000u);
}

// Converts src with the reader and compares the PCM with ffmpeg's conversion.
void ExpectConversionMatchesFfmpeg(const std::string& src, const std::string& out,
                                   std::size_t expectedFrames) {
  WavSourceReader r;
  ASSERT_EQ(r.Open(src, false), 11);
  r.SetConvertedFileName(out);
  int calls = 0;
  ProgressCallback cb = [&](std::uint32_t done, std::uint32_t total, bool* cancel, int mode) {
    EXPECT_EQ(cancel, nullptr);
    EXPECT_EQ(mode, -1);
    EXPECT_LE(done, total);
    ++calls;
  };
  ASSERT_TRUE(r.ConvertToCd(&cb, false));
  EXPECT_GE(calls, 1);
  EXPECT_TRUE(r.IsOpen());
  EXPECT_TRUE(SameFormat(r.Format(), CdAudioFormat));
  auto bytes = test::ReadAll(out);
  ASSERT_GE(bytes.size(), 48u);
  ASSERT_EQ(r.DataByteCount(), bytes.size() - 48);
  std::vector<std::int16_t> ours((bytes.size() - 48) / 2);
  std::memcpy(ours.data(), bytes.data() + 48, ours.size() * 2);
  auto ref = test::DecodeWithFfmpeg(src, "-ar 44100 -ac 2");
  ASSERT_EQ(ours.size(), ref.size()) << src;
  // ADPCM pads its last block.
  EXPECT_NEAR(static_cast<double>(ours.size()), static_cast<double>(expectedFrames * 2), 2 * 2100.0);
  int worst = 0;
  for (std::size_t i = 0; i < ours.size(); ++i) worst = std::max(worst, std::abs(ours[i] - ref[i]));
  EXPECT_LE(worst, 1) << src;
}

TEST(ConvertToCdTest, ImaAdpcm22kMonoAnd24BitMatchFfmpeg) {
  test::TempDir dir;
  const std::string cd = dir.File("cd.wav");
  test::WriteWav(cd, test::Tone(22050, 2), CdAudioFormat);
  const std::string ima = dir.File("ima.wav");
  const std::string mono = dir.File("mono22.wav");
  const std::string b24 = dir.File("b24.wav");
  const std::string alaw = dir.File("alaw.wav");
  int rc = 0;
  // Bit-exact output has no LIST chunk before the data.
  const std::string bx = " -fflags +bitexact -flags:a +bitexact ";
  test::Run("ffmpeg -v error -nostdin -y -i " + cd + bx + "-c:a adpcm_ima_wav " + ima + bx +
                "-ar 22050 -ac 1 " + mono + bx + "-c:a pcm_s24le " + b24 + bx + "-c:a pcm_alaw " +
                alaw,
            &rc);
  ASSERT_EQ(rc, 0);
  ExpectConversionMatchesFfmpeg(ima, dir.File("ima-cd.wav"), 22050);
  ExpectConversionMatchesFfmpeg(mono, dir.File("mono-cd.wav"), 22050);
  ExpectConversionMatchesFfmpeg(b24, dir.File("b24-cd.wav"), 22050);
  ExpectConversionMatchesFfmpeg(alaw, dir.File("alaw-cd.wav"), 22050);
}

TEST(ConvertToCdTest, SuggestedFormatKeepsRateAndChannels) {
  test::TempDir dir;
  const std::string cd = dir.File("cd.wav");
  test::WriteWav(cd, test::Tone(4410, 2), CdAudioFormat);
  const std::string ms = dir.File("ms.wav");
  int rc = 0;
  test::Run("ffmpeg -v error -nostdin -y -i " + cd + " -fflags +bitexact -flags:a +bitexact -ar 8000 -ac 1 -c:a adpcm_ms " + ms, &rc);
  ASSERT_EQ(rc, 0);
  WavSourceReader r;
  ASSERT_EQ(r.Open(ms, true), 11);
  AudioFormatRecord suggested{};
  ASSERT_TRUE(AudioConversionStream::SuggestPcmFormat(r.FormatArea(), r.FmtChunkSize(), &suggested));
  EXPECT_TRUE(SameFormat(suggested, MakePcmFormat(8000, 1)));
  r.SetConvertedFileName(dir.File("ms-cd.wav"));
  ASSERT_TRUE(r.ConvertToCd(nullptr, true));
  EXPECT_TRUE(SameFormat(r.Format(), CdAudioFormat));
}

}  // namespace
}  // namespace sonarvex

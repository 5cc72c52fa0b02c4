// FLAC input checked against files made by the reference encoder (flac):
// the decoded PCM must be the source WAV's byte for byte, damaged and cut
// files must fail with a message naming them, and what a CD cannot hold
// (mono, 48 kHz, 24 bits) is refused.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "codec/FlacReader.h"
#include "tests/codec/CodecTestUtil.h"

namespace sonarvex {
namespace {

bool HaveFlacTool() {
  int rc = -1;
  test::Run("command -v flac >/dev/null", &rc);
  return rc == 0;
}

// Noise-like material, so that every bit counts, with the extremes in it.
std::vector<std::int16_t> Material(std::size_t frames, int channels) {
  auto tone = test::Tone(frames, channels);
  std::uint32_t x = 987654321;
  for (auto& v : tone) {
    x = x * 1664525u + 1013904223u;
    v = static_cast<std::int16_t>(v + static_cast<std::int16_t>((x >> 16) % 4001) - 2000);
  }
  if (!tone.empty()) tone[0] = -32768, tone[tone.size() - 1] = 32767;
  return tone;
}

std::vector<std::uint8_t> Bytes(const std::vector<std::int16_t>& samples) {
  std::vector<std::uint8_t> out(samples.size() * 2);
  std::memcpy(out.data(), samples.data(), out.size());
  return out;
}

class FlacReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveFlacTool()) GTEST_SKIP() << "the flac program is not installed (Debian package flac)";
    FlacReader probe;
    if (!probe.Available()) GTEST_SKIP() << kFlacLibraryName << " cannot be loaded (Debian package libflac12)";
  }

  // A FLAC file made by flac from a WAV of these samples.
  std::string Encode(const std::string& name, const std::vector<std::int16_t>& samples,
                     const AudioFormatRecord& format, const std::string& options = "") {
    const std::string wav = dir_.File(name + ".wav");
    const std::string flac = dir_.File(name + ".flac");
    test::WriteWav(wav, samples, format);
    int rc = -1;
    test::Run("flac -s -f " + options + " -o " + test::Quote(flac) + " " + test::Quote(wav) + " 2>&1", &rc);
    EXPECT_EQ(rc, 0) << "flac could not encode " << wav;
    return flac;
  }

  test::TempDir dir_;
};

TEST_F(FlacReaderTest, DecodesToTheSourcePcmByteForByteInReadsOfAnySize) {
  const auto pcm = Material(3 * 44100 + 1234, 2);
  const std::string flac = Encode("tone", pcm, CdAudioFormat, "-8");
  FlacReader reader;
  const WriteResult opened = reader.Open(flac);
  ASSERT_TRUE(opened.Ok()) << opened.message;
  EXPECT_EQ(reader.TotalSamples(), pcm.size() / 2);
  EXPECT_EQ(reader.PcmBytes(), pcm.size() * 2);
  EXPECT_EQ(reader.Channels(), 2u);
  EXPECT_EQ(reader.SampleRate(), 44100u);
  EXPECT_EQ(reader.BitsPerSample(), 16u);

  // Reads of odd sizes (a sample split between two reads included).
  std::vector<std::uint8_t> out;
  std::vector<std::uint8_t> buffer(70000);
  const std::size_t steps[] = {1, 3, 4, 2352, 4095, 70000, 17};
  for (std::size_t k = 0;; ++k) {
    std::size_t got = 0;
    const WriteResult r = reader.Read(buffer.data(), steps[k % std::size(steps)], &got);
    ASSERT_TRUE(r.Ok()) << r.message;
    if (got == 0) break;
    out.insert(out.end(), buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(got));
  }
  EXPECT_EQ(out, Bytes(pcm));
  // At the end it stays at the end.
  std::size_t got = 1;
  EXPECT_TRUE(reader.Read(buffer.data(), 100, &got).Ok());
  EXPECT_EQ(got, 0u);

  // The same through the sink, after opening again.
  ASSERT_TRUE(reader.Open(flac).Ok());
  std::vector<std::uint8_t> all;
  const WriteResult r = reader.ReadAll([&](const std::uint8_t* p, std::size_t n) {
    all.insert(all.end(), p, p + n);
    return WriteResult::Success();
  });
  ASSERT_TRUE(r.Ok()) << r.message;
  EXPECT_EQ(all, Bytes(pcm));

  // A sink that fails stops the decoding with its failure.
  ASSERT_TRUE(reader.Open(flac).Ok());
  int calls = 0;
  const WriteResult stopped = reader.ReadAll([&](const std::uint8_t*, std::size_t) {
    ++calls;
    return WriteResult::Failure("хватит");
  });
  EXPECT_EQ(stopped.message, "хватит");
  EXPECT_EQ(calls, 1);
}

TEST_F(FlacReaderTest, AStreamWithoutItsLengthInTheHeaderIsCountedFirst) {
  const auto pcm = Material(44100 + 99, 2);
  const std::string raw = dir_.File("raw.pcm");
  test::WriteAll(raw, Bytes(pcm));
  const std::string flac = dir_.File("piped.flac");
  int rc = -1;
  // Written to a pipe, the encoder cannot go back to complete the header.
  test::Run("cat " + test::Quote(raw) +
                " | flac -s --force-raw-format --endian=little --sign=signed --channels=2 --bps=16 "
                "--sample-rate=44100 -c - > " + test::Quote(flac) + " 2>/dev/null",
            &rc);
  ASSERT_EQ(rc, 0);
  FlacReader reader;
  const WriteResult opened = reader.Open(flac);
  ASSERT_TRUE(opened.Ok()) << opened.message;
  EXPECT_EQ(reader.TotalSamples(), pcm.size() / 2);
  std::vector<std::uint8_t> all;
  ASSERT_TRUE(reader.ReadAll([&](const std::uint8_t* p, std::size_t n) {
    all.insert(all.end(), p, p + n);
    return WriteResult::Success();
  }).Ok());
  EXPECT_EQ(all, Bytes(pcm));
}

TEST_F(FlacReaderTest, ACutFileFailsWithAMessageNamingIt) {
  const auto pcm = Material(2 * 44100, 2);
  const std::string flac = Encode("cut", pcm, CdAudioFormat);
  auto bytes = test::ReadAll(flac);
  bytes.resize(bytes.size() / 2);
  test::WriteAll(flac, bytes);
  FlacReader reader;
  ASSERT_TRUE(reader.Open(flac).Ok());  // the header is whole
  const WriteResult r = reader.ReadAll([](const std::uint8_t*, std::size_t) { return WriteResult::Success(); });
  ASSERT_TRUE(r.Failed());
  EXPECT_NE(r.message.find("'" + flac + "'"), std::string::npos) << r.message;
  EXPECT_NE(r.message.find("повреждён"), std::string::npos) << r.message;
  // Every later read says the same.
  std::uint8_t b[16];
  std::size_t got = 0;
  EXPECT_EQ(reader.Read(b, sizeof b, &got).message, r.message);

  // Cut inside the header: the file is refused when opened.
  bytes.resize(30);
  test::WriteAll(flac, bytes);
  const WriteResult o = reader.Open(flac);
  ASSERT_TRUE(o.Failed());
  EXPECT_NE(o.message.find("'" + flac + "'"), std::string::npos) << o.message;
}

TEST_F(FlacReaderTest, DamagedFramesAndAWrongMd5SignatureAreFound) {
  const auto pcm = Material(2 * 44100, 2);
  const std::string flac = Encode("damaged", pcm, CdAudioFormat, "--no-padding");
  const auto good = test::ReadAll(flac);

  // A byte changed in the middle of the audio: a frame's CRC no longer matches.
  auto bytes = good;
  bytes[bytes.size() / 2] ^= 0x5A;
  test::WriteAll(flac, bytes);
  FlacReader reader;
  ASSERT_TRUE(reader.Open(flac).Ok());
  WriteResult r = reader.ReadAll([](const std::uint8_t*, std::size_t) { return WriteResult::Success(); });
  ASSERT_TRUE(r.Failed());
  EXPECT_NE(r.message.find("Файл FLAC '" + flac + "' повреждён"), std::string::npos) << r.message;

  // The audio whole but the signature in the header changed: found at the end.
  bytes = good;
  ASSERT_EQ(std::memcmp(bytes.data(), "fLaC", 4), 0);
  bytes[4 + 4 + 18 + 5] ^= 0x01;  // STREAMINFO's MD5 signature (its last 16 bytes)
  test::WriteAll(flac, bytes);
  ASSERT_TRUE(reader.Open(flac).Ok());
  r = reader.ReadAll([](const std::uint8_t*, std::size_t) { return WriteResult::Success(); });
  ASSERT_TRUE(r.Failed());
  EXPECT_NE(r.message.find("MD5"), std::string::npos) << r.message;
  EXPECT_NE(r.message.find(flac), std::string::npos) << r.message;
}

TEST_F(FlacReaderTest, WhatACdCannotHoldIsRefused) {
  FlacReader reader;
  const std::string mono = Encode("mono", Material(44100, 1), MakePcmFormat(44100, 1));
  WriteResult r = reader.Open(mono);
  ASSERT_TRUE(r.Failed());
  EXPECT_EQ(r.message, "Файл '" + mono +
                           "' не в формате компакт-диска (1 канал, 44100 Гц, 16 бит): на CD бывает "
                           "только стерео 44100 Гц 16 бит.");
  EXPECT_FALSE(reader.IsOpen());

  const std::string dvd = Encode("dvd", Material(48000, 2), MakePcmFormat(48000, 2));
  r = reader.Open(dvd);
  ASSERT_TRUE(r.Failed());
  EXPECT_NE(r.message.find("(2 канала, 48000 Гц, 16 бит)"), std::string::npos) << r.message;

  // 24 bits, made from raw samples.
  const std::string raw = dir_.File("raw24.pcm");
  test::WriteAll(raw, std::vector<std::uint8_t>(44100 * 6, 0x11));
  const std::string deep = dir_.File("deep.flac");
  int rc = -1;
  test::Run("flac -s --force-raw-format --endian=little --sign=signed --channels=2 --bps=24 "
            "--sample-rate=44100 -o " + test::Quote(deep) + " " + test::Quote(raw) + " 2>&1",
            &rc);
  ASSERT_EQ(rc, 0);
  r = reader.Open(deep);
  ASSERT_TRUE(r.Failed());
  EXPECT_NE(r.message.find("(2 канала, 44100 Гц, 24 бит)"), std::string::npos) << r.message;
}

TEST_F(FlacReaderTest, NotFlacMissingNotARegularFileAndNoLibrary) {
  FlacReader reader;
  const std::string wav = dir_.File("a.wav");
  test::WriteWav(wav, Material(1000, 2), CdAudioFormat);
  WriteResult r = reader.Open(wav);
  EXPECT_EQ(r.message, "Файл '" + wav + "' не является файлом FLAC.");

  // An ID3v2 tag followed by something else is not FLAC either.
  const std::string tagged = dir_.File("tagged.flac");
  std::vector<std::uint8_t> id3 = {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 4, 0, 0, 0, 0};  // a 4-byte tag
  id3.resize(200, 0x20);
  test::WriteAll(tagged, id3);
  r = reader.Open(tagged);
  EXPECT_EQ(r.message, "Файл '" + tagged + "' не является файлом FLAC.");

  const std::string gone = dir_.File("gone.flac");
  EXPECT_EQ(reader.Open(gone).message, "Нет файла '" + gone + "'.");

  // A FIFO is refused at once, not waited on.
  const std::string fifo = dir_.File("fifo.flac");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(reader.Open(fifo).message, "'" + fifo + "' не является обычным файлом.");

  // Nothing is open after a failed Open.
  EXPECT_FALSE(reader.IsOpen());
  std::uint8_t b[4];
  std::size_t got = 0;
  EXPECT_EQ(reader.Read(b, sizeof b, &got).message, "Файл FLAC не открыт.");

  FlacReader without("libFLAC-not-there.so.99");
  EXPECT_FALSE(without.Available());
  const std::string flac = Encode("ok", Material(1000, 2), CdAudioFormat);
  EXPECT_EQ(without.Open(flac).message,
            "Файл '" + flac + "' не прочитан: нет библиотеки libFLAC.so.12 (пакет libflac12).");
}

}  // namespace
}  // namespace sonarvex

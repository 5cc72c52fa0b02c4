// FFmpeg is opened when the codec layer first needs it. Without it the
// writers and readers built on it say they cannot work, in the words they use
// for a missing encoder or decoder, and leave no file behind; nothing crashes.
#include <gtest/gtest.h>

#include <cstdlib>

#include "codec/AcmMp3Driver.h"
#include "codec/AudioConversionStream.h"
#include "codec/AviSoundReader.h"
#include "codec/FfmpegMp3Driver.h"
#include "codec/WmaFileReader.h"
#include "codec/WmaWriter.h"
#include "platform/Files.h"
#include "tests/codec/CodecTestUtil.h"

namespace sonarvex {
namespace {

// Every check in a fresh copy of this program (so FFmpeg is not loaded yet);
// the exit code names the first check that failed.
int CodecLayerWithoutFfmpeg() {
  ::setenv("SONARVEX_HIDE_LIBRARIES", "libavcodec.so", 1);
  test::TempDir dir;
  const std::string wav = dir.File("tone.wav");
  test::WriteWav(wav, test::Tone(4410, 2), CdAudioFormat);

  if (FfmpegMp3Driver::EncoderPresent()) return 1;
  if (!InstalledMp3Drivers().empty()) return 2;
  if (WmaFileReader::DecoderAvailable()) return 3;

  WmaWriter writer;
  if (writer.Available()) return 4;
  const std::string wma = dir.File("out.wma");
  const WriteResult opened = writer.Open(nullptr, wma);
  if (opened.Ok() || opened.message != kWmaUnavailableText) return 5;
  if (FileExists(wma)) return 6;
  if (writer.ConvertFile(wav, wma, nullptr).message != kWmaUnavailableText || FileExists(wma)) return 7;

  const std::uint8_t pcm[16] = {1, 0, 2, 0, 0x44, 0xAC, 0, 0, 0x10, 0xB1, 2, 0, 4, 0, 16, 0};
  if (AudioConversionStream::Open(pcm, sizeof pcm, CdAudioFormat) != nullptr) return 8;
  AudioFormatRecord suggested{};
  if (AudioConversionStream::SuggestPcmFormat(pcm, sizeof pcm, &suggested)) return 9;

  AviSoundReader avi;
  if (avi.Open(wav) != AviSoundReader::OpenResult::CannotOpen) return 10;
  if (avi.Failure().find("libavcodec.so") == std::string::npos) return 11;

  WmaFileReader reader(nullptr, false);
  if (reader.Open(wav, dir.File("out.wav"))) return 12;
  if (reader.OpenFailure().rfind("нет декодера WMA (Не удалось загрузить библиотеку libavcodec.so", 0) != 0)
    return 13;
  if (FileExists(dir.File("out.wav"))) return 14;
  return 0;
}

TEST(FfmpegMissing, TheCodecLayerSaysItCannotAndLeavesNothing) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(std::exit(CodecLayerWithoutFfmpeg()), testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace sonarvex

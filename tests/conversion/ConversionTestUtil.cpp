#include "tests/conversion/ConversionTestUtil.h"

#include <stdexcept>

namespace sonarvex::test {

bool ToolPresent(const std::string& name) {
  int rc = -1;
  Run("command -v " + name + " >/dev/null 2>&1", &rc);
  return rc == 0;
}

std::vector<std::int16_t> MakeWav(const std::string& path, double seconds, int rate, int channels) {
  auto tone = Tone(static_cast<std::size_t>(seconds * rate), channels, rate);
  WriteWav(path, tone, MakePcmFormat(static_cast<std::uint32_t>(rate),
                                     static_cast<std::uint16_t>(channels)));
  return tone;
}

std::vector<std::int16_t> MakeFlac(const std::string& path, double seconds,
                                   const std::string& options, int rate, int channels) {
  const std::string wav = path + ".src.wav";
  auto tone = MakeWav(wav, seconds, rate, channels);
  int rc = -1;
  Run("flac --silent -f " + options + " -o " + Quote(path) + " " + Quote(wav) + " 2>&1", &rc);
  std::remove(wav.c_str());
  if (rc != 0) throw std::runtime_error("flac " + path);
  return tone;
}

void MakePng(const std::string& path) {
  int rc = -1;
  Run("ffmpeg -v error -nostdin -y -f lavfi -i color=c=red:s=16x16 -frames:v 1 " + Quote(path), &rc);
  if (rc != 0) throw std::runtime_error("ffmpeg " + path);
}

void MakeMp3(const std::string& path, double seconds, const std::string& options, int rate) {
  const std::string wav = path + ".src.wav";
  MakeWav(wav, seconds, rate);
  int rc = -1;
  Run("lame --quiet " + options + " " + Quote(wav) + " " + Quote(path), &rc);
  std::remove(wav.c_str());
  if (rc != 0) throw std::runtime_error("lame " + path);
}

void MakeWma(const std::string& path, double seconds, int rate, const std::string& extra) {
  int rc = -1;
  Run("ffmpeg -v error -nostdin -y -f lavfi -i sine=f=440:r=" + std::to_string(rate) +
          ":d=" + std::to_string(seconds) + " -ac 2 -c:a wmav2 -b:a 128k " + extra + " " +
          Quote(path),
      &rc);
  if (rc != 0) throw std::runtime_error("ffmpeg " + path);
}

void MakeAvi(const std::string& path, double seconds, const std::string& audioCodec) {
  const std::string d = std::to_string(seconds);
  std::string cmd = "ffmpeg -v error -nostdin -y -f lavfi -i testsrc=size=64x48:rate=10:d=" + d;
  if (!audioCodec.empty()) cmd += " -f lavfi -i sine=f=440:r=44100:d=" + d + " -ac 2";
  cmd += " -c:v mpeg4";
  if (!audioCodec.empty()) cmd += " -c:a " + audioCodec;
  cmd += " " + Quote(path);
  int rc = -1;
  Run(cmd, &rc);
  if (rc != 0) throw std::runtime_error("ffmpeg " + path);
}

void MakeSineWav(const std::string& path, double seconds, int rate, int channels,
                 const std::string& codec, bool bitexact) {
  int rc = -1;
  Run("ffmpeg -v error -nostdin -y -f lavfi -i sine=f=440:r=" + std::to_string(rate) +
          ":d=" + std::to_string(seconds) + " -ac " + std::to_string(channels) + " -c:a " + codec +
          (bitexact ? " -fflags +bitexact -flags:a +bitexact " : " ") + Quote(path),
      &rc);
  if (rc != 0) throw std::runtime_error("ffmpeg " + path);
}

ToneMeasure MeasureTone(const std::string& path) {
  const auto pcm = DecodeWithFfmpeg(path, "-ac 1 -ar 44100");
  ToneMeasure m;
  m.seconds = static_cast<double>(pcm.size()) / 44100.0;
  // Rising crossings through a small band around zero (silence is no tone).
  long crossings = 0;
  std::size_t first = 0, last = 0;
  bool low = false;
  for (std::size_t i = 0; i < pcm.size(); ++i) {
    if (pcm[i] < -200) low = true;
    if (low && pcm[i] > 200) {
      if (crossings == 0) first = i;
      last = i;
      ++crossings;
      low = false;
    }
  }
  if (crossings > 1) m.hz = static_cast<double>(crossings - 1) * 44100.0 / static_cast<double>(last - first);
  return m;
}

EngineRig::EngineRig() {
  ApplyFirstStartDefaults(settings, (dir.Path() + "/").c_str());
  encoders = std::make_unique<EncoderSet>(settings, dialogs);
  context.settings = &settings;
  context.encoders = encoders.get();
  context.dialogs = &dialogs;
  context.host = &host;
  context.programFolder = std::string(SONARVEX_BIN_DIR) + "/";
  context.tempFolder = dir.Path() + "/TempFile/";
  engine = std::make_unique<ConvertEngine>(context);
}

EngineRig::~EngineRig() = default;

}  // namespace sonarvex::test

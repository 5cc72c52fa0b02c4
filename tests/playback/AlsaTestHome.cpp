#include "tests/playback/AlsaTestHome.h"

#include <alsa/asoundlib.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "playback/AlsaFunctions.h"

namespace sonarvex::test {

namespace {

std::string MakeHome() {
  // GStreamer keeps its plugin registry under HOME: keep using the real one
  // so every test process does not scan the plugins again.
  if (const char* home = std::getenv("HOME"); home && !std::getenv("GST_REGISTRY")) {
    const std::string registry = std::string(home) + "/.cache/gstreamer-1.0/registry.sonarvex-tests.bin";
    setenv("GST_REGISTRY", registry.c_str(), 1);
  }
  char tmpl[] = "/tmp/sonarvex-alsa-XXXXXX";
  const char* dir = mkdtemp(tmpl);
  if (!dir) return {};
  std::ofstream rc(std::string(dir) + "/.asoundrc");
  rc << "pcm.sonarvex_capture {\n"
        "  @args [ FILE ]\n"
        "  @args.FILE { type string }\n"
        "  type file\n"
        "  slave.pcm null\n"
        "  file $FILE\n"
        "  format raw\n"
        "}\n";
  rc.close();
  setenv("HOME", dir, 1);
  unsetenv("XDG_CONFIG_HOME");
  return dir;
}

// Set before main, so ALSA reads this configuration on its first use.
const std::string kHome = MakeHome();

}  // namespace

const std::string& AlsaTestHome() { return kHome; }

std::string CaptureDevice(const std::string& file) { return "sonarvex_capture:FILE=" + file; }

bool CaptureDeviceWorks(std::string* why) {
  const std::string probe = kHome + "/probe.raw";
  if (!alsa::Available()) {
    if (why) *why = alsa::Error();
    return false;
  }
  snd_pcm_t* pcm = nullptr;
  const int err = snd_pcm_open(&pcm, CaptureDevice(probe).c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
  if (err < 0) {
    if (why) *why = std::string("ALSA cannot open the test capture device: ") + snd_strerror(err);
    return false;
  }
  snd_pcm_close(pcm);
  unlink(probe.c_str());
  return true;
}

}  // namespace sonarvex::test

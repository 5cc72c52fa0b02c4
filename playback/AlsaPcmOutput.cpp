// The ALSA device behind the digital player. The device is opened
// non-blocking, so a busy or missing device fails at once and a write never
// waits longer than one poll of 50 ms before asking whether to go on.
#include <alsa/asoundlib.h>

#include <chrono>

#include "playback/PcmOutput.h"

#include "playback/AlsaFunctions.h"

namespace sonarvex {
namespace {

constexpr unsigned kBufferMicros = 200000;  // what the device holds ahead
constexpr unsigned kPeriodMicros = 50000;

class AlsaPcmOutput : public PcmOutput {
 public:
  explicit AlsaPcmOutput(std::string device) : device_(std::move(device)) {}
  ~AlsaPcmOutput() override { Close(); }

  std::string Name() const override { return device_; }
  bool IsOpen() const override { return pcm_ != nullptr; }

  OpenResult Open(std::string* detail) override {
    if (pcm_) return OpenResult::Ok;
    if (!alsa::Available()) {
      if (detail) *detail = alsa::Error();
      return OpenResult::NoDevice;
    }
    int err = snd_pcm_open(&pcm_, device_.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
    if (err < 0) {
      pcm_ = nullptr;
      if (detail) *detail = snd_strerror(err);
      return OpenResult::NoDevice;
    }
    err = Configure();
    if (err < 0) {
      if (detail) *detail = snd_strerror(err);
      snd_pcm_close(pcm_);
      pcm_ = nullptr;
      return OpenResult::FormatRefused;
    }
    return OpenResult::Ok;
  }

  void Close() override {
    if (!pcm_) return;
    snd_pcm_drop(pcm_);
    snd_pcm_close(pcm_);
    pcm_ = nullptr;
    paused_ = false;
  }

  long Write(const unsigned char* pcm, long frames, const std::function<bool()>& keepGoing) override {
    if (!pcm_) return -1;
    long done = 0;
    int failures = 0;
    while (done < frames) {
      if (!keepGoing()) break;
      const snd_pcm_sframes_t r =
          snd_pcm_writei(pcm_, pcm + done * kCdFrameBytes, static_cast<snd_pcm_uframes_t>(frames - done));
      if (r == -EAGAIN) {
        snd_pcm_wait(pcm_, 50);
        continue;
      }
      if (r < 0) {
        // An underrun (the owner was late with the next slot) or a
        // suspend is mended by preparing again; anything else ends it.
        if (++failures > 8 || snd_pcm_recover(pcm_, static_cast<int>(r), 1) < 0) return -1;
        continue;
      }
      failures = 0;
      done += r;
    }
    return done;
  }

  void Drain(const std::function<bool()>& keepGoing) override {
    if (!pcm_) return;
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::microseconds(kBufferMicros) + std::chrono::seconds(1);
    int r = snd_pcm_drain(pcm_);
    while (r == -EAGAIN && keepGoing() && Clock::now() < deadline &&
           snd_pcm_state(pcm_) == SND_PCM_STATE_DRAINING) {
      snd_pcm_wait(pcm_, 50);
    }
    Drop();
  }

  void Drop() override {
    if (!pcm_) return;
    snd_pcm_drop(pcm_);
    snd_pcm_prepare(pcm_);
    paused_ = false;
  }

  void Pause(bool paused) override {
    if (!pcm_) return;
    if (paused) {
      if (snd_pcm_state(pcm_) != SND_PCM_STATE_RUNNING) return;
      if (canPause_ && snd_pcm_pause(pcm_, 1) == 0) {
        paused_ = true;
      } else {
        // A device that cannot hold loses what it held (at most the 200 ms
        // it is given ahead).
        Drop();
      }
    } else if (paused_) {
      paused_ = false;
      if (snd_pcm_pause(pcm_, 0) < 0) Drop();
    }
  }

 private:
  int Configure() {
    snd_pcm_hw_params_t* hw;
    snd_pcm_hw_params_alloca(&hw);
    int err;
    if ((err = snd_pcm_hw_params_any(pcm_, hw)) < 0) return err;
    if ((err = snd_pcm_hw_params_set_access(pcm_, hw, SND_PCM_ACCESS_RW_INTERLEAVED)) < 0) return err;
    if ((err = snd_pcm_hw_params_set_format(pcm_, hw, SND_PCM_FORMAT_S16_LE)) < 0) return err;
    if ((err = snd_pcm_hw_params_set_channels(pcm_, hw, kCdChannels)) < 0) return err;
    if ((err = snd_pcm_hw_params_set_rate(pcm_, hw, kCdSampleRate, 0)) < 0) return err;
    unsigned buffer = kBufferMicros, period = kPeriodMicros;
    int dir = 0;
    snd_pcm_hw_params_set_buffer_time_near(pcm_, hw, &buffer, &dir);
    dir = 0;
    snd_pcm_hw_params_set_period_time_near(pcm_, hw, &period, &dir);
    if ((err = snd_pcm_hw_params(pcm_, hw)) < 0) return err;
    canPause_ = snd_pcm_hw_params_can_pause(hw) != 0;

    snd_pcm_uframes_t periodFrames = 0;
    dir = 0;
    snd_pcm_hw_params_get_period_size(hw, &periodFrames, &dir);
    snd_pcm_sw_params_t* sw;
    snd_pcm_sw_params_alloca(&sw);
    if ((err = snd_pcm_sw_params_current(pcm_, sw)) < 0) return err;
    snd_pcm_sw_params_set_start_threshold(pcm_, sw, periodFrames ? periodFrames : 1);
    if ((err = snd_pcm_sw_params(pcm_, sw)) < 0) return err;
    return snd_pcm_prepare(pcm_);
  }

  std::string device_;
  snd_pcm_t* pcm_ = nullptr;
  bool canPause_ = false;
  bool paused_ = false;
};

}  // namespace

std::unique_ptr<PcmOutput> MakeAlsaPcmOutput(const std::string& device) {
  return std::make_unique<AlsaPcmOutput>(device.empty() ? std::string("default") : device);
}

}  // namespace sonarvex

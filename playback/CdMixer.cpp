#include "playback/CdMixer.h"

#include <alsa/asoundlib.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <mutex>
#include <thread>

#include "platform/Dialogs.h"

#include "playback/AlsaFunctions.h"

namespace sonarvex {

namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

int ChooseCdElement(const std::vector<std::string>& names) {
  static const char* const kPreference[] = {"cd", "line", "aux", "pcm", "master"};
  for (const char* wanted : kPreference)
    for (std::size_t i = 0; i < names.size(); ++i)
      if (Lower(names[i]) == wanted) return static_cast<int>(i);
  return -1;
}

std::string MixerDeviceFor(const std::string& pcmDevice) {
  const std::size_t card = pcmDevice.find("CARD=");
  if (card != std::string::npos) {
    std::string name = pcmDevice.substr(card + 5);
    name = name.substr(0, name.find_first_of(",} "));
    if (!name.empty() && name.front() == '"') name = name.substr(1, name.find('"', 1) - 1);
    if (!name.empty()) return "hw:" + name;
  }
  const std::size_t colon = pcmDevice.find(':');
  if (colon != std::string::npos) {
    const std::string type = pcmDevice.substr(0, colon);
    if (type == "hw" || type == "plughw" || type == "sysdefault" || type == "front" || type == "dmix" ||
        type == "dsnoop" || type == "surround40" || type == "surround51" || type == "iec958") {
      std::string index = pcmDevice.substr(colon + 1);
      index = index.substr(0, index.find(','));
      if (!index.empty() && std::all_of(index.begin(), index.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
        return "hw:" + index;
    }
  }
  return "default";
}

struct CdMixer::Impl {
  mutable std::mutex mutex;
  snd_mixer_t* mixer = nullptr;
  snd_mixer_elem_t* element = nullptr;
  std::string elementName;
  long min = 0, max = 0;
  long lastRaw = -1;
  ChangeCallback callback;
  int wakeFd = -1;
  std::thread watcher;

  long ReadRaw() const {
    long left = 0;
    snd_mixer_selem_get_playback_volume(element, SND_MIXER_SCHN_FRONT_LEFT, &left);
    return left;
  }
  int ToVolume(long raw) const {
    if (max <= min) return 0;
    return static_cast<int>(std::lround(static_cast<double>(raw - min) * 65535.0 / static_cast<double>(max - min)));
  }
  long ToRaw(int volume) const {
    volume = std::clamp(volume, 0, 65535);
    return min + std::lround(static_cast<double>(volume) * static_cast<double>(max - min) / 65535.0);
  }

  void Watch() {
    for (;;) {
      std::vector<pollfd> fds;
      {
        std::lock_guard<std::mutex> lock(mutex);
        if (!mixer) return;
        const int n = snd_mixer_poll_descriptors_count(mixer);
        fds.resize(static_cast<std::size_t>(std::max(n, 0)) + 1);
        if (n > 0) snd_mixer_poll_descriptors(mixer, fds.data() + 1, static_cast<unsigned>(n));
      }
      fds[0] = pollfd{wakeFd, POLLIN, 0};
      if (poll(fds.data(), fds.size(), -1) < 0) {
        if (errno == EINTR) continue;
        return;
      }
      if (fds[0].revents) return;  // closing
      int changed = -1;
      ChangeCallback call;
      {
        std::lock_guard<std::mutex> lock(mutex);
        if (!mixer) return;
        if (snd_mixer_handle_events(mixer) < 0) return;
        const long raw = ReadRaw();
        if (raw != lastRaw) {
          lastRaw = raw;
          changed = ToVolume(raw);
          call = callback;
        }
      }
      if (changed >= 0 && call) call(changed);
    }
  }
};

CdMixer::CdMixer() : impl_(std::make_unique<Impl>()) {}
CdMixer::~CdMixer() { Close(); }

bool CdMixer::Open(const std::string& pcmDevice, Dialogs& dialogs) {
  Close();
  const std::string device = MixerDeviceFor(pcmDevice);
  snd_mixer_t* mixer = nullptr;
  bool ok = alsa::Available() && snd_mixer_open(&mixer, 0) == 0;
  ok = ok && snd_mixer_attach(mixer, device.c_str()) == 0;
  ok = ok && snd_mixer_selem_register(mixer, nullptr, nullptr) == 0;
  ok = ok && snd_mixer_load(mixer) == 0;
  if (!ok) {
    if (mixer) snd_mixer_close(mixer);
    dialogs.Message(kMixerOpenFailedText, kProgramTitle, MsgIcon::Warning, MsgButtons::Ok);
    return false;
  }
  std::vector<snd_mixer_elem_t*> elements;
  std::vector<std::string> names;
  for (snd_mixer_elem_t* e = snd_mixer_first_elem(mixer); e; e = snd_mixer_elem_next(e)) {
    if (!snd_mixer_selem_is_active(e) || !snd_mixer_selem_has_playback_volume(e)) continue;
    elements.push_back(e);
    names.emplace_back(snd_mixer_selem_get_name(e));
  }
  const int chosen = ChooseCdElement(names);
  if (chosen < 0) {
    snd_mixer_close(mixer);
    return false;
  }
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->mixer = mixer;
  impl_->element = elements[static_cast<std::size_t>(chosen)];
  impl_->elementName = names[static_cast<std::size_t>(chosen)];
  snd_mixer_selem_get_playback_volume_range(impl_->element, &impl_->min, &impl_->max);
  if (Lower(impl_->elementName) == "cd") {
    if (snd_mixer_selem_has_playback_switch(impl_->element)) {
      int on = 1;
      snd_mixer_selem_get_playback_switch(impl_->element, SND_MIXER_SCHN_FRONT_LEFT, &on);
      if (!on) snd_mixer_selem_set_playback_switch_all(impl_->element, 1);
    }
    snd_mixer_selem_set_playback_volume_all(impl_->element, impl_->ToRaw(255 * 255));
  }
  impl_->lastRaw = impl_->ReadRaw();
  impl_->wakeFd = eventfd(0, EFD_CLOEXEC);
  if (impl_->wakeFd >= 0) impl_->watcher = std::thread([this] { impl_->Watch(); });
  return true;
}

bool CdMixer::Usable() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->mixer != nullptr;
}

std::string CdMixer::ElementName() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->elementName;
}

bool CdMixer::SetVolume(int volume) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  if (!impl_->mixer) return false;
  const long raw = impl_->ToRaw(volume);
  if (snd_mixer_selem_set_playback_volume_all(impl_->element, raw) < 0) return false;
  impl_->lastRaw = raw;
  return true;
}

int CdMixer::Volume() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  if (!impl_->mixer) return -1;
  return impl_->ToVolume(impl_->ReadRaw());
}

void CdMixer::SetChangeCallback(ChangeCallback callback) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->callback = std::move(callback);
}

void CdMixer::Close() {
  if (impl_->wakeFd >= 0) {
    const std::uint64_t one = 1;
    if (write(impl_->wakeFd, &one, sizeof one) < 0) { /* the watcher also ends with the mixer */ }
  }
  if (impl_->watcher.joinable()) impl_->watcher.join();
  if (impl_->wakeFd >= 0) close(impl_->wakeFd);
  impl_->wakeFd = -1;
  std::lock_guard<std::mutex> lock(impl_->mutex);
  if (impl_->mixer) snd_mixer_close(impl_->mixer);
  impl_->mixer = nullptr;
  impl_->element = nullptr;
  impl_->elementName.clear();
}

}  // namespace sonarvex

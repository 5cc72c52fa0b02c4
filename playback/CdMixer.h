// The system mixer's CD line: ALSA's mixer of the card the sound device
// plays on, and its playback element that stands for the CD line ("CD", or
// the nearest one the card has). Volumes are 0..65535, as the volume bar
// sets them (level x 255) and reads them back (value / 256).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace sonarvex {

class Dialogs;

inline constexpr const char* kMixerOpenFailedText = "mixerOpen() failed!";

// Index of the element standing for the CD line among the names of the
// playback elements that have a volume: "CD" first, then the lines a CD
// drive's cable is wired to ("Line", "Aux"), then the card's output
// ("PCM", "Master"); names compare without case. -1 when none fits.
int ChooseCdElement(const std::vector<std::string>& names);

// The mixer (control device) of the card an ALSA PCM name plays on: "hw:N"
// for "hw:N,D", "plughw:N,D" and the like, "hw:NAME" for a "CARD=NAME"
// argument, "default" for any other name.
std::string MixerDeviceFor(const std::string& pcmDevice);

class CdMixer {
 public:
  // Called on the mixer's own thread when the element's volume changed from
  // outside (another program, the keyboard); the owner hands it to its own
  // thread.
  using ChangeCallback = std::function<void(int volume)>;

  CdMixer();
  ~CdMixer();
  CdMixer(const CdMixer&) = delete;
  CdMixer& operator=(const CdMixer&) = delete;

  // Opens the mixer for the sound device. When it cannot be opened the
  // warning "mixerOpen() failed!" is shown (once: Open is called once at
  // start-up) and the mixer is not used. A real "CD" element is unmuted and
  // set to full volume, as the CD line is at start-up; a stand-in element
  // (Master, PCM, ...) is left as the user set it.
  bool Open(const std::string& pcmDevice, Dialogs& dialogs);
  bool Usable() const;
  // The element in use ("" when none).
  std::string ElementName() const;
  bool SetVolume(int volume);
  // 0..65535; -1 when the mixer is not used.
  int Volume() const;
  void SetChangeCallback(ChangeCallback callback);
  void Close();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace sonarvex

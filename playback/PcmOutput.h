// A sound device that takes CD audio: 44100 Hz, 2 channels, 16-bit
// little-endian (4 bytes a frame, 176400 bytes a second).
//
// Open and Close run on the owner's thread; Write, Drain, Drop and Pause on
// one thread at a time (the digital player hands the device between its
// owner and its output thread, never using it from both at once).
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace sonarvex {

inline constexpr int kCdSampleRate = 44100;
inline constexpr int kCdChannels = 2;
inline constexpr int kCdFrameBytes = 4;

class PcmOutput {
 public:
  enum class OpenResult {
    Ok,
    NoDevice,       // the device cannot be opened (missing, busy, no card)
    FormatRefused,  // it opened but does not take CD audio
  };

  virtual ~PcmOutput() = default;

  // What the device is called, for messages.
  virtual std::string Name() const = 0;
  // `detail` receives the system's reason on failure (may be null).
  virtual OpenResult Open(std::string* detail) = 0;
  virtual bool IsOpen() const = 0;
  virtual void Close() = 0;

  // Writes up to `frames` frames, waiting while the device is full and
  // asking `keepGoing` at least every 50 ms whether to go on. Returns the
  // frames written (fewer when keepGoing said no), or -1 on a failure that
  // recovering did not mend.
  virtual long Write(const unsigned char* pcm, long frames, const std::function<bool()>& keepGoing) = 0;
  // Lets the device play out what it holds (bounded; keepGoing may cut it short).
  virtual void Drain(const std::function<bool()>& keepGoing) = 0;
  // Throws away what the device holds and makes it ready for new writes.
  virtual void Drop() = 0;
  // Holds or resumes the device's play-out of what it holds.
  virtual void Pause(bool paused) = 0;
};

// The ALSA device of that name ("default", "hw:1,0", a plugin of the user's
// configuration).
std::unique_ptr<PcmOutput> MakeAlsaPcmOutput(const std::string& device);

}  // namespace sonarvex

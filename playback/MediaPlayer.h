// The program's one player for audio and video files (GStreamer playbin).
// It plays one file at a time; video plays in a window of its own.
//
// Positions and lengths are in hundredths of a second; the volume is in
// hundredths of a decibel (0 full, -10000 silent).
//
// Stream events: a bus sync handler takes GStreamer's end-of-stream and
// error messages on the thread that posts them (a streaming thread, or the
// caller of PlayMedia when the stream had already ended). It calls the event
// callback there and then records them (WaitForEnd wakes on them, no
// polling). The callback must only hand the event to the owner's thread (a
// queued invocation onto the GUI thread, or a CallQueue); the owner touches
// the player from there.
//
// The player's calls are not locked against each other: use it from one
// thread at a time (WaitForEnd and InterruptWait may be used from others).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace sonarvex {

struct MediaPlayerOptions {
  // The ALSA device for the sound (alsasink); empty: the desktop's own
  // choice (autoaudiosink).
  std::string audioDevice;
  // Whether that device's sink keeps time with the clock. A device that
  // plays nowhere (ALSA's file and null plugins) has no clock of its own:
  // without syncing it gets every sample, as fast as they come.
  bool audioDeviceSync = true;
  // Tests and machines without sound or display: audio and video go to
  // sinks that drop them, keeping time with the clock (or as fast as the
  // data comes when fakeSinksSync is off).
  bool fakeSinks = false;
  bool fakeSinksSync = true;
  // How long opening a file may take to find out whether it plays.
  int openTimeoutMs = 10000;
};

class MediaPlayer {
 public:
  enum class StreamEvent { EndOfStream, Error };
  // Called on a GStreamer thread or inside PlayMedia; `detail` is the error
  // text. Post it on, never call the player from it.
  using EventCallback = std::function<void(StreamEvent event, const std::string& detail)>;

  explicit MediaPlayer(MediaPlayerOptions options = {});
  ~MediaPlayer();
  MediaPlayer(const MediaPlayer&) = delete;
  MediaPlayer& operator=(const MediaPlayer&) = delete;

  // Whether GStreamer (with playbin) could be started at all.
  static bool Available(std::string* why = nullptr);

  void SetEventCallback(EventCallback callback);

  // Loads a file and leaves it paused at its start. False when the file does
  // not exist or cannot be played; a file loaded before stays loaded then.
  // A loaded file is closed only once the new one is known to play.
  // `ownerWindow` is accepted for the callers' sake: video gets a window of
  // its own.
  bool OpenMediaFile(const std::string& path, std::uintptr_t ownerWindow = 0);
  bool PlayMedia();    // false when nothing is loaded
  bool PauseMedia();   // false when nothing is loaded
  bool RewindMedia();  // stops (paused) at position 0; false when nothing is loaded
  bool CloseMedia();   // closes the file and its video window; false when nothing is loaded
  int GetMediaPosition();                // hundredths, truncated; 0 when nothing is loaded
  bool SetMediaPosition(int hundredths); // seeks to whole seconds (12345 -> 123 s)
  int GetMediaLength();                  // hundredths, truncated; 0 when unknown
  bool SetMediaVolume(int volume);       // -10000..0; false when nothing is loaded

  bool Loaded() const;
  bool NoVideo() const;  // the loaded file has no video stream
  const std::string& LoadedPath() const;
  // The volume last set, as a linear factor (1 after opening a file).
  double LinearVolume() const;
  // Why the last open failed, or the last stream error.
  std::string LastError() const;

  enum class WaitResult { Ended, Failed, TimedOut, Interrupted, NotLoaded };
  // Waits until the loaded file has played to its end (or failed). For a
  // console program: call PlayMedia first. timeoutMs < 0 waits without end.
  WaitResult WaitForEnd(int timeoutMs = -1);
  // Makes a WaitForEnd return Interrupted (any thread; not from a signal
  // handler).
  void InterruptWait();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The linear factor of a volume in hundredths of a decibel (10^(v / 2000);
// -10000 and below silent, 0 and above 1).
double MediaLinearVolume(int volume);

}  // namespace sonarvex

// Digital CD playback: the track's sectors, read with ReadCDDA of the chosen
// transport, stream through a looping buffer of 16 slots of 10 sectors into
// a sound device (ALSA).
//
// Threads. Every public call, and every disc read, runs on the owner's
// thread (the GUI thread in the window, the command loop in the console), so
// playback reads never overlap the owner's own drive commands. The output
// thread only moves the slots into the device; when it has passed a slot it
// posts the refill of that slot to the owner (PostToOwner). A console owner
// runs a CallQueue while it waits; a window posts with a queued invocation.
//
// Sector numbers are those of the album record (counted from the first
// track, as StartSector); the drive is asked for sector + first-track
// offset - 150, as the ripping loop does.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "drive/DriveCommands.h"
#include "playback/CallQueue.h"
#include "playback/PcmOutput.h"
#include "records/AlbumRecord.h"

namespace sonarvex {

class Dialogs;
class Transport;

inline constexpr int kPlaybackSlots = 16;
inline constexpr int kSectorsPerSlot = 10;
inline constexpr int kSlotBytes = kSectorsPerSlot * kBytesPerSector;         // 23520
inline constexpr int kPlaybackBufferBytes = kPlaybackSlots * kSlotBytes;     // 376320
inline constexpr int kQueuedSectors = kPlaybackSlots * kSectorsPerSlot;      // 160

// Audio status bytes of Position, as the drive's sub-channel reports them.
inline constexpr std::uint8_t kAudioPlaying = 0x11;
inline constexpr std::uint8_t kAudioPaused = 0x12;
inline constexpr std::uint8_t kAudioCompleted = 0x13;
inline constexpr std::uint8_t kAudioError = 0x14;
inline constexpr std::uint8_t kAudioNoStatus = 0x15;

// Shown once by Init when the device cannot be opened (warning icon) or
// does not take CD audio (error icon).
inline constexpr const char* kNoSoundDeviceCaption = "Sonarvex v3.x";
std::string NoSoundDeviceText(const std::string& device);
inline constexpr const char* kSoundFormatRefusedText = "Can't create primary sound buffer";
inline constexpr const char* kSoundFormatRefusedCaption = "Sonarvex";

class NHandler {
 public:
  // `output` is the sound device (MakeAlsaPcmOutput of the configured name);
  // `post` hands a call to the owner's thread.
  NHandler(std::unique_ptr<PcmOutput> output, PostToOwner post);
  ~NHandler();  // Terminate
  NHandler(const NHandler&) = delete;
  NHandler& operator=(const NHandler&) = delete;

  // Tries the device once: when it cannot be opened or refuses CD audio the
  // message above is shown and the player stays unusable (every other call
  // then does nothing). The device is closed again until Play.
  bool Init(Dialogs& dialogs);
  bool Usable() const { return usable_; }

  // Plays row `track` of the album (start = its StartSector, end = the next
  // row's) from its start, reading through `transport`'s current device
  // (kept until the next Play). False when unusable, the row has no
  // sectors, or the device cannot be opened now.
  bool Play(int track, const AlbumRecord& album, Transport& transport);
  // Restarts play at an album sector within the track (ignored outside it or
  // when not running): refills the whole buffer from there and plays.
  void Seek(std::int32_t sector);
  // Stops play at once and forgets the track.
  void Stop();
  // Holds (true) or resumes (false) play where it is.
  void Pause(bool paused);
  // The absolute address of what is heard, as the drive's sub-channel gives
  // it: position bytes 0, M, S, F of position + track start + first-track
  // offset - 160. Status: 0x11 playing, 0x12 paused, 0x13 the track's end
  // has been heard, 0x14 the device failed, 0x15 not playing (never
  // played, or stopped).
  SubChannelPosition Position() const;
  // 0..255 on the curve of BufferVolumeFromLevel.
  void SetBufferVolume(int level);
  // Stops and ends the output thread; nothing works afterwards.
  void Terminate();

  // True from Play until Stop or until the track's end has been heard.
  bool Running() const { return running_; }
  // While Seek or Stop rebuild the buffer (the status timer skips a tick).
  bool Busy() const { return busy_; }
  // The buffer volume in hundredths of a decibel (0 full, -10000 silent).
  int BufferVolume() const { return bufferVolume_; }
  // Sectors queued since the track start (the player's position).
  std::int32_t QueuedPosition() const { return position_; }
  // Reads that failed twice and were played as silence since Play.
  int FailedReads() const { return failedReads_; }

 private:
  enum class SlotState { Empty, Filled, End };
  struct Slot {
    std::vector<unsigned char> bytes = std::vector<unsigned char>(kSlotBytes);
    long frames = 0;  // frames of the track the slot holds
    SlotState state = SlotState::Empty;
  };

  void OutputLoop();
  // Stops the output thread between writes and waits until it rests;
  // `rewind` also empties the buffer and ends what was posted before.
  void Halt(bool rewind);
  void StartBuffer();
  void FillSlot(int slot, std::int32_t fromTrackStart);
  void Refill(std::uint64_t generation);
  void OutputEnded(std::uint64_t generation, bool failed);
  void PostToSelf(std::function<void()> call);

  std::unique_ptr<PcmOutput> output_;
  PostToOwner post_;
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);  // posted calls check it

  // Owner thread state.
  bool usable_ = false;
  bool terminated_ = false;
  bool running_ = false;
  bool paused_ = false;
  bool busy_ = false;
  bool tailQueued_ = false;  // the last slot of the track is in the buffer
  std::uint8_t endStatus_ = kAudioNoStatus;
  Transport* transport_ = nullptr;
  std::int32_t trackStart_ = 0, trackEnd_ = 0;
  int firstTrackOffset_ = 150;
  std::int32_t position_ = 0;
  std::uint32_t chunk_ = 0;
  int bufferVolume_ = 0;
  int failedReads_ = 0;

  // Shared with the output thread under mutex_.
  std::mutex mutex_;
  std::condition_variable changed_;
  std::array<Slot, kPlaybackSlots> slots_;
  int cursor_ = 0;            // the slot being played
  long cursorFrames_ = 0;     // frames of it already written
  bool started_ = false;      // the buffer plays
  bool writing_ = false;      // the output thread is inside the device
  bool quit_ = false;
  std::uint64_t generation_ = 0;
  std::atomic<double> gain_{1.0};
  std::thread thread_;
};

}  // namespace sonarvex

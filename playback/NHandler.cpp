#include "playback/NHandler.h"

#include <algorithm>
#include <cstring>

#include "drive/Transport.h"
#include "platform/Dialogs.h"
#include "playback/SoundVolume.h"

namespace sonarvex {

namespace {
constexpr long kFramesPerSector = kBytesPerSector / kCdFrameBytes;  // 588
}  // namespace

std::string NoSoundDeviceText(const std::string& device) {
  return "Нет звукового устройства ALSA \"" + device + "\"!!!";
}

NHandler::NHandler(std::unique_ptr<PcmOutput> output, PostToOwner post)
    : output_(std::move(output)), post_(std::move(post)) {}

NHandler::~NHandler() { Terminate(); }

bool NHandler::Init(Dialogs& dialogs) {
  if (terminated_) return false;
  if (usable_) return true;
  std::string detail;
  const PcmOutput::OpenResult result = output_->Open(&detail);
  if (result != PcmOutput::OpenResult::Ok) {
    if (result == PcmOutput::OpenResult::NoDevice)
      dialogs.Message(NoSoundDeviceText(output_->Name()), kNoSoundDeviceCaption, MsgIcon::Warning,
                      MsgButtons::Ok);
    else
      dialogs.Message(kSoundFormatRefusedText, kSoundFormatRefusedCaption, MsgIcon::Error,
                      MsgButtons::Ok);
    return false;
  }
  // Held only while a track plays, so other programs can have it meanwhile.
  output_->Close();
  usable_ = true;
  thread_ = std::thread([this] { OutputLoop(); });
  return true;
}

void NHandler::PostToSelf(std::function<void()> call) {
  std::weak_ptr<int> alive = alive_;
  post_([alive, call = std::move(call)] {
    if (alive.lock()) call();
  });
}

void NHandler::OutputLoop() {
  std::vector<unsigned char> local(kSlotBytes);
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [&] { return quit_ || (started_ && slots_[cursor_].state != SlotState::Empty); });
    if (quit_) break;
    const std::uint64_t generation = generation_;
    const int slot = cursor_;
    auto keepGoing = [this, generation] {
      std::lock_guard<std::mutex> g(mutex_);
      return started_ && !quit_ && generation_ == generation;
    };

    if (slots_[slot].state == SlotState::End) {
      // Everything of the track is in the device: let it play out.
      writing_ = true;
      lock.unlock();
      output_->Drain(keepGoing);
      lock.lock();
      writing_ = false;
      if (started_ && generation == generation_) {
        started_ = false;
        PostToSelf([this, generation] { OutputEnded(generation, false); });
      }
      changed_.notify_all();
      continue;
    }

    const long from = cursorFrames_;
    const long total = slots_[slot].frames;
    const long bytes = (total - from) * kCdFrameBytes;
    std::memcpy(local.data(), slots_[slot].bytes.data() + from * kCdFrameBytes, static_cast<std::size_t>(bytes));
    ApplyGain(local.data(), bytes, gain_.load());
    writing_ = true;
    lock.unlock();
    const long written = output_->Write(local.data(), total - from, keepGoing);
    lock.lock();
    writing_ = false;
    if (generation == generation_) {
      if (written < 0) {
        started_ = false;
        PostToSelf([this, generation] { OutputEnded(generation, true); });
      } else {
        cursorFrames_ = from + written;
        if (cursorFrames_ >= total) {
          // The slot has been heard: the owner refills it.
          slots_[slot].state = SlotState::Empty;
          cursor_ = (slot + 1) % kPlaybackSlots;
          cursorFrames_ = 0;
          PostToSelf([this, generation] { Refill(generation); });
        }
      }
    }
    changed_.notify_all();
  }
}

void NHandler::Halt(bool rewind) {
  std::unique_lock<std::mutex> lock(mutex_);
  started_ = false;
  if (rewind) {
    ++generation_;
    for (Slot& s : slots_) {
      s.state = SlotState::Empty;
      s.frames = 0;
    }
    cursor_ = 0;
    cursorFrames_ = 0;
  }
  changed_.notify_all();
  changed_.wait(lock, [&] { return !writing_; });
}

void NHandler::StartBuffer() {
  std::lock_guard<std::mutex> lock(mutex_);
  started_ = true;
  changed_.notify_all();
}

void NHandler::FillSlot(int slot, std::int32_t fromTrackStart) {
  Slot& s = slots_[static_cast<std::size_t>(slot)];
  const std::int32_t sector = trackStart_ + fromTrackStart;
  const int sectors = static_cast<int>(std::clamp<std::int32_t>(trackEnd_ - sector, 0, kSectorsPerSlot));
  if (sectors > 0) {
    // The slot is empty, so the output thread does not look at its bytes.
    const std::int32_t lba = sector + firstTrackOffset_ - 150;
    const auto bytes = static_cast<std::uint32_t>(sectors * kBytesPerSector);
    bool ok = transport_->Succeeded(ReadCDDA(*transport_, s.bytes.data(), lba, bytes));
    if (!ok) ok = transport_->Succeeded(ReadCDDA(*transport_, s.bytes.data(), lba, bytes));
    if (!ok) {
      // Silence rather than whatever the slot held a pass ago.
      std::memset(s.bytes.data(), 0, bytes);
      ++failedReads_;
    }
  }
  std::lock_guard<std::mutex> lock(mutex_);
  s.frames = sectors * kFramesPerSector;
  s.state = sectors > 0 ? SlotState::Filled : SlotState::End;
  changed_.notify_all();
}

bool NHandler::Play(int track, const AlbumRecord& album, Transport& transport) {
  if (!usable_ || terminated_) return false;
  if (track < 0 || track >= kMaxAlbumTracks - 1) return false;
  const std::int32_t start = album.Tracks[track].StartSector;
  const std::int32_t end = album.Tracks[track + 1].StartSector;
  if (start < 0 || end <= start) return false;

  busy_ = true;
  Halt(true);
  std::string detail;
  if (!output_->IsOpen() && output_->Open(&detail) != PcmOutput::OpenResult::Ok) {
    running_ = false;
    paused_ = false;
    endStatus_ = kAudioNoStatus;
    busy_ = false;
    return false;
  }
  output_->Drop();
  transport_ = &transport;
  trackStart_ = start;
  trackEnd_ = end;
  firstTrackOffset_ = album.FirstTrackOffset;
  position_ = 0;
  chunk_ = 0;
  failedReads_ = 0;
  paused_ = false;
  endStatus_ = kAudioNoStatus;
  running_ = true;
  busy_ = false;
  Seek(trackStart_);
  return true;
}

void NHandler::Seek(std::int32_t sector) {
  if (!running_ || sector < trackStart_ || sector >= trackEnd_) return;
  busy_ = true;
  position_ = sector - trackStart_;
  Halt(true);
  output_->Drop();
  paused_ = false;
  tailQueued_ = false;
  for (int i = 0; i < kPlaybackSlots; ++i) FillSlot(i, position_ + kSectorsPerSlot * i);
  position_ += kQueuedSectors;
  chunk_ = 0;
  StartBuffer();
  busy_ = false;
}

void NHandler::Refill(std::uint64_t generation) {
  if (busy_ || !running_ || tailQueued_) return;
  const int slot = static_cast<int>(chunk_ % kPlaybackSlots);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (generation != generation_ || slots_[static_cast<std::size_t>(slot)].state != SlotState::Empty) return;
  }
  FillSlot(slot, position_);
  position_ += kSectorsPerSlot;
  ++chunk_;
  // Once the slot now playing starts at the track end, everything of the
  // track is queued; the output thread plays up to the end mark and drains.
  if (trackStart_ + position_ - kQueuedSectors >= trackEnd_) tailQueued_ = true;
}

void NHandler::OutputEnded(std::uint64_t generation, bool failed) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (generation != generation_) return;
  }
  running_ = false;
  paused_ = false;
  endStatus_ = failed ? kAudioError : kAudioCompleted;
  output_->Close();
}

void NHandler::Stop() {
  if (!usable_ || terminated_) return;
  busy_ = true;
  Halt(true);
  output_->Drop();
  output_->Close();
  running_ = false;
  paused_ = false;
  endStatus_ = kAudioNoStatus;
  busy_ = false;
}

void NHandler::Pause(bool paused) {
  if (!running_ || paused == paused_) return;
  if (paused) {
    Halt(false);
    output_->Pause(true);
    paused_ = true;
  } else {
    output_->Pause(false);
    paused_ = false;
    StartBuffer();
  }
}

SubChannelPosition NHandler::Position() const {
  SubChannelPosition p;
  if (!usable_) {
    p.audioStatus = kAudioNoStatus;
    return p;
  }
  std::int32_t heard = trackStart_ + position_ - kQueuedSectors;
  // Past the end only the end mark plays: the track's last sector is where
  // play completed, so the status timer still finds the track.
  if (heard >= trackEnd_) heard = trackEnd_ - 1;
  if (heard < 0) heard = 0;
  const std::int32_t b = heard + firstTrackOffset_;
  p.position = {0, static_cast<std::uint8_t>(std::min(b / kFramesPerMinute, 255)),
                static_cast<std::uint8_t>((b / kFramesPerSecond) % 60),
                static_cast<std::uint8_t>(b % kFramesPerSecond)};
  p.audioStatus = running_ ? (paused_ ? kAudioPaused : kAudioPlaying) : endStatus_;
  return p;
}

void NHandler::SetBufferVolume(int level) {
  bufferVolume_ = BufferVolumeFromLevel(level);
  gain_ = GainFromHundredthsDb(bufferVolume_);
}

void NHandler::Terminate() {
  if (terminated_) return;
  Stop();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
    changed_.notify_all();
  }
  if (thread_.joinable()) thread_.join();
  output_->Close();
  terminated_ = true;
  usable_ = false;
  alive_.reset();
}

}  // namespace sonarvex

#include "playback/VolumeRouting.h"

#include <algorithm>
#include <cstdint>

#include "drive/Transport.h"
#include "playback/CdMixer.h"
#include "playback/MediaPlayer.h"
#include "playback/NHandler.h"
#include "playback/SoundVolume.h"

namespace sonarvex {

VolumeTarget ChooseVolumeTarget(const VolumeMode& mode) {
  if (mode.filePlaying) return VolumeTarget::MediaFile;
  if (mode.digitalPlayback) return VolumeTarget::DigitalPlayer;
  if (mode.volumeOnDrive) return VolumeTarget::DriveOutput;
  return VolumeTarget::Mixer;
}

VolumeTarget ApplyVolumeLevel(int level, const VolumeMode& mode, const VolumeOutputs& outputs) {
  level = std::clamp(level, 0, 255);
  const VolumeTarget target = ChooseVolumeTarget(mode);
  switch (target) {
    case VolumeTarget::MediaFile:
      if (outputs.media) outputs.media->SetMediaVolume(MediaVolumeFromBar(level));
      break;
    case VolumeTarget::DigitalPlayer:
      if (outputs.digital) outputs.digital->SetBufferVolume(level);
      break;
    case VolumeTarget::DriveOutput:
      if (outputs.drive) outputs.drive->SetCDVolume(static_cast<std::uint8_t>(level));
      break;
    case VolumeTarget::Mixer:
      if (outputs.mixer) outputs.mixer->SetVolume(level * 255);
      break;
  }
  return target;
}

}  // namespace sonarvex

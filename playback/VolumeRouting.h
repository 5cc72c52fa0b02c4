// Where the main window's volume bar (0..255) goes: to the media file
// player while a file plays, else to the digital player, the drive's analog
// output or the mixer's CD line, as the settings choose.
#pragma once

namespace sonarvex {

class CdMixer;
class MediaPlayer;
class NHandler;
class Transport;

enum class VolumeTarget { MediaFile, DigitalPlayer, DriveOutput, Mixer };

struct VolumeMode {
  bool filePlaying = false;     // the window plays a file with the media player
  bool digitalPlayback = false; // settings: DigitalPlayback
  bool volumeOnDrive = false;   // settings: VolumeOnDrive
};

VolumeTarget ChooseVolumeTarget(const VolumeMode& mode);

// What the volume can be sent to; any may be null (then that target does
// nothing).
struct VolumeOutputs {
  MediaPlayer* media = nullptr;
  NHandler* digital = nullptr;
  Transport* drive = nullptr;  // the active transport, its current device
  CdMixer* mixer = nullptr;
};

// Sends a bar position where the mode says: the media player gets
// position x 10 - 2550, the digital player SetBufferVolume(level), the drive
// SetCDVolume(level), the mixer level x 255. Returns the target; unless it is
// MediaFile the caller stores the level as the settings' Volume.
VolumeTarget ApplyVolumeLevel(int level, const VolumeMode& mode, const VolumeOutputs& outputs);

// Whether a change notification of the mixer moves the bar: only when the
// mixer is what the bar controls.
inline bool MixerChangeMovesBar(const VolumeMode& mode) {
  return !mode.digitalPlayback && !mode.volumeOnDrive;
}
// The bar position for a mixer volume (0..65535).
inline int BarLevelFromMixer(int volume) { return volume / 256; }

}  // namespace sonarvex

// What the settings dialog needs from the rest of the program: the drive
// list, the read-command detection window, the encoders it offers, the play
// state of the main window and the search extension list. The main window
// implements it; tests give a fake.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "records/WindowState.h"
#include "records/AlbumRecord.h"

namespace sonarvex {

// What the detection window is started with: the values the dialog shows at
// that moment (not the stored ones).
struct ReadCommandRequest {
  int Drive = 0;            // index into DriveNames()
  int SectorsPerRead = 26;  // the dialog's "Читать секторов" number
  bool UseSpti = false;     // the transport chosen by the radio buttons
  std::uint32_t WindowColor = 0;
};

// What the user took from the detection window.
struct ReadCommandChoice {
  int DriveType = 0;       // 0..23
  int SectorsPerRead = 0;  // the sector count of the chosen row
};

class SettingsFormHost {
 public:
  virtual ~SettingsFormHost() = default;

  // Drive names of the main window's drive list (UTF-8).
  virtual std::vector<std::string> DriveNames() = 0;
  // Whether each transport can be used on this computer.
  virtual bool AspiUsable() = 0;
  virtual bool SptiUsable() = 0;
  // Opens the read-command detection window modally; nullopt when the user
  // cancelled (or the window could not start).
  virtual std::optional<ReadCommandChoice> DetectReadCommand(const ReadCommandRequest& request) = 0;

  // The LAME version text (entry 0 of the codec list).
  virtual std::string LameVersionText() = 0;
  // The name of the MP3 codec found by the codec layer, empty when none.
  virtual std::string AcmCodecName() = 0;
  // The MP3 formats of that codec, as shown in the format list.
  virtual std::vector<std::string> AcmFormatDescriptions() = 0;
  virtual bool LameAvailable() = 0;
  virtual bool VorbisAvailable() = 0;
  virtual bool WmaAvailable() = 0;

  // The main window's activity and disc.
  virtual WindowState State() = 0;
  virtual bool DiscPresent() = 0;
  // The selected row of the track list, -1 when none.
  virtual int SelectedTrack() = 0;
  // Enabled state of the main window's play and stop buttons.
  virtual bool PlayEnabled() = 0;
  virtual bool StopEnabled() = 0;
  // Plays track `track` on the drive from `from` to `to` (absolute
  // addresses): the main window sets its scale and current track and becomes
  // Playing. The dialog itself switches DigitalPlayback off in the live
  // settings.
  virtual void PlayRange(int track, Msf from, Msf to) = 0;
  // The main window's stop routine.
  virtual void StopPlay() = 0;

  // The search extension list (".mp3", ...).
  virtual std::vector<std::string> SearchExtensions() = 0;
  virtual void SetSearchExtensions(const std::vector<std::string>& extensions) = 0;
};

}  // namespace sonarvex

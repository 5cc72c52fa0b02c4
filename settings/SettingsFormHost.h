// What the settings dialog needs from the main window: the read-command
// detection window and the window's play state. What it needs of the program
// itself (drives, encoders, search extensions) comes from ProgramFacts. The
// main window implements it; tests give a fake.
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

// What the read offset search of a drive found (see Session::FindReadOffset).
struct ReadOffsetFinding {
  bool Found = false;
  int Offset = 0;       // samples, with Found
  std::string Message;  // the offset found, or why none was (Russian)
};

class SettingsFormHost {
 public:
  virtual ~SettingsFormHost() = default;

  // Opens the read-command detection window modally; nullopt when the user
  // cancelled (or the window could not start).
  virtual std::optional<ReadCommandChoice> DetectReadCommand(const ReadCommandRequest& request) = 0;

  // Finds the read offset of drive `drive` (index into DriveNames()) with
  // the disc in it, showing its progress and letting the user stop it.
  virtual ReadOffsetFinding FindReadOffset(int drive) {
    (void)drive;
    return {false, 0, "Определение смещения чтения недоступно."};
  }

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
};

}  // namespace sonarvex

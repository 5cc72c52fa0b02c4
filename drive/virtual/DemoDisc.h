// A demo disc the project makes itself: a few short tracks of synthesised
// audio and a data track in a second session, as a CUE/BIN image.
#pragma once

#include <string>

namespace sonarvex {

inline constexpr const char* kDemoCueName = "demo.cue";
inline constexpr const char* kDemoBinName = "demo.bin";

struct DemoDiscLayout {
  static constexpr int kAudioTracks = 4;
  static constexpr int kTrackSeconds[kAudioTracks] = {12, 9, 15, 10};
  static constexpr int kDataSectors = 300;
};

// Writes demo.cue and demo.bin into the folder (created when missing).
// Returns the path of demo.cue, or "" with a reason in *error.
std::string WriteDemoDisc(const std::string& folder, std::string* error = nullptr);

}  // namespace sonarvex

// sonarvex-cli play: one disc track played digitally through the sound
// device, or a media file through the media file player; returns when it
// has ended, or at SIGINT/SIGTERM.
#pragma once

#include <ostream>
#include <string>

namespace sonarvex {

class Session;

struct PlayRequest {
  int drive = -1;    // the settings' drive when negative
  int track = 0;     // 1-based; 0 with a file
  std::string file;  // a media file instead of a track
};

// The session has its settings loaded. Returns the exit status: 0 played to
// the end, 1 failed (one line on err saying why), 130/143 stopped by
// SIGINT/SIGTERM.
int RunPlayCommand(Session& session, const PlayRequest& request, std::ostream& out,
                   std::ostream& err);

}  // namespace sonarvex

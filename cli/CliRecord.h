// "sonarvex-cli burn" and "sonarvex-cli blank": the recording layer and the
// recording thread without a window.
//
//   burn [--drive N] [--test] [--speed X] [--overburn] [--verify|--no-verify] FILE...
//   blank [--drive N] [--full]
//
// N is the drive's number as `drives` prints it (default: the recording
// window's last choice among the drives that write). X is a write speed factor (1..254) or "max".
// Files that are not CD audio are converted first, as the recording window
// does. Every file is checked before the drive starts. Progress and messages
// go to standard error; burn prints one line "NUMBER TAB FILE" on standard
// output for each track written whole. After a real write every track is
// read back and compared with what was sent (--verify, --no-verify; by
// default as [Write] Verify says): a track that differs is named with the
// position (standard error) and the exit code is 1. A write that fails or is stopped
// leaves the disc's session open (the failure named once on standard error).
#pragma once

#include "cli/CliProgress.h"

#include <ostream>
#include <string>
#include <vector>

#include "recording/Recorder.h"

namespace sonarvex {

class Session;

// A drive's name without the blanks its inquiry data pads it with.
std::string TrimmedDriveName(const std::string& name);
// The recorder's drive that is drive `index` of the session's list (the
// number `drives` prints): the same name, the same place among drives of
// that name. nullptr when the recorder does not list it.
const Recorder::Drive* RecorderDriveOf(const Recorder& rec, const Session& session, int index);

// The read offset (samples) stored for the recorder's drive, found by the
// name the session's drive list gives it; 0 when none is stored.
int RecorderReadOffset(Session& session, const Recorder::Drive& drive);

// Exit codes: 0 done, 1 refused or failed (a write error or a verify
// mismatch included), 2 usage
// error, 128 + signal when SIGINT or SIGTERM stopped it (the session is
// left open).
int RunBurnCommand(Session& session, const std::vector<std::string>& args, std::ostream& out,
                   std::ostream& err, const ProgressMode& mode = {});
int RunBlankCommand(Session& session, const std::vector<std::string>& args, std::ostream& out,
                    std::ostream& err, const ProgressMode& mode = {});

const char* BurnUsage();
const char* BlankUsage();

}  // namespace sonarvex

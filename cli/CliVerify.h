// "sonarvex-cli verify": files ripped earlier checked against the
// AccurateRip database.
//
//   verify [--accuraterip HOST[:PORT]] FILE.cue
//
// The cue sheet is one a rip leaves beside its files (app/RipLog.h): one
// WAV or FLAC file a track, each from its INDEX 01 up to the next track's.
// The disc's table of contents is rebuilt from it: the first track starts at
// its PREGAP (in sectors from the start of the program area), every next one
// where the file before ends, the lead-out where the last file ends; data
// tracks no file holds come from "REM DATATRACK NN START LBA END LBA" lines
// (or, for an enhanced CD's last data track, "REM DATATRACKLENGTH mm:ss:ff",
// 11400 sectors after the audio). Each file's audio must be a whole number
// of sectors. The server is --accuraterip, else the settings' ([AccurateRip]
// Server= in sonarvex.ini), else www.accuraterip.com.
//
// Standard output gets one line a track: NUMBER TAB FILE TAB V1 TAB V2 TAB
// RESULT (the checksums in eight hexadecimal digits, RESULT "match N",
// "mismatch" or "absent"). A disc the database does not know gives every
// track "absent" and says so on standard error.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace sonarvex {

class Session;

// args: what follows "verify". Returns 0 when no track mismatches, 1 when
// one does or the check could not be made (the reason on err: a sheet or a
// file that cannot be used, a database that cannot be asked), 2 on a usage
// error.
int RunVerifyCommand(Session& session, const std::vector<std::string>& args, std::ostream& out,
                     std::ostream& err);

// The usage line of the command.
const char* VerifyUsage();

}  // namespace sonarvex

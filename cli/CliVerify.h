// "sonarvex-cli verify": files ripped earlier checked against the
// AccurateRip database.
//
//   verify [--accuraterip HOST[:PORT]] FILE.cue
//
// The cue sheet is one a rip leaves beside its files (rip/RipLog.h) or one
// other rippers write, with WAV or FLAC files (named WAVE or FLAC) in any
// of their layouts: one file for the whole disc, one file a track with each
// track's pregap at the end of the file before (INDEX 00 there), at the
// start of its own file (INDEX 00 00:00:00), or left out (PREGAP: silence).
// The files, one after the other, are the disc's audio from LBA 0: each
// track starts at its INDEX 01, the lead-out where the last file ends (plus
// any PREGAP and POSTGAP silence), and a track's audio runs from its INDEX
// 01 to the next track's, as AccurateRip counts it (audio before the first
// INDEX 01 counts for nothing). Data tracks no file holds come from
// "REM DATATRACK NN START LBA END LBA" lines (audio after data tracks starts
// where the last of them ends; or, for an enhanced CD's last data track,
// "REM DATATRACKLENGTH mm:ss:ff", 11400 sectors after the audio). Each
// file's audio must be a whole number of sectors. The server is
// --accuraterip, else the settings' ([AccurateRip] Server= in sonarvex.ini),
// else www.accuraterip.com.
//
// Standard output gets one line a track: NUMBER TAB FILE TAB V1 TAB V2 TAB
// RESULT (FILE: the one holding the track's INDEX 01, so the image for every
// track of a one-file disc; the checksums in eight hexadecimal digits, RESULT "match N",
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

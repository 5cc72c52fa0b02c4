// "sonarvex-cli convert": the conversion window's batch without a window.
//
//   convert --to wav|mp3|ogg|wma|opus [--bitrate K] [--out DIR] [--at-once N] [--overwrite] FILE...
//
// The direction of each file comes from its extension and --to; only the
// directions of the window exist (AVI sound goes to MP3 or WAV as its
// stream is). --bitrate is the bitrate of every encoded output (the MP3 to
// MP3 target is one of the window's bitrates; refused for WAV outputs and
// AVI sound), --out the output folder (default: each source's own folder),
// --at-once overrides DecodeFilesAtOnce for this run, --overwrite lets
// outputs replace files that are there (without it such a file is kept and
// its source reported as skipped). One line
// "SOURCE TAB OUTPUT" per finished file on standard output; progress and
// failures on standard error.
#pragma once

#include "cli/CliProgress.h"

#include <ostream>
#include <string>
#include <vector>

namespace sonarvex {

class Session;

// args: what follows "convert". libraryFolder: where libkelpra.so lies (the
// executable's folder). Returns 0 when every file was converted (or needed
// no work), 1 when one failed or the run could not start, 2 on a usage error.
int RunConvertCommand(Session& session, const std::vector<std::string>& args, std::ostream& out,
                      std::ostream& err, const std::string& libraryFolder,
                      const ProgressMode& mode = {});

// The usage lines of the command, for the program's help.
const char* ConvertUsage();

}  // namespace sonarvex

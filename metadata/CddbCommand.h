// The command-line CDDB lookup ("sonarvex-cli cddb"): looks the disc up with
// the stored settings, takes match K when there are several, stores the result
// in the album database and hands back what was found.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "records/AlbumRecord.h"
#include "records/RecordTexts.h"
#include "metadata/CddbClient.h"
#include "metadata/CddbLookup.h"
#include "records/TagBuffer.h"

namespace sonarvex {

struct DiscToc;
struct SettingsRecord;

struct CddbCommandOptions {
  int match = 1;            // 1-based match to take when the server lists several
  CddbLimits limits;        // network bounds
  int serverPort = 80;      // the CDDB server's port
  const DiscToc* toc = nullptr;  // optional: the disc's table of contents as the drive gave it
  // The full texts of the album record (filled in full from the answer) and
  // of the settings (server and proxy); optional.
  RecordTexts* albumTexts = nullptr;
  const RecordTexts* settingsTexts = nullptr;
};

struct CddbCommandResult {
  LookupOutcome outcome = LookupOutcome::Failed;
  bool ok = false;  // the entry was read and stored
  std::string artist, album;         // UTF-8
  std::vector<std::string> titles;   // one per track, UTF-8
  std::vector<std::string> matches;  // titles of all matches, UTF-8
  // Every message the lookup showed, in order (UTF-8); the retry question is
  // answered "no".
  std::vector<std::string> messages;
  // Why the lookup failed, without the window's question (UTF-8).
  std::string failure;
};

// album: the current disc with its track rows filled from the table of
// contents by the disc read; tags: its tag buffer.
CddbCommandResult RunCddbCommand(SettingsRecord& settings, AlbumRecord& album, TagBuffer& tags,
                                 const std::string& albumFolder, const CddbCommandOptions& options);

// A text from a server fit to be printed on a terminal: control characters
// (C0, DEL and C1, escape sequences among them) each become "?".
std::string TerminalSafeText(std::string_view text);

// The lines the command prints: artist, album, then the track titles, made
// safe for a terminal.
std::vector<std::string> CddbCommandLines(const CddbCommandResult& result);

}  // namespace sonarvex

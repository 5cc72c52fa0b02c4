// The command-line CDDB lookup ("sonarvex-cli cddb"): looks the disc up with
// the stored settings, takes match K when there are several, stores the result
// in the album database and hands back what was found.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "records/AlbumRecord.h"
#include "records/RecordTexts.h"
#include "metadata/CddbClient.h"
#include "metadata/CddbLookup.h"
#include "metadata/CdTextSource.h"
#include "metadata/MusicBrainzClient.h"
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
  // Another source than the CDDB server of the settings (made once per
  // attempt); see RunMusicBrainzCommand.
  std::function<std::unique_ptr<MetadataSource>()> sourceFactory;
  // Store what was read in the album database (false: only read it).
  bool store = true;
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
  // What the user should know beside the result (UTF-8; empty or lines).
  std::string notice;
};

// album: the current disc with its track rows filled from the table of
// contents by the disc read; tags: its tag buffer.
CddbCommandResult RunCddbCommand(SettingsRecord& settings, AlbumRecord& album, TagBuffer& tags,
                                 const std::string& albumFolder, const CddbCommandOptions& options);

// The lookup in MusicBrainz ("sonarvex-cli lookup --source musicbrainz"):
// the releases of the disc by its identifier (then its table of contents);
// release: the MusicBrainz identifier of the one to take, else the first is
// taken and the notice names the others. Stored as RunCddbCommand stores.
struct MusicBrainzCommandOptions {
  std::string server;   // [MusicBrainz] Server ("" = https://musicbrainz.org)
  std::string release;  // "" = the first
  MusicBrainzLimits limits;
  HttpProxy proxy;      // host "": none
  const DiscToc* toc = nullptr;  // the disc as the drive gave it (needed)
  RecordTexts* albumTexts = nullptr;
  bool store = true;
};
CddbCommandResult RunMusicBrainzCommand(SettingsRecord& settings, AlbumRecord& album,
                                        TagBuffer& tags, const std::string& albumFolder,
                                        const MusicBrainzCommandOptions& options);

// The lookup in the disc's own CD-Text ("sonarvex-cli lookup --source
// cdtext"): read is the drive's CD-Text of the disc. Stored as RunCddbCommand
// stores.
struct CdTextCommandOptions {
  CdTextSource::Reader read;
  RecordTexts* albumTexts = nullptr;
  bool store = true;
};
CddbCommandResult RunCdTextCommand(SettingsRecord& settings, AlbumRecord& album, TagBuffer& tags,
                                   const std::string& albumFolder,
                                   const CdTextCommandOptions& options);

// A text from a server fit to be printed on a terminal: control characters
// (C0, DEL and C1, escape sequences among them) each become "?".
std::string TerminalSafeText(std::string_view text);

// The lines the command prints: artist, album, then the track titles, made
// safe for a terminal.
std::vector<std::string> CddbCommandLines(const CddbCommandResult& result);

}  // namespace sonarvex

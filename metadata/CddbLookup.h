// The lookup command of the main window: computes the disc identifier,
// queries the source (the CDDB server), lets the user choose among several
// matches, has the source apply the chosen entry to the album record, the
// track titles and the tags, and stores the result in the album database. Every outcome is shown through the
// Dialogs service; the chooser and the main window's boxes are interfaces, so
// that the window and the command line run the same flow.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "records/AlbumRecord.h"
#include "metadata/CddbClient.h"
#include "metadata/MetadataSource.h"
#include "records/RecordTexts.h"
#include "records/TagBuffer.h"

namespace sonarvex {

class AlbumView;
class Dialogs;
struct DiscToc;
struct SettingsRecord;

// Picks one of several matches (titles in UTF-8, in the server's order);
// returns the chosen index.
class MatchChooser {
 public:
  virtual ~MatchChooser() = default;
  virtual int Choose(const std::vector<std::string>& titles) = 0;
};

// A server text (code page 1251, or UTF-8 from newer servers) for display.
std::string ServerTextToUtf8(const std::string& text);

enum class LookupOutcome {
  SendFailed,  // "Не получилось установить соединение."
  NoMatch,     // "В базе нет информации об этом диске."
  Failed,      // the server could not be reached and the user did not retry
  ReadFailed,  // "Не получилось прочитать данные об этом диске." (the disc is stored)
  Done,        // the chosen entry was read and the disc stored
  Cancelled,   // no entry was chosen; the album is left as it was
};

class CddbLookup {
 public:
  // settings: CddbHost, CddbPath, ProxyEnabled, ProxyHost, ProxyPort (0 is
  // set to 80 in the settings), ProxyUser, ProxyPassword. album and tags: the
  // current disc. view: the main window's boxes (may be null). albumFolder:
  // where SaveAlbum stores the disc.
  CddbLookup(SettingsRecord& settings, AlbumRecord& album, TagBuffer& tags, Dialogs& dialogs,
             MatchChooser& chooser, AlbumView* view, std::string albumFolder);

  // Runs while the client waits for the network.
  void SetPump(std::function<void()> pump) { pump_ = std::move(pump); }
  void SetLimits(const CddbLimits& limits) { limits_ = limits; }
  // The port of the CDDB server (80; tests use their own).
  void SetServerPort(int port) { serverPort_ = port; }
  // The table of contents of the disc as the drive gave it: the server is
  // asked with its addresses (every track where it lies, the lead-out of the
  // last session) and its identifier, as every CDDB entry is keyed, and the
  // album record is stored under that identifier. A disc the album database
  // found under the identifier of its corrected rows (a data track of a
  // later session moved back over the gap, see FillTracksFromToc) keeps that
  // file. Without it the track rows are sent and their identifier stored.
  void SetDiscToc(const DiscToc& toc);
  // The artist box's list, to which SaveAlbum adds the artist.
  void SetArtistList(std::vector<std::string>* list) { artistList_ = list; }
  // The full texts of the album record (the titles the answer gives go there
  // in full and are stored with the album) and of the settings (server and
  // proxy texts). Without them only what code page 1251 holds is kept.
  void SetAlbumTexts(RecordTexts* texts) { albumTexts_ = texts; }
  void SetSettingsTexts(const RecordTexts* texts) { settingsTexts_ = texts; }
  // Makes the client (tests give one with fixed hello fields).
  void SetClientFactory(std::function<std::unique_ptr<CddbClient>(Dialogs&, CddbLimits)> f) {
    clientFactory_ = std::move(f);
  }
  // Makes the source the disc is looked up in, once per attempt; without it
  // the CDDB server of the settings is asked.
  void SetSourceFactory(std::function<std::unique_ptr<MetadataSource>()> f) {
    sourceFactory_ = std::move(f);
  }

  // Whether what was read is stored in the album database (the command
  // line's survey of every source reads without storing); on by default.
  void SetStore(bool store) { store_ = store; }

  // The CDDB server of the settings as a source bound to this lookup (its
  // matches in Matches()), for a source factory that asks it among others.
  std::unique_ptr<MetadataSource> MakeServerSource() { return MakeCddbSource(Texts()); }

  LookupOutcome Run();

  // The matches of the last CDDB query attempt.
  const CddbQueryTable& Matches() const { return table_; }
  // Why the last request failed (UTF-8, names the server); empty when it did not.
  const std::string& FailureReason() const { return failure_; }
  // Why what was read could not be stored in the album database (names the
  // file); empty when it was stored.
  const std::string& StoreProblem() const { return storeProblem_; }

 private:
  SettingsRecord& settings_;
  AlbumRecord& album_;
  TagBuffer& tags_;
  Dialogs& dialogs_;
  MatchChooser& chooser_;
  AlbumView* view_;
  std::string albumFolder_;
  std::function<void()> pump_;
  CddbLimits limits_;
  int serverPort_ = 80;
  std::optional<CddbTocTable> discTable_;  // of the table SetDiscToc gave
  std::vector<std::string>* artistList_ = nullptr;
  RecordTexts* albumTexts_ = nullptr;
  const RecordTexts* settingsTexts_ = nullptr;
  std::function<std::unique_ptr<CddbClient>(Dialogs&, CddbLimits)> clientFactory_;
  std::function<std::unique_ptr<MetadataSource>()> sourceFactory_;
  CddbQueryTable table_;
  RecordTexts ownTexts_;  // the album texts when none were given
  bool store_ = true;
  std::string failure_;
  std::string storeProblem_;
  // The failure reason as the line under a message, empty without one.
  std::string ReasonText() const;
  RecordTexts& Texts() { return albumTexts_ ? *albumTexts_ : ownTexts_; }
  // The CDDB source of the settings.
  std::unique_ptr<MetadataSource> MakeCddbSource(RecordTexts& albumTexts);
};

}  // namespace sonarvex

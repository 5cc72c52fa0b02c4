// The sources a disc is looked up in, one after the other: MusicBrainz (when
// it is enabled), the CDDB server (when one is set), the disc's own CD-Text.
// The first that knows the disc is the one the lookup (CddbLookup) chooses
// from and applies; a source that fails or knows nothing gives way to the
// next. And the automatic lookup of a disc the album database does not know
// (when it is inserted, before a rip): the same sources without a question,
// the first entry of the first that answers applied and stored.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "metadata/AutoLookup.h"
#include "metadata/CddbLookup.h"
#include "metadata/CdTextSource.h"
#include "metadata/MetadataSource.h"
#include "metadata/MusicBrainzClient.h"

namespace sonarvex {

class AlbumView;
struct DiscToc;

// What became of a chain's last query.
struct LookupReport {
  std::string answered;  // the name of the source that answered ("" when none did)
  // The sources before it that could not be asked (no answer, an error),
  // each as "name: reason", joined by "; ".
  std::string failedBefore;
};

// Several sources asked in order. FailureReason names each source asked and
// what became of it, until one answers; then that one's own.
class SourceChain : public MetadataSource {
 public:
  using Factory = std::function<std::unique_ptr<MetadataSource>()>;
  // report (may be null) is told what became of each query.
  explicit SourceChain(LookupReport* report = nullptr) : report_(report) {}
  // Asked before an entry is applied: a reason not to apply it ("" applies).
  void SetApplyGuard(std::function<std::string()> guard) { guard_ = std::move(guard); }
  // name: how a notice names the source ("MusicBrainz", "CDDB", "CD-Text").
  void Add(std::string name, Factory make);
  bool Empty() const { return entries_.empty(); }

  Answer Query(const CddbTocTable& toc, std::uint32_t discId,
               std::vector<std::string>& titles) override;
  bool Apply(int index) override;
  std::string FailureReason() const override;

  // The name of the source that answered the last query ("" when none did).
  const std::string& Answered() const { return answered_; }

 private:
  struct Entry {
    std::string name;
    Factory make;
  };
  std::vector<Entry> entries_;
  std::unique_ptr<MetadataSource> active_;
  std::string answered_;
  LookupReport* report_ = nullptr;
  std::function<std::string()> guard_;
  std::string guardReason_;
  std::vector<std::string> reasons_;
};

struct LookupSourceOptions {
  bool musicBrainz = false;       // [MusicBrainz] Enabled
  std::string musicBrainzServer;  // [MusicBrainz] Server
  MusicBrainzLimits musicBrainzLimits;
  HttpProxy proxy;                // the settings' proxy (host "": none)
  bool cddb = false;              // ask the CDDB server of the settings
  CdTextSource::Reader cdText;    // the disc's CD-Text; null: not asked
  const DiscToc* toc = nullptr;   // the disc as the drive gave it (MusicBrainz needs it)
  std::function<void()> pump;     // runs while the network is waited for
  // Asked before an entry is applied: a reason not to apply it ("" applies).
  std::function<std::string()> applyGuard;
};

// Makes `lookup` ask the sources of `options` in order (MusicBrainz, CDDB,
// CD-Text), writing into album, texts, tags and view. report (may be null)
// is told which source answered.
void UseLookupSources(CddbLookup& lookup, const LookupSourceOptions& options, AlbumRecord& album,
                      RecordTexts& albumTexts, TagBuffer& tags, AlbumView* view,
                      LookupReport* report);

// Whether the CDDB server counts as set: the settings name one.
bool CddbServerSet(const SettingsRecord& settings, const RecordTexts& settingsTexts);

// The automatic lookup of the current disc, which the album database does
// not know: asks the sources without a message box, applies and stores what
// the first that answers says. Several entries are put to `chooser` (the
// window's choice window); without one the first is taken and the notice
// says so (the command line). A chooser that gives no valid entry leaves the
// disc as it was, nothing stored. A failure is a notice, never a message
// box. Titles the user gave meanwhile (while the network was waited for) are
// never overwritten: then nothing is asked or applied.
AutoLookupResult RunAutoLookup(SettingsRecord& settings, const RecordTexts& settingsTexts,
                               AlbumRecord& album, RecordTexts& albumTexts, TagBuffer& tags,
                               const std::string& albumFolder, std::vector<std::string>* artists,
                               AlbumView* view, const LookupSourceOptions& options,
                               MatchChooser* chooser = nullptr);

}  // namespace sonarvex

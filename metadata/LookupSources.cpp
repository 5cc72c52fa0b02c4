#include "metadata/LookupSources.h"

#include "metadata/MusicBrainzSource.h"
#include "metadata/Xmcd.h"
#include "platform/Dialogs.h"
#include "records/SettingsRecord.h"
#include "records/TextFields.h"

namespace sonarvex {

void SourceChain::Add(std::string name, Factory make) {
  entries_.push_back(Entry{std::move(name), std::move(make)});
}

MetadataSource::Answer SourceChain::Query(const CddbTocTable& toc, std::uint32_t discId,
                                          std::vector<std::string>& titles) {
  active_.reset();
  answered_.clear();
  guardReason_.clear();
  reasons_.clear();
  if (report_) *report_ = LookupReport{};
  std::string failedBefore;
  bool failed = false;
  Answer last = Answer::NoMatch;
  for (const Entry& e : entries_) {
    std::unique_ptr<MetadataSource> source = e.make ? e.make() : nullptr;
    if (!source) continue;
    std::vector<std::string> found;
    last = source->Query(toc, discId, found);
    if (last == Answer::Matches && !found.empty()) {
      titles.insert(titles.end(), found.begin(), found.end());
      active_ = std::move(source);
      answered_ = e.name;
      if (report_) *report_ = LookupReport{e.name, failedBefore};
      return Answer::Matches;
    }
    std::string reason = source->FailureReason();
    if (reason.empty())
      reason = last == Answer::NoMatch || last == Answer::Matches ? "нет сведений о диске" : "нет ответа";
    reasons_.push_back(e.name + ": " + reason);
    if (last == Answer::Failed || last == Answer::SendFailed) {
      failed = true;
      failedBefore += (failedBefore.empty() ? "" : "; ") + reasons_.back();
    }
  }
  // One source alone keeps its own answer (a send failure is said as such).
  if (entries_.size() == 1) return last == Answer::Matches ? Answer::NoMatch : last;
  return failed ? Answer::Failed : Answer::NoMatch;
}

bool SourceChain::Apply(int index) {
  if (!active_) return false;
  if (guard_) {
    guardReason_ = guard_();
    if (!guardReason_.empty()) return false;
  }
  return active_->Apply(index);
}

std::string SourceChain::FailureReason() const {
  if (!guardReason_.empty()) return guardReason_;
  if (active_) return active_->FailureReason();
  std::string text;
  for (const std::string& r : reasons_) text += (text.empty() ? "" : "; ") + r;
  return text;
}

void UseLookupSources(CddbLookup& lookup, const LookupSourceOptions& options, AlbumRecord& album,
                      RecordTexts& albumTexts, TagBuffer& tags, AlbumView* view,
                      LookupReport* report) {
  lookup.SetSourceFactory([&lookup, options, &album, &albumTexts, &tags, view,
                           report]() -> std::unique_ptr<MetadataSource> {
    auto chain = std::make_unique<SourceChain>(report);
    if (options.applyGuard) chain->SetApplyGuard(options.applyGuard);
    if (options.musicBrainz && options.toc)
      chain->Add("MusicBrainz", [options, &album, &albumTexts, &tags, view] {
        auto client = std::make_unique<MusicBrainzClient>(options.musicBrainzServer,
                                                          options.musicBrainzLimits);
        client->SetPump(options.pump);
        if (!options.proxy.host.empty()) client->SetProxy(options.proxy);
        return std::make_unique<MusicBrainzSource>(std::move(client), *options.toc, album,
                                                   albumTexts, tags, view);
      });
    if (options.cddb) chain->Add("CDDB", [&lookup] { return lookup.MakeServerSource(); });
    if (options.cdText)
      chain->Add("CD-Text", [options, &album, &albumTexts, &tags, view] {
        return std::make_unique<CdTextSource>(options.cdText, album, albumTexts, tags, view);
      });
    return chain;
  });
}

bool CddbServerSet(const SettingsRecord& settings, const RecordTexts& settingsTexts) {
  return !SettingsText(settings, settingsTexts, SettingsField::CddbHost).empty();
}

namespace {

// Messages are kept, not shown; questions are answered "no".
class QuietDialogs : public WindowlessDialogs {
 public:
  int Message(const std::string& text, const std::string&, MsgIcon, MsgButtons buttons) override {
    messages.push_back(text);
    switch (buttons) {
      case MsgButtons::YesNo:
      case MsgButtons::YesNoCancel: return IdNo;
      case MsgButtons::Ok: return IdOk;
      default: return IdCancel;
    }
  }
  std::vector<std::string> messages;
};

// Puts several entries to the given chooser (none: the first is taken),
// unless the user has given titles meanwhile: then none is taken.
class AutoChooser : public MatchChooser {
 public:
  AutoChooser(MatchChooser* chooser, std::function<bool()> typed)
      : chooser_(chooser), typed_(std::move(typed)) {}
  int Choose(const std::vector<std::string>& titles) override {
    offered = titles;
    picked = typed_() ? -1 : chooser_ ? chooser_->Choose(titles) : 0;
    return picked;
  }
  std::vector<std::string> offered;
  int picked = 0;  // one entry is taken without a question

 private:
  MatchChooser* chooser_;
  std::function<bool()> typed_;
};

// The titles of the disc as they stand: album, artist and every row's.
std::vector<std::string> Titles(const AlbumRecord& album, const RecordTexts& texts) {
  std::vector<std::string> t{AlbumText(album, texts, AlbumField::AlbumTitle),
                             AlbumText(album, texts, AlbumField::Artist)};
  for (int k = 0; k < AlbumTrackCount(album); ++k) t.push_back(TrackTitleText(album, texts, k));
  return t;
}

}  // namespace

AutoLookupResult RunAutoLookup(SettingsRecord& settings, const RecordTexts& settingsTexts,
                               AlbumRecord& album, RecordTexts& albumTexts, TagBuffer& tags,
                               const std::string& albumFolder, std::vector<std::string>* artists,
                               AlbumView* view, const LookupSourceOptions& options,
                               MatchChooser* userChooser) {
  AutoLookupResult result;
  result.attempted = true;
  QuietDialogs dialogs;
  // The titles before the lookup: while the network is waited for, the user
  // may give their own, which the answer does not replace.
  const std::vector<std::string> before = Titles(album, albumTexts);
  bool typed = false;
  const auto titlesTyped = [&] {
    if (Titles(album, albumTexts) != before) typed = true;
    return typed;
  };
  AutoChooser chooser(userChooser, titlesTyped);
  CddbLookup lookup(settings, album, tags, dialogs, chooser, view, albumFolder);
  if (options.pump) lookup.SetPump(options.pump);
  if (options.toc) lookup.SetDiscToc(*options.toc);
  lookup.SetArtistList(artists);
  lookup.SetAlbumTexts(&albumTexts);
  lookup.SetSettingsTexts(&settingsTexts);
  LookupSourceOptions o = options;
  o.applyGuard = [&]() -> std::string {
    return titlesTyped() ? "названия диска уже введены" : std::string();
  };
  LookupReport report;
  UseLookupSources(lookup, o, album, albumTexts, tags, view, &report);
  const LookupOutcome outcome = lookup.Run();
  result.source = report.answered;
  result.matches = chooser.offered;
  if (typed) return result;
  switch (outcome) {
    case LookupOutcome::Done: {
      result.applied = true;
      result.chosen = chooser.picked;
      if (!lookup.StoreProblem().empty()) {
        result.notice = "Данные о диске не сохранены в базе альбомов. " + lookup.StoreProblem() + ".";
        break;
      }
      if (!report.failedBefore.empty())
        // A source that could not be asked is said even when another knew the disc.
        result.notice = "Названия диска взяты из " + report.answered + " (" + report.failedBefore + ").";
      // The first of several taken without a question is said too.
      if (!userChooser && result.matches.size() > 1) {
        if (result.notice.empty()) result.notice = "Названия диска взяты из " + report.answered + ".";
        result.notice += " Найдено совпадений: " + std::to_string(result.matches.size()) +
                         ", взято первое: " + result.matches.front() + ".";
      }
      break;
    }
    case LookupOutcome::Cancelled:
      result.notice = "Выбор отменён: названия диска не изменены.";
      break;
    case LookupOutcome::ReadFailed:
      result.notice = "Не получилось прочитать данные об этом диске (" + report.answered + ": " +
                      lookup.FailureReason() + ").";
      break;
    default: {
      const std::string reason = lookup.FailureReason();
      result.notice = "Сведения о диске не найдены" + (reason.empty() ? std::string() : ": " + reason) + ".";
      break;
    }
  }
  return result;
}

}  // namespace sonarvex

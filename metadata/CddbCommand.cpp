#include "metadata/CddbCommand.h"

#include "records/SettingsRecord.h"
#include "drive/DiscToc.h"
#include "metadata/MusicBrainzSource.h"
#include "metadata/Xmcd.h"
#include "platform/Cp1251.h"
#include "records/TextFields.h"
#include "platform/Dialogs.h"

namespace sonarvex {
namespace {

// Collects messages; questions are answered "no", choosers cancelled.
class CollectingDialogs : public WindowlessDialogs {
 public:
  explicit CollectingDialogs(std::vector<std::string>& out) : out_(out) {}
  int Message(const std::string& text, const std::string&, MsgIcon, MsgButtons buttons) override {
    out_.push_back(text);
    switch (buttons) {
      case MsgButtons::YesNo:
      case MsgButtons::YesNoCancel: return IdNo;
      case MsgButtons::Ok: return IdOk;
      default: return IdCancel;
    }
  }

 private:
  std::vector<std::string>& out_;
};

class FixedChooser : public MatchChooser {
 public:
  FixedChooser(int index, std::vector<std::string>& seen) : index_(index), seen_(seen) {}
  int Choose(const std::vector<std::string>& titles) override {
    seen_ = titles;
    return index_;
  }

 private:
  int index_;
  std::vector<std::string>& seen_;
};

}  // namespace

CddbCommandResult RunCddbCommand(SettingsRecord& settings, AlbumRecord& album, TagBuffer& tags,
                                 const std::string& albumFolder,
                                 const CddbCommandOptions& options) {
  CddbCommandResult result;
  CollectingDialogs dialogs(result.messages);
  FixedChooser chooser(options.match - 1, result.matches);
  CddbLookup lookup(settings, album, tags, dialogs, chooser, nullptr, albumFolder);
  lookup.SetLimits(options.limits);
  lookup.SetServerPort(options.serverPort);
  if (options.toc) lookup.SetDiscToc(*options.toc);
  RecordTexts ownTexts;
  RecordTexts& albumTexts = options.albumTexts ? *options.albumTexts : ownTexts;
  lookup.SetAlbumTexts(&albumTexts);
  lookup.SetSettingsTexts(options.settingsTexts);
  if (options.sourceFactory) lookup.SetSourceFactory(options.sourceFactory);
  lookup.SetStore(options.store);
  result.outcome = lookup.Run();
  if (result.matches.empty() && lookup.Matches().count == 1)
    result.matches.push_back(ServerTextToUtf8(lookup.Matches().entries[0].title));
  if (result.outcome == LookupOutcome::Cancelled)
    result.messages.push_back("Нет совпадения номер " + std::to_string(options.match) + " (всего " +
                              std::to_string(lookup.Matches().count) + ").");
  result.ok = result.outcome == LookupOutcome::Done && (!options.store || lookup.StoreProblem().empty());
  if (result.outcome == LookupOutcome::Done && !result.ok)
    result.failure = "Данные о диске не сохранены в базе альбомов. " + lookup.StoreProblem();
  if (!result.ok && result.failure.empty()) {
    result.failure = lookup.FailureReason();
    if (result.failure.empty() && !result.messages.empty()) result.failure = result.messages.back();
  }
  result.artist = AlbumText(album, albumTexts, AlbumField::Artist);
  result.album = AlbumText(album, albumTexts, AlbumField::AlbumTitle);
  for (int i = 0; i < AlbumTrackCount(album); ++i)
    result.titles.push_back(TrackTitleText(album, albumTexts, i));
  return result;
}

namespace {

// The MusicBrainz source, keeping what it found for the command's notice
// after the lookup has let it go.
class KeptSource : public MetadataSource {
 public:
  KeptSource(std::unique_ptr<MusicBrainzSource> source, std::vector<MusicBrainzRelease>& found,
             std::vector<std::string>& titles)
      : source_(std::move(source)), found_(found), titles_(titles) {}
  Answer Query(const CddbTocTable& toc, std::uint32_t discId,
               std::vector<std::string>& titles) override {
    const Answer a = source_->Query(toc, discId, titles);
    found_ = source_->Releases();
    titles_ = titles;
    return a;
  }
  bool Apply(int index) override { return source_->Apply(index); }
  std::string FailureReason() const override { return source_->FailureReason(); }

 private:
  std::unique_ptr<MusicBrainzSource> source_;
  std::vector<MusicBrainzRelease>& found_;
  std::vector<std::string>& titles_;
};

}  // namespace

CddbCommandResult RunMusicBrainzCommand(SettingsRecord& settings, AlbumRecord& album,
                                        TagBuffer& tags, const std::string& albumFolder,
                                        const MusicBrainzCommandOptions& options) {
  if (!options.toc) {
    CddbCommandResult result;
    result.failure = "нет оглавления диска";
    return result;
  }
  RecordTexts ownTexts;
  RecordTexts& albumTexts = options.albumTexts ? *options.albumTexts : ownTexts;
  std::vector<MusicBrainzRelease> found;
  std::vector<std::string> titles;
  CddbCommandOptions run;
  run.toc = options.toc;
  run.albumTexts = &albumTexts;
  run.store = options.store;
  run.sourceFactory = [&]() -> std::unique_ptr<MetadataSource> {
    auto client = std::make_unique<MusicBrainzClient>(options.server, options.limits);
    if (!options.proxy.host.empty()) client->SetProxy(options.proxy);
    auto source = std::make_unique<MusicBrainzSource>(std::move(client), *options.toc, album,
                                                      albumTexts, tags, nullptr);
    source->SetWantedRelease(options.release);
    return std::make_unique<KeptSource>(std::move(source), found, titles);
  };
  CddbCommandResult result = RunCddbCommand(settings, album, tags, albumFolder, run);
  result.matches = titles;
  if (found.size() > 1 && result.outcome == LookupOutcome::Done) {
    result.notice = "Диск найден в " + std::to_string(found.size()) +
                    " релизах MusicBrainz; взят первый. Другой выбирается ключом --release:";
    for (std::size_t i = 0; i < found.size() && i < titles.size(); ++i)
      result.notice += "\n  " + found[i].id + "  " + titles[i];
  }
  return result;
}

CddbCommandResult RunCdTextCommand(SettingsRecord& settings, AlbumRecord& album, TagBuffer& tags,
                                   const std::string& albumFolder,
                                   const CdTextCommandOptions& options) {
  RecordTexts ownTexts;
  RecordTexts& albumTexts = options.albumTexts ? *options.albumTexts : ownTexts;
  CddbCommandOptions run;
  run.albumTexts = &albumTexts;
  run.store = options.store;
  run.sourceFactory = [&]() -> std::unique_ptr<MetadataSource> {
    return std::make_unique<CdTextSource>(options.read, album, albumTexts, tags, nullptr);
  };
  CddbCommandResult result = RunCddbCommand(settings, album, tags, albumFolder, run);
  // No CD-Text is said as such, not as an empty database.
  if (result.outcome == LookupOutcome::NoMatch) result.failure = "на диске нет CD-Text";
  return result;
}

std::string TerminalSafeText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c == 0x7F) {
      // Escape sequences, bells, carriage returns and tabs of a server's
      // text never reach the terminal as they are.
      out += '?';
    } else if (c == 0xC2 && i + 1 < text.size() &&
               static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
               static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
      out += '?';  // a C1 control (CSI is U+009B)
      ++i;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::vector<std::string> CddbCommandLines(const CddbCommandResult& result) {
  std::vector<std::string> lines{result.artist, result.album};
  lines.insert(lines.end(), result.titles.begin(), result.titles.end());
  for (std::string& line : lines) line = TerminalSafeText(line);
  return lines;
}

}  // namespace sonarvex

#include "metadata/CddbCommand.h"

#include "records/SettingsRecord.h"
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
  if (!options.rawToc.empty()) lookup.SetRawToc(options.rawToc);
  RecordTexts ownTexts;
  RecordTexts& albumTexts = options.albumTexts ? *options.albumTexts : ownTexts;
  lookup.SetAlbumTexts(&albumTexts);
  lookup.SetSettingsTexts(options.settingsTexts);
  result.outcome = lookup.Run();
  if (result.matches.empty() && lookup.Matches().count == 1)
    result.matches.push_back(ServerTextToUtf8(lookup.Matches().entries[0].title));
  if (result.outcome == LookupOutcome::Cancelled)
    result.messages.push_back("Нет совпадения номер " + std::to_string(options.match) + " (всего " +
                              std::to_string(lookup.Matches().count) + ").");
  result.ok = result.outcome == LookupOutcome::Done;
  if (!result.ok) {
    result.failure = lookup.FailureReason();
    if (result.failure.empty() && !result.messages.empty()) result.failure = result.messages.back();
  }
  result.artist = AlbumText(album, albumTexts, AlbumField::Artist);
  result.album = AlbumText(album, albumTexts, AlbumField::AlbumTitle);
  for (int i = 0; i < AlbumTrackCount(album); ++i)
    result.titles.push_back(TrackTitleText(album, albumTexts, i));
  return result;
}

std::vector<std::string> CddbCommandLines(const CddbCommandResult& result) {
  std::vector<std::string> lines{result.artist, result.album};
  lines.insert(lines.end(), result.titles.begin(), result.titles.end());
  return lines;
}

}  // namespace sonarvex

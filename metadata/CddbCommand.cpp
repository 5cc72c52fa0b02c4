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
  if (options.toc) lookup.SetDiscToc(*options.toc);
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
  result.ok = result.outcome == LookupOutcome::Done && lookup.StoreProblem().empty();
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

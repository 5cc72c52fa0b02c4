#include "metadata/CddbLookup.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "drive/DiscToc.h"
#include "records/SettingsRecord.h"
#include "metadata/AlbumDatabase.h"
#include "records/TextFields.h"
#include "metadata/DiscId.h"
#include "metadata/Xmcd.h"
#include "platform/Cp1251.h"
#include "platform/Dialogs.h"

namespace sonarvex {

std::string ServerTextToUtf8(const std::string& text) {
  if (IsAscii(text) || IsNonAsciiUtf8(text)) return text;
  return Cp1251ToUtf8(text);
}

CddbLookup::CddbLookup(SettingsRecord& settings, AlbumRecord& album, TagBuffer& tags,
                       Dialogs& dialogs, MatchChooser& chooser, AlbumView* view,
                       std::string albumFolder)
    : settings_(settings),
      album_(album),
      tags_(tags),
      dialogs_(dialogs),
      chooser_(chooser),
      view_(view),
      albumFolder_(std::move(albumFolder)) {}

std::string CddbLookup::ReasonText() const {
  return failure_.empty() ? std::string() : "\n\nПричина: " + failure_ + ".";
}

namespace {

// The CDDB server as a source: a query lists the matches (kept in the
// lookup's table), applying one reads its xmcd record into the album.
class CddbSource : public MetadataSource {
 public:
  CddbSource(std::unique_ptr<CddbClient> client, CddbServer server, CddbQueryTable& table)
      : client_(std::move(client)), server_(std::move(server)), table_(table) {}

  Answer Query(const CddbTocTable& toc, std::uint32_t discId,
               std::vector<std::string>& titles) override {
    table_ = CddbQueryTable{};
    bool sendFailed = false;
    const bool answered = client_->Query(server_, discId, toc, table_, sendFailed);
    if (sendFailed) return Answer::SendFailed;
    if (table_.count <= 0) return answered ? Answer::NoMatch : Answer::Failed;
    for (int i = 0; i < table_.count; ++i)
      titles.push_back(ServerTextToUtf8(table_.entries[i].title));
    return Answer::Matches;
  }

  bool Apply(int index) override {
    if (index < 0 || index >= table_.count) return false;
    const CDDBQueryResult& match = table_.entries[index];
    return client_->Read(server_, match.discId, match.category);
  }

  std::string FailureReason() const override { return client_->FailureReason(); }

 private:
  std::unique_ptr<CddbClient> client_;
  CddbServer server_;
  CddbQueryTable& table_;
};

}  // namespace

std::unique_ptr<MetadataSource> CddbLookup::MakeCddbSource(RecordTexts& albumTexts) {
  const RecordTexts noTexts;
  const RecordTexts& settingsTexts = settingsTexts_ ? *settingsTexts_ : noTexts;
  auto setting = [&](SettingsField f) { return SettingsText(settings_, settingsTexts, f); };
  std::unique_ptr<CddbClient> client = clientFactory_
                                           ? clientFactory_(dialogs_, limits_)
                                           : std::make_unique<CddbClient>(dialogs_, limits_);
  client->SetPump(pump_);
  client->SetReadHandler([this, &albumTexts](std::string_view body) {
    if (!ParseXmcd(body, album_, albumTexts, tags_, dialogs_, view_)) return false;
    // What another source said of another release no longer holds.
    ClearAlbumInfo(albumTexts);
    tags_.ClearInfo();
    return true;
  });
  if (settings_.ProxyEnabled) {
    if (settings_.ProxyPort == 0) settings_.ProxyPort = 80;
    client->SetProxy(setting(SettingsField::ProxyHost), settings_.ProxyPort,
                     setting(SettingsField::ProxyUser), setting(SettingsField::ProxyPassword));
  }

  CddbServer server;
  server.port = serverPort_;
  server.host = setting(SettingsField::CddbHost);
  server.cgiPath = setting(SettingsField::CddbPath);
  if (server.host.empty()) server.host = kDefaultCddbHost;
  // "host:port" names a server on another port than 80.
  if (auto colon = server.host.rfind(':'); colon != std::string::npos && colon > 0 &&
                                           colon + 1 < server.host.size() &&
                                           server.host.size() - colon <= 6 &&
                                           server.host.find_first_not_of("0123456789", colon + 1) ==
                                               std::string::npos) {
    int port = std::atoi(server.host.c_str() + colon + 1);
    if (port > 0 && port < 65536) {
      server.port = port;
      server.host.resize(colon);
    }
  }
  if (server.cgiPath.empty()) server.cgiPath = kDefaultCddbPath;
  return std::make_unique<CddbSource>(std::move(client), std::move(server), table_);
}

void CddbLookup::SetDiscToc(const DiscToc& toc) {
  // An answer without even one track leaves the rows to be sent.
  if (toc.TrackCount() == 0) {
    discTable_.reset();
    return;
  }
  CddbTocTable table{};
  table.count = toc.TrackCount() + 1;
  for (int i = 0; i < table.count; ++i) {
    const Msf& m = toc.Descriptor(i).address;
    table.entries[i] = CddbTocEntry{m.minute, m.second, m.frame};
  }
  discTable_ = table;
}

LookupOutcome CddbLookup::Run() {
  RecordTexts& albumTexts = Texts();
  for (;;) {
    std::unique_ptr<MetadataSource> source =
        sourceFactory_ ? sourceFactory_() : MakeCddbSource(albumTexts);

    // The rows of an enhanced CD have the data track and the lead-out moved
    // back over the gap between the sessions; the servers know the disc by
    // the drive's own table.
    const CddbTocTable rows = TocTableFromAlbum(album_);
    const std::uint32_t rowsId = ComputeDiscId(rows);
    const CddbTocTable toc = discTable_ ? *discTable_ : rows;
    const std::uint32_t id = ComputeDiscId(toc);
    // The album file: the disc's identifier, unless the disc was found
    // stored under the one of its rows (as earlier versions asked with).
    const bool storedUnderRowsId = discTable_ && album_.DiscId == SignedDiscId(rowsId);
    // A choice left without an answer leaves the disc as it was (titles
    // typed meanwhile included): only the identifiers are set back.
    const std::int32_t discIdBefore = album_.DiscId;
    char cddbIdBefore[sizeof album_.CddbId];
    std::memcpy(cddbIdBefore, album_.CddbId, sizeof cddbIdBefore);
    album_.DiscId = SignedDiscId(storedUnderRowsId ? rowsId : id);
    char idText[16];
    std::snprintf(idText, sizeof idText, "%08X", id);
    SetField(album_.CddbId, idText);
    table_ = CddbQueryTable{};

    std::vector<std::string> titles;
    const MetadataSource::Answer answer = source->Query(toc, id, titles);
    failure_ = source->FailureReason();
    if (answer == MetadataSource::Answer::SendFailed) {
      dialogs_.Message("Не получилось установить соединение." + ReasonText(), kProgramTitle,
                       MsgIcon::Information, MsgButtons::Ok);
      return LookupOutcome::SendFailed;
    }
    if (answer == MetadataSource::Answer::NoMatch || titles.empty()) {
      source.reset();
      if (answer != MetadataSource::Answer::Failed) {
        dialogs_.Message("В базе нет информации об этом диске.", kProgramTitle,
                         MsgIcon::Information, MsgButtons::Ok);
        return LookupOutcome::NoMatch;
      }
      if (dialogs_.Message(
              "Не получилось установить соединение c сервером.\nПопробовать еще раз?" + ReasonText(),
              kProgramTitle, MsgIcon::Information, MsgButtons::YesNo) == IdYes)
        continue;
      return LookupOutcome::Failed;
    }

    int chosen = 0;
    if (titles.size() > 1) {
      chosen = chooser_.Choose(titles);
      if (chosen < 0 || chosen >= static_cast<int>(titles.size())) {
        album_.DiscId = discIdBefore;
        std::memcpy(album_.CddbId, cddbIdBefore, sizeof cddbIdBefore);
        return LookupOutcome::Cancelled;
      }
    }
    bool read = source->Apply(chosen);
    failure_ = source->FailureReason();
    if (!read)
      dialogs_.Message("Не получилось прочитать данные об этом диске." + ReasonText(),
                       kProgramTitle, MsgIcon::Warning, MsgButtons::Ok);
    if (store_) SaveAlbum(albumFolder_, album_, tags_, artistList_, &albumTexts, &storeProblem_);
    // The titles stay on screen; that they are not kept is said once.
    if (!storeProblem_.empty())
      dialogs_.Message("Данные о диске не сохранены в базе альбомов. " + storeProblem_ + ".",
                       kProgramTitle, MsgIcon::Warning, MsgButtons::Ok);
    return read ? LookupOutcome::Done : LookupOutcome::ReadFailed;
  }
}

}  // namespace sonarvex

#include "metadata/CddbLookup.h"

#include <cstdio>
#include <cstdlib>
#include <memory>

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

LookupOutcome CddbLookup::Run() {
  RecordTexts ownTexts;
  RecordTexts& albumTexts = albumTexts_ ? *albumTexts_ : ownTexts;
  const RecordTexts noTexts;
  const RecordTexts& settingsTexts = settingsTexts_ ? *settingsTexts_ : noTexts;
  auto setting = [&](SettingsField f) { return SettingsText(settings_, settingsTexts, f); };
  for (;;) {
    std::unique_ptr<CddbClient> client =
        clientFactory_ ? clientFactory_(dialogs_, limits_)
                       : std::make_unique<CddbClient>(dialogs_, limits_);
    client->SetPump(pump_);
    client->SetReadHandler([this, &albumTexts](std::string_view body) {
      return ParseXmcd(body, album_, albumTexts, tags_, dialogs_, view_);
    });
    if (settings_.ProxyEnabled) {
      if (settings_.ProxyPort == 0) settings_.ProxyPort = 80;
      client->SetProxy(setting(SettingsField::ProxyHost), settings_.ProxyPort,
                       setting(SettingsField::ProxyUser), setting(SettingsField::ProxyPassword));
    }

    const CddbTocTable toc = TocTableFromAlbum(album_);
    const std::uint32_t id = ComputeDiscId(toc);
    album_.DiscId =
        SignedDiscId(rawToc_.empty() ? id : DiscIdFromRawToc(rawToc_.data(), rawToc_.size()));
    char idText[16];
    std::snprintf(idText, sizeof idText, "%08X", id);
    SetField(album_.CddbId, idText);

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
    table_ = CddbQueryTable{};

    bool sendFailed = false;
    bool answered = client->Query(server, id, toc, table_, sendFailed);
    failure_ = client->FailureReason();
    if (sendFailed) {
      dialogs_.Message("Не получилось установить соединение." + ReasonText(), kProgramTitle,
                       MsgIcon::Information, MsgButtons::Ok);
      return LookupOutcome::SendFailed;
    }
    if (table_.count <= 0) {
      if (answered) {
        client.reset();
        dialogs_.Message("В базе нет информации об этом диске.", kProgramTitle,
                         MsgIcon::Information, MsgButtons::Ok);
        return LookupOutcome::NoMatch;
      }
      client.reset();
      if (dialogs_.Message(
              "Не получилось установить соединение c сервером.\nПопробовать еще раз?" + ReasonText(),
              kProgramTitle, MsgIcon::Information, MsgButtons::YesNo) == IdYes)
        continue;
      return LookupOutcome::Failed;
    }

    int chosen = 0;
    if (table_.count > 1) {
      std::vector<std::string> titles;
      for (int i = 0; i < table_.count; ++i)
        titles.push_back(ServerTextToUtf8(table_.entries[i].title));
      chosen = chooser_.Choose(titles);
      if (chosen < 0 || chosen >= table_.count) return LookupOutcome::Cancelled;
    }
    const CDDBQueryResult& match = table_.entries[chosen];
    bool read = client->Read(server, match.discId, match.category);
    failure_ = client->FailureReason();
    if (!read)
      dialogs_.Message("Не получилось прочитать данные об этом диске." + ReasonText(),
                       kProgramTitle, MsgIcon::Warning, MsgButtons::Ok);
    SaveAlbum(albumFolder_, album_, tags_, artistList_, &albumTexts, &storeProblem_);
    // The titles stay on screen; that they are not kept is said once.
    if (!storeProblem_.empty())
      dialogs_.Message("Данные о диске не сохранены в базе альбомов. " + storeProblem_ + ".",
                       kProgramTitle, MsgIcon::Warning, MsgButtons::Ok);
    return read ? LookupOutcome::Done : LookupOutcome::ReadFailed;
  }
}

}  // namespace sonarvex

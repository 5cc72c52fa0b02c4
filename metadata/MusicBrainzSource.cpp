#include "metadata/MusicBrainzSource.h"

#include <algorithm>

#include "metadata/AlbumView.h"
#include "metadata/MusicBrainzDiscId.h"
#include "metadata/Xmcd.h"
#include "records/TextFields.h"

namespace sonarvex {

namespace {

std::string Joined(const std::vector<std::string>& values) {
  std::string out;
  for (const std::string& v : values) out += (out.empty() ? "" : "; ") + v;
  return out;
}

// "1 дорожка", "3 дорожки", "12 дорожек".
std::string TrackCountText(int n) {
  const int last2 = n % 100, last = n % 10;
  const char* word = (last2 >= 11 && last2 <= 14) ? "дорожек"
                     : last == 1                  ? "дорожка"
                     : last >= 2 && last <= 4     ? "дорожки"
                                                  : "дорожек";
  return std::to_string(n) + " " + word;
}

}  // namespace

std::string MusicBrainzChoiceTitle(const MusicBrainzRelease& release,
                                   const MusicBrainzMedium* medium) {
  std::string title = release.artist;
  if (!release.title.empty()) title += (title.empty() ? "" : " – ") + release.title;
  std::vector<std::string> parts;
  auto add = [&parts](const std::string& part) {
    if (!part.empty()) parts.push_back(part);
  };
  add(release.Year());
  add(release.country);
  add(Joined(release.labels));
  add(release.barcode);
  if (medium) {
    std::string format = medium->format;
    if (release.media.size() > 1)
      format += (format.empty() ? "" : ", ") + std::string("диск ") +
                std::to_string(medium->position) + " из " + std::to_string(release.media.size());
    add(format);
    add(TrackCountText(medium->trackCount));
  }
  if (parts.empty()) return title;
  std::string list;
  for (const std::string& p : parts) list += (list.empty() ? "" : ", ") + p;
  return title + " (" + list + ")";
}

MusicBrainzSource::MusicBrainzSource(std::unique_ptr<MusicBrainzClient> client, const DiscToc& toc,
                                     AlbumRecord& album, RecordTexts& albumTexts, TagBuffer& tags,
                                     AlbumView* view)
    : client_(std::move(client)),
      toc_(toc),
      album_(album),
      albumTexts_(albumTexts),
      tags_(tags),
      view_(view) {}

MetadataSource::Answer MusicBrainzSource::Query(const CddbTocTable&, std::uint32_t,
                                                std::vector<std::string>& titles) {
  releases_.clear();
  failure_.clear();
  const auto mb = MusicBrainzTocOf(toc_);
  if (!mb) {
    failure_ = "на диске нет звуковых дорожек, по которым его можно найти в MusicBrainz";
    return Answer::Failed;
  }
  discId_ = MusicBrainzDiscId(*mb);
  audioTracks_ = mb->lastTrack - mb->firstTrack + 1;
  const MusicBrainzClient::Answer answer =
      client_->Lookup(discId_, MusicBrainzTocParameter(*mb), releases_);
  failure_ = client_->FailureReason();
  if (answer == MusicBrainzClient::Answer::Failed) return Answer::Failed;
  if (!wanted_.empty()) {
    const bool listed = std::any_of(releases_.begin(), releases_.end(),
                                    [this](const MusicBrainzRelease& r) { return r.id == wanted_; });
    if (!listed) {
      failure_ = client_->Peer() + " не называет релиз " + wanted_.substr(0, 100) +
                 " для этого диска (" + discId_ + ")";
      releases_.clear();
      return Answer::Failed;
    }
    std::erase_if(releases_, [this](const MusicBrainzRelease& r) { return r.id != wanted_; });
  }
  if (releases_.empty()) return Answer::NoMatch;
  for (const MusicBrainzRelease& r : releases_)
    titles.push_back(MusicBrainzChoiceTitle(r, r.MediumFor(discId_, audioTracks_)));
  return Answer::Matches;
}

bool MusicBrainzSource::Apply(int index) {
  failure_.clear();
  if (index < 0 || index >= static_cast<int>(releases_.size())) return false;
  const MusicBrainzRelease& r = releases_[static_cast<std::size_t>(index)];
  const MusicBrainzMedium* medium = r.MediumFor(discId_, audioTracks_);
  if (!medium) {
    failure_ = "в релизе " + r.id + " нет носителя с " + TrackCountText(audioTracks_) +
               ", как на этом диске";
    return false;
  }

  // What came before from another lookup goes with the new answer.
  ClearAlbumInfo(albumTexts_);
  tags_.ClearInfo();
  const std::string year = !r.Year().empty() ? r.Year() : r.originalDate.substr(0, 4);
  SetAlbumText(album_, albumTexts_, AlbumField::AlbumTitle, r.title);
  SetAlbumText(album_, albumTexts_, AlbumField::Artist, r.artist);
  SetAlbumText(album_, albumTexts_, AlbumField::Year, year);
  if (!r.genre.empty()) SetAlbumText(album_, albumTexts_, AlbumField::Genre, r.genre);
  const std::string albumTitle = AlbumText(album_, albumTexts_, AlbumField::AlbumTitle);
  const std::string artist = AlbumText(album_, albumTexts_, AlbumField::Artist);
  const std::string genre = AlbumText(album_, albumTexts_, AlbumField::Genre);
  if (view_) {
    view_->SetAlbumName(albumTitle);
    view_->SetArtist(artist);
  }

  std::vector<std::pair<const char*, std::string>> info = {
      {"MusicBrainzAlbumId", r.id},
      {"MusicBrainzAlbumArtistId", Joined(r.artistIds)},
      {"MusicBrainzReleaseGroupId", r.releaseGroupId},
      {"MusicBrainzDiscId", discId_},
      {"AlbumArtist", r.artist},
      {"Date", r.date},
      {"OriginalDate", r.originalDate},
      {"DiscNumber", medium->position > 0 ? std::to_string(medium->position) : std::string()},
      {"DiscTotal", std::to_string(r.media.size())},
      {"Label", Joined(r.labels)},
      {"CatalogNumber", Joined(r.catalogNumbers)},
      {"Barcode", r.barcode},
      {"ReleaseCountry", r.country},
      {"Media", medium->format}};
  for (const auto& [key, text] : info)
    if (!text.empty()) albumTexts_.Put(key, text);

  // The medium's tracks in order are the disc's rows from the first (a
  // mixed-mode disc's data track is listed as its track 1; an enhanced
  // CD's data track comes after the audio and is not).
  const int rows = AlbumTrackCount(album_);
  const int count = std::min<int>(rows, static_cast<int>(medium->tracks.size()));
  for (int k = 0; k < count; ++k) {
    const MusicBrainzTrack& t = medium->tracks[static_cast<std::size_t>(k)];
    SetTrackTitleText(album_, albumTexts_, k, t.title);
    const std::string title = TrackTitleText(album_, albumTexts_, k);
    if (view_) view_->SetTrackCaption(k, title);
    TrackTags tag = tags_.GetTags(k, rows);
    tag.Set(TagField::Title, title);
    tag.Set(TagField::Artist, t.artist);
    tag.Set(TagField::OriginalArtist, t.artist);
    tag.Set(TagField::Album, albumTitle);
    tag.Set(TagField::Year, year);
    tag.Set(TagField::Genre, genre);
    tag.Set(TagField::TrackNumber, std::to_string(TrackNumberOfRow(album_, k)));
    tag.Record.TagsOn = 1;
    for (const auto& [key, text] : info)
      if (!text.empty()) tag.Texts.Put(key, text);
    const std::pair<const char*, std::string> own[] = {
        {"MusicBrainzTrackId", t.recordingId},
        {"MusicBrainzReleaseTrackId", t.trackId},
        {"MusicBrainzArtistId", Joined(t.artistIds)},
        {"Isrc", Joined(t.isrcs)}};
    for (const auto& [key, text] : own)
      if (!text.empty()) tag.Texts.Put(key, text);
    tags_.SetTags(k, rows, tag);
  }
  return true;
}

}  // namespace sonarvex

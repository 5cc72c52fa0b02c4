#include "metadata/CdTextSource.h"

#include "metadata/AlbumView.h"
#include "metadata/Xmcd.h"
#include "records/TextFields.h"

namespace sonarvex {

std::string CdTextChoiceTitle(const CdText& text) {
  std::string title = text.performer;
  if (!text.title.empty()) title += (title.empty() ? "" : " – ") + text.title;
  return title.empty() ? "CD-Text" : title + " (CD-Text)";
}

CdTextSource::CdTextSource(Reader read, AlbumRecord& album, RecordTexts& albumTexts,
                           TagBuffer& tags, AlbumView* view)
    : read_(std::move(read)), album_(album), albumTexts_(albumTexts), tags_(tags), view_(view) {}

MetadataSource::Answer CdTextSource::Query(const CddbTocTable&, std::uint32_t,
                                           std::vector<std::string>& titles) {
  failure_.clear();
  text_ = read_ ? read_() : std::nullopt;
  if (!text_ || text_->Empty()) {
    text_.reset();
    failure_ = "на диске нет CD-Text";
    return Answer::NoMatch;
  }
  titles.push_back(CdTextChoiceTitle(*text_));
  return Answer::Matches;
}

bool CdTextSource::Apply(int index) {
  failure_.clear();
  if (index != 0 || !text_) return false;
  const CdText& cd = *text_;
  // What another source said of another release no longer holds.
  ClearAlbumInfo(albumTexts_);
  tags_.ClearInfo();
  if (!cd.title.empty()) SetAlbumText(album_, albumTexts_, AlbumField::AlbumTitle, cd.title);
  if (!cd.performer.empty()) SetAlbumText(album_, albumTexts_, AlbumField::Artist, cd.performer);
  if (!cd.upc.empty()) albumTexts_.Put("Barcode", cd.upc);
  const std::string albumTitle = AlbumText(album_, albumTexts_, AlbumField::AlbumTitle);
  const std::string artist = AlbumText(album_, albumTexts_, AlbumField::Artist);
  if (view_) {
    view_->SetAlbumName(albumTitle);
    view_->SetArtist(artist);
  }
  const int rows = AlbumTrackCount(album_);
  for (int k = 0; k < rows; ++k) {
    if (!album_.Tracks[k].AudioFlag) continue;
    const CdTextTrack* t = cd.Track(TrackNumberOfRow(album_, k));
    if (t && !t->title.empty()) {
      SetTrackTitleText(album_, albumTexts_, k, t->title);
      if (view_) view_->SetTrackCaption(k, TrackTitleText(album_, albumTexts_, k));
    }
    const std::string performer = t && !t->performer.empty() ? t->performer : artist;
    TrackTags tag = tags_.GetTags(k, rows);
    tag.Set(TagField::Title, TrackTitleText(album_, albumTexts_, k));
    tag.Set(TagField::Artist, performer);
    tag.Set(TagField::OriginalArtist, performer);
    tag.Set(TagField::Album, albumTitle);
    tag.Set(TagField::TrackNumber, std::to_string(TrackNumberOfRow(album_, k)));
    tag.Record.TagsOn = 1;
    if (!cd.upc.empty()) tag.Texts.Put("Barcode", cd.upc);
    if (t && !t->isrc.empty()) tag.Texts.Put("Isrc", t->isrc);
    tags_.SetTags(k, rows, tag);
  }
  return true;
}

}  // namespace sonarvex

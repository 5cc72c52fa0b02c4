// The text fields of the album, tag and settings records by name, with their
// full texts (RecordTexts): what the program reads and writes of them in
// UTF-8. The names are the keys of the companion files.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "records/AlbumRecord.h"
#include "records/RecordTexts.h"
#include "records/SettingsRecord.h"
#include "records/TrackTagRecord.h"

namespace sonarvex {

// ---- Tag records -----------------------------------------------------------

enum class TagField {
  Title, Artist, Album, Comment, TrackNumber, Url, EncodedBy, Copyright,
  OriginalArtist, Composer, Genre, Year,
};
inline constexpr TagField kTagFields[] = {
    TagField::Title,     TagField::Artist,         TagField::Album,    TagField::Comment,
    TagField::TrackNumber, TagField::Url,          TagField::EncodedBy, TagField::Copyright,
    TagField::OriginalArtist, TagField::Composer,  TagField::Genre,    TagField::Year};

// "Title", "Artist", ... (the record's field names).
const char* TagFieldName(TagField f);
char* TagFieldData(TrackTagRecord& r, TagField f);
const char* TagFieldData(const TrackTagRecord& r, TagField f);
std::size_t TagFieldSize(TagField f);

// One track's tag record with the full texts of its fields (keys: the field
// names).
struct TrackTags {
  TrackTagRecord Record{};
  RecordTexts Texts;

  TrackTags() = default;
  explicit TrackTags(const TrackTagRecord& r) : Record(r) {}
  TrackTags(const TrackTagRecord& r, RecordTexts t) : Record(r), Texts(std::move(t)) {}

  bool On() const { return Record.TagsOn != 0; }
  std::string Get(TagField f) const;
  void Set(TagField f, std::string_view utf8);
  // Only the entries that still match their fields, and the info keys.
  RecordTexts ValidTexts() const;
  // An info key's text ("" without one).
  std::string Info(std::string_view key) const;
};

// ---- Album records ---------------------------------------------------------

enum class AlbumField { AlbumTitle, Artist, Year, Genre };
const char* AlbumFieldName(AlbumField f);  // "Album", "Artist", "Year", "Genre"
// "Title.<k>": the title of row k.
std::string TrackTitleKey(int k);

std::string AlbumText(const AlbumRecord& a, const RecordTexts& t, AlbumField f);
void SetAlbumText(AlbumRecord& a, RecordTexts& t, AlbumField f, std::string_view utf8);
std::string TrackTitleText(const AlbumRecord& a, const RecordTexts& t, int k);
void SetTrackTitleText(AlbumRecord& a, RecordTexts& t, int k, std::string_view utf8);
// The entries of t that still match the album's fields, and the info keys.
RecordTexts ValidAlbumTexts(const AlbumRecord& a, const RecordTexts& t);

// ---- Texts no record field holds ---------------------------------------------

// What a metadata source (MusicBrainz) says of the disc beyond the record
// fields: identifiers, dates, label, ... Each key is named after the tag it
// is written as (MusicBrainzAlbumId: MUSICBRAINZ_ALBUMID, ...); several
// values of one key are joined by "; ". No field holds them, so they count
// as they are. Album keys are kept in the album texts; a track's tag texts
// hold the album keys as well and the track keys beside them, so that a
// track's TrackTags carry everything its file is tagged with (in the tag
// buffer as "<key>.<k>").
inline constexpr const char* kAlbumInfoKeys[] = {
    "MusicBrainzAlbumId", "MusicBrainzAlbumArtistId", "MusicBrainzReleaseGroupId",
    "MusicBrainzDiscId",  "AlbumArtist",              "Date",
    "OriginalDate",       "DiscNumber",               "DiscTotal",
    "Label",              "CatalogNumber",            "Barcode",
    "ReleaseCountry",     "Media"};
// MusicBrainzTrackId is the recording's identifier (as MUSICBRAINZ_TRACKID
// is), MusicBrainzReleaseTrackId the track's on the release.
inline constexpr const char* kTrackInfoKeys[] = {"MusicBrainzTrackId", "MusicBrainzReleaseTrackId",
                                                 "MusicBrainzArtistId", "Isrc"};
bool IsAlbumInfoKey(std::string_view key);
// An album key or a track key (without ".<k>").
bool IsTrackInfoKey(std::string_view key);
// Takes away every info key of the album texts.
void ClearAlbumInfo(RecordTexts& albumTexts);

// ---- Settings records ------------------------------------------------------

enum class SettingsField {
  OutputFolder, CddbHost, ProxyHost, CddbPath, ProxyUser, ProxyPassword, ConvertFolder,
  FormatString,
};
const char* SettingsFieldName(SettingsField f);
std::string SettingsText(const SettingsRecord& s, const RecordTexts& t, SettingsField f);
void SetSettingsText(SettingsRecord& s, RecordTexts& t, SettingsField f, std::string_view utf8);
RecordTexts ValidSettingsTexts(const SettingsRecord& s, const RecordTexts& t);

// A three-way merge of a settings record that somebody else (the command
// line, another window) changed on disk while this copy was held: every field
// this copy left as it was in `base` takes the value of `theirs`, every field
// it changed keeps its own. Text fields compare and move their full texts.
// Returns how many fields were taken from `theirs`.
int MergeSettings(const SettingsRecord& base, const RecordTexts& baseTexts, SettingsRecord& mine,
                  RecordTexts& mineTexts, const SettingsRecord& theirs,
                  const RecordTexts& theirsTexts);

}  // namespace sonarvex

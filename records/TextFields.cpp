#include "records/TextFields.h"

#include <cstddef>
#include <cstring>

namespace sonarvex {
namespace {

struct TagFieldInfo {
  const char* name;
  std::size_t offset;
  std::size_t size;
};

TagFieldInfo Info(TagField f) {
  switch (f) {
    case TagField::Title: return {"Title", offsetof(TrackTagRecord, Title), 50};
    case TagField::Artist: return {"Artist", offsetof(TrackTagRecord, Artist), 50};
    case TagField::Album: return {"Album", offsetof(TrackTagRecord, Album), 50};
    case TagField::Comment: return {"Comment", offsetof(TrackTagRecord, Comment), 1024};
    case TagField::TrackNumber: return {"TrackNumber", offsetof(TrackTagRecord, TrackNumber), 4};
    case TagField::Url: return {"Url", offsetof(TrackTagRecord, Url), 50};
    case TagField::EncodedBy: return {"EncodedBy", offsetof(TrackTagRecord, EncodedBy), 50};
    case TagField::Copyright: return {"Copyright", offsetof(TrackTagRecord, Copyright), 50};
    case TagField::OriginalArtist:
      return {"OriginalArtist", offsetof(TrackTagRecord, OriginalArtist), 50};
    case TagField::Composer: return {"Composer", offsetof(TrackTagRecord, Composer), 50};
    case TagField::Genre: return {"Genre", offsetof(TrackTagRecord, Genre), 50};
    case TagField::Year: return {"Year", offsetof(TrackTagRecord, Year), 50};
  }
  return {"Title", offsetof(TrackTagRecord, Title), 50};
}

char* AlbumFieldData(AlbumRecord& a, AlbumField f, std::size_t& size) {
  switch (f) {
    case AlbumField::AlbumTitle: size = sizeof a.AlbumTitle; return a.AlbumTitle;
    case AlbumField::Artist: size = sizeof a.Artist; return a.Artist;
    case AlbumField::Year: size = sizeof a.Year; return a.Year;
    case AlbumField::Genre: size = sizeof a.Genre; return a.Genre;
  }
  size = sizeof a.AlbumTitle;
  return a.AlbumTitle;
}

char* SettingsFieldData(SettingsRecord& s, SettingsField f, std::size_t& size) {
  switch (f) {
    case SettingsField::OutputFolder: size = sizeof s.OutputFolder; return s.OutputFolder;
    case SettingsField::CddbHost: size = sizeof s.CddbHost; return s.CddbHost;
    case SettingsField::ProxyHost: size = sizeof s.ProxyHost; return s.ProxyHost;
    case SettingsField::CddbPath: size = sizeof s.CddbPath; return s.CddbPath;
    case SettingsField::ProxyUser: size = sizeof s.ProxyUser; return s.ProxyUser;
    case SettingsField::ProxyPassword: size = sizeof s.ProxyPassword; return s.ProxyPassword;
    case SettingsField::ConvertFolder: size = sizeof s.ConvertFolder; return s.ConvertFolder;
    case SettingsField::FormatString: size = sizeof s.FormatString; return s.FormatString;
  }
  size = sizeof s.OutputFolder;
  return s.OutputFolder;
}

constexpr SettingsField kSettingsFields[] = {
    SettingsField::OutputFolder, SettingsField::CddbHost,      SettingsField::ProxyHost,
    SettingsField::CddbPath,     SettingsField::ProxyUser,     SettingsField::ProxyPassword,
    SettingsField::ConvertFolder, SettingsField::FormatString};

}  // namespace

const char* TagFieldName(TagField f) { return Info(f).name; }
std::size_t TagFieldSize(TagField f) { return Info(f).size; }
char* TagFieldData(TrackTagRecord& r, TagField f) {
  return reinterpret_cast<char*>(&r) + Info(f).offset;
}
const char* TagFieldData(const TrackTagRecord& r, TagField f) {
  return reinterpret_cast<const char*>(&r) + Info(f).offset;
}

std::string TrackTags::Get(TagField f) const {
  return Texts.Get(TagFieldName(f), TagFieldData(Record, f), TagFieldSize(f));
}

void TrackTags::Set(TagField f, std::string_view utf8) {
  Texts.Set(TagFieldName(f), TagFieldData(Record, f), TagFieldSize(f), utf8);
}

bool IsAlbumInfoKey(std::string_view key) {
  for (const char* k : kAlbumInfoKeys)
    if (key == k) return true;
  return false;
}

bool IsTrackInfoKey(std::string_view key) {
  if (IsAlbumInfoKey(key)) return true;
  for (const char* k : kTrackInfoKeys)
    if (key == k) return true;
  return false;
}

void ClearAlbumInfo(RecordTexts& albumTexts) {
  for (const char* k : kAlbumInfoKeys) albumTexts.Erase(k);
}

RecordTexts TrackTags::ValidTexts() const {
  std::vector<TextField> fields;
  for (TagField f : kTagFields)
    fields.push_back({TagFieldName(f), TagFieldData(Record, f), TagFieldSize(f)});
  RecordTexts valid = sonarvex::ValidTexts(Texts, fields.data(), fields.size());
  for (const auto& [key, text] : Texts.Entries())
    if (IsTrackInfoKey(key)) valid.Put(key, text);
  return valid;
}

std::string TrackTags::Info(std::string_view key) const {
  const std::string* text = Texts.Find(key);
  return text ? *text : std::string();
}

const char* AlbumFieldName(AlbumField f) {
  switch (f) {
    case AlbumField::AlbumTitle: return "Album";
    case AlbumField::Artist: return "Artist";
    case AlbumField::Year: return "Year";
    case AlbumField::Genre: return "Genre";
  }
  return "Album";
}

std::string TrackTitleKey(int k) { return "Title." + std::to_string(k); }

std::string AlbumText(const AlbumRecord& a, const RecordTexts& t, AlbumField f) {
  std::size_t size = 0;
  const char* field = AlbumFieldData(const_cast<AlbumRecord&>(a), f, size);
  return t.Get(AlbumFieldName(f), field, size);
}

void SetAlbumText(AlbumRecord& a, RecordTexts& t, AlbumField f, std::string_view utf8) {
  std::size_t size = 0;
  char* field = AlbumFieldData(a, f, size);
  t.Set(AlbumFieldName(f), field, size, utf8);
}

std::string TrackTitleText(const AlbumRecord& a, const RecordTexts& t, int k) {
  if (k < 0 || k >= kMaxAlbumTracks) return {};
  return t.Get(TrackTitleKey(k), a.Tracks[k].Title);
}

void SetTrackTitleText(AlbumRecord& a, RecordTexts& t, int k, std::string_view utf8) {
  if (k < 0 || k >= kMaxAlbumTracks) return;
  t.Set(TrackTitleKey(k), a.Tracks[k].Title, utf8);
}

RecordTexts ValidAlbumTexts(const AlbumRecord& a, const RecordTexts& t) {
  std::vector<TextField> fields;
  for (AlbumField f : {AlbumField::AlbumTitle, AlbumField::Artist, AlbumField::Year,
                       AlbumField::Genre}) {
    std::size_t size = 0;
    const char* field = AlbumFieldData(const_cast<AlbumRecord&>(a), f, size);
    fields.push_back({AlbumFieldName(f), field, size});
  }
  for (int k = 0; k < kMaxAlbumTracks; ++k)
    fields.push_back({TrackTitleKey(k), a.Tracks[k].Title, sizeof a.Tracks[k].Title});
  RecordTexts valid = ValidTexts(t, fields.data(), fields.size());
  for (const auto& [key, text] : t.Entries())
    if (IsAlbumInfoKey(key)) valid.Put(key, text);
  return valid;
}

const char* SettingsFieldName(SettingsField f) {
  switch (f) {
    case SettingsField::OutputFolder: return "OutputFolder";
    case SettingsField::CddbHost: return "CddbHost";
    case SettingsField::ProxyHost: return "ProxyHost";
    case SettingsField::CddbPath: return "CddbPath";
    case SettingsField::ProxyUser: return "ProxyUser";
    case SettingsField::ProxyPassword: return "ProxyPassword";
    case SettingsField::ConvertFolder: return "ConvertFolder";
    case SettingsField::FormatString: return "FormatString";
  }
  return "OutputFolder";
}

std::string SettingsText(const SettingsRecord& s, const RecordTexts& t, SettingsField f) {
  std::size_t size = 0;
  const char* field = SettingsFieldData(const_cast<SettingsRecord&>(s), f, size);
  return t.Get(SettingsFieldName(f), field, size);
}

void SetSettingsText(SettingsRecord& s, RecordTexts& t, SettingsField f, std::string_view utf8) {
  std::size_t size = 0;
  char* field = SettingsFieldData(s, f, size);
  t.Set(SettingsFieldName(f), field, size, utf8);
}

RecordTexts ValidSettingsTexts(const SettingsRecord& s, const RecordTexts& t) {
  std::vector<TextField> fields;
  for (SettingsField f : kSettingsFields) {
    std::size_t size = 0;
    const char* field = SettingsFieldData(const_cast<SettingsRecord&>(s), f, size);
    fields.push_back({SettingsFieldName(f), field, size});
  }
  return ValidTexts(t, fields.data(), fields.size());
}

namespace {

struct FieldSpan {
  std::size_t offset;
  std::size_t size;
};

#define SPAN(field)                                                \
  FieldSpan {                                                      \
    offsetof(SettingsRecord, field), sizeof(SettingsRecord::field) \
  }
#define LAME(field)                                                                             \
  FieldSpan {                                                                                   \
    offsetof(SettingsRecord, Lame) + offsetof(LameSettings, field), sizeof(LameSettings::field) \
  }
// Every field of the record but the text fields, in record order.
constexpr FieldSpan kSettingsSpans[] = {
    SPAN(NameHasTitle),
    SPAN(NameHasAlbum),
    SPAN(NameHasArtist),
    SPAN(NameHasNumber),
    SPAN(FolderPerAlbum),
    SPAN(FolderPerArtist),
    SPAN(CompressOutput),
    SPAN(Reserved1),
    SPAN(AcmFormatIndex),
    SPAN(OutputKind),
    SPAN(Reserved2),
    SPAN(DriveIndex),
    SPAN(ReadSpeed),
    SPAN(CdPlayerAssociation),
    SPAN(EjectAfterCopy),
    SPAN(UseLame),
    SPAN(ShutdownAfterCopy),
    SPAN(SectorsPerRead),
    SPAN(UseSpti),
    SPAN(ShowGrid),
    SPAN(HighPriority),
    SPAN(ProxyEnabled),
    SPAN(ProxyPort),
    LAME(BitrateIndex),
    LAME(MaxBitrateIndex),
    LAME(Mode),
    LAME(VbrMethod),
    LAME(Reserved1),
    LAME(VbrQuality),
    LAME(VbrEnabled),
    LAME(Reserved2),
    LAME(Preset),
    SPAN(Volume),
    SPAN(DecodeFilesAtOnce),
    SPAN(SettingsPage),
    SPAN(NormalizeEnabled),
    SPAN(VolumeOnDrive),
    SPAN(DigitalPlayback),
    SPAN(LockTray),
    SPAN(NoiseCorrection),
    SPAN(ColumnWidths),
    SPAN(NormLowThreshold),
    SPAN(NormHighThreshold),
    SPAN(NormLowTarget),
    SPAN(NormHighTarget),
    SPAN(ShowWaveButton),
    SPAN(ShowWmaButton),
    SPAN(WmaDrm),
    SPAN(WmaBitrateIndex),
    SPAN(ShowBurnButton),
    SPAN(ShowFindButton),
    SPAN(ShowConvertButton),
    SPAN(ShowCddbButton),
    SPAN(ShowPlayerButton),
    SPAN(ConvertDirection),
    SPAN(ConvertSaveToFolder),
    SPAN(ConvertDeleteSource),
    SPAN(ConvertFormatIndex),
    SPAN(ShowCompressedSize),
    SPAN(Reserved3),
    SPAN(WindowColor),
    SPAN(EditColor),
    SPAN(DriveTypes),
    SPAN(UseFormatString),
    SPAN(OnTheFlyEncoding),
    SPAN(Reserved4),
    SPAN(OggMinBitrateIndex),
    SPAN(OggMaxBitrateIndex),
    SPAN(OggNominalBitrateIndex),
    SPAN(OggQuality),
    SPAN(OggUseQuality),
    SPAN(Reserved5),
    SPAN(Mp3AsOgg),
    SPAN(Reserved6),
};
#undef SPAN
#undef LAME

constexpr std::size_t SpannedBytes() {
  std::size_t sum = 0;
  for (const FieldSpan& f : kSettingsSpans) sum += f.size;
  return sum;
}
// With the eight text fields the spans cover the record: a field added to the
// record and not here fails to build.
static_assert(SpannedBytes() + sizeof(SettingsRecord::OutputFolder) +
                  sizeof(SettingsRecord::CddbHost) + sizeof(SettingsRecord::ProxyHost) +
                  sizeof(SettingsRecord::CddbPath) + sizeof(SettingsRecord::ProxyUser) +
                  sizeof(SettingsRecord::ProxyPassword) + sizeof(SettingsRecord::ConvertFolder) +
                  sizeof(SettingsRecord::FormatString) ==
              sizeof(SettingsRecord));

}  // namespace

int MergeSettings(const SettingsRecord& base, const RecordTexts& baseTexts, SettingsRecord& mine,
                  RecordTexts& mineTexts, const SettingsRecord& theirs,
                  const RecordTexts& theirsTexts) {
  int taken = 0;
  const auto* b = reinterpret_cast<const unsigned char*>(&base);
  const auto* t = reinterpret_cast<const unsigned char*>(&theirs);
  auto* m = reinterpret_cast<unsigned char*>(&mine);
  for (const FieldSpan& f : kSettingsSpans) {
    if (std::memcmp(m + f.offset, b + f.offset, f.size) != 0) continue;  // changed here
    if (std::memcmp(t + f.offset, b + f.offset, f.size) == 0) continue;  // unchanged there
    std::memcpy(m + f.offset, t + f.offset, f.size);
    ++taken;
  }
  for (SettingsField f : kSettingsFields) {
    const std::string was = SettingsText(base, baseTexts, f);
    const std::string there = SettingsText(theirs, theirsTexts, f);
    if (there == was || SettingsText(mine, mineTexts, f) != was) continue;
    SetSettingsText(mine, mineTexts, f, there);
    ++taken;
  }
  return taken;
}

}  // namespace sonarvex

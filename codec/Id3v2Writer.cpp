#include "codec/Id3v2Writer.h"

#include <cstdint>
#include <cstring>
#include <string_view>

#include "platform/Cp1251.h"

namespace sonarvex {
namespace {

using Bytes = std::vector<unsigned char>;

void Append(Bytes& b, std::string_view s) { b.insert(b.end(), s.begin(), s.end()); }

void AppendUnit(Bytes& b, std::uint32_t u) {
  b.push_back(static_cast<unsigned char>(u));
  b.push_back(static_cast<unsigned char>(u >> 8));
}

// UTF-16LE with a byte order mark; characters beyond the BMP as surrogate
// pairs.
void AppendUtf16(Bytes& b, std::string_view utf8) {
  b.push_back(0xFF);
  b.push_back(0xFE);
  for (std::size_t i = 0; i < utf8.size();) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    std::uint32_t cp;
    std::size_t len;
    if (c < 0x80) { cp = c; len = 1; }
    else if ((c & 0xE0) == 0xC0) { cp = c & 0x1F; len = 2; }
    else if ((c & 0xF0) == 0xE0) { cp = c & 0x0F; len = 3; }
    else { cp = c & 0x07; len = 4; }
    for (std::size_t k = 1; k < len && i + k < utf8.size(); ++k)
      cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    i += len;
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
    if (cp > 0xFFFF) {
      cp -= 0x10000;
      AppendUnit(b, 0xD800 + (cp >> 10));
      AppendUnit(b, 0xDC00 + (cp & 0x3FF));
    } else {
      AppendUnit(b, cp);
    }
  }
}

void AppendFrame(Bytes& out, const char* id, bool discardOnAlter, const Bytes& body) {
  Append(out, std::string_view(id, 4));
  const std::uint32_t n = static_cast<std::uint32_t>(body.size());
  out.push_back(static_cast<unsigned char>(n >> 24));
  out.push_back(static_cast<unsigned char>(n >> 16));
  out.push_back(static_cast<unsigned char>(n >> 8));
  out.push_back(static_cast<unsigned char>(n));
  out.push_back(discardOnAlter ? 0x40 : 0x00);
  out.push_back(0x00);
  out.insert(out.end(), body.begin(), body.end());
}

void TextFrame(Bytes& out, const char* id, std::string_view text, bool discard = false) {
  Bytes body;
  if (IsAscii(text)) {
    body.push_back(0);
    Append(body, text);
  } else {
    body.push_back(1);
    AppendUtf16(body, text);
  }
  AppendFrame(out, id, discard, body);
}

void CommentFrame(Bytes& out, std::string_view text) {
  Bytes body;
  if (IsAscii(text)) {
    body.insert(body.end(), {0, 0, 0, 0, 0});  // encoding, language, empty description
    Append(body, text);
  } else {
    body.insert(body.end(), {1, 0, 0, 0, 0xFF, 0xFE, 0, 0});  // empty UTF-16 description
    AppendUtf16(body, text);
  }
  AppendFrame(out, "COMM", false, body);
}

// A link is always Latin-1: characters beyond ASCII are percent-encoded UTF-8.
void UrlFrame(Bytes& out, std::string_view url) {
  Bytes body = {0, 0};  // encoding, empty description
  if (IsAscii(url)) {
    Append(body, url);
  } else {
    static const char* hex = "0123456789ABCDEF";
    for (unsigned char c : url) {
      if (c < 0x80) {
        body.push_back(c);
      } else {
        body.push_back('%');
        body.push_back(static_cast<unsigned char>(hex[c >> 4]));
        body.push_back(static_cast<unsigned char>(hex[c & 15]));
      }
    }
  }
  AppendFrame(out, "WXXX", false, body);
}

// A user-defined text frame: its description and its text.
void UserTextFrame(Bytes& out, std::string_view description, std::string_view text) {
  Bytes body;
  if (IsAscii(description) && IsAscii(text)) {
    body.push_back(0);
    Append(body, description);
    body.push_back(0);
    Append(body, text);
  } else {
    body.push_back(1);
    AppendUtf16(body, description);
    body.insert(body.end(), {0, 0});
    AppendUtf16(body, text);
  }
  AppendFrame(out, "TXXX", false, body);
}

// The unique file identifier of an owner (a recording's identifier).
void UniqueIdFrame(Bytes& out, std::string_view owner, std::string_view id) {
  Bytes body;
  Append(body, owner);
  body.push_back(0);
  Append(body, id.substr(0, 64));  // the frame holds at most 64 bytes
  AppendFrame(out, "UFID", false, body);
}

// ID3v2.3 has no list separator of its own: several values are joined with
// "/", as taggers do for that version.
std::string JoinedForId3v23(std::string text) {
  std::string out;
  for (const std::string& v : SplitInfoValues(text)) out += (out.empty() ? "" : "/") + v;
  return out;
}

// "DDMM" of a date "YYYY-MM-DD" (empty when it has no day).
std::string DayAndMonth(const std::string& date) {
  if (date.size() < 10 || date[4] != '-' || date[7] != '-') return {};
  return date.substr(8, 2) + date.substr(5, 2);
}

// The frames of the info keys (MusicBrainz identifiers, album artist,
// dates, disc, label, ...) after the twelve of the record, each only when it
// has a text.
void InfoFrames(Bytes& out, const TrackTags& t) {
  auto text = [&](const char* id, const std::string& value) {
    if (!value.empty()) TextFrame(out, id, value);
  };
  auto user = [&](const char* description, const char* key) {
    const std::string value = JoinedForId3v23(t.Info(key));
    if (!value.empty()) UserTextFrame(out, description, value);
  };
  text("TPE2", t.Info("AlbumArtist"));
  const std::string date = t.Info("Date");
  if (t.Get(TagField::Year).empty()) text("TYER", date.substr(0, 4));
  text("TDAT", DayAndMonth(date));
  text("TORY", t.Info("OriginalDate").substr(0, 4));
  text("TPOS", DiscNumberText(t));
  text("TPUB", JoinedForId3v23(t.Info("Label")));
  text("TMED", t.Info("Media"));
  text("TSRC", JoinedForId3v23(t.Info("Isrc")));
  user("MusicBrainz Album Id", "MusicBrainzAlbumId");
  user("MusicBrainz Artist Id", "MusicBrainzArtistId");
  user("MusicBrainz Album Artist Id", "MusicBrainzAlbumArtistId");
  user("MusicBrainz Release Group Id", "MusicBrainzReleaseGroupId");
  user("MusicBrainz Release Track Id", "MusicBrainzReleaseTrackId");
  user("MusicBrainz Disc Id", "MusicBrainzDiscId");
  user("MusicBrainz Album Release Country", "ReleaseCountry");
  user("CATALOGNUMBER", "CatalogNumber");
  user("BARCODE", "Barcode");
  if (const std::string id = t.Info("MusicBrainzTrackId"); !id.empty() && IsAscii(id))
    UniqueIdFrame(out, "http://musicbrainz.org", id);
}

void AppendBe32(Bytes& b, std::uint32_t v) {
  b.push_back(static_cast<unsigned char>(v >> 24));
  b.push_back(static_cast<unsigned char>(v >> 16));
  b.push_back(static_cast<unsigned char>(v >> 8));
  b.push_back(static_cast<unsigned char>(v));
}

// The attached picture: encoding 0, MIME type, picture type 3 (front
// cover), an empty description, the image.
void PictureFrame(Bytes& out, const CoverImage& cover) {
  Bytes body;
  body.push_back(0);
  Append(body, cover.mime);
  body.push_back(0);
  body.push_back(3);
  body.push_back(0);
  body.insert(body.end(), cover.bytes.begin(), cover.bytes.end());
  AppendFrame(out, "APIC", false, body);
}

}  // namespace

Bytes Id3v2UserTextFrame(std::string_view description, std::string_view text) {
  Bytes out;
  UserTextFrame(out, description, text);
  return out;
}

Bytes FlacPictureBlock(const CoverImage& cover) {
  Bytes b;
  AppendBe32(b, 3);  // front cover
  AppendBe32(b, static_cast<std::uint32_t>(cover.mime.size()));
  Append(b, cover.mime);
  AppendBe32(b, 0);  // no description
  AppendBe32(b, cover.width);
  AppendBe32(b, cover.height);
  AppendBe32(b, cover.depth);
  AppendBe32(b, 0);  // not an indexed-colour picture
  AppendBe32(b, static_cast<std::uint32_t>(cover.bytes.size()));
  b.insert(b.end(), cover.bytes.begin(), cover.bytes.end());
  return b;
}

std::string Base64(const Bytes& bytes) {
  static const char* digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const std::uint32_t v = static_cast<std::uint32_t>(bytes[i]) << 16 | bytes[i + 1] << 8 | bytes[i + 2];
    out += digits[v >> 18];
    out += digits[(v >> 12) & 63];
    out += digits[(v >> 6) & 63];
    out += digits[v & 63];
  }
  if (i < bytes.size()) {
    const bool two = i + 1 < bytes.size();
    const std::uint32_t v = static_cast<std::uint32_t>(bytes[i]) << 16 | (two ? bytes[i + 1] << 8 : 0);
    out += digits[v >> 18];
    out += digits[(v >> 12) & 63];
    out += two ? digits[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

std::vector<std::string> SplitInfoValues(std::string_view text) {
  std::vector<std::string> out;
  while (!text.empty()) {
    const std::size_t at = text.find("; ");
    std::string_view v = text.substr(0, at);
    if (!v.empty()) out.emplace_back(v);
    if (at == std::string_view::npos) break;
    text.remove_prefix(at + 2);
  }
  return out;
}

std::string DiscNumberText(const TrackTags& t) {
  const std::string number = t.Info("DiscNumber");
  if (number.empty()) return {};
  const std::string total = t.Info("DiscTotal");
  return total.empty() ? number : number + "/" + total;
}

std::vector<std::pair<std::string, std::string>> InfoVorbisComments(const TrackTags& t) {
  std::vector<std::pair<std::string, std::string>> out;
  // Keys that may hold several values give one comment per value.
  auto add = [&](const char* name, const char* key, bool several = false) {
    const std::string text = t.Info(key);
    if (text.empty()) return;
    if (!several) {
      out.emplace_back(name, text);
      return;
    }
    for (std::string& v : SplitInfoValues(text)) out.emplace_back(name, std::move(v));
  };
  add("ORIGINALDATE", "OriginalDate");
  add("DISCNUMBER", "DiscNumber");
  add("DISCTOTAL", "DiscTotal");
  add("LABEL", "Label", true);
  add("CATALOGNUMBER", "CatalogNumber", true);
  add("BARCODE", "Barcode");
  add("RELEASECOUNTRY", "ReleaseCountry");
  add("MEDIA", "Media");
  add("ISRC", "Isrc", true);
  add("MUSICBRAINZ_ALBUMID", "MusicBrainzAlbumId");
  add("MUSICBRAINZ_ALBUMARTISTID", "MusicBrainzAlbumArtistId", true);
  add("MUSICBRAINZ_RELEASEGROUPID", "MusicBrainzReleaseGroupId");
  add("MUSICBRAINZ_DISCID", "MusicBrainzDiscId");
  add("MUSICBRAINZ_TRACKID", "MusicBrainzTrackId");
  add("MUSICBRAINZ_RELEASETRACKID", "MusicBrainzReleaseTrackId");
  add("MUSICBRAINZ_ARTISTID", "MusicBrainzArtistId", true);
  return out;
}

Bytes BuildId3v2(const TrackTags& t, const CoverImage* cover) {
  Bytes out;
  if (!t.On()) return out;
  Append(out, std::string_view("ID3\x03\x00\x00\x00\x00\x00\x00", 10));
  TextFrame(out, "TIT2", t.Get(TagField::Title));
  CommentFrame(out, t.Get(TagField::Comment));
  TextFrame(out, "TPE1", t.Get(TagField::Artist));
  TextFrame(out, "TALB", t.Get(TagField::Album));
  TextFrame(out, "TRCK", t.Get(TagField::TrackNumber));
  TextFrame(out, "TCOP", t.Get(TagField::Copyright));
  TextFrame(out, "TOPE", t.Get(TagField::OriginalArtist));
  TextFrame(out, "TCOM", t.Get(TagField::Composer));
  TextFrame(out, "TCON", t.Get(TagField::Genre));
  TextFrame(out, "TYER", t.Get(TagField::Year));
  TextFrame(out, "TENC", t.Get(TagField::EncodedBy), true);
  UrlFrame(out, t.Get(TagField::Url));
  InfoFrames(out, t);
  if (cover != nullptr && !cover->Empty()) PictureFrame(out, *cover);
  const std::uint32_t size = static_cast<std::uint32_t>(out.size() - 10);
  out[6] = static_cast<unsigned char>((size >> 21) & 0x7F);
  out[7] = static_cast<unsigned char>((size >> 14) & 0x7F);
  out[8] = static_cast<unsigned char>((size >> 7) & 0x7F);
  out[9] = static_cast<unsigned char>(size & 0x7F);
  return out;
}

Bytes BuildId3v2(const TrackTagRecord& t) { return BuildId3v2(TrackTags(t)); }

long WriteId3v2(const TrackTags& tag, std::FILE* out) {
  if (out == nullptr) return 0;
  const Bytes bytes = BuildId3v2(tag);
  if (bytes.empty()) return 0;
  std::fwrite(bytes.data(), 1, bytes.size(), out);  // write errors surface at close
  return static_cast<long>(bytes.size());
}

long WriteId3v2(const TrackTagRecord& tag, std::FILE* out) { return WriteId3v2(TrackTags(tag), out); }

std::vector<std::pair<std::string, std::string>> VorbisCommentsFor(const TrackTags& t) {
  std::vector<std::pair<std::string, std::string>> out;
  if (!t.On()) return out;
  auto add = [&](const char* key, TagField f) {
    std::string text = t.Get(f);
    if (!text.empty()) out.emplace_back(key, std::move(text));
  };
  add("COMMENT", TagField::Comment);
  add("TRACKNUMBER", TagField::TrackNumber);
  add("GENRE", TagField::Genre);
  // The full release date where the lookup gave one, else the year.
  if (const std::string date = t.Info("Date"); !date.empty())
    out.emplace_back("DATE", date);
  else
    add("DATE", TagField::Year);
  add("TITLE", TagField::Title);
  add("ARTIST", TagField::Artist);
  add("ALBUM", TagField::Album);
  if (const std::string albumArtist = t.Info("AlbumArtist"); !albumArtist.empty())
    out.emplace_back("ALBUMARTIST", albumArtist);
  for (auto& c : InfoVorbisComments(t)) out.push_back(std::move(c));
  return out;
}

std::vector<std::pair<std::string, std::string>> VorbisCommentsFor(const TrackTags& t,
                                                                   const CoverImage* cover) {
  auto out = VorbisCommentsFor(t);
  if (t.On() && cover != nullptr && !cover->Empty())
    out.emplace_back("METADATA_BLOCK_PICTURE", Base64(FlacPictureBlock(*cover)));
  return out;
}

std::vector<std::pair<std::string, std::string>> VorbisCommentsFor(const TrackTagRecord& t) {
  return VorbisCommentsFor(TrackTags(t));
}

}  // namespace sonarvex

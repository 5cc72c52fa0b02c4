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

}  // namespace

Bytes BuildId3v2(const TrackTags& t) {
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
  add("DATE", TagField::Year);
  add("TITLE", TagField::Title);
  add("ARTIST", TagField::Artist);
  add("ALBUM", TagField::Album);
  return out;
}

std::vector<std::pair<std::string, std::string>> VorbisCommentsFor(const TrackTagRecord& t) {
  return VorbisCommentsFor(TrackTags(t));
}

}  // namespace sonarvex

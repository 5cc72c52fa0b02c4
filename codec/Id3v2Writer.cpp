#include "codec/Id3v2Writer.h"

#include <cstdint>
#include <cstring>
#include <string_view>

#include "platform/Cp1251.h"

namespace sonarvex {
namespace {

using Bytes = std::vector<unsigned char>;

void Append(Bytes& b, std::string_view s) { b.insert(b.end(), s.begin(), s.end()); }

// UTF-16LE with a byte order mark; every CP1251 character lies in the BMP.
void AppendUtf16(Bytes& b, std::string_view cp1251) {
  b.push_back(0xFF);
  b.push_back(0xFE);
  const std::string utf8 = Cp1251ToUtf8(cp1251);
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
    if (cp > 0xFFFF) cp = 0xFFFD;
    b.push_back(static_cast<unsigned char>(cp));
    b.push_back(static_cast<unsigned char>(cp >> 8));
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
    for (unsigned char c : Cp1251ToUtf8(url)) {
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

Bytes BuildId3v2(const TrackTagRecord& t) {
  Bytes out;
  if (t.TagsOn == 0) return out;
  Append(out, std::string_view("ID3\x03\x00\x00\x00\x00\x00\x00", 10));
  TextFrame(out, "TIT2", FieldText(t.Title));
  CommentFrame(out, FieldText(t.Comment));
  TextFrame(out, "TPE1", FieldText(t.Artist));
  TextFrame(out, "TALB", FieldText(t.Album));
  TextFrame(out, "TRCK", FieldText(t.TrackNumber));
  TextFrame(out, "TCOP", FieldText(t.Copyright));
  TextFrame(out, "TOPE", FieldText(t.OriginalArtist));
  TextFrame(out, "TCOM", FieldText(t.Composer));
  TextFrame(out, "TCON", FieldText(t.Genre));
  TextFrame(out, "TYER", FieldText(t.Year));
  TextFrame(out, "TENC", FieldText(t.EncodedBy), true);
  UrlFrame(out, FieldText(t.Url));
  const std::uint32_t size = static_cast<std::uint32_t>(out.size() - 10);
  out[6] = static_cast<unsigned char>((size >> 21) & 0x7F);
  out[7] = static_cast<unsigned char>((size >> 14) & 0x7F);
  out[8] = static_cast<unsigned char>((size >> 7) & 0x7F);
  out[9] = static_cast<unsigned char>(size & 0x7F);
  return out;
}

long WriteId3v2(const TrackTagRecord& tag, std::FILE* out) {
  if (out == nullptr) return 0;
  const Bytes bytes = BuildId3v2(tag);
  if (bytes.empty()) return 0;
  std::fwrite(bytes.data(), 1, bytes.size(), out);  // write errors surface at close
  return static_cast<long>(bytes.size());
}

std::vector<std::pair<std::string, std::string>> VorbisCommentsFor(const TrackTagRecord& t) {
  std::vector<std::pair<std::string, std::string>> out;
  if (t.TagsOn == 0) return out;
  auto add = [&](const char* key, std::string_view text) {
    if (!text.empty()) out.emplace_back(key, Cp1251ToUtf8(text));
  };
  add("COMMENT", FieldText(t.Comment));
  add("TRACKNUMBER", FieldText(t.TrackNumber));
  add("GENRE", FieldText(t.Genre));
  add("DATE", FieldText(t.Year));
  add("TITLE", FieldText(t.Title));
  add("ARTIST", FieldText(t.Artist));
  add("ALBUM", FieldText(t.Album));
  return out;
}

}  // namespace sonarvex


#include "records/RecordTexts.h"

#include <unistd.h>

#include <cerrno>

#include "platform/Cp1251.h"
#include "platform/Files.h"

namespace sonarvex {
namespace {

// Length of the UTF-8 character at s[i]; 1 for a byte that starts none.
std::size_t CharLength(std::string_view s, std::size_t i) {
  const auto c = static_cast<unsigned char>(s[i]);
  std::size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 1;
  if (n > s.size() - i) return 1;
  for (std::size_t k = 1; k < n; ++k)
    if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 1;
  return n;
}

bool ValidUtf8(std::string_view s) { return IsAscii(s) || IsNonAsciiUtf8(s); }

std::string Escape(std::string_view s) {
  std::string out;
  for (char c : s) {
    if (c == '\\') out += "\\\\";
    else if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else out += c;
  }
  return out;
}

std::string Unescape(std::string_view s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\' || i + 1 == s.size()) {
      out += s[i];
      continue;
    }
    char n = s[++i];
    out += n == 'n' ? '\n' : n == 'r' ? '\r' : n;
  }
  return out;
}

}  // namespace

std::string CutToCharacters(std::string_view utf8, std::size_t n) {
  std::size_t i = 0;
  for (std::size_t count = 0; i < utf8.size() && count < n; ++count) i += CharLength(utf8, i);
  return std::string(utf8.substr(0, i));
}

std::size_t CharacterCount(std::string_view utf8) {
  std::size_t count = 0;
  for (std::size_t i = 0; i < utf8.size(); ++count) i += CharLength(utf8, i);
  return count;
}

std::string RecordTexts::Get(std::string_view key, const char* field, std::size_t size) const {
  const std::string_view stored = FieldText(field, size);
  if (const std::string* text = Find(key); text && Utf8ToCp1251(*text) == stored) return *text;
  return Cp1251ToUtf8(stored);
}

void RecordTexts::Set(std::string_view key, char* field, std::size_t size, std::string_view utf8) {
  if (size == 0) return;
  const std::string text = CutToCharacters(utf8, size - 1);
  const std::string cp1251 = Utf8ToCp1251(text);
  SetField(field, size, cp1251);
  if (Cp1251ToUtf8(FieldText(field, size)) == text)
    Erase(key);
  else
    Put(key, text);
}

void RecordTexts::CopyField(std::string_view toKey, char* to, std::size_t toSize,
                            const RecordTexts& source, std::string_view fromKey, const char* from,
                            std::size_t fromSize) {
  Set(toKey, to, toSize, source.Get(fromKey, from, fromSize));
}

const std::string* RecordTexts::Find(std::string_view key) const {
  auto it = texts_.find(key);
  return it == texts_.end() ? nullptr : &it->second;
}

void RecordTexts::Erase(std::string_view key) {
  auto it = texts_.find(key);
  if (it != texts_.end()) texts_.erase(it);
}

std::string RecordTexts::Serialize() const {
  std::string out = "# Sonarvex: full texts of the record's fields (UTF-8)\n";
  for (const auto& [key, text] : texts_) out += Escape(key) + "=" + Escape(text) + "\n";
  return out;
}

RecordTexts RecordTexts::Parse(std::string_view text) {
  RecordTexts t;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t nl = text.find('\n', pos);
    std::string_view line = text.substr(pos, nl == std::string_view::npos ? nl : nl - pos);
    pos = nl == std::string_view::npos ? text.size() : nl + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line.front() == '#') continue;
    std::size_t eq = line.find('=');
    if (eq == std::string_view::npos || eq == 0) continue;
    std::string value = Unescape(line.substr(eq + 1));
    if (!ValidUtf8(value)) continue;
    t.Put(Unescape(line.substr(0, eq)), value);
  }
  return t;
}

std::string CompanionPath(const std::string& recordPath) { return recordPath + ".utf8"; }

RecordTexts ReadCompanion(const std::string& recordPath) {
  auto data = ReadFileBytes(CompanionPath(recordPath), 1 << 20);
  if (!data) return {};
  return RecordTexts::Parse(*data);
}

bool WriteRecordFiles(const std::string& recordPath, std::string_view bytes,
                      const RecordTexts& texts, unsigned mode) {
  const std::string companion = CompanionPath(recordPath);
  if (!texts.Empty() && !WriteFileAtomically(companion, texts.Serialize(), mode)) {
    // Without its companion the record still loads (with "?" for what is
    // lost); an older companion left there no longer matches the new fields.
  }
  if (!WriteFileAtomically(recordPath, bytes, mode)) return false;
  if (texts.Empty()) ::unlink(companion.c_str());
  return true;
}

RecordTexts ValidTexts(const RecordTexts& texts, const TextField* fields, std::size_t count) {
  RecordTexts valid;
  for (std::size_t i = 0; i < count; ++i) {
    const TextField& f = fields[i];
    const std::string* text = texts.Find(f.key);
    if (text && Utf8ToCp1251(*text) == FieldText(f.field, f.size)) valid.Put(f.key, *text);
  }
  return valid;
}

std::string TwoDigits(int n) {
  std::string s = std::to_string(n);
  if (s.size() < 2) s = "0" + s;
  return s;
}

}  // namespace sonarvex

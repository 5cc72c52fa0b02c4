// The full texts of a record's text fields.
//
// Record fields hold code page 1251 in fixed areas, as the stored files
// demand. A text a user or a server gives may hold characters CP1251 lacks
// (or be longer than the field in bytes of UTF-8): the field then holds its
// CP1251 rendering ("?" for each missing character) and the whole text is
// kept beside the record, under a key naming the field, in a RecordTexts.
// On disk it is the record's companion file, "<record file>.utf8".
//
// An entry counts only while its CP1251 rendering equals the field: a field
// changed by anything else (another program, code that writes the field
// directly) shows its own text again, and the stale entry is dropped at the
// next write. So a record without companion reads exactly as the field says.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <string_view>

namespace sonarvex {

// The first n characters of a UTF-8 text (a byte that is not UTF-8 counts as
// one character).
std::string CutToCharacters(std::string_view utf8, std::size_t n);
// The number of characters of a UTF-8 text, counted the same way.
std::size_t CharacterCount(std::string_view utf8);

class RecordTexts {
 public:
  // The full text of a field: the entry while its CP1251 rendering equals the
  // field, else the field's own text, both UTF-8.
  std::string Get(std::string_view key, const char* field, std::size_t size) const;
  template <std::size_t N>
  std::string Get(std::string_view key, const char (&field)[N]) const {
    return Get(key, field, N);
  }

  // Stores a UTF-8 text: cut to the field's limit in characters (size - 1),
  // the field gets its CP1251 rendering, the entry keeps the text when that
  // rendering loses any of it (and is removed otherwise).
  void Set(std::string_view key, char* field, std::size_t size, std::string_view utf8);
  template <std::size_t N>
  void Set(std::string_view key, char (&field)[N], std::string_view utf8) {
    Set(key, field, N, utf8);
  }

  // Copies field `key` from another record's texts: `to` receives the bytes of
  // `from` and the entry follows when it is valid there.
  void CopyField(std::string_view toKey, char* to, std::size_t toSize, const RecordTexts& source,
                 std::string_view fromKey, const char* from, std::size_t fromSize);

  // Raw entries.
  const std::string* Find(std::string_view key) const;
  void Put(std::string_view key, std::string_view text) { texts_[std::string(key)] = text; }
  void Erase(std::string_view key);
  const std::map<std::string, std::string, std::less<>>& Entries() const { return texts_; }
  bool Empty() const { return texts_.empty(); }
  void Clear() { texts_.clear(); }
  bool operator==(const RecordTexts& o) const { return texts_ == o.texts_; }

  // The companion file's text: a comment line, then "key=value" lines in key
  // order, with "\" escaped as "\\", line feed as "\n", carriage return as "\r".
  std::string Serialize() const;
  // Reads that text back; lines without "=", comment lines ("#") and values
  // that are not valid UTF-8 are skipped.
  static RecordTexts Parse(std::string_view text);

 private:
  std::map<std::string, std::string, std::less<>> texts_;
};

// The companion file of a record file.
std::string CompanionPath(const std::string& recordPath);
// The companion of a record file; empty when there is none (or it cannot be
// read: the record alone is then what counts).
RecordTexts ReadCompanion(const std::string& recordPath);
// Writes a record file and its companion, each replaced atomically: the
// companion first (only the entries still valid for the fields are wanted:
// callers pass what Set left), then the record; without entries the
// companion is removed once the record is written. Either order of failure
// is safe: a companion whose texts do not match the record is not used.
// False when the record could not be written.
bool WriteRecordFiles(const std::string& recordPath, std::string_view bytes,
                      const RecordTexts& texts, unsigned mode = 0644);

}  // namespace sonarvex

namespace sonarvex {

// One text field of a record, for keeping only the entries that still
// match their fields.
struct TextField {
  std::string key;
  const char* field;
  std::size_t size;
};
// The entries of `texts` that name one of the fields and match it.
RecordTexts ValidTexts(const RecordTexts& texts, const TextField* fields, std::size_t count);

// The decimal number left-padded with "0" to at least two characters.
std::string TwoDigits(int n);

}  // namespace sonarvex

#include "records/CueSheet.h"

#include <cctype>
#include <cstdio>
#include <utility>

namespace sonarvex {

namespace {

std::string Upper(std::string_view s) {
  std::string u(s);
  for (char& c : u) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return u;
}

bool ParseNumber(std::string_view s, int maxValue, int* out) {
  if (s.empty() || s.size() > 6) return false;
  int v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  if (v > maxValue) return false;
  *out = v;
  return true;
}

// "mm:ss:ff" in frames.
bool ParseTime(std::string_view s, int* frames) {
  const auto a = s.find(':');
  if (a == std::string_view::npos) return false;
  const auto b = s.find(':', a + 1);
  if (b == std::string_view::npos) return false;
  int m, sec, f;
  if (!ParseNumber(s.substr(0, a), 999, &m) || !ParseNumber(s.substr(a + 1, b - a - 1), 59, &sec) ||
      !ParseNumber(s.substr(b + 1), 74, &f))
    return false;
  *frames = m * 4500 + sec * 75 + f;
  return true;
}

// A catalogue number as CATALOG gives it: 13 digits.
bool ValidCatalog(std::string_view s) {
  if (s.size() != 13) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

// An ISRC as a cue sheet gives it: 5 letters or digits, 7 digits.
bool ValidIsrc(std::string_view s) {
  if (s.size() != 12) return false;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    const bool digit = c >= '0' && c <= '9';
    if (i < 5 ? !(digit || (c >= 'A' && c <= 'Z')) : !digit) return false;
  }
  return true;
}

std::string LineError(int line, const std::string& what) {
  return "строка " + std::to_string(line) + " CUE-файла: " + what;
}

}  // namespace

std::vector<std::string> CueLineWords(std::string_view line) {
  std::vector<std::string> words;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i]))) ++i;
    if (i >= line.size()) break;
    std::string w;
    if (line[i] == '"') {
      ++i;
      while (i < line.size() && line[i] != '"') w.push_back(line[i++]);
      if (i < line.size()) ++i;
    } else {
      while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i])))
        w.push_back(line[i++]);
    }
    words.push_back(std::move(w));
  }
  return words;
}

std::optional<CueSheet> ParseCueSheet(std::string_view text, std::string* error) {
  auto fail = [&](std::string why) -> std::optional<CueSheet> {
    if (error) *error = std::move(why);
    return std::nullopt;
  };
  if (text.size() > kMaxCueSheetBytes) return fail("CUE-файл слишком большой");
  if (text.size() >= 3 && static_cast<unsigned char>(text[0]) == 0xEF &&
      static_cast<unsigned char>(text[1]) == 0xBB && static_cast<unsigned char>(text[2]) == 0xBF)
    text.remove_prefix(3);

  CueSheet sheet;
  int session = 1;
  int lineNo = 0;
  std::size_t pos = 0;
  while (pos <= text.size()) {
    // Lines end with LF, CR LF or a lone CR.
    std::size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    if (end < text.size() && text[end] == '\r' && pos < text.size() && text[pos] == '\n') ++pos;
    ++lineNo;
    const auto w = CueLineWords(line);
    if (w.empty()) continue;
    const std::string cmd = Upper(w[0]);
    CueImageTrack* track = sheet.tracks.empty() ? nullptr : &sheet.tracks.back();

    if (cmd == "FILE") {
      if (w.size() < 3 || w[1].empty()) return fail(LineError(lineNo, "неверная команда FILE"));
      const std::string type = Upper(w[2]);
      if (type != "BINARY" && type != "MOTOROLA")
        return fail(LineError(lineNo, "тип файла " + w[2] + " не поддерживается"));
      if (sheet.files.size() >= 99) return fail(LineError(lineNo, "слишком много файлов"));
      sheet.files.push_back(CueFile{w[1], type == "MOTOROLA"});
    } else if (cmd == "TRACK") {
      if (sheet.files.empty()) return fail(LineError(lineNo, "TRACK до команды FILE"));
      int number;
      if (w.size() < 3 || !ParseNumber(w[1], 99, &number) || number < 1)
        return fail(LineError(lineNo, "неверный номер трека"));
      if (track && number <= track->number)
        return fail(LineError(lineNo, "номера треков должны возрастать"));
      if (track && track->index1 < 0)
        return fail(LineError(lineNo, "у трека " + std::to_string(track->number) + " нет INDEX 01"));
      CueImageTrack t;
      t.number = number;
      t.file = static_cast<int>(sheet.files.size()) - 1;
      t.session = session;
      const std::string mode = Upper(w[2]);
      if (mode == "AUDIO") {
        t.audio = true;
        t.sectorSize = 2352;
      } else if (mode == "MODE1/2352" || mode == "MODE2/2352") {
        t.audio = false;
        t.sectorSize = 2352;
      } else if (mode == "MODE1/2048") {
        t.audio = false;
        t.sectorSize = 2048;
      } else if (mode == "MODE2/2336") {
        t.audio = false;
        t.sectorSize = 2336;
      } else {
        return fail(LineError(lineNo, "режим трека " + w[2] + " не поддерживается"));
      }
      sheet.tracks.push_back(t);
    } else if (cmd == "INDEX") {
      if (!track) return fail(LineError(lineNo, "INDEX до команды TRACK"));
      // A track's INDEX 00 may lie in the file before the one holding its
      // INDEX 01 (a pregap at the end of the previous track's file).
      const int file = static_cast<int>(sheet.files.size()) - 1;
      int number, frames;
      if (w.size() < 3 || !ParseNumber(w[1], 99, &number) || !ParseTime(w[2], &frames))
        return fail(LineError(lineNo, "неверная команда INDEX"));
      if (number == 0) {
        if (track->index1 >= 0) return fail(LineError(lineNo, "INDEX 00 после INDEX 01"));
        track->index0 = frames;
        track->index0File = file;
      } else if (number == 1) {
        if (track->index1 >= 0) return fail(LineError(lineNo, "повторный INDEX 01"));
        if (track->index0 > frames && track->index0File == file)
          return fail(LineError(lineNo, "INDEX 01 раньше INDEX 00"));
        track->index1 = frames;
        track->file = file;
      } else if (track->index1 < 0) {
        return fail(LineError(lineNo, "INDEX " + w[1] + " до INDEX 01"));
      } else {
        // INDEX 02 and later follow each other without gaps in their numbers.
        const int expected = track->indices.empty() ? 2 : track->indices.back().number + 1;
        if (number != expected) {
          char want[16];
          std::snprintf(want, sizeof want, "%02d", expected);
          return fail(LineError(lineNo, "INDEX " + w[1] + " не по порядку (ожидался INDEX " + want + ")"));
        }
        track->indices.push_back(CueIndexMark{number, file, frames});
      }
    } else if (cmd == "PREGAP" || cmd == "POSTGAP") {
      int frames;
      if (!track || w.size() < 2 || !ParseTime(w[1], &frames))
        return fail(LineError(lineNo, "неверная команда " + cmd));
      (cmd == "PREGAP" ? track->pregap : track->postgap) = frames;
    } else if (cmd == "FLAGS") {
      if (!track) return fail(LineError(lineNo, "FLAGS до команды TRACK"));
      for (std::size_t i = 1; i < w.size(); ++i) {
        const std::string f = Upper(w[i]);
        if (f == "DCP") track->flags |= 0x02;
        else if (f == "4CH") track->flags |= 0x08;
        else if (f == "PRE") track->flags |= 0x01;
      }
    } else if (cmd == "CATALOG") {
      if (w.size() >= 2 && ValidCatalog(w[1]) && sheet.catalog.empty()) sheet.catalog = w[1];
    } else if (cmd == "ISRC") {
      if (track && w.size() >= 2 && ValidIsrc(Upper(w[1]))) track->isrc = Upper(w[1]);
    } else if (cmd == "TITLE" || cmd == "PERFORMER") {
      if (w.size() >= 2) {
        std::string& to = cmd == "TITLE" ? (track ? track->title : sheet.title)
                                         : (track ? track->performer : sheet.performer);
        if (to.empty()) to = w[1].substr(0, 1024);
      }
    } else if (cmd == "REM") {
      int number;
      if (w.size() >= 3 && Upper(w[1]) == "SESSION" && ParseNumber(w[2], 99, &number) && number >= 1) {
        if (number < session) return fail(LineError(lineNo, "номера сессий должны возрастать"));
        session = number;
      }
    }
    // SONGWRITER, CDTEXTFILE: not needed.
  }
  if (sheet.tracks.empty()) return fail("в CUE-файле нет треков");
  if (sheet.tracks.back().index1 < 0)
    return fail("у трека " + std::to_string(sheet.tracks.back().number) + " нет INDEX 01");
  return sheet;
}

}  // namespace sonarvex

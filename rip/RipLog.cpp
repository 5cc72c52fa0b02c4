#include "rip/RipLog.h"

#include "accuraterip/AccurateRip.h"

#include <libdeflate.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

namespace sonarvex {

namespace {

std::string Hex8(std::uint32_t v, bool upper) {
  char text[9];
  std::snprintf(text, sizeof text, upper ? "%08X" : "%08x", v);
  return text;
}

// A quoted cue sheet text: the quote mark has no escape there.
std::string Quoted(const std::string& s) {
  std::string out = "\"";
  for (char c : s) out += (c == '"') ? '\'' : (c == '\r' || c == '\n') ? ' ' : c;
  return out + "\"";
}

std::string FileType(const std::string& name) {
  const auto dot = name.rfind('.');
  if (dot == std::string::npos) return "BINARY";
  std::string ext = name.substr(dot + 1);
  for (char& c : ext) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
  if (ext == "MP3") return "MP3";
  if (ext == "AIF" || ext == "AIFF") return "AIFF";
  return "WAVE";
}

// A REM line's value: quoted when it holds a space (as other programs
// write "REM GENRE \"Hard Rock\"").
std::string RemValue(const std::string& s) {
  if (s.empty() || s.find_first_of(" \t\"\r\n") != std::string::npos) return Quoted(s);
  return s;
}

}  // namespace

std::uint32_t Crc32(std::uint32_t crc, const void* data, std::size_t bytes) {
  // libdeflate's folds the data with carry-less multiplication where the
  // processor has it: several times faster than zlib's tables on a whole
  // disc, where the log's CRC takes much of a WAV rip's time.
  return libdeflate_crc32(crc, data, bytes);
}

void AddTrackSums(std::uint32_t* crc, ArChecksum* ar, const void* pcm, std::size_t bytes) {
  if (crc == nullptr || ar == nullptr) {
    if (crc) *crc = Crc32(*crc, pcm, bytes);
    if (ar) ar->Add(pcm, bytes);
    return;
  }
  // A whole number of samples per piece, well inside the first-level cache.
  constexpr std::size_t kPiece = 8 * 1024;
  const auto* p = static_cast<const std::uint8_t*>(pcm);
  std::uint32_t c = *crc;
  while (bytes > 0) {
    const std::size_t n = std::min(bytes, kPiece);
    c = Crc32(c, p, n);
    ar->Add(p, n);
    p += n;
    bytes -= n;
  }
  *crc = c;
}

std::string RipLogText(const RipLogInfo& info) {
  std::string out;
  out += "Sonarvex " + info.programVersion + ": журнал копирования\n";
  if (!info.date.empty()) out += "Дата: " + info.date + "\n";
  out += "\n";
  out += "Привод: " + info.drive + "\n";
  out += "Сдвиг чтения: " + std::string(info.readOffset > 0 ? "+" : "") +
         std::to_string(info.readOffset) + "\n";
  out += "Команда чтения: " + info.readCommand + "\n";
  out += "Скорость чтения: " + info.readSpeed + "\n";
  if (!info.readMode.empty()) out += "Режим чтения: " + info.readMode + "\n";
  out += "Исполнитель: " + info.artist + "\n";
  out += "Альбом: " + info.album + "\n";
  if (!info.arDisc.empty()) out += "AccurateRip: " + info.arDisc + "\n";
  if (!info.hiddenTrack.empty()) out += info.hiddenTrack + "\n";
  int ok = 0;
  for (const RipLogTrack& t : info.tracks) {
    out += "\nДорожка " + std::to_string(t.number) + "\n";
    if (!t.failure.empty()) {
      out += "  Не скопирована: " + t.failure + "\n";
    } else {
      ++ok;
      out += "  Файл: " + t.file + "\n";
      out += "  CRC32: " + Hex8(t.crc32, true) + "\n";
      if (t.verified)
        out += "  AccurateRip: v1 " + Hex8(t.arV1, false) + ", v2 " + Hex8(t.arV2, false) + ", " +
               t.arResult + "\n";
    }
    out += "  Ошибки чтения: " + std::to_string(t.readErrors) +
           ", повторы: " + std::to_string(t.retries) + "\n";
    if (t.secure) {
      out += "  Перечитано секторов: " + std::to_string(t.rereadSectors) + "\n";
      if (!t.suspectTimes.empty()) {
        out += "  Подозрительные места:";
        for (std::size_t k = 0; k < t.suspectTimes.size(); ++k)
          out += (k ? ", " : " ") + t.suspectTimes[k];
        out += "\n";
      }
    }
    if (t.tested) {
      out += "  CRC32 проверки: " + Hex8(t.testCrc32, true) + "\n";
      out += "  CRC32 копирования: " + Hex8(t.copyCrc32, true) + "\n";
      out += t.testCrc32 == t.copyCrc32 ? "  Проверка и копирование совпадают\n"
                                        : "  Проверка и копирование НЕ совпадают\n";
    }
  }
  out += "\nСкопировано дорожек: " + std::to_string(ok) + " из " +
         std::to_string(info.tracks.size()) + "\n";
  return out;
}

std::string TrackTimeText(std::uint32_t sectors) {
  char text[24];
  std::snprintf(text, sizeof text, "%02u:%02u.%02u", sectors / 4500, sectors / 75 % 60, sectors % 75);
  return text;
}

std::string CueTime(std::int32_t sectors) {
  if (sectors < 0) sectors = 0;
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", sectors / 4500, sectors / 75 % 60, sectors % 75);
  return text;
}

std::string CueSheetText(const CueSheetInfo& info) {
  std::string out;
  if (!info.genre.empty()) out += "REM GENRE " + RemValue(info.genre) + "\n";
  if (!info.date.empty()) out += "REM DATE " + RemValue(info.date) + "\n";
  if (!info.discId.empty()) out += "REM DISCID " + RemValue(info.discId) + "\n";
  if (!info.comment.empty()) out += "REM COMMENT " + Quoted(info.comment) + "\n";
  if (!info.catalog.empty()) out += "CATALOG " + info.catalog + "\n";
  if (!info.performer.empty()) out += "PERFORMER " + Quoted(info.performer) + "\n";
  if (!info.title.empty()) out += "TITLE " + Quoted(info.title) + "\n";
  for (const CueDataTrack& d : info.dataTracks) {
    char line[80];
    std::snprintf(line, sizeof line, "REM DATATRACK %02d START %d END %d\n", d.number,
                  static_cast<int>(d.startLba), static_cast<int>(d.endLba));
    out += line;
  }
  for (std::size_t i = 0; i < info.tracks.size(); ++i) {
    const CueTrack& t = info.tracks[i];
    const CueTrack* previous = i > 0 ? &info.tracks[i - 1] : nullptr;
    char number[8];
    std::snprintf(number, sizeof number, "%02d", t.number);
    // A pregap at the end of the previous file is announced there.
    const bool pregapInPrevious = previous != nullptr && t.pregapSectors > 0 &&
                                  t.pregapSectors <= previous->sectors;
    // Track 1's pregap ripped as a file of its own (a hidden track).
    const bool pregapInHidden = i == 0 && t.pregapSectors > 0 && !info.hiddenFile.empty();
    if (pregapInHidden)
      out += "FILE " + Quoted(info.hiddenFile) + " " + FileType(info.hiddenFile) + "\n";
    else if (!pregapInPrevious)
      out += "FILE " + Quoted(t.file) + " " + FileType(t.file) + "\n";
    out += "  TRACK " + std::string(number) + " AUDIO\n";
    if (!t.title.empty()) out += "    TITLE " + Quoted(t.title) + "\n";
    if (!t.performer.empty()) out += "    PERFORMER " + Quoted(t.performer) + "\n";
    if (!t.isrc.empty()) out += "    ISRC " + t.isrc + "\n";
    if (pregapInHidden) {
      out += "    INDEX 00 00:00:00\n";
      out += "FILE " + Quoted(t.file) + " " + FileType(t.file) + "\n";
    } else if (pregapInPrevious) {
      out += "    INDEX 00 " + CueTime(previous->sectors - t.pregapSectors) + "\n";
      out += "FILE " + Quoted(t.file) + " " + FileType(t.file) + "\n";
    } else if (t.pregapSectors > 0) {
      out += "    PREGAP " + CueTime(t.pregapSectors) + "\n";
    }
    out += "    INDEX 01 00:00:00\n";
    // The index points inside the track, in its file (which starts at its
    // INDEX 01).
    for (std::size_t k = 0; k < t.indices.size() && k < 98; ++k) {
      char line[40];
      std::snprintf(line, sizeof line, "    INDEX %02d %s\n", static_cast<int>(k + 2), CueTime(t.indices[k]).c_str());
      out += line;
    }
  }
  return out;
}

WriteResult WriteTextFile(const std::string& path, const std::string& text) {
  if (!RemoveForReplacement(path)) return WriteResult::Failure(CreateFailureText(path, errno));
  OutputFile file;
  if (WriteResult r = file.Create(path); !r) return r;
  if (WriteResult r = file.Write(text.data(), text.size()); !r) {
    file.Abort();
    return r;
  }
  WriteResult r = file.Finish();
  if (r) ClearOwnMark(path);
  return r;
}

}  // namespace sonarvex

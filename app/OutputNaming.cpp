#include "app/OutputNaming.h"

#include <cstring>

#include "platform/Cp1251.h"
#include "platform/Files.h"

namespace sonarvex {
namespace {

constexpr char kForbidden[] = {'*', '|', '<', '>', '"', ':', '/', '?'};
constexpr std::size_t kMaxRelativeLength = 260;

// The forbidden characters, and control characters (TAB, CR, LF, ...) which
// would break names and the command line's one-line-per-track output.
bool Forbidden(char c) {
  const auto u = static_cast<unsigned char>(c);
  if (u < 0x20 || u == 0x7F) return true;
  return std::memchr(kForbidden, c, sizeof kForbidden) != nullptr;
}

// Drops the last UTF-8 character of s.
void PopUtf8(std::string& s) {
  while (!s.empty() && (static_cast<unsigned char>(s.back()) & 0xC0) == 0x80) s.pop_back();
  if (!s.empty()) s.pop_back();
}

std::string_view FileExtension(std::string_view name) {
  auto dot = name.rfind('.');
  if (dot == std::string_view::npos || name.size() - dot > 8) return {};
  return name.substr(dot);
}

// Cyrillic code letters in CP1251.
constexpr char kCyrA = '\xC0', kCyrD = '\xC4', kCyrT = '\xD2', kCyrN = '\xCD';

std::string TwoDigitNumber(int n) {
  std::string s = std::to_string(n);
  return s.size() < 2 ? "0" + s : s;
}

// Cuts a part to the bytes a file name may have once it is UTF-8, keeping
// what follows its last '.' when keepSuffix (the file name itself, with its
// extension, which also needs room for the partial suffix).
std::string FitPart(const std::string& part, bool keepSuffix) {
  const std::size_t maxBytes =
      keepSuffix ? kMaxFileNameBytes - std::strlen(kPartialSuffix) : kMaxFileNameBytes;
  if (Cp1251ToUtf8(part).size() <= maxBytes) return part;
  std::string suffix;
  std::string stem = part;
  if (keepSuffix) {
    auto dot = part.rfind('.');
    if (dot != std::string::npos && part.size() - dot <= 8) {
      suffix = part.substr(dot);
      stem = part.substr(0, dot);
    }
  }
  while (!stem.empty() && Cp1251ToUtf8(stem + suffix).size() > maxBytes) stem.pop_back();
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  if (stem.empty()) stem = "_";
  return stem + suffix;
}

// Parts that are empty or only dots would leave or collapse the output
// folder: they become "_".
std::string SafeParts(const std::string& relative) {
  std::string out;
  std::size_t start = 0;
  while (true) {
    std::size_t slash = relative.find('\\', start);
    bool last = slash == std::string::npos;
    std::string part = relative.substr(start, last ? std::string::npos : slash - start);
    if (part.find_first_not_of('.') == std::string::npos) part = "_";
    out += FitPart(part, last);
    if (last) break;
    out += '\\';
    start = slash + 1;
  }
  return out;
}

std::string FixedSchemeName(int i, const NamingInput& in, bool withAlbum) {
  const SettingsRecord& s = in.Settings;
  TrackNames n = NamesOfTrack(in, i);
  std::string r;
  if (s.FolderPerArtist) r += n.Artist + "\\";
  if (s.FolderPerAlbum) r += n.Album + "\\";
  if (s.NameHasNumber) r += std::to_string(i) + " - ";
  if (s.NameHasArtist) r += n.Artist + " - ";
  if (withAlbum && s.NameHasAlbum) r += n.Album + " - ";
  if (s.NameHasTitle) r += n.Title;
  if (!r.empty() && r.back() == ' ') r.pop_back();
  r += OutputExtension(s.OutputKind);
  return r;
}

}  // namespace

const char* OutputExtension(int outputKind) {
  switch (outputKind) {
    case 1: return ".mp3";
    case 2: return ".wma";
    case 3: return ".ogg";
    default: return ".wav";
  }
}

TrackNames NamesOfTrack(const NamingInput& in, int i) {
  TrackNames n;
  const AlbumRecord& a = in.Album;
  TrackTagRecord tag{};
  bool fromTag = false;
  if (a.Compilation) {
    tag = in.Tags.Get(i, a.TrackCount);
    fromTag = tag.TagsOn != 0;
  }
  if (fromTag) {
    n.Artist = FieldText(tag.Artist);
    n.Album = FieldText(tag.Album);
    n.Title = FieldText(tag.Title);
  } else {
    n.Artist = FieldText(a.Artist);
    n.Album = FieldText(a.AlbumTitle);
    if (i >= 0 && i < kMaxAlbumTracks) n.Title = FieldText(a.Tracks[i].Title);
  }
  if (n.Artist.empty()) n.Artist = Utf8ToCp1251("Неиз.Исполнитель");
  if (n.Album.empty()) n.Album = Utf8ToCp1251("Неиз.Альбом");
  if (n.Title.empty()) n.Title = "Track" + std::to_string(i + 1);
  return n;
}

std::string ExpandFormat(std::string_view format, int i, const NamingInput& in) {
  std::string f(format);
  if (f.empty() || f.back() != '%') f += "%R";
  bool padded = false;
  if (f.front() == '%') {
    f = " " + f;
    padded = true;
  }
  TrackNames n = NamesOfTrack(in, i);
  std::string result;
  std::size_t pos = f.find('%');
  result = f.substr(0, pos);
  while (pos != std::string::npos) {
    while (pos < f.size() && f[pos] == '%') ++pos;  // a run of '%' is one separator
    std::size_t next = f.find('%', pos);
    std::string piece = f.substr(pos, next == std::string::npos ? std::string::npos : next - pos);
    if (piece.empty()) break;
    char code = piece[0];
    std::string rest = piece.substr(1);
    if (code == 'A' || code == kCyrA) {
      result += n.Artist + rest;
    } else if (code == 'D' || code == kCyrD) {
      result += n.Album + rest;
    } else if (code == 'T' || code == kCyrT) {
      result += n.Title + rest;
    } else if (code == 'N' || code == kCyrN) {
      result += TwoDigitNumber(i + 1) + rest;
    } else {
      break;  // an unknown code ends the expansion
    }
    pos = next;
  }
  if (padded && !result.empty()) result.erase(0, 1);
  return result;
}

std::string FilterFileName(std::string_view input, std::size_t from) {
  std::string s(input);
  std::size_t p = from == 0 ? 1 : from;  // 1-based
  while (p <= s.size()) {
    char c = s[p - 1];
    if (!Forbidden(c) || (c == ':' && p == 2 && s.size() > 2 && s[2] == '\\')) {
      ++p;
      continue;
    }
    if (p >= 2 && s[p - 2] == '\\') {
      s.erase(p - 1, 1);  // look again at what moved into position p
    } else {
      s[p - 1] = ' ';
      ++p;
    }
  }
  return s;
}

std::string NumberedOutputPath(const std::string& nativePath, int n) {
  const auto slash = nativePath.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : nativePath.substr(0, slash + 1);
  const std::string name = nativePath.substr(folder.size());
  const std::string ext(FileExtension(name));
  std::string stem = name.substr(0, name.size() - ext.size());
  const std::string number = " (" + std::to_string(n) + ")";
  const std::size_t room = kMaxFileNameBytes - std::strlen(kPartialSuffix);
  while (!stem.empty() && stem.size() + number.size() + ext.size() > room) PopUtf8(stem);
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  if (stem.empty()) stem = "_";
  return folder + stem + number + ext;
}

std::string ToNativePath(std::string_view namingPath) {
  std::string s(namingPath);
  for (char& c : s)
    if (c == '\\') c = '/';
  return Cp1251ToUtf8(s);
}

std::string ToNamingPath(std::string_view nativePath) {
  std::string s = Utf8ToCp1251(nativePath);
  for (char& c : s)
    if (c == '/') c = '\\';
  return s;
}

std::string OutputFolderForNaming(const SettingsRecord& s) {
  std::string folder(FieldText(s.OutputFolder));
  for (char& c : folder)
    if (c == '/') c = '\\';
  if (!folder.empty() && folder.back() != '\\') folder += '\\';
  return folder;
}

std::string MissingFolderMessage(const std::string& folderUtf8) {
  return "Директории '" + folderUtf8 + "' не существует. Выбирете другую папку.";
}

std::string RelativeOutputName(int i, const NamingInput& in) {
  const SettingsRecord& s = in.Settings;
  std::string folder = OutputFolderForNaming(s);
  std::string r;
  if (s.UseFormatString) {
    r = ExpandFormat(FieldText(s.FormatString), i, in) + OutputExtension(s.OutputKind);
  } else {
    r = FixedSchemeName(i, in, true);
    if (r.size() > kMaxRelativeLength) r = FixedSchemeName(i, in, false);
    if (r.size() > kMaxRelativeLength) {
      // Still too long: shorten the file name itself, keeping its extension.
      std::string ext = OutputExtension(s.OutputKind);
      std::size_t keep = kMaxRelativeLength - ext.size();
      r = r.substr(0, keep);
      while (!r.empty() && r.back() == ' ') r.pop_back();
      r += ext;
    }
  }
  // Filter in the context of the folder: a forbidden character right after
  // a separator is removed, one elsewhere becomes a space.
  std::string filtered = FilterFileName(folder + r, folder.size() + 1);
  return SafeParts(filtered.substr(folder.size()));
}

std::string BuildOutputPath(int i, const NamingInput& in,
                            const std::function<bool(const std::string&)>& folderMissing) {
  while (!DirectoryExists(ToNativePath(OutputFolderForNaming(in.Settings)))) {
    std::string folder = Cp1251ToUtf8(FieldText(in.Settings.OutputFolder));
    if (!folderMissing || !folderMissing(folder)) return {};
  }
  return OutputFolderForNaming(in.Settings) + RelativeOutputName(i, in);
}

}  // namespace sonarvex

#include "rip/OutputNaming.h"

#include <cstring>

#include "codec/FormatRegistry.h"
#include "platform/Cp1251.h"
#include "platform/Files.h"
#include "records/TextFields.h"

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

// The Cyrillic code letters А, Д, Т, Н in UTF-8.
constexpr std::string_view kCyrA = "\xD0\x90", kCyrD = "\xD0\x94", kCyrT = "\xD0\xA2",
                           kCyrN = "\xD0\x9D";

std::string TwoDigitNumber(int n) {
  std::string s = std::to_string(n);
  return s.size() < 2 ? "0" + s : s;
}

// Cuts a part to the bytes a file name may have (UTF-8), at a character
// boundary, keeping what follows its last '.' when keepSuffix (the file name
// itself, with its extension, which also needs room for the partial suffix).
std::string FitPart(const std::string& part, bool keepSuffix) {
  const std::size_t maxBytes =
      keepSuffix ? kMaxFileNameBytes - std::strlen(kPartialSuffix) : kMaxFileNameBytes;
  if (part.size() <= maxBytes) return part;
  std::string suffix;
  std::string stem = part;
  if (keepSuffix) {
    auto dot = part.rfind('.');
    if (dot != std::string::npos && part.size() - dot <= 8) {
      suffix = part.substr(dot);
      stem = part.substr(0, dot);
    }
  }
  while (!stem.empty() && stem.size() + suffix.size() > maxBytes) PopUtf8(stem);
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
  // One less than the track's number (0 for track 1), on a disc numbered
  // from another track too; the hidden track before track 1 (track 0) is
  // "00", apart from track 1's "0".
  if (s.NameHasNumber) {
    const int number = TrackNumberOfRow(in.Album, i);
    r += (number == 0 ? std::string("00") : std::to_string(number - 1)) + " - ";
  }
  if (s.NameHasArtist) r += n.Artist + " - ";
  if (withAlbum && s.NameHasAlbum) r += n.Album + " - ";
  if (s.NameHasTitle) r += n.Title;
  if (!r.empty() && r.back() == ' ') r.pop_back();
  r += OutputExtension(s.OutputKind);
  return r;
}

}  // namespace

const char* OutputExtension(int outputKind) {
  return FormatForValue(outputKind).extension;
}

TrackNames NamesOfTrack(const NamingInput& in, int i) {
  TrackNames n;
  const AlbumRecord& a = in.Album;
  const RecordTexts noTexts;
  const RecordTexts& albumTexts = in.AlbumTexts ? *in.AlbumTexts : noTexts;
  TrackTags tag;
  bool fromTag = false;
  if (a.Compilation) {
    tag = in.Tags.GetTags(i, a.TrackCount);
    fromTag = tag.On();
  }
  if (fromTag) {
    n.Artist = tag.Get(TagField::Artist);
    n.Album = tag.Get(TagField::Album);
    n.Title = tag.Get(TagField::Title);
  } else {
    n.Artist = AlbumText(a, albumTexts, AlbumField::Artist);
    n.Album = AlbumText(a, albumTexts, AlbumField::AlbumTitle);
    n.Title = TrackTitleText(a, albumTexts, i);
  }
  if (n.Artist.empty()) n.Artist = "Неиз.Исполнитель";
  if (n.Album.empty()) n.Album = "Неиз.Альбом";
  if (n.Title.empty()) n.Title = "Track" + std::to_string(TrackNumberOfRow(a, i));
  if (fromTag) {
    n.Year = tag.Get(TagField::Year);
    n.Genre = tag.Get(TagField::Genre);
  }
  if (n.Year.empty()) n.Year = AlbumText(a, albumTexts, AlbumField::Year);
  if (n.Genre.empty()) n.Genre = AlbumText(a, albumTexts, AlbumField::Genre);
  const std::string* disc = albumTexts.Find("DiscNumber");
  n.Disc = disc != nullptr && !disc->empty() ? *disc : std::string("1");
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
    const std::string_view p = piece;
    auto code = [&p](char latin, std::string_view cyrillic) {
      if (p[0] == latin) return std::size_t{1};
      return p.substr(0, cyrillic.size()) == cyrillic ? cyrillic.size() : std::size_t{0};
    };
    std::size_t len = 0;
    if ((len = code('A', kCyrA)) != 0) {
      result += n.Artist + piece.substr(len);
    } else if ((len = code('D', kCyrD)) != 0) {
      result += n.Album + piece.substr(len);
    } else if ((len = code('T', kCyrT)) != 0) {
      result += n.Title + piece.substr(len);
    } else if ((len = code('N', kCyrN)) != 0) {
      result += TwoDigitNumber(TrackNumberOfRow(in.Album, i)) + piece.substr(len);
    } else if (p[0] == 'Y') {
      result += n.Year + piece.substr(1);
    } else if (p[0] == 'G') {
      result += n.Genre + piece.substr(1);
    } else if (p[0] == 'd') {
      result += n.Disc + piece.substr(1);
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

std::string FitFileName(const std::string& name) { return FitPart(name, true); }

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

std::string FormatFromCommandLine(std::string_view format) {
  std::string s(format);
  for (char& c : s)
    if (c == '/') c = '\\';
  return s;
}

std::string ToNativePath(std::string_view namingPath) {
  std::string s(namingPath);
  for (char& c : s)
    if (c == '\\') c = '/';
  return s;
}

std::string ToNamingPath(std::string_view nativePath) {
  std::string s(nativePath);
  for (char& c : s)
    if (c == '/') c = '\\';
  return s;
}

std::string OutputFolderText(const SettingsRecord& s, const RecordTexts* texts) {
  const RecordTexts none;
  return SettingsText(s, texts ? *texts : none, SettingsField::OutputFolder);
}

std::string OutputFolderForNaming(const SettingsRecord& s, const RecordTexts* texts) {
  std::string folder = OutputFolderText(s, texts);
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
  std::string folder = OutputFolderForNaming(s, in.SettingsTexts);
  std::string r;
  if (s.UseFormatString) {
    const RecordTexts none;
    const std::string format =
        SettingsText(s, in.SettingsTexts ? *in.SettingsTexts : none, SettingsField::FormatString);
    r = ExpandFormat(format, i, in) + OutputExtension(s.OutputKind);
  } else {
    // The limit counts characters.
    r = FixedSchemeName(i, in, true);
    if (CharacterCount(r) > kMaxRelativeLength) r = FixedSchemeName(i, in, false);
    if (CharacterCount(r) > kMaxRelativeLength) {
      // Still too long: shorten the file name itself, keeping its extension.
      std::string ext = OutputExtension(s.OutputKind);
      std::size_t keep = kMaxRelativeLength - ext.size();
      r = CutToCharacters(r, keep);
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
  while (!DirectoryExists(ToNativePath(OutputFolderForNaming(in.Settings, in.SettingsTexts)))) {
    std::string folder = OutputFolderText(in.Settings, in.SettingsTexts);
    if (!folderMissing || !folderMissing(folder)) return {};
  }
  return OutputFolderForNaming(in.Settings, in.SettingsTexts) + RelativeOutputName(i, in);
}

}  // namespace sonarvex

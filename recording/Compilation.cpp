#include "recording/Compilation.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "codec/WavFile.h"
#include "codec/WavSourceReader.h"
#include "records/CueSheet.h"
#include "platform/Cp1251.h"
#include "platform/Dialogs.h"
#include "platform/Files.h"
#include "platform/SafeFile.h"
#include "recording/Recorder.h"
#include "recording/TrackSource.h"

namespace sonarvex {

namespace {

std::string FolderOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}
std::string NameOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}
std::string Lower(std::string s) {
  return Cp1251ToUtf8(Cp1251Lower(Utf8ToCp1251(s)));
}

constexpr std::size_t kMaxCueBytes = 1 << 20;
// The most PCM a WAV file's 32-bit sizes can describe.
constexpr std::uint64_t kMaxWavData = 0xFFFFFFFFull - 40;

std::string UpperAscii(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// The lines of a text as the cue sheet parser counts them (LF, CR LF or a lone CR).
std::vector<std::string_view> CueLines(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t pos = 0;
  while (pos <= text.size()) {
    std::size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) end = text.size();
    lines.push_back(text.substr(pos, end - pos));
    pos = end + 1;
    if (end < text.size() && text[end] == '\r' && pos < text.size() && text[pos] == '\n') ++pos;
  }
  return lines;
}

bool ParseLba(std::string_view s, std::int32_t* out) {
  if (s.empty() || s.size() > 7) return false;
  std::int32_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  *out = v;
  return true;
}

// "mm:ss:ff" in sectors.
bool ParseCueTime(std::string_view s, std::int32_t* out) {
  const auto a = s.find(':');
  const auto b = a == std::string_view::npos ? a : s.find(':', a + 1);
  std::int32_t m, sec, f;
  if (b == std::string_view::npos || !ParseLba(s.substr(0, a), &m) || m > 999 ||
      !ParseLba(s.substr(a + 1, b - a - 1), &sec) || sec > 59 || !ParseLba(s.substr(b + 1), &f) || f > 74)
    return false;
  *out = m * 4500 + sec * 75 + f;
  return true;
}

std::string CueLine(int line) { return "строка " + std::to_string(line) + " CUE-файла"; }
std::string Guillemets(const std::string& name) { return "«" + name + "»"; }

// A sentence as a clause after a colon: its first letter small (Russian or
// Latin), without its final full stop.
std::string Clause(std::string text) {
  if (!text.empty() && text.back() == '.') text.pop_back();
  if (text.size() >= 2 && static_cast<unsigned char>(text[0]) == 0xD0) {
    const auto c = static_cast<unsigned char>(text[1]);
    if (c >= 0x90 && c <= 0x9F) text[1] = static_cast<char>(c + 0x20);  // А..П
    else if (c >= 0xA0 && c <= 0xAF) text[0] = static_cast<char>(0xD1), text[1] = static_cast<char>(c - 0x20);  // Р..Я
  } else if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z') {
    text[0] = static_cast<char>(text[0] + 32);
  }
  return text;
}

// The file kind a cue sheet's file has by its first bytes.
enum class Sniffed { Wave, Flac, Other };
Sniffed SniffAudio(int fd) {
  unsigned char head[12] = {};
  ssize_t r;
  do {
    r = ::pread(fd, head, sizeof head, 0);
  } while (r < 0 && errno == EINTR);
  if (r >= 12 && std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "WAVE", 4) == 0) return Sniffed::Wave;
  if (r >= 4 && (std::memcmp(head, "fLaC", 4) == 0 || std::memcmp(head, "ID3", 3) == 0)) return Sniffed::Flac;
  return Sniffed::Other;
}

// Where a file being made in the temporary folder is written until it is whole.
std::string PartialName(const std::string& target) {
  return FolderOf(target) + "." + NameOf(target) + ".part";
}

}  // namespace

bool IsCueSheetPath(const std::string& path) {
  return path.size() > 4 && UpperAscii(path.substr(path.size() - 4)) == ".CUE";
}

namespace {

// A sheet of audio files as the disc image parser reads it, with the line
// numbers of its FILE and TRACK lines and the data tracks of its REM lines.
struct ParsedAudioCue {
  CueSheet sheet;
  std::vector<int> fileLines, trackLines;
  std::vector<AudioCueDataTrack> dataTracks;
  std::int32_t dataTrackLength = -1;
};

std::optional<ParsedAudioCue> ParseAudioCue(const std::string& path, std::string* error) {
  auto fail = [&](std::string why) -> std::optional<ParsedAudioCue> {
    if (error) *error = std::move(why);
    return std::nullopt;
  };
  std::string problem;
  auto bytes = ReadFileBytes(path, kMaxCueBytes + 1, &problem);
  if (!bytes) return fail(problem.empty() ? "нет файла '" + path + "'" : problem);
  std::string_view raw = *bytes;
  if (raw.size() >= 3 && raw.substr(0, 3) == "\xEF\xBB\xBF") raw.remove_prefix(3);
  // Sheets written by programs of the Windows era are in code page 1251.
  const std::string text = IsAscii(raw) || IsNonAsciiUtf8(raw) ? std::string(raw) : Cp1251ToUtf8(raw);

  // The disc image parser knows BINARY files only: the audio files' lines are
  // handed to it as such (the layout it checks is the same), and what it
  // leaves aside (the REM lines of data tracks) is read here.
  ParsedAudioCue out;
  std::string forParser;
  int lineNo = 0;
  for (std::string_view line : CueLines(text)) {
    ++lineNo;
    const auto w = CueLineWords(line);
    const std::string cmd = w.empty() ? std::string() : UpperAscii(w[0]);
    if (cmd == "FILE" && w.size() >= 3 && !w[1].empty()) {
      const std::string type = UpperAscii(w[2]);
      if (type != "WAVE" && type != "FLAC")
        return fail(CueLine(lineNo) + ": файлы типа " + w[2] + " не читаются (только WAVE и FLAC)");
      out.fileLines.push_back(lineNo);
      forParser += "FILE \"" + w[1] + "\" BINARY\n";
      continue;
    }
    if (cmd == "TRACK") out.trackLines.push_back(lineNo);
    if (cmd == "REM" && w.size() >= 2 && UpperAscii(w[1]) == "DATATRACK") {
      AudioCueDataTrack d;
      std::int32_t number = 0;
      if (w.size() != 7 || !ParseLba(w[2], &number) || number < 1 || number > 99 ||
          UpperAscii(w[3]) != "START" || !ParseLba(w[4], &d.start) || UpperAscii(w[5]) != "END" ||
          !ParseLba(w[6], &d.end) || d.end <= d.start)
        return fail(CueLine(lineNo) + ": неверная строка REM DATATRACK (нужно REM DATATRACK NN START LBA END LBA)");
      d.number = number;
      d.line = lineNo;
      out.dataTracks.push_back(d);
    } else if (cmd == "REM" && w.size() >= 2 && UpperAscii(w[1]) == "DATATRACKLENGTH") {
      if (w.size() != 3 || !ParseCueTime(w[2], &out.dataTrackLength) || out.dataTrackLength == 0)
        return fail(CueLine(lineNo) + ": неверная строка REM DATATRACKLENGTH (нужно mm:ss:ff)");
    }
    forParser.append(line.data(), line.size());
    forParser += '\n';
  }
  std::string parseError;
  auto sheet = ParseCueSheet(forParser, &parseError);
  if (!sheet) return fail(parseError);
  out.sheet = std::move(*sheet);
  if (out.fileLines.size() != out.sheet.files.size() || out.trackLines.size() != out.sheet.tracks.size())
    return fail("CUE-файл не разобран");  // cannot happen: both count the same lines
  for (std::size_t k = 0; k < out.sheet.tracks.size(); ++k)
    if (!out.sheet.tracks[k].audio)
      return fail(CueLine(out.trackLines[k]) + ": дорожка " + std::to_string(out.sheet.tracks[k].number) +
                  " с данными; читаются только звуковые дорожки");
  return out;
}

// A sheet's file: where it is and what it holds by its first bytes; the
// reason ("строка N CUE-файла: ...") when it cannot be used.
bool OpenListedAudio(const std::string& folder, const std::string& name, int line, std::string* path,
                     AudioCueTrack::Kind* kind, std::string* why) {
  std::string ambiguity;
  if (!ResolveListedFile(folder, name, path, &ambiguity)) {
    *why = CueLine(line) + ": " + ambiguity;
    return false;
  }
  // Only a regular file: anything else is not even opened (and a file
  // that turns into something else meanwhile is refused without waiting
  // on it).
  struct stat st {};
  if (::stat(path->c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    *why = CueLine(line) + ": " + Guillemets(name) + " не является обычным файлом";
    return false;
  }
  const int fd = OpenRegularFile(*path);
  if (fd < 0) {
    const int err = errno;
    if (err == ENOENT) *why = CueLine(line) + ": нет файла " + Guillemets(name);
    else if (err == EINVAL) *why = CueLine(line) + ": " + Guillemets(name) + " не является обычным файлом";
    else *why = CueLine(line) + ": не удалось открыть файл " + Guillemets(name) + ": " + std::strerror(err);
    return false;
  }
  const Sniffed sniffed = SniffAudio(fd);
  ::close(fd);
  if (sniffed == Sniffed::Other) {
    *why = CueLine(line) + ": файл " + Guillemets(name) + " не является файлом WAV или FLAC";
    return false;
  }
  *kind = sniffed == Sniffed::Wave ? AudioCueTrack::Kind::Wave : AudioCueTrack::Kind::Flac;
  return true;
}

// A data track given by a REM line that the sheet also has as a track.
bool DataTrackTwice(const std::vector<AudioCueDataTrack>& data, const std::vector<CueImageTrack>& tracks,
                    std::string* why) {
  for (const AudioCueDataTrack& d : data)
    for (const CueImageTrack& t : tracks)
      if (t.number == d.number) {
        *why = CueLine(d.line) + ": дорожка " + std::to_string(d.number) + " уже есть в CUE-файле";
        return true;
      }
  return false;
}

}  // namespace

std::optional<AudioCueSheet> ReadAudioCueSheet(const std::string& path, std::string* error) {
  auto fail = [&](std::string why) -> std::optional<AudioCueSheet> {
    if (error) *error = std::move(why);
    return std::nullopt;
  };
  std::string why;
  const auto parsed = ParseAudioCue(path, &why);
  if (!parsed) return fail(why);
  const CueSheet* sheet = &parsed->sheet;
  const std::vector<int>& fileLines = parsed->fileLines;
  const std::vector<int>& trackLines = parsed->trackLines;
  AudioCueSheet out;
  out.dataTracks = parsed->dataTracks;
  out.dataTrackLength = parsed->dataTrackLength;
  out.catalog = sheet->catalog;
  out.title = sheet->title;
  out.performer = sheet->performer;

  // One file a track: each file holds exactly one INDEX 01.
  const std::size_t fileCount = sheet->files.size();
  std::vector<int> starting(fileCount, -1);
  for (std::size_t k = 0; k < sheet->tracks.size(); ++k) {
    const auto& t = sheet->tracks[k];
    const auto f = static_cast<std::size_t>(t.file);
    if (starting[f] >= 0)
      return fail(CueLine(fileLines[f]) + ": в файле " + Guillemets(sheet->files[f].name) +
                  " начинается больше одной дорожки; читаются CUE-файлы с отдельным файлом для каждой дорожки");
    starting[f] = static_cast<int>(k);
  }
  // A first file that holds only the first track's INDEX 00, at its start:
  // the track's pregap audio (a hidden track before INDEX 01).
  const bool lead = fileCount >= 2 && starting[0] < 0 && !sheet->tracks.empty() &&
                    sheet->tracks[0].file == 1 && sheet->tracks[0].index0File == 0 &&
                    sheet->tracks[0].index0 == 0 && sheet->tracks[0].pregap == 0;
  for (std::size_t f = lead ? 1 : 0; f < fileCount; ++f)
    if (starting[f] < 0)
      return fail(CueLine(fileLines[f]) + ": в файле " + Guillemets(sheet->files[f].name) +
                  " не начинается ни одна дорожка (нет INDEX 01)");

  const std::string folder = FolderOf(path);
  for (std::size_t k = 0; k < sheet->tracks.size(); ++k) {
    const auto& t = sheet->tracks[k];
    const auto f = static_cast<std::size_t>(t.file);
    AudioCueTrack a;
    a.number = t.number;
    a.name = sheet->files[f].name;
    a.fileLine = fileLines[f];
    a.trackLine = trackLines[k];
    a.index1 = t.index1;
    if (!(k == 0 && lead) && t.index0 >= 0 && t.index0File >= 0 && t.index0File < t.file) {
      if (t.index0File != t.file - 1 || k == 0 || sheet->tracks[k - 1].file != t.index0File)
        return fail(CueLine(trackLines[k]) + ": INDEX 00 дорожки " + std::to_string(t.number) +
                    " лежит не в файле предыдущей дорожки");
      a.index0InPrevious = t.index0;
    }
    for (const CueIndexMark& i : t.indices) {
      if (i.file != t.file) {
        char name[16];
        std::snprintf(name, sizeof name, "INDEX %02d", i.number);
        return fail(CueLine(trackLines[k]) + ": " + name + " дорожки " + std::to_string(t.number) +
                    " лежит не в файле её INDEX 01");
      }
      a.indices.push_back(i.frames);
    }
    a.pregap = t.pregap;
    a.postgap = t.postgap;
    a.title = t.title;
    a.performer = t.performer;
    a.isrc = t.isrc;
    if (k == 0 && lead) {
      a.index0InPrevious = -1;
      a.leadName = sheet->files[0].name;
      a.leadLine = fileLines[0];
      if (!OpenListedAudio(folder, a.leadName, a.leadLine, &a.leadPath, &a.leadKind, &why)) return fail(why);
    }
    if (!OpenListedAudio(folder, a.name, a.fileLine, &a.path, &a.kind, &why)) return fail(why);
    out.tracks.push_back(std::move(a));
  }
  if (DataTrackTwice(out.dataTracks, sheet->tracks, &why)) return fail(why);
  return out;
}

std::optional<AudioCueLayout> ReadAudioCueLayout(const std::string& path, std::string* error) {
  auto fail = [&](std::string why) -> std::optional<AudioCueLayout> {
    if (error) *error = std::move(why);
    return std::nullopt;
  };
  std::string why;
  const auto parsed = ParseAudioCue(path, &why);
  if (!parsed) return fail(why);
  AudioCueLayout out;
  out.dataTracks = parsed->dataTracks;
  out.dataTrackLength = parsed->dataTrackLength;
  const std::string folder = FolderOf(path);
  for (std::size_t f = 0; f < parsed->sheet.files.size(); ++f) {
    AudioCueFile file;
    file.name = parsed->sheet.files[f].name;
    file.line = parsed->fileLines[f];
    if (!OpenListedAudio(folder, file.name, file.line, &file.path, &file.kind, &why)) return fail(why);
    out.files.push_back(std::move(file));
  }
  for (std::size_t k = 0; k < parsed->sheet.tracks.size(); ++k) {
    const CueImageTrack& t = parsed->sheet.tracks[k];
    AudioCueLayoutTrack a;
    a.number = t.number;
    a.trackLine = parsed->trackLines[k];
    a.file = t.file;
    a.index1 = t.index1;
    if (t.index0 >= 0) {
      a.index0File = t.index0File;
      a.index0 = t.index0;
    }
    a.pregap = t.pregap;
    a.postgap = t.postgap;
    out.tracks.push_back(a);
  }
  if (DataTrackTwice(out.dataTracks, parsed->sheet.tracks, &why)) return fail(why);
  return out;
}

std::string SectorTimeText(std::uint32_t sectors) {
  char s[32];
  std::snprintf(s, sizeof s, "%02u:%02u:%02u", sectors / 4500, (sectors / 75) % 60, sectors % 75);
  return s;
}

std::string MegabyteText(std::uint64_t bytes) {
  char s[48];
  // Locale-independent: %f with the C locale's point.
  const double mb = static_cast<double>(bytes) / 1048576.0;
  const auto hundredths = static_cast<std::uint64_t>(mb * 100.0 + 0.5);
  std::snprintf(s, sizeof s, "%llu.%02llu Мб", static_cast<unsigned long long>(hundredths / 100),
                static_cast<unsigned long long>(hundredths % 100));
  return s;
}

Compilation::Compilation(std::string tempFolder, Dialogs& dialogs)
    : tempFolder_(std::move(tempFolder)), dialogs_(dialogs) {
  if (!tempFolder_.empty() && tempFolder_.back() != '/') tempFolder_ += '/';
}

std::vector<std::string> Compilation::Paths() const {
  std::vector<std::string> p;
  for (const auto& r : rows_) p.push_back(r.Path());
  return p;
}

std::vector<TrackGaps> Compilation::Gaps() const {
  std::vector<TrackGaps> g;
  for (const auto& r : rows_) g.push_back(r.gaps);
  return g;
}

std::string Compilation::FreeTempName(const std::string& name) const {
  // Two sources of one name from different folders get different names.
  std::string target = tempFolder_ + name;
  for (int n = 2; FileExists(target) || FileExists(PartialName(target)); ++n) {
    const auto dot = name.find_last_of('.');
    const std::string stem = dot == std::string::npos ? name : name.substr(0, dot);
    const std::string ext = dot == std::string::npos ? "" : name.substr(dot);
    target = tempFolder_ + stem + " (" + std::to_string(n) + ")" + ext;
  }
  return target;
}

Compilation::Prepared Compilation::PrepareWav(const std::string& path, bool skipCompressed,
                                              CompilationRow& row) {
  if (!tempFolder_.empty() && Lower(FolderOf(path)) == Lower(tempFolder_)) return Prepared::InTempFolder;
  WavSourceReader reader;
  const int result = reader.Open(path, false);
  std::string used = path;
  if (result == WavSourceReader::kNeedsConversion && reader.IsOpen()) {
    if (skipCompressed) return Prepared::Skipped;
    MakeDirectories(tempFolder_);
    // Written under a partial name and renamed when whole: a converted file
    // under its final name is always complete.
    const std::string target = FreeTempName(NameOf(path));
    const std::string partial = PartialName(target);
    reader.SetConvertedFileName(partial);
    if (!reader.ConvertToCd(nullptr, false) || ::rename(partial.c_str(), target.c_str()) != 0) {
      reader.Close();
      ::unlink(partial.c_str());
      return Prepared::ConversionFailed;
    }
    converted_.push_back(target);
    used = target;
  } else if (result == WavSourceReader::kCannotOpen) {
    return Prepared::CannotOpen;
  } else if (result == WavSourceReader::kNotWave) {
    return Prepared::NotWave;
  } else if (result != WavSourceReader::kUsable) {
    return Prepared::NotUsable;
  }
  row = CompilationRow{};
  row.folder = FolderOf(used);
  row.name = NameOf(used);
  row.bytes = reader.DataByteCount();
  return Prepared::Ok;
}

bool Compilation::AddFile(const std::string& path, bool skipCompressed) {
  const TrackSourceKind kind = SniffTrackSource(path);
  if (kind == TrackSourceKind::Flac || kind == TrackSourceKind::Mp3 || kind == TrackSourceKind::Media) {
    if (!tempFolder_.empty() && Lower(FolderOf(path)) == Lower(tempFolder_)) return false;
    // Listed as it is: its length from its headers, decoded while writing.
    std::string why;
    const auto source = TrackSource::Open(path, decoderFolder_, &why);
    if (source && source->Bytes() > kMaxWavData)
      why = "Файл '" + path + "' длиннее, чем можно записать на диск.";
    if (!source || !why.empty()) {
      dialogs_.Message(why, kProgramTitle, MsgIcon::Warning, MsgButtons::Ok);
      return false;
    }
    CompilationRow row;
    row.folder = FolderOf(path);
    row.name = NameOf(path);
    row.bytes = static_cast<std::uint32_t>(source->Bytes());
    rows_.push_back(std::move(row));
    return true;
  }
  CompilationRow row;
  const Prepared p = PrepareWav(path, skipCompressed, row);
  if (p == Prepared::ConversionFailed)
    dialogs_.Message("Произошла ошибка при конвертировании файла " + path, kProgramTitle, MsgIcon::Warning,
                     MsgButtons::Ok);
  if (p == Prepared::NotWave && IsCompilationAudioName(path)) {
    // A file named as audio that holds none the disc can be written from:
    // said, not silently left out (other files are passed over, as a
    // project's cue sheet is).
    std::string why;
    TrackSource::Open(path, decoderFolder_, &why);
    if (!why.empty()) dialogs_.Message(why, kProgramTitle, MsgIcon::Warning, MsgButtons::Ok);
  }
  if (p != Prepared::Ok) return false;
  // Another file joins: the disc is no longer the release the catalogue
  // number names (and an empty list has no album of its own).
  if (rows_.empty()) disc_ = DiscTexts{};
  else disc_.catalog.clear();
  rows_.push_back(std::move(row));
  return true;
}

bool Compilation::JoinWav(const CompilationRow& lead, CompilationRow& row, std::string* why) {
  const std::uint64_t bytes = std::uint64_t{lead.bytes} + row.bytes;
  if (bytes > kMaxWavData) {
    *why = "звук файлов " + Guillemets(lead.name) + " и " + Guillemets(row.name) + " длиннее, чем вмещает файл WAV";
    return false;
  }
  MakeDirectories(tempFolder_);
  const std::string target = FreeTempName(row.name);
  const std::string partial = PartialName(target);
  RemoveForReplacement(partial);
  OutputFile out;
  WriteResult r = out.Create(partial);
  std::uint8_t header[kWavHeaderSize];
  BuildWavHeader(header, static_cast<std::uint32_t>(bytes), CdAudioFormat);
  if (r) r = out.Write(header, sizeof header);
  for (const CompilationRow* piece : {&lead, static_cast<const CompilationRow*>(&row)}) {
    if (!r) break;
    // A CD-audio WAV file or a FLAC file, decoded here (and checked whole).
    std::string problem;
    const auto reader = TrackSource::Open(piece->Path(), decoderFolder_, &problem);
    if (!reader) {
      r = WriteResult::Failure(problem.empty() ? "не удалось прочитать файл " + Guillemets(piece->Path()) : problem);
      break;
    }
    std::vector<std::uint8_t> buffer(64 * 2352);
    std::uint64_t left = piece->bytes;
    while (r && left > 0) {
      std::uint32_t got = 0;
      const auto want = static_cast<std::uint32_t>(std::min<std::uint64_t>(left, buffer.size()));
      if (!reader->Read(buffer.data(), want, &got) || got == 0) {
        r = WriteResult::Failure(reader->Error().empty() ? "не удалось прочитать файл " + Guillemets(piece->Path())
                                                         : reader->Error());
        break;
      }
      r = out.Write(buffer.data(), got);
      left -= got;
    }
    if (r && !reader->Finish()) r = WriteResult::Failure(reader->Error());
  }
  if (r) r = out.Finish();
  else out.Abort();
  if (r && ::rename(partial.c_str(), target.c_str()) != 0) {
    r = WriteResult::Failure(CreateFailureText(target, errno));
    ::unlink(partial.c_str());
  }
  if (!r) {
    ::unlink(partial.c_str());
    *why = Clause(r.message);
    return false;
  }
  converted_.push_back(target);
  row.folder = FolderOf(target);
  row.name = NameOf(target);
  row.bytes = static_cast<std::uint32_t>(bytes);
  return true;
}

bool Compilation::AddCueSheet(const std::string& path, bool skipCompressed) {
  const std::size_t convertedBefore = converted_.size();
  auto refuse = [&](const std::string& why) {
    // What was converted for this sheet goes again.
    for (std::size_t i = convertedBefore; i < converted_.size(); ++i) std::remove(converted_[i].c_str());
    converted_.resize(convertedBefore);
    dialogs_.Message("CUE-файл '" + path + "' не загружен: " + why + ".", kProgramTitle, MsgIcon::Warning,
                     MsgButtons::Ok);
    return false;
  };
  std::string error;
  const auto sheet = ReadAudioCueSheet(path, &error);
  if (!sheet) return refuse(error);
  std::vector<CompilationRow> rows;
  // One of the sheet's files as a CD-audio WAV file.
  auto prepare = [&](const std::string& path, const std::string& name, AudioCueTrack::Kind kind, int line,
                     CompilationRow& row) -> std::string {
    const std::string where = CueLine(line) + ": ";
    if (kind == AudioCueTrack::Kind::Flac) {
      // Listed as it is, its length from its STREAMINFO block: it is decoded
      // (and its MD5 signature checked) while the disc is written.
      if (SniffTrackSource(path) != TrackSourceKind::Flac)
        return where + "файл " + Guillemets(name) + " не является файлом FLAC";
      std::string why;
      const auto source = TrackSource::Open(path, decoderFolder_, &why);
      if (!source) return where + Clause(why);
      if (source->Bytes() > kMaxWavData)
        return where + "звук файла " + Guillemets(name) + " длиннее, чем можно записать на диск";
      row = CompilationRow{};
      row.folder = FolderOf(path);
      row.name = NameOf(path);
      row.bytes = static_cast<std::uint32_t>(source->Bytes());
      return {};
    }
    switch (PrepareWav(path, skipCompressed, row)) {
      case Prepared::Ok: return {};
      case Prepared::InTempFolder: return where + "файл " + Guillemets(name) + " лежит во временной папке записи";
      case Prepared::CannotOpen: return where + "не удалось открыть файл " + Guillemets(name);
      case Prepared::NotWave: return where + "файл " + Guillemets(name) + " не является файлом WAV";
      case Prepared::NotUsable: return where + "в файле " + Guillemets(name) + " нет звука, который можно записать";
      case Prepared::Skipped:
        return where + "файл " + Guillemets(name) +
               " не в формате CD, а сжатые WAV файлы пропускаются (настройки записи)";
      case Prepared::ConversionFailed:
        return where + "не удалось преобразовать файл " + Guillemets(name) + " в формат CD";
    }
    return where + "файл " + Guillemets(name) + " не прочитан";
  };
  std::int32_t leadSectors = 0;
  for (const AudioCueTrack& t : sheet->tracks) {
    CompilationRow row;
    if (std::string why = prepare(t.path, t.name, t.kind, t.fileLine, row); !why.empty()) return refuse(why);
    if (!t.leadName.empty()) {
      // The file before the first track's holds its pregap: the two are
      // joined, INDEX 01 where the first one ends.
      CompilationRow lead;
      if (std::string why = prepare(t.leadPath, t.leadName, t.leadKind, t.leadLine, lead); !why.empty())
        return refuse(why);
      leadSectors = static_cast<std::int32_t>(lead.bytes / 2352);
      if (lead.bytes % 2352 != 0)
        return refuse(CueLine(t.leadLine) + ": звук файла " + Guillemets(t.leadName) +
                      " не делится на целые секторы");
      if (std::string why; !JoinWav(lead, row, &why)) return refuse(CueLine(t.leadLine) + ": " + why);
    }
    row.title = t.title;
    row.performer = t.performer;
    row.isrc = t.isrc;
    rows.push_back(std::move(row));
  }
  // The sheet's marks, checked against the audio the files hold: the disc
  // is laid out as the recording will lay it out.
  std::vector<std::string> paths;
  std::vector<std::int32_t> sectors;
  std::vector<TrackGaps> gaps;
  for (std::size_t k = 0; k < rows.size(); ++k) {
    const AudioCueTrack& t = sheet->tracks[k];
    TrackGaps& g = rows[k].gaps;
    g.pregap = t.pregap;
    g.index1 = t.index1 + (k == 0 ? leadSectors : 0);
    g.indices = t.indices;
    if (k == 0)
      for (std::int32_t& i : g.indices) i += leadSectors;
    g.postgap = t.postgap;
    if (t.index0InPrevious >= 0 && k > 0) {
      // Sectors of the file the sheet names before (track 1's row also
      // holds the hidden track joined in front of its file).
      const std::int32_t before = static_cast<std::int32_t>(rows[k - 1].bytes / 2352) - (k == 1 ? leadSectors : 0);
      if (t.index0InPrevious > before)
        return refuse(CueLine(t.trackLine) + ": INDEX 00 дорожки " + std::to_string(t.number) +
                      " лежит за концом файла " + Guillemets(sheet->tracks[k - 1].name));
      g.previousFile = rows[k - 1].Path();
      g.previousTail = before - t.index0InPrevious;
    }
    paths.push_back(rows[k].Path());
    sectors.push_back(static_cast<std::int32_t>(rows[k].bytes / 2352));
    gaps.push_back(g);
  }
  Recorder::DiscPlan plan;
  std::string why;
  int file = 0;
  if (!Recorder::PlanDisc(paths, sectors, gaps, plan, &why, &file)) {
    const AudioCueTrack& t = sheet->tracks[static_cast<std::size_t>(file)];
    return refuse(CueLine(t.trackLine) + ": " + why + " (файл " + Guillemets(t.name) + ")");
  }
  if (rows_.empty()) {
    disc_.catalog = sheet->catalog;
    disc_.title = sheet->title;
    disc_.performer = sheet->performer;
  } else {
    disc_.catalog.clear();
  }
  rows_.insert(rows_.end(), rows.begin(), rows.end());
  return true;
}

DiscTexts Compilation::Texts() const {
  DiscTexts t = disc_;
  if (rows_.empty()) t = DiscTexts{};
  for (const auto& r : rows_) t.tracks.push_back(DiscTexts::Track{r.title, r.performer, r.isrc});
  return t;
}

int Compilation::AddFolder(const std::string& folder, bool skipCompressed) {
  std::string base = folder;
  if (base.empty() || base.back() != '/') base += '/';
  DIR* dir = opendir(base.c_str());
  if (!dir) return 0;
  std::vector<std::string> names;
  while (dirent* e = readdir(dir)) names.emplace_back(e->d_name);
  closedir(dir);
  std::sort(names.begin(), names.end());
  int added = 0;
  for (const auto& name : names) {
    if (name == "." || name == "..") continue;
    const std::string path = base + name;
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      if (name[0] != '.') added += AddFolder(path, skipCompressed);
      continue;
    }
    if (IsCompilationAudioName(name) && AddFile(path, skipCompressed)) ++added;
  }
  return added;
}

void Compilation::Remove(int row) {
  if (row >= 0 && row < static_cast<int>(rows_.size())) rows_.erase(rows_.begin() + row);
  if (rows_.empty()) disc_ = DiscTexts{};
}

int Compilation::Move(int from, int to) {
  const int n = static_cast<int>(rows_.size());
  if (from < 0 || from >= n || to < 0 || to >= n || from == to) return from;
  CompilationRow row = rows_[static_cast<std::size_t>(from)];
  const bool last = to == n - 1;
  rows_.erase(rows_.begin() + from);
  if (last) {
    rows_.push_back(std::move(row));
    return n - 1;
  }
  const int at = from < to ? to - 1 : to;
  rows_.insert(rows_.begin() + at, std::move(row));
  return at;
}

std::uint64_t Compilation::TotalBytes() const {
  std::uint64_t total = 0;
  for (const auto& r : rows_) total += r.bytes;
  return total;
}

std::string Compilation::SizePanelText() const { return "Размер " + MegabyteText(TotalBytes()); }
std::string Compilation::TimePanelText() const { return "Время " + SectorTimeText(TotalSectors()); }
std::string Compilation::FilePanelText() const { return "Файлов " + std::to_string(rows_.size()); }

void Compilation::DeleteConverted() {
  for (const auto& f : converted_) std::remove(f.c_str());
  converted_.clear();
  if (!tempFolder_.empty()) RemoveEmptyDirectory(tempFolder_);
}

RecordingSettings LoadRecordingSettings(const std::string& settingFolder) {
  RecordingSettings s = DefaultRecordingSettings();
  auto bytes = ReadFileBytes(JoinPath(settingFolder, kRecordingSettingsName), 4096);
  if (bytes && bytes->size() == sizeof s) {
    std::memcpy(&s, bytes->data(), sizeof s);
    s.SoundFile[sizeof s.SoundFile - 1] = '\0';
  }
  return s;
}

bool SaveRecordingSettings(const std::string& settingFolder, const RecordingSettings& settings,
                           Dialogs& dialogs) {
  const bool ok = MakeDirectories(settingFolder) &&
                  WriteFileAtomically(JoinPath(settingFolder, kRecordingSettingsName),
                                      std::string_view(reinterpret_cast<const char*>(&settings), sizeof settings));
  if (!ok) dialogs.Message("Не могу сохранить настройки!!!", kProgramTitle, MsgIcon::Warning, MsgButtons::Ok);
  return ok;
}

bool SaveProject(const std::string& path, const std::vector<std::string>& files) {
  std::string text;
  for (const auto& f : files) text += f + "\n";
  return WriteFileAtomically(path, text);
}

std::optional<std::vector<std::string>> LoadProject(const std::string& path) {
  auto text = ReadFileBytes(path, 16u << 20);
  if (!text) return std::nullopt;
  std::vector<std::string> lines;
  std::size_t pos = 0;
  while (pos < text->size()) {
    std::size_t end = text->find('\n', pos);
    if (end == std::string::npos) end = text->size();
    std::string line = text->substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) lines.push_back(std::move(line));
    pos = end + 1;
  }
  return lines;
}

}  // namespace sonarvex

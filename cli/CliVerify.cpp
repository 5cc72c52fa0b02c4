#include "cli/CliVerify.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>

#include "accuraterip/AccurateRip.h"
#include "accuraterip/ArClient.h"
#include "session/Session.h"
#include "codec/FlacReader.h"
#include "codec/WavSourceReader.h"
#include "recording/Compilation.h"

namespace sonarvex {

namespace {

constexpr std::uint64_t kSectorBytes = 2352;
// Between the audio session and an enhanced CD's data session: the first
// session's lead-out, the second one's lead-in and the data track's pregap.
constexpr std::int32_t kSessionGap = 11400;
constexpr std::int32_t kMaxLba = 100 * 4500 - 150;  // 99:59:74

std::string Guillemets(const std::string& name) { return "«" + name + "»"; }
std::string CueLine(int line) { return "строка " + std::to_string(line) + " CUE-файла"; }

std::string CueTimeText(std::int32_t sectors) {
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", sectors / 4500, sectors / 75 % 60, sectors % 75);
  return text;
}

// A sentence as a clause after a colon: without its final full stop.
std::string Clause(std::string text) {
  if (!text.empty() && text.back() == '.') text.pop_back();
  return text;
}

// The PCM size of a sheet's file, checked to be CD audio; nullopt with why.
std::optional<std::uint64_t> AudioBytes(const AudioCueFile& f, std::string* why) {
  if (f.kind == AudioCueTrack::Kind::Flac) {
    FlacReader reader;
    if (WriteResult r = reader.Open(f.path); !r) {
      *why = Clause(r.message);
      return std::nullopt;
    }
    return reader.PcmBytes();
  }
  WavSourceReader reader;
  const int opened = reader.Open(f.path, false);
  if (opened != WavSourceReader::kUsable) {
    *why = opened == WavSourceReader::kCannotOpen
               ? "не удалось открыть файл " + Guillemets(f.name)
               : "файл " + Guillemets(f.name) +
                     " не в формате CD (нужен WAV без сжатия: стерео, 44100 Гц, 16 бит)";
    return std::nullopt;
  }
  struct stat st {};
  if (::stat(f.path.c_str(), &st) != 0 ||
      static_cast<std::uint64_t>(st.st_size) <
          static_cast<std::uint64_t>(reader.DataStart()) + reader.DataByteCount()) {
    *why = "файл " + Guillemets(f.name) + " обрывается: звука в нём меньше, чем сказано в заголовке";
    return std::nullopt;
  }
  return reader.DataByteCount();
}

using PcmSink = std::function<WriteResult(const std::uint8_t*, std::size_t)>;

// Hands a file's PCM (exactly `bytes` of it) to sink.
WriteResult ReadFileAudio(const AudioCueFile& f, std::uint64_t bytes, const PcmSink& sink) {
  if (f.kind == AudioCueTrack::Kind::Flac) {
    FlacReader reader;
    if (WriteResult r = reader.Open(f.path); !r) return r;
    if (reader.PcmBytes() != bytes)
      return WriteResult::Failure("Файл " + Guillemets(f.name) + " изменился во время проверки.");
    return reader.ReadAll(sink);
  }
  WavSourceReader reader;
  if (reader.Open(f.path, false) != WavSourceReader::kUsable || reader.DataByteCount() != bytes)
    return WriteResult::Failure("Файл " + Guillemets(f.name) + " изменился во время проверки.");
  std::vector<std::uint8_t> block(64 * kSectorBytes);
  std::uint64_t done = 0;
  while (done < bytes) {
    const auto want = static_cast<std::uint32_t>(std::min<std::uint64_t>(block.size(), bytes - done));
    std::uint32_t got = 0;
    if (!reader.Read(block.data(), want, &got))
      return WriteResult::Failure("Не удалось прочитать файл " + Guillemets(f.name) + ": " +
                                  std::strerror(errno) + ".");
    if (got == 0)
      return WriteResult::Failure("Файл " + Guillemets(f.name) +
                                  " обрывается: звука в нём меньше, чем сказано в заголовке.");
    if (WriteResult r = sink(block.data(), got); !r) return r;
    done += got;
  }
  return {};
}

// Silence no file holds (PREGAP, POSTGAP), put in before the files' audio
// at `at` (sectors into the files taken one after the other).
struct Insertion {
  std::int64_t at = 0;
  std::int64_t sectors = 0;
};

// The disc as the sheet describes it: where each track's INDEX 01 lies
// (sectors from the start of the files' audio with the silence put in),
// where the audio ends, and the silence put in.
struct DiscLayout {
  std::vector<std::int64_t> starts;  // one a sheet track
  std::int64_t end = 0;
  std::vector<Insertion> insertions;  // in the order of `at`
  std::vector<std::int64_t> fileSectors;
};

// Lays the sheet's tracks out over its files; nullopt with why.
std::optional<DiscLayout> LayOut(const AudioCueLayout& sheet, std::vector<std::int64_t> fileSectors,
                                 std::string* why) {
  DiscLayout d;
  std::vector<std::int64_t> fileStart;
  std::int64_t total = 0;
  for (std::int64_t n : fileSectors) {
    fileStart.push_back(total);
    total += n;
  }
  d.fileSectors = std::move(fileSectors);
  auto where = [&](int file, std::int32_t at, const AudioCueLayoutTrack& t, const char* index)
      -> std::optional<std::int64_t> {
    const auto f = static_cast<std::size_t>(file);
    if (at > d.fileSectors[f]) {
      *why = CueLine(t.trackLine) + ": " + index + " дорожки " + std::to_string(t.number) + " (" +
             CueTimeText(at) + ") лежит за концом файла " + Guillemets(sheet.files[f].name) + " (" +
             CueTimeText(static_cast<std::int32_t>(d.fileSectors[f])) + ")";
      return std::nullopt;
    }
    return fileStart[f] + at;
  };
  std::vector<std::int64_t> index1;
  std::int64_t silence = 0;  // put in so far
  for (std::size_t k = 0; k < sheet.tracks.size(); ++k) {
    const AudioCueLayoutTrack& t = sheet.tracks[k];
    const auto one = where(t.file, t.index1, t, "INDEX 01");
    if (!one) return std::nullopt;
    std::int64_t first = *one;
    if (t.index0File >= 0) {
      const auto zero = where(t.index0File, t.index0, t, "INDEX 00");
      if (!zero) return std::nullopt;
      first = *zero;
    }
    if (first > *one) {
      *why = CueLine(t.trackLine) + ": INDEX 01 дорожки " + std::to_string(t.number) + " раньше её INDEX 00";
      return std::nullopt;
    }
    if (k > 0 && first <= index1.back()) {
      *why = CueLine(t.trackLine) + ": дорожка " + std::to_string(t.number) +
             " начинается не после начала дорожки " + std::to_string(sheet.tracks[k - 1].number);
      return std::nullopt;
    }
    // The previous track's POSTGAP, then this one's PREGAP, before the
    // audio of this track's indexes.
    const std::int64_t put = (k > 0 ? sheet.tracks[k - 1].postgap : 0) + t.pregap;
    if (put > 0) d.insertions.push_back(Insertion{first, put});
    silence += put;
    index1.push_back(*one);
    d.starts.push_back(*one + silence);
  }
  const std::int64_t lastPostgap = sheet.tracks.back().postgap;
  if (lastPostgap > 0) d.insertions.push_back(Insertion{total, lastPostgap});
  d.end = total + silence + lastPostgap;
  if (d.end <= d.starts.back()) {
    const AudioCueLayoutTrack& t = sheet.tracks.back();
    *why = CueLine(t.trackLine) + ": у дорожки " + std::to_string(t.number) + " нет звука: её INDEX 01 в конце файла " +
           Guillemets(sheet.files[static_cast<std::size_t>(t.file)].name);
    return std::nullopt;
  }
  if (d.end > kMaxLba) {
    *why = "звука в файлах больше, чем вмещает компакт-диск";
    return std::nullopt;
  }
  return d;
}

// The disc's audio, fed file after file, with the silence put in, cut into
// the tracks' AccurateRip ranges (INDEX 01 to the next track's INDEX 01,
// the last one to the end). Audio before the first INDEX 01 counts for
// nothing.
class DiscFeed {
 public:
  using TrackDone = std::function<WriteResult(std::size_t track, const ArChecksum& sum)>;
  using TrackStart = std::function<std::unique_ptr<ArChecksum>(std::size_t track, std::uint64_t samples)>;

  DiscFeed(const DiscLayout& layout, TrackStart start, TrackDone done)
      : layout_(layout), start_(std::move(start)), done_(std::move(done)) {}

  WriteResult File(const std::uint8_t* pcm, std::size_t bytes) {
    while (bytes > 0) {
      if (WriteResult r = InsertAt(fileBytes_); !r) return r;
      std::uint64_t take = bytes;
      if (next_ < layout_.insertions.size())
        take = std::min<std::uint64_t>(take, Bytes(layout_.insertions[next_].at) - fileBytes_);
      if (WriteResult r = Disc(pcm, static_cast<std::size_t>(take)); !r) return r;
      fileBytes_ += take;
      pcm += take;
      bytes -= static_cast<std::size_t>(take);
    }
    return {};
  }

  // After the last file: the silence at the end; every track whole.
  WriteResult Finish() {
    if (WriteResult r = InsertAt(fileBytes_); !r) return r;
    if (discBytes_ != Bytes(layout_.end) || next_ != layout_.insertions.size())
      return WriteResult::Failure("Звук в файлах изменился во время проверки.");
    return {};
  }

 private:
  static std::uint64_t Bytes(std::int64_t sectors) { return static_cast<std::uint64_t>(sectors) * kSectorBytes; }

  WriteResult InsertAt(std::uint64_t at) {
    while (next_ < layout_.insertions.size() && Bytes(layout_.insertions[next_].at) == at) {
      std::uint64_t left = Bytes(layout_.insertions[next_++].sectors);
      static const std::vector<std::uint8_t> zeros(64 * kSectorBytes);
      while (left > 0) {
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(left, zeros.size()));
        if (WriteResult r = Disc(zeros.data(), n); !r) return r;
        left -= n;
      }
    }
    return {};
  }

  WriteResult Disc(const std::uint8_t* pcm, std::size_t bytes) {
    const auto& starts = layout_.starts;
    while (bytes > 0) {
      const std::size_t following = current_ < 0 ? 0 : static_cast<std::size_t>(current_) + 1;
      if (following < starts.size() && discBytes_ == Bytes(starts[following]) && !sum_) {
        current_ = static_cast<int>(following);
        const std::int64_t end = following + 1 < starts.size() ? starts[following + 1] : layout_.end;
        sum_ = start_(following, Bytes(end - starts[following]) / 4);
      }
      std::uint64_t limit;
      if (!sum_) {
        // Before the first track's INDEX 01.
        if (current_ >= 0) return WriteResult::Failure("Звук в файлах изменился во время проверки.");
        limit = Bytes(starts.front());
      } else {
        const auto k = static_cast<std::size_t>(current_);
        limit = Bytes(k + 1 < starts.size() ? starts[k + 1] : layout_.end);
      }
      const auto take = static_cast<std::size_t>(std::min<std::uint64_t>(bytes, limit - discBytes_));
      if (sum_) sum_->Add(pcm, take);
      discBytes_ += take;
      pcm += take;
      bytes -= take;
      if (sum_ && discBytes_ == limit) {
        const std::unique_ptr<ArChecksum> sum = std::move(sum_);
        if (WriteResult r = done_(static_cast<std::size_t>(current_), *sum); !r) return r;
      }
    }
    return {};
  }

  const DiscLayout& layout_;
  TrackStart start_;
  TrackDone done_;
  std::uint64_t fileBytes_ = 0, discBytes_ = 0;
  std::size_t next_ = 0;  // the next insertion
  int current_ = -1;      // the track being fed or the last one fed
  std::unique_ptr<ArChecksum> sum_;
};

struct TocEntry {
  int number = 0;
  std::int32_t start = 0;
  bool audio = true;
  int audioIndex = -1;  // into the sheet's tracks
};

// The disc's table of contents from the sheet and its layout; nullopt with
// why.
std::optional<ArToc> RebuildToc(const AudioCueLayout& sheet, const DiscLayout& layout,
                                std::vector<TocEntry>* entries, std::string* why) {
  const auto& tracks = sheet.tracks;
  const int firstAudio = tracks.front().number;
  const int lastAudio = tracks.back().number;
  for (std::size_t k = 1; k < tracks.size(); ++k)
    if (tracks[k].number != tracks[k - 1].number + 1) {
      *why = CueLine(tracks[k].trackLine) + ": после дорожки " + std::to_string(tracks[k - 1].number) +
             " идёт " + std::to_string(tracks[k].number) + "; проверяется только весь диск";
      return std::nullopt;
    }
  std::vector<AudioCueDataTrack> before, after;
  for (const AudioCueDataTrack& d : sheet.dataTracks) {
    if (d.number < firstAudio) {
      before.push_back(d);
    } else if (d.number > lastAudio) {
      after.push_back(d);
    } else {
      *why = CueLine(d.line) + ": дорожка с данными " + std::to_string(d.number) + " среди звуковых";
      return std::nullopt;
    }
  }
  auto byNumber = [](const AudioCueDataTrack& a, const AudioCueDataTrack& b) { return a.number < b.number; };
  std::sort(before.begin(), before.end(), byNumber);
  std::sort(after.begin(), after.end(), byNumber);

  // The files' audio starts at the disc's LBA 0, unless data tracks come
  // first: then the first audio track starts where the last of them ends.
  std::int64_t shift = 0;
  if (!before.empty()) {
    for (std::size_t i = 0; i < before.size(); ++i) {
      const int expected = i == 0 ? 1 : before[i - 1].number + 1;
      if (before[i].number != expected || (i > 0 && before[i].start < before[i - 1].end)) {
        *why = CueLine(before[i].line) + ": дорожки с данными перед звуком должны идти подряд с первой";
        return std::nullopt;
      }
      entries->push_back(TocEntry{before[i].number, before[i].start, false, -1});
    }
    if (before.back().number + 1 != firstAudio) {
      *why = CueLine(tracks.front().trackLine) + ": нет дорожки " + std::to_string(before.back().number + 1);
      return std::nullopt;
    }
    shift = before.back().end - layout.starts.front();
  } else if (firstAudio != 1) {
    *why = CueLine(tracks.front().trackLine) + ": диск начинается с дорожки " + std::to_string(firstAudio) +
           ", а дорожки 1 в CUE-файле нет; проверяется только весь диск";
    return std::nullopt;
  }
  for (std::size_t k = 0; k < tracks.size(); ++k)
    entries->push_back(
        TocEntry{tracks[k].number, static_cast<std::int32_t>(layout.starts[k] + shift), true, static_cast<int>(k)});
  const std::int64_t audioEnd = layout.end + shift;
  if (audioEnd > kMaxLba) {
    *why = "звука в файлах больше, чем вмещает компакт-диск";
    return std::nullopt;
  }
  if (after.empty() && sheet.dataTrackLength > 0) {
    // An enhanced CD's data track as other rippers describe it: its length,
    // one session gap after the audio.
    AudioCueDataTrack d;
    d.number = lastAudio + 1;
    d.start = static_cast<std::int32_t>(audioEnd + kSessionGap);
    d.end = d.start + sheet.dataTrackLength;
    after.push_back(d);
  }
  std::int64_t leadOut = audioEnd;
  for (std::size_t i = 0; i < after.size(); ++i) {
    const int expected = i == 0 ? lastAudio + 1 : after[i - 1].number + 1;
    const std::int64_t earliest = i == 0 ? audioEnd : after[i - 1].end;
    if (after[i].number != expected || after[i].start < earliest) {
      *why = CueLine(after[i].line) + ": дорожка с данными " + std::to_string(after[i].number) +
             (after[i].number != expected ? " идёт не по порядку" : " начинается раньше, чем кончается звук");
      return std::nullopt;
    }
    entries->push_back(TocEntry{after[i].number, after[i].start, false, -1});
    leadOut = after[i].end;
  }
  if (leadOut > kMaxLba) {
    *why = "диск длиннее 99:59:74";
    return std::nullopt;
  }
  ArToc toc;
  for (const TocEntry& e : *entries) toc.tracks.push_back(ArTocTrack{e.start, e.audio});
  toc.leadOut = static_cast<std::int32_t>(leadOut);
  return toc;
}

}  // namespace

const char* VerifyUsage() {
  return "Использование: sonarvex-cli verify [--accuraterip HOST[:PORT]] FILE.cue\n";
}

int RunVerifyCommand(Session& session, const std::vector<std::string>& args, std::ostream& out,
                     std::ostream& err) {
  std::string serverText, cue;
  bool serverGiven = false, optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (!optionsEnded && a == "--accuraterip") {
      if (i + 1 >= args.size()) {
        err << "Не указано значение --accuraterip\n" << VerifyUsage();
        return 2;
      }
      serverText = args[++i];
      serverGiven = true;
    } else if (!optionsEnded && a == "--") {
      optionsEnded = true;
    } else if (!optionsEnded && a.size() > 1 && a[0] == '-') {
      err << "Неизвестный параметр " << a << "\n" << VerifyUsage();
      return 2;
    } else if (cue.empty()) {
      cue = a;
    } else {
      err << "Лишний аргумент " << a << "\n" << VerifyUsage();
      return 2;
    }
  }
  if (cue.empty()) {
    err << "Не указан CUE-файл\n" << VerifyUsage();
    return 2;
  }
  ArServer server;
  if (serverGiven) {
    if (!ParseArServer(serverText, server)) {
      err << "--accuraterip: неверный сервер '" << serverText << "' (HOST или HOST:PORT)\n" << VerifyUsage();
      return 2;
    }
  } else {
    std::string stored = session.Options().ArServer;
    if (stored.empty()) stored = kDefaultArHost;
    if (!ParseArServer(stored, server)) {
      err << "Сервер AccurateRip в настройках неверен: '" << stored << "'.\n";
      return 1;
    }
  }

  auto refuse = [&](const std::string& why) {
    err << "CUE-файл '" << cue << "' не проверен: " << why << ".\n";
    return 1;
  };
  std::string why;
  const auto sheet = ReadAudioCueLayout(cue, &why);
  if (!sheet) return refuse(why);

  // The files' audio, in whole sectors, laid out as the sheet says.
  std::vector<std::int64_t> fileSectors;
  for (const AudioCueFile& f : sheet->files) {
    const auto size = AudioBytes(f, &why);
    if (!size) return refuse(CueLine(f.line) + ": " + why);
    if (*size == 0 || *size % kSectorBytes != 0)
      return refuse(CueLine(f.line) + ": звук файла " + Guillemets(f.name) + " (" + std::to_string(*size) +
                    " байт) — не целое число секторов по 2352 байта");
    fileSectors.push_back(static_cast<std::int64_t>(std::min<std::uint64_t>(*size / kSectorBytes, kMaxLba + 1)));
  }
  const auto layout = LayOut(*sheet, fileSectors, &why);
  if (!layout) return refuse(why);
  std::vector<TocEntry> entries;
  const auto toc = RebuildToc(*sheet, *layout, &entries, &why);
  if (!toc) return refuse(why);

  const ArDiscIds ids = ComputeArDiscIds(*toc);
  ArClient client(server);
  const ArFetch fetch = client.Fetch(ids);
  if (fetch.outcome == ArFetch::Outcome::Failed) {
    err << "Не удалось получить запись диска из базы AccurateRip: " << fetch.message << "\n";
    return 1;
  }
  const bool found = fetch.outcome == ArFetch::Outcome::Found;
  if (!found) err << "Диска нет в базе AccurateRip.\n";

  // Each track's place in the table of contents.
  std::vector<int> tocIndex(sheet->tracks.size(), -1);
  for (std::size_t i = 0; i < entries.size(); ++i)
    if (entries[i].audio) tocIndex[static_cast<std::size_t>(entries[i].audioIndex)] = static_cast<int>(i);

  bool mismatch = false;
  DiscFeed feed(
      *layout,
      [&](std::size_t k, std::uint64_t samples) {
        return std::make_unique<ArChecksum>(samples, IsFirstArTrack(*toc, tocIndex[k]),
                                            IsLastArTrack(*toc, tocIndex[k]));
      },
      [&](std::size_t k, const ArChecksum& sum) {
        const AudioCueLayoutTrack& t = sheet->tracks[k];
        const ArVerdict verdict =
            found ? VerifyArTrack(fetch.submissions, ids, ArEntryIndex(*toc, tocIndex[k]), sum.V1(), sum.V2())
                  : ArVerdict{};
        if (verdict.status == ArStatus::Mismatch) mismatch = true;
        // A track is named by the file its INDEX 01 lies in (a disc image:
        // the image for every track).
        out << t.number << "\t" << sheet->files[static_cast<std::size_t>(t.file)].path << "\t" << ArHex(sum.V1())
            << "\t" << ArHex(sum.V2()) << "\t" << ArVerdictWord(verdict) << "\n"
            << std::flush;
        return WriteResult::Success();
      });
  for (std::size_t f = 0; f < sheet->files.size(); ++f) {
    const auto bytes = static_cast<std::uint64_t>(layout->fileSectors[f]) * kSectorBytes;
    if (WriteResult r = ReadFileAudio(sheet->files[f], bytes,
                                      [&feed](const std::uint8_t* pcm, std::size_t n) { return feed.File(pcm, n); });
        !r) {
      err << r.message << "\n";
      return 1;
    }
  }
  if (WriteResult r = feed.Finish(); !r) {
    err << r.message << "\n";
    return 1;
  }
  return mismatch ? 1 : 0;
}

}  // namespace sonarvex

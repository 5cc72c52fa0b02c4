#include "cli/CliVerify.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
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

// The PCM size of a track's file, checked to be CD audio; nullopt with why.
std::optional<std::uint64_t> AudioBytes(const AudioCueTrack& t, std::string* why) {
  if (t.kind == AudioCueTrack::Kind::Flac) {
    FlacReader reader;
    if (WriteResult r = reader.Open(t.path); !r) {
      *why = Clause(r.message);
      return std::nullopt;
    }
    return reader.PcmBytes();
  }
  WavSourceReader reader;
  const int opened = reader.Open(t.path, false);
  if (opened != WavSourceReader::kUsable) {
    *why = opened == WavSourceReader::kCannotOpen
               ? "не удалось открыть файл " + Guillemets(t.name)
               : "файл " + Guillemets(t.name) +
                     " не в формате CD (нужен WAV без сжатия: стерео, 44100 Гц, 16 бит)";
    return std::nullopt;
  }
  struct stat st {};
  if (::stat(t.path.c_str(), &st) != 0 ||
      static_cast<std::uint64_t>(st.st_size) <
          static_cast<std::uint64_t>(reader.DataStart()) + reader.DataByteCount()) {
    *why = "файл " + Guillemets(t.name) + " обрывается: звука в нём меньше, чем сказано в заголовке";
    return std::nullopt;
  }
  return reader.DataByteCount();
}

// Feeds a track's PCM (exactly `bytes` of it) to the checksums.
WriteResult FeedTrack(const AudioCueTrack& t, std::uint64_t bytes, ArChecksum& sum) {
  if (t.kind == AudioCueTrack::Kind::Flac) {
    FlacReader reader;
    if (WriteResult r = reader.Open(t.path); !r) return r;
    if (reader.PcmBytes() != bytes)
      return WriteResult::Failure("Файл " + Guillemets(t.name) + " изменился во время проверки.");
    return reader.ReadAll([&sum](const std::uint8_t* pcm, std::size_t n) {
      sum.Add(pcm, n);
      return WriteResult::Success();
    });
  }
  WavSourceReader reader;
  if (reader.Open(t.path, false) != WavSourceReader::kUsable || reader.DataByteCount() != bytes)
    return WriteResult::Failure("Файл " + Guillemets(t.name) + " изменился во время проверки.");
  std::vector<std::uint8_t> block(64 * kSectorBytes);
  std::uint64_t done = 0;
  while (done < bytes) {
    const auto want = static_cast<std::uint32_t>(std::min<std::uint64_t>(block.size(), bytes - done));
    std::uint32_t got = 0;
    if (!reader.Read(block.data(), want, &got))
      return WriteResult::Failure("Не удалось прочитать файл " + Guillemets(t.name) + ": " +
                                  std::strerror(errno) + ".");
    if (got == 0)
      return WriteResult::Failure("Файл " + Guillemets(t.name) +
                                  " обрывается: звука в нём меньше, чем сказано в заголовке.");
    sum.Add(block.data(), got);
    done += got;
  }
  return {};
}

struct TocEntry {
  int number = 0;
  std::int32_t start = 0;
  bool audio = true;
  int audioIndex = -1;  // into the sheet's tracks
};

// The disc's table of contents from the sheet and its files' lengths in
// sectors; nullopt with why.
std::optional<ArToc> RebuildToc(const AudioCueSheet& sheet, const std::vector<std::int32_t>& sectors,
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

  std::int64_t cursor = 0;
  if (!before.empty()) {
    // Audio after data tracks starts where the last of them ends.
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
    cursor = before.back().end;
  } else {
    if (firstAudio != 1) {
      *why = CueLine(tracks.front().trackLine) + ": диск начинается с дорожки " +
             std::to_string(firstAudio) + ", а дорожки 1 в CUE-файле нет; проверяется только весь диск";
      return std::nullopt;
    }
    cursor = tracks.front().pregap;
  }
  for (std::size_t k = 0; k < tracks.size(); ++k) {
    entries->push_back(TocEntry{tracks[k].number, static_cast<std::int32_t>(cursor), true, static_cast<int>(k)});
    cursor += sectors[k];
    if (cursor > kMaxLba) {
      *why = "звука в файлах больше, чем вмещает компакт-диск";
      return std::nullopt;
    }
  }
  const std::int64_t audioEnd = cursor;
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
  const auto sheet = ReadAudioCueSheet(cue, &why);
  if (!sheet) return refuse(why);

  // Every file from its track's INDEX 01 to the next track's, in whole sectors.
  std::vector<std::uint64_t> bytes;
  std::vector<std::int32_t> sectors;
  for (std::size_t k = 0; k < sheet->tracks.size(); ++k) {
    const AudioCueTrack& t = sheet->tracks[k];
    if (t.index1 != 0)
      return refuse(CueLine(t.trackLine) + ": дорожка " + std::to_string(t.number) +
                    " начинается не с начала файла " + Guillemets(t.name) + " (INDEX 01 " +
                    CueTimeText(t.index1) + "); проверяются файлы, каждый с начала своей дорожки");
    if ((k > 0 && t.pregap != 0) || t.postgap != 0)
      return refuse(CueLine(t.trackLine) + ": у дорожки " + std::to_string(t.number) +
                    (t.postgap != 0 ? " есть POSTGAP" : " есть PREGAP") +
                    ", тишина, которой нет в файлах; проверяются файлы, лежащие на диске подряд");
    const auto size = AudioBytes(t, &why);
    if (!size) return refuse(CueLine(t.fileLine) + ": " + why);
    if (*size == 0 || *size % kSectorBytes != 0)
      return refuse(CueLine(t.fileLine) + ": звук файла " + Guillemets(t.name) + " (" +
                    std::to_string(*size) + " байт) — не целое число секторов по 2352 байта");
    bytes.push_back(*size);
    sectors.push_back(static_cast<std::int32_t>(std::min<std::uint64_t>(*size / kSectorBytes, kMaxLba + 1)));
  }
  std::vector<TocEntry> entries;
  const auto toc = RebuildToc(*sheet, sectors, &entries, &why);
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

  bool mismatch = false;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const TocEntry& e = entries[i];
    if (!e.audio) continue;
    const auto k = static_cast<std::size_t>(e.audioIndex);
    const AudioCueTrack& t = sheet->tracks[k];
    const int tocIndex = static_cast<int>(i);
    ArChecksum sum(bytes[k] / 4, IsFirstArTrack(*toc, tocIndex), IsLastArTrack(*toc, tocIndex));
    if (WriteResult r = FeedTrack(t, bytes[k], sum); !r) {
      err << r.message << "\n";
      return 1;
    }
    const ArVerdict verdict =
        found ? VerifyArTrack(fetch.submissions, ids, ArEntryIndex(*toc, tocIndex), sum.V1(), sum.V2())
              : ArVerdict{};
    if (verdict.status == ArStatus::Mismatch) mismatch = true;
    out << t.number << "\t" << t.path << "\t" << ArHex(sum.V1()) << "\t" << ArHex(sum.V2()) << "\t"
        << ArVerdictWord(verdict) << "\n"
        << std::flush;
  }
  return mismatch ? 1 : 0;
}

}  // namespace sonarvex

#include "recording/Recorder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include <zlib.h>

#include "codec/SampleOps.h"
#include "codec/WavSourceReader.h"
#include "drive/AspiTransport.h"
#include "drive/AudioReading.h"
#include "drive/CdText.h"
#include "drive/DriveCommands.h"
#include "drive/SptiTransport.h"
#include "platform/Cp1251.h"
#include "platform/Dialogs.h"
#include "platform/Files.h"
#include "recording/TrackSource.h"

namespace sonarvex {

namespace {

void Pause1ms() { std::this_thread::sleep_for(std::chrono::milliseconds(1)); }

std::uint32_t SectorCrc(const std::uint8_t* sector) {
  return static_cast<std::uint32_t>(::crc32(0L, sector, static_cast<uInt>(kBytesPerSector)));
}

void PutMsf(std::uint8_t* e, std::int32_t frames) {
  const auto f = static_cast<std::uint32_t>(frames);
  e[0] = static_cast<std::uint8_t>(f / 4500);
  e[1] = static_cast<std::uint8_t>((f / 75) % 60);
  e[2] = static_cast<std::uint8_t>(f % 75);
}

}  // namespace

Recorder::Recorder(SptiTransport& spti, AspiTransport& aspi, Dialogs& dialogs)
    : spti_(spti), aspi_(aspi), dialogs_(dialogs) {
  gains_.fill(1.0);
}

Recorder::~Recorder() { Destroy(); }

Transport& Recorder::CurrentTransport() {
  return useSpti_ ? static_cast<Transport&>(spti_) : static_cast<Transport&>(aspi_);
}

bool Recorder::Ok(CommandResult result) { return CurrentTransport().Succeeded(result); }

void Recorder::Create() {
  drives_.clear();
  useSpti_ = true;
  if (aspi_.Load()) {
    aspiLoaded_ = true;
    if (aspi_.Enumerate() > 0) useSpti_ = false;
  }
  Transport& t = CurrentTransport();
  // Every device number is tried: a system drive the user may not open
  // keeps its number, and the drives after it are still listed.
  for (int n = 0; n < kProbedNumbers && static_cast<int>(drives_.size()) < kMaxDrives; ++n) {
    if (!t.SelectDevice(n, 0)) continue;
    Drive d;
    d.device = n;
    std::uint8_t inquiry[kInquiryLength] = {};
    Inquiry(t, inquiry);
    d.identification = Cp1251ToUtf8(IdentificationText(inquiry, 28));
    std::uint8_t caps[kCapabilitiesLength] = {};
    ModeSenseCapabilities(t, caps);
    std::memcpy(d.capabilities.data(), caps, kCapabilitiesLength);
    drives_.push_back(std::move(d));
  }
  if (useSpti_) spti_.Close();
  device_ = -1;
  if (!drives_.empty()) {
    t.SelectDevice(drives_.front().device, 0);
    device_ = drives_.front().device;
  }
}

void Recorder::Destroy() {
  if (useSpti_) spti_.Close();
  if (aspiLoaded_) {
    aspi_.Unload();
    aspiLoaded_ = false;
  }
}

const Recorder::Drive* Recorder::CurrentDrive() const {
  for (const auto& d : drives_)
    if (d.device == device_) return &d;
  return nullptr;
}

bool Recorder::SelectDevice(int device) {
  Transport& t = CurrentTransport();
  if (useSpti_) {
    spti_.Close();
    Pause1ms();
    if (!spti_.SelectDevice(device, 0)) {
      Pause1ms();
      if (device_ >= 0) spti_.SelectDevice(device_, 0);
      return false;
    }
  } else if (!t.SelectDevice(device, 0)) {
    if (device_ >= 0) t.SelectDevice(device_, 0);
    return false;
  }
  device_ = device;
  return true;
}

bool Recorder::SetFiles(const std::vector<std::string>& files, std::vector<TrackGaps> gaps) {
  if (files.empty()) return false;
  files_ = files;
  gaps_ = std::move(gaps);
  reader_.reset();
  readerFile_ = -1;
  gaps_.resize(files_.size());
  return true;
}

bool Recorder::InitWriteProcess(bool testWrite, WriteProgressCallback progress) {
  progress_ = std::move(progress);
  return Ok(ModeSelectWriteParams(CurrentTransport(), 0, 0, testWrite, 2));
}

std::vector<std::uint8_t> Recorder::BuildCueSheet(const std::vector<std::int32_t>& trackTable) {
  const std::size_t n = trackTable.empty() ? 0 : trackTable.size() - 1;
  std::vector<TrackMarks> marks(n);
  for (std::size_t k = 0; k < n; ++k) marks[k].index1 = trackTable[k];
  return BuildCueSheet(marks, n ? trackTable[n] : 0);
}

std::vector<std::uint8_t> Recorder::BuildCueSheet(const std::vector<TrackMarks>& marks, std::int32_t leadOut) {
  return BuildCueSheet(marks, leadOut, CueCodes{});
}

std::vector<std::uint8_t> Recorder::BuildCueSheet(const std::vector<TrackMarks>& marks, std::int32_t leadOut,
                                                  const CueCodes& codes) {
  std::vector<std::uint8_t> cue;
  // A code in two entries of 8 bytes: ADR, then its characters.
  auto code = [&](std::uint8_t adr, int tno, const std::string& text) {
    std::uint8_t e[16] = {};
    e[0] = e[8] = adr;
    if (adr == 0x02) {
      std::memcpy(e + 1, text.data(), 7);
      std::memcpy(e + 9, text.data() + 7, 6);
    } else {
      e[1] = e[9] = static_cast<std::uint8_t>(tno);
      std::memcpy(e + 2, text.data(), 6);
      std::memcpy(e + 10, text.data() + 6, 6);
    }
    cue.insert(cue.end(), e, e + 16);
  };
  auto add = [&](std::uint8_t tno, std::uint8_t index, std::uint8_t form, std::int32_t lba) {
    const std::uint8_t e[8] = {0x01, tno, index, form, 0, 0, 0, 0};
    cue.insert(cue.end(), e, e + 8);
    PutMsf(cue.data() + cue.size() - 3, lba + 150);
  };
  // Lead-in, then every track: track 1's pregap at 00:00:00 (and the
  // pregaps of the others that have one), INDEX 01, the later index points.
  add(0x00, 0x00, codes.cdText ? 0x41 : 0x01, -150);
  if (codes.catalog.size() == 13) code(0x02, 0, codes.catalog);
  if (marks.empty()) add(0x01, 0x00, 0x00, -150);
  for (std::size_t k = 0; k < marks.size(); ++k) {
    const auto tno = static_cast<std::uint8_t>(k + 1);
    const TrackMarks& m = marks[k];
    if (k < codes.isrcs.size() && codes.isrcs[k].size() == 12) code(0x03, tno, codes.isrcs[k]);
    if (k == 0) add(tno, 0x00, 0x00, -150);
    else if (m.index0 != TrackMarks::kNone && m.index0 < m.index1) add(tno, 0x00, 0x00, m.index0);
    add(tno, 0x01, 0x00, m.index1);
    for (std::size_t i = 0; i < m.indices.size(); ++i) add(tno, static_cast<std::uint8_t>(i + 2), 0x00, m.indices[i]);
  }
  add(0xAA, 0x01, 0x01, marks.empty() ? 0 : leadOut);
  return cue;
}

bool Recorder::PlanDisc(const std::vector<std::string>& files, const std::vector<std::int32_t>& sectors,
                        const std::vector<TrackGaps>& gaps, DiscPlan& plan, std::string* why, int* file) {
  plan = DiscPlan{};
  const std::size_t n = files.size();
  auto gap = [&](std::size_t k) -> const TrackGaps& {
    static const TrackGaps kPlain;
    return k < gaps.size() ? gaps[k] : kPlain;
  };
  auto fail = [&](std::size_t k, std::string reason) {
    if (why) *why = std::move(reason);
    if (file) *file = static_cast<int>(k);
    plan = DiscPlan{};
    return false;
  };
  if (sectors.size() != n) return fail(0, "файлы не измерены");
  // The end of file k-1 that is track k's pregap (0: none, or the file
  // before is not the one the sheet named).
  std::vector<std::int32_t> tail(n + 1, 0);
  for (std::size_t k = 1; k < n; ++k)
    if (gap(k).previousTail > 0 && gap(k).previousFile == files[k - 1]) tail[k] = gap(k).previousTail;

  std::int32_t cursor = 0;
  auto put = [&](int f, std::int32_t from, std::int32_t count) {
    if (count > 0) plan.segments.push_back(Segment{cursor, count, f, from});
    cursor += std::max<std::int32_t>(count, 0);
  };
  plan.trackTable.assign(n + 1, 0);
  plan.marks.assign(n, TrackMarks{});
  // Track k begins: the POSTGAP of the track before, then its own PREGAP.
  auto enter = [&](std::size_t k) {
    if (k > 0) put(-1, 0, gap(k - 1).postgap);
    plan.trackTable[k] = cursor;
    put(-1, 0, gap(k).pregap);
  };
  for (std::size_t k = 0; k < n; ++k) {
    const TrackGaps& g = gap(k);
    if (g.pregap < 0 || g.postgap < 0 || g.index1 < 0) return fail(k, "неверные паузы трека");
    if (tail[k] == 0) enter(k);
    const std::int32_t bodyEnd = sectors[k] - tail[k + 1];
    const auto f = static_cast<int>(k);
    // (A file without a whole sector is the measuring's to refuse.)
    if ((g.index1 > 0 || tail[k + 1] > 0) && g.index1 >= bodyEnd)
      return fail(k, tail[k + 1] > 0 ? "INDEX 01 трека лежит не раньше INDEX 00 следующего трека"
                                     : "INDEX 01 трека лежит за концом файла");
    const std::int32_t fileLba = cursor;
    put(f, 0, bodyEnd);
    TrackMarks& m = plan.marks[k];
    m.index1 = fileLba + g.index1;
    std::int32_t last = g.index1;
    for (std::size_t i = 0; i < g.indices.size(); ++i) {
      const std::int32_t at = g.indices[i];
      char name[16];
      std::snprintf(name, sizeof name, "INDEX %02d", static_cast<int>(i + 2));
      if (at <= last) return fail(k, std::string(name) + " трека лежит не после предыдущего индекса");
      if (at >= bodyEnd) return fail(k, std::string(name) + " трека лежит за концом трека");
      m.indices.push_back(fileLba + at);
      last = at;
    }
    if (tail[k + 1] > 0) {
      enter(k + 1);
      put(f, bodyEnd, tail[k + 1]);
    }
  }
  if (n > 0) put(-1, 0, gap(n - 1).postgap);
  plan.trackTable[n] = cursor;
  for (std::size_t k = 0; k < n; ++k) {
    TrackMarks& m = plan.marks[k];
    if (k == 0) m.index0 = -150;
    else if (plan.trackTable[k] < m.index1) m.index0 = plan.trackTable[k];
  }
  return true;
}

bool Recorder::MeasureFile(const std::string& path, std::int32_t* sectors) {
  auto refuse = [&](const std::string& why) {
    dialogs_.Message("Невозможно записать файл '" + path + "': " + why + ".", kRecorderMessageCaption,
                     MsgIcon::Error, MsgButtons::Ok);
    return false;
  };
  // Only a regular file is opened (a pipe or a device would hold the
  // recording up, or never end).
  const int fd = OpenRegularFile(path);
  if (fd < 0) {
    const int err = errno;
    if (err == ENOENT) {
      dialogs_.Message("Невозможно открыть для чтения файл '" + path + "'!", kRecorderMessageCaption,
                       MsgIcon::Error, MsgButtons::Ok);
      return false;
    }
    if (err == EINVAL) return refuse("это не обычный файл");
    return refuse(std::strerror(err));
  }
  struct stat st {};
  const bool statted = ::fstat(fd, &st) == 0;
  ::close(fd);
  if (!statted) return refuse(std::strerror(errno));
  if (SniffTrackSource(path) != TrackSourceKind::Wave) {
    // FLAC, MP3, Ogg, Opus, WMA: the length from the file's own figures.
    std::string why;
    const auto source = TrackSource::Open(path, decoderFolder_, &why);
    if (!source) {
      dialogs_.Message(why, kRecorderMessageCaption, MsgIcon::Error, MsgButtons::Ok);
      return false;
    }
    if (source->Bytes() < kBytesPerSector) return refuse("в нём нет звука (ни одного целого сектора)");
    if (source->Bytes() / kBytesPerSector > 100 * 4500) return refuse("он длиннее диска");
    *sectors = static_cast<std::int32_t>(source->Bytes() / kBytesPerSector);
    return true;
  }
  WavSourceReader reader;
  if (reader.Open(path, false) != WavSourceReader::kUsable) {
    dialogs_.Message("Невозможно открыть для чтения файл '" + path + "'!", kRecorderMessageCaption,
                     MsgIcon::Error, MsgButtons::Ok);
    return false;
  }
  // What the file holds, not what its header promises.
  const std::uint64_t size = static_cast<std::uint64_t>(st.st_size);
  const std::uint64_t held = size > reader.DataStart() ? size - reader.DataStart() : 0;
  const std::uint32_t promised = reader.DataByteCount();
  const std::uint64_t bytes = std::min<std::uint64_t>(promised, held);
  reader.Close();
  if (bytes < kBytesPerSector)
    return refuse(promised >= kBytesPerSector && held == 0 ? "в нём нет звука, хотя заголовок его обещает"
                                                           : "в нём нет звука (ни одного целого сектора)");
  *sectors = static_cast<std::int32_t>(bytes / kBytesPerSector);
  return true;
}

bool Recorder::CheckFiles() {
  std::int32_t sectors = 0;
  for (const auto& path : files_)
    if (!MeasureFile(path, &sectors)) return false;
  return !files_.empty();
}

bool Recorder::SendCUEToCD() {
  if (files_.empty()) return false;
  // A disc holds at most 99 tracks: more cannot be put into a cue sheet.
  if (static_cast<int>(files_.size()) > kMaxTracks) return false;
  trackTable_.assign(1, 0);
  plan_ = DiscPlan{};
  reader_.reset();
  readerFile_ = -1;
  std::vector<std::int32_t> measured;
  for (const auto& path : files_) {
    std::int32_t sectors = 0;
    if (!MeasureFile(path, &sectors)) return false;
    measured.push_back(sectors);
  }
  std::string why;
  int file = 0;
  if (!PlanDisc(files_, measured, gaps_, plan_, &why, &file)) {
    // The file changed since its cue sheet was read.
    dialogs_.Message("Невозможно записать файл '" + files_[static_cast<std::size_t>(file)] + "': " + why + ".",
                     kRecorderMessageCaption, MsgIcon::Error, MsgButtons::Ok);
    return false;
  }
  trackTable_ = plan_.trackTable;
  sectorCrcs_.assign(static_cast<std::size_t>(std::max<std::int32_t>(trackTable_.back(), 0)), 0);
  sectorWritten_.assign(sectorCrcs_.size(), false);
  PrepareCdText();
  CueCodes codes = Codes();
  codes.cdText = !cdTextPacks_.empty();
  cueSheet_ = BuildCueSheet(plan_.marks, trackTable_.back(), codes);
  return Ok(SendCueSheet(CurrentTransport(), cueSheet_.data(), static_cast<std::uint32_t>(cueSheet_.size() / 8)));
}

bool Recorder::FitsCdText(const std::string& utf8) {
  for (std::size_t i = 0; i < utf8.size();) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    std::uint32_t cp = c;
    std::size_t n = 1;
    if (c >= 0x80) {
      // Two-byte sequences reach U+07FF; only U+0080..U+00FF (C2, C3) fit.
      if ((c != 0xC2 && c != 0xC3) || i + 1 >= utf8.size()) return false;
      const auto d = static_cast<unsigned char>(utf8[i + 1]);
      if ((d & 0xC0) != 0x80) return false;
      cp = (c & 0x1Fu) << 6 | (d & 0x3Fu);
      n = 2;
    }
    if (cp < 0x20 || (cp >= 0x7F && cp < 0xA0)) return false;
    i += n;
  }
  return true;
}

namespace {

bool AllOf(const std::string& s, std::size_t from, std::size_t to, bool letters) {
  for (std::size_t i = from; i < to; ++i) {
    const char c = s[i];
    if (!((c >= '0' && c <= '9') || (letters && c >= 'A' && c <= 'Z'))) return false;
  }
  return true;
}

}  // namespace

Recorder::CueCodes Recorder::Codes() const {
  // A code of zeros only is how sheets (and discs) say there is none.
  auto zeros = [](const std::string& s) { return s.find_first_not_of('0') == std::string::npos; };
  CueCodes codes;
  if (texts_.catalog.size() == 13 && AllOf(texts_.catalog, 0, 13, false) && !zeros(texts_.catalog))
    codes.catalog = texts_.catalog;
  for (std::size_t k = 0; k < files_.size(); ++k) {
    const std::string isrc = k < texts_.tracks.size() ? texts_.tracks[k].isrc : std::string();
    codes.isrcs.push_back(isrc.size() == 12 && AllOf(isrc, 0, 5, true) && AllOf(isrc, 5, 12, false) && !zeros(isrc)
                              ? isrc
                              : std::string());
  }
  return codes;
}

void Recorder::PrepareCdText() {
  cdTextPacks_.clear();
  leadInStart_ = 0;
  CdText text;
  bool any = false;
  std::vector<std::string> left;
  auto take = [&](const std::string& s) {
    if (s.empty()) return std::string();
    any = true;
    if (FitsCdText(s)) return s;
    if (std::find(left.begin(), left.end(), s) == left.end()) left.push_back(s);
    return std::string();
  };
  text.title = take(texts_.title);
  text.performer = take(texts_.performer);
  const int n = static_cast<int>(files_.size());
  for (int k = 0; k < n && k < static_cast<int>(texts_.tracks.size()); ++k) {
    CdTextTrack t;
    t.number = k + 1;
    t.title = take(texts_.tracks[static_cast<std::size_t>(k)].title);
    t.performer = take(texts_.tracks[static_cast<std::size_t>(k)].performer);
    if (!t.title.empty() || !t.performer.empty()) text.tracks.push_back(t);
  }
  if (!any) return;
  auto say = [&](const std::string& message) {
    dialogs_.Message(message, kRecorderMessageCaption, MsgIcon::Information, MsgButtons::Ok);
  };
  const Drive* drive = CurrentDrive();
  if (!drive || !drive->CanWriteCdText()) {
    say("Привод не умеет записывать CD-Text: диск будет записан без названий альбома и дорожек.");
    return;
  }
  if (!left.empty()) {
    // CD-Text in ISO 8859-1 has no Cyrillic letters (and a double-byte
    // block is only defined for Japanese): such texts are left out whole
    // rather than written as question marks.
    std::string list;
    for (std::size_t i = 0; i < left.size() && i < 5; ++i) list += (i ? ", «" : "«") + left[i] + "»";
    if (left.size() > 5) list += " и ещё " + std::to_string(left.size() - 5);
    say("CD-Text записывается только буквами латиницы (ISO 8859-1); эти названия на диск не записаны: " + list + ".");
  }
  if (text.Empty()) return;
  // The lead-in starts where the blank says (READ DISC INFORMATION, bytes
  // 17..19: an MSF of 90:00:00 or more is before LBA 0).
  std::uint8_t info[kDiscInfoLength] = {};
  std::int32_t start = 0;
  if (DiscInfo(info) && info[18] < 60 && info[19] < 75) {
    const std::int32_t frames = info[17] * 4500 + info[18] * 75 + info[19];
    start = info[17] >= 90 ? frames - 450150 : frames - 150;
  }
  if (start >= -150 || start < -450150 + 90 * 4500) {
    say("Привод не сообщил, где начинается Lead-In диска: диск будет записан без CD-Text.");
    return;
  }
  leadInStart_ = start;
  cdTextPacks_ = EncodeCdTextPacks(text, 1, std::max(n, 1));
}

std::size_t Recorder::WriteBufferBytes(int sectorsPerWrite) {
  return sectorsPerWrite < 75 ? kSmallBufferBytes
                              : static_cast<std::size_t>(sectorsPerWrite) * kBytesPerSector;
}

std::string Recorder::DriveReason() {
  const auto& s = CurrentTransport().LastSense();
  const int key = s[2] & 0x0F, asc = s[12], ascq = s[13];
  std::string text;
  if (key == 0 && asc == 0) text = "привод не ответил";
  else if (asc == 0x3A) text = "в приводе нет диска";
  else if (key == 2 && asc == 0x04) text = "привод не готов";
  else if (asc == 0x21 && ascq == 0x00) text = "сектор за пределами диска (диск заполнен)";
  else if (asc == 0x21 && ascq == 0x02) text = "неверный адрес записи";
  else if (asc == 0x0C) text = "ошибка записи";
  else if (asc == 0x30) text = "диск нельзя записать";
  else if (asc == 0x2C) text = "неверная последовательность команд";
  else {
    char code[48];
    std::snprintf(code, sizeof code, "ошибка привода (%X/%02X/%02X)", key, asc, ascq);
    text = code;
  }
  std::string detail = CurrentTransport().LastDetail();
  while (!detail.empty() && (detail.back() == '.' || detail.back() == ' ')) detail.pop_back();
  if (!detail.empty()) text += ": " + detail;
  return text;
}

bool Recorder::WriteTrack(int index, int sectorsPerWrite, const std::atomic<bool>& cancel) {
  failure_.clear();
  if (cancel.load()) return false;
  if (index < 0 || index >= static_cast<int>(files_.size()) ||
      index + 1 >= static_cast<int>(trackTable_.size()) || sectorsPerWrite <= 0) {
    failure_ = "трек " + std::to_string(index + 1) + " не подготовлен к записи";
    return false;
  }
  auto where = [&](int file) {
    return "трек " + std::to_string(index + 1) + ", файл '" + files_[static_cast<std::size_t>(file)] + "': ";
  };
  auto open = [&](int file) {
    reader_.reset();
    readerFile_ = -1;
    std::string why;
    reader_ = TrackSource::Open(files_[static_cast<std::size_t>(file)], decoderFolder_, &why);
    if (!reader_) {
      failure_ = where(file) + "файл не открывается для чтения" + (why.empty() ? "" : " (" + why + ")");
      return false;
    }
    readerFile_ = file;
    readerSector_ = 0;
    return true;
  };
  // The sector after the last one of a file the disc holds.
  auto fileEnd = [&](int file) {
    std::int32_t end = 0;
    for (const Segment& seg : plan_.segments)
      if (seg.file == file) end = std::max(end, seg.fileSector + seg.sectors);
    return end;
  };
  // Track 1's file is opened before the lead-in is written; a later track's
  // when its audio is reached (its pregap may be the end of the file before,
  // which is still being read).
  if (index == 0 && readerFile_ != 0 && !open(index)) return false;
  Transport& t = CurrentTransport();
  const std::int32_t trackStart = trackTable_[static_cast<std::size_t>(index)];
  const std::int32_t trackEnd = trackTable_[static_cast<std::size_t>(index) + 1];
  std::vector<std::uint8_t> buffer(WriteBufferBytes(sectorsPerWrite));

  if (index == 0) {
    errorCount_ = 0;
    std::string previous;
    if (status_) previous = status_(cdTextPacks_.empty() ? kLeadInStatus : kCdTextLeadInStatus);
    // The lead-in's R-W sub-channel: the CD-Text packs, over and over,
    // from the start of the lead-in up to track 1's pregap. Its progress
    // goes to the progress routine as the LBAs written of leadInStart_..-150
    // (below 0: before the disc's first track).
    constexpr std::int32_t kLeadInBlocksPerWrite = 300;
    if (!cdTextPacks_.empty() && progress_) progress_(leadInStart_, leadInStart_, errorCount_, -150);
    for (std::int32_t lba = leadInStart_; !cdTextPacks_.empty() && lba < -150 && failure_.empty();
         lba += kLeadInBlocksPerWrite) {
      const int count = std::min<std::int32_t>(kLeadInBlocksPerWrite, -150 - lba);
      std::vector<std::uint8_t> blocks = CdTextLeadInBlocks(cdTextPacks_, lba - leadInStart_, count);
      if (cancel.load()) {
        failure_.clear();
        if (status_) status_(previous);
        return false;
      }
      if (!Ok(WriteSectors(t, blocks.data(), lba, static_cast<std::uint16_t>(count),
                           static_cast<std::uint32_t>(kRwBlockBytes)))) {
        ++errorCount_;
        failure_ = "привод не записал Lead-In (CD-Text): " + DriveReason();
      } else if (progress_) {
        progress_(lba + count, leadInStart_, errorCount_, -150);
      }
    }
    // Track 1's pregap: 150 sectors of silence at LBA -150..-1, in front of
    // the track's first sector at LBA 0, as session at once lays it out.
    std::memset(buffer.data(), 0, kSmallBufferBytes <= buffer.size() ? kSmallBufferBytes : buffer.size());
    for (std::int32_t lba = -150; lba < 0 && failure_.empty(); lba += 5)
      if (!Ok(WriteSectors(t, buffer.data(), lba, 5, kBytesPerSector))) {
        ++errorCount_;
        failure_ = "привод не записал Lead-In: " + DriveReason();
      }
    if (failure_.empty()) WaitReady();
    if (status_) status_(previous);
    if (!failure_.empty()) {
      if (progress_) progress_(trackStart, trackStart, errorCount_, trackEnd);
      return false;
    }
  }

  // Fills the buffer with the sectors from..from+count-1: silence where the
  // plan has it, else the files' audio (with their gains).
  auto fill = [&](std::int32_t from, std::int32_t count) {
    std::memset(buffer.data(), 0, static_cast<std::size_t>(count) * kBytesPerSector);
    for (const Segment& seg : plan_.segments) {
      const std::int32_t lo = std::max(from, seg.lba);
      const std::int32_t hi = std::min(from + count, seg.lba + seg.sectors);
      if (lo >= hi || seg.file < 0) continue;
      const std::int32_t sector = seg.fileSector + (lo - seg.lba);
      if (seg.file != readerFile_ && !open(seg.file)) return false;
      if (sector != readerSector_ && !reader_->SeekData(static_cast<std::uint64_t>(sector) * kBytesPerSector)) {
        failure_ = where(seg.file) + "файл не читается: " +
                   (reader_->Error().empty() ? std::string(std::strerror(errno)) : reader_->Error());
        return false;
      }
      std::uint8_t* at = buffer.data() + static_cast<std::size_t>(lo - from) * kBytesPerSector;
      const std::uint32_t want = static_cast<std::uint32_t>(hi - lo) * kBytesPerSector;
      std::uint32_t got = 0;
      const bool read = reader_->Read(at, want, &got);
      if (!read || got < want) {
        // The file ended (or failed) before the track: what follows would be
        // silence the user never recorded.
        failure_ = where(seg.file) + (!read ? "файл не читается: " + reader_->Error()
                                            : std::string("файл кончился раньше, чем при подготовке записи"));
        return false;
      }
      readerSector_ = sector + (hi - lo);
      // The file's last sector: before it goes to the disc, the decoder
      // checks the whole file (a damaged FLAC file fails its MD5 signature
      // here, and the disc is not said to be written).
      if (readerSector_ == fileEnd(seg.file) && !reader_->Finish()) {
        failure_ = where(seg.file) + "файл не читается: " + reader_->Error();
        readerFile_ = -1;
        return false;
      }
      if (normalize_ && static_cast<std::size_t>(seg.file) < gains_.size())
        ApplyGain(at, want, gains_[static_cast<std::size_t>(seg.file)]);
    }
    return true;
  };

  std::int32_t current = trackStart;
  std::int32_t count = sectorsPerWrite;
  while (current < trackEnd && !cancel.load()) {
    if (trackEnd - current < count) count = trackEnd - current;
    if (progress_) progress_(current, trackStart, errorCount_, trackEnd);
    if (!fill(current, count)) return false;
    if (!Ok(WriteSectors(t, buffer.data(), current, static_cast<std::uint16_t>(count), kBytesPerSector))) {
      ++errorCount_;
      failure_ = where(index) + "привод не записал секторы " + std::to_string(current) + "–" +
                 std::to_string(current + count - 1) + ": " + DriveReason();
      if (progress_) progress_(current, trackStart, errorCount_, trackEnd);
      return false;
    }
    // What the drive took, sector by sector, for the verify step.
    for (std::int32_t k = 0; k < count; ++k) {
      const auto at = static_cast<std::size_t>(current + k);
      if (current + k < 0 || at >= sectorCrcs_.size()) continue;
      sectorCrcs_[at] = SectorCrc(buffer.data() + static_cast<std::size_t>(k) * kBytesPerSector);
      sectorWritten_[at] = true;
    }
    current += count;
  }
  if (index + 2 >= static_cast<int>(trackTable_.size())) {
    // The disc's last track: its file is done with.
    reader_.reset();
    readerFile_ = -1;
  }
  return current >= trackEnd;
}

bool Recorder::VerifyTracks(int readOffsetSamples, const std::atomic<bool>& cancel,
                            std::vector<TrackCheck>& checks) {
  checks.clear();
  const std::int32_t total = TotalSectors();
  if (total <= 0 || sectorCrcs_.size() != static_cast<std::size_t>(total)) return false;
  WaitReady();  // a drive that has just closed a session may still be busy
  Transport& t = CurrentTransport();
  // A drive that reads off by some samples cannot give the disc's first
  // (offset below 0) or last (above 0) samples: the sectors holding them
  // read as silence and are not compared.
  const std::int32_t unreadable = (std::abs(readOffsetSamples) + 587) / 588;
  const std::int32_t firstComparable = readOffsetSamples < 0 ? unreadable : 0;
  const std::int32_t endComparable = readOffsetSamples > 0 ? total - unreadable : total;
  for (std::size_t k = 0; k + 1 < trackTable_.size(); ++k) {
    if (cancel.load()) return false;
    TrackCheck c;
    c.track = static_cast<int>(k + 1);
    const std::int32_t start = std::max<std::int32_t>(trackTable_[k], 0);
    const std::int32_t end = std::min(trackTable_[k + 1], total);
    std::int32_t checked = 0;
    if (progress_) progress_(start, start, errorCount_, end);
    ReadAudioRangeCorrected(
        t, start, end - start, readOffsetSamples, total, kDefaultSectorsPerRead,
        [&](std::int32_t lba, int sectors, const std::uint8_t* data, CommandResult result) {
          if (progress_) progress_(lba, start, errorCount_, end);
          if (!t.Succeeded(result)) {
            c.readFailed = true;
            c.firstBad = lba - start;
            return false;
          }
          for (int i = 0; i < sectors; ++i) {
            const auto at = static_cast<std::size_t>(lba + i);
            if (lba + i < firstComparable || lba + i >= endComparable) continue;
            if (!sectorWritten_[at] || SectorCrc(data + static_cast<std::size_t>(i) * kBytesPerSector) != sectorCrcs_[at]) {
              c.firstBad = lba + i - start;
              return false;
            }
          }
          checked += sectors;
          return !cancel.load();
        });
    if (c.firstBad < 0 && checked < end - start) {
      if (cancel.load()) return false;
      // The reads ended early without saying why.
      c.readFailed = true;
      c.firstBad = checked;
    }
    c.same = c.firstBad < 0;
    checks.push_back(c);
  }
  return true;
}

std::string Recorder::VerifyText(const std::vector<TrackCheck>& checks) {
  std::string text;
  for (const TrackCheck& c : checks) {
    if (c.same) continue;
    const std::int32_t f = std::max<std::int32_t>(c.firstBad, 0);
    char at[32];
    std::snprintf(at, sizeof at, "%02d:%02d.%02d", f / 4500, (f / 75) % 60, f % 75);
    if (!text.empty()) text += "\n";
    text += "Дорожка " + std::to_string(c.track) +
            (c.readFailed ? " не читается с позиции " : " отличается от источника с позиции ") + at;
  }
  return text.empty() ? std::string("Проверка записи: все дорожки совпадают") : text;
}

bool Recorder::CloseSession() {
  failure_.clear();
  if (Ok(sonarvex::CloseSession(CurrentTransport()))) return true;
  failure_ = "привод не закрыл сессию: " + DriveReason();
  return false;
}
bool Recorder::BlankMinimal() { return Ok(BlankDisc(CurrentTransport(), 1)); }
bool Recorder::BlankFull() { return Ok(BlankDisc(CurrentTransport(), 0)); }
bool Recorder::DoOPC() { return Ok(SendOPC(CurrentTransport())); }
bool Recorder::SetSpeed(int factor) { return Ok(SetWriteSpeed(CurrentTransport(), factor)); }
bool Recorder::Lock(bool lock) { return Ok(LockMedium(CurrentTransport(), lock)); }
bool Recorder::Eject(bool eject) { return Ok(StartStopUnit(CurrentTransport(), eject)); }
bool Recorder::IsReady() { return CurrentTransport().TestUnitReady(); }

bool Recorder::MediaChanged() {
  const std::uint8_t state = IsReady() ? 1 : 0;
  const bool changed = state != mediaState_;
  mediaState_ = state;
  return changed;
}

int Recorder::WaitReady() {
  const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitReadyLimitMs_);
  int result;
  while ((result = TestUnitReadySense(CurrentTransport())) == 2) {
    if (std::chrono::steady_clock::now() >= limit) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return result;
}

bool Recorder::DiscInfo(std::uint8_t (&buffer)[kDiscInfoLength]) {
  return Ok(ReadDiscInfo(CurrentTransport(), buffer));
}

int Recorder::Mechanism() { return MechanismStatus(CurrentTransport()); }

Recorder::DiscState Recorder::ReadDiscState() {
  DiscState s;
  s.ready = IsReady();
  if (s.ready) {
    std::uint8_t info[kDiscInfoLength] = {};
    DiscInfo(info);
    s.status = info[2] & 0x03;
    s.erasable = (info[2] & 0x10) != 0;
  }
  return s;
}

}  // namespace sonarvex

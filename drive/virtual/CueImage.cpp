#include "drive/virtual/CueImage.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/Cp1251.h"
#include "platform/Files.h"

namespace sonarvex {

namespace {

constexpr std::int32_t kMaxDiscLba = 100 * 4500 - 150;  // 99:59:74

}  // namespace

std::optional<CueLayout> LayoutCueSheet(const CueSheet& sheet,
                                        const std::vector<std::uint64_t>& fileSizes,
                                        std::string* error) {
  auto fail = [&](std::string why) -> std::optional<CueLayout> {
    if (error) *error = std::move(why);
    return std::nullopt;
  };
  if (fileSizes.size() != sheet.files.size()) return fail("внутренняя ошибка: размеры файлов");
  const int n = static_cast<int>(sheet.tracks.size());
  if (n == 0) return fail("в CUE-файле нет треков");

  // The disc is every sector of every file, in order, with the PREGAP and
  // POSTGAP silence and the gaps between sessions inserted. The INDEX 00 and
  // INDEX 01 marks cut the files into stretches; each stretch belongs to the
  // track whose mark opens it. What a file holds before its first mark
  // belongs to the track of that mark (for track 1: audio before INDEX 01
  // without an INDEX 00 is its pregap, not thrown away).
  // INDEX 02 and later only mark a place inside their track.
  enum class Kind { Index0, Index1, Later };
  struct Mark {
    int track, file, frames;
    Kind kind;
  };
  std::vector<Mark> marks;
  for (int k = 0; k < n; ++k) {
    const CueImageTrack& t = sheet.tracks[static_cast<std::size_t>(k)];
    if (t.index1 < 0 || t.file < 0 || t.file >= static_cast<int>(sheet.files.size()))
      return fail("у трека " + std::to_string(t.number) + " нет INDEX 01");
    if (t.index0 >= 0 && t.index0File >= 0 && t.index0File <= t.file)
      marks.push_back(Mark{k, t.index0File, t.index0, Kind::Index0});
    marks.push_back(Mark{k, t.file, t.index1, Kind::Index1});
    for (const CueIndexMark& i : t.indices) {
      if (i.file < 0 || i.file >= static_cast<int>(sheet.files.size()))
        return fail("у трека " + std::to_string(t.number) + " неверный INDEX");
      marks.push_back(Mark{k, i.file, i.frames, Kind::Later});
    }
  }
  for (std::size_t m = 1; m < marks.size(); ++m)
    if (marks[m].file < marks[m - 1].file ||
        (marks[m].file == marks[m - 1].file && marks[m].frames < marks[m - 1].frames))
      return fail("индексы трека " + std::to_string(sheet.tracks[static_cast<std::size_t>(marks[m].track)].number) +
                  " идут назад");

  CueLayout layout;
  layout.tracks.resize(static_cast<std::size_t>(n));
  std::vector<std::int64_t> dataEnd(static_cast<std::size_t>(n), 0);  // before its POSTGAP
  std::vector<std::int64_t> owned(static_cast<std::size_t>(n), 0);    // its first sector
  std::int64_t cursor = 0;  // next disc LBA
  int owner = -1;           // track whose sectors are being laid out
  auto track = [&](int k) -> const CueImageTrack& { return sheet.tracks[static_cast<std::size_t>(k)]; };
  auto silence = [&](int k, int sectors) {
    if (sectors <= 0) return;
    layout.segments.push_back(CueSegment{static_cast<std::int32_t>(cursor), sectors, -1, 0,
                                         track(k).sectorSize, track(k).audio});
    cursor += sectors;
  };
  // Moves on to track k: the POSTGAP of the track before, the gap between
  // sessions, the PREGAP of k.
  auto enter = [&](int k) {
    while (owner < k) {
      if (owner >= 0) {
        dataEnd[static_cast<std::size_t>(owner)] = cursor;
        silence(owner, track(owner).postgap);
        if (track(owner + 1).session != track(owner).session) cursor += kSessionGapFrames;
      }
      ++owner;
      owned[static_cast<std::size_t>(owner)] = cursor;
      silence(owner, track(owner).pregap);
    }
  };
  auto stretch = [&](int k, int file, std::uint64_t byteOffset, std::int64_t sectors) {
    enter(k);
    if (sectors <= 0) return;
    layout.segments.push_back(CueSegment{static_cast<std::int32_t>(cursor), static_cast<std::int32_t>(sectors),
                                         file, byteOffset, track(k).sectorSize, track(k).audio});
    cursor += sectors;
  };

  std::size_t next = 0;  // next mark
  for (int f = 0; f < static_cast<int>(sheet.files.size()); ++f) {
    const std::uint64_t size = fileSizes[static_cast<std::size_t>(f)];
    const std::string& fileName = sheet.files[static_cast<std::size_t>(f)].name;
    // The owner of the file's first stretch: the track of its first mark; a
    // file without marks goes with the next mark, or the last one.
    int current = next < marks.size() ? marks[next].track : marks.back().track;
    std::uint64_t byteOffset = 0;
    int from = 0;  // frames into the file
    for (; next < marks.size() && marks[next].file == f; ++next) {
      const Mark& m = marks[next];
      const std::uint64_t sectors = static_cast<std::uint64_t>(m.frames - from);
      const std::uint64_t bytes = sectors * static_cast<std::uint64_t>(track(current).sectorSize);
      if (byteOffset + bytes > size) return fail("файл «" + fileName + "» короче, чем указано в CUE-файле");
      stretch(current, f, byteOffset, static_cast<std::int64_t>(sectors));
      if (cursor > kMaxDiscLba) return fail("образ длиннее 99:59:74");
      byteOffset += bytes;
      from = m.frames;
      current = m.track;
      enter(current);
      if (m.kind == Kind::Index1)
        layout.tracks[static_cast<std::size_t>(current)].startLba = static_cast<std::int32_t>(cursor);
      else if (m.kind == Kind::Later)
        layout.tracks[static_cast<std::size_t>(current)].indexLbas.push_back(static_cast<std::int32_t>(cursor));
    }
    // The rest of the file; a partial last sector is dropped.
    const std::int64_t rest = static_cast<std::int64_t>((size - byteOffset) /
                                                        static_cast<std::uint64_t>(track(current).sectorSize));
    if (rest > kMaxDiscLba) return fail("образ длиннее 99:59:74");
    stretch(current, f, byteOffset, rest);
    if (cursor > kMaxDiscLba) return fail("образ длиннее 99:59:74");
  }
  enter(n - 1);
  dataEnd[static_cast<std::size_t>(n - 1)] = cursor;
  silence(n - 1, track(n - 1).postgap);
  if (cursor > kMaxDiscLba) return fail("образ длиннее 99:59:74");

  for (int k = 0; k < n; ++k) {
    const CueImageTrack& t = track(k);
    VirtualTrack& vt = layout.tracks[static_cast<std::size_t>(k)];
    vt.number = t.number;
    vt.control = static_cast<std::uint8_t>((t.audio ? 0 : 4) | (t.audio ? t.flags : (t.flags & 0x02)));
    vt.session = t.session;
    if (dataEnd[static_cast<std::size_t>(k)] <= vt.startLba) return fail("трек " + std::to_string(t.number) + " пустой");
    // An index point on INDEX 01 itself (or on the one before) marks nothing.
    std::vector<std::int32_t> points;
    for (std::int32_t at : vt.indexLbas)
      if (at > (points.empty() ? vt.startLba : points.back())) points.push_back(at);
    vt.indexLbas = std::move(points);
    const std::int64_t end = k + 1 < n ? dataEnd[static_cast<std::size_t>(k)] + t.postgap : cursor;
    vt.sectors = static_cast<std::int32_t>(end - vt.startLba);
    vt.pregapSectors = static_cast<std::int32_t>(vt.startLba - owned[static_cast<std::size_t>(k)]);
    vt.isrc = t.audio ? t.isrc : std::string();
  }
  // A track runs on to the next track's start in the same session (its
  // pregap belongs to it in the table of contents).
  for (std::size_t k = 0; k + 1 < layout.tracks.size(); ++k)
    if (layout.tracks[k + 1].session == layout.tracks[k].session)
      layout.tracks[k].sectors = layout.tracks[k + 1].startLba - layout.tracks[k].startLba;
  for (VirtualTrack& t : layout.tracks)
    while (!t.indexLbas.empty() && t.indexLbas.back() >= t.startLba + t.sectors) t.indexLbas.pop_back();
  layout.leadOutLba = static_cast<std::int32_t>(cursor);
  return layout;
}

namespace {

// A BIN file read through a read-ahead window: audio is read sector by
// sector in order, and one large read serves many of them.
class BinFile {
 public:
  explicit BinFile(int fd) : fd_(fd) {}
  ~BinFile() { ::close(fd_); }
  bool Read(std::uint64_t offset, std::uint8_t* out, std::size_t n) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (n > kWindow) return ReadDirect(offset, out, n);
    if (offset < start_ || offset + n > start_ + length_) {
      // The window also serves a read that starts a little before it.
      start_ = offset;
      length_ = 0;
      ssize_t r;
      do {
        r = ::pread(fd_, window_.data(), kWindow, static_cast<off_t>(offset));
      } while (r < 0 && errno == EINTR);
      if (r <= 0) return false;
      length_ = static_cast<std::size_t>(r);
      if (offset + n > start_ + length_) return false;  // the file ends inside the read
    }
    std::memcpy(out, window_.data() + (offset - start_), n);
    return true;
  }

 private:
  static constexpr std::size_t kWindow = 64 * 2352;
  bool ReadDirect(std::uint64_t offset, std::uint8_t* out, std::size_t n) const {
    std::size_t done = 0;
    while (done < n) {
      const ssize_t r = ::pread(fd_, out + done, n - done, static_cast<off_t>(offset + done));
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) return false;
      done += static_cast<std::size_t>(r);
    }
    return true;
  }

  int fd_;
  mutable std::mutex mutex_;
  mutable std::vector<std::uint8_t> window_ = std::vector<std::uint8_t>(kWindow);
  mutable std::uint64_t start_ = 0;
  mutable std::size_t length_ = 0;
};

std::uint8_t Bcd(int v) { return static_cast<std::uint8_t>((v / 10) << 4 | (v % 10)); }

void DataHeader(std::int32_t lba, std::uint8_t mode, std::uint8_t* out) {
  out[0] = 0;
  std::memset(out + 1, 0xFF, 10);
  out[11] = 0;
  const std::int32_t a = lba + 150;
  out[12] = Bcd(a / 4500);
  out[13] = Bcd((a / 75) % 60);
  out[14] = Bcd(a % 75);
  out[15] = mode;
}

}  // namespace

std::optional<VirtualDisc> LoadCueImage(const std::string& cuePath, std::string* error) {
  std::string problem;
  auto text = ReadFileBytes(cuePath, kMaxCueSheetBytes + 1, &problem);
  if (!text) {
    if (error) *error = problem.empty() ? "нет файла «" + cuePath + "»" : problem;
    return std::nullopt;
  }
  auto sheet = ParseCueSheet(*text, error);
  if (!sheet) return std::nullopt;

  std::string folder = cuePath;
  const auto slash = folder.rfind('/');
  folder = slash == std::string::npos ? std::string(".") : folder.substr(0, slash);

  std::vector<std::shared_ptr<BinFile>> files;
  std::vector<std::uint64_t> sizes;
  std::vector<bool> swap;
  for (const auto& f : sheet->files) {
    std::string path;
    std::string ambiguity;
    if (!ResolveListedFile(folder, f.name, &path, &ambiguity)) {
      if (error) *error = ambiguity + " (указан в CUE-файле)";
      return std::nullopt;
    }
    // Only a regular file, opened without blocking: a FIFO or a device named
    // by the sheet would hang every tray close.
    std::string refused;
    const int fd = OpenRegularFile(path, &refused);
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0) {
      if (fd >= 0) ::close(fd);
      if (error)
        *error = refused.empty() ? "нет файла «" + f.name + "», указанного в CUE-файле"
                                 : refused + " (указан в CUE-файле)";
      return std::nullopt;
    }
    files.push_back(std::make_shared<BinFile>(fd));
    sizes.push_back(static_cast<std::uint64_t>(st.st_size));
    swap.push_back(f.bigEndian);
  }
  auto layout = LayoutCueSheet(*sheet, sizes, error);
  if (!layout) return std::nullopt;

  VirtualDisc disc;
  disc.tracks = layout->tracks;
  disc.leadOutLba = layout->leadOutLba;
  disc.description = cuePath;
  disc.catalog = sheet->catalog;
  // TITLE and PERFORMER are the disc's CD-Text, as a disc burnt from the
  // sheet would carry them. A sheet's text is UTF-8, or code page 1251 from
  // older programs.
  auto utf8 = [](const std::string& t) {
    return IsAscii(t) || IsNonAsciiUtf8(t) ? t : Cp1251ToUtf8(t);
  };
  disc.cdText.title = utf8(sheet->title);
  disc.cdText.performer = utf8(sheet->performer);
  for (const CueImageTrack& t : sheet->tracks) {
    if (t.title.empty() && t.performer.empty()) continue;
    CdTextTrack ct;
    ct.number = t.number;
    ct.title = utf8(t.title);
    ct.performer = utf8(t.performer);
    disc.cdText.tracks.push_back(ct);
  }
  auto segments = layout->segments;
  disc.read = [segments, files, swap](std::int32_t lba, std::uint8_t* out) {
    for (const auto& s : segments) {
      if (lba < s.lba || lba >= s.lba + s.sectors) continue;
      const std::uint64_t rel = static_cast<std::uint64_t>(lba - s.lba);
      if (s.file < 0) {
        std::memset(out, 0, kRawSectorBytes);
        if (!s.audio) DataHeader(lba, 1, out);
        return true;
      }
      const auto& file = files[static_cast<std::size_t>(s.file)];
      const std::uint64_t at = s.byteOffset + rel * static_cast<std::uint64_t>(s.sectorSize);
      if (s.sectorSize == kRawSectorBytes) {
        if (!file->Read(at, out, kRawSectorBytes)) return false;
        if (s.audio && swap[static_cast<std::size_t>(s.file)])
          for (int i = 0; i < kRawSectorBytes; i += 2) std::swap(out[i], out[i + 1]);
        return true;
      }
      std::memset(out, 0, kRawSectorBytes);
      if (s.sectorSize == 2048) {
        DataHeader(lba, 1, out);
        return file->Read(at, out + 16, 2048);
      }
      DataHeader(lba, 2, out);
      return file->Read(at, out + 16, 2336);
    }
    return false;
  };
  return disc;
}

}  // namespace sonarvex

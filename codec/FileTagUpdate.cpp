#include "codec/FileTagUpdate.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "codec/Id3v2Writer.h"

namespace sonarvex {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Room a file written anew keeps for tags added later.
constexpr std::uint32_t kNewPadding = 4096;

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto up = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; };
    if (up(a[i]) != up(b[i])) return false;
  }
  return true;
}

bool Replaced(std::string_view name, const TagPairs& tags) {
  for (const auto& [key, value] : tags)
    if (SameName(name, key)) return true;
  return false;
}

std::string TagFailure(const std::string& path, const std::string& why) {
  return "Не удалось записать теги в файл '" + path + "': " + why + ".";
}

std::string ReadFailure(const std::string& path, int err) {
  return "Не удалось прочитать файл '" + path + "': " + std::strerror(err) + ".";
}

// The file being updated, open for reading (and writing in place).
class UpdatedFile {
 public:
  ~UpdatedFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  WriteResult Open(const std::string& path) {
    path_ = path;
    fd_ = ::open(path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd_ < 0) return WriteResult::Failure(ReadFailure(path, errno));
    if (::fstat(fd_, &st_) != 0) return WriteResult::Failure(ReadFailure(path, errno));
    if (!S_ISREG(st_.st_mode)) return WriteResult::Failure(TagFailure(path, "это не обычный файл"));
    return {};
  }
  std::uint64_t Size() const { return static_cast<std::uint64_t>(st_.st_size); }
  // Exactly n bytes at offset (fewer only at the end of the file: `got`).
  WriteResult ReadAt(std::uint64_t offset, std::size_t n, Bytes& out) const {
    out.resize(n);
    std::size_t got = 0;
    while (got < n) {
      const ssize_t r = ::pread(fd_, out.data() + got, n - got, static_cast<off_t>(offset + got));
      if (r < 0 && errno == EINTR) continue;
      if (r < 0) return WriteResult::Failure(ReadFailure(path_, errno));
      if (r == 0) break;
      got += static_cast<std::size_t>(r);
    }
    out.resize(got);
    return {};
  }
  // Replaces bytes of the file with as many others and syncs it.
  WriteResult OverwriteAt(std::uint64_t offset, const Bytes& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t w = ::pwrite(fd_, bytes.data() + done, bytes.size() - done,
                                 static_cast<off_t>(offset + done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) return WriteResult::Failure(WriteFailureText(path_, w < 0 ? errno : EIO));
      done += static_cast<std::size_t>(w);
    }
    if (::fsync(fd_) != 0) return WriteResult::Failure(WriteFailureText(path_, errno));
    return {};
  }
  // Writes `head` followed by the file's bytes from `from` on into a new
  // file beside it and renames that over it.
  WriteResult Rewrite(const Bytes& head, std::uint64_t from) {
    const std::string temp = path_ + ".tags.part";
    RemoveStalePartial(temp);
    OutputFile out;
    if (WriteResult r = out.Create(temp); !r) return r;
    if (WriteResult r = out.Write(head.data(), head.size()); !r) return r;
    Bytes block;
    for (std::uint64_t at = from; at < Size();) {
      const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(1u << 20, Size() - at));
      if (WriteResult r = ReadAt(at, n, block); !r) return r;
      if (block.size() != n) return WriteResult::Failure(ReadFailure(path_, EIO));
      if (WriteResult r = out.Write(block.data(), block.size()); !r) return r;
      at += n;
    }
    if (WriteResult r = out.Finish(); !r) return r;
    ClearOwnMark(temp);
    ::chmod(temp.c_str(), st_.st_mode & 07777);
    if (::rename(temp.c_str(), path_.c_str()) != 0) {
      const int err = errno;
      ::unlink(temp.c_str());
      return WriteResult::Failure(WriteFailureText(path_, err));
    }
    return {};
  }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
  int fd_ = -1;
  struct stat st_ {};
};

std::uint32_t Le32(const std::uint8_t* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
std::uint32_t Be32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
}
void PutLe32(Bytes& b, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// ---- Vorbis comments (FLAC, Ogg) -------------------------------------------

// The vendor text and the comments of a comment structure (little-endian
// lengths); `rest` is what follows the comments (Ogg's framing bit, Opus's
// extra data). False when the structure does not hold together.
struct CommentList {
  std::string vendor;
  std::vector<std::string> comments;
  Bytes rest;
};

bool ParseComments(const std::uint8_t* p, std::size_t n, CommentList& out) {
  std::size_t at = 0;
  auto text = [&](std::string& s) {
    if (n - at < 4) return false;
    const std::uint32_t len = Le32(p + at);
    at += 4;
    if (len > n - at) return false;
    s.assign(reinterpret_cast<const char*>(p + at), len);
    at += len;
    return true;
  };
  if (!text(out.vendor) || n - at < 4) return false;
  const std::uint32_t count = Le32(p + at);
  at += 4;
  if (count > (n - at) / 4) return false;
  out.comments.resize(count);
  for (std::string& c : out.comments)
    if (!text(c)) return false;
  out.rest.assign(p + at, p + n);
  return true;
}

Bytes BuildComments(const CommentList& list, const TagPairs& tags) {
  std::vector<std::string> comments;
  for (const std::string& c : list.comments)
    if (!Replaced(std::string_view(c).substr(0, c.find('=')), tags)) comments.push_back(c);
  for (const auto& [key, value] : tags) comments.push_back(key + "=" + value);
  Bytes b;
  PutLe32(b, static_cast<std::uint32_t>(list.vendor.size()));
  b.insert(b.end(), list.vendor.begin(), list.vendor.end());
  PutLe32(b, static_cast<std::uint32_t>(comments.size()));
  for (const std::string& c : comments) {
    PutLe32(b, static_cast<std::uint32_t>(c.size()));
    b.insert(b.end(), c.begin(), c.end());
  }
  b.insert(b.end(), list.rest.begin(), list.rest.end());
  return b;
}

// ---- Ogg pages -------------------------------------------------------------

std::uint32_t OggCrc(const std::uint8_t* p, std::size_t n) {
  static const auto table = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t r = i << 24;
      for (int k = 0; k < 8; ++k) r = r & 0x80000000u ? (r << 1) ^ 0x04C11DB7u : r << 1;
      t[i] = r;
    }
    return t;
  }();
  std::uint32_t crc = 0;
  for (std::size_t i = 0; i < n; ++i) crc = (crc << 8) ^ table[((crc >> 24) ^ p[i]) & 0xFF];
  return crc;
}

void SealPage(std::uint8_t* page, std::size_t size) {
  std::memset(page + 22, 0, 4);
  const std::uint32_t crc = OggCrc(page, size);
  for (int i = 0; i < 4; ++i) page[22 + i] = static_cast<std::uint8_t>(crc >> (8 * i));
}

struct OggPage {
  std::size_t offset = 0, size = 0;  // the whole page
  std::size_t body = 0;              // where its body starts
  std::uint8_t flags = 0;
  std::uint32_t serial = 0, sequence = 0;
  std::vector<std::uint8_t> lacing;
};

bool ParsePage(const Bytes& f, std::size_t at, OggPage& page) {
  if (f.size() - at < 27 || std::memcmp(f.data() + at, "OggS", 4) != 0 || f[at + 4] != 0)
    return false;
  const std::size_t segments = f[at + 26];
  if (f.size() - at - 27 < segments) return false;
  page.offset = at;
  page.flags = f[at + 5];
  page.serial = Le32(&f[at + 14]);
  page.sequence = Le32(&f[at + 18]);
  page.lacing.assign(f.begin() + static_cast<long>(at + 27),
                     f.begin() + static_cast<long>(at + 27 + segments));
  page.body = at + 27 + segments;
  std::size_t bodySize = 0;
  for (std::uint8_t l : page.lacing) bodySize += l;
  if (f.size() - page.body < bodySize) return false;
  page.size = page.body - at + bodySize;
  return true;
}

// Pages holding the packets (granule 0 where a packet ends, -1 where none
// does), numbered from `sequence` on.
Bytes Paginate(const std::vector<Bytes>& packets, std::uint32_t serial, std::uint32_t sequence,
               std::uint32_t& pages) {
  Bytes out;
  std::vector<std::uint8_t> lacing;
  Bytes body;
  bool continued = false, packetEnded = false;
  pages = 0;
  auto flush = [&](bool nextContinues) {
    const std::size_t start = out.size();
    const char magic[] = "OggS";
    out.insert(out.end(), magic, magic + 4);
    out.push_back(0);
    out.push_back(continued ? 1 : 0);
    const std::uint64_t granule = packetEnded ? 0 : ~0ull;
    for (int i = 0; i < 8; ++i) out.push_back(static_cast<std::uint8_t>(granule >> (8 * i)));
    PutLe32(out, serial);
    PutLe32(out, sequence + pages);
    PutLe32(out, 0);
    out.push_back(static_cast<std::uint8_t>(lacing.size()));
    out.insert(out.end(), lacing.begin(), lacing.end());
    out.insert(out.end(), body.begin(), body.end());
    SealPage(out.data() + start, out.size() - start);
    ++pages;
    lacing.clear();
    body.clear();
    continued = nextContinues;
    packetEnded = false;
  };
  for (const Bytes& packet : packets) {
    std::size_t left = packet.size(), at = 0;
    while (true) {
      if (lacing.size() == 255) flush(true);
      const std::size_t n = std::min<std::size_t>(left, 255);
      lacing.push_back(static_cast<std::uint8_t>(n));
      body.insert(body.end(), packet.begin() + static_cast<long>(at),
                  packet.begin() + static_cast<long>(at + n));
      at += n;
      left -= n;
      if (n < 255) break;
    }
    packetEnded = true;
  }
  // The last header packet ends its page: the audio starts on a page of its own.
  if (!lacing.empty()) flush(false);
  return out;
}

// ---- ID3v2 -----------------------------------------------------------------

std::uint32_t Synchsafe(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0] & 0x7F) << 21 | (p[1] & 0x7F) << 14 | (p[2] & 0x7F) << 7 |
         (p[3] & 0x7F);
}

// The description of a TXXX frame's body, as far as it is ASCII.
std::string UserTextDescription(const std::uint8_t* p, std::size_t n) {
  std::string d;
  if (n == 0) return d;
  const std::uint8_t encoding = p[0];
  if (encoding == 0 || encoding == 3) {
    for (std::size_t i = 1; i < n && p[i] != 0; ++i) d.push_back(static_cast<char>(p[i]));
  } else {
    std::size_t i = 1;
    bool bigEndian = encoding == 2;
    if (n >= 3 && p[1] == 0xFE && p[2] == 0xFF) bigEndian = true, i = 3;
    else if (n >= 3 && p[1] == 0xFF && p[2] == 0xFE) i = 3;
    for (; i + 1 < n; i += 2) {
      const unsigned unit = bigEndian ? p[i] << 8 | p[i + 1] : p[i] | p[i + 1] << 8;
      if (unit == 0) break;
      d.push_back(unit < 0x80 ? static_cast<char>(unit) : '?');
    }
  }
  return d;
}

}  // namespace

WriteResult SetFlacComments(const std::string& path, const TagPairs& tags) {
  UpdatedFile file;
  if (WriteResult r = file.Open(path); !r) return r;
  Bytes head;
  if (WriteResult r = file.ReadAt(0, 4, head); !r) return r;
  if (head.size() != 4 || std::memcmp(head.data(), "fLaC", 4) != 0)
    return WriteResult::Failure(TagFailure(path, "это не файл FLAC"));
  // The metadata blocks up to the last one.
  struct Block {
    std::uint8_t type;
    Bytes data;
  };
  std::vector<Block> blocks;
  std::uint64_t at = 4;
  for (bool last = false; !last;) {
    Bytes header;
    if (WriteResult r = file.ReadAt(at, 4, header); !r) return r;
    if (header.size() != 4 || (blocks.empty() && (header[0] & 0x7F) != 0))
      return WriteResult::Failure(TagFailure(path, "метаданные FLAC повреждены"));
    last = (header[0] & 0x80) != 0;
    const std::uint32_t length = static_cast<std::uint32_t>(header[1]) << 16 | header[2] << 8 | header[3];
    Block b{static_cast<std::uint8_t>(header[0] & 0x7F), {}};
    if (WriteResult r = file.ReadAt(at + 4, length, b.data); !r) return r;
    if (b.data.size() != length)
      return WriteResult::Failure(TagFailure(path, "метаданные FLAC повреждены"));
    at += 4 + length;
    blocks.push_back(std::move(b));
  }
  const std::uint64_t metadataEnd = at;

  // The blocks again, the comments set, the padding left out.
  std::vector<Block> kept;
  bool haveComments = false;
  for (Block& b : blocks) {
    if (b.type == 1) continue;  // padding
    if (b.type == 4 && !haveComments) {
      CommentList list;
      if (!ParseComments(b.data.data(), b.data.size(), list))
        return WriteResult::Failure(TagFailure(path, "метаданные FLAC повреждены"));
      b.data = BuildComments(list, tags);
      haveComments = true;
    }
    kept.push_back(std::move(b));
  }
  if (!haveComments) {
    CommentList list;
    list.vendor = "Sonarvex";
    kept.insert(kept.begin() + 1, Block{4, BuildComments(list, tags)});
  }
  std::uint64_t needed = 4;
  for (const Block& b : kept) {
    if (b.data.size() >= (1u << 24))
      return WriteResult::Failure(TagFailure(path, "теги не помещаются в блок метаданных FLAC"));
    needed += 4 + b.data.size();
  }
  // In place when the blocks fit exactly or leave room for a padding block;
  // else the file is written anew with fresh padding.
  const bool inPlace = needed == metadataEnd || needed + 4 <= metadataEnd;
  const std::uint64_t padding = inPlace ? (needed == metadataEnd ? 0 : metadataEnd - needed - 4)
                                        : kNewPadding;
  if (inPlace && padding >= (1u << 24))
    return WriteResult::Failure(TagFailure(path, "метаданные FLAC повреждены"));
  const bool withPadding = !inPlace || needed != metadataEnd;
  Bytes out = {'f', 'L', 'a', 'C'};
  for (std::size_t k = 0; k < kept.size(); ++k) {
    const bool last = k + 1 == kept.size() && !withPadding;
    const auto n = static_cast<std::uint32_t>(kept[k].data.size());
    out.insert(out.end(), {static_cast<std::uint8_t>((last ? 0x80 : 0) | kept[k].type),
                           static_cast<std::uint8_t>(n >> 16), static_cast<std::uint8_t>(n >> 8),
                           static_cast<std::uint8_t>(n)});
    out.insert(out.end(), kept[k].data.begin(), kept[k].data.end());
  }
  if (withPadding) {
    const auto n = static_cast<std::uint32_t>(padding);
    out.insert(out.end(), {0x81, static_cast<std::uint8_t>(n >> 16), static_cast<std::uint8_t>(n >> 8),
                           static_cast<std::uint8_t>(n)});
    out.resize(out.size() + padding, 0);
  }
  return inPlace ? file.OverwriteAt(0, out) : file.Rewrite(out, metadataEnd);
}

WriteResult SetOggComments(const std::string& path, const TagPairs& tags) {
  UpdatedFile file;
  if (WriteResult r = file.Open(path); !r) return r;
  if (file.Size() > (std::uint64_t{1} << 31))
    return WriteResult::Failure(TagFailure(path, "файл слишком велик"));
  Bytes f;
  if (WriteResult r = file.ReadAt(0, static_cast<std::size_t>(file.Size()), f); !r) return r;
  auto broken = [&] { return WriteResult::Failure(TagFailure(path, "поток Ogg повреждён")); };

  // The header packets: the first page holds the identification header
  // alone; the others follow up to the page on which the last one ends.
  OggPage first;
  if (!ParsePage(f, 0, first) || !(first.flags & 2) || first.lacing.empty() ||
      first.lacing.back() == 255)
    return broken();
  for (std::size_t s = 0; s + 1 < first.lacing.size(); ++s)
    if (first.lacing[s] != 255) return broken();  // more than the identification header
  const Bytes ident(f.begin() + static_cast<long>(first.body),
                    f.begin() + static_cast<long>(first.offset + first.size));
  bool opus = false;
  if (ident.size() >= 8 && std::memcmp(ident.data(), "OpusHead", 8) == 0)
    opus = true;
  else if (!(ident.size() >= 7 && std::memcmp(ident.data(), "\x01vorbis", 7) == 0))
    return WriteResult::Failure(TagFailure(path, "это не файл Ogg Vorbis или Opus"));
  const std::size_t headerCount = opus ? 2 : 3;
  std::vector<Bytes> packets;
  Bytes current;
  std::size_t at = first.size;
  std::uint32_t oldHeaderPages = 1;
  while (packets.size() + 1 < headerCount) {
    OggPage page;
    if (!ParsePage(f, at, page) || page.serial != first.serial) return broken();
    std::size_t from = page.body;
    for (std::size_t s = 0; s < page.lacing.size(); ++s) {
      if (packets.size() + 1 == headerCount) return broken();  // audio on a header page
      current.insert(current.end(), f.begin() + static_cast<long>(from),
                     f.begin() + static_cast<long>(from + page.lacing[s]));
      from += page.lacing[s];
      if (page.lacing[s] < 255) packets.push_back(std::move(current)), current.clear();
    }
    at += page.size;
    ++oldHeaderPages;
  }
  if (!current.empty()) return broken();
  Bytes& comments = packets[0];
  const std::string_view magic = opus ? std::string_view("OpusTags", 8) : std::string_view("\x03vorbis", 7);
  if (comments.size() < magic.size() || std::memcmp(comments.data(), magic.data(), magic.size()) != 0)
    return broken();
  CommentList list;
  if (!ParseComments(comments.data() + magic.size(), comments.size() - magic.size(), list))
    return broken();
  Bytes rebuilt(magic.begin(), magic.end());
  const Bytes body = BuildComments(list, tags);
  rebuilt.insert(rebuilt.end(), body.begin(), body.end());
  comments = std::move(rebuilt);

  std::uint32_t newHeaderPages = 0;
  Bytes out(f.begin(), f.begin() + static_cast<long>(first.size));
  const Bytes headers = Paginate(packets, first.serial, 1, newHeaderPages);
  out.insert(out.end(), headers.begin(), headers.end());
  ++newHeaderPages;
  // The audio pages of the stream, renumbered when the header pages changed.
  const std::int64_t shift = static_cast<std::int64_t>(newHeaderPages) - oldHeaderPages;
  while (at < f.size()) {
    OggPage page;
    if (!ParsePage(f, at, page)) return broken();
    const std::size_t start = out.size();
    out.insert(out.end(), f.begin() + static_cast<long>(at), f.begin() + static_cast<long>(at + page.size));
    if (shift != 0 && page.serial == first.serial) {
      const auto seq = static_cast<std::uint32_t>(page.sequence + shift);
      for (int i = 0; i < 4; ++i) out[start + 18 + i] = static_cast<std::uint8_t>(seq >> (8 * i));
      SealPage(out.data() + start, page.size);
    }
    at += page.size;
  }
  return file.Rewrite(out, file.Size());
}

WriteResult SetId3v2UserTexts(const std::string& path, const TagPairs& tags) {
  UpdatedFile file;
  if (WriteResult r = file.Open(path); !r) return r;
  Bytes header;
  if (WriteResult r = file.ReadAt(0, 10, header); !r) return r;
  const bool hasTag = header.size() == 10 && std::memcmp(header.data(), "ID3", 3) == 0;
  Bytes frames;
  std::uint64_t oldSize = 0;  // the whole old tag, header included
  std::uint8_t major = 3;
  if (hasTag) {
    major = header[3];
    if ((major != 3 && major != 4) || (header[5] & 0xC0) != 0)
      return WriteResult::Failure(
          TagFailure(path, "тег ID3v2 этой версии или с такими флагами не поддерживается"));
    const std::uint32_t size = Synchsafe(&header[6]);
    oldSize = 10 + size;
    Bytes body;
    if (WriteResult r = file.ReadAt(10, size, body); !r) return r;
    if (body.size() != size) return WriteResult::Failure(TagFailure(path, "тег ID3v2 повреждён"));
    // The frames up to the padding, without the TXXX frames being replaced.
    for (std::size_t at = 0; at + 10 <= body.size() && body[at] != 0;) {
      const std::uint32_t n = major == 4 ? Synchsafe(&body[at + 4]) : Be32(&body[at + 4]);
      if (n > body.size() - at - 10) return WriteResult::Failure(TagFailure(path, "тег ID3v2 повреждён"));
      const bool drop = std::memcmp(&body[at], "TXXX", 4) == 0 &&
                        Replaced(UserTextDescription(&body[at + 10], n), tags);
      if (!drop) frames.insert(frames.end(), body.begin() + static_cast<long>(at),
                               body.begin() + static_cast<long>(at + 10 + n));
      at += 10 + n;
    }
  }
  for (const auto& [key, value] : tags) {
    Bytes frame = Id3v2UserTextFrame(key, value);
    if (major == 4) {
      const auto n = static_cast<std::uint32_t>(frame.size() - 10);
      frame[4] = static_cast<std::uint8_t>((n >> 21) & 0x7F);
      frame[5] = static_cast<std::uint8_t>((n >> 14) & 0x7F);
      frame[6] = static_cast<std::uint8_t>((n >> 7) & 0x7F);
      frame[7] = static_cast<std::uint8_t>(n & 0x7F);
    }
    frames.insert(frames.end(), frame.begin(), frame.end());
  }
  const bool inPlace = hasTag && 10 + frames.size() <= oldSize;
  const std::uint64_t size = inPlace ? oldSize - 10 : frames.size() + kNewPadding;
  if (size >= (1u << 28)) return WriteResult::Failure(TagFailure(path, "тег ID3v2 слишком велик"));
  Bytes out = {'I', 'D', '3', major, 0, 0,
               static_cast<std::uint8_t>((size >> 21) & 0x7F), static_cast<std::uint8_t>((size >> 14) & 0x7F),
               static_cast<std::uint8_t>((size >> 7) & 0x7F), static_cast<std::uint8_t>(size & 0x7F)};
  out.insert(out.end(), frames.begin(), frames.end());
  out.resize(10 + size, 0);
  return inPlace ? file.OverwriteAt(0, out) : file.Rewrite(out, oldSize);
}

}  // namespace sonarvex

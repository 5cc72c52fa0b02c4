#include "drive/CdText.h"

#include <algorithm>
#include <array>
#include <map>
#include <vector>

#include "drive/DriveCommands.h"
#include "drive/Transport.h"

namespace sonarvex {

namespace {

constexpr int kBlocks = 8;
constexpr int kMaxTrack = 99;
constexpr std::size_t kMaxCdTextBytes = 160;

enum : std::uint8_t { kTitle = 0x80, kPerformer = 0x81, kCodes = 0x8E, kSizeInfo = 0x8F };

struct Pack {
  std::uint8_t type = 0;
  int track = 0;
  int sequence = 0;
  int position = 0;  // characters of the string in progress held by earlier packs
  const std::uint8_t* text = nullptr;
};

// What one block holds, its strings still in the disc's bytes.
struct BlockTexts {
  bool doubleByte = false;
  bool sizeKnown = false;
  int characterCode = 0x00;  // ISO 8859-1 unless the size information says otherwise
  std::vector<Pack> packs;
  std::map<int, std::string> title, performer, codes;

  bool SingleByte() const { return !doubleByte && characterCode < 0x80; }
  bool Named() const { return !title.empty() || !performer.empty(); }
};

// The strings of one pack type, in the order the packs came: each NUL ends
// the string of one track, the next string belongs to the next track. A gap
// in the sequence numbers (a pack dropped) loses the string it was in; the
// next pack starts again from its own track number, and a string it only
// continues is skipped up to its end.
std::map<int, std::string> Strings(const std::vector<Pack>& packs, std::uint8_t type) {
  std::map<int, std::string> out;
  int track = -1, previous = -1;
  std::string current;
  bool valid = false;
  auto emit = [&] {
    if (!valid || track < 0 || track > kMaxTrack || current.empty()) return;
    std::string value = current;
    if (value == "\t") {
      // "The same as the previous track."
      auto before = out.find(track - 1);
      if (before == out.end()) return;
      value = before->second;
    }
    out.emplace(track, std::move(value));
  };
  for (const Pack& p : packs) {
    if (p.type != type) continue;
    const bool follows = track >= 0 && p.sequence == ((previous + 1) & 0xFF);
    if (!follows) {
      track = p.track;
      current.clear();
      valid = p.position == 0;
    }
    for (int i = 0; i < 12; ++i) {
      const std::uint8_t c = p.text[i];
      if (c == 0) {
        emit();
        ++track;
        current.clear();
        valid = true;
      } else if (valid && current.size() < 1024) {
        current.push_back(static_cast<char>(c));
      }
    }
    previous = p.sequence;
  }
  return out;
}

// A single-byte CD-Text string as UTF-8: ISO 8859-1 (ASCII is its lower
// half; a byte above 0x7F on an "ASCII" disc is read the same way), control
// characters as "?", blanks around it trimmed.
std::string Utf8Of(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0)) {
      out.push_back('?');
    } else if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  const auto first = out.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return out.substr(first, out.find_last_not_of(' ') - first + 1);
}

// UPC/EAN and ISRCs are letters and digits; anything else is not one.
std::string CodeOf(const std::string& bytes) {
  if (bytes.size() > 13) return {};
  for (unsigned char c : bytes)
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z'))) return {};
  return bytes;
}

}  // namespace

const CdTextTrack* CdText::Track(int number) const {
  for (const CdTextTrack& t : tracks)
    if (t.number == number) return &t;
  return nullptr;
}

bool CdText::Empty() const {
  if (!title.empty() || !performer.empty()) return false;
  return std::none_of(tracks.begin(), tracks.end(), [](const CdTextTrack& t) {
    return !t.title.empty() || !t.performer.empty();
  });
}

std::uint16_t CdTextPackCrc(const std::uint8_t* pack) {
  return static_cast<std::uint16_t>(~Crc16Ccitt(pack, 16));
}

std::optional<CdText> ParseCdTextAnswer(const std::uint8_t* data, std::size_t size) {
  if (!data || size < 4) return std::nullopt;
  // The data length counts the bytes after its own two.
  const std::size_t length = std::min<std::size_t>(size, (data[0] << 8 | data[1]) + 2u);
  const std::size_t count = length < 4 ? 0 : (length - 4) / kCdTextPackLength;

  CdText result;
  std::array<BlockTexts, kBlocks> blocks;
  std::array<std::array<std::uint8_t, 36>, kBlocks> sizeInfo{};
  for (std::size_t k = 0; k < count; ++k) {
    const std::uint8_t* p = data + 4 + k * kCdTextPackLength;
    if (p[0] < 0x80 || p[0] > 0x8F) continue;  // not a CD-Text pack (some other mode)
    ++result.packs;
    if (CdTextPackCrc(p) != (p[16] << 8 | p[17])) {
      ++result.badPacks;
      continue;
    }
    const int block = (p[3] >> 4) & 0x07;
    BlockTexts& b = blocks[static_cast<std::size_t>(block)];
    if (p[3] & 0x80) b.doubleByte = true;
    if (p[0] == kSizeInfo) {
      // Three packs of 12 bytes, numbered 0..2 in the track number field.
      const int part = p[1];
      if (part >= 0 && part < 3)
        std::copy(p + 4, p + 16, sizeInfo[static_cast<std::size_t>(block)].begin() + part * 12);
      if (part == 0) {
        b.sizeKnown = true;
        b.characterCode = p[4];
      }
      continue;
    }
    Pack pack;
    pack.type = p[0];
    pack.track = p[1] & 0x7F;
    pack.sequence = p[2];
    pack.position = p[3] & 0x0F;
    pack.text = p + 4;
    b.packs.push_back(pack);
  }

  for (BlockTexts& b : blocks) {
    if (b.packs.empty() || !b.SingleByte()) continue;
    b.title = Strings(b.packs, kTitle);
    b.performer = Strings(b.packs, kPerformer);
    b.codes = Strings(b.packs, kCodes);
  }
  // Block 0, unless it says nothing a single-byte reader can use.
  int chosen = -1;
  for (int k = 0; k < kBlocks && chosen < 0; ++k) {
    const BlockTexts& b = blocks[static_cast<std::size_t>(k)];
    if (b.SingleByte() && b.Named()) chosen = k;
  }
  if (chosen < 0) return std::nullopt;
  const BlockTexts& b = blocks[static_cast<std::size_t>(chosen)];
  result.block = chosen;
  result.characterCode = b.characterCode;

  auto text = [](const std::map<int, std::string>& m, int track) {
    auto it = m.find(track);
    return it == m.end() ? std::string() : Utf8Of(it->second);
  };
  auto code = [](const std::map<int, std::string>& m, int track) {
    auto it = m.find(track);
    return it == m.end() ? std::string() : CodeOf(it->second);
  };
  result.title = text(b.title, 0);
  result.performer = text(b.performer, 0);
  result.upc = code(b.codes, 0);
  for (int n = 1; n <= kMaxTrack; ++n) {
    CdTextTrack t;
    t.number = n;
    t.title = text(b.title, n);
    t.performer = text(b.performer, n);
    t.isrc = code(b.codes, n);
    if (!t.title.empty() || !t.performer.empty() || !t.isrc.empty()) result.tracks.push_back(t);
  }
  if (result.Empty()) return std::nullopt;
  return result;
}

namespace {

// UTF-8 as ISO 8859-1 bytes: a character beyond U+00FF, a control
// character or a malformed sequence becomes "?".
std::string Latin1Of(const std::string& utf8) {
  std::string out;
  for (std::size_t i = 0; i < utf8.size() && out.size() < kMaxCdTextBytes;) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    std::uint32_t cp = 0;
    std::size_t n = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
    bool good = n > 0 && i + n <= utf8.size();
    if (good) {
      cp = n == 1 ? c : c & (0x7F >> n);
      for (std::size_t k = 1; k < n; ++k) {
        const auto d = static_cast<unsigned char>(utf8[i + k]);
        if ((d & 0xC0) != 0x80) {
          good = false;
          break;
        }
        cp = cp << 6 | (d & 0x3F);
      }
    }
    if (!good) {
      out.push_back('?');
      ++i;
      continue;
    }
    i += n;
    out.push_back(cp < 0x20 || cp == 0x7F || (cp >= 0x80 && cp < 0xA0) || cp > 0xFF
                      ? '?'
                      : static_cast<char>(cp));
  }
  return out;
}

}  // namespace

std::vector<std::uint8_t> EncodeCdTextPacks(const CdText& text, int firstTrack, int lastTrack) {
  std::vector<std::uint8_t> packs;
  if (text.Empty()) return packs;
  firstTrack = std::clamp(firstTrack, 1, kMaxTrack);
  lastTrack = std::clamp(lastTrack, firstTrack, kMaxTrack);
  constexpr int kMaxTextPacks = 256 - 3;
  int sequence = 0;
  int perType[16] = {};
  auto add = [&](std::uint8_t (&p)[18]) {
    const std::uint16_t crc = CdTextPackCrc(p);
    p[16] = static_cast<std::uint8_t>(crc >> 8);
    p[17] = static_cast<std::uint8_t>(crc);
    packs.insert(packs.end(), p, p + 18);
  };
  for (const std::uint8_t type : {kTitle, kPerformer}) {
    auto of = [&](const CdTextTrack* t) { return t ? (type == kTitle ? t->title : t->performer) : std::string(); };
    std::vector<std::string> strings{Latin1Of(type == kTitle ? text.title : text.performer)};
    bool any = !strings[0].empty();
    for (int n = firstTrack; n <= lastTrack; ++n) {
      strings.push_back(Latin1Of(of(text.Track(n))));
      any = any || !strings.back().empty();
    }
    if (!any) continue;
    // The run of text with, for each byte, the track its string belongs to
    // and how many characters of that string come before it.
    std::string run;
    std::vector<std::pair<int, int>> owner;
    for (std::size_t k = 0; k < strings.size(); ++k) {
      const int track = k == 0 ? 0 : firstTrack + static_cast<int>(k) - 1;
      std::string s = k > 1 && !strings[k].empty() && strings[k] == strings[k - 1] ? "\t" : strings[k];
      s.push_back('\0');
      for (std::size_t c = 0; c < s.size(); ++c) {
        run.push_back(s[c]);
        owner.emplace_back(track, static_cast<int>(c));
      }
    }
    for (std::size_t at = 0; at < run.size() && sequence < kMaxTextPacks; at += 12) {
      std::uint8_t p[18] = {};
      p[0] = type;
      p[1] = static_cast<std::uint8_t>(owner[at].first);
      p[2] = static_cast<std::uint8_t>(sequence++);
      p[3] = static_cast<std::uint8_t>(std::min(owner[at].second, 15));
      for (std::size_t i = 0; i < 12 && at + i < run.size(); ++i)
        p[4 + i] = static_cast<std::uint8_t>(run[at + i]);
      add(p);
      ++perType[type & 0x0F];
    }
  }
  std::uint8_t info[36] = {};
  info[0] = 0x00;  // ISO 8859-1
  info[1] = static_cast<std::uint8_t>(firstTrack);
  info[2] = static_cast<std::uint8_t>(lastTrack);
  perType[0x0F] = 3;
  for (int t = 0; t < 16; ++t) info[4 + t] = static_cast<std::uint8_t>(perType[t]);
  info[20] = static_cast<std::uint8_t>(sequence + 2);  // the last sequence number of block 0
  info[28] = 0x09;  // English, as discs in ISO 8859-1 usually say
  for (int part = 0; part < 3; ++part) {
    std::uint8_t p[18] = {};
    p[0] = kSizeInfo;
    p[1] = static_cast<std::uint8_t>(part);
    p[2] = static_cast<std::uint8_t>(sequence++);
    std::copy(info + part * 12, info + part * 12 + 12, p + 4);
    add(p);
  }
  return packs;
}

void PackToRwSymbols(const std::uint8_t* pack, std::uint8_t* symbols) {
  for (std::size_t k = 0; k < kRwPackSymbols; ++k) {
    std::uint8_t v = 0;
    for (std::size_t b = 0; b < 6; ++b) {
      const std::size_t bit = k * 6 + b;
      v = static_cast<std::uint8_t>(v << 1 | ((pack[bit / 8] >> (7 - bit % 8)) & 1));
    }
    symbols[k] = v;
  }
}

void RwSymbolsToPack(const std::uint8_t* symbols, std::uint8_t* pack) {
  std::fill(pack, pack + kCdTextPackLength, std::uint8_t{0});
  for (std::size_t bit = 0; bit < kCdTextPackLength * 8; ++bit)
    if ((symbols[bit / 6] >> (5 - bit % 6)) & 1) pack[bit / 8] = static_cast<std::uint8_t>(pack[bit / 8] | 0x80 >> (bit % 8));
}

std::vector<std::uint8_t> CdTextLeadInBlocks(const std::vector<std::uint8_t>& packs, std::int64_t firstBlock,
                                             int count) {
  std::vector<std::uint8_t> out(static_cast<std::size_t>(std::max(count, 0)) * kRwBlockBytes, 0);
  const std::int64_t n = static_cast<std::int64_t>(packs.size() / kCdTextPackLength);
  if (n == 0) return out;
  for (int b = 0; b < count; ++b)
    for (int p = 0; p < 4; ++p) {
      const std::int64_t which = ((firstBlock + b) * 4 + p) % n;
      PackToRwSymbols(packs.data() + which * static_cast<std::int64_t>(kCdTextPackLength),
                      out.data() + static_cast<std::size_t>(b) * kRwBlockBytes + static_cast<std::size_t>(p) * kRwPackSymbols);
    }
  return out;
}

namespace cdb {

CommandBlock ReadCdText() {
  CommandBlock b;
  b.bytes[0] = 0x43;
  b.bytes[2] = 0x05;
  b.bytes[7] = static_cast<std::uint8_t>(kCdTextAnswerLength >> 8);
  b.bytes[8] = static_cast<std::uint8_t>(kCdTextAnswerLength);
  b.length = 10;
  b.op = Operation::ReadTOC;
  b.direction = DataDirection::In;
  b.transferLength = kCdTextAnswerLength;
  return b;
}

}  // namespace cdb

std::optional<CdText> ReadCdText(Transport& transport) {
  std::vector<std::uint8_t> answer(kCdTextAnswerLength, 0);
  if (!transport.Succeeded(transport.Execute(cdb::ReadCdText(), answer.data())))
    return std::nullopt;
  return ParseCdTextAnswer(answer.data(), answer.size());
}

}  // namespace sonarvex

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

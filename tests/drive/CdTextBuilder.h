// CD-Text answers built by hand for tests, the packs laid out as the CD-Text
// standard lays them (texts NUL-ended, run on from pack to pack, sequence
// numbers running through a block, three size information packs last), with
// a CRC computed here bit by bit, independently of the program's own.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace sonarvex::test {

// CRC-16, polynomial 0x1021, initial 0, most significant bit first, inverted.
inline std::uint16_t BitwisePackCrc(const std::uint8_t* p, int n) {
  unsigned crc = 0;
  for (int i = 0; i < n; ++i) {
    crc ^= static_cast<unsigned>(p[i]) << 8;
    for (int b = 0; b < 8; ++b) crc = (crc & 0x8000) ? ((crc << 1) ^ 0x1021) : (crc << 1);
    crc &= 0xFFFF;
  }
  return static_cast<std::uint16_t>(~crc & 0xFFFF);
}

struct CdTextBlockTexts {
  int block = 0;
  std::uint8_t characterCode = 0x00;  // 0x00 ISO 8859-1, 0x01 ASCII, 0x80 MS-JIS
  bool doubleByte = false;
  int firstTrack = 1, lastTrack = 1;
  // Pack type -> the strings of the disc (index 0) and tracks 1..n, in the
  // disc's bytes; "\t" is "the same as before".
  std::map<std::uint8_t, std::vector<std::string>> texts;
};

class CdTextBuilder {
 public:
  // Appends a block's packs (texts in pack type order, then size information).
  void AddBlock(const CdTextBlockTexts& album) {
    int sequence = 0;
    std::vector<int> perType(16, 0);
    for (const auto& [type, strings] : album.texts) {
      std::string run;
      std::vector<int> trackOfByte, positionOfByte;
      for (std::size_t k = 0; k < strings.size(); ++k) {
        const int track = k == 0 ? 0 : album.firstTrack + static_cast<int>(k) - 1;
        std::string s = strings[k];
        s.push_back('\0');
        if (album.doubleByte) s.push_back('\0');
        for (std::size_t c = 0; c < s.size(); ++c) {
          run.push_back(s[c]);
          trackOfByte.push_back(track);
          positionOfByte.push_back(static_cast<int>(c));
        }
      }
      while (run.size() % 12) {
        run.push_back('\0');
        trackOfByte.push_back(trackOfByte.back());
        positionOfByte.push_back(0);
      }
      for (std::size_t at = 0; at < run.size(); at += 12) {
        std::uint8_t p[18] = {};
        p[0] = type;
        p[1] = static_cast<std::uint8_t>(trackOfByte[at]);
        p[2] = static_cast<std::uint8_t>(sequence++);
        const int position = positionOfByte[at] > 15 ? 15 : positionOfByte[at];
        p[3] = static_cast<std::uint8_t>((album.doubleByte ? 0x80 : 0) | (album.block << 4) | position);
        for (int i = 0; i < 12; ++i) p[4 + i] = static_cast<std::uint8_t>(run[at + i]);
        Add(p);
        ++perType[type & 0x0F];
      }
    }
    // Size information: character code, first and last track, copyright
    // flags, packs of each type, last sequence number of each block,
    // language codes (English 0x09 for block 0).
    std::uint8_t info[36] = {};
    info[0] = album.characterCode;
    info[1] = static_cast<std::uint8_t>(album.firstTrack);
    info[2] = static_cast<std::uint8_t>(album.lastTrack);
    perType[0x0F] = 3;
    for (int t = 0; t < 16; ++t) info[4 + t] = static_cast<std::uint8_t>(perType[t]);
    info[20 + album.block] = static_cast<std::uint8_t>(sequence + 2);
    info[28 + album.block] = 0x09;
    for (int part = 0; part < 3; ++part) {
      std::uint8_t p[18] = {};
      p[0] = 0x8F;
      p[1] = static_cast<std::uint8_t>(part);
      p[2] = static_cast<std::uint8_t>(sequence++);
      p[3] = static_cast<std::uint8_t>(album.block << 4);
      for (int i = 0; i < 12; ++i) p[4 + i] = info[part * 12 + i];
      Add(p);
    }
  }

  // The packs so far (18 bytes each, CRCs in place).
  std::vector<std::uint8_t>& Packs() { return packs_; }
  int PackCount() const { return static_cast<int>(packs_.size() / 18); }
  // The READ TOC format 5 answer: the header (data length = packs + 2) and the packs.
  std::vector<std::uint8_t> Answer() const {
    std::vector<std::uint8_t> a(4, 0);
    const std::size_t length = packs_.size() + 2;
    a[0] = static_cast<std::uint8_t>(length >> 8);
    a[1] = static_cast<std::uint8_t>(length);
    a.insert(a.end(), packs_.begin(), packs_.end());
    return a;
  }

 private:
  void Add(std::uint8_t (&p)[18]) {
    const std::uint16_t crc = BitwisePackCrc(p, 16);
    p[16] = static_cast<std::uint8_t>(crc >> 8);
    p[17] = static_cast<std::uint8_t>(crc);
    packs_.insert(packs_.end(), p, p + 18);
  }
  std::vector<std::uint8_t> packs_;
};

}  // namespace sonarvex::test

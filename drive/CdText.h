// The disc's CD-Text as the drive reads it from the lead-in (READ TOC format
// 5): the album's title and performer, each track's, and the disc's UPC/EAN
// and the tracks' ISRCs when the disc carries them.
//
// The answer is a 4-byte header (the data length, two reserved bytes)
// followed by packs of 18 bytes: pack type (0x80 title, 0x81 performer, 0x8E
// UPC/ISRC, 0x8F size information, ...), track number (0: the disc), sequence
// number, a byte of flags (bit 7 double-byte characters, bits 6..4 block
// number, bits 3..0 how many characters of the string in progress earlier
// packs hold), 12 bytes of text and a CRC-16 (x^16 + x^12 + x^5 + 1 over the
// 16 bytes before it, stored inverted, high byte first). The texts of a pack
// type run on from pack to pack, each ended by a NUL, one string a track from
// the pack's track number on; a string that is a single TAB repeats the
// previous track's. Each block holds the texts in one language; block 0 is
// taken, in ISO 8859-1 or ASCII as its size information says, and another
// single-byte block only when block 0 says nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "drive/CommandBlock.h"

namespace sonarvex {

class Transport;

inline constexpr std::size_t kCdTextPackLength = 18;
// A full answer: the header and 8 blocks of at most 256 packs.
inline constexpr std::uint32_t kCdTextAnswerLength = 4 + 8 * 256 * kCdTextPackLength;

struct CdTextTrack {
  int number = 0;         // as the packs number the track (1..99)
  std::string title;      // UTF-8, "" when the disc gives none
  std::string performer;  // UTF-8
  std::string isrc;       // as the disc gives it (12 characters), or ""
};

struct CdText {
  std::string title;      // the album's, UTF-8
  std::string performer;  // the album's, UTF-8
  std::string upc;        // the disc's UPC/EAN, or ""
  std::vector<CdTextTrack> tracks;  // tracks with any text, by number
  int block = 0;          // the block the texts come from
  int characterCode = 0;  // of that block: 0x00 ISO 8859-1, 0x01 ASCII
  // What the answer held: packs in it, packs whose CRC did not check.
  int packs = 0;
  int badPacks = 0;

  // The entry of track `number`, or null.
  const CdTextTrack* Track(int number) const;
  // No title or performer at all (UPC/ISRC alone do not name anything).
  bool Empty() const;
};

// The CRC a pack carries over its first 16 bytes: CRC-16/CCITT (initial 0),
// inverted.
std::uint16_t CdTextPackCrc(const std::uint8_t* pack);

// Parses a READ TOC format 5 answer of `size` bytes. Only the packs the
// header's data length covers are read, and never more than `size` bytes.
// Packs whose CRC does not check are dropped; a string whose start was in a
// dropped pack is dropped with it. nullopt when no usable title or performer
// is left (no header, no packs, all broken, or only double-byte blocks).
std::optional<CdText> ParseCdTextAnswer(const std::uint8_t* data, std::size_t size);

// The packs a disc carries for these texts, as a drive answers them: block
// 0 in ISO 8859-1 (a character it has not becomes "?", a text is cut at 160
// bytes), the title and performer packs of the disc and of tracks
// firstTrack..lastTrack (a track's text equal to the one before it written
// as a TAB), then the three size information packs, each with its CRC. At
// most 256 packs: texts beyond them are left out. Empty when there is no
// title or performer.
std::vector<std::uint8_t> EncodeCdTextPacks(const CdText& text, int firstTrack, int lastTrack);

// In the lead-in the packs are carried by the R-W sub-channel: a block's 96
// bytes of it hold four packs, each as 24 six-bit symbols (the pack's bits
// from the first byte's highest on, six to a symbol, in the low six bits of
// each byte). A recorder is given them so when a cue sheet's lead-in entry
// has data form 41h.
inline constexpr std::size_t kRwBlockBytes = 96;
inline constexpr std::size_t kRwPackSymbols = 24;
void PackToRwSymbols(const std::uint8_t* pack, std::uint8_t* symbols);
void RwSymbolsToPack(const std::uint8_t* symbols, std::uint8_t* pack);
// The lead-in blocks from `firstBlock` on (count of them) for a run of packs
// repeated from the lead-in's start: block b holds packs 4b..4b+3 of the
// endless repetition.
std::vector<std::uint8_t> CdTextLeadInBlocks(const std::vector<std::uint8_t>& packs, std::int64_t firstBlock,
                                             int count);

namespace cdb {
// READ TOC/PMA/ATIP format 5 (CD-Text), kCdTextAnswerLength bytes.
CommandBlock ReadCdText();
}  // namespace cdb

// Reads the disc's CD-Text from the current device of the transport; nullopt
// when the drive answers with an error (a disc without CD-Text, a drive that
// cannot read it) or with nothing usable.
std::optional<CdText> ReadCdText(Transport& transport);

}  // namespace sonarvex

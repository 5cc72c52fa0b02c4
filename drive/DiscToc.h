// The disc's table of contents, parsed once from the drive's READ TOC answer
// (format 0, MSF addresses, as cdb::ReadTOC asks for it) and handed to every
// part of the program that needs the tracks: the disc model, the disc
// identifiers, AccurateRip, the rip log and cue sheet, the command line.
// What the drive says besides (the sessions, and when they are asked for,
// the catalogue number, ISRCs and pregaps) is added to the same table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "drive/CommandBlock.h"
#include "records/CdAddress.h"

namespace sonarvex {

inline constexpr int kMaxTocTracks = 99;        // tracks a table can stand for, the lead-out aside
inline constexpr int kTocDescriptorCount = 100;  // descriptors a kTocLength answer holds
inline constexpr int kLeadInFrames = 150;        // MSF 00:02:00 is LBA 0

// One descriptor of the table: a track, or the lead-out.
struct TocTrack {
  int number = 0;             // as the drive numbers it (the lead-out: normally 0xAA)
  std::uint8_t control = 0;   // the control nibble (see the bits below)
  Msf address{};              // the start as the drive gave it, the lead-in's 150 frames included
  std::int32_t startLba = 0;  // the start less those 150 frames
  // Frames to the next descriptor's start (0 when that lies before this
  // one); 0 for the lead-out.
  std::int32_t lengthFrames = 0;
  int session = 0;  // 0: unknown (the drive did not say)
  // From the Q sub-channel when the disc's extras were read (ApplyDiscExtras):
  std::string isrc;             // 12 characters, or "" (none, not read)
  bool pregapKnown = false;     // where INDEX 00 begins is known
  std::int32_t pregapSectors = 0;

  int Frames() const { return MsfToFrames(address); }
  // Bit 2 of the control nibble marks a data track; the other bits (copy
  // permitted, pre-emphasis, four channels) say nothing about it.
  bool Audio() const { return (control & 0x04) == 0; }
  bool PreEmphasis() const { return (control & 0x01) != 0; }
  bool CopyPermitted() const { return (control & 0x02) != 0; }
  bool FourChannels() const { return (control & 0x08) != 0; }
};

// What the drive said about the sessions (READ TOC format 1).
struct SessionInfo {
  bool known = false;               // the drive answered
  int firstTrackOfLastSession = 0;  // its track number
  int lastSession = 0;              // the last session's number
};
// Unknown when the reply holds no first track of the last session.
SessionInfo SessionInfoFromReply(const std::uint8_t (&reply)[kSessionInfoLength]);

struct DiscToc {
  int firstTrack = 0, lastTrack = 0;  // the header's track numbers, as given
  std::vector<TocTrack> tracks;       // in disc order, at most kMaxTocTracks
  TocTrack leadOut;                   // the descriptor after the last track
  SessionInfo sessions;               // unknown unless ApplySessionInfo was given an answer
  std::string catalog;                // the media catalogue number (13 digits) when read, or ""

  int TrackCount() const { return static_cast<int>(tracks.size()); }
  // Descriptor i: tracks[i], the lead-out at TrackCount().
  const TocTrack& Descriptor(int i) const {
    return i < TrackCount() ? tracks[static_cast<std::size_t>(i)] : leadOut;
  }
};

// Parses a READ TOC answer (format 0, MSF addresses). The answer is read as
// the drive leaves it in a zeroed kTocLength buffer: bytes beyond `size`
// count as zero and nothing past `size` (or past kTocLength) is read. The
// number of tracks is the header's last track number, cut to 99 and, when
// the answer's data length is not zero, to the descriptors it holds besides
// the lead-out; the descriptor after the last track is the lead-out.
// nullopt when there is no header (size < 4) or the data length leaves no
// room for even the lead-out.
std::optional<DiscToc> ParseTocAnswer(const std::uint8_t* data, std::size_t size);

// Records the drive's word on the sessions: the tracks from the first track
// of the last session on are in the last session; on a disc of one or two
// sessions the others are in the first.
void ApplySessionInfo(DiscToc& toc, const SessionInfo& sessions);

// The CDDB disc identifier: ((digit sum of every track's start in seconds)
// mod 255) << 24 | (lead-out - first track) in seconds << 8 | track count.
// Seconds are taken from the MSF addresses as the drive gave them. An empty
// table gives 0.
std::uint32_t CddbDiscId(const DiscToc& toc);

}  // namespace sonarvex

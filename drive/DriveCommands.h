// The drive operations on the current device of a transport. Each returns
// the transport's completion code unless it says otherwise; test it with
// Transport::Succeeded.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "drive/CommandBlock.h"
#include "drive/Transport.h"

namespace sonarvex {

CommandResult Inquiry(Transport& t, std::uint8_t (&reply)[kInquiryLength]);
// Identification text of an inquiry reply: bytes 8..8+length-1 cut at the
// first NUL, trailing blanks kept (24 for the drive list, 28 for reports).
std::string IdentificationText(const std::uint8_t* reply, int length);

CommandResult ReadTOC(Transport& t, std::uint8_t (&toc)[kTocLength]);
CommandResult ReadSessionInfo(Transport& t, std::uint8_t (&reply)[kSessionInfoLength]);

// The audio read in the form of the current device's drive type. Without a
// buffer nothing is sent and the sector count (byteCount / 2352) is returned.
CommandResult ReadCDDA(Transport& t, std::uint8_t* buffer, std::int32_t lba,
                       std::uint32_t byteCount);

CommandResult PlayAudioMSF(Transport& t, Msf start, Msf end);
CommandResult StopPlayScan(Transport& t);
CommandResult Seek(Transport& t, std::int32_t lba);
CommandResult StartStopUnit(Transport& t, bool eject);
CommandResult LockMedium(Transport& t, bool lock);

// 0 ready, 1 failed, 2 not ready yet (sense key 2 or 6).
int TestUnitReadySense(Transport& t);

struct SubChannelPosition {
  std::uint8_t audioStatus = 0;  // 0x11 playing, 0x12 paused, 0x13 completed, 0x14 error
  std::array<std::uint8_t, 4> position{};  // 0, M, S, F of the absolute address
  Msf Absolute() const { return Msf{position[1], position[2], position[3]}; }
};
// Fills `out` even when the command fails (zeros then).
CommandResult ReadSubChannel(Transport& t, SubChannelPosition& out);

// ---- The disc's codes and the Q sub-channel of a sector ----------------------

// The media catalogue number of a READ SUB-CHANNEL format 02h reply: its 13
// digits when the format code is 02h, MCVAL is set and N1..N13 are ASCII
// digits, not all '0'; "" otherwise (no number, or one not to be trusted).
std::string CatalogFromReply(const std::uint8_t (&reply)[kSubChannelCodeLength]);
// The ISRC of a format 03h reply asked for `track`: its 12 characters when
// the format code is 03h, TCVAL is set, the reply's track number is 0 or
// `track`, and I1..I12 are 5 of A-Z/0-9 then 7 digits, not all '0'; ""
// otherwise.
std::string IsrcFromReply(const std::uint8_t (&reply)[kSubChannelCodeLength], int track);

// READ SUB-CHANNEL formats 02h and 03h; the value is "" when the command
// fails or the reply holds none.
CommandResult ReadMediaCatalogNumber(Transport& t, std::string& catalog);
CommandResult ReadTrackIsrc(Transport& t, int track, std::string& isrc);

// CRC-16 with the polynomial x^16 + x^12 + x^5 + 1, initial value 0, not
// inverted ("123456789" gives 0x31C3).
std::uint16_t Crc16Ccitt(const std::uint8_t* data, std::size_t size);
// The CRC of a Q sub-channel section as the CD standard records it: of its
// first 10 bytes (control/ADR and the 9 data bytes), inverted.
std::uint16_t SubQCrc(const std::uint8_t* q);

enum class SubQKind : std::uint8_t {
  Position,   // ADR 1: track, index and both times are usable
  OtherMode,  // a good section of another mode (2: catalogue, 3: ISRC, ...)
  BadCrc,     // the CRC does not check: nothing in it is to be used
  Malformed,  // ADR 1 but fields out of range (not BCD, seconds >= 60, ...)
};

// Formatted Q sub-channel data (READ CD, selection 010b): byte 0
// control (high nibble) / ADR, TNO, INDEX, MIN SEC FRAME, ZERO, AMIN ASEC
// AFRAME, all BCD, then the CRC (10..11) or zero, three pad bytes and P.
struct SubQ {
  SubQKind kind = SubQKind::Malformed;
  // The CRC field checked. False: the drive left it zero (MMC allows that),
  // so only the fields' own sense vouches for the section.
  bool crcChecked = false;
  std::uint8_t control = 0, adr = 0;
  int track = 0;                // 1..99, kLeadOutTrackNumber in the lead-out
  int index = 0;                // 0 in a pregap (pause), 1.. in the track
  std::int32_t relative = 0;    // MIN/SEC/FRAME in frames
  std::int32_t absoluteLba = 0; // AMIN/ASEC/AFRAME less the 150 frames before LBA 0
};
inline constexpr int kLeadOutTrackNumber = 0xAA;

// Reads 12 bytes. A CRC that checks as recorded (inverted) or as computed
// (some drives undo the inversion) is good; a zero CRC field is taken as not
// supplied; any other value is BadCrc.
SubQ ParseFormattedQ(const std::uint8_t* q);

// The formatted Q of one sector through READ CD (one sector, see
// cdb::ReadCDWithQ); `q` is zero when the command fails.
CommandResult ReadSectorQ(Transport& t, std::int32_t lba, bool anySectorType,
                          std::uint8_t (&q)[kFormattedQLength]);

// READ CD of `sectors` CD-DA sectors from lba with their C2 error pointers:
// the audio into `audio` (sectors x 2352 bytes), the pointers into `c2`
// (sectors x kC2PointerBytes). Whatever the result, both are filled (zero
// where nothing came).
CommandResult ReadCDDAWithC2(Transport& t, std::uint8_t* audio, std::uint8_t* c2, std::int32_t lba,
                             std::uint32_t sectors);
CommandResult SetReadSpeed(Transport& t, int factor);
CommandResult SetWriteSpeed(Transport& t, int factor);

// The capabilities page behind the 8-byte mode header; reads 26 bytes on
// SPTI and 28 on ASPI into the buffer (at least 28 bytes).
CommandResult ModeSenseCapabilities(Transport& t, std::uint8_t* buffer);

CommandResult ModeSelectWriteParams(Transport& t, std::uint16_t audioPauseLength,
                                    std::uint32_t packetSize, bool testWrite, int writeType);
CommandResult ModeSelectAudioControl(Transport& t, std::uint8_t volume);
CommandResult BlankDisc(Transport& t, int blankingType);
CommandResult SendOPC(Transport& t);
CommandResult WriteSectors(Transport& t, std::uint8_t* buffer, std::int32_t lba,
                           std::uint16_t blockCount, std::uint32_t blockSize);
CommandResult SendCueSheet(Transport& t, std::uint8_t* buffer, std::uint32_t entryCount);
CommandResult CloseSession(Transport& t);
CommandResult ReadDiscInfo(Transport& t, std::uint8_t (&buffer)[kDiscInfoLength]);

// 0 when the command fails; 5 door open; otherwise mechanism state + 1
// (1 idle, 2 playing audio, 3 scanning, 4 active with a host, 8 unknown).
int MechanismStatus(Transport& t);

// Stores DriveType := the representative drive type of the read command as
// the current device's type; returns it.
std::uint8_t SetReadCommand(Transport& t, int readCommand);

}  // namespace sonarvex

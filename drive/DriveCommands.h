// The drive operations on the current device of a transport. Each returns
// the transport's completion code unless it says otherwise; test it with
// Transport::Succeeded.
#pragma once

#include <array>
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

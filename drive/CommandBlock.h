// The command blocks the program sends to optical drives.
//
// Every operation is built here the same way whichever transport carries it:
// a 16-byte block (zero-filled, big-endian fields), its declared length, the
// data direction and the transfer length. The transports only carry it.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "records/CdAddress.h"

namespace sonarvex {

// A drive command's completion code as the transport reports it: 0 (GOOD) is
// success on the pass-through transport, 1 on the generic SCSI transport.
using CommandResult = int;

enum class DataDirection : std::uint8_t { None, In, Out };

// What a block is; the transports map a few operations to their own
// direction codes.
enum class Operation : std::uint8_t {
  Inquiry,
  ReadTOC,
  ReadCDDA,
  PlayAudioMSF,
  StopPlayScan,
  Seek,
  StartStopUnit,
  LockMedium,
  TestUnitReady,
  ReadSubChannel,
  SetSpeed,
  ModeSenseCapabilities,
  ModeSelectWriteParams,
  ModeSelectAudioControl,
  BlankDisc,
  SendOPC,
  WriteSectors,
  SendCueSheet,
  CloseSession,
  ReadDiscInfo,
  MechanismStatus,
  ReadSessionInfo,
};

struct CommandBlock {
  std::array<std::uint8_t, 16> bytes{};
  std::uint8_t length = 0;  // 6, 10 or 12
  DataDirection direction = DataDirection::None;
  std::uint32_t transferLength = 0;
  Operation op = Operation::TestUnitReady;
};

// Sizes of the replies and parameter lists.
inline constexpr std::uint32_t kInquiryLength = 96;
inline constexpr std::uint32_t kTocLength = 804;
inline constexpr std::uint32_t kSessionInfoLength = 12;
inline constexpr std::uint32_t kSubChannelLength = 16;
inline constexpr std::uint32_t kModeSenseLengthSpti = 26;
inline constexpr std::uint32_t kModeSenseLengthAspi = 28;
inline constexpr std::uint32_t kWriteParamsLength = 60;
inline constexpr std::uint32_t kAudioControlLength = 24;
inline constexpr std::uint32_t kDiscInfoLength = 34;
inline constexpr std::uint32_t kMechanismStatusLength = 32;
// READ SUB-CHANNEL replies of formats 02h (media catalogue number) and 03h
// (ISRC of a track): the 4-byte header and a 20-byte data block.
inline constexpr std::uint32_t kSubChannelCodeLength = 24;
// READ CD with sub-channel selection 010b: each sector's 2352 bytes followed
// by 16 bytes of formatted Q sub-channel data.
inline constexpr std::uint32_t kFormattedQLength = 16;
inline constexpr std::uint32_t kSectorWithQLength = kBytesPerSector + kFormattedQLength;
// READ CD with the C2 error pointers (error field 01b): each sector's 2352
// bytes followed by 294 bytes holding one bit for every byte of audio, most
// significant bit first, set where the drive could not correct the byte.
inline constexpr std::uint32_t kC2PointerBytes = kBytesPerSector / 8;
inline constexpr std::uint32_t kSectorWithC2Length = kBytesPerSector + kC2PointerBytes;

// The nine audio read command forms, by ReadCommand index.
inline constexpr int kReadCommandCount = 9;
// The drive types of the settings dialog's list.
inline constexpr int kDriveTypeCount = 24;

// "Стандартная (MMC1)", "ReadNEC", ... ; "" outside 0..8.
std::string_view ReadCommandName(int readCommand);
// "Стандартный (IDE/SCSI)", "Toshiba", ... ; "" outside 0..23.
std::string_view DriveTypeName(int driveType);
// Table DriveType -> ReadCommand (any other value -> 0).
int ReadCommandForDriveType(int driveType);
// Table ReadCommand -> DriveType (any other index -> 0).
int DriveTypeForReadCommand(int readCommand);

// The 16-bit speed field: 0xFFFF for 255, else factor x 176400 / 1000.
std::uint16_t SpeedField(int factor);

namespace cdb {

CommandBlock Inquiry();
CommandBlock ReadTOC();
// READ TOC format 1 (multi-session information, MSF): the first and last
// session numbers and the first track of the last session with its start.
CommandBlock ReadSessionInfo();
// The audio read of the given form; count = byteCount / 2352 (16 bits).
CommandBlock ReadCDDA(int readCommand, std::int32_t lba, std::uint32_t byteCount);
CommandBlock PlayAudioMSF(Msf start, Msf end);
CommandBlock StopPlayScan();
CommandBlock Seek(std::int32_t lba);
CommandBlock StartStopUnit(bool eject);
CommandBlock LockMedium(bool lock);
CommandBlock TestUnitReady();
CommandBlock ReadSubChannel();
// READ SUB-CHANNEL with SubQ, format 02h: the disc's media catalogue number
// (kSubChannelCodeLength bytes).
CommandBlock ReadMediaCatalogNumber();
// READ SUB-CHANNEL with SubQ, format 03h: the ISRC of track 1..99.
CommandBlock ReadTrackIsrc(int track);
// READ CD of `count` sectors from lba with the formatted Q sub-channel
// (selection 010b): kSectorWithQLength bytes a sector. anySectorType asks
// for every sector type with sync, headers, user data and EDC/ECC (0xF8:
// 2352 bytes whatever the sector holds); otherwise CD-DA sectors with user
// data (0x10), as the standard audio read does. Its operation is ReadCDDA:
// the transports treat a short transfer as a failed read.
CommandBlock ReadCDWithQ(std::int32_t lba, std::uint16_t count, bool anySectorType);
// READ CD of `count` CD-DA sectors from lba with their C2 error pointers
// (kSectorWithC2Length bytes a sector). Its operation is ReadCDDA.
CommandBlock ReadCDWithC2(std::int32_t lba, std::uint16_t count);
CommandBlock SetReadSpeed(int factor);
CommandBlock SetWriteSpeed(int factor);
CommandBlock ModeSenseCapabilities(std::uint32_t replyLength);
CommandBlock ModeSelectWriteParams();
CommandBlock ModeSelectAudioControl();
CommandBlock BlankDisc(int blankingType);
CommandBlock SendOPC();
CommandBlock WriteSectors(std::int32_t lba, std::uint16_t blockCount, std::uint32_t blockSize);
CommandBlock SendCueSheet(std::uint32_t entryCount);
CommandBlock CloseSession();
CommandBlock ReadDiscInfo();
CommandBlock MechanismStatus();

}  // namespace cdb

// Parameter lists of the two MODE SELECT commands.
std::array<std::uint8_t, kWriteParamsLength> WriteParamsList(std::uint16_t audioPauseLength,
                                                            std::uint32_t packetSize,
                                                            bool testWrite, int writeType);
std::array<std::uint8_t, kAudioControlLength> AudioControlList(std::uint8_t volume);

// Direction codes of the two transports for a block: pass-through 1 in,
// 0 out, 2 none (PLAY AUDIO MSF goes as 1, SEND OPC as 0, MECHANISM STATUS
// as 2); generic SCSI 0x08 in, 0x10 out, 0x08 none (SEND OPC as 0x10).
int PassThroughDirectionCode(const CommandBlock& block);
int GenericDirectionFlag(const CommandBlock& block);

// The direction the data really moves on the wire. MECHANISM STATUS reads its
// 32 bytes even though the pass-through code calls it "no data"; a block
// without a transfer length moves nothing.
DataDirection WireDirection(const CommandBlock& block);

}  // namespace sonarvex

#include "drive/CommandBlock.h"

namespace sonarvex {

namespace {

constexpr std::string_view kReadCommandNames[kReadCommandCount] = {
    "Стандартная (MMC1)", "ReadNEC", "Read_D4_12", "Read_D5",  "Read_A8",
    "ReadSONY",           "Read10",  "ReadMMC2",   "ReadMMC3",
};

constexpr std::string_view kDriveTypeNames[kDriveTypeCount] = {
    "Стандартный (IDE/SCSI)", "Toshiba", "Toshiba (новый)", "IBM", "NEC", "DEC", "IMS",
    "Kodak", "Ricoh", "HP", "Philips", "Plasmon", "Grundic CD-R", "Mitsumi CD-R", "Plextor",
    "Sony", "Yamaha", "NRC", "IMS CDD-5", "MMC2", "MMC3", "Read_D4_12", "Read_D5", "Read_A8",
};

constexpr int kReadCommandOfDriveType[kDriveTypeCount] = {
    0, 6, 6, 6, 1, 6, 6, 6, 6, 6, 6, 6, 6, 6, 5, 5, 0, 0, 6, 7, 8, 2, 3, 4,
};

constexpr int kDriveTypeOfReadCommand[kReadCommandCount] = {0, 4, 21, 22, 23, 15, 2, 19, 20};

CommandBlock Block(std::uint8_t opcode, std::uint8_t length, Operation op,
                   DataDirection direction = DataDirection::None,
                   std::uint32_t transferLength = 0) {
  CommandBlock b;
  b.bytes[0] = opcode;
  b.length = length;
  b.op = op;
  b.direction = direction;
  b.transferLength = transferLength;
  return b;
}

void Put16(CommandBlock& b, int at, std::uint32_t v) {
  b.bytes[at] = static_cast<std::uint8_t>(v >> 8);
  b.bytes[at + 1] = static_cast<std::uint8_t>(v);
}
void Put24(CommandBlock& b, int at, std::uint32_t v) {
  b.bytes[at] = static_cast<std::uint8_t>(v >> 16);
  Put16(b, at + 1, v);
}
void Put32(CommandBlock& b, int at, std::uint32_t v) {
  b.bytes[at] = static_cast<std::uint8_t>(v >> 24);
  Put24(b, at + 1, v);
}

}  // namespace

std::string_view ReadCommandName(int readCommand) {
  return readCommand >= 0 && readCommand < kReadCommandCount ? kReadCommandNames[readCommand]
                                                             : std::string_view();
}

std::string_view DriveTypeName(int driveType) {
  return driveType >= 0 && driveType < kDriveTypeCount ? kDriveTypeNames[driveType]
                                                       : std::string_view();
}

int ReadCommandForDriveType(int driveType) {
  return driveType >= 0 && driveType < kDriveTypeCount ? kReadCommandOfDriveType[driveType] : 0;
}

int DriveTypeForReadCommand(int readCommand) {
  return readCommand >= 0 && readCommand < kReadCommandCount ? kDriveTypeOfReadCommand[readCommand]
                                                             : 0;
}

std::uint16_t SpeedField(int factor) {
  if (factor == 255) return 0xFFFF;
  return static_cast<std::uint16_t>(static_cast<std::uint32_t>(factor) * 176400u / 1000u);
}

namespace cdb {

CommandBlock Inquiry() {
  CommandBlock b = Block(0x12, 6, Operation::Inquiry, DataDirection::In, kInquiryLength);
  b.bytes[4] = static_cast<std::uint8_t>(kInquiryLength);
  return b;
}

CommandBlock ReadTOC() {
  CommandBlock b = Block(0x43, 10, Operation::ReadTOC, DataDirection::In, kTocLength);
  b.bytes[1] = 0x02;
  Put16(b, 7, kTocLength);
  return b;
}

CommandBlock ReadSessionInfo() {
  CommandBlock b =
      Block(0x43, 10, Operation::ReadSessionInfo, DataDirection::In, kSessionInfoLength);
  b.bytes[1] = 0x02;
  b.bytes[2] = 0x01;
  Put16(b, 7, kSessionInfoLength);
  return b;
}

CommandBlock ReadCDDA(int readCommand, std::int32_t lba, std::uint32_t byteCount) {
  const std::uint16_t count = static_cast<std::uint16_t>(byteCount / kBytesPerSector);
  const std::uint32_t address = static_cast<std::uint32_t>(lba);
  CommandBlock b;
  switch (readCommand) {
    case 1:  // ReadNEC
      b = Block(0xD4, 10, Operation::ReadCDDA);
      Put16(b, 7, count);
      break;
    case 2:  // Read_D4_12
      b = Block(0xD4, 12, Operation::ReadCDDA);
      Put16(b, 8, count);
      break;
    case 3:  // Read_D5
      b = Block(0xD5, 10, Operation::ReadCDDA);
      Put16(b, 7, count);
      break;
    case 4:  // Read_A8
      b = Block(0xA8, 12, Operation::ReadCDDA);
      Put16(b, 8, count);
      break;
    case 5:  // ReadSONY
      b = Block(0xD8, 12, Operation::ReadCDDA);
      Put16(b, 8, count);
      break;
    case 6:  // Read10
      b = Block(0x28, 10, Operation::ReadCDDA);
      Put16(b, 7, count);
      break;
    case 7:  // ReadMMC2
      b = Block(0xBE, 12, Operation::ReadCDDA);
      Put16(b, 7, count);
      b.bytes[9] = 0xF8;
      break;
    case 8:  // ReadMMC3
      b = Block(0xBE, 12, Operation::ReadCDDA);
      Put16(b, 7, count);
      b.bytes[9] = 0x10;
      break;
    default:  // 0, standard MMC1 READ CD of CD-DA sectors
      b = Block(0xBE, 12, Operation::ReadCDDA);
      b.bytes[1] = 0x04;
      Put16(b, 7, count);
      b.bytes[9] = 0x10;
      break;
  }
  Put32(b, 2, address);
  b.direction = DataDirection::In;
  b.transferLength = byteCount;
  return b;
}

CommandBlock PlayAudioMSF(Msf start, Msf end) {
  CommandBlock b = Block(0x47, 10, Operation::PlayAudioMSF);
  b.bytes[3] = start.minute;
  b.bytes[4] = start.second;
  b.bytes[5] = start.frame;
  b.bytes[6] = end.minute;
  b.bytes[7] = end.second;
  b.bytes[8] = end.frame;
  return b;
}

CommandBlock StopPlayScan() { return Block(0x4E, 10, Operation::StopPlayScan); }

CommandBlock Seek(std::int32_t lba) {
  CommandBlock b = Block(0x2B, 10, Operation::Seek);
  Put32(b, 2, static_cast<std::uint32_t>(lba));
  return b;
}

CommandBlock StartStopUnit(bool eject) {
  CommandBlock b = Block(0x1B, 6, Operation::StartStopUnit);
  b.bytes[1] = 0x01;
  b.bytes[4] = eject ? 0x02 : 0x03;
  return b;
}

CommandBlock LockMedium(bool lock) {
  CommandBlock b = Block(0x1E, 6, Operation::LockMedium);
  b.bytes[4] = lock ? 0x03 : 0x00;
  return b;
}

CommandBlock TestUnitReady() { return Block(0x00, 6, Operation::TestUnitReady); }

CommandBlock ReadSubChannel() {
  CommandBlock b =
      Block(0x42, 10, Operation::ReadSubChannel, DataDirection::In, kSubChannelLength);
  b.bytes[1] = 0x02;
  b.bytes[2] = 0x40;
  b.bytes[3] = 0x01;
  Put16(b, 7, 24);
  return b;
}

CommandBlock ReadMediaCatalogNumber() {
  CommandBlock b =
      Block(0x42, 10, Operation::ReadSubChannel, DataDirection::In, kSubChannelCodeLength);
  b.bytes[2] = 0x40;
  b.bytes[3] = 0x02;
  Put16(b, 7, kSubChannelCodeLength);
  return b;
}

CommandBlock ReadTrackIsrc(int track) {
  CommandBlock b =
      Block(0x42, 10, Operation::ReadSubChannel, DataDirection::In, kSubChannelCodeLength);
  b.bytes[2] = 0x40;
  b.bytes[3] = 0x03;
  b.bytes[6] = static_cast<std::uint8_t>(track);
  Put16(b, 7, kSubChannelCodeLength);
  return b;
}

CommandBlock ReadCDWithQ(std::int32_t lba, std::uint16_t count, bool anySectorType) {
  CommandBlock b = Block(0xBE, 12, Operation::ReadCDDA, DataDirection::In,
                         static_cast<std::uint32_t>(count) * kSectorWithQLength);
  b.bytes[1] = anySectorType ? 0x00 : 0x04;
  Put32(b, 2, static_cast<std::uint32_t>(lba));
  Put16(b, 7, count);
  b.bytes[9] = anySectorType ? 0xF8 : 0x10;
  b.bytes[10] = 0x02;
  return b;
}

CommandBlock ReadCDWithC2(std::int32_t lba, std::uint16_t count) {
  CommandBlock b = Block(0xBE, 12, Operation::ReadCDDA, DataDirection::In,
                         static_cast<std::uint32_t>(count) * kSectorWithC2Length);
  b.bytes[1] = 0x04;
  Put32(b, 2, static_cast<std::uint32_t>(lba));
  Put16(b, 7, count);
  b.bytes[9] = 0x12;
  return b;
}

CommandBlock SetReadSpeed(int factor) {
  CommandBlock b = Block(0xBB, 12, Operation::SetSpeed);
  Put16(b, 2, SpeedField(factor));
  Put16(b, 4, 0xFFFF);
  return b;
}

CommandBlock SetWriteSpeed(int factor) {
  CommandBlock b = Block(0xBB, 12, Operation::SetSpeed);
  Put16(b, 2, 0xFFFF);
  Put16(b, 4, SpeedField(factor));
  return b;
}

CommandBlock ModeSenseCapabilities(std::uint32_t replyLength) {
  CommandBlock b =
      Block(0x5A, 10, Operation::ModeSenseCapabilities, DataDirection::In, replyLength);
  b.bytes[2] = 0x2A;
  b.bytes[8] = 26;
  return b;
}

CommandBlock ModeSelectWriteParams() {
  CommandBlock b =
      Block(0x55, 10, Operation::ModeSelectWriteParams, DataDirection::Out, kWriteParamsLength);
  b.bytes[1] = 0x10;
  Put16(b, 7, kWriteParamsLength);
  return b;
}

CommandBlock ModeSelectAudioControl() {
  CommandBlock b = Block(0x55, 10, Operation::ModeSelectAudioControl, DataDirection::Out,
                         kAudioControlLength);
  b.bytes[1] = 0x10;
  Put16(b, 7, kAudioControlLength);
  return b;
}

CommandBlock BlankDisc(int blankingType) {
  CommandBlock b = Block(0xA1, 12, Operation::BlankDisc);
  b.bytes[1] = static_cast<std::uint8_t>(blankingType & 0x07);
  return b;
}

CommandBlock SendOPC() {
  CommandBlock b = Block(0x54, 10, Operation::SendOPC);
  b.bytes[1] = 0x01;
  return b;
}

CommandBlock WriteSectors(std::int32_t lba, std::uint16_t blockCount, std::uint32_t blockSize) {
  CommandBlock b = Block(0x2A, 10, Operation::WriteSectors, DataDirection::Out,
                         static_cast<std::uint32_t>(blockCount) * blockSize);
  Put32(b, 2, static_cast<std::uint32_t>(lba));
  Put16(b, 7, blockCount);
  return b;
}

CommandBlock SendCueSheet(std::uint32_t entryCount) {
  const std::uint32_t size = entryCount * 8;
  CommandBlock b = Block(0x5D, 10, Operation::SendCueSheet, DataDirection::Out, size);
  Put24(b, 6, size);
  return b;
}

CommandBlock CloseSession() {
  CommandBlock b = Block(0x5B, 10, Operation::CloseSession);
  b.bytes[2] = 0x02;
  return b;
}

CommandBlock ReadDiscInfo() {
  CommandBlock b = Block(0x51, 10, Operation::ReadDiscInfo, DataDirection::In, kDiscInfoLength);
  Put16(b, 7, kDiscInfoLength);
  return b;
}

CommandBlock MechanismStatus() {
  CommandBlock b = Block(0xBD, 12, Operation::MechanismStatus, DataDirection::In,
                         kMechanismStatusLength);
  Put16(b, 8, kMechanismStatusLength);
  return b;
}

}  // namespace cdb

std::array<std::uint8_t, kWriteParamsLength> WriteParamsList(std::uint16_t audioPauseLength,
                                                            std::uint32_t packetSize,
                                                            bool testWrite, int writeType) {
  std::array<std::uint8_t, kWriteParamsLength> p{};
  p[8] = 0x05;
  p[9] = 0x32;
  p[10] = static_cast<std::uint8_t>(0x40 | ((testWrite ? 1 : 0) << 4) | (writeType & 0x0F));
  if (packetSize != 0) {
    p[11] = 0x20;
    p[18] = static_cast<std::uint8_t>(packetSize >> 24);
    p[19] = static_cast<std::uint8_t>(packetSize >> 16);
    p[20] = static_cast<std::uint8_t>(packetSize >> 8);
    p[21] = static_cast<std::uint8_t>(packetSize);
  }
  p[22] = static_cast<std::uint8_t>(audioPauseLength >> 8);
  p[23] = static_cast<std::uint8_t>(audioPauseLength);
  return p;
}

std::array<std::uint8_t, kAudioControlLength> AudioControlList(std::uint8_t volume) {
  std::array<std::uint8_t, kAudioControlLength> p{};
  p[8] = 0x0E;
  p[9] = 0x0E;
  p[10] = 0x04;
  p[16] = 0x01;
  p[17] = volume;
  p[18] = 0x02;
  p[19] = volume;
  return p;
}

int PassThroughDirectionCode(const CommandBlock& block) {
  if (block.op == Operation::PlayAudioMSF) return 1;
  if (block.op == Operation::SendOPC) return 0;
  if (block.op == Operation::MechanismStatus) return 2;
  switch (block.direction) {
    case DataDirection::In: return 1;
    case DataDirection::Out: return 0;
    case DataDirection::None: break;
  }
  return 2;
}

int GenericDirectionFlag(const CommandBlock& block) {
  if (block.op == Operation::SendOPC) return 0x10;
  return block.direction == DataDirection::Out ? 0x10 : 0x08;
}

DataDirection WireDirection(const CommandBlock& block) {
  if (block.transferLength == 0) return DataDirection::None;
  return block.direction;
}

}  // namespace sonarvex

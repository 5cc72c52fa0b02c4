#include "drive/DriveCommands.h"

#include <cstring>

namespace sonarvex {

CommandResult Inquiry(Transport& t, std::uint8_t (&reply)[kInquiryLength]) {
  return t.Execute(cdb::Inquiry(), reply);
}

std::string IdentificationText(const std::uint8_t* reply, int length) {
  std::string text;
  for (int i = 0; i < length; ++i) {
    const char c = static_cast<char>(reply[8 + i]);
    if (c == '\0') break;
    text.push_back(c);
  }
  return text;
}

CommandResult ReadTOC(Transport& t, std::uint8_t (&toc)[kTocLength]) {
  return t.Execute(cdb::ReadTOC(), toc);
}

CommandResult ReadSessionInfo(Transport& t, std::uint8_t (&reply)[kSessionInfoLength]) {
  return t.Execute(cdb::ReadSessionInfo(), reply);
}

CommandResult ReadCDDA(Transport& t, std::uint8_t* buffer, std::int32_t lba,
                       std::uint32_t byteCount) {
  if (!buffer) return static_cast<std::uint16_t>(byteCount / kBytesPerSector);
  return t.Execute(cdb::ReadCDDA(ReadCommandForDriveType(t.DriveType()), lba, byteCount), buffer);
}

CommandResult PlayAudioMSF(Transport& t, Msf start, Msf end) {
  return t.Execute(cdb::PlayAudioMSF(start, end), nullptr);
}
CommandResult StopPlayScan(Transport& t) { return t.Execute(cdb::StopPlayScan(), nullptr); }
CommandResult Seek(Transport& t, std::int32_t lba) { return t.Execute(cdb::Seek(lba), nullptr); }
CommandResult StartStopUnit(Transport& t, bool eject) {
  return t.Execute(cdb::StartStopUnit(eject), nullptr);
}
CommandResult LockMedium(Transport& t, bool lock) {
  return t.Execute(cdb::LockMedium(lock), nullptr);
}

int TestUnitReadySense(Transport& t) {
  if (t.Succeeded(t.Execute(cdb::TestUnitReady(), nullptr))) return 0;
  const std::uint8_t key = SenseKey(t.LastSense().data());
  return key == 2 || key == 6 ? 2 : 1;
}

CommandResult ReadSubChannel(Transport& t, SubChannelPosition& out) {
  std::uint8_t reply[kSubChannelLength] = {};
  const CommandResult r = t.Execute(cdb::ReadSubChannel(), reply);
  out.audioStatus = reply[1];
  std::memcpy(out.position.data(), reply + 8, 4);
  return r;
}

CommandResult SetReadSpeed(Transport& t, int factor) {
  return t.Execute(cdb::SetReadSpeed(factor), nullptr);
}
CommandResult SetWriteSpeed(Transport& t, int factor) {
  return t.Execute(cdb::SetWriteSpeed(factor), nullptr);
}

CommandResult ModeSenseCapabilities(Transport& t, std::uint8_t* buffer) {
  const std::uint32_t length =
      t.Kind() == TransportKind::Spti ? kModeSenseLengthSpti : kModeSenseLengthAspi;
  return t.Execute(cdb::ModeSenseCapabilities(length), buffer);
}

CommandResult ModeSelectWriteParams(Transport& t, std::uint16_t audioPauseLength,
                                    std::uint32_t packetSize, bool testWrite, int writeType) {
  auto list = WriteParamsList(audioPauseLength, packetSize, testWrite, writeType);
  return t.Execute(cdb::ModeSelectWriteParams(), list.data());
}

CommandResult ModeSelectAudioControl(Transport& t, std::uint8_t volume) {
  auto list = AudioControlList(volume);
  return t.Execute(cdb::ModeSelectAudioControl(), list.data());
}

CommandResult BlankDisc(Transport& t, int blankingType) {
  return t.Execute(cdb::BlankDisc(blankingType), nullptr);
}
CommandResult SendOPC(Transport& t) { return t.Execute(cdb::SendOPC(), nullptr); }

CommandResult WriteSectors(Transport& t, std::uint8_t* buffer, std::int32_t lba,
                           std::uint16_t blockCount, std::uint32_t blockSize) {
  return t.Execute(cdb::WriteSectors(lba, blockCount, blockSize), buffer);
}

CommandResult SendCueSheet(Transport& t, std::uint8_t* buffer, std::uint32_t entryCount) {
  return t.Execute(cdb::SendCueSheet(entryCount), buffer);
}

CommandResult CloseSession(Transport& t) { return t.Execute(cdb::CloseSession(), nullptr); }

CommandResult ReadDiscInfo(Transport& t, std::uint8_t (&buffer)[kDiscInfoLength]) {
  return t.Execute(cdb::ReadDiscInfo(), buffer);
}

int MechanismStatus(Transport& t) {
  std::uint8_t reply[kMechanismStatusLength] = {};
  if (!t.Succeeded(t.Execute(cdb::MechanismStatus(), reply))) return 0;
  if (reply[1] & 0x10) return 5;
  return (reply[1] >> 5) + 1;
}

std::uint8_t SetReadCommand(Transport& t, int readCommand) {
  const auto type = static_cast<std::uint8_t>(DriveTypeForReadCommand(readCommand));
  t.SetDriveType(type);
  return type;
}

}  // namespace sonarvex

#include "drive/DriveCommands.h"

#include <cstring>
#include <vector>

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

namespace {

bool Digit(std::uint8_t c) { return c >= '0' && c <= '9'; }
bool UpperOrDigit(std::uint8_t c) { return Digit(c) || (c >= 'A' && c <= 'Z'); }

// Two BCD digits up to `limit` (exclusive), or -1.
int FromBcd(std::uint8_t b, int limit) {
  const int hi = b >> 4, lo = b & 0x0F;
  if (hi > 9 || lo > 9) return -1;
  const int v = hi * 10 + lo;
  return v < limit ? v : -1;
}

}  // namespace

std::string CatalogFromReply(const std::uint8_t (&reply)[kSubChannelCodeLength]) {
  if (reply[4] != 0x02 || !(reply[8] & 0x80)) return {};
  std::string digits;
  bool allZero = true;
  for (int i = 9; i < 9 + 13; ++i) {
    if (!Digit(reply[i])) return {};
    allZero = allZero && reply[i] == '0';
    digits.push_back(static_cast<char>(reply[i]));
  }
  return allZero ? std::string() : digits;
}

std::string IsrcFromReply(const std::uint8_t (&reply)[kSubChannelCodeLength], int track) {
  if (reply[4] != 0x03 || !(reply[8] & 0x80)) return {};
  if (reply[6] != 0 && reply[6] != track) return {};
  std::string code;
  bool allZero = true;
  for (int i = 0; i < 12; ++i) {
    const std::uint8_t c = reply[9 + i];
    if (i < 5 ? !UpperOrDigit(c) : !Digit(c)) return {};
    allZero = allZero && c == '0';
    code.push_back(static_cast<char>(c));
  }
  return allZero ? std::string() : code;
}

CommandResult ReadMediaCatalogNumber(Transport& t, std::string& catalog) {
  std::uint8_t reply[kSubChannelCodeLength] = {};
  const CommandResult r = t.Execute(cdb::ReadMediaCatalogNumber(), reply);
  catalog = t.Succeeded(r) ? CatalogFromReply(reply) : std::string();
  return r;
}

CommandResult ReadTrackIsrc(Transport& t, int track, std::string& isrc) {
  std::uint8_t reply[kSubChannelCodeLength] = {};
  const CommandResult r = t.Execute(cdb::ReadTrackIsrc(track), reply);
  isrc = t.Succeeded(r) ? IsrcFromReply(reply, track) : std::string();
  return r;
}

std::uint16_t Crc16Ccitt(const std::uint8_t* data, std::size_t size) {
  std::uint16_t crc = 0;
  for (std::size_t i = 0; i < size; ++i) {
    crc = static_cast<std::uint16_t>(crc ^ (data[i] << 8));
    for (int bit = 0; bit < 8; ++bit)
      crc = static_cast<std::uint16_t>(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
  }
  return crc;
}

std::uint16_t SubQCrc(const std::uint8_t* q) {
  return static_cast<std::uint16_t>(~Crc16Ccitt(q, 10));
}

SubQ ParseFormattedQ(const std::uint8_t* q) {
  SubQ s;
  s.control = static_cast<std::uint8_t>(q[0] >> 4);
  s.adr = static_cast<std::uint8_t>(q[0] & 0x0F);
  const std::uint16_t field = static_cast<std::uint16_t>(q[10] << 8 | q[11]);
  const std::uint16_t recorded = SubQCrc(q);
  if (field == recorded || field == static_cast<std::uint16_t>(~recorded)) {
    s.crcChecked = true;
  } else if (field != 0) {
    s.kind = SubQKind::BadCrc;
    return s;
  }
  if (s.adr != 1) {
    s.kind = SubQKind::OtherMode;
    return s;
  }
  s.track = q[1] == kLeadOutTrackNumber ? kLeadOutTrackNumber : FromBcd(q[1], 100);
  s.index = FromBcd(q[2], 100);
  const int m = FromBcd(q[3], 100), sec = FromBcd(q[4], 60), f = FromBcd(q[5], 75);
  const int am = FromBcd(q[7], 100), as = FromBcd(q[8], 60), af = FromBcd(q[9], 75);
  if (s.track <= 0 || s.index < 0 || m < 0 || sec < 0 || f < 0 || am < 0 || as < 0 || af < 0) {
    s.kind = SubQKind::Malformed;
    return s;
  }
  s.relative = m * kFramesPerMinute + sec * kFramesPerSecond + f;
  s.absoluteLba = am * kFramesPerMinute + as * kFramesPerSecond + af - 150;
  s.kind = SubQKind::Position;
  return s;
}

CommandResult ReadCDDAWithC2(Transport& t, std::uint8_t* audio, std::uint8_t* c2, std::int32_t lba,
                             std::uint32_t sectors) {
  std::vector<std::uint8_t> raw(static_cast<std::size_t>(sectors) * kSectorWithC2Length);
  const CommandResult r =
      t.Execute(cdb::ReadCDWithC2(lba, static_cast<std::uint16_t>(sectors)), raw.data());
  for (std::uint32_t i = 0; i < sectors; ++i) {
    const std::uint8_t* from = raw.data() + static_cast<std::size_t>(i) * kSectorWithC2Length;
    std::memcpy(audio + static_cast<std::size_t>(i) * kBytesPerSector, from, kBytesPerSector);
    std::memcpy(c2 + static_cast<std::size_t>(i) * kC2PointerBytes, from + kBytesPerSector,
                kC2PointerBytes);
  }
  return r;
}

CommandResult ReadSectorQ(Transport& t, std::int32_t lba, bool anySectorType,
                          std::uint8_t (&q)[kFormattedQLength]) {
  std::uint8_t sector[kSectorWithQLength] = {};
  const CommandResult r = t.Execute(cdb::ReadCDWithQ(lba, 1, anySectorType), sector);
  if (t.Succeeded(r))
    std::memcpy(q, sector + kBytesPerSector, kFormattedQLength);
  else
    std::memset(q, 0, kFormattedQLength);
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

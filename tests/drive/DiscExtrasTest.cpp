// The disc's extras: the catalogue number, the ISRCs and the pregaps, read
// through the real transports from the software drive (CATALOG, ISRC and
// INDEX 00 / PREGAP of a CUE image), from drives that refuse to tell, and
// from replies crafted byte by byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "drive/AudioReading.h"
#include "drive/CommandBlock.h"
#include "drive/DiscExtras.h"
#include "drive/DriveCommands.h"
#include "drive/virtual/CueImage.h"
#include "platform/Files.h"
#include "tests/drive/DriveRig.h"

namespace sonarvex {
namespace {

using test::DriveRig;

// ---- Replies crafted by hand ------------------------------------------------

std::vector<int> Bytes(const CommandBlock& b) { return std::vector<int>(b.bytes.begin(), b.bytes.end()); }
std::vector<int> Expect(std::initializer_list<std::pair<int, int>> set) {
  std::vector<int> v(16, 0);
  for (auto [i, x] : set) v[static_cast<std::size_t>(i)] = x;
  return v;
}

TEST(DriveCodesCommands, BlocksByteByByte) {
  const CommandBlock mcn = cdb::ReadMediaCatalogNumber();
  EXPECT_EQ(Bytes(mcn), Expect({{0, 0x42}, {2, 0x40}, {3, 0x02}, {8, 24}}));
  EXPECT_EQ(mcn.length, 10);
  EXPECT_EQ(mcn.direction, DataDirection::In);
  EXPECT_EQ(mcn.transferLength, 24u);
  const CommandBlock isrc = cdb::ReadTrackIsrc(7);
  EXPECT_EQ(Bytes(isrc), Expect({{0, 0x42}, {2, 0x40}, {3, 0x03}, {6, 7}, {8, 24}}));
  EXPECT_EQ(isrc.transferLength, 24u);
  const CommandBlock any = cdb::ReadCDWithQ(0x00012345, 1, true);
  EXPECT_EQ(Bytes(any), Expect({{0, 0xBE}, {3, 1}, {4, 0x23}, {5, 0x45}, {8, 1}, {9, 0xF8}, {10, 0x02}}));
  EXPECT_EQ(any.length, 12);
  EXPECT_EQ(any.transferLength, 2368u);
  EXPECT_EQ(any.op, Operation::ReadCDDA);  // a short transfer fails like an audio read's
  const CommandBlock cdda = cdb::ReadCDWithQ(150, 3, false);
  EXPECT_EQ(Bytes(cdda), Expect({{0, 0xBE}, {1, 0x04}, {5, 150}, {8, 3}, {9, 0x10}, {10, 0x02}}));
  EXPECT_EQ(cdda.transferLength, 3u * 2368u);
}

using Reply = std::uint8_t[kSubChannelCodeLength];

void CatalogReply(Reply& r, const char* digits, bool mcval = true) {
  std::memset(r, 0, sizeof r);
  r[1] = 0x15;
  r[3] = 20;
  r[4] = 0x02;
  r[8] = mcval ? 0x80 : 0;
  std::memcpy(r + 9, digits, std::strlen(digits));
}

TEST(DriveCodesParsing, CatalogueNumber) {
  Reply r;
  CatalogReply(r, "4006381333931");
  EXPECT_EQ(CatalogFromReply(r), "4006381333931");
  CatalogReply(r, "4006381333931", false);  // MCVAL = 0: whatever the bytes
  EXPECT_EQ(CatalogFromReply(r), "");
  CatalogReply(r, "0000000000000");  // all zero: none
  EXPECT_EQ(CatalogFromReply(r), "");
  CatalogReply(r, "40063813339A1");
  EXPECT_EQ(CatalogFromReply(r), "");
  CatalogReply(r, "400638133393");  // 12 digits, the 13th a NUL
  EXPECT_EQ(CatalogFromReply(r), "");
  CatalogReply(r, "4006381333931");
  r[4] = 0x01;  // the drive answered another format
  EXPECT_EQ(CatalogFromReply(r), "");
  std::memset(r, 0, sizeof r);  // nothing transferred
  EXPECT_EQ(CatalogFromReply(r), "");
}

void IsrcReply(Reply& r, const char* code, int track, bool tcval = true) {
  std::memset(r, 0, sizeof r);
  r[3] = 20;
  r[4] = 0x03;
  r[5] = 0x30;
  r[6] = static_cast<std::uint8_t>(track);
  r[8] = tcval ? 0x80 : 0;
  std::memcpy(r + 9, code, std::strlen(code));
}

TEST(DriveCodesParsing, Isrc) {
  Reply r;
  IsrcReply(r, "USRC17607839", 2);
  EXPECT_EQ(IsrcFromReply(r, 2), "USRC17607839");
  EXPECT_EQ(IsrcFromReply(r, 3), "");  // another track's
  IsrcReply(r, "USRC17607839", 0);    // no track number in the reply
  EXPECT_EQ(IsrcFromReply(r, 5), "USRC17607839");
  IsrcReply(r, "USRC17607839", 2, false);  // TCVAL = 0
  EXPECT_EQ(IsrcFromReply(r, 2), "");
  IsrcReply(r, "000000000000", 2);
  EXPECT_EQ(IsrcFromReply(r, 2), "");
  IsrcReply(r, "usrc17607839", 2);  // Q cannot carry lower case
  EXPECT_EQ(IsrcFromReply(r, 2), "");
  IsrcReply(r, "USRC1760783X", 2);  // the last seven are digits
  EXPECT_EQ(IsrcFromReply(r, 2), "");
  IsrcReply(r, "US-C17607839", 2);
  EXPECT_EQ(IsrcFromReply(r, 2), "");
  IsrcReply(r, "USRC1760783", 2);  // 11 characters
  EXPECT_EQ(IsrcFromReply(r, 2), "");
  IsrcReply(r, "USRC17607839", 2);
  r[4] = 0x02;
  EXPECT_EQ(IsrcFromReply(r, 2), "");
}

std::uint8_t Bcd(int v) { return static_cast<std::uint8_t>((v / 10) << 4 | (v % 10)); }

// A mode 1 section: track, index, relative and absolute frames, with its CRC.
void PositionQ(std::uint8_t (&q)[16], int track, int index, int relative, int absolute,
               std::uint8_t control = 0) {
  std::memset(q, 0, sizeof q);
  q[0] = static_cast<std::uint8_t>(control << 4 | 1);
  q[1] = track == kLeadOutTrackNumber ? 0xAA : Bcd(track);
  q[2] = Bcd(index);
  q[3] = Bcd(relative / 4500);
  q[4] = Bcd(relative / 75 % 60);
  q[5] = Bcd(relative % 75);
  q[7] = Bcd(absolute / 4500);
  q[8] = Bcd(absolute / 75 % 60);
  q[9] = Bcd(absolute % 75);
  const std::uint16_t crc = SubQCrc(q);
  q[10] = static_cast<std::uint8_t>(crc >> 8);
  q[11] = static_cast<std::uint8_t>(crc);
}

TEST(DriveSubQParsing, Crc) {
  const char* check = "123456789";
  EXPECT_EQ(Crc16Ccitt(reinterpret_cast<const std::uint8_t*>(check), 9), 0x31C3);
  const std::uint8_t q[10] = {0x01, 0x03, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x44, 0x00};
  EXPECT_EQ(SubQCrc(q), static_cast<std::uint16_t>(~Crc16Ccitt(q, 10)));
}

TEST(DriveSubQParsing, PositionsAndWhatIsNotOne) {
  std::uint8_t q[16];
  PositionQ(q, 3, 0, 150, 3000 + 150, 0x2);
  SubQ s = ParseFormattedQ(q);
  EXPECT_EQ(s.kind, SubQKind::Position);
  EXPECT_TRUE(s.crcChecked);
  EXPECT_EQ(s.control, 0x2);
  EXPECT_EQ(s.adr, 1);
  EXPECT_EQ(s.track, 3);
  EXPECT_EQ(s.index, 0);
  EXPECT_EQ(s.relative, 150);
  EXPECT_EQ(s.absoluteLba, 3000);

  // One bit off anywhere in the section: the CRC does not check.
  for (int byte = 0; byte < 12; ++byte) {
    PositionQ(q, 3, 0, 150, 3150);
    q[byte] ^= 0x10;
    EXPECT_EQ(ParseFormattedQ(q).kind, SubQKind::BadCrc) << byte;
  }
  // Not inverted: some drives give it so.
  PositionQ(q, 12, 1, 9, 99999);
  q[10] ^= 0xFF;
  q[11] ^= 0xFF;
  s = ParseFormattedQ(q);
  EXPECT_EQ(s.kind, SubQKind::Position);
  EXPECT_EQ(s.track, 12);
  EXPECT_EQ(s.absoluteLba, 99999 - 150);
  // No CRC supplied (MMC allows zero there): usable, but not checked.
  PositionQ(q, 12, 1, 9, 99999);
  q[10] = q[11] = 0;
  s = ParseFormattedQ(q);
  EXPECT_EQ(s.kind, SubQKind::Position);
  EXPECT_FALSE(s.crcChecked);
  // The lead-out.
  PositionQ(q, kLeadOutTrackNumber, 1, 3, 20000);
  EXPECT_EQ(ParseFormattedQ(q).track, kLeadOutTrackNumber);

  // A catalogue (mode 2) section with a good CRC is no position.
  std::uint8_t m[16] = {0x02, 0x40, 0x06, 0x38, 0x13, 0x33, 0x93, 0x10, 0x00, 0x60};
  std::uint16_t crc = SubQCrc(m);
  m[10] = static_cast<std::uint8_t>(crc >> 8);
  m[11] = static_cast<std::uint8_t>(crc);
  s = ParseFormattedQ(m);
  EXPECT_EQ(s.kind, SubQKind::OtherMode);
  EXPECT_EQ(s.adr, 2);
  // Fields out of range under a good CRC.
  const auto malformed = [&](int byte, std::uint8_t value) {
    PositionQ(q, 3, 1, 10, 3000);
    q[byte] = value;
    const std::uint16_t c = SubQCrc(q);
    q[10] = static_cast<std::uint8_t>(c >> 8);
    q[11] = static_cast<std::uint8_t>(c);
    return ParseFormattedQ(q).kind;
  };
  EXPECT_EQ(malformed(1, 0x1A), SubQKind::Malformed);  // not BCD
  EXPECT_EQ(malformed(1, 0x00), SubQKind::Malformed);  // track 0 is the lead-in's
  EXPECT_EQ(malformed(4, 0x60), SubQKind::Malformed);  // 60 seconds
  EXPECT_EQ(malformed(9, 0x75), SubQKind::Malformed);  // frame 75
  EXPECT_EQ(malformed(2, 0xA0), SubQKind::Malformed);
}

// ---- The software drive with a CUE image ------------------------------------

// Pregaps of 33 sectors (track 1, from LBA 0), 0, 2 s, 1, 137 (INDEX 00 in
// the previous file), 242 (PREGAP), 900 (12 s, beyond the 10 s window), 74
// and 150 (a file starting before INDEX 01); a data track in a second
// session.
constexpr const char* kCue =
    "CATALOG 4006381333931\n"
    "PERFORMER \"Someone\"\n"
    "FILE \"one.bin\" BINARY\n"
    "  TRACK 01 AUDIO\n    ISRC DEA123456789\n    INDEX 00 00:00:00\n    INDEX 01 00:00:33\n"
    "  TRACK 02 AUDIO\n    TITLE \"Two\"\n    ISRC usrc17607839\n    INDEX 01 00:20:00\n"
    "  TRACK 03 AUDIO\n    INDEX 00 00:40:00\n    INDEX 01 00:42:00\n"
    "  TRACK 04 AUDIO\n    ISRC GBAYE0000351\n    INDEX 00 01:00:00\n    INDEX 01 01:00:01\n"
    "  TRACK 05 AUDIO\n    ISRC FRZ039800212\n    INDEX 00 01:20:00\n"
    "FILE \"two.bin\" BINARY\n    INDEX 01 00:00:00\n"
    "  TRACK 06 AUDIO\n    PREGAP 00:03:17\n    INDEX 01 00:30:00\n"
    "  TRACK 07 AUDIO\n    INDEX 00 00:45:00\n    INDEX 01 00:57:00\n"
    "  TRACK 08 AUDIO\n    ISRC 000000000000\n    INDEX 00 01:10:00\n    INDEX 01 01:10:74\n"
    "FILE \"three.bin\" BINARY\n  TRACK 09 AUDIO\n    INDEX 01 00:02:00\n"
    "REM SESSION 02\n"
    "FILE \"data.bin\" BINARY\n  TRACK 10 MODE1/2048\n    ISRC USAAA1111111\n    INDEX 01 00:00:00\n";

struct Expected {
  int number;
  std::int32_t start;
  std::int32_t pregap;
  const char* isrc;
};
constexpr Expected kTracks[] = {
    {1, 33, 33, "DEA123456789"},  {2, 1500, 0, "USRC17607839"}, {3, 3150, 150, ""},
    {4, 4501, 1, "GBAYE0000351"}, {5, 6137, 137, "FRZ039800212"}, {6, 8629, 242, ""},
    {7, 10654, 900, ""},          {8, 11703, 74, ""},              {9, 12529, 150, ""},
};

class Image {
 public:
  Image() : folder_(test::MakeTempFolder()) {}
  ~Image() { std::filesystem::remove_all(folder_); }
  // Writes the sheet and BIN files of the given sizes (in bytes, sparse).
  std::string Write(const std::string& cue, const std::vector<std::pair<std::string, std::uintmax_t>>& bins) {
    for (const auto& [name, size] : bins) {
      const std::string path = JoinPath(folder_, name);
      WriteFileAtomically(path, std::string());
      std::filesystem::resize_file(path, size);
    }
    const std::string path = JoinPath(folder_, "disc.cue");
    WriteFileAtomically(path, cue);
    return path;
  }
  VirtualDisc Load(const std::string& cue, const std::vector<std::pair<std::string, std::uintmax_t>>& bins) {
    std::string error;
    auto disc = LoadCueImage(Write(cue, bins), &error);
    EXPECT_TRUE(disc) << error;
    return disc ? std::move(*disc) : VirtualDisc{};
  }
  VirtualDisc Standard() {
    return Load(kCue, {{"one.bin", 2352u * 6137}, {"two.bin", 2352u * 6000},
                       {"three.bin", 2352u * 1000}, {"data.bin", 2048u * 300}});
  }

 private:
  std::string folder_;
};

TEST(CueCodes, CatalogueIsrcsAndPregapsOfTheLayout) {
  Image image;
  const VirtualDisc disc = image.Standard();
  EXPECT_EQ(disc.catalog, "4006381333931");
  ASSERT_EQ(disc.tracks.size(), 10u);
  for (const Expected& e : kTracks) {
    const VirtualTrack& t = disc.tracks[static_cast<std::size_t>(e.number - 1)];
    SCOPED_TRACE(e.number);
    EXPECT_EQ(t.startLba, e.start);
    EXPECT_EQ(t.pregapSectors, e.pregap);
    // The all-zero ISRC of track 8 is kept as written: the drive says it and
    // the reader takes it for none.
    EXPECT_EQ(t.isrc, e.number == 8 ? "000000000000" : e.isrc);
  }
  EXPECT_EQ(disc.tracks[9].isrc, "");  // no ISRC for a data track
  EXPECT_EQ(disc.tracks[9].startLba, 13379 + 11400);
}

// The Q sub-channel as the software drive gives it with READ CD.
std::vector<std::uint8_t> ReadQ(Transport& t, std::int32_t lba, int count, bool anyType = true) {
  std::vector<std::uint8_t> data(static_cast<std::size_t>(count) * kSectorWithQLength);
  const CommandBlock b = cdb::ReadCDWithQ(lba, static_cast<std::uint16_t>(count), anyType);
  if (!t.Succeeded(t.Execute(b, data.data()))) return {};
  return data;
}

// The characters of a mode 3 section: five of six bits, then seven BCD digits.
std::string IsrcOfSection(const std::uint8_t* q) {
  auto bit = [&](int i) { return (q[1 + i / 8] >> (7 - i % 8)) & 1; };
  auto field = [&](int from, int bits) {
    int v = 0;
    for (int i = 0; i < bits; ++i) v = v << 1 | bit(from + i);
    return v;
  };
  std::string s;
  for (int i = 0; i < 5; ++i) s.push_back(static_cast<char>('0' + field(6 * i, 6)));
  for (int i = 0; i < 7; ++i) s.push_back(static_cast<char>('0' + field(32 + 4 * i, 4)));
  return s;
}

// A transport in front of another that can alter what READ CD returns as
// the Q sub-channel (onQ sees the 16 bytes of each sector), or ask the drive
// for another sector's Q than the one requested (qShift), like a drive whose
// Q lags behind.
class QFilter : public Transport {
 public:
  explicit QFilter(Transport& inner) : inner_(inner) {}
  std::function<void(std::int32_t lba, std::uint8_t* q)> onQ;
  int qShift = 0;

  TransportKind Kind() const override { return inner_.Kind(); }
  CommandResult SuccessCode() const override { return inner_.SuccessCode(); }
  bool SelectDevice(int index, std::uint8_t driveType) override {
    return inner_.SelectDevice(index, driveType);
  }
  bool HasDevice() const override { return inner_.HasDevice(); }
  bool TestUnitReady() override { return inner_.TestUnitReady(); }
  int SetCDVolume(std::uint8_t volume) override { return inner_.SetCDVolume(volume); }
  CommandResult Execute(const CommandBlock& block, std::uint8_t* buffer) override {
    const bool q = block.bytes[0] == 0xBE && block.bytes[10] == 0x02;
    CommandBlock b = block;
    const std::int32_t lba = static_cast<std::int32_t>(
        static_cast<std::uint32_t>(b.bytes[2]) << 24 | b.bytes[3] << 16 | b.bytes[4] << 8 | b.bytes[5]);
    if (q && qShift) {
      // The audio of the sector asked for, the Q of another.
      std::vector<std::uint8_t> other(b.transferLength);
      const std::uint32_t shifted = static_cast<std::uint32_t>(lba + qShift);
      b.bytes[2] = static_cast<std::uint8_t>(shifted >> 24);
      b.bytes[3] = static_cast<std::uint8_t>(shifted >> 16);
      b.bytes[4] = static_cast<std::uint8_t>(shifted >> 8);
      b.bytes[5] = static_cast<std::uint8_t>(shifted);
      const CommandResult r = inner_.Execute(b, other.data());
      lastSense_ = inner_.LastSense();
      if (!inner_.Succeeded(r)) return r;
      std::memcpy(buffer + kBytesPerSector, other.data() + kBytesPerSector, kFormattedQLength);
      if (onQ) onQ(lba, buffer + kBytesPerSector);
      return r;
    }
    const CommandResult r = inner_.Execute(b, buffer);
    lastSense_ = inner_.LastSense();
    if (q && inner_.Succeeded(r) && onQ)
      for (std::uint32_t at = 0; at + kSectorWithQLength <= b.transferLength; at += kSectorWithQLength)
        onQ(lba + static_cast<std::int32_t>(at / kSectorWithQLength), buffer + at + kBytesPerSector);
    return r;
  }

 private:
  Transport& inner_;
};

class VirtualDriveExtras : public testing::TestWithParam<TransportKind> {
 protected:
  Transport& Attach(DriveRig& rig, VirtualDisc disc, VirtualDriveConfig config = {}) {
    rig.AddDrive(std::move(disc), config);
    return rig.Get(GetParam());
  }
  static void Toc(Transport& t, DiscToc& toc) {
    std::uint8_t answer[kTocLength] = {};
    ASSERT_TRUE(t.Succeeded(ReadTOC(t, answer)));
    auto parsed = ParseTocAnswer(answer, kTocLength);
    ASSERT_TRUE(parsed);
    toc = *parsed;
  }
  Image image_;
};

TEST_P(VirtualDriveExtras, SubChannelRepliesAndQOfSectors) {
  DriveRig rig;
  Transport& t = Attach(rig, image_.Standard());

  std::uint8_t reply[kSubChannelCodeLength] = {};
  ASSERT_TRUE(t.Succeeded(t.Execute(cdb::ReadMediaCatalogNumber(), reply)));
  EXPECT_EQ(reply[3], 20);
  EXPECT_EQ(reply[4], 0x02);
  EXPECT_EQ(reply[8], 0x80);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(reply + 9), 13), "4006381333931");
  std::string code;
  EXPECT_TRUE(t.Succeeded(ReadTrackIsrc(t, 2, code)));
  EXPECT_EQ(code, "USRC17607839");
  EXPECT_TRUE(t.Succeeded(ReadTrackIsrc(t, 3, code)));  // no ISRC: TCVAL 0
  EXPECT_EQ(code, "");
  std::memset(reply, 0, sizeof reply);
  t.Execute(cdb::ReadTrackIsrc(3), reply);
  EXPECT_EQ(reply[8], 0);
  EXPECT_EQ(reply[6], 3);
  EXPECT_FALSE(t.Succeeded(ReadTrackIsrc(t, 11, code)));  // no such track
  EXPECT_EQ(t.LastSense()[2] & 0x0F, 5);
  EXPECT_EQ(t.LastSense()[12], 0x24);

  // Track 3's pregap: its first sector, the last one, INDEX 01; the relative
  // time counts down to INDEX 01 and up after it.
  const auto q = ReadQ(t, 2999, 3);
  ASSERT_EQ(q.size(), 3u * 2368u);
  const std::uint8_t* s0 = q.data() + 2352;
  const std::uint8_t* s1 = s0 + 2368;
  const std::uint8_t* s2 = s1 + 2368;
  const std::uint8_t e0[12] = {0x01, 0x02, 0x01, 0x00, 0x19, 0x74, 0, 0x00, 0x41, 0x74};
  EXPECT_EQ(0, std::memcmp(s0, e0, 10));  // track 2, index 1, 1499 frames in
  const std::uint8_t e1[12] = {0x01, 0x03, 0x00, 0x00, 0x02, 0x00, 0, 0x00, 0x42, 0x00};
  EXPECT_EQ(0, std::memcmp(s1, e1, 10));  // track 3, index 0, 150 frames to go, 00:42:00
  for (const std::uint8_t* s : {s0, s1, s2}) {
    const std::uint16_t crc = static_cast<std::uint16_t>(~Crc16Ccitt(s, 10));
    EXPECT_EQ(s[10], crc >> 8);
    EXPECT_EQ(s[11], crc & 0xFF);
    EXPECT_EQ(s[12] | s[13] | s[14] | s[15], 0);
  }
  const auto q3 = ReadQ(t, 3150, 1, false);  // the CD-DA form gives the same
  ASSERT_FALSE(q3.empty());
  SubQ p = ParseFormattedQ(q3.data() + 2352);
  EXPECT_EQ(p.kind, SubQKind::Position);
  EXPECT_EQ(p.track, 3);
  EXPECT_EQ(p.index, 1);
  EXPECT_EQ(p.relative, 0);
  EXPECT_EQ(p.absoluteLba, 3150);
  // Before track 1's INDEX 01: its pregap.
  p = ParseFormattedQ(ReadQ(t, 20, 1).data() + 2352);
  EXPECT_EQ(p.track, 1);
  EXPECT_EQ(p.index, 0);
  EXPECT_EQ(p.relative, 13);
  // The data track's sectors carry Q as well (the any-type form).
  p = ParseFormattedQ(ReadQ(t, 24800, 1).data() + 2352);
  EXPECT_EQ(p.track, 10);
  EXPECT_EQ(p.control, 4);
  EXPECT_TRUE(ReadQ(t, 24800, 1, false).empty());  // not CD-DA

  // One section in a hundred carries the catalogue, one the track's ISRC.
  const auto m = ReadQ(t, 1560, 1);  // absolute frame 1710
  ParseFormattedQ(m.data() + 2352);
  const std::uint8_t* mq = m.data() + 2352;
  EXPECT_EQ(ParseFormattedQ(mq).kind, SubQKind::OtherMode);
  const std::uint8_t mcn[10] = {0x02, 0x40, 0x06, 0x38, 0x13, 0x33, 0x93, 0x10, 0x00, 0x60};
  EXPECT_EQ(0, std::memcmp(mq, mcn, 10));
  const auto i = ReadQ(t, 1510, 1);  // absolute frame 1660, track 2
  const std::uint8_t* iq = i.data() + 2352;
  EXPECT_EQ(iq[0], 0x03);
  EXPECT_EQ(ParseFormattedQ(iq).kind, SubQKind::OtherMode);
  EXPECT_EQ(IsrcOfSection(iq), "USRC17607839");
  EXPECT_EQ(iq[9], Bcd(1660 % 75));
}

void ExpectStandard(const DiscExtras& x) {
  EXPECT_EQ(x.catalog, "4006381333931");
  ASSERT_EQ(x.tracks.size(), 10u);
  for (const Expected& e : kTracks) {
    const TrackExtras& t = x.tracks[static_cast<std::size_t>(e.number - 1)];
    SCOPED_TRACE(e.number);
    EXPECT_EQ(t.number, e.number);
    EXPECT_TRUE(t.audio);
    EXPECT_EQ(t.startLba, e.start);
    EXPECT_TRUE(t.pregapKnown);
    EXPECT_EQ(t.pregapSectors, e.pregap);
    EXPECT_EQ(t.PregapStartLba(), e.start - e.pregap);
    EXPECT_EQ(t.isrc, e.isrc);
  }
  const TrackExtras& data = x.tracks[9];
  EXPECT_FALSE(data.audio);
  EXPECT_EQ(data.isrc, "");
  EXPECT_FALSE(data.pregapKnown);
  EXPECT_FALSE(x.codesRefused);
  EXPECT_FALSE(x.qRefused);
  EXPECT_FALSE(x.interrupted);
}

TEST_P(VirtualDriveExtras, ReadsBackCatalogueIsrcsAndPregapsExactly) {
  DriveRig rig;
  Transport& t = Attach(rig, image_.Standard());
  DiscToc toc;
  Toc(t, toc);
  const int before = rig.Drive().GetStats().commands;
  const DiscExtras x = ReadDiscExtras(t, toc);
  ExpectStandard(x);
  EXPECT_EQ(rig.Drive().GetStats().commands - before, x.commands);
  // The same in the table of contents, the data track without either.
  ApplyDiscExtras(x, toc);
  EXPECT_EQ(toc.catalog, "4006381333931");
  for (const Expected& e : kTracks) {
    const TocTrack& k = toc.tracks[static_cast<std::size_t>(e.number - 1)];
    EXPECT_EQ(k.isrc, e.isrc) << e.number;
    EXPECT_TRUE(k.pregapKnown) << e.number;
    EXPECT_EQ(k.pregapSectors, e.pregap) << e.number;
  }
  EXPECT_EQ(toc.tracks[9].isrc, "");
  EXPECT_FALSE(toc.tracks[9].pregapKnown);
  // One catalogue and 9 ISRC requests; the Q reads of 9 searches.
  EXPECT_EQ(x.commands - x.subQReads, 10);
  EXPECT_LE(x.subQReads, 9 * 16);
  // Every Q read was a single sector of the any-type form.
  for (const auto& block : rig.Drive().CommandLog())
    if (block[0] == 0xBE) {
      EXPECT_EQ(block[8], 1);
      EXPECT_EQ(block[9], 0xF8);
      EXPECT_EQ(block[10], 0x02);
    }
}

TEST_P(VirtualDriveExtras, CostOfTheCommonCases) {
  // 2 s pregaps (and none) cost what the header says: 1 and 3 Q reads.
  DriveRig rig;
  Transport& t = Attach(rig, image_.Load("FILE \"a.bin\" BINARY\n"
                                         " TRACK 01 AUDIO\n  INDEX 01 00:00:00\n"
                                         " TRACK 02 AUDIO\n  INDEX 00 00:20:00\n  INDEX 01 00:22:00\n"
                                         " TRACK 03 AUDIO\n  INDEX 01 00:40:00\n",
                                         {{"a.bin", 2352u * 4500}}));
  DiscToc toc;
  Toc(t, toc);
  const DiscExtras x = ReadDiscExtras(t, toc);
  ASSERT_EQ(x.tracks.size(), 3u);
  EXPECT_EQ(x.tracks[0].pregapSectors, 0);
  EXPECT_EQ(x.tracks[1].pregapSectors, 150);
  EXPECT_EQ(x.tracks[2].pregapSectors, 0);
  for (const auto& e : x.tracks) EXPECT_TRUE(e.pregapKnown);
  EXPECT_EQ(x.catalog, "");
  EXPECT_EQ(x.subQReads, 0 + 3 + 1);  // track 1 at LBA 0 needs none
  EXPECT_EQ(x.commands, 1 + 3 + x.subQReads);
}

TEST_P(VirtualDriveExtras, CatalogueAndIsrcSectionsOnTheWayAreStepped) {
  // Track 2's INDEX 01 at LBA 761: the first probe (760, absolute frame 910)
  // is a catalogue section; the search later meets 310 (absolute 460), an
  // ISRC section of track 1.
  DriveRig rig;
  Transport& t = Attach(rig, image_.Load("CATALOG 0724384960650\nFILE \"a.bin\" BINARY\n"
                                         " TRACK 01 AUDIO\n  ISRC NLA509300012\n  INDEX 01 00:00:00\n"
                                         " TRACK 02 AUDIO\n  INDEX 00 00:08:10\n  INDEX 01 00:10:11\n"
                                         " TRACK 03 AUDIO\n  INDEX 00 00:20:00\n  INDEX 01 00:22:11\n",
                                         {{"a.bin", 2352u * 3000}}));
  QFilter seen(t);
  int catalogSections = 0, isrcSections = 0;
  seen.onQ = [&](std::int32_t, std::uint8_t* q) {
    catalogSections += (q[0] & 0x0F) == 2;
    isrcSections += (q[0] & 0x0F) == 3;
  };
  DiscToc toc;
  Toc(t, toc);
  const DiscExtras x = ReadDiscExtras(seen, toc);
  EXPECT_GE(catalogSections, 1);
  EXPECT_GE(isrcSections, 1);
  ASSERT_EQ(x.tracks.size(), 3u);
  EXPECT_EQ(x.catalog, "0724384960650");
  EXPECT_EQ(x.tracks[0].isrc, "NLA509300012");
  EXPECT_TRUE(x.tracks[1].pregapKnown);
  EXPECT_EQ(x.tracks[1].pregapSectors, 761 - 610);
  EXPECT_TRUE(x.tracks[2].pregapKnown);
  EXPECT_EQ(x.tracks[2].pregapSectors, 1661 - 1500);
}

TEST_P(VirtualDriveExtras, IndexPointsAfterIndex01AreFoundWhenAskedFor) {
  // Track 1: INDEX 02 at 225, INDEX 03 at 385; track 2: INDEX 02 at 900
  // (its pregap before INDEX 01 at 761); track 3 none. Catalogue and ISRC
  // sections lie on the way.
  DriveRig rig;
  Transport& t = Attach(rig, image_.Load("CATALOG 0724384960650\nFILE \"a.bin\" BINARY\n"
                                         " TRACK 01 AUDIO\n  ISRC NLA509300012\n  INDEX 01 00:00:00\n"
                                         "  INDEX 02 00:03:00\n  INDEX 03 00:05:10\n"
                                         " TRACK 02 AUDIO\n  INDEX 00 00:08:10\n  INDEX 01 00:10:11\n"
                                         "  INDEX 02 00:12:00\n"
                                         " TRACK 03 AUDIO\n  INDEX 01 00:20:00\n",
                                         {{"a.bin", 2352u * 3000}}));
  DiscToc toc;
  Toc(t, toc);
  // Not asked for: none, and not a Q read more.
  const DiscExtras plain = ReadDiscExtras(t, toc);
  for (const auto& e : plain.tracks) EXPECT_TRUE(e.indexLbas.empty());
  DiscExtrasOptions options;
  options.readIndexPoints = true;
  const DiscExtras x = ReadDiscExtras(t, toc, options);
  ASSERT_EQ(x.tracks.size(), 3u);
  EXPECT_EQ(x.tracks[0].indexLbas, (std::vector<std::int32_t>{225, 385}));
  EXPECT_EQ(x.tracks[1].indexLbas, (std::vector<std::int32_t>{900}));
  EXPECT_TRUE(x.tracks[2].indexLbas.empty());
  EXPECT_EQ(x.tracks[1].pregapSectors, 761 - 610);
  // One read at each track's end, a bisection for each point.
  EXPECT_LE(x.subQReads - plain.subQReads, 3 + 3 * 16);
  EXPECT_GE(x.subQReads - plain.subQReads, 3 + 3 * 6);
}

TEST_P(VirtualDriveExtras, ARefusingDriveGivesEmptyValuesAndTheRipGoesOn) {
  VirtualDriveConfig config;
  config.subChannelData = false;
  DriveRig rig;
  Transport& t = Attach(rig, image_.Standard(), config);
  DiscToc toc;
  Toc(t, toc);
  const DiscExtras x = ReadDiscExtras(t, toc);
  EXPECT_EQ(x.catalog, "");
  ASSERT_EQ(x.tracks.size(), 10u);
  for (const TrackExtras& e : x.tracks) {
    EXPECT_EQ(e.isrc, "") << e.number;
    EXPECT_FALSE(e.pregapKnown) << e.number;
    EXPECT_EQ(e.pregapSectors, 0) << e.number;
  }
  EXPECT_EQ(x.tracks[4].startLba, 6137);  // the table of contents' part stands
  EXPECT_TRUE(x.codesRefused);
  EXPECT_TRUE(x.qRefused);
  EXPECT_FALSE(x.interrupted);
  // The catalogue, the first ISRC, and the two READ CD forms once each.
  EXPECT_EQ(x.commands, 4);
  // The drive still reads audio.
  std::vector<std::uint8_t> audio;
  EXPECT_TRUE(ReadAudioSectors(t, 3000, 300, 26, audio));
  EXPECT_TRUE(t.TestUnitReady());
}

TEST_P(VirtualDriveExtras, ADriveTakingOnlyTheCddaFormOfReadCd) {
  VirtualDriveConfig config;
  config.acceptedReadForms = 0x001;  // READ CD of CD-DA sectors with user data only
  DriveRig rig;
  Transport& t = Attach(rig, image_.Standard(), config);
  DiscToc toc;
  Toc(t, toc);
  const DiscExtras x = ReadDiscExtras(t, toc);
  ExpectStandard(x);
  int anyType = 0;
  for (const auto& block : rig.Drive().CommandLog())
    if (block[0] == 0xBE) anyType += block[9] == 0xF8;
  EXPECT_EQ(anyType, 1);  // refused once, then not asked again
}

TEST_P(VirtualDriveExtras, ADriveWithoutReadCdStillGivesTheCodes) {
  VirtualDriveConfig config;
  config.acceptedReadForms = 0x002;  // ReadNEC only
  DriveRig rig;
  Transport& t = Attach(rig, image_.Standard(), config);
  DiscToc toc;
  Toc(t, toc);
  const DiscExtras x = ReadDiscExtras(t, toc);
  EXPECT_EQ(x.catalog, "4006381333931");
  EXPECT_TRUE(x.qRefused);
  EXPECT_FALSE(x.codesRefused);
  for (const Expected& e : kTracks) {
    const TrackExtras& got = x.tracks[static_cast<std::size_t>(e.number - 1)];
    EXPECT_EQ(got.isrc, e.isrc);
    EXPECT_FALSE(got.pregapKnown);
  }
  EXPECT_EQ(x.subQReads, 2);
}

TEST_P(VirtualDriveExtras, OnlyWhatWasAskedFor) {
  DriveRig rig;
  Transport& t = Attach(rig, image_.Standard());
  DiscToc toc;
  Toc(t, toc);
  DiscExtrasOptions codes;
  codes.readPregaps = false;
  DiscExtras x = ReadDiscExtras(t, toc, codes);
  EXPECT_EQ(x.catalog, "4006381333931");
  EXPECT_EQ(x.subQReads, 0);
  EXPECT_EQ(x.commands, 10);
  EXPECT_FALSE(x.tracks[2].pregapKnown);
  DiscExtrasOptions pregaps;
  pregaps.readCodes = false;
  x = ReadDiscExtras(t, toc, pregaps);
  EXPECT_EQ(x.catalog, "");
  EXPECT_EQ(x.tracks[1].isrc, "");
  EXPECT_EQ(x.commands, x.subQReads);
  EXPECT_EQ(x.tracks[6].pregapSectors, 900);
  // Within the window only: track 7's 12 s are unknown, the rest exact.
  DiscExtrasOptions window;
  window.followLongPregaps = false;
  x = ReadDiscExtras(t, toc, window);
  for (const Expected& e : kTracks) {
    const TrackExtras& got = x.tracks[static_cast<std::size_t>(e.number - 1)];
    EXPECT_EQ(got.pregapKnown, e.number != 7) << e.number;
    if (e.number != 7) {
      EXPECT_EQ(got.pregapSectors, e.pregap) << e.number;
    }
  }
}

TEST_P(VirtualDriveExtras, BadSectionsAreSteppedOverByTheirNeighbours) {
  DriveRig rig;
  Transport& t = Attach(rig, image_.Standard());
  DiscToc toc;
  Toc(t, toc);
  // Every third section's CRC is off, and so is every one at the usual
  // first probes (INDEX 01 - 1, - 150, - 151, - 750), but for the two
  // sectors on either side of each boundary (were one of those bad, the
  // boundary could not be known).
  QFilter bad(t);
  std::vector<std::int32_t> probes, boundaries;
  for (const Expected& e : kTracks) {
    for (std::int32_t d : {1, 150, 151, 750}) probes.push_back(e.start - d);
    boundaries.push_back(e.start - e.pregap - 1);
    boundaries.push_back(e.start - e.pregap);
  }
  int spoiled = 0;
  bad.onQ = [&](std::int32_t lba, std::uint8_t* q) {
    auto in = [lba](const std::vector<std::int32_t>& v) { return std::find(v.begin(), v.end(), lba) != v.end(); };
    if ((lba % 3 == 0 || in(probes)) && !in(boundaries)) {
      q[10] ^= 0x01;
      ++spoiled;
    }
  };
  const DiscExtras x = ReadDiscExtras(bad, toc);
  ExpectStandard(x);
  EXPECT_GT(spoiled, 20);
  EXPECT_LE(x.subQReads, 9 * 30);
}

TEST_P(VirtualDriveExtras, ADriveGivingNoCrcIsTakenAtItsWord) {
  DriveRig rig;
  Transport& t = Attach(rig, image_.Standard());
  DiscToc toc;
  Toc(t, toc);
  QFilter noCrc(t);
  noCrc.onQ = [](std::int32_t, std::uint8_t* q) { q[10] = q[11] = 0; };
  ExpectStandard(ReadDiscExtras(noCrc, toc));
}

TEST_P(VirtualDriveExtras, QLaggingASectorBehindStillGivesExactPregaps) {
  DriveRig rig;
  Transport& t = Attach(rig, image_.Standard());
  DiscToc toc;
  Toc(t, toc);
  for (int shift : {1, -1, 2}) {
    QFilter lag(t);
    lag.qShift = shift;
    SCOPED_TRACE(shift);
    ExpectStandard(ReadDiscExtras(lag, toc));
  }
}

TEST_P(VirtualDriveExtras, NoGoodSectionsMeanUnknownNotAGuess) {
  DriveRig rig;
  Transport& t = Attach(rig, image_.Standard());
  DiscToc toc;
  Toc(t, toc);
  QFilter garbage(t);
  garbage.onQ = [](std::int32_t, std::uint8_t* q) { q[11] ^= 0x5A; };
  DiscExtras x = ReadDiscExtras(garbage, toc);
  EXPECT_EQ(x.catalog, "4006381333931");  // READ SUB-CHANNEL is unaffected
  for (const TrackExtras& e : x.tracks) EXPECT_FALSE(e.pregapKnown) << e.number;
  EXPECT_EQ(x.tracks[0].isrc, "DEA123456789");
  EXPECT_FALSE(x.interrupted);
  EXPECT_TRUE(x.qUnusable);
  EXPECT_EQ(x.subQReads, 24);  // then the drive's Q is not asked for any more

  // Only the sections right around one boundary are bad: that track's
  // pregap is unknown, the others exact.
  QFilter blind(t);
  blind.onQ = [](std::int32_t lba, std::uint8_t* q) {
    if (lba >= 2995 && lba <= 3004) q[4] ^= 0x01;
  };
  x = ReadDiscExtras(blind, toc);
  for (const Expected& e : kTracks) {
    const TrackExtras& got = x.tracks[static_cast<std::size_t>(e.number - 1)];
    EXPECT_EQ(got.pregapKnown, e.number != 3) << e.number;
    if (e.number != 3) {
      EXPECT_EQ(got.pregapSectors, e.pregap) << e.number;
    }
  }

  // Sectors that cannot be read at all around the boundary: the same.
  VirtualDriveFaults faults;
  faults.failReadsFirst = 2990;
  faults.failReadsLast = 3010;
  rig.Drive().SetFaults(faults);
  x = ReadDiscExtras(t, toc);
  EXPECT_FALSE(x.tracks[2].pregapKnown);
  EXPECT_TRUE(x.tracks[3].pregapKnown);
  EXPECT_EQ(x.tracks[3].pregapSectors, 1);
  EXPECT_FALSE(x.interrupted);
  // Unreadable sectors away from the boundary only cost a few reads more.
  faults.failReadsFirst = 3100;
  faults.failReadsLast = 3149;
  rig.Drive().SetFaults(faults);
  ExpectStandard(ReadDiscExtras(t, toc));
}

TEST_P(VirtualDriveExtras, QContradictingTheTableIsNotBelieved) {
  DriveRig rig;
  Transport& t = Attach(rig, image_.Standard());
  DiscToc toc;
  Toc(t, toc);
  // Sections before track 3's INDEX 01 that say index 1 of track 3.
  QFilter early(t);
  early.onQ = [](std::int32_t lba, std::uint8_t* q) {
    if (lba >= 3000 && lba < 3150 && q[2] == 0x00) {
      q[2] = 0x01;
      const std::uint16_t crc = SubQCrc(q);
      q[10] = static_cast<std::uint8_t>(crc >> 8);
      q[11] = static_cast<std::uint8_t>(crc);
    }
  };
  DiscExtras x = ReadDiscExtras(early, toc);
  EXPECT_FALSE(x.tracks[2].pregapKnown);
  EXPECT_TRUE(x.tracks[1].pregapKnown);
  EXPECT_TRUE(x.tracks[3].pregapKnown);
  // A later track's number before this track's start.
  QFilter later(t);
  later.onQ = [](std::int32_t lba, std::uint8_t* q) {
    if (lba == 6136) {
      q[1] = 0x06;
      const std::uint16_t crc = SubQCrc(q);
      q[10] = static_cast<std::uint8_t>(crc >> 8);
      q[11] = static_cast<std::uint8_t>(crc);
    }
  };
  x = ReadDiscExtras(later, toc);
  EXPECT_FALSE(x.tracks[4].pregapKnown);
  EXPECT_TRUE(x.tracks[5].pregapKnown);
}

TEST_P(VirtualDriveExtras, ADiscTakenOutStopsTheAsking) {
  DriveRig rig;
  Transport& t = Attach(rig, image_.Standard());
  DiscToc toc;
  Toc(t, toc);
  VirtualDriveFaults faults;
  faults.removeMediumAfterReads = rig.Drive().GetStats().audioReads + 5;
  rig.Drive().SetFaults(faults);
  const DiscExtras x = ReadDiscExtras(t, toc);
  EXPECT_TRUE(x.interrupted);
  EXPECT_EQ(x.catalog, "4006381333931");  // asked before
  // Track 1 costs one read, track 2 one, track 3 (2 s) three: the sixth
  // finds the tray open.
  for (std::size_t i = 0; i < x.tracks.size(); ++i) EXPECT_EQ(x.tracks[i].pregapKnown, i < 3) << i;
  EXPECT_EQ(x.tracks[2].isrc, "");
  EXPECT_EQ(x.tracks[1].isrc, "USRC17607839");
  EXPECT_EQ(x.commands, 1 + (1 + 1) + (1 + 1) + (3 + 1) + 1);
}

TEST_P(VirtualDriveExtras, NoTracksNoCommands) {
  DriveRig rig;
  Transport& t = Attach(rig, image_.Standard());
  const std::uint8_t answer[kTocLength] = {};
  const auto toc = ParseTocAnswer(answer, kTocLength);
  ASSERT_TRUE(toc);
  const DiscExtras x = ReadDiscExtras(t, *toc);
  EXPECT_TRUE(x.tracks.empty());
  EXPECT_EQ(x.commands, 0);
}

INSTANTIATE_TEST_SUITE_P(Transports, VirtualDriveExtras,
                         testing::Values(TransportKind::Spti, TransportKind::Aspi), test::KindName);

}  // namespace
}  // namespace sonarvex

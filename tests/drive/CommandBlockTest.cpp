// The command blocks byte by byte, and the two read-command tables.
#include <gtest/gtest.h>

#include <vector>

#include "drive/CommandBlock.h"

namespace sonarvex {
namespace {

std::vector<int> Bytes(const CommandBlock& b) { return std::vector<int>(b.bytes.begin(), b.bytes.end()); }

// A block with only the listed bytes set.
std::vector<int> Expect(std::initializer_list<std::pair<int, int>> set) {
  std::vector<int> v(16, 0);
  for (auto [i, x] : set) v[static_cast<std::size_t>(i)] = x;
  return v;
}

void ExpectBlock(const CommandBlock& b, int length, DataDirection dir, std::uint32_t transfer,
                 std::initializer_list<std::pair<int, int>> set) {
  EXPECT_EQ(b.length, length);
  EXPECT_EQ(b.direction, dir);
  EXPECT_EQ(b.transferLength, transfer);
  EXPECT_EQ(Bytes(b), Expect(set));
}

TEST(CommandBlock, EveryOperationHasItsBytes) {
  using D = DataDirection;
  ExpectBlock(cdb::Inquiry(), 6, D::In, 96, {{0, 0x12}, {4, 96}});
  ExpectBlock(cdb::ReadTOC(), 10, D::In, 804, {{0, 0x43}, {1, 0x02}, {7, 0x03}, {8, 0x24}});
  ExpectBlock(cdb::ReadSessionInfo(), 10, D::In, 12, {{0, 0x43}, {1, 0x02}, {2, 0x01}, {8, 12}});
  ExpectBlock(cdb::PlayAudioMSF({1, 2, 3}, {4, 5, 6}), 10, D::None, 0,
              {{0, 0x47}, {3, 1}, {4, 2}, {5, 3}, {6, 4}, {7, 5}, {8, 6}});
  ExpectBlock(cdb::StopPlayScan(), 10, D::None, 0, {{0, 0x4E}});
  ExpectBlock(cdb::Seek(0x01020304), 10, D::None, 0, {{0, 0x2B}, {2, 1}, {3, 2}, {4, 3}, {5, 4}});
  ExpectBlock(cdb::StartStopUnit(true), 6, D::None, 0, {{0, 0x1B}, {1, 0x01}, {4, 0x02}});
  ExpectBlock(cdb::StartStopUnit(false), 6, D::None, 0, {{0, 0x1B}, {1, 0x01}, {4, 0x03}});
  ExpectBlock(cdb::LockMedium(true), 6, D::None, 0, {{0, 0x1E}, {4, 0x03}});
  ExpectBlock(cdb::LockMedium(false), 6, D::None, 0, {{0, 0x1E}});
  ExpectBlock(cdb::TestUnitReady(), 6, D::None, 0, {});
  ExpectBlock(cdb::ReadSubChannel(), 10, D::In, 16,
              {{0, 0x42}, {1, 0x02}, {2, 0x40}, {3, 0x01}, {8, 24}});
  ExpectBlock(cdb::SetReadSpeed(4), 12, D::None, 0,
              {{0, 0xBB}, {2, 705 >> 8}, {3, 705 & 0xFF}, {4, 0xFF}, {5, 0xFF}});
  ExpectBlock(cdb::SetWriteSpeed(8), 12, D::None, 0,
              {{0, 0xBB}, {2, 0xFF}, {3, 0xFF}, {4, 1411 >> 8}, {5, 1411 & 0xFF}});
  ExpectBlock(cdb::ModeSenseCapabilities(26), 10, D::In, 26, {{0, 0x5A}, {2, 0x2A}, {8, 26}});
  EXPECT_EQ(cdb::ModeSenseCapabilities(28).transferLength, 28u);
  ExpectBlock(cdb::ModeSelectWriteParams(), 10, D::Out, 60, {{0, 0x55}, {1, 0x10}, {8, 60}});
  ExpectBlock(cdb::ModeSelectAudioControl(), 10, D::Out, 24, {{0, 0x55}, {1, 0x10}, {8, 24}});
  ExpectBlock(cdb::BlankDisc(1), 12, D::None, 0, {{0, 0xA1}, {1, 1}});
  ExpectBlock(cdb::BlankDisc(0), 12, D::None, 0, {{0, 0xA1}});
  ExpectBlock(cdb::SendOPC(), 10, D::None, 0, {{0, 0x54}, {1, 0x01}});
  ExpectBlock(cdb::SendCueSheet(5), 10, D::Out, 40, {{0, 0x5D}, {8, 40}});
  ExpectBlock(cdb::SendCueSheet(0x2001), 10, D::Out, 0x10008,
              {{0, 0x5D}, {6, 0x01}, {7, 0x00}, {8, 0x08}});
  ExpectBlock(cdb::CloseSession(), 10, D::None, 0, {{0, 0x5B}, {2, 0x02}});
  ExpectBlock(cdb::ReadDiscInfo(), 10, D::In, 34, {{0, 0x51}, {8, 34}});
  ExpectBlock(cdb::MechanismStatus(), 12, D::In, 32, {{0, 0xBD}, {9, 32}});
}

TEST(CommandBlock, WriteSectorsAtLba70000) {
  ExpectBlock(cdb::WriteSectors(70000, 27, 2352), 10, DataDirection::Out, 27 * 2352,
              {{0, 0x2A}, {2, 0x00}, {3, 0x01}, {4, 0x11}, {5, 0x70}, {8, 27}});
}

TEST(CommandBlock, SpeedConversion) {
  EXPECT_EQ(SpeedField(255), 0xFFFF);
  EXPECT_EQ(SpeedField(1), 176);
  EXPECT_EQ(SpeedField(4), 705);
  EXPECT_EQ(SpeedField(8), 1411);
  EXPECT_EQ(SpeedField(52), 9172);
  const auto b = cdb::SetReadSpeed(255);
  EXPECT_EQ(b.bytes[2], 0xFF);
  EXPECT_EQ(b.bytes[3], 0xFF);
}

TEST(CommandBlock, NineReadForms) {
  const std::int32_t lba = 0x00012345;
  const std::uint32_t bytes = 27 * 2352 + 100;  // count rounds down to 27
  struct Form {
    int opcode, length;
    std::initializer_list<std::pair<int, int>> extra;
  };
  const std::vector<std::vector<int>> expected = {
      Expect({{0, 0xBE}, {1, 0x04}, {2, 0}, {3, 1}, {4, 0x23}, {5, 0x45}, {8, 27}, {9, 0x10}}),
      Expect({{0, 0xD4}, {3, 1}, {4, 0x23}, {5, 0x45}, {8, 27}}),
      Expect({{0, 0xD4}, {3, 1}, {4, 0x23}, {5, 0x45}, {9, 27}}),
      Expect({{0, 0xD5}, {3, 1}, {4, 0x23}, {5, 0x45}, {8, 27}}),
      Expect({{0, 0xA8}, {3, 1}, {4, 0x23}, {5, 0x45}, {9, 27}}),
      Expect({{0, 0xD8}, {3, 1}, {4, 0x23}, {5, 0x45}, {9, 27}}),
      Expect({{0, 0x28}, {3, 1}, {4, 0x23}, {5, 0x45}, {8, 27}}),
      Expect({{0, 0xBE}, {3, 1}, {4, 0x23}, {5, 0x45}, {8, 27}, {9, 0xF8}}),
      Expect({{0, 0xBE}, {3, 1}, {4, 0x23}, {5, 0x45}, {8, 27}, {9, 0x10}}),
  };
  const int lengths[] = {12, 10, 12, 10, 12, 12, 10, 12, 12};
  for (int r = 0; r < 9; ++r) {
    SCOPED_TRACE(r);
    const auto b = cdb::ReadCDDA(r, lba, bytes);
    EXPECT_EQ(Bytes(b), expected[static_cast<std::size_t>(r)]);
    EXPECT_EQ(b.length, lengths[r]);
    EXPECT_EQ(b.direction, DataDirection::In);
    EXPECT_EQ(b.transferLength, bytes);
  }
  // Counts above 255 use both bytes.
  const auto big = cdb::ReadCDDA(0, 150, 300 * 2352);
  EXPECT_EQ(big.bytes[7], 1);
  EXPECT_EQ(big.bytes[8], 300 - 256);
  // Negative LBAs go as two's complement.
  const auto neg = cdb::ReadCDDA(6, -150, 2352);
  EXPECT_EQ(neg.bytes[2], 0xFF);
  EXPECT_EQ(neg.bytes[5], 0x6A);
}

TEST(CommandBlock, DriveTypeToReadCommandTable) {
  const int expected[24] = {0, 6, 6, 6, 1, 6, 6, 6, 6, 6, 6, 6, 6, 6, 5, 5, 0, 0, 6, 7, 8, 2, 3, 4};
  for (int t = 0; t < 24; ++t) EXPECT_EQ(ReadCommandForDriveType(t), expected[t]) << t;
  EXPECT_EQ(ReadCommandForDriveType(24), 0);
  EXPECT_EQ(ReadCommandForDriveType(255), 0);
  EXPECT_EQ(ReadCommandForDriveType(-1), 0);
  EXPECT_EQ(DriveTypeName(2), "Toshiba (новый)");
  EXPECT_EQ(DriveTypeName(15), "Sony");
  EXPECT_EQ(DriveTypeName(19), "MMC2");
}

TEST(CommandBlock, ReadCommandToDriveTypeTable) {
  const int expected[9] = {0, 4, 21, 22, 23, 15, 2, 19, 20};
  for (int r = 0; r < 9; ++r) {
    EXPECT_EQ(DriveTypeForReadCommand(r), expected[r]) << r;
    // The representative drive type reads with the same command.
    EXPECT_EQ(ReadCommandForDriveType(DriveTypeForReadCommand(r)), r) << r;
  }
  EXPECT_EQ(DriveTypeForReadCommand(9), 0);
  EXPECT_EQ(DriveTypeForReadCommand(-3), 0);
  EXPECT_EQ(ReadCommandName(0), "Стандартная (MMC1)");
  EXPECT_EQ(ReadCommandName(6), "Read10");
  EXPECT_EQ(ReadCommandName(9), "");
}

TEST(CommandBlock, ParameterLists) {
  const auto wp = WriteParamsList(0, 0, true, 2);
  std::vector<int> expected(60, 0);
  expected[8] = 0x05;
  expected[9] = 0x32;
  expected[10] = 0x40 | 0x10 | 2;
  EXPECT_EQ(std::vector<int>(wp.begin(), wp.end()), expected);
  const auto packet = WriteParamsList(150, 0x10203, false, 1);
  EXPECT_EQ(packet[10], 0x41);
  EXPECT_EQ(packet[11], 0x20);
  EXPECT_EQ(packet[18], 0);
  EXPECT_EQ(packet[19], 1);
  EXPECT_EQ(packet[20], 2);
  EXPECT_EQ(packet[21], 3);
  EXPECT_EQ(packet[22], 0);
  EXPECT_EQ(packet[23], 150);

  const auto ac = AudioControlList(200);
  std::vector<int> acExpected(24, 0);
  acExpected[8] = 0x0E;
  acExpected[9] = 0x0E;
  acExpected[10] = 0x04;
  acExpected[16] = 0x01;
  acExpected[17] = 200;
  acExpected[18] = 0x02;
  acExpected[19] = 200;
  EXPECT_EQ(std::vector<int>(ac.begin(), ac.end()), acExpected);
}

TEST(CommandBlock, TransportDirectionCodes) {
  EXPECT_EQ(PassThroughDirectionCode(cdb::Inquiry()), 1);
  EXPECT_EQ(PassThroughDirectionCode(cdb::ModeSelectWriteParams()), 0);
  EXPECT_EQ(PassThroughDirectionCode(cdb::TestUnitReady()), 2);
  EXPECT_EQ(PassThroughDirectionCode(cdb::PlayAudioMSF({0, 2, 0}, {1, 0, 0})), 1);
  EXPECT_EQ(PassThroughDirectionCode(cdb::SendOPC()), 0);
  EXPECT_EQ(PassThroughDirectionCode(cdb::MechanismStatus()), 2);
  EXPECT_EQ(GenericDirectionFlag(cdb::Inquiry()), 0x08);
  EXPECT_EQ(GenericDirectionFlag(cdb::WriteSectors(0, 1, 2352)), 0x10);
  EXPECT_EQ(GenericDirectionFlag(cdb::StopPlayScan()), 0x08);
  EXPECT_EQ(GenericDirectionFlag(cdb::SendOPC()), 0x10);
  // The mechanism status reply does travel to the host.
  EXPECT_EQ(WireDirection(cdb::MechanismStatus()), DataDirection::In);
  EXPECT_EQ(WireDirection(cdb::PlayAudioMSF({0, 2, 0}, {1, 0, 0})), DataDirection::None);
}

}  // namespace
}  // namespace sonarvex

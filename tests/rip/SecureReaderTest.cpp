// Secure reading on a drive double whose chosen sectors read wrong: what the
// reader gives back, which sectors it names, and the reads it makes.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <optional>
#include <vector>

#include "rip/SecureReader.h"

namespace sonarvex {
namespace {

constexpr std::size_t kSector = kBytesPerSector;

// Sector n holds bytes (n + k) % 251. A flaky sector reads wrong while its
// wrongReads last (-1: always); its wrong bytes differ from read to read
// unless sameWrong, and are flagged in the C2 pointers when c2.
class FlakyDrive : public RipDrive {
 public:
  struct Flaky {
    int wrongReads = 1;
    bool sameWrong = false;
  };
  bool ReadCdda(std::uint8_t* buffer, std::uint32_t lba, std::uint32_t sectors) override {
    std::vector<std::uint8_t> c2(sectors * (kSector / 8));
    return ReadCddaC2(buffer, c2.data(), lba, sectors);
  }
  bool HasC2() override { return c2; }
  bool ReadCddaC2(std::uint8_t* buffer, std::uint8_t* pointers, std::uint32_t lba,
                  std::uint32_t sectors) override {
    reads.push_back({lba, sectors});
    if (failAt && lba <= *failAt && *failAt < lba + sectors) return false;
    std::memset(pointers, 0, sectors * (kSector / 8));
    for (std::uint32_t s = 0; s < sectors; ++s) {
      std::uint8_t* out = buffer + s * kSector;
      for (std::size_t k = 0; k < kSector; ++k) out[k] = static_cast<std::uint8_t>((lba + s + k) % 251);
      auto f = flaky.find(lba + s);
      if (f == flaky.end()) continue;
      const int n = readsOf[lba + s]++;
      if (f->second.wrongReads >= 0 && n >= f->second.wrongReads) continue;
      out[100] ^= static_cast<std::uint8_t>(f->second.sameWrong ? 0x40 : 0x40 + n + 1);
      if (c2) pointers[s * (kSector / 8) + 100 / 8] |= 0x80 >> (100 % 8);
    }
    return true;
  }
  void SetReadSpeed(int) override {}
  void LockMedium(bool) override {}
  void Seek(std::uint32_t) override {}
  std::uint32_t AudioEnd() override { return end; }

  // Reads of one sector alone.
  int SingleReadsOf(std::uint32_t lba) const {
    int n = 0;
    for (const auto& r : reads) n += r.first == lba && r.second == 1;
    return n;
  }

  bool c2 = false;
  std::uint32_t end = 20000;
  std::map<std::uint32_t, Flaky> flaky;
  std::map<std::uint32_t, int> readsOf;
  std::optional<std::uint32_t> failAt;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> reads;
};

std::vector<std::uint8_t> Truth(std::uint32_t lba, std::uint32_t count) {
  std::vector<std::uint8_t> v(count * kSector);
  for (std::uint32_t s = 0; s < count; ++s)
    for (std::size_t k = 0; k < kSector; ++k) v[s * kSector + k] = static_cast<std::uint8_t>((lba + s + k) % 251);
  return v;
}

TEST(SecureReaderTest, ASectorReadWrongOnceIsReadAgainWithTheCacheReadAwayBetween) {
  FlakyDrive drive;
  drive.flaky[1007] = {1, false};
  SecureReader reader(drive, {});
  std::vector<std::uint8_t> buffer(26 * kSector);
  const SecureReadResult r = reader.ReadBlock(buffer.data(), 1000, 26);
  ASSERT_TRUE(r.ok);
  EXPECT_TRUE(r.suspect.empty());
  EXPECT_EQ(r.reread, 1);
  EXPECT_TRUE(buffer == Truth(1000, 26));
  // Block, a read a minute away, the block again; then the sector alone
  // after another read far away.
  ASSERT_GE(drive.reads.size(), 5u);
  EXPECT_EQ(drive.reads[0], std::make_pair(1000u, 26u));
  EXPECT_GE(drive.reads[1].first, 1026u + SecureReader::kCacheDistance);
  EXPECT_EQ(drive.reads[2], std::make_pair(1000u, 26u));
  EXPECT_GE(drive.reads[3].first, 1026u + SecureReader::kCacheDistance);
  EXPECT_EQ(drive.reads[4], std::make_pair(1007u, 1u));
  EXPECT_EQ(drive.reads.size(), 5u);
}

TEST(SecureReaderTest, ABlockNearTheDiscsEndEmptiesTheCacheBeforeIt) {
  FlakyDrive drive;
  drive.end = 6000;
  SecureReader reader(drive, {});
  std::vector<std::uint8_t> buffer(26 * kSector);
  ASSERT_TRUE(reader.ReadBlock(buffer.data(), 5900, 26).ok);
  ASSERT_EQ(drive.reads.size(), 3u);
  EXPECT_EQ(drive.reads[1].first, 5900u - SecureReader::kCacheDistance);
}

TEST(SecureReaderTest, ASectorThatNeverReadsTheSameIsNamedAfterTheLimit) {
  FlakyDrive drive;
  drive.flaky[1003] = {-1, false};
  drive.flaky[1020] = {3, false};  // agrees on its fourth and fifth reads
  SecureReader::Options o;
  o.rereads = 5;
  SecureReader reader(drive, o);
  std::vector<std::uint8_t> buffer(26 * kSector);
  const SecureReadResult r = reader.ReadBlock(buffer.data(), 1000, 26);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.suspect, std::vector<std::uint32_t>{1003});
  EXPECT_EQ(r.reread, 2);
  EXPECT_EQ(drive.SingleReadsOf(1003), 5);
  EXPECT_EQ(drive.SingleReadsOf(1020), 3);
  // Everything else is right, the late agreement too.
  auto truth = Truth(1000, 26);
  EXPECT_NE(std::memcmp(buffer.data() + 3 * kSector, truth.data() + 3 * kSector, kSector), 0);
  std::memcpy(buffer.data() + 3 * kSector, truth.data() + 3 * kSector, kSector);
  EXPECT_TRUE(buffer == truth);
}

TEST(SecureReaderTest, C2PointersCatchWrongReadsThatRepeat) {
  for (bool c2 : {true, false}) {
    SCOPED_TRACE(c2);
    FlakyDrive drive;
    drive.c2 = true;
    drive.flaky[1010] = {2, true};  // the same wrong bytes twice, then right
    SecureReader::Options o;
    o.c2 = c2;
    SecureReader reader(drive, o);
    EXPECT_EQ(reader.UsesC2(), c2);
    std::vector<std::uint8_t> buffer(26 * kSector);
    const SecureReadResult r = reader.ReadBlock(buffer.data(), 1000, 26);
    ASSERT_TRUE(r.ok);
    EXPECT_TRUE(r.suspect.empty());
    // Two reads that agree on wrong bytes pass unless the drive flags them.
    EXPECT_EQ(buffer == Truth(1000, 26), c2);
    EXPECT_EQ(r.reread, c2 ? 1 : 0);
  }
}

TEST(SecureReaderTest, AFlaggedSectorNeverAgreesEvenWithItself) {
  FlakyDrive drive;
  drive.c2 = true;
  drive.flaky[1001] = {-1, true};
  SecureReader::Options o;
  o.rereads = 4;
  SecureReader reader(drive, o);
  std::vector<std::uint8_t> buffer(4 * kSector);
  const SecureReadResult r = reader.ReadBlock(buffer.data(), 1000, 4);
  EXPECT_EQ(r.suspect, std::vector<std::uint32_t>{1001});
  EXPECT_EQ(drive.SingleReadsOf(1001), 4);
}

TEST(SecureReaderTest, AFailedReadOfTheBlockIsReportedNotTakenAsData) {
  FlakyDrive drive;
  drive.failAt = 1005;
  SecureReader reader(drive, {});
  std::vector<std::uint8_t> buffer(26 * kSector);
  EXPECT_FALSE(reader.ReadBlock(buffer.data(), 1000, 26).ok);
}

TEST(SecureReaderTest, StoppingEndsTheRereads) {
  FlakyDrive drive;
  drive.flaky[1002] = {-1, false};
  SecureReader reader(drive, {});
  int asked = 0;
  reader.SetKeepGoing([&] { return ++asked < 3; });
  std::vector<std::uint8_t> buffer(4 * kSector);
  const SecureReadResult r = reader.ReadBlock(buffer.data(), 1000, 4);
  EXPECT_TRUE(r.cancelled);
  EXPECT_EQ(drive.SingleReadsOf(1002), 2);
}

}  // namespace
}  // namespace sonarvex

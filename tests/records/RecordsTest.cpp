#include <gtest/gtest.h>

#include <cstring>

#include "records/SettingsRecord.h"
#include "records/AlbumRecord.h"
#include "records/TagBuffer.h"

namespace sonarvex {

TEST(Records, LittleEndianImages) {
  // The stored files are raw little-endian images: check a few multi-byte
  // fields land where files written by the original program put them.
  SettingsRecord s{};
  s.ProxyPort = 0x01020304;
  s.Lame.Preset = -2;
  const auto* b = reinterpret_cast<const unsigned char*>(&s);
  EXPECT_EQ(b[788], 0x04);
  EXPECT_EQ(b[791], 0x01);
  EXPECT_EQ(b[792 + 22], 0xFE);
  EXPECT_EQ(b[792 + 23], 0xFF);

  AlbumRecord a{};
  a.DiscId = static_cast<std::int32_t>(0xB80C1B0Du);
  a.Tracks[1].StartSector = 0x00001234;
  a.FirstTrackOffset = 150;
  const auto* ab = reinterpret_cast<const unsigned char*>(&a);
  EXPECT_EQ(ab[108], 0x0D);
  EXPECT_EQ(ab[111], 0xB8);
  EXPECT_EQ(ab[116 + 92 + 60], 0x34);
  EXPECT_EQ(ab[9356], 150);
}

TEST(Records, MsfArithmetic) {
  EXPECT_EQ(MsfToFrames(Msf{74, 13, 42}), 74 * 4500 + 13 * 75 + 42);
  Msf m = FramesToMsf(74 * 4500 + 13 * 75 + 42);
  EXPECT_EQ(m.minute, 74);
  EXPECT_EQ(m.second, 13);
  EXPECT_EQ(m.frame, 42);
  EXPECT_EQ(FramesToMsf(-5).minute, 0);
}

TEST(TagBuffer, ReplacedWhenTheTrackCountChanges) {
  TagBuffer tags;
  TrackTagRecord r{};
  r.TagsOn = 1;
  std::strcpy(r.Title, "One");
  tags.Set(2, 5, r);
  EXPECT_EQ(tags.Bytes().size(), 5u * 1529);
  EXPECT_STREQ(tags.Get(2, 5).Title, "One");
  EXPECT_EQ(tags.Get(1, 5).TagsOn, 0);
  // Another track count: a new zero-filled buffer of the new size.
  TrackTagRecord other = tags.Get(2, 7);
  EXPECT_EQ(other.TagsOn, 0);
  EXPECT_EQ(other.Title[0], 0);
  EXPECT_EQ(tags.Bytes().size(), 7u * 1529);
  // Out of range: zero record, nothing written.
  tags.Set(9, 7, r);
  EXPECT_EQ(tags.Get(9, 7).TagsOn, 0);
  EXPECT_EQ(tags.Get(-1, 7).TagsOn, 0);
  // A stored buffer of a foreign length is replaced on first use.
  tags.Assign(std::vector<std::uint8_t>(100, 0xFF));
  EXPECT_EQ(tags.Get(0, 1).TagsOn, 0);
  EXPECT_EQ(tags.Bytes().size(), 1529u);
}

}  // namespace sonarvex

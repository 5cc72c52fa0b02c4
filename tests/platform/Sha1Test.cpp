// SHA-1 against the FIPS 180 example messages and the lengths around the
// padding's block boundary.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "platform/Sha1.h"

namespace sonarvex {
namespace {

std::string Hex(const Sha1Digest& d) {
  std::string out;
  char two[3];
  for (std::uint8_t b : d) {
    std::snprintf(two, sizeof two, "%02x", b);
    out += two;
  }
  return out;
}

TEST(Sha1, FipsExampleMessages) {
  EXPECT_EQ(Hex(Sha1("abc")), "a9993e364706816aba3e25717850c26c9cd0d89d");
  EXPECT_EQ(Hex(Sha1("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")),
            "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
  EXPECT_EQ(Hex(Sha1(std::string(1000000, 'a'))), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
  EXPECT_EQ(Hex(Sha1("")), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
}

TEST(Sha1, LengthsAroundTheBlockBoundary) {
  // 55 bytes leave room for the padding in one block, 56 do not.
  const std::pair<int, const char*> cases[] = {
      {55, "cef734ba81a024479e09eb5a75b6ddae62e6abf1"}, {56, "901305367c259952f4e7af8323f480d59f81335b"},
      {63, "0ddc4e0cccd9a12850deb5abb0853a4425559fec"}, {64, "bb2fa3ee7afb9f54c6dfb5d021f14b1ffe40c163"},
      {119, "4300320394f7ee239bcdce7d3b8bcee173a0cd5c"}, {120, "ceb2821639c4b6dcb10bce0e522ca2e608ce056d"}};
  for (const auto& [n, digest] : cases) EXPECT_EQ(Hex(Sha1(std::string(n, 'x'))), digest) << n;
}

}  // namespace
}  // namespace sonarvex

// The checked-in tables are what the generator makes from the published
// tables, and they decode every code word of the published Huffman tables.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "BitReader.h"
#include "Tables.h"

namespace kelpra {
namespace {

std::string SharedTables() {
  if (const char* env = std::getenv("SONARVEX_SHARED"))
    if (std::filesystem::exists(std::string(env) + "/mpeg-audio/tables/huffcode"))
      return std::string(env) + "/mpeg-audio/tables";
  const std::string dir = SONARVEX_SOURCE_DIR "/../shared/mpeg-audio/tables";
  return std::filesystem::exists(dir + "/huffcode") ? dir : std::string();
}

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST(TablesTest, GeneratedSourceIsUpToDate) {
  const std::string tables = SharedTables();
  if (tables.empty()) GTEST_SKIP() << "shared tables absent";
  const std::string out = std::filesystem::temp_directory_path() / "kelpra_tables_check.cpp";
  const std::string cmd = std::string(KELPRA_GENTABLES) + " '" + tables + "' '" + out + "'";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  const std::string checkedIn = Slurp(KELPRA_TABLES_SOURCE);
  ASSERT_FALSE(checkedIn.empty());
  EXPECT_TRUE(Slurp(out) == checkedIn) << "stale tables: run the kelpra_regen_tables target";
  std::filesystem::remove(out);
}

// Decodes one code word like the decoder does.
unsigned Decode(const HuffTable& t, const uint8_t* bytes, size_t n, size_t& used, int& signs) {
  BitReader br(bytes, n);
  uint32_t w = br.Peek32();
  int nb = t.rootBits;
  const uint16_t* base = kHuffLut + t.offset;
  uint16_t e = base[w >> (32 - nb)];
  used = 0;
  while (e & 0x8000) {
    used += size_t(nb);
    w <<= nb;
    nb = (e >> 12) & 7;
    e = base[(e & 0xfff) + (w >> (32 - nb))];
  }
  used += (e >> 8) & 15;
  signs = (e >> 12) & 7;
  return e & 0xff;
}

TEST(TablesTest, EveryPublishedCodeWordDecodes) {
  const std::string tables = SharedTables();
  if (tables.empty()) GTEST_SKIP() << "shared tables absent";
  std::ifstream in(tables + "/huffcode");
  std::string line;
  int table = -1, checked = 0;
  while (std::getline(in, line)) {
    std::istringstream ls(line);
    std::string first;
    if (!(ls >> first) || first[0] == '#') continue;
    if (first == ".table") {
      ls >> table;
      continue;
    }
    if (first[0] == '.' || table < 0 || table >= 34) continue;
    int value, len;
    std::string word;
    if (table >= 32) {
      value = std::stoi(first);
      ls >> len >> word;
    } else {
      int y;
      ls >> y >> len >> word;
      value = std::stoi(first) << 4 | y;
    }
    uint8_t bytes[8] = {};
    for (size_t i = 0; i < word.size(); ++i)
      if (word[i] == '1') bytes[i / 8] |= uint8_t(0x80 >> (i % 8));
    // Fill the bits after the code word with ones to catch wrong lengths.
    for (size_t i = word.size(); i < 64; ++i) bytes[i / 8] |= uint8_t(0x80 >> (i % 8));
    size_t used = 0;
    int signs = -1;
    ASSERT_EQ(int(Decode(kHuffTables[table], bytes, 8, used, signs)), value) << table << " " << word;
    ASSERT_EQ(int(used), len) << table << " " << word;
    // The leaf also counts the sign bits that follow the code word.
    const int nonZero = table >= 32 ? __builtin_popcount(unsigned(value))
                                    : ((value >> 4) != 0) + ((value & 15) != 0);
    ASSERT_EQ(signs, nonZero) << table << " " << word;
    ++checked;
  }
  EXPECT_GT(checked, 1400);
  EXPECT_EQ(kHuffTables[4].present, 0);
  EXPECT_EQ(kHuffTables[14].present, 0);
  EXPECT_EQ(kHuffTables[23].linbits, 13);
}

}  // namespace
}  // namespace kelpra

// The disc's CD-Text parsed from READ TOC format 5 answers built by hand
// from the standard's pack layout, and from broken ones.
#include <gtest/gtest.h>

#include <cstring>

#include "drive/CdText.h"
#include "tests/drive/CdTextBuilder.h"

namespace sonarvex {
namespace {

using test::CdTextBlockTexts;
using test::CdTextBuilder;

CdTextBlockTexts Album() {
  CdTextBlockTexts album;
  album.firstTrack = 1;
  album.lastTrack = 3;
  album.texts[0x80] = {"Les Chansons d'\xE9t\xE9", "Premi\xE8re", "A title long enough to run over two packs", "Fin"};
  album.texts[0x81] = {"Orchestre", "Soliste", "\t", "Ch\x9Fur"};
  return album;
}

TEST(CdTextTest, PackCrcIsTheInvertedCcittOfTheFirstSixteenBytes) {
  // Size information packs as a published CD-Text example shows them, CRCs
  // included.
  const std::uint8_t published[3][18] = {
      {0x8F, 0x00, 0x08, 0x00, 0x00, 0x01, 0x02, 0x00, 0x05, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF3, 0x00},
      {0x8F, 0x01, 0x09, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03, 0x0A, 0x00, 0x00, 0x00, 0x36, 0x1B},
      {0x8F, 0x02, 0x0A, 0x00, 0x00, 0x00, 0x00, 0x00, 0x09, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x87, 0xED}};
  for (const auto& p : published) {
    EXPECT_EQ(CdTextPackCrc(p), p[16] << 8 | p[17]);
    EXPECT_EQ(test::BitwisePackCrc(p, 16), p[16] << 8 | p[17]);
  }
}

TEST(CdTextTest, AlbumAndTrackTextsOfBlockZeroInUtf8) {
  CdTextBuilder b;
  b.AddBlock(Album());
  const auto answer = b.Answer();
  const auto text = ParseCdTextAnswer(answer.data(), answer.size());
  ASSERT_TRUE(text);
  EXPECT_EQ(text->title, "Les Chansons d'été");
  EXPECT_EQ(text->performer, "Orchestre");
  EXPECT_EQ(text->block, 0);
  EXPECT_EQ(text->badPacks, 0);
  ASSERT_EQ(text->tracks.size(), 3u);
  EXPECT_EQ(text->Track(1)->title, "Première");
  EXPECT_EQ(text->Track(1)->performer, "Soliste");
  EXPECT_EQ(text->Track(2)->title, "A title long enough to run over two packs");
  // A TAB repeats the previous track's text.
  EXPECT_EQ(text->Track(2)->performer, "Soliste");
  EXPECT_EQ(text->Track(3)->title, "Fin");
  // A C1 control byte is no character to show.
  EXPECT_EQ(text->Track(3)->performer, "Ch?ur");
  EXPECT_EQ(text->Track(4), nullptr);
}

TEST(CdTextTest, UpcAndIsrcsAreReadFromTheirPacks) {
  CdTextBlockTexts album = Album();
  album.texts[0x8E] = {"0123456789012", "GBAYE0000001", "GBAYE0000002", "bad isrc!"};
  CdTextBuilder b;
  b.AddBlock(album);
  const auto answer = b.Answer();
  const auto text = ParseCdTextAnswer(answer.data(), answer.size());
  ASSERT_TRUE(text);
  EXPECT_EQ(text->upc, "0123456789012");
  EXPECT_EQ(text->Track(1)->isrc, "GBAYE0000001");
  EXPECT_EQ(text->Track(2)->isrc, "GBAYE0000002");
  EXPECT_EQ(text->Track(3)->isrc, "");
}

TEST(CdTextTest, APackWithABadCrcLosesOnlyTheStringsItHeld) {
  CdTextBuilder b;
  b.AddBlock(Album());
  // Title packs: 0 "Les Chansons", 1 " d'été\0Premi", 2 "ère\0A title ", 3 ...
  std::vector<std::uint8_t>& packs = b.Packs();
  packs[2 * 18 + 6] ^= 0x01;  // a text byte of pack 2
  const auto answer = b.Answer();
  const auto text = ParseCdTextAnswer(answer.data(), answer.size());
  ASSERT_TRUE(text);
  EXPECT_EQ(text->badPacks, 1);
  EXPECT_EQ(text->title, "Les Chansons d'été");
  // Track 1's title ended in the broken pack; track 2's began there.
  EXPECT_EQ(text->Track(1)->title, "");
  EXPECT_EQ(text->Track(2)->title, "");
  EXPECT_EQ(text->Track(3)->title, "Fin");
  EXPECT_EQ(text->Track(1)->performer, "Soliste");

  // A broken CRC field alone is as bad as broken text.
  CdTextBuilder c;
  c.AddBlock(Album());
  c.Packs()[17] ^= 0xFF;
  const auto second = c.Answer();
  const auto t2 = ParseCdTextAnswer(second.data(), second.size());
  ASSERT_TRUE(t2);
  EXPECT_EQ(t2->title, "");
  EXPECT_EQ(t2->Track(1)->title, "Première");
}

TEST(CdTextTest, EveryPackBrokenOrNoneIsNoCdText) {
  CdTextBuilder b;
  b.AddBlock(Album());
  for (std::size_t k = 0; k < b.Packs().size(); k += 18) b.Packs()[k + 16] ^= 0x5A;
  auto answer = b.Answer();
  EXPECT_FALSE(ParseCdTextAnswer(answer.data(), answer.size()));

  const std::uint8_t headerOnly[4] = {0x00, 0x02, 0x00, 0x00};
  EXPECT_FALSE(ParseCdTextAnswer(headerOnly, sizeof headerOnly));
  EXPECT_FALSE(ParseCdTextAnswer(headerOnly, 3));
  EXPECT_FALSE(ParseCdTextAnswer(nullptr, 0));
}

TEST(CdTextTest, OnlyThePacksTheDataLengthCoversAreRead) {
  CdTextBuilder b;
  b.AddBlock(Album());
  auto answer = b.Answer();
  // The data length covers the first two title packs only; the rest of the
  // buffer is what a drive leaves behind.
  const std::size_t covered = 2 + 2 * 18;
  answer[0] = static_cast<std::uint8_t>(covered >> 8);
  answer[1] = static_cast<std::uint8_t>(covered);
  const auto text = ParseCdTextAnswer(answer.data(), answer.size());
  ASSERT_TRUE(text);
  EXPECT_EQ(text->packs, 2);
  EXPECT_EQ(text->title, "Les Chansons d'été");
  EXPECT_EQ(text->performer, "");

  // A data length beyond the bytes given: only those are read (the
  // sanitizer build sees any read past them), the last pack cut short is
  // not taken.
  auto full = b.Answer();
  full[0] = 0xFF;
  full[1] = 0xFF;
  const std::size_t cut = full.size() - 5;
  std::vector<std::uint8_t> exact(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(cut));
  const auto t2 = ParseCdTextAnswer(exact.data(), exact.size());
  ASSERT_TRUE(t2);
  EXPECT_EQ(t2->packs, b.PackCount() - 1);
  EXPECT_EQ(t2->Track(3)->performer, "Ch?ur");
}

TEST(CdTextTest, ADoubleByteBlockZeroGivesWayToASingleByteBlock) {
  CdTextBlockTexts japanese = Album();
  japanese.characterCode = 0x80;
  japanese.doubleByte = true;
  CdTextBlockTexts english = Album();
  english.block = 1;
  english.texts[0x80][0] = "Summer Songs";
  CdTextBuilder b;
  b.AddBlock(japanese);
  b.AddBlock(english);
  auto answer = b.Answer();
  auto text = ParseCdTextAnswer(answer.data(), answer.size());
  ASSERT_TRUE(text);
  EXPECT_EQ(text->block, 1);
  EXPECT_EQ(text->title, "Summer Songs");

  // A single-byte block 0 with texts comes first.
  CdTextBlockTexts first = Album();
  CdTextBuilder c;
  c.AddBlock(first);
  c.AddBlock(english);
  answer = c.Answer();
  text = ParseCdTextAnswer(answer.data(), answer.size());
  ASSERT_TRUE(text);
  EXPECT_EQ(text->block, 0);
  EXPECT_EQ(text->title, "Les Chansons d'été");

  // Only a double-byte block: nothing this reader can show.
  CdTextBuilder d;
  d.AddBlock(japanese);
  answer = d.Answer();
  EXPECT_FALSE(ParseCdTextAnswer(answer.data(), answer.size()));
}

TEST(CdTextTest, ReadCdTextAsksForFormatFive) {
  const CommandBlock b = cdb::ReadCdText();
  EXPECT_EQ(b.bytes[0], 0x43);
  EXPECT_EQ(b.length, 10);
  EXPECT_EQ(b.bytes[1] & 0x02, 0);  // no MSF
  EXPECT_EQ(b.bytes[2] & 0x0F, 5);
  EXPECT_EQ(b.bytes[7] << 8 | b.bytes[8], static_cast<int>(kCdTextAnswerLength));
  EXPECT_EQ(b.transferLength, kCdTextAnswerLength);
  EXPECT_EQ(b.direction, DataDirection::In);
}

}  // namespace
}  // namespace sonarvex

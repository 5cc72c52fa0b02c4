#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "codec/Id3v2Writer.h"
#include "platform/Cp1251.h"
#include "tests/codec/CodecTestUtil.h"

namespace sonarvex {
namespace {

TrackTagRecord EmptyTag() {
  TrackTagRecord t{};
  t.TagsOn = 1;
  return t;
}

std::uint32_t Be32(const std::vector<unsigned char>& b, std::size_t at) {
  return static_cast<std::uint32_t>(b[at]) << 24 | b[at + 1] << 16 | b[at + 2] << 8 | b[at + 3];
}

// The frames of a tag as (id, size, flags, body offset).
struct Frame {
  std::string id;
  std::uint32_t size;
  int flags;
  std::size_t body;
};
std::vector<Frame> Frames(const std::vector<unsigned char>& tag) {
  std::vector<Frame> out;
  for (std::size_t at = 10; at + 10 <= tag.size();) {
    Frame f{std::string(tag.begin() + at, tag.begin() + at + 4), Be32(tag, at + 4),
            tag[at + 8] << 8 | tag[at + 9], at + 10};
    out.push_back(f);
    at += 10 + f.size;
  }
  return out;
}

TEST(Id3v2Test, AllEmptyTagIs147Bytes) {
  auto tag = BuildId3v2(EmptyTag());
  ASSERT_EQ(tag.size(), 147u);
  EXPECT_EQ(std::memcmp(tag.data(), "ID3\x03\x00\x00", 6), 0);
  EXPECT_EQ(tag[6], 0x00);
  EXPECT_EQ(tag[7], 0x00);
  EXPECT_EQ(tag[8], 0x01);
  EXPECT_EQ(tag[9], 0x09);
  auto frames = Frames(tag);
  std::vector<std::string> ids;
  for (auto& f : frames) ids.push_back(f.id);
  EXPECT_EQ(ids, (std::vector<std::string>{"TIT2", "COMM", "TPE1", "TALB", "TRCK", "TCOP", "TOPE",
                                           "TCOM", "TCON", "TYER", "TENC", "WXXX"}));
  for (auto& f : frames) {
    EXPECT_EQ(f.size, f.id == "COMM" ? 5u : f.id == "WXXX" ? 2u : 1u) << f.id;
    EXPECT_EQ(f.flags, f.id == "TENC" ? 0x4000 : 0) << f.id;
  }
}

TEST(Id3v2Test, SizesOfLongerTexts) {
  TrackTagRecord t = EmptyTag();
  std::memset(t.Comment, 'c', 200);
  auto tag = BuildId3v2(t);
  auto frames = Frames(tag);
  ASSERT_EQ(frames[1].id, "COMM");
  EXPECT_EQ(frames[1].size, 205u);
  const std::size_t comm = frames[1].body - 10;
  EXPECT_EQ(tag[comm + 4], 0x00);
  EXPECT_EQ(tag[comm + 7], 0xCD);

  // 300 bytes after the header: 137 for the empty frames + 163 bytes of title.
  TrackTagRecord u = EmptyTag();
  std::memset(u.Title, 'T', 49);
  std::memset(u.Artist, 'A', 49);
  std::memset(u.Album, 'B', 49);
  std::memset(u.Genre, 'G', 16);
  auto tag300 = BuildId3v2(u);
  ASSERT_EQ(tag300.size(), 310u);
  EXPECT_EQ(tag300[8], 0x02);
  EXPECT_EQ(tag300[9], 0x2C);
}

TEST(Id3v2Test, TagsOffWritesNothingAndTrackNumberStaysInItsField) {
  TrackTagRecord t = EmptyTag();
  t.TagsOn = 0;
  EXPECT_TRUE(BuildId3v2(t).empty());
  t.TagsOn = 1;
  std::memcpy(t.TrackNumber, "1234", 4);  // no terminator inside the field
  std::strcpy(t.Url, "http://x");
  auto frames = Frames(BuildId3v2(t));
  EXPECT_EQ(frames[4].id, "TRCK");
  EXPECT_EQ(frames[4].size, 5u);
}

TEST(Id3v2Test, CyrillicTextIsUtf16) {
  TrackTagRecord t = EmptyTag();
  SetFieldUtf8(t.Title, "Ёлка");
  std::strcpy(t.Artist, "Latin");
  auto tag = BuildId3v2(t);
  auto frames = Frames(tag);
  // encoding 1, BOM, four UTF-16LE characters
  ASSERT_EQ(frames[0].size, 1u + 2u + 8u);
  const std::size_t b = frames[0].body;
  EXPECT_EQ(tag[b], 1);
  EXPECT_EQ(tag[b + 1], 0xFF);
  EXPECT_EQ(tag[b + 2], 0xFE);
  EXPECT_EQ(tag[b + 3], 0x01);  // U+0401
  EXPECT_EQ(tag[b + 4], 0x04);
  // ASCII frames keep encoding 0 and the bytes as they stand.
  EXPECT_EQ(frames[2].id, "TPE1");
  EXPECT_EQ(tag[frames[2].body], 0);
  EXPECT_EQ(std::string(tag.begin() + frames[2].body + 1, tag.begin() + frames[2].body + 6), "Latin");
}

TEST(VorbisCommentMappingTest, OrderAndUtf8) {
  TrackTagRecord t = EmptyTag();
  SetFieldUtf8(t.Title, "Песня");
  std::strcpy(t.Year, "1999");
  std::strcpy(t.Comment, "c");
  std::strcpy(t.Composer, "not mapped");
  auto c = VorbisCommentsFor(t);
  ASSERT_EQ(c.size(), 3u);
  EXPECT_EQ(c[0], (std::pair<std::string, std::string>{"COMMENT", "c"}));
  EXPECT_EQ(c[1], (std::pair<std::string, std::string>{"DATE", "1999"}));
  EXPECT_EQ(c[2], (std::pair<std::string, std::string>{"TITLE", "Песня"}));
  EXPECT_TRUE(VorbisCommentsFor(EmptyTag()).empty());
  t.TagsOn = 0;
  EXPECT_TRUE(VorbisCommentsFor(t).empty());
}

// ---- Full texts ------------------------------------------------------------

// The text of a UTF-16LE body with a byte order mark, as UTF-8.
std::string Utf16Body(const std::vector<unsigned char>& tag, std::size_t from, std::size_t to) {
  std::string out;
  EXPECT_EQ(tag[from], 0xFF);
  EXPECT_EQ(tag[from + 1], 0xFE);
  for (std::size_t i = from + 2; i + 1 < to; i += 2) {
    std::uint32_t u = tag[i] | tag[i + 1] << 8;
    if (u >= 0xD800 && u < 0xDC00) {
      std::uint32_t low = tag[i + 2] | tag[i + 3] << 8;
      u = 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
      i += 2;
    }
    if (u < 0x80) {
      out += static_cast<char>(u);
    } else if (u < 0x800) {
      out += static_cast<char>(0xC0 | u >> 6);
      out += static_cast<char>(0x80 | (u & 0x3F));
    } else if (u < 0x10000) {
      out += static_cast<char>(0xE0 | u >> 12);
      out += static_cast<char>(0x80 | (u >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (u & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | u >> 18);
      out += static_cast<char>(0x80 | (u >> 12 & 0x3F));
      out += static_cast<char>(0x80 | (u >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (u & 0x3F));
    }
  }
  return out;
}

TEST(Id3v2TextsTest, FullTextsOfEveryScriptInUtf16) {
  TrackTags t;
  t.Record.TagsOn = 1;
  t.Set(TagField::Title, "東京事変 – 群青日和 🎸");
  t.Set(TagField::Artist, "Björk");
  t.Set(TagField::Album, "Σίγουρος Ρος");
  t.Set(TagField::Comment, "Кино");
  t.Set(TagField::TrackNumber, "7");
  auto tag = BuildId3v2(t);
  std::map<std::string, std::string> texts;
  for (const Frame& f : Frames(tag)) {
    if (f.id == "COMM" || f.id == "WXXX") continue;
    if (tag[f.body] == 1)
      texts[f.id] = Utf16Body(tag, f.body + 1, f.body + f.size);
    else
      texts[f.id] = std::string(tag.begin() + f.body + 1, tag.begin() + f.body + f.size);
  }
  EXPECT_EQ(texts["TIT2"], "東京事変 – 群青日和 🎸");
  EXPECT_EQ(texts["TPE1"], "Björk");
  EXPECT_EQ(texts["TALB"], "Σίγουρος Ρος");
  EXPECT_EQ(texts["TRCK"], "7");
  // The same record without its full texts gives the CP1251 renderings.
  auto lossy = BuildId3v2(t.Record);
  EXPECT_NE(lossy, tag);
}

TEST(Id3v2TextsTest, TextsThatFitCp1251GiveTheSameTagAsTheRecord) {
  TrackTags t;
  t.Record.TagsOn = 1;
  t.Set(TagField::Title, "Группа крови");
  t.Set(TagField::Comment, "Комментарий");
  t.Set(TagField::Url, "http://пример.рф/");
  EXPECT_TRUE(t.Texts.Empty());
  EXPECT_EQ(BuildId3v2(t), BuildId3v2(t.Record));
}

TEST(Id3v2TextsTest, VorbisCommentsCarryTheFullTexts) {
  TrackTags t;
  t.Record.TagsOn = 1;
  t.Set(TagField::Title, "Jóga 🎵");
  t.Set(TagField::Artist, "Björk");
  auto comments = VorbisCommentsFor(t);
  ASSERT_EQ(comments.size(), 2u);
  EXPECT_EQ(comments[0], (std::pair<std::string, std::string>{"TITLE", "Jóga 🎵"}));
  EXPECT_EQ(comments[1], (std::pair<std::string, std::string>{"ARTIST", "Björk"}));
}

}  // namespace
}  // namespace sonarvex

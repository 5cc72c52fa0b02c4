#include <gtest/gtest.h>

#include <cstring>

#include "platform/Cp1251.h"

namespace sonarvex {

TEST(Cp1251, RoundTripsCyrillicAndAscii) {
  const std::string utf8 = "Кино — Группа крови, ё Ё №";
  std::string cp = Utf8ToCp1251(utf8);
  EXPECT_EQ(cp.size(), 26u);  // one byte a character
  EXPECT_EQ(static_cast<unsigned char>(cp[0]), 0xCA);  // К
  EXPECT_EQ(Cp1251ToUtf8(cp), utf8);
  EXPECT_EQ(Utf8ToCp1251("plain"), "plain");
}

TEST(Cp1251, UnmappableAndInvalidInput) {
  // A character CP1251 lacks becomes '?'; bytes that are not UTF-8 stay as
  // they are (text that already is CP1251 passes through).
  EXPECT_EQ(Utf8ToCp1251("a\xE6\x97\xA5z"), "a?z");
  EXPECT_EQ(Utf8ToCp1251("\xCA\xE8\xED\xEE"), "\xCA\xE8\xED\xEE");
  EXPECT_EQ(Cp1251ToUtf8("\x98"), "\xEF\xBF\xBD");
  EXPECT_TRUE(IsNonAsciiUtf8("Кино"));
  EXPECT_FALSE(IsNonAsciiUtf8("Kino"));
  EXPECT_FALSE(IsNonAsciiUtf8("\xCA\xE8"));
}

TEST(Cp1251, FixedFieldsNeverOverrun) {
  struct {
    char field[5];
    char next[3];
  } rec;
  std::memset(&rec, 'x', sizeof rec);
  SetField(rec.field, "abcdefgh");
  EXPECT_EQ(std::string(rec.field, 5), std::string("abcd\0", 5));
  EXPECT_EQ(std::string(rec.next, 3), "xxx");
  EXPECT_EQ(FieldText(rec.field), "abcd");
  // A field without its NUL is read only up to its end.
  std::memcpy(rec.field, "12345", 5);
  EXPECT_EQ(FieldText(rec.field), "12345");
  SetField(rec.field, "");
  EXPECT_EQ(std::string(rec.field, 5), std::string(5, '\0'));
}

TEST(Cp1251, CaseMappingCoversCyrillic) {
  EXPECT_EQ(Cp1251ToUtf8(Cp1251Upper(Utf8ToCp1251("abc абв ёж"))), "ABC АБВ ЁЖ");
  EXPECT_EQ(Cp1251ToUtf8(Cp1251Lower(Utf8ToCp1251("ABC АБВ ЁЖ"))), "abc абв ёж");
}

}  // namespace sonarvex

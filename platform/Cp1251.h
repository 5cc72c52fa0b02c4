// Code page 1251 text at the boundary of the stored records.
//
// Record fields hold NUL-terminated CP1251 text in fixed-size areas; the rest of
// the program works in UTF-8. These helpers convert between the two (through
// iconv) and copy text into and out of fixed fields without ever overrunning
// them.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace sonarvex {

// CP1251 bytes to UTF-8. Every CP1251 byte has a mapping except 0x98, which
// becomes U+FFFD.
std::string Cp1251ToUtf8(std::string_view cp1251);

// UTF-8 to CP1251. Characters without a CP1251 form become '?'; invalid UTF-8
// bytes are taken as CP1251 bytes unchanged, so CP1251 input passes through.
std::string Utf8ToCp1251(std::string_view utf8);

// True when the text is valid UTF-8 and holds at least one non-ASCII character.
bool IsNonAsciiUtf8(std::string_view text);

// True when every byte is below 0x80.
bool IsAscii(std::string_view text);

// Copies text into a fixed field of `size` bytes: at most size - 1 bytes, then a
// NUL; the rest of the field is zero-filled.
void SetField(char* field, std::size_t size, std::string_view text);
template <std::size_t N>
void SetField(char (&field)[N], std::string_view text) {
  SetField(field, N, text);
}

// The text of a fixed field: up to the first NUL, never beyond the field.
std::string_view FieldText(const char* field, std::size_t size);
template <std::size_t N>
std::string_view FieldText(const char (&field)[N]) {
  return FieldText(field, N);
}

// Same, converted to UTF-8.
template <std::size_t N>
std::string FieldUtf8(const char (&field)[N]) {
  return Cp1251ToUtf8(FieldText(field, N));
}
template <std::size_t N>
void SetFieldUtf8(char (&field)[N], std::string_view utf8) {
  SetField(field, N, Utf8ToCp1251(utf8));
}

// ASCII/CP1251 upper and lower case of single-byte text (Cyrillic included).
std::string Cp1251Upper(std::string_view text);
std::string Cp1251Lower(std::string_view text);

}  // namespace sonarvex

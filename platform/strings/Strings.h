#pragma once

#include <cstdint>
#include <string>

// The framework's string functions as the system uses them. Texts are std::string holding the
// system's texts byte for byte. Our sources and texts are UTF-8, where the system's were
// single-byte code page 1252: "é" is two bytes here. None of these functions looks inside
// multi-byte sequences, so UTF-8 text passes through them unchanged.
namespace platform {

// Removes every leading and trailing byte of value 0x20 or less (blanks and control bytes).
std::string Trim(const std::string& text);

// The whole text as a signed 32-bit integer, or defaultValue when it is not one. Accepted: an
// optional "+" or "-" followed by decimal digits, or a hexadecimal number introduced by "$",
// "x", "X", "0x" or "0X" with no sign before it. Empty text, any other byte (blanks included:
// the caller trims), a prefix or sign with no digit after it, or a value outside the signed
// 32-bit range give defaultValue.
int32_t StrToIntDef(const std::string& text, int32_t defaultValue);

// The text with ASCII a-z upper-cased; every other byte unchanged.
std::string UpperCase(const std::string& text);

// 1-based position of the first occurrence of sub in text, compared byte for byte; 0 when sub
// does not occur or is empty.
int Pos(const std::string& sub, const std::string& text);

// count bytes of text from the 1-based position index. An index below 1 counts as 1; a count
// below 1 or an index past the end gives empty text; a count running past the end stops there.
std::string Copy(const std::string& text, int index, int count);

// printf-style formatting into a string of exactly the formatted length (no truncation).
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace platform

// Code-point level helpers shared by the UTF converters, the JSON writer and the
// pattern matcher: validity, the UTF-8 decoder, the appenders and the ASCII test.
#ifndef BASE_STRINGS_UTF_STRING_CONVERSION_UTILS_H_
#define BASE_STRINGS_UTF_STRING_CONVERSION_UTILS_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/strings/string_piece.h"

namespace base {

// True for code points below U+D800 or in U+E000..U+10FFFF (noncharacters included).
inline bool IsValidCodepoint(int32_t code_point) {
  return (code_point >= 0 && code_point < 0xD800) ||
         (code_point >= 0xE000 && code_point <= 0x10FFFF);
}

// Decodes the rest of a UTF-8 sequence whose lead byte `lead` (0x80 or more) was just
// read; *index is the position after the lead and is advanced past the trail bytes used.
// Returns the code point, or -1 for an ill-formed sequence (cut short, overlong, an
// encoded surrogate, above U+10FFFF, a five- or six-byte form, a stray trail byte, 0xFE,
// 0xFF). After -1 the index has skipped the trail bytes that follow the lead, at most as
// many as the lead announces, so each bad sequence counts once.
int32_t Utf8NextCharSafeBody(const uint8_t* text, size_t* index, size_t length, uint8_t lead);

// Decodes one code point of `text` at *index (which must be below `length`) and
// advances *index past it. Returns -1 for an ill-formed sequence, as above.
int32_t Utf8NextChar(const char* text, size_t length, size_t* index);

// Append one valid code point; return the number of bytes (1..4) or units (1..2) added.
size_t WriteUnicodeCharacter(uint32_t code_point, std::string* output);
size_t WriteUnicodeCharacter(uint32_t code_point, std::wstring* output);

// True when every byte (narrow) or UTF-16 unit (wide) is below 0x80.
bool IsStringASCII(StringPiece text);
bool IsStringASCII(StringPiece16 text);  // also takes std::wstring

}  // namespace base

#endif  // BASE_STRINGS_UTF_STRING_CONVERSION_UTILS_H_

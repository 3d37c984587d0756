// Conversions between UTF-16 wide strings and UTF-8 narrow strings. They never fail:
// every ill-formed unit or sequence becomes U+FFFD and the rest is converted.
#ifndef BASE_STRINGS_UTF_STRING_CONVERSIONS_H_
#define BASE_STRINGS_UTF_STRING_CONVERSIONS_H_

#include <string>

#include "base/strings/string_piece.h"

namespace base {

std::string WideToUTF8(StringPiece16 wide);
std::wstring UTF8ToWide(StringPiece utf8);

// Byte-for-byte widening and narrowing without validation; callers pass ASCII. A byte
// of 0x80 or more widens sign-extended (0xE9 -> U+FFE9); narrowing keeps the low byte.
std::wstring ASCIIToWide(StringPiece ascii);
std::string WideToASCII(StringPiece16 wide);

// The same conversions done by Windows (code page 65001); empty on any failure. Used
// where our own code must not be trusted, e.g. in the crash reporter.
std::string SysWideToUTF8(StringPiece16 wide);
std::wstring SysUTF8ToWide(StringPiece utf8);

}  // namespace base

#endif  // BASE_STRINGS_UTF_STRING_CONVERSIONS_H_

// General text helpers over narrow (UTF-8) and wide (UTF-16) strings: ASCII case,
// prefixes, trimming, whitespace, replacing, joining and "$1"-style placeholders.
#ifndef BASE_STRINGS_STRING_UTIL_H_
#define BASE_STRINGS_STRING_UTIL_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/strings/string_piece.h"

namespace base {

// The six ASCII whitespace bytes: tab, LF, VT, FF, CR, space.
extern const char kWhitespaceASCII[];
// The 25 UTF-16 whitespace units (U+0009..U+000D, U+0020, U+0085, U+00A0, U+1680,
// U+2000..U+200A, U+2028, U+2029, U+202F, U+205F, U+3000).
extern const wchar_t kWhitespaceWide[];

std::string ToLowerASCII(StringPiece text);
std::string ToUpperASCII(StringPiece text);

// Equal lengths and equal bytes once "A".."Z" are lowered on both sides.
bool EqualsCaseInsensitiveASCII(StringPiece a, StringPiece b);

// |ascii| must already be lower case: only the wide side is lowered, and a byte of
// 0x80 or more never matches.
bool LowerCaseEqualsASCII(StringPiece16 text, StringPiece ascii);

enum CompareCase {
  SENSITIVE = 0,
  INSENSITIVE_ASCII = 1,
};

// Any other CompareCase value makes these false, even for an empty prefix.
bool StartsWith(StringPiece16 text, StringPiece16 prefix, CompareCase compare_case);
bool EndsWith(StringPiece16 text, StringPiece16 suffix, CompareCase compare_case);
bool StartsWith(StringPiece text, StringPiece prefix, CompareCase compare_case);
bool EndsWith(StringPiece text, StringPiece suffix, CompareCase compare_case);

enum TrimPositions {
  TRIM_NONE = 0,
  TRIM_LEADING = 1 << 0,
  TRIM_TRAILING = 1 << 1,
  TRIM_ALL = TRIM_LEADING | TRIM_TRAILING,
};

// Removes characters of |trim_chars| from both ends; |output| may be |&input|.
TrimPositions TrimString(const std::wstring& input, StringPiece16 trim_chars,
                         std::wstring* output);

// Drops leading and trailing whitespace, turns inner runs into one space and removes
// runs that contain a line break entirely.
std::string CollapseWhitespace(const std::string& text);

// Replaces every character of |replace_chars| by |replace_with|; the inserted text is
// not searched again. |output| may be |&input|. True when anything was replaced.
[[nodiscard]] bool ReplaceChars(const std::string& input, StringPiece replace_chars,
                                StringPiece replace_with, std::string* output);

// Replaces the first occurrence of |find_this| (not empty) at or after |start_offset|,
// or with |replace_all| every non-overlapping one from there on.
void ReplaceSubstringsAfterOffset(std::string* text, size_t start_offset,
                                  StringPiece find_this, StringPiece replace_with,
                                  bool replace_all);

std::string JoinString(const std::vector<std::string>& parts, StringPiece separator);
std::wstring JoinString(const std::vector<std::wstring>& parts, StringPiece16 separator);
std::string JoinString(const std::vector<StringPiece>& parts, StringPiece separator);

// "$1".."$9" take substitution 0..8 (nothing when missing), "$$" gives "$", any other
// "$x" and a final "$" vanish. |offsets| (optional, not cleared) receives the output
// positions of the placeholders, ordered by parameter index.
std::wstring ReplaceStringPlaceholders(const std::wstring& format,
                                       const std::vector<std::wstring>& substitutions,
                                       std::vector<size_t>* offsets);
std::string ReplaceStringPlaceholders(StringPiece format,
                                      const std::vector<std::string>& substitutions,
                                      std::vector<size_t>* offsets);

// A Unicode scalar value that is not a noncharacter.
bool IsValidCharacter(uint32_t code_point);

// Sizes |text| to |length_with_null| - 1 characters (room reserved for the NUL) and
// returns its buffer for an API to write into.
wchar_t* WriteInto(std::wstring* text, size_t length_with_null);

}  // namespace base

#endif  // BASE_STRINGS_STRING_UTIL_H_

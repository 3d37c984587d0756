// Wildcard matching of UTF-8 text: "*" matches any run, "?" zero or one code point,
// "\" makes the next pattern character literal.
#ifndef BASE_STRINGS_PATTERN_H_
#define BASE_STRINGS_PATTERN_H_

#include "base/strings/string_piece.h"

namespace base {

// Gives false rather than nesting deeper than 16 wildcards, so patterns with many
// wildcards may miss matches that exist. Ill-formed UTF-8 never matches.
bool MatchPattern(StringPiece text, StringPiece pattern);

}  // namespace base

#endif  // BASE_STRINGS_PATTERN_H_

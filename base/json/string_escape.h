// JSON string escaping, shared by the JSON writer and the trace log.
#ifndef BASE_JSON_STRING_ESCAPE_H_
#define BASE_JSON_STRING_ESCAPE_H_

#include <cstdint>
#include <string>

#include "base/strings/string_piece.h"

namespace base {

// Appends `text` quoted and escaped to `dest`. Invalid UTF-8, encoded surrogates and
// values above U+10FFFF become U+FFFD and make the result false; the output is complete
// either way.
[[nodiscard]] bool EscapeJsonStringUtf8(StringPiece text, std::string* dest);

// Appends the short escape of the code points that need one (\b \t \n \f \r \" \\, and
// \u003C, \u2028, \u2029, which must not reach HTML or JavaScript raw) and returns true;
// returns false and appends nothing for any other code point.
[[nodiscard]] bool EscapeSpecialCodePoint(uint32_t code_point, std::string* dest);

}  // namespace base

#endif  // BASE_JSON_STRING_ESCAPE_H_

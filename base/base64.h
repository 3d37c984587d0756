// Strict Base64 decoding (RFC 4648 standard alphabet, "=" padding).
#ifndef BASE_BASE64_H_
#define BASE_BASE64_H_

#include <string>

#include "base/strings/string_piece.h"

namespace base {

// Decodes |input| into |output|. Whitespace, line breaks, a character outside the
// alphabet or misplaced padding fail the decoding, and |output| is then left untouched.
[[nodiscard]] bool Base64Decode(StringPiece input, std::string* output);

}  // namespace base

#endif  // BASE_BASE64_H_

#include "base/json/string_escape.h"

#include "base/strings/stringprintf.h"
#include "base/strings/utf_string_conversion_utils.h"

namespace base {

bool EscapeSpecialCodePoint(uint32_t code_point, std::string* dest) {
  static const struct {
    uint32_t code_point;
    const char* escape;
  } kEscapes[] = {
      {'\b', "\\b"},         {'\t', "\\t"},         {'\n', "\\n"},
      {'\f', "\\f"},         {'\r', "\\r"},         {'"', "\\\""},
      {'\\', "\\\\"},        {'<', "\\u003C"},      {0x2028, "\\u2028"},
      {0x2029, "\\u2029"},
  };
  for (const auto& entry : kEscapes) {
    if (entry.code_point == code_point) {
      dest->append(entry.escape);
      return true;
    }
  }
  return false;
}

bool EscapeJsonStringUtf8(StringPiece text, std::string* dest) {
  bool valid = true;
  dest->push_back('"');
  size_t index = 0;
  while (index < text.size()) {
    // The decoder rejects encoded surrogates and values above U+10FFFF with -1.
    int32_t code_point = Utf8NextChar(text.data(), text.size(), &index);
    if (code_point < 0) {
      code_point = 0xFFFD;
      valid = false;
    }
    uint32_t unsigned_code_point = static_cast<uint32_t>(code_point);
    if (EscapeSpecialCodePoint(unsigned_code_point, dest)) continue;
    if (unsigned_code_point < 0x20) {
      StringAppendF(dest, "\\u%04X", unsigned_code_point);
    } else {
      WriteUnicodeCharacter(unsigned_code_point, dest);
    }
  }
  dest->push_back('"');
  return valid;
}

}  // namespace base

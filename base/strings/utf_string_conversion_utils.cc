#include "base/strings/utf_string_conversion_utils.h"

#include <cstring>

namespace base {

namespace {

// Ors the units of the aligned middle a machine word at a time; the ends go unit by unit.
template <typename Char>
bool DoIsStringASCII(const Char* text, size_t length) {
  typedef uint64_t Word;
  // One mask bit set for every bit that would make a unit 0x80 or more.
  const Word kNonAsciiMask =
      sizeof(Char) == 1 ? 0x8080808080808080ULL : 0xFF80FF80FF80FF80ULL;
  const Char* end = text + length;
  Char all_units = 0;
  while (text != end && (reinterpret_cast<uintptr_t>(text) & (sizeof(Word) - 1)) != 0)
    all_units |= *text++;
  if (static_cast<uint32_t>(all_units) >= 0x80) return false;

  Word all_words = 0;
  const size_t kUnitsPerWord = sizeof(Word) / sizeof(Char);
  while (static_cast<size_t>(end - text) >= kUnitsPerWord) {
    Word word;
    std::memcpy(&word, text, sizeof(word));
    all_words |= word;
    text += kUnitsPerWord;
  }
  if (all_words & kNonAsciiMask) return false;

  while (text != end) all_units |= *text++;
  return static_cast<uint32_t>(all_units) < 0x80;
}

}  // namespace

int32_t Utf8NextCharSafeBody(const uint8_t* text, size_t* index, size_t length, uint8_t lead) {
  if (lead < 0xC0 || lead > 0xFD) return -1;  // a stray trail byte, 0xFE or 0xFF
  int trail_count = lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : lead < 0xF8 ? 3 : lead < 0xFC ? 4 : 5;
  uint32_t value = lead & (0x3F >> trail_count);
  int seen = 0;
  while (seen < trail_count && *index < length && (text[*index] & 0xC0) == 0x80) {
    value = (value << 6) | (text[*index] & 0x3F);
    ++*index;
    ++seen;
  }
  if (seen < trail_count || trail_count > 3) return -1;
  static const uint32_t kMinimum[4] = {0, 0x80, 0x800, 0x10000};
  if (value < kMinimum[trail_count]) return -1;  // overlong
  if (!IsValidCodepoint(static_cast<int32_t>(value))) return -1;
  return static_cast<int32_t>(value);
}

int32_t Utf8NextChar(const char* text, size_t length, size_t* index) {
  uint8_t lead = static_cast<uint8_t>(text[(*index)++]);
  if (lead < 0x80) return lead;
  return Utf8NextCharSafeBody(reinterpret_cast<const uint8_t*>(text), index, length, lead);
}

size_t WriteUnicodeCharacter(uint32_t code_point, std::string* output) {
  if (code_point < 0x80) {
    output->push_back(static_cast<char>(code_point));
    return 1;
  }
  if (code_point < 0x800) {
    output->push_back(static_cast<char>(0xC0 | (code_point >> 6)));
    output->push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
    return 2;
  }
  if (code_point < 0x10000) {
    output->push_back(static_cast<char>(0xE0 | (code_point >> 12)));
    output->push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
    output->push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
    return 3;
  }
  output->push_back(static_cast<char>(0xF0 | (code_point >> 18)));
  output->push_back(static_cast<char>(0x80 | ((code_point >> 12) & 0x3F)));
  output->push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
  output->push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  return 4;
}

size_t WriteUnicodeCharacter(uint32_t code_point, std::wstring* output) {
  if (code_point < 0x10000) {
    output->push_back(static_cast<wchar_t>(code_point));
    return 1;
  }
  output->push_back(static_cast<wchar_t>((code_point >> 10) + 0xD7C0));
  output->push_back(static_cast<wchar_t>((code_point & 0x3FF) | 0xDC00));
  return 2;
}

bool IsStringASCII(StringPiece text) { return DoIsStringASCII(text.data(), text.size()); }

bool IsStringASCII(StringPiece16 text) { return DoIsStringASCII(text.data(), text.size()); }

}  // namespace base

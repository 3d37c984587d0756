// Integers and doubles to and from decimal text, and hexadecimal byte strings. The
// parsers are strict: true only when the whole text is the number; on false the result
// still holds the partial or saturated value.
#ifndef BASE_STRINGS_STRING_NUMBER_CONVERSIONS_H_
#define BASE_STRINGS_STRING_NUMBER_CONVERSIONS_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/strings/string_piece.h"

namespace base {

std::string IntToString(int32_t value);
std::wstring IntToString16(int32_t value);
std::wstring UintToString16(uint32_t value);
std::string Int64ToString(int64_t value);
std::wstring Int64ToString16(int64_t value);
std::wstring Uint64ToString16(uint64_t value);

// Leading whitespace, trailing garbage and overflow give false (overflow saturates).
[[nodiscard]] bool StringToInt(StringPiece input, int32_t* output);
[[nodiscard]] bool StringToUint(StringPiece input, uint32_t* output);
[[nodiscard]] bool StringToUint(StringPiece16 input, uint32_t* output);
[[nodiscard]] bool StringToInt64(StringPiece input, int64_t* output);
[[nodiscard]] bool StringToInt64(StringPiece16 input, int64_t* output);
[[nodiscard]] bool StringToUint64(StringPiece input, uint64_t* output);

// Correctly rounded; false for empty text, leading whitespace, trailing characters and
// results out of range (which are stored as +-infinity or +-0).
[[nodiscard]] bool StringToDouble(const std::string& input, double* output);

// Two upper-case hex digits per byte.
std::string HexEncode(const void* bytes, size_t size);

// Appends one byte per digit pair; false for empty or odd-length text or a non-hex
// digit, keeping the bytes decoded before it.
[[nodiscard]] bool HexStringToBytes(const std::string& input, std::vector<uint8_t>* output);

}  // namespace base

#endif  // BASE_STRINGS_STRING_NUMBER_CONVERSIONS_H_

#include "base/strings/string_number_conversions.h"

#include <cctype>
#include <cerrno>
#include <cwctype>
#include <limits>
#include <type_traits>

#include "base/strings/double_conversion.h"

namespace base {

namespace {

template <typename StringT, typename IntT>
StringT IntToStringT(IntT value) {
  typedef typename std::make_unsigned<IntT>::type UnsignedT;
  typedef typename StringT::value_type CharT;
  // The magnitude in unsigned arithmetic, so the most negative value needs no special case.
  UnsignedT magnitude = static_cast<UnsignedT>(value);
  bool negative = value < 0;
  if (negative) magnitude = static_cast<UnsignedT>(0) - magnitude;
  CharT buffer[3 * sizeof(IntT) + 2];
  CharT* end = buffer + sizeof(buffer) / sizeof(buffer[0]);
  CharT* cursor = end;
  do {
    *--cursor = static_cast<CharT>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (negative) *--cursor = static_cast<CharT>('-');
  return StringT(cursor, end);
}

inline bool IsSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }
inline bool IsSpace(wchar_t c) { return std::iswspace(c) != 0; }

template <typename CharT, typename IntT>
[[nodiscard]] bool StringToIntT(BasicStringPiece<CharT> input, IntT* output) {
  const CharT* cursor = input.begin();
  const CharT* end = input.end();
  bool valid = true;
  *output = 0;
  // Leading whitespace is skipped but spoils the verdict; the value is still produced.
  while (cursor != end && IsSpace(*cursor)) {
    valid = false;
    ++cursor;
  }
  bool negative = false;
  if (cursor != end) {
    if (*cursor == '-') {
      if (!std::numeric_limits<IntT>::is_signed) return false;
      negative = true;
      ++cursor;
    } else if (*cursor == '+') {
      ++cursor;
    }
  }
  if (cursor == end) return false;

  const IntT max = std::numeric_limits<IntT>::max();
  const IntT min = std::numeric_limits<IntT>::min();
  IntT value = 0;
  for (const CharT* first = cursor; cursor != end; ++cursor) {
    CharT c = *cursor;
    if (c < '0' || c > '9') {
      *output = value;
      return false;
    }
    IntT digit = static_cast<IntT>(c - '0');
    if (cursor != first) {
      if (!negative) {
        if (value > max / 10 || (value == max / 10 && digit > max % 10)) {
          *output = max;
          return false;
        }
      } else {
        IntT min_last = static_cast<IntT>(-(min % 10));
        if (value < min / 10 || (value == min / 10 && digit > min_last)) {
          *output = min;
          return false;
        }
      }
      value = static_cast<IntT>(value * 10);
    }
    value = negative ? static_cast<IntT>(value - digit) : static_cast<IntT>(value + digit);
  }
  *output = value;
  return valid;
}

}  // namespace

std::string IntToString(int32_t value) { return IntToStringT<std::string>(value); }
std::wstring IntToString16(int32_t value) { return IntToStringT<std::wstring>(value); }
std::wstring UintToString16(uint32_t value) { return IntToStringT<std::wstring>(value); }
std::string Int64ToString(int64_t value) { return IntToStringT<std::string>(value); }
std::wstring Int64ToString16(int64_t value) { return IntToStringT<std::wstring>(value); }
std::wstring Uint64ToString16(uint64_t value) { return IntToStringT<std::wstring>(value); }

bool StringToInt(StringPiece input, int32_t* output) { return StringToIntT(input, output); }
bool StringToUint(StringPiece input, uint32_t* output) { return StringToIntT(input, output); }
bool StringToUint(StringPiece16 input, uint32_t* output) { return StringToIntT(input, output); }
bool StringToInt64(StringPiece input, int64_t* output) { return StringToIntT(input, output); }
bool StringToInt64(StringPiece16 input, int64_t* output) { return StringToIntT(input, output); }
bool StringToUint64(StringPiece input, uint64_t* output) { return StringToIntT(input, output); }

bool StringToDouble(const std::string& input, double* output) {
  int saved_errno = errno;
  errno = 0;
  const char* end = nullptr;
  *output = ParseDouble(input.c_str(), &end);
  bool valid = errno == 0 && !input.empty() && end == input.c_str() + input.size() &&
               !IsSpace(input[0]);
  if (errno == 0) errno = saved_errno;
  return valid;
}

std::string HexEncode(const void* bytes, size_t size) {
  static const char kDigits[] = "0123456789ABCDEF";
  const unsigned char* in = static_cast<const unsigned char*>(bytes);
  std::string result(size * 2, '\0');
  for (size_t i = 0; i < size; ++i) {
    result[2 * i] = kDigits[in[i] >> 4];
    result[2 * i + 1] = kDigits[in[i] & 0xF];
  }
  return result;
}

namespace {

bool HexDigitValue(char c, uint8_t* value) {
  if (c >= '0' && c <= '9') {
    *value = static_cast<uint8_t>(c - '0');
  } else if (c >= 'a' && c <= 'f') {
    *value = static_cast<uint8_t>(c - 'a' + 10);
  } else if (c >= 'A' && c <= 'F') {
    *value = static_cast<uint8_t>(c - 'A' + 10);
  } else {
    return false;
  }
  return true;
}

}  // namespace

bool HexStringToBytes(const std::string& input, std::vector<uint8_t>* output) {
  if (input.empty() || input.size() % 2 != 0) return false;
  for (size_t i = 0; i < input.size(); i += 2) {
    uint8_t high, low;
    if (!HexDigitValue(input[i], &high) || !HexDigitValue(input[i + 1], &low)) return false;
    output->push_back(static_cast<uint8_t>(high << 4 | low));
  }
  return true;
}

}  // namespace base

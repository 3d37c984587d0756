#include "base/strings/double_conversion.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <utility>

namespace base {

namespace {

// More significant digits than any double needs to decide its rounding (767 + 1); the
// rest only matters as "some non-zero digit follows", kept as one sticky digit.
constexpr size_t kMaxSignificantDigits = 780;

// Decimal exponents (of the first significant digit) beyond which the result is
// certainly out of range: DBL_MAX is 1.8e308, half the smallest subnormal 2.5e-324.
constexpr int64_t kOverflowExponent = 310;
constexpr int64_t kUnderflowExponent = -330;

bool IsParseSpace(char c) {
  return c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r' || c == ' ';
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

char ToLowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

// True when |s| starts with the lower-case |word| in any case.
bool StartsWithNoCase(const char* s, const char* word) {
  for (; *word; ++s, ++word) {
    if (ToLowerAscii(*s) != *word) return false;
  }
  return true;
}

int HexDigitValue(char c) {
  if (IsDigit(c)) return c - '0';
  c = ToLowerAscii(c);
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

double WithSign(double value, bool negative) { return negative ? -value : value; }

// "inf", "infinity", "nan" and "nan(hex digits)" after the sign. Returns false when
// none of them stands at |s|.
[[nodiscard]] bool ParseNonFinite(const char* s, bool negative, double* result, const char** end) {
  if (StartsWithNoCase(s, "inf")) {
    *end = s + (StartsWithNoCase(s, "infinity") ? 8 : 3);
    *result = WithSign(std::numeric_limits<double>::infinity(), negative);
    return true;
  }
  if (!StartsWithNoCase(s, "nan")) return false;
  s += 3;
  *end = s;
  uint64_t bits = 0x7FF8000000000000ull;  // the default quiet NaN
  if (*s == '(' && HexDigitValue(s[1]) >= 0) {
    uint64_t payload = 0;
    const char* p = s + 1;
    for (; HexDigitValue(*p) >= 0; ++p) payload = payload << 4 | HexDigitValue(*p);
    // Only a closed group counts; otherwise the number ends after "nan".
    if (*p == ')') {
      *end = p + 1;
      payload &= 0x000FFFFFFFFFFFFFull;
      if (payload != 0) bits = 0x7FF0000000000000ull | payload;
    }
  }
  if (negative) bits |= 0x8000000000000000ull;
  double value;
  std::memcpy(&value, &bits, sizeof(value));
  *result = value;
  return true;
}

// The significant digits of a decimal number (leading zeros dropped) and the decimal
// exponent of the first of them, so that the value is 0.d1d2... * 10^point.
struct Significand {
  std::string digits;
  bool sticky = false;  // a non-zero digit follows the kept ones
  int64_t point = 0;
  bool any_digit = false;

  void Keep(char digit) {
    if (digits.size() < kMaxSignificantDigits) {
      digits.push_back(digit);
    } else if (digit != '0') {
      sticky = true;
    }
  }
};

// Reads the digits before and after a decimal point; returns where they end.
const char* ScanSignificand(const char* s, Significand* significand) {
  for (; IsDigit(*s); ++s) {
    significand->any_digit = true;
    if (significand->digits.empty() && *s == '0') continue;
    ++significand->point;
    significand->Keep(*s);
  }
  if (*s == '.' && (significand->any_digit || IsDigit(s[1]))) {
    for (++s; IsDigit(*s); ++s) {
      significand->any_digit = true;
      if (significand->digits.empty() && *s == '0') {
        --significand->point;
        continue;
      }
      significand->Keep(*s);
    }
  }
  return s;
}

// Reads "e", an optional sign and digits; returns where they end, |s| itself when no
// exponent stands there.
const char* ScanExponent(const char* s, int64_t* exponent) {
  *exponent = 0;
  if (*s != 'e' && *s != 'E') return s;
  const char* e = s + 1;
  bool exponent_negative = false;
  if (*e == '+' || *e == '-') {
    exponent_negative = *e == '-';
    ++e;
  }
  if (!IsDigit(*e)) return s;
  for (; IsDigit(*e); ++e) {
    // Saturates far beyond any meaningful exponent; the digits are still consumed.
    if (*exponent < 100000000) *exponent = *exponent * 10 + (*e - '0');
  }
  if (exponent_negative) *exponent = -*exponent;
  return e;
}

// 0.d1d2... * 10^(point + exponent), correctly rounded; ERANGE out of range.
double ToDouble(Significand significand, int64_t exponent, bool negative) {
  std::string& digits = significand.digits;
  // The sticky digit stands right after the kept ones, so zeros before it must stay.
  if (significand.sticky) {
    digits.push_back('1');
  } else {
    while (!digits.empty() && digits.back() == '0') digits.pop_back();
  }
  if (digits.empty()) return WithSign(0.0, negative);

  int64_t first_digit_exponent = significand.point - 1 + exponent;
  if (first_digit_exponent > kOverflowExponent) {
    errno = ERANGE;
    return WithSign(std::numeric_limits<double>::infinity(), negative);
  }
  if (first_digit_exponent < kUnderflowExponent) {
    errno = ERANGE;
    return WithSign(0.0, negative);
  }

  // Normalised as "d.ddddde<exp>" for the standard library's correctly rounded parser.
  std::string normalized;
  normalized.reserve(digits.size() + 8);
  normalized.push_back(digits[0]);
  if (digits.size() > 1) {
    normalized.push_back('.');
    normalized.append(digits, 1, std::string::npos);
  }
  normalized.push_back('e');
  normalized.append(std::to_string(first_digit_exponent));

  double value = 0;
  std::from_chars_result parsed = std::from_chars(
      normalized.data(), normalized.data() + normalized.size(), value,
      std::chars_format::scientific);
  if (parsed.ec == std::errc::result_out_of_range) {
    errno = ERANGE;
    value = first_digit_exponent > 0 ? std::numeric_limits<double>::infinity() : 0.0;
  }
  return WithSign(value, negative);
}

}  // namespace

double ParseDouble(const char* text, const char** end) {
  const char* end_unused;
  if (!end) end = &end_unused;
  *end = text;

  const char* s = text;
  while (IsParseSpace(*s)) ++s;
  bool negative = false;
  if (*s == '+' || *s == '-') {
    negative = *s == '-';
    ++s;
  }

  Significand significand;
  s = ScanSignificand(s, &significand);
  if (!significand.any_digit) {
    double result = 0;
    if (ParseNonFinite(s, negative, &result, end)) return result;
    return 0;
  }
  int64_t exponent = 0;
  *end = ScanExponent(s, &exponent);
  return ToDouble(std::move(significand), exponent, negative);
}

std::string FormatDouble(double value, int* decimal_point, bool* negative) {
  *negative = std::signbit(value);
  if (std::isinf(value)) {
    *decimal_point = kNonFiniteDecimalPoint;
    return "Infinity";
  }
  if (std::isnan(value)) {
    *decimal_point = kNonFiniteDecimalPoint;
    return "NaN";
  }
  // Shortest round-trip digits in the form "d.ddde+XX".
  char text[32];
  std::to_chars_result written =
      std::to_chars(text, text + sizeof(text), std::fabs(value), std::chars_format::scientific);
  std::string digits;
  const char* p = text;
  for (; p != written.ptr && *p != 'e'; ++p) {
    if (*p != '.') digits.push_back(*p);
  }
  int exponent = 0;
  std::from_chars(*(p + 1) == '+' ? p + 2 : p + 1, written.ptr, exponent);
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  *decimal_point = exponent + 1;
  return digits;
}

void FormatDoubleShortest(char* buffer, double value) {
  int point = 0;
  bool negative = false;
  std::string digits = FormatDouble(value, &point, &negative);
  char* out = buffer;
  if (negative) *out++ = '-';
  const int count = static_cast<int>(digits.size());
  if (point == kNonFiniteDecimalPoint) {
    std::memcpy(out, digits.data(), digits.size());
    out += digits.size();
  } else if (point <= -4 || point > count + 5) {
    *out++ = digits[0];
    if (count > 1) {
      *out++ = '.';
      std::memcpy(out, digits.data() + 1, count - 1);
      out += count - 1;
    }
    *out++ = 'e';
    int exponent = point - 1;
    if (exponent >= 0) {
      *out++ = '+';
    } else {
      *out++ = '-';
      exponent = -exponent;
    }
    if (exponent < 10) *out++ = '0';
    out = std::to_chars(out, out + 4, exponent).ptr;
  } else if (point <= 0) {
    *out++ = '.';
    for (int i = 0; i < -point; ++i) *out++ = '0';
    std::memcpy(out, digits.data(), digits.size());
    out += digits.size();
  } else {
    for (int i = 0; i < count; ++i) {
      if (i == point) *out++ = '.';
      *out++ = digits[i];
    }
    for (int i = count; i < point; ++i) *out++ = '0';
  }
  *out = '\0';
}

}  // namespace base

// Locale-independent, correctly rounded conversion between doubles and decimal text.
// Every double formatted by FormatDoubleShortest reads back bit-exact with ParseDouble,
// which the JSON files written and read by the installer rely on.
#ifndef BASE_STRINGS_DOUBLE_CONVERSION_H_
#define BASE_STRINGS_DOUBLE_CONVERSION_H_

#include <cstddef>
#include <string>

namespace base {

// Decimal point position reported by FormatDouble for infinity and NaN.
constexpr int kNonFiniteDecimalPoint = 9999;

// Longest FormatDoubleShortest text (24 characters) and its NUL.
constexpr size_t kShortestDoubleBufferSize = 25;

// strtod-like: skips leading whitespace, accepts a sign, digits with an optional point
// and exponent, or inf / infinity / nan / nan(hex payload) in any case. |end| (optional)
// receives the position after the number, or |text| when there is none (result 0).
// Out-of-range results become +-infinity or +-0 and set errno to ERANGE.
double ParseDouble(const char* text, const char** end);

// The shortest digit string that reads back as |value| (no leading or trailing zeros),
// with the decimal point's position relative to the first digit and the sign. Infinity
// gives "Infinity" and NaN "NaN", both with kNonFiniteDecimalPoint.
std::string FormatDouble(double value, int* decimal_point, bool* negative);

// Writes the shortest text of |value| ("1e+21", "1.5e-07", ".001", "123", "-0") and a
// NUL into |buffer|, which holds at least kShortestDoubleBufferSize characters.
void FormatDoubleShortest(char* buffer, double value);

}  // namespace base

#endif  // BASE_STRINGS_DOUBLE_CONVERSION_H_

#include "base/strings/double_conversion.h"

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include <gtest/gtest.h>

namespace base {
namespace {

uint64_t Bits(double value) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof(bits));
  return bits;
}

std::string Shortest(double value) {
  char buffer[kShortestDoubleBufferSize];
  FormatDoubleShortest(buffer, value);
  return buffer;
}

TEST(DoubleConversionTest, ParsesCorrectlyRounded) {
  const std::string halfway_then_more =
      "1.00000000000000011102230246251565404236316680908203125" + std::string(44, '0') + "1";
  // A halfway point whose deciding digit comes after the 780 digits kept verbatim.
  const std::string halfway_then_far_more =
      "1.00000000000000011102230246251565404236316680908203125" + std::string(900, '0') + "1";
  struct Case {
    std::string text;
    uint64_t bits;
  } cases[] = {
      {"9007199254740993", 0x4340000000000000},  // halfway: ties to the even mantissa
      {"9007199254740995", 0x4340000000000002},
      {"1.00000000000000011102230246251565404236316680908203125", 0x3FF0000000000000},
      {"1.00000000000000033306690738754696212708950042724609375", 0x3FF0000000000002},
      {halfway_then_more, 0x3FF0000000000001},  // 100 digits
      {halfway_then_far_more, 0x3FF0000000000001},
      // A non-zero digit far behind a run of zeros must not move up to close the run.
      {"1." + std::string(900, '0') + "1", 0x3FF0000000000000},
      {"3" + std::string(900, '0') + "1e-901", 0x4008000000000000},
      {"2.2250738585072011e-308", 0x000FFFFFFFFFFFFF},
      {"1.7976931348623157e308", 0x7FEFFFFFFFFFFFFF},
      {"4.9e-324", 0x1},
      {"2.4703282292062328e-324", 0x1},  // just above half the smallest subnormal
      {"0.1", 0x3FB999999999999A},
      {"123456789012345678901234567890", 0x45F8EE90FF6C373E},
      {"000.000100e+4", 0x3FF0000000000000},
      {".5", 0x3FE0000000000000},
      {"5.", 0x4014000000000000},
      {"-0", 0x8000000000000000},
      {"0e999999999999", 0},
  };
  for (const Case& c : cases) {
    errno = 0;
    const char* end = nullptr;
    double value = ParseDouble(c.text.c_str(), &end);
    EXPECT_EQ(c.bits, Bits(value)) << c.text;
    EXPECT_EQ(c.text.c_str() + c.text.size(), end) << c.text;
    EXPECT_EQ(0, errno) << c.text;
  }
}

TEST(DoubleConversionTest, OutOfRangeSetsErange) {
  struct Case {
    const char* text;
    double value;
  } cases[] = {
      {"1e400", std::numeric_limits<double>::infinity()},
      {"-1e400", -std::numeric_limits<double>::infinity()},
      {"1.8e308", std::numeric_limits<double>::infinity()},
      {"1e99999999999999999999", std::numeric_limits<double>::infinity()},
      {"1e-400", 0.0},
      {"2.4703282292062327e-324", 0.0},
      {"-1e-400", -0.0},
  };
  for (const Case& c : cases) {
    errno = 0;
    double value = ParseDouble(c.text, nullptr);
    EXPECT_EQ(Bits(c.value), Bits(value)) << c.text;
    EXPECT_EQ(ERANGE, errno) << c.text;
  }
}

TEST(DoubleConversionTest, GrammarAndEndPointer) {
  struct Case {
    const char* text;
    size_t consumed;
    double value;
  } cases[] = {
      {" \t\n+1.5", 7, 1.5},
      {"1.5x", 3, 1.5},
      {"1e", 1, 1.0},       // an exponent without digits is not part of the number
      {"1e+", 1, 1.0},
      {"2E-1z", 4, 0.2},
      {"abc", 0, 0.0},      // no number: the end is the start of the text
      {"  .", 0, 0.0},
      {"-", 0, 0.0},
      {"", 0, 0.0},
      {"Infinity", 8, std::numeric_limits<double>::infinity()},
      {"-INF", 4, -std::numeric_limits<double>::infinity()},
      {"infin", 3, std::numeric_limits<double>::infinity()},
  };
  for (const Case& c : cases) {
    const char* end = nullptr;
    double value = ParseDouble(c.text, &end);
    EXPECT_EQ(c.value, value) << c.text;
    EXPECT_EQ(c.text + c.consumed, end) << c.text;
  }
}

TEST(DoubleConversionTest, NanForms) {
  struct Case {
    const char* text;
    size_t consumed;
    uint64_t bits;
  } cases[] = {
      {"NaN", 3, 0x7FF8000000000000},
      {"nan(1)", 6, 0x7FF0000000000001},
      {"nan(8000000000001)", 18, 0x7FF8000000000001},
      {"-nan", 4, 0xFFF8000000000000},
      {"nan(12", 3, 0x7FF8000000000000},  // an unclosed group is not consumed
      {"nan(x)", 3, 0x7FF8000000000000},
  };
  for (const Case& c : cases) {
    const char* end = nullptr;
    double value = ParseDouble(c.text, &end);
    EXPECT_TRUE(std::isnan(value)) << c.text;
    EXPECT_EQ(c.bits, Bits(value)) << c.text;
    EXPECT_EQ(c.text + c.consumed, end) << c.text;
  }
}

TEST(DoubleConversionTest, FormatDoubleGivesDigitsPointAndSign) {
  int point = 0;
  bool negative = false;
  EXPECT_EQ("15", FormatDouble(-1.5, &point, &negative));
  EXPECT_EQ(1, point);
  EXPECT_TRUE(negative);
  EXPECT_EQ("1", FormatDouble(1000, &point, &negative));
  EXPECT_EQ(4, point);
  EXPECT_FALSE(negative);
  EXPECT_EQ("0", FormatDouble(0, &point, &negative));
  EXPECT_EQ(1, point);
  EXPECT_EQ("Infinity", FormatDouble(-INFINITY, &point, &negative));
  EXPECT_EQ(kNonFiniteDecimalPoint, point);
  EXPECT_TRUE(negative);
  EXPECT_EQ("NaN", FormatDouble(NAN, &point, &negative));
  EXPECT_EQ(kNonFiniteDecimalPoint, point);
}

TEST(DoubleConversionTest, ShortestLayout) {
  struct Case {
    double value;
    const char* text;
  } cases[] = {
      {1e21, "1e+21"},
      {1.5e-7, "1.5e-07"},
      {0.0001, ".0001"},
      {0.00001, "1e-05"},
      {0.1, ".1"},
      {1000000, "1e+06"},
      {123456, "123456"},
      {1234567, "1234567"},
      {100000, "100000"},
      {12.5, "12.5"},
      {-0.0, "-0"},
      {0.0, "0"},
      {std::numeric_limits<double>::infinity(), "Infinity"},
      {-std::numeric_limits<double>::infinity(), "-Infinity"},
      {std::numeric_limits<double>::quiet_NaN(), "NaN"},
      {-2.2250738585072014e-308, "-2.2250738585072014e-308"},  // the longest form
      {5e-324, "5e-324"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.text, Shortest(c.value)) << c.text;
  EXPECT_EQ(kShortestDoubleBufferSize - 1, Shortest(-2.2250738585072014e-308).size());
}

// Every finite double must come back bit-exact through its shortest text. Random bit
// patterns cover subnormals and every exponent; a fixed seed keeps failures repeatable.
TEST(DoubleConversionTest, MillionRandomDoublesRoundTrip) {
  std::mt19937_64 random(20261207);
  char buffer[kShortestDoubleBufferSize];
  int failures = 0;
  for (int i = 0; i < 1000000 && failures < 10; ++i) {
    uint64_t bits = random();
    double value;
    std::memcpy(&value, &bits, sizeof(value));
    if (std::isnan(value)) continue;
    FormatDoubleShortest(buffer, value);
    const char* end = nullptr;
    double back = ParseDouble(buffer, &end);
    if (Bits(back) != bits || *end != '\0') {
      ++failures;
      ADD_FAILURE() << std::hex << bits << " -> " << buffer << " -> " << Bits(back);
    }
  }
}

}  // namespace
}  // namespace base

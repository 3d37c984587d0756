#include "base/strings/string_number_conversions.h"

#include <cerrno>
#include <cstdint>
#include <limits>

#include <gtest/gtest.h>

namespace base {
namespace {

TEST(StringNumberConversionsTest, IntegersToText) {
  EXPECT_EQ("-2147483648", IntToString(std::numeric_limits<int32_t>::min()));
  EXPECT_EQ("0", IntToString(0));
  EXPECT_EQ(L"2147483647", IntToString16(2147483647));
  EXPECT_EQ(L"4294967295", UintToString16(4294967295u));
  EXPECT_EQ("-9223372036854775808", Int64ToString(std::numeric_limits<int64_t>::min()));
  EXPECT_EQ(L"-42", Int64ToString16(-42));
  EXPECT_EQ(L"18446744073709551615", Uint64ToString16(UINT64_MAX));
}

TEST(StringNumberConversionsTest, StringToIntFollowsTheStrictRules) {
  struct Case {
    const char* text;
    int32_t value;
    bool valid;
  } cases[] = {
      {"0012", 12, true},
      {"+7", 7, true},
      {" 7", 7, false},      // leading whitespace still yields the value
      {"\t\n-7", -7, false},
      {"7 ", 7, false},
      {"", 0, false},
      {"-", 0, false},
      {"12a", 12, false},
      {"a12", 0, false},
      {"+-1", 0, false},
      {"2147483647", 2147483647, true},
      {"2147483648", 2147483647, false},
      {"-2147483648", std::numeric_limits<int32_t>::min(), true},
      {"-2147483649", std::numeric_limits<int32_t>::min(), false},
      {"0x10", 0, false},
  };
  for (const Case& c : cases) {
    int32_t value = -99;
    EXPECT_EQ(c.valid, StringToInt(c.text, &value)) << c.text;
    EXPECT_EQ(c.value, value) << c.text;
  }
}

TEST(StringNumberConversionsTest, UnsignedParsersRejectMinusAndSaturate) {
  uint32_t u32 = 5;
  EXPECT_FALSE(StringToUint("-1", &u32));
  EXPECT_EQ(0u, u32);
  EXPECT_TRUE(StringToUint("+4294967295", &u32));
  EXPECT_EQ(4294967295u, u32);
  EXPECT_FALSE(StringToUint(L"4294967296", &u32));
  EXPECT_EQ(4294967295u, u32);

  uint64_t u64 = 0;
  EXPECT_TRUE(StringToUint64("18446744073709551615", &u64));
  EXPECT_EQ(UINT64_MAX, u64);
  EXPECT_FALSE(StringToUint64("18446744073709551616", &u64));
  EXPECT_EQ(UINT64_MAX, u64);
}

TEST(StringNumberConversionsTest, Int64ParsersNarrowAndWide) {
  int64_t value = 0;
  EXPECT_TRUE(StringToInt64("-9223372036854775808", &value));
  EXPECT_EQ(std::numeric_limits<int64_t>::min(), value);
  EXPECT_FALSE(StringToInt64("-9223372036854775809", &value));
  EXPECT_EQ(std::numeric_limits<int64_t>::min(), value);
  EXPECT_FALSE(StringToInt64(L"9223372036854775808", &value));
  EXPECT_EQ(std::numeric_limits<int64_t>::max(), value);
  // U+3000 is wide whitespace: skipped, but the verdict is false.
  EXPECT_FALSE(StringToInt64(L"\x3000" L"42", &value));
  EXPECT_EQ(42, value);
  // Full-width digits are not digits.
  EXPECT_FALSE(StringToInt64(L"\xFF11", &value));
}

TEST(StringNumberConversionsTest, StringToDouble) {
  double value = 0;
  EXPECT_TRUE(StringToDouble("1.5", &value));
  EXPECT_EQ(1.5, value);
  EXPECT_FALSE(StringToDouble(" 1.5", &value));
  EXPECT_FALSE(StringToDouble("1.5x", &value));
  EXPECT_FALSE(StringToDouble("1e400", &value));
  EXPECT_TRUE(StringToDouble("-0.25e1", &value));
  EXPECT_EQ(-2.5, value);
}

TEST(StringNumberConversionsTest, StringToDoubleKeepsTheCallersErrno) {
  double value = 0;
  errno = EINVAL;
  EXPECT_TRUE(StringToDouble("2", &value));
  EXPECT_EQ(EINVAL, errno);
  EXPECT_FALSE(StringToDouble("1e999", &value));
  EXPECT_EQ(ERANGE, errno);
}

TEST(StringNumberConversionsTest, Hex) {
  const uint8_t bytes[] = {0x00, 0xAB};
  EXPECT_EQ("00AB", HexEncode(bytes, sizeof(bytes)));
  EXPECT_EQ("", HexEncode(bytes, 0));

  struct Case {
    const char* text;
    bool valid;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {"0aFf", true, {0x0A, 0xFF}},
      {"abc", false, {}},
      {"", false, {}},
      {"0g12", false, {}},
      {"120g", false, {0x12}},  // bytes before the bad pair are kept
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> out;
    EXPECT_EQ(c.valid, HexStringToBytes(c.text, &out)) << c.text;
    EXPECT_EQ(c.bytes, out) << c.text;
  }
  std::vector<uint8_t> appended = {0x01};
  EXPECT_TRUE(HexStringToBytes("02", &appended));
  EXPECT_EQ((std::vector<uint8_t>{0x01, 0x02}), appended);
}

}  // namespace
}  // namespace base

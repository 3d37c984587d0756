#include "base/rand_util.h"

#include <limits.h>

#include <set>

#include <gtest/gtest.h>

namespace base {
namespace {

TEST(RandUtilTest, RandIntStaysInsideItsBounds) {
  const struct {
    int min;
    int max;
  } ranges[] = {{0, 0}, {-5, -5}, {0, 1}, {-3, 3}, {0, 61}, {INT_MAX - 1, INT_MAX},
                {INT_MIN, INT_MIN + 1}};
  for (const auto& r : ranges) {
    for (int i = 0; i < 200; ++i) {
      const int value = RandInt(r.min, r.max);
      EXPECT_GE(value, r.min);
      EXPECT_LE(value, r.max);
    }
  }
  EXPECT_EQ(7, RandInt(7, 7));
  EXPECT_EQ(INT_MIN, RandInt(INT_MIN, INT_MIN));
}

TEST(RandUtilTest, RandIntReachesEveryValueOfASmallRange) {
  std::set<int> seen;
  // The chance of missing one of 4 values in 400 draws is below 1e-49.
  for (int i = 0; i < 400; ++i) seen.insert(RandInt(-2, 1));
  EXPECT_EQ((std::set<int>{-2, -1, 0, 1}), seen);
}

TEST(RandUtilTest, RandIntOverTheFullRangeReachesBothHalves) {
  bool negative = false, positive = false;
  for (int i = 0; i < 200 && !(negative && positive); ++i) {
    const int value = RandInt(INT_MIN, INT_MAX);
    negative |= value < 0;
    positive |= value > 0;
  }
  EXPECT_TRUE(negative);
  EXPECT_TRUE(positive);
}

TEST(RandUtilTest, RandBytesFillsTheWholeBuffer) {
  // Every byte of a large buffer is written: no byte keeps its fill in all of 8 rounds.
  unsigned char buffer[4096];
  unsigned char ever_changed[sizeof(buffer)] = {};
  for (int round = 0; round < 8; ++round) {
    memset(buffer, 0xA5, sizeof(buffer));
    RandBytes(buffer, sizeof(buffer));
    for (size_t i = 0; i < sizeof(buffer); ++i) ever_changed[i] |= buffer[i] != 0xA5;
  }
  for (size_t i = 0; i < sizeof(buffer); ++i) ASSERT_TRUE(ever_changed[i]) << i;
}

}  // namespace
}  // namespace base

#include "base/numerics/checked_math.h"

#include <gtest/gtest.h>

namespace base {
namespace {

TEST(CheckedMultiplyTest, ReportsOverflowAndKeepsTheWrappedProduct) {
  const struct {
    int64_t a;
    int64_t b;
    bool fits;
    int64_t product;
  } cases[] = {
      {0, INT64_MAX, true, 0},
      {-1, INT64_MAX, true, -INT64_MAX},
      {3, -7, true, -21},
      {INT64_MIN, 1, true, INT64_MIN},
      {INT64_MIN / 2, 2, true, INT64_MIN},  // the product -2^63 fits
      {INT64_MIN, -1, false, INT64_MIN},    // 2^63 does not
      {INT64_MAX, 2, false, -2},
      {INT64_MAX, -2, false, 2},
      {-1, INT64_MIN, false, INT64_MIN},
      {int64_t{1} << 32, int64_t{1} << 31, false, INT64_MIN},
      {int64_t{1} << 32, -(int64_t{1} << 31), true, INT64_MIN},
  };
  for (const auto& c : cases) {
    int64_t product = 12345;
    EXPECT_EQ(c.fits, CheckedMultiply(c.a, c.b, &product)) << c.a << " * " << c.b;
    EXPECT_EQ(c.product, product) << c.a << " * " << c.b;
  }
}

}  // namespace
}  // namespace base

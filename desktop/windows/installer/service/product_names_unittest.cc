#include "desktop/windows/installer/service/product_names.h"

#include <gtest/gtest.h>

#include "desktop/windows/installer/service/product_values.h"

namespace installer {
namespace {

TEST(ProductNamesTest, StreamNames) {
  EXPECT_EQ("Nightly", GetStreamNameFor(1));
  EXPECT_EQ("Next", GetStreamNameFor(3));
  EXPECT_EQ(GetChannelName(), GetStreamNameFor(5));
}

}  // namespace
}  // namespace installer

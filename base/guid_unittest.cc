#include "base/guid.h"

#include <gtest/gtest.h>

namespace base {
namespace {

bool IsLowerHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

TEST(GuidTest, GeneratedTextHasVersionAndVariant) {
  for (int i = 0; i < 50; ++i) {
    const std::string guid = GenerateGuid();
    ASSERT_EQ(36u, guid.size()) << guid;
    for (size_t at = 0; at < guid.size(); ++at) {
      if (at == 8 || at == 13 || at == 18 || at == 23)
        EXPECT_EQ('-', guid[at]) << guid;
      else
        EXPECT_TRUE(IsLowerHex(guid[at])) << guid;
    }
    EXPECT_EQ('4', guid[14]) << guid;
    EXPECT_NE(std::string::npos, std::string("89ab").find(guid[19])) << guid;
  }
}

TEST(GuidTest, TwoGuidsDiffer) { EXPECT_NE(GenerateGuid(), GenerateGuid()); }

TEST(GuidTest, TextFromFixedValuesSetsOnlyVersionAndVariantBits) {
  EXPECT_EQ("00000000-0000-4000-8000-000000000000", GuidTextFromRandomValues(0, 0));
  EXPECT_EQ("ffffffff-ffff-4fff-bfff-ffffffffffff",
            GuidTextFromRandomValues(UINT64_MAX, UINT64_MAX));
  EXPECT_EQ("01234567-89ab-4def-8123-456789abcdef",
            GuidTextFromRandomValues(0x0123456789abcdefULL, 0x0123456789abcdefULL));
}

}  // namespace
}  // namespace base

#include "base/hash/hash.h"

#include <string>

#include <gtest/gtest.h>

namespace base {
namespace {

TEST(HashBytesTest, KnownValues) {
  const struct {
    std::string data;
    uint32_t hash;
  } cases[] = {
      {"a", 0x115ea782u},
      {"ab", 0x516b8b44u},
      {"abc", 0xd2be198au},
      {"abcd", 0xdad8b8dbu},
      {"hello world", 0xa68c6882u},
      {std::string("\x01\x02\x03\x04\x05\x06\x07\x08", 8), 0x926a9e78u},
      // Tail bytes of 0x80 and above are sign-extended: zero-extending changes these.
      {"\x80", 0xf30533c4u},
      {"\xff", 0u},
      {"ab\xfe", 0x3568c260u},
      {"abcd\x90", 0xa194383fu},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.hash, HashBytes(c.data.data(), static_cast<int32_t>(c.data.size())))
        << c.data;
  }
}

TEST(HashBytesTest, NullOrEmptyGivesZero) {
  EXPECT_EQ(0u, HashBytes(nullptr, 4));
  EXPECT_EQ(0u, HashBytes("abc", 0));
  EXPECT_EQ(0u, HashBytes("abc", -1));
}

}  // namespace
}  // namespace base

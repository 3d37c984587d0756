#include "crypto/sha2.h"

#include <string>

#include <gtest/gtest.h>

namespace crypto {
namespace {

TEST(ComputeSha256HexTest, PublishedVectorsAsLowerCaseHex) {
  struct Case {
    std::string input;
    const char* digest;
  } cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input.substr(0, 10));
    EXPECT_EQ(c.digest, ComputeSha256Hex(c.input.data(), c.input.size()));
  }
}

TEST(ComputeSha256HexTest, BinaryInputWithZeroBytes) {
  const char data[] = {'\0', '\0', '\0'};
  std::string with_zeros = ComputeSha256Hex(data, sizeof(data));
  EXPECT_EQ(64u, with_zeros.size());
  EXPECT_NE(ComputeSha256Hex(data, 0), with_zeros);
  EXPECT_EQ("709e80c88487a2411e1ee4dfb9f22a861492d20c4765150c0c794abd70f8147c", with_zeros);
}

}  // namespace
}  // namespace crypto

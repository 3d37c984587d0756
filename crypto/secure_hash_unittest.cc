#include "crypto/secure_hash.h"

#include <stdint.h>
#include <string.h>

#include <string>

#include <gtest/gtest.h>

#include "base/strings/string_number_conversions.h"

namespace crypto {
namespace {

const char kAbcDigest[] = "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD";

std::string FinishHex(SecureHash* hash) {
  uint8_t digest[32];
  hash->Finish(digest, sizeof(digest));
  return base::HexEncode(digest, sizeof(digest));
}

TEST(SecureHashTest, StreamedPiecesGiveTheWholeDigest) {
  std::unique_ptr<SecureHash> hash = SecureHash::Create(SecureHash::SHA256);
  ASSERT_TRUE(hash);
  EXPECT_EQ(32u, hash->GetHashLength());
  hash->Update("a", 1);
  hash->Update("", 0);
  hash->Update("bc", 2);
  EXPECT_EQ(kAbcDigest, FinishHex(hash.get()));
}

TEST(SecureHashTest, CloneContinuesIndependently) {
  std::unique_ptr<SecureHash> hash = SecureHash::Create(SecureHash::SHA256);
  hash->Update("ab", 2);
  std::unique_ptr<SecureHash> clone = hash->Clone();
  ASSERT_TRUE(clone);
  clone->Update("c", 1);
  hash->Update("x", 1);  // must not leak into the clone's state
  EXPECT_EQ(kAbcDigest, FinishHex(clone.get()));
  EXPECT_NE(kAbcDigest, FinishHex(hash.get()));
}

TEST(SecureHashTest, ShortOutputGetsTheDigestPrefixOnly) {
  std::unique_ptr<SecureHash> hash = SecureHash::Create(SecureHash::SHA256);
  hash->Update("abc", 3);
  uint8_t out[8];
  memset(out, 0xEE, sizeof(out));
  hash->Finish(out, 4);
  EXPECT_EQ("BA7816BF", base::HexEncode(out, 4));
  EXPECT_EQ("EEEEEEEE", base::HexEncode(out + 4, 4));  // nothing written past length
}

TEST(SecureHashTest, UnknownAlgorithmIsNull) {
  EXPECT_FALSE(SecureHash::Create(static_cast<SecureHash::Algorithm>(1)));
}

}  // namespace
}  // namespace crypto

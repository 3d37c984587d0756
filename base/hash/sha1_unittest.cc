#include "base/hash/sha1.h"

#include <stdio.h>

#include <string>

#include <gtest/gtest.h>

namespace base {
namespace {

std::string Sha1Hex(const std::string& message) {
  uint8_t digest[kSha1Length];
  Sha1Digest(reinterpret_cast<const uint8_t*>(message.data()), message.size(), digest);
  std::string text;
  char pair[3];
  for (uint8_t byte : digest) {
    snprintf(pair, sizeof(pair), "%02x", byte);
    text += pair;
  }
  return text;
}

TEST(Sha1Test, MatchesReferenceVectors) {
  const struct {
    std::string message;
    const char* digest;
  } cases[] = {
      // FIPS 180-1 examples.
      {"abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
      {std::string(1000000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
      {"", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
      // Lengths around the padding boundary.
      {std::string(55, 'a'), "c1c8bbdc22796e28c0e15163d20899b65621d65a"},
      {std::string(56, 'a'), "c2db330f6083854c99d4b5bfb6e8f29f201be699"},
      {std::string(63, 'a'), "03f09f5b158a7a8cdad920bddc29b81c18a551f5"},
      {std::string(64, 'a'), "0098ba824b5c16427bd7a1122a5a442a25ec644d"},
      {std::string(65, 'a'), "11655326c708d70319be2610e8a57d9a5b959d3b"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.digest, Sha1Hex(c.message)) << c.message.size();
}

}  // namespace
}  // namespace base

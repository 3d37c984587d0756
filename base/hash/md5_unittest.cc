#include "base/hash/md5.h"

#include <stdio.h>
#include <string.h>

#include <string>

#include <gtest/gtest.h>

namespace base {
namespace {

std::string ToHex(const uint8_t* bytes, size_t size) {
  std::string text;
  char pair[3];
  for (size_t i = 0; i < size; ++i) {
    snprintf(pair, sizeof(pair), "%02x", bytes[i]);
    text += pair;
  }
  return text;
}

// Feeds |message| in pieces of |chunk| bytes (0: one piece).
std::string Md5Hex(const std::string& message, size_t chunk) {
  Md5Context context;
  Md5Init(&context);
  if (chunk == 0) chunk = message.size() + 1;
  for (size_t at = 0; at < message.size(); at += chunk)
    Md5Update(&context, StringPiece(message).substr(at, chunk));
  Md5Digest digest;
  Md5Final(&digest, &context);
  return ToHex(digest.a, sizeof(digest.a));
}

struct Md5Case {
  std::string message;
  const char* digest;
};

TEST(Md5Test, MatchesReferenceVectorsWholeAndInPieces) {
  const Md5Case cases[] = {
      // The test suite of RFC 1321.
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"1234567890123456789012345678901234567890123456789012345678901234567890123456"
       "7890",
       "57edf4a22be3c955ac49da2e2107b67a"},
      // Lengths around the padding boundary: 56 bytes and more need an extra block.
      {std::string(55, 'a'), "ef1772b6dff9a122358552954ad0df65"},
      {std::string(56, 'a'), "3b0c8ac703f828b04c6c197006d17218"},
      {std::string(57, 'a'), "652b906d60af96844ebd21b674f35e93"},
      {std::string(63, 'a'), "b06521f39153d618550606be297466d5"},
      {std::string(64, 'a'), "014842d480b571495a4a0363793f7367"},
      {std::string(65, 'a'), "c743a45e0d2e6a95cb859adae0248435"},
      {std::string(120, 'a'), "5f61c0ccad4cac44c75ff505e1f1e537"},
  };
  for (const Md5Case& c : cases) {
    for (size_t chunk : {0, 1, 7, 63, 64}) {
      EXPECT_EQ(c.digest, Md5Hex(c.message, chunk))
          << "length " << c.message.size() << " in pieces of " << chunk;
    }
  }
}

TEST(Md5Test, FinalWipesTheContext) {
  Md5Context context;
  Md5Init(&context);
  Md5Update(&context, "secret");
  Md5Digest digest;
  Md5Final(&digest, &context);
  const Md5Context zero = {};
  EXPECT_EQ(0, memcmp(&zero, &context, sizeof(context)));
}

}  // namespace
}  // namespace base

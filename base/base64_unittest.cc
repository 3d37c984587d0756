#include "base/base64.h"

#include <gtest/gtest.h>

namespace base {
namespace {

TEST(Base64DecodeTest, AcceptsWellFormedInput) {
  const struct {
    const char* input;
    std::string decoded;
  } cases[] = {
      {"", ""},
      {"TWFu", "Man"},
      {"TWE=", "Ma"},
      {"TQ==", "M"},
      {"TWFuTWFu", "ManMan"},
      {"+/+/", "\xfb\xff\xbf"},
      {"AAAA", std::string(3, '\0')},
      // Low bits of the last character that carry no output are ignored.
      {"TR==", "M"},
  };
  for (const auto& c : cases) {
    std::string output = "stale";
    EXPECT_TRUE(Base64Decode(c.input, &output)) << c.input;
    EXPECT_EQ(c.decoded, output) << c.input;
  }
}

TEST(Base64DecodeTest, RejectsMalformedInputAndKeepsTheOutput) {
  const char* const cases[] = {
      "TWE",        // length 3
      "TQ===",      // length 5
      "T===",       // an "=" left in the data after dropping two
      "====",
      "TW=u",       // padding inside the data
      "TWFu\n",     // line break
      "TWFu\r\nTWFu",
      "TW u",       // whitespace
      "TWF-",       // URL-safe alphabet is not the standard one
      "TWF_",
      "TWFu====",
  };
  for (const char* input : cases) {
    std::string output = "kept";
    EXPECT_FALSE(Base64Decode(input, &output)) << input;
    EXPECT_EQ("kept", output) << input;
  }
}

}  // namespace
}  // namespace base

#include "desktop/windows/installer/service/tracking_data.h"

#include <string>

#include <gtest/gtest.h>

namespace installer {
namespace {

// Standard Base64 with padding, so that cases can be written as their decoded bytes.
std::string Encode(const std::string& bytes) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    unsigned group = static_cast<unsigned char>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) group |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    if (i + 2 < bytes.size()) group |= static_cast<unsigned char>(bytes[i + 2]);
    out += kAlphabet[(group >> 18) & 63];
    out += kAlphabet[(group >> 12) & 63];
    out += i + 1 < bytes.size() ? kAlphabet[(group >> 6) & 63] : '=';
    out += i + 2 < bytes.size() ? kAlphabet[group & 63] : '=';
  }
  return out;
}

const char kTracking[] = "{\"utm\": {\"defbr\": \"1\", \"fsce\": \"abc\"}}";

void ExpectTrackingDictionary(const base::Dictionary* dictionary) {
  ASSERT_TRUE(dictionary);
  std::string value;
  EXPECT_TRUE(dictionary->GetString("utm.defbr", &value));
  EXPECT_EQ("1", value);
  EXPECT_TRUE(dictionary->GetString("utm.fsce", &value));
  EXPECT_EQ("abc", value);
}

TEST(DecodeBase64JsonDictionaryTest, FindsTheDictionary) {
  const struct {
    const char* name;
    std::string text;
  } cases[] = {
      {"plain", Encode(kTracking)},
      {"trailing line breaks", Encode(kTracking) + "\r\n\n"},
      {"all six trailing whitespace bytes", Encode(kTracking) + "\t\n\v\f\r "},
      {"text around the dictionary", Encode(std::string("prefix ") + kTracking + " suffix")},
      {"binary bytes around it", Encode(std::string("\x01\xff", 2) + kTracking + "\n\x00")},
      {"byte-order mark before the brace is cut off",
       Encode(std::string("\xEF\xBB\xBF") + kTracking)},
      {"comment inside the braces", Encode("{/* c */\"utm\": {\"defbr\": \"1\", "
                                           "\"fsce\": \"abc\"}}")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ExpectTrackingDictionary(DecodeBase64JsonDictionary(c.text).get());
  }
}

TEST(DecodeBase64JsonDictionaryTest, RejectsWhatIsNotOneDictionary) {
  const struct {
    const char* name;
    std::string text;
  } cases[] = {
      {"empty text", ""},
      {"white space only", " \r\n\t"},
      {"leading white space", " " + Encode(kTracking)},
      {"line break inside the Base64 data", [] {
         std::string text = Encode(kTracking);
         return text.insert(8, "\n");
       }()},
      {"not Base64", "{\"utm\": 1}"},
      {"decodes to nothing", "===="},
      {"no opening brace", Encode("\"utm\": 1}")},
      {"no closing brace", Encode("{\"utm\": 1")},
      {"closing brace before the opening one", Encode("} x {")},
      {"two dictionaries: data after the root", Encode("{\"a\": 1} {\"b\": 2}")},
      {"broken JSON", Encode("{\"a\": }")},
      {"trailing comma", Encode("{\"a\": 1,}")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(DecodeBase64JsonDictionary(c.text));
  }
}

}  // namespace
}  // namespace installer

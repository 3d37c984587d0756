#include "base/json/json_reader.h"

#include <random>
#include <string>

#include <gtest/gtest.h>

#include "base/json/json_writer.h"
#include "base/test/guarded_buffer_test_util.h"
#include "base/values.h"

namespace base {
namespace {

const int kTrailing = JsonReader::JSON_ALLOW_TRAILING_COMMAS;
const int kReplace = JsonReader::JSON_REPLACE_INVALID_CHARACTERS;

// Parses `input` and writes the result compactly, or gives "error N at L:C".
std::string ReadAndDescribe(const std::string& input, int options) {
  int code = -1;
  std::string message;
  std::unique_ptr<Value> root = JsonReader::ReadAndReturnError(input, options, &code, &message);
  if (!root) return "error: " + message;
  EXPECT_EQ(0, code) << input;
  EXPECT_EQ("", message) << input;
  std::string json;
  EXPECT_TRUE(JsonWriter::Write(*root, &json));
  return json;
}

struct ReadCase {
  const char* name;
  std::string input;
  int options;
  std::string expected;  // compact JSON of the result, or "error: " and the message
};

TEST(JsonReaderTest, ReadsAndReportsErrors) {
  const std::string bom = "\xEF\xBB\xBF";
  const ReadCase cases[] = {
      // Errors with their positions.
      {"empty input", "", 0, "error: Line: 1, column: 1, Unexpected token."},
      {"white space only", " \r\n ", 0, "error: Line: 2, column: 3, Unexpected token."},
      {"comma in an empty list", "[,]", 0, "error: Line: 1, column: 2, Unexpected token."},
      {"trailing comma in a list", "[1,]", 0,
       "error: Line: 1, column: 4, Trailing comma not allowed."},
      {"trailing comma in a dictionary", "{\"a\":1,}", 0,
       "error: Line: 1, column: 8, Trailing comma not allowed."},
      {"dictionary of a comma", "{,}", kTrailing,
       "error: Line: 1, column: 2, Dictionary keys must be quoted."},
      {"unquoted key", "{a:1}", 0, "error: Line: 1, column: 2, Dictionary keys must be quoted."},
      {"missing colon", "{\"a\" 1}", 0, "error: Line: 1, column: 6, Syntax error."},
      {"missing comma in a dictionary (one column back)", "{\"a\":true \"b\":2}", 0,
       "error: Line: 1, column: 10, Syntax error."},
      {"leading zero", "01", 0, "error: Line: 1, column: 2, Syntax error."},
      {"number ending in a point", "1.", 0, "error: Line: 1, column: 3, Syntax error."},
      {"lone minus", "-", 0, "error: Line: 1, column: 2, Syntax error."},
      {"two numbers", "1 2", 0, "error: Line: 1, column: 3, Syntax error."},
      {"list then letter", "[]a", 0,
       "error: Line: 1, column: 3, Unexpected data after root element."},
      {"cut literal", "[tru", 0, "error: Line: 1, column: 2, Syntax error."},
      {"misspelt literal", "nan", 0, "error: Line: 1, column: 1, Syntax error."},
      {"unterminated string", "\"abc", 0, "error: Line: 1, column: 5, Syntax error."},
      {"bad escape letter", "\"\\q\"", 0, "error: Line: 1, column: 2, Invalid escape sequence."},
      {"short \\x escape", "\"\\x4\"", 0, "error: Line: 1, column: 2, Invalid escape sequence."},
      {"\\u with white space", "\"\\u 041\"", 0,
       "error: Line: 1, column: 2, Invalid escape sequence."},
      {"lone trail surrogate", "\"\\udc00\"", 0,
       "error: Line: 1, column: 2, Invalid escape sequence."},
      {"lead surrogate without trail", "\"\\ud800\\u0041\"", 0,
       "error: Line: 1, column: 2, Invalid escape sequence."},
      {"lead surrogate at the end", "\"a\\ud800\"", 0,
       "error: Line: 1, column: 3, Invalid escape sequence."},
      {"raw byte FF", "\"\xFF\"", 0,
       "error: Line: 1, column: 2, Unsupported encoding. JSON must be UTF-8."},
      {"encoded surrogate", "[\"\xED\xA0\x80\"]", 0,
       "error: Line: 1, column: 3, Unsupported encoding. JSON must be UTF-8."},
      {"error after a byte-order mark", bom + "x", 0,
       "error: Line: 1, column: 4, Unexpected token."},
      {"error on a later line", "[\n1,\n]", 0,
       "error: Line: 3, column: 2, Trailing comma not allowed."},
      {"CR LF counts once", "[\r\n1\r\n,]", 0,
       "error: Line: 3, column: 3, Trailing comma not allowed."},
      {"line breaks in comments are not counted", "/*\n\n*/ ]", 0,
       "error: Line: 1, column: 8, Unexpected token."},
      {"stray slash before white space", "/ 1", 0,
       "error: Line: 1, column: 2, Unexpected token."},
      {"comment made of slash star slash stays open", "/*/ 1", 0,
       "error: Line: 1, column: 6, Unexpected token."},
      // Numbers beyond the double range are syntax errors where they start.
      {"overflowing number", "1e400", 0, "error: Line: 1, column: 1, Syntax error."},
      {"overflowing negative number in a list", "[0, -1e400]", 0,
       "error: Line: 1, column: 5, Syntax error."},
      {"overflowing number on a later line", "[\n  1e999\n]", 0,
       "error: Line: 2, column: 4, Syntax error."},
      {"overflowing number of many digits", "[" + std::string(400, '9') + "]", 0,
       "error: Line: 1, column: 2, Syntax error."},

      // Values.
      {"byte-order mark", bom + "{\"a\":1}", 0, "{\"a\":1}"},
      {"trailing comma allowed in a list", "[1,]", kTrailing, "[1]"},
      {"trailing comma allowed in a dictionary", "{\"a\":1,}", kTrailing, "{\"a\":1}"},
      {"repeated key keeps the last value", "{\"a\":1,\"b\":0,\"a\":2}", 0, "{\"a\":2,\"b\":0}"},
      {"keys come out sorted", "{\"b\":1,\"B\":2,\"a\":3}", 0, "{\"B\":2,\"a\":3,\"b\":1}"},
      {"int32 maximum is an integer", "2147483647", 0, "2147483647"},
      {"one more is a double", "2147483648", 0, "2147483648.0"},
      {"int32 minimum is an integer", "-2147483648", 0, "-2147483648"},
      {"one less is a double", "-2147483649", 0, "-2147483649.0"},
      {"minus zero is the integer 0", "-0", 0, "0"},
      {"minus zero with a fraction is a double", "-0.0", 0, "-0.0"},
      {"fraction and exponent", "[1.5e3, 2E-2, 1e+2]", 0, "[1500.0,0.02,100.0]"},
      {"underflow reads as zero", "1e-400", 0, "0.0"},
      {"escapes", "\"\\\"\\\\\\/\\b\\f\\n\\r\\t\\v\"", 0, "\"\\\"\\\\/\\b\\f\\n\\r\\t\\u000B\""},
      {"\\x41", "\"\\x41\"", 0, "\"A\""},
      {"\\xE9 as UTF-8", "\"\\xE9\"", 0, "\"\xC3\xA9\""},
      {"\\u with 0x prefix and sign", "\"\\u0x41\\u+041\"", 0, "\"AA\""},
      {"surrogate pair", "\"\\ud83d\\ude00\"", 0, "\"\xF0\x9F\x98\x80\""},
      {"noncharacters, escaped and raw", "\"\\uFFFE\\uFDD0\\udbff\\udfff\xEF\xBF\xBF\"", 0,
       "\"\xEF\xBF\xBE\xEF\xB7\x90\xF4\x8F\xBF\xBF\xEF\xBF\xBF\""},
      {"escaped NUL is kept", "\"a\\u0000b\\x00\"", 0, "\"a\\u0000b\\u0000\""},
      {"raw control characters", "\"a\tb\x01\"", 0, "\"a\\tb\\u0001\""},
      {"raw FF replaced", "\"\xFF\"", kReplace, "\"\xEF\xBF\xBD\""},
      {"cut sequence replaced", "\"a\xC3\"", kReplace, "\"a\xEF\xBF\xBD\""},
      {"encoded surrogate replaced once", "\"\xED\xA0\x80z\"", kReplace, "\"\xEF\xBF\xBDz\""},
      {"comments", "// head\n[1, /* two\n */ 2 // tail\n]", 0, "[1,2]"},
      {"open block comment after the root", "[] /* never closed", 0, "[]"},
      {"stray slash before a value", "/1", 0, "1"},
      {"block comment closes after its opening", "/*/ 1 */ 2", 0, "2"},
  };
  for (const ReadCase& c : cases)
    EXPECT_EQ(c.expected, ReadAndDescribe(c.input, c.options)) << c.name;
}

TEST(JsonReaderTest, NestingLimit) {
  // Dictionaries and lists count alike.
  std::string mixed_199;
  for (int i = 0; i < 199; ++i) mixed_199 += i % 2 ? "{\"k\":" : "[";
  for (int i = 198; i >= 0; --i) mixed_199 += i % 2 ? "}" : "]";
  EXPECT_TRUE(JsonReader::Read(mixed_199));
  EXPECT_FALSE(JsonReader::Read("{\"k\":" + mixed_199 + "}"));
  std::string lists_199 = std::string(199, '[') + std::string(199, ']');
  EXPECT_TRUE(JsonReader::Read(lists_199));
  std::string lists_200 = std::string(200, '[') + std::string(200, ']');
  EXPECT_EQ("error: Line: 1, column: 200, Too much nesting.", ReadAndDescribe(lists_200, 0));
  // Depth counts open containers, not containers seen: many siblings are fine.
  std::string siblings = "[";
  for (int i = 0; i < 500; ++i) siblings += i ? ",[[]]" : "[[]]";
  siblings += "]";
  EXPECT_TRUE(JsonReader::Read(siblings));
}

TEST(JsonReaderTest, ErrorOutputs) {
  int code = -1;
  std::string message;
  EXPECT_FALSE(JsonReader::ReadAndReturnError("[1,]", 0, &code, &message));
  EXPECT_EQ(JsonReader::JSON_TRAILING_COMMA, code);
  EXPECT_EQ("Line: 1, column: 4, Trailing comma not allowed.", message);
  // Outputs are optional.
  EXPECT_FALSE(JsonReader::ReadAndReturnError("[1,]", 0, nullptr, nullptr));
  EXPECT_TRUE(JsonReader::ReadAndReturnError("[1]", 0, &code, nullptr));
  EXPECT_EQ(0, code);

  EXPECT_EQ("", JsonReader::ErrorCodeToString(0));
  EXPECT_EQ("", JsonReader::ErrorCodeToString(9));
}

// Mutations of valid documents: the reader must never crash or read past its input
// (which ends at an inaccessible page), and whatever it accepts must survive a write
// and a second read unchanged.
TEST(JsonReaderTest, RandomMutationsAreReadSafely) {
  const std::string seeds[] = {
      "{\"a\": [1, -2.5e3, true, false, null], \"b\": {\"c\": \"d\\u00e9\\n\"}}",
      "[\"\\ud83d\\ude00\", \"\\x41\", \"caf\xC3\xA9\", 0, -0, 1e-5, 2147483648] // end",
      "\xEF\xBB\xBF/* head */ {\"k\": [[[[{}]]]], \"z\": \"\\\"\\\\\\/\"}",
  };
  const char kInteresting[] = "{}[]\",:\\/*-+.0123456789eEtrufalsn \r\nx\x80\xC3\xED\xFF";
  GuardedBuffer guarded(4096);
  std::mt19937 random(4242);
  int accepted = 0;
  for (int round = 0; round < 3000; ++round) {
    std::string input = seeds[round % 3];
    int mutations = 1 + random() % 3;
    for (int m = 0; m < mutations && !input.empty(); ++m) {
      size_t at = random() % input.size();
      char byte = random() % 2 ? kInteresting[random() % (sizeof(kInteresting) - 1)]
                               : static_cast<char>(random());
      switch (random() % 5) {
        case 0:
          input[at] = byte;
          break;
        case 1:
          input.insert(at, 1, byte);
          break;
        case 2:
          input.erase(at, 1 + random() % 4);
          break;
        case 3:
          input.insert(at, input.substr(random() % input.size(), 1 + random() % 8));
          break;
        default:
          input.resize(at);
          break;
      }
    }
    const char* data = guarded.Assign(input.data(), input.size());
    for (int options : {0, kTrailing | kReplace}) {
      int code = 0;
      std::string message;
      std::unique_ptr<Value> root =
          JsonReader::ReadAndReturnError(StringPiece(data, input.size()), options, &code,
                                         &message);
      if (!root) {
        ASSERT_GE(code, 1) << input;
        ASSERT_LE(code, 8) << input;
        ASSERT_EQ(0u, message.find("Line: ")) << input;
        continue;
      }
      ++accepted;
      std::string json;
      ASSERT_TRUE(JsonWriter::Write(*root, &json));
      std::unique_ptr<Value> reread = JsonReader::Read(json);
      ASSERT_TRUE(reread) << input << " -> " << json;
      ASSERT_TRUE(reread->Equals(*root)) << input << " -> " << json;
    }
  }
  // The mutations must leave enough valid documents for the round trip to mean something.
  EXPECT_GT(accepted, 300);
}

}  // namespace
}  // namespace base

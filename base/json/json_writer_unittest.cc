#include "base/json/json_writer.h"

#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "base/json/json_reader.h"
#include "base/json/string_escape.h"
#include "base/strings/utf_string_conversion_utils.h"
#include "base/values.h"

namespace base {
namespace {

const int kOmitBinary = JsonWriter::OPTIONS_OMIT_BINARY_VALUES;
const int kOmitDoubleType = JsonWriter::OPTIONS_OMIT_DOUBLE_TYPE_PRESERVATION;
const int kPretty = JsonWriter::OPTIONS_PRETTY_PRINT;

std::string Write(const Value& value, int options, bool expected_result = true) {
  std::string json = "stale";
  EXPECT_EQ(expected_result, JsonWriter::WriteWithOptions(value, options, &json));
  return json;
}

TEST(JsonWriterTest, Scalars) {
  struct ScalarCase {
    Value value;
    int options;
    const char* expected;
  };
  const ScalarCase cases[] = {
      {Value(), 0, "null"},
      {Value(true), 0, "true"},
      {Value(false), 0, "false"},
      {Value(-2147483647 - 1), 0, "-2147483648"},
      {Value(2.0), 0, "2.0"},
      {Value(2.0), kOmitDoubleType, "2"},
      {Value(-0.0), 0, "-0.0"},
      {Value(-0.0), kOmitDoubleType, "0"},
      {Value(1e300), kOmitDoubleType, "1e+300"},
      {Value(-9223372036854775808.0), kOmitDoubleType, "-9223372036854775808"},
      {Value(9223372036854775808.0), kOmitDoubleType, "9223372036854776000.0"},
      {Value(1000000.0), 0, "1e+06"},
      {Value(100000.0), 0, "100000.0"},
      {Value(-0.25), 0, "-0.25"},
      {Value(1e21), 0, "1e+21"},
      {Value(1e-7), 0, "1e-07"},
      {Value(0.1), 0, "0.1"},
      {Value(std::numeric_limits<double>::max()), 0, "1.7976931348623157e+308"},
      {Value(std::string("a\0b", 3)), 0, "\"a\\u0000b\""},
  };
  for (const ScalarCase& c : cases) EXPECT_EQ(c.expected, Write(c.value, c.options)) << c.expected;
}

TEST(JsonWriterTest, StringEscaping) {
  struct EscapeCase {
    std::string input;
    const char* expected;
    bool valid;
  };
  const EscapeCase cases[] = {
      {"</script>", "\"\\u003C/script>\"", true},
      {"tab\there", "\"tab\\there\"", true},
      {"\x01\x1F\x7F", "\"\\u0001\\u001F\x7F\"", true},
      {"\b\f\n\r\"\\/", "\"\\b\\f\\n\\r\\\"\\\\/\"", true},
      {"\xE2\x80\xA8\xE2\x80\xA9", "\"\\u2028\\u2029\"", true},
      {"caf\xC3\xA9 \xF0\x9F\x98\x80", "\"caf\xC3\xA9 \xF0\x9F\x98\x80\"", true},
      {"a\xFF" "b", "\"a\xEF\xBF\xBD" "b\"", false},
      {"\xED\xA0\x80", "\"\xEF\xBF\xBD\"", false},  // encoded surrogate
      {"\xF4\x90\x80\x80", "\"\xEF\xBF\xBD\"", false},  // above U+10FFFF
      {"\xC3", "\"\xEF\xBF\xBD\"", false},  // cut short
  };
  for (const EscapeCase& c : cases) {
    std::string out = "prefix:";
    EXPECT_EQ(c.valid, EscapeJsonStringUtf8(c.input, &out)) << c.expected;
    EXPECT_EQ(std::string("prefix:") + c.expected, out);
    // The writer succeeds even where the escaping had to replace bytes.
    EXPECT_EQ(c.expected, Write(Value(c.input), 0));
  }
  std::string untouched;
  EXPECT_FALSE(EscapeSpecialCodePoint('a', &untouched));
  EXPECT_FALSE(EscapeSpecialCodePoint(0x01, &untouched));
  EXPECT_EQ("", untouched);
}

TEST(JsonWriterTest, BinaryValues) {
  Dictionary dictionary;
  dictionary.SetInteger("a", 1);
  dictionary.Set("b", std::make_unique<Value>(Value::BinaryBuffer{1, 2}));
  dictionary.SetInteger("c", 2);
  EXPECT_EQ("{\"a\":1,\"c\":2}", Write(dictionary, kOmitBinary));
  EXPECT_EQ("{\"a\":1,\"b\":,\"c\":2}", Write(dictionary, 0, false));

  Dictionary binary_first;
  binary_first.Set("a", std::make_unique<Value>(Value::BinaryBuffer{}));
  binary_first.SetInteger("b", 1);
  EXPECT_EQ("{\"b\":1}", Write(binary_first, kOmitBinary));

  List list;
  list.Append(std::make_unique<Value>(Value::BinaryBuffer{1}));
  list.AppendInteger(1);
  list.Append(std::make_unique<Value>(Value::BinaryBuffer{1}));
  EXPECT_EQ("[1]", Write(list, kOmitBinary));
  EXPECT_EQ("[,1,]", Write(list, 0, false));
  EXPECT_EQ("", Write(Value(Value::BinaryBuffer{1}), 0, false));
}

TEST(JsonWriterTest, PrettyPrint) {
  Dictionary example;
  example.SetInteger("a", 1);
  std::unique_ptr<List> list = MakeListValue();
  list->AppendInteger(1);
  list->AppendInteger(2);
  example.Set("b", std::move(list));
  EXPECT_EQ("{\r\n   \"a\": 1,\r\n   \"b\": [ 1, 2 ]\r\n}\r\n", Write(example, kPretty));

  EXPECT_EQ("{\r\n\r\n}\r\n", Write(Dictionary(), kPretty));
  EXPECT_EQ("[  ]\r\n", Write(List(), kPretty));
  EXPECT_EQ("1\r\n", Write(Value(1), kPretty));

  // Dictionaries indent by depth; list elements stay at the list's depth.
  Dictionary nested;
  std::unique_ptr<List> inner_list = MakeListValue();
  std::unique_ptr<Dictionary> inner = MakeDictionaryValue();
  inner->SetInteger("c", 1);
  inner_list->Append(std::move(inner));
  nested.Set("a.b", std::move(inner_list));
  EXPECT_EQ(
      "{\r\n   \"a\": {\r\n      \"b\": [ {\r\n         \"c\": 1\r\n      } ]\r\n   }\r\n}\r\n",
      Write(nested, kPretty));
}

// A document with every kind a reader produces, in compact and pretty form.
TEST(JsonWriterTest, RoundTripThroughTheReader) {
  const char kDocument[] =
      "{\"product\": {\"name\": \"Velum\", \"version\": [1, 0, 100, 0]},"
      " \"numbers\": [0, -0, -2147483648, 2147483647, 2147483648, 0.1, -1.5e-7,"
      "               1e21, 1.7976931348623157e308, 5e-324, 3.0],"
      " \"text\": \"tab\\t quote\\\" back\\\\ </tag> \\u2028 caf\xC3\xA9 \\ud83d\\ude00"
      " nul\\u0000 bell\\u0007 del\x7F\","
      " \"\xC3\xA9\": null, \"\": true, \"B\": false, \"a.b\": {},"
      " \"deep\": [[[{\"x\": [[], {}]}]]]}";
  std::unique_ptr<Value> original = JsonReader::Read(kDocument);
  ASSERT_TRUE(original);
  for (int options : {0, kPretty}) {
    std::string json;
    ASSERT_TRUE(JsonWriter::WriteWithOptions(*original, options, &json));
    std::unique_ptr<Value> reread = JsonReader::Read(json);
    ASSERT_TRUE(reread) << json;
    EXPECT_TRUE(reread->Equals(*original)) << json;
    std::string rewritten;
    ASSERT_TRUE(JsonWriter::WriteWithOptions(*reread, options, &rewritten));
    EXPECT_EQ(json, rewritten);
  }
}

// Every Unicode scalar value, noncharacters included, reads back as written: a stored
// preference or path holding any of them survives the next run.
TEST(JsonWriterTest, EveryCodePointRoundTrips) {
  const uint32_t kChunk = 0x1000;
  for (uint32_t first = 0; first <= 0x10FFFF; first += kChunk) {
    std::string text;
    for (uint32_t c = first; c < first + kChunk; ++c)
      if (IsValidCodepoint(static_cast<int32_t>(c))) WriteUnicodeCharacter(c, &text);
    if (text.empty()) continue;  // the surrogates
    std::string json;
    ASSERT_TRUE(JsonWriter::Write(Value(text), &json));
    std::unique_ptr<Value> reread = JsonReader::Read(json);
    ASSERT_TRUE(reread) << "from U+" << std::hex << first;
    std::string back;
    ASSERT_TRUE(reread->GetAsString(&back));
    ASSERT_EQ(text, back) << "from U+" << std::hex << first;
  }
}

}  // namespace
}  // namespace base

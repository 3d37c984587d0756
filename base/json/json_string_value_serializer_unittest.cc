#include "base/json/json_string_value_serializer.h"

#include <gtest/gtest.h>

#include "base/json/json_reader.h"
#include "base/values.h"

namespace base {
namespace {

TEST(JsonStringSerializerTest, WithoutOutputFails) {
  JsonStringSerializer serializer(nullptr);
  EXPECT_FALSE(serializer.Serialize(List()));
}

TEST(JsonStringSerializerTest, CompactAndPretty) {
  List list;
  list.AppendInteger(1);
  list.AppendString("a");
  std::string text = "old text";
  JsonStringSerializer serializer(&text);
  ASSERT_TRUE(serializer.Serialize(list));
  EXPECT_EQ("[1,\"a\"]", text);

  serializer.set_pretty_print(true);
  ASSERT_TRUE(serializer.Serialize(list));
  ASSERT_GE(text.size(), 2u);
  EXPECT_EQ("\r\n", text.substr(text.size() - 2));

  // Read back, the pretty text gives the same tree.
  std::unique_ptr<Value> again = JsonStringDeserializer(text, 0).Deserialize(nullptr, nullptr);
  ASSERT_TRUE(again);
  EXPECT_TRUE(list.Equals(*again));
}

TEST(JsonStringDeserializerTest, ErrorsAndOptions) {
  int code = -1;
  std::string message;
  EXPECT_FALSE(JsonStringDeserializer("[1,]", 0).Deserialize(&code, &message));
  EXPECT_EQ(JsonReader::JSON_TRAILING_COMMA, code);
  EXPECT_FALSE(message.empty());
  EXPECT_TRUE(JsonStringDeserializer("[1,]", JsonReader::JSON_ALLOW_TRAILING_COMMAS)
                  .Deserialize(&code, &message));
  EXPECT_EQ(0, code);
}

}  // namespace
}  // namespace base

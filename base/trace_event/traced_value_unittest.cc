#include "base/trace_event/traced_value.h"

#include <string>

#include <gtest/gtest.h>


namespace base {
namespace trace_event {
namespace {

std::string Json(const TracedValue& value) {
  std::string json;
  value.AppendAsTraceFormat(&json);
  return json;
}

TEST(TracedValueTest, EmptyValueIsAnEmptyObject) {
  TracedValue value;
  EXPECT_EQ("{}", Json(value));
}

TEST(TracedValueTest, NestedContainersAndDottedKeys) {
  TracedValue value;
  value.SetString("units", "bytes");
  value.SetInteger("a.b", 3);  // one key, not a path
  value.BeginArray("list");
  value.AppendInteger(2);
  value.AppendInteger(1);
  value.BeginArray();
  value.AppendBoolean(true);
  value.AppendString("s");
  value.EndArray();
  value.BeginDictionary();
  value.SetDouble("d", 0.5);
  value.EndDictionary();
  value.EndArray();
  std::string copied_key = "copied.key";
  value.BeginDictionaryWithCopiedName(copied_key);
  value.SetBooleanWithCopiedName(copied_key, false);
  value.EndDictionary();
  copied_key.assign(copied_key.size(), 'x');
  EXPECT_EQ(
      "{\"a.b\":3,\"copied.key\":{\"copied.key\":false},"
      "\"list\":[2,1,[true,\"s\"],{\"d\":0.5}],\"units\":\"bytes\"}",
      Json(value));
}

TEST(TracedValueTest, ContainersLeftOpenAreClosed) {
  TracedValue value;
  value.BeginDictionary("outer");
  value.BeginArray("inner");
  value.AppendInteger(1);
  value.EndDictionary();  // closes the array
  value.EndArray();       // closes "outer"
  value.EndArray();       // nothing left to close
  value.SetInteger("after", 2);
  value.BeginDictionary("open");
  EXPECT_EQ("{\"after\":2,\"open\":{},\"outer\":{\"inner\":[1]}}", Json(value));
}

}  // namespace
}  // namespace trace_event
}  // namespace base

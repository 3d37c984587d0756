#include "base/trace_event/heap_profiler_type_name_deduplicator.h"

#include <string>

#include <gtest/gtest.h>

#include "base/trace_event/trace_format_test_util.h"

namespace base {
namespace trace_event {
namespace {

TEST(TypeNameDeduplicatorTest, CategoriesOfTypeNames) {
  const struct {
    const char* type_name;
    const char* category;
  } kCases[] = {
      {"base/files/file_path.h", "base/files"},
      {"..\\..\\base\\values.cc", "base"},
      {"../../../desktop/windows/x.cc", "desktop/windows"},
      {"disabled-by-default-memory-infra,foo", "memory-infra"},
      {"toplevel,ipc", "toplevel"},
      {"plain", "plain"},
  };
  for (const auto& test : kCases)
    EXPECT_EQ(test.category, TypeNameDeduplicator::ExtractCategory(test.type_name).as_string());
}

TEST(TypeNameDeduplicatorTest, GoldenJson) {
  TypeNameDeduplicator empty;
  EXPECT_EQ("{\"0\":\"[unknown]\"}", TraceFormatOf(empty));

  // Entries are ordered by the address of their name: one array fixes the order.
  static const char kNames[3][40] = {"base/files/file_path.h", "disabled-by-default-memory-infra,x",
                                     "quote\"and\x01"};
  TypeNameDeduplicator types;
  EXPECT_EQ(1, types.Insert(kNames[0]));
  EXPECT_EQ(2, types.Insert(kNames[1]));
  EXPECT_EQ(1, types.Insert(kNames[0]));
  EXPECT_EQ(3, types.Insert(kNames[2]));
  EXPECT_EQ(0, types.Insert(nullptr));
  EXPECT_EQ(
      "{\"0\":\"[unknown]\",\"1\":\"base/files\",\"2\":\"memory-infra\","
      "\"3\":\"quote\\\"and\\u0001\"}",
      TraceFormatOf(types));
}

TEST(TypeNameDeduplicatorTest, OverheadIs48BytesAnEntryAnd24) {
  TypeNameDeduplicator types;
  EXPECT_EQ(48u + 24u, EstimatedOverheadBytes(&types, "TypeNameDeduplicator"));
  types.Insert("a");
  EXPECT_EQ(2u * 48 + 24, EstimatedOverheadBytes(&types, "TypeNameDeduplicator"));
}

}  // namespace
}  // namespace trace_event
}  // namespace base

#include "base/features/list_feature_reader.h"

#include <gtest/gtest.h>

#include "base/values.h"

namespace base {
namespace {

TEST(ParseFeatureListEntryTest, Shapes) {
  const struct {
    const char* text;
    bool parses;
    const char* name;
    bool enabled;
  } cases[] = {
      {"abc@1", true, "abc", true},
      {"abc @ 2", true, "abc", false},
      {"\tabc\r\n@2 ", true, "abc", false},
      {"abc@3", false, "", false},
      {"abc@0", false, "", false},
      {"abc@1@2", false, "", false},
      {"abc", false, "", false},
      {"abc@", false, "", false},
      {"abc@1x", false, "", false},
      {"abc@+1", true, "abc", true},  // the number rules of StringToInt
      {"abc@4294967297", false, "", false},  // does not fit 32 bits
      {"@1", true, "", true},
  };
  for (const auto& c : cases) {
    FeatureState state{"unchanged", false};
    EXPECT_EQ(c.parses, ParseFeatureListEntry(c.text, &state)) << c.text;
    if (c.parses) {
      EXPECT_EQ(c.name, state.name) << c.text;
      EXPECT_EQ(c.enabled, state.enabled) << c.text;
    } else {
      EXPECT_EQ("unchanged", state.name) << c.text;
    }
  }
}

TEST(ListFeatureReaderTest, SkipsWhatDoesNotParse) {
  List list;
  list.AppendString("abc@1");
  list.AppendInteger(1);
  list.AppendString("bad");
  list.AppendString("def @ 2");
  list.AppendBoolean(true);
  list.AppendString("abc@2");
  std::vector<FeatureState> results;
  ListFeatureReader(list).Read(&results);
  ASSERT_EQ(3u, results.size());
  EXPECT_EQ("abc", results[0].name);
  EXPECT_TRUE(results[0].enabled);
  EXPECT_EQ("def", results[1].name);
  EXPECT_FALSE(results[1].enabled);
  EXPECT_EQ("abc", results[2].name);
  EXPECT_FALSE(results[2].enabled);
}

}  // namespace
}  // namespace base

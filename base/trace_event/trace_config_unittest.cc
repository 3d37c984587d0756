#include "base/trace_event/trace_config.h"

#include <string>
#include <unordered_set>
#include <vector>

#include <gtest/gtest.h>

#include "base/values.h"

namespace base {
namespace trace_event {
namespace {

TEST(TraceConfigCategoryFilterTest, GroupMatching) {
  struct Case {
    std::vector<std::string> included;
    std::vector<std::string> disabled;
    std::vector<std::string> excluded;
    const char* group;
    bool enabled;
  };
  const Case cases[] = {
      {{}, {}, {}, "toplevel", true},
      {{"*"}, {}, {}, "toplevel", true},
      {{"*"}, {}, {}, "disabled-by-default-memory-infra", false},
      {{}, {"disabled-by-default-memory-infra"}, {}, "disabled-by-default-memory-infra", true},
      {{}, {"disabled-by-default-*"}, {}, "disabled-by-default-memory-infra", true},
      {{}, {}, {}, "disabled-by-default-memory-infra", false},
      {{}, {}, {}, "cat1,disabled-by-default-x", true},
      {{}, {}, {"cat1"}, "cat1,disabled-by-default-x", false},
      {{}, {}, {"cat1"}, "cat1,cat2", true},
      {{}, {}, {"cat*"}, "cat1,cat2", false},
      {{"base"}, {}, {}, "toplevel", false},
      {{"base"}, {}, {}, "toplevel,base", true},
      {{"top*"}, {}, {}, "toplevel", true},
      {{"toplevel"}, {}, {"toplevel"}, "toplevel", true},
      {{}, {}, {}, "", false},
  };
  for (const Case& c : cases) {
    TraceConfigCategoryFilter filter;
    filter.included_categories = c.included;
    filter.disabled_categories = c.disabled;
    filter.excluded_categories = c.excluded;
    EXPECT_EQ(c.enabled, filter.IsCategoryGroupEnabled(c.group)) << "\"" << c.group << "\"";
  }
}

TEST(TraceConfigTest, ClearAndCopy) {
  TraceConfig config;
  config.record_mode = 2;
  config.category_filter.included_categories = {"a"};
  config.memory_dump_config.allowed_dump_modes = {0, 2};
  config.memory_dump_config.breakdown_threshold_bytes = 4;
  EventFilterConfig filter("event_whitelist_predicate");
  std::unique_ptr<Dictionary> args = MakeDictionaryValue();
  std::unique_ptr<List> names = MakeListValue();
  names->AppendString("Run");
  names->AppendInteger(3);  // skipped
  names->AppendString("Post");
  args->SetWithoutPathExpansion("event_name_whitelist", std::move(names));
  filter.SetArgs(std::move(args));
  config.event_filters.push_back(filter);

  TraceConfig copy;
  copy = config;
  config.Clear();
  EXPECT_EQ(0u, config.record_mode);
  EXPECT_TRUE(config.category_filter.included_categories.empty());
  EXPECT_TRUE(config.memory_dump_config.allowed_dump_modes.empty());
  EXPECT_EQ(1024u, config.memory_dump_config.breakdown_threshold_bytes);
  EXPECT_TRUE(config.event_filters.empty());

  ASSERT_EQ(1u, copy.event_filters.size());
  std::unordered_set<std::string> set;
  EXPECT_TRUE(copy.event_filters[0].GetArgAsSet("event_name_whitelist", &set));
  EXPECT_EQ((std::unordered_set<std::string>{"Run", "Post"}), set);
  EXPECT_FALSE(copy.event_filters[0].GetArgAsSet("missing", &set));
  EXPECT_FALSE(EventFilterConfig("x").GetArgAsSet("event_name_whitelist", &set));
}

}  // namespace
}  // namespace trace_event
}  // namespace base

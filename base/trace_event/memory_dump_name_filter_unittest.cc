#include "base/trace_event/memory_dump_name_filter.h"

#include <gtest/gtest.h>

namespace base {
namespace trace_event {
namespace {

TEST(MemoryDumpNameFilterTest, AddressesMatchTheirPattern) {
  const char* const kPatterns[] = {"cache/pool_0x?/entries", "malloc", nullptr};
  const struct {
    const char* name;
    bool allowed;
  } kCases[] = {
      {"cache/pool_0x12ab/entries", true},
      {"cache/pool_0xABCDEF0123/entries", true},
      {"cache/pool_0x/entries", true},  // no digits: still the pattern form
      {"cache/pool_12ab/entries", false},
      {"cache/pool_0x12ab/entries/more", false},
      {"malloc", true},
      {"mallocs", false},
      {"", false},
  };
  for (const auto& test : kCases)
    EXPECT_EQ(test.allowed, MatchesMemoryDumpNamePattern(test.name, kPatterns)) << test.name;
  EXPECT_TRUE(IsMemoryDumpNameAllowedInBackground("winheap/allocated_objects"));
  EXPECT_FALSE(IsMemoryDumpNameAllowedInBackground("sqlite"));
}

}  // namespace
}  // namespace trace_event
}  // namespace base

#include "base/location.h"

#include <cstring>

#include <gtest/gtest.h>

namespace base {
namespace {

__attribute__((noinline)) Location PostingSite() { return FROM_HERE; }

TEST(Location, FromHereNamesTheWritingSite) {
  const int line = __LINE__ + 1;
  const Location here = FROM_HERE;
  EXPECT_STREQ("TestBody", here.function_name());
  EXPECT_STREQ(__FILE__, here.file_name());
  EXPECT_EQ(line, here.line());
}

TEST(Location, ProgramCounterPointsIntoThePostingFunction) {
  const Location site = PostingSite();
  EXPECT_STREQ("PostingSite", site.function_name());
  // Just after the call inside PostingSite's short body, not in GetCallerAddress itself.
  const char* pc = static_cast<const char*>(site.program_counter());
  const char* start = reinterpret_cast<const char*>(&PostingSite);
  EXPECT_GT(pc, start);
  EXPECT_LT(pc, start + 128);
}

}  // namespace
}  // namespace base

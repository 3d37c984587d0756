#include "base/verbose_log_config.h"

#include <gtest/gtest.h>

namespace base {
namespace {

TEST(MatchVerbosePattern, Table) {
  struct Case {
    const char* text;
    const char* pattern;
    bool match;
  } cases[] = {
      {"foo", "foo", true},
      {"foo", "f?o", true},
      {"foo", "fo", false},
      {"fo", "foo", false},
      {"", "", true},
      {"a", "", false},
      {"", "*", true},
      {"", "?", false},
      {"x", "**", true},
      {"abc", "*c", true},
      {"abc", "*b", false},
      {"abcbd", "a*b*d", true},
      {"abcbe", "a*b*d", false},
      {"dir\\file.cc", "dir/*", true},   // a slash in the pattern matches a backslash
      {"dir/file.cc", "dir\\*", true},   // and the other way round
      {"dir/file.cc", "dir?file.cc", true},
      {"dirx/file.cc", "dir/*", false},
      {"C:\\src\\base\\file.cc", "*/base/*", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.match, MatchVerbosePattern(c.text, c.pattern))
        << "text \"" << c.text << "\" pattern \"" << c.pattern << "\"";
  }
}

template <size_t N>
int LevelFor(const VerboseLogConfig& config, const char (&file)[N]) {
  return config.GetVerboseLevel(file, N);
}

TEST(VerboseLogConfig, ModuleAndPathPatternsFirstMatchWins) {
  int min_level = 0;
  VerboseLogConfig config("", "foo=2,*/base/*=3", &min_level);
  EXPECT_EQ(2, LevelFor(config, "C:\\src\\other\\foo.cc"));
  EXPECT_EQ(2, LevelFor(config, "foo.h"));
  EXPECT_EQ(2, LevelFor(config, "other/foo-inl.h"));  // "-inl" files count as the module
  EXPECT_EQ(2, LevelFor(config, "other/foo"));        // no extension at all
  EXPECT_EQ(3, LevelFor(config, "C:\\src\\base\\bar.cc"));
  EXPECT_EQ(2, LevelFor(config, "C:\\src\\base\\foo.cc"));  // both match: list order
  EXPECT_EQ(0, LevelFor(config, "C:\\src\\other\\foobar.cc"));
  EXPECT_EQ(0, LevelFor(config, "C:\\src\\other\\foo.bar.cc"));  // module "foo.bar"
}

TEST(VerboseLogConfig, VSwitchSetsTheMinimumLevelOfUnmatchedFiles) {
  struct Case {
    const char* v;
    int min_level_after;
  } cases[] = {{"2", -2}, {"", 0}, {"two", 0}, {"-1", 1}};
  for (const Case& c : cases) {
    int min_level = 0;
    VerboseLogConfig config(c.v, "", &min_level);
    EXPECT_EQ(c.min_level_after, min_level) << "v=" << c.v;
    EXPECT_EQ(-c.min_level_after, LevelFor(config, "any.cc")) << "v=" << c.v;
  }
  // Later changes of the minimum level are followed; module levels stay.
  int min_level = 0;
  VerboseLogConfig config("1", "foo=4", &min_level);
  min_level = -3;
  EXPECT_EQ(3, LevelFor(config, "bar.cc"));
  EXPECT_EQ(4, LevelFor(config, "foo.cc"));
}

}  // namespace
}  // namespace base

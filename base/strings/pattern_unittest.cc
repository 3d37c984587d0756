#include "base/strings/pattern.h"

#include <string>

#include <gtest/gtest.h>

namespace base {
namespace {

TEST(PatternTest, MatchPattern) {
  struct Case {
    const char* text;
    const char* pattern;
    bool match;
  } cases[] = {
      {"abc", "a?c", true},
      {"abc", "a*", true},
      {"abc", "*", true},
      {"abc", "ab?c", true},  // "?" may match nothing
      {"abc", "abc?", true},
      {"abc", "a??c", true},
      {"abcd", "a?d", false},
      {"abc", "b*", false},
      {"abc", "*c", true},
      {"abc", "*b", false},
      {"", "*?*", true},
      {"", "a", false},
      {"abc", "", false},
      {"a*c", "a\\*c", true},
      {"abc", "a\\*c", false},
      {"a?", "a\\?", true},
      {"ab", "a\\?", false},
      {"a\\", "a\\", true},
      {"toplevel", "disabled-by-default-*", false},
      {"disabled-by-default-memory-infra", "disabled-by-default-*", true},
      // Non-ASCII: "?" takes a whole code point.
      {"\xC3\xA9t\xC3\xA9", "?t?", true},
      {"\xE4\xB8\xAD" "x", "?x", true},
      {"\xF0\x9F\x98\x80", "?", true},
      {"\xE4\xB8\xAD", "\xE4\xB8\xAD", true},
      {"\xE4\xB8\xAD", "\xE4\xB8\xAE", false},
      {"a\xE4\xB8\xAD" "b", "a*b", true},
      // Ill-formed UTF-8 never matches literally.
      {"\xFF", "\xFF", false},
      {"\xC3", "\xC3", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.match, MatchPattern(c.text, c.pattern)) << c.text << " ~ " << c.pattern;
  }
}

TEST(PatternTest, DeepPatternsGiveUp) {
  // Each "?" opens one nesting level: 16 are searched, a 17th is not.
  EXPECT_TRUE(MatchPattern("ab", std::string(16, '?') + "b"));
  EXPECT_FALSE(MatchPattern("ab", std::string(17, '?') + "b"));
  EXPECT_TRUE(MatchPattern("aaaab", "*a*b"));
}

}  // namespace
}  // namespace base

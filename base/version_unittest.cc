#include "base/version.h"

#include <gtest/gtest.h>

namespace base {
namespace {

TEST(VersionTest, ParsesOnlyWellFormedText) {
  const struct {
    const char* text;
    std::vector<uint32_t> components;  // empty: invalid
  } cases[] = {
      {"1.2.3", {1, 2, 3}},
      {"1.0.100.0", {1, 0, 100, 0}},
      {"4294967295", {4294967295u}},
      {"0.5", {0, 5}},
      {"1.05", {1, 5}},  // leading zeros count only in the first component
      {"4294967296", {}},
      {"00.5", {}},
      {"01.2", {}},
      {"", {}},
      {"1.", {}},
      {".1", {}},
      {"1.2a", {}},
      {"-1", {}},
      {"+1", {}},
      {"1.+2", {}},
      {" 1", {}},
      {"1 ", {}},
      {"1. 2", {}},
  };
  for (const auto& c : cases) {
    const Version version(c.text);
    EXPECT_EQ(!c.components.empty(), version.IsValid()) << '"' << c.text << '"';
    EXPECT_EQ(c.components, version.components()) << '"' << c.text << '"';
  }
}

TEST(VersionTest, ParseKeepsTheComponentsBeforeAFailure) {
  std::vector<uint32_t> components;
  EXPECT_FALSE(Version::Parse("3.4.x.5", &components));
  EXPECT_EQ((std::vector<uint32_t>{3, 4}), components);
}

TEST(VersionTest, ComparesComponentsIgnoringTrailingZeros) {
  const struct {
    const char* left;
    const char* right;
    int result;
  } cases[] = {
      {"1.2.3", "1.2.3", 0},   {"2", "1.99.99", 1},   {"1.0", "1", 0},
      {"1.0.1", "1", 1},       {"1.2", "1.2.0.0", 0},
      {"1.05", "1.5", 0},      {"1.10", "1.9", 1},    {"4294967295", "4294967294.9", 1},
      {"0.0.0.1", "0", 1},     {"1.2.3", "1.3", -1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.result, Version(c.left).CompareTo(Version(c.right)))
        << c.left << " vs " << c.right;
    EXPECT_EQ(-c.result, Version(c.right).CompareTo(Version(c.left)))
        << c.right << " vs " << c.left;
  }
}

}  // namespace
}  // namespace base

#include "base/features/command_line_feature_reader.h"

#include <gtest/gtest.h>

#include "base/command_line.h"
#include "base/features/feature_states.h"

namespace base {
namespace {

TEST(CommandLineFeatureReaderTest, SwitchValues) {
  CommandLine command(CommandLine::NO_PROGRAM);
  command.ParseFromString(
      L"setup.exe --with-feature:bare --with-feature:on-value=on --WITH-FEATURE:Off-Value=off "
      L"--with-feature:upper=On --with-feature:wide=\x00e9 --other=off --with-feature=on");
  std::vector<FeatureState> results;
  CommandLineFeatureReader(command).Read(&results);

  // Switch names are lower-cased by the command line; the map keeps them sorted.
  const struct {
    const char* name;
    bool enabled;
  } expected[] = {
      {"bare", true},
      {"off-value", false},
      {"on-value", true},
      {"wide", true},  // not ASCII: read as no value
  };
  ASSERT_EQ(sizeof(expected) / sizeof(expected[0]), results.size());
  for (size_t i = 0; i < results.size(); ++i) {
    EXPECT_EQ(expected[i].name, results[i].name) << i;
    EXPECT_EQ(expected[i].enabled, results[i].enabled) << i;
  }
}

TEST(CommandLineFeatureReaderTest, UnhandledValueKeepsDefault) {
  CommandLine command(CommandLine::NO_PROGRAM);
  command.ParseFromString(L"setup.exe --with-feature:abc=On");
  FeatureStates states;
  states.Declare("abc", true, true);
  CommandLineFeatureReader reader(command);
  states.ApplyReader(&reader);
  EXPECT_TRUE(states.GetStates().empty());
  EXPECT_TRUE(states.IsEnabled("abc"));
}

TEST(CommandLineFeatureReaderTest, WarningText) {
  EXPECT_EQ(
      "with-feature:abc has unhandled value: \"On\" did you mean \"on\" or \"off\"? "
      "Using default setting.",
      UnhandledFeatureValueMessage("with-feature:abc", "On"));
}

}  // namespace
}  // namespace base

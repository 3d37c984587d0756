#include "base/features/feature_registry.h"

#include <gtest/gtest.h>

#include "base/command_line.h"
#include "base/features/command_line_feature_reader.h"

namespace base {
namespace {

// The one test of the process-wide table: it fills it as the installer does at start-up.
TEST(FeatureRegistryTest, SwitchesCarryStatesToAnotherProcess) {
  FeatureRegistry* registry = FeatureRegistry::GetInstance();
  EXPECT_EQ(registry, FeatureRegistry::GetInstance());
  FeatureStates* states = registry->GetFeatureStates();
  states->Declare("alpha", false, true);
  states->Declare("beta", true, true);

  CommandLine first(CommandLine::NO_PROGRAM);
  first.ParseFromString(L"a.exe --with-feature:alpha --with-feature:beta=off");
  CommandLineFeatureReader first_reader(first);
  states->ApplyReader(&first_reader);
  CommandLine second(CommandLine::NO_PROGRAM);
  second.ParseFromString(L"a.exe --with-feature:alpha=off");
  CommandLineFeatureReader second_reader(second);
  states->ApplyReader(&second_reader);
  EXPECT_FALSE(IsFeatureEnabled("alpha"));
  EXPECT_FALSE(IsFeatureEnabled("beta"));

  CommandLine backend(FilePath(L"backend.exe"));
  AppendFeatureSwitches(&backend);
  // Both results for alpha are passed on, the later one last, so it wins there too.
  EXPECT_EQ(
      L"backend.exe --with-feature:alpha=on --with-feature:beta=off --with-feature:alpha=off",
      backend.GetCommandLineString());
  FeatureStates child;
  child.Declare("alpha", false, true);
  child.Declare("beta", true, true);
  CommandLineFeatureReader child_reader(backend);
  child.ApplyReader(&child_reader);
  EXPECT_FALSE(child.IsEnabled("alpha"));
  EXPECT_FALSE(child.IsEnabled("beta"));
  EXPECT_EQ("with-feature:alpha", GetFeatureSwitchName("alpha"));
}

}  // namespace
}  // namespace base

#include "desktop/windows/installer/settings/feature_flags.h"

#include "base/channel_info.h"
#include "base/command_line.h"
#include "base/features/command_line_feature_reader.h"
#include "base/features/feature_states.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

TEST(FeatureFlagsTest, MasksPerProductAndChannel) {
  const struct {
    const char* product;
    int32_t channel;
    uint32_t default_bits;
    uint32_t overridable_bits;
  } cases[] = {
      {"VLM", 2, 6, 6}, {"QRN", 3, 8, 8},
      // Unknown products and channels, and names that differ in case, get nothing.
      {"XYZ", 4, 0, 0}, {"vlm", 4, 0, 0}, {"VLM", 5, 0, 0}, {"", 4, 0, 0},
  };
  for (const auto& c : cases) {
    const FeatureMasks masks = GetFeatureMasksFor(c.product, c.channel);
    EXPECT_EQ(c.default_bits, masks.default_bits) << c.product << c.channel;
    EXPECT_EQ(c.overridable_bits, masks.overridable_bits) << c.product << c.channel;
  }
  // The test configuration is the main product on the stable channel.
  EXPECT_EQ(4u, GetFeatureMasks().default_bits);
  EXPECT_EQ(4u, GetFeatureMasks().overridable_bits);
}

TEST(FeatureFlagsTest, InstallerFeaturesOfTheShippedBuild) {
  const struct {
    const char* name;
    bool on;
    bool overridable;
  } expected[] = {
      {"installer-experiment-test", false, true},
      {"installer-hide-from-program-and-features", false, false},
      {"installer-pref-default-overrides-support", true, true},
      {"installer-support-x64-download", true, true},
  };
  size_t count = 0;
  const FeatureFlag* flags = GetInstallerFeatureFlags(&count);
  ASSERT_EQ(4u, count);
  for (size_t i = 0; i < count; ++i) {
    EXPECT_STREQ(expected[i].name, flags[i].name);
    EXPECT_EQ(expected[i].on, IsFeatureFlagEnabledByDefault(flags[i])) << flags[i].name;
    EXPECT_EQ(expected[i].overridable, IsFeatureFlagOverridable(flags[i])) << flags[i].name;
  }
  // Hidden from the uninstall list only in the second product.
  const FeatureFlag& hide = flags[1];
  EXPECT_NE(0u, hide.default_mask & GetFeatureMasksFor("QRN", 4).default_bits);
  for (int32_t channel = base::kChannelNightly; channel <= base::kChannelStable; ++channel)
    EXPECT_EQ(0u, hide.default_mask & GetFeatureMasksFor("VLM", channel).default_bits);
}

// Switches reach only the overridable features.
TEST(FeatureFlagsTest, RegisteredFlagsAndSwitchOverrides) {
  base::CommandLine command_line(base::FilePath(L"installer.exe"));
  command_line.AppendSwitchASCII("with-feature:installer-experiment-test", "on");
  command_line.AppendSwitchASCII("with-feature:installer-hide-from-program-and-features", "on");
  command_line.AppendSwitchASCII("with-feature:installer-support-x64-download", "off");
  base::FeatureStates states;
  RegisterInstallerFlags(&states);
  base::CommandLineFeatureReader reader(command_line);
  states.ApplyReader(&reader);
  EXPECT_TRUE(states.IsEnabled("installer-experiment-test"));
  EXPECT_FALSE(states.IsEnabled("installer-hide-from-program-and-features"));
  EXPECT_TRUE(states.IsEnabled("installer-pref-default-overrides-support"));
  EXPECT_FALSE(states.IsEnabled("installer-support-x64-download"));
}

TEST(FeatureFlagsTest, BrowserRowsByExactName) {
  const FeatureFlag* adblocker = FindFeatureFlag("adblocker");
  ASSERT_TRUE(adblocker);
  EXPECT_STREQ("adblocker", adblocker->name);
  EXPECT_TRUE(IsFeatureFlagEnabledByDefault(*adblocker));
  EXPECT_FALSE(IsFeatureFlagOverridable(*adblocker));
  // On only in the second product, never overridable.
  const FeatureFlag* kestrel = FindFeatureFlag("kestrel-ui");
  ASSERT_TRUE(kestrel);
  EXPECT_FALSE(IsFeatureFlagEnabledByDefault(*kestrel));
  EXPECT_FALSE(IsFeatureFlagOverridable(*kestrel));
  EXPECT_TRUE(FindFeatureFlag("improved-adblocking-popup"));  // the last row
  EXPECT_FALSE(FindFeatureFlag("AdBlocker"));
  EXPECT_FALSE(FindFeatureFlag(""));
}

}  // namespace
}  // namespace installer

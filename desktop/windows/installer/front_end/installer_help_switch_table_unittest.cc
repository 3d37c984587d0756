#include "desktop/windows/installer/front_end/installer_help_switch_table.h"

#include <cstring>
#include <string>

#include <gtest/gtest.h>

namespace installer {
namespace {

// The help prints the texts through printf with the product name as the only argument.
bool IsFormatWithAtMostOneProductName(const char* text) {
  int conversions = 0;
  for (const char* p = std::strchr(text, '%'); p; p = std::strchr(p + 2, '%')) {
    if (p[1] != 's') return false;
    ++conversions;
  }
  return conversions <= 1;
}

TEST(InstallerHelpSwitchTableTest, SixteenSwitchesWithTheirPlaceholders) {
  const struct {
    const char* name;
    const char* placeholder;
  } expected[] = {
      {"silent", nullptr},          {"runimmediately", nullptr},
      {"language", "LANGUAGE"},     {"installfolder", "FOLDER"},
      {"allusers", "[0|1]"},        {"copyonly", "[0|1]"},
      {"singleprofile", "[0|1]"},   {"setdefaultbrowser", "[0|1]"},
      {"desktopshortcut", "[0|1]"}, {"startmenushortcut", "[0|1]"},
      {"quicklaunchshortcut", "[0|1]"}, {"pintotaskbar", "[0|1]"},
      {"import-browser-data", "[0|1]"}, {"enable-stats", "[0|1]"},
      {"enable-installer-stats", "[0|1]"}, {"launchbrowser", "[0|1]"},
  };
  ASSERT_EQ(16u, InstallerHelpSwitchTable.size());
  for (size_t i = 0; i < InstallerHelpSwitchTable.size(); ++i) {
    const InstallerHelpSwitch& row = InstallerHelpSwitchTable[i];
    SCOPED_TRACE(row.name);
    EXPECT_STREQ(expected[i].name, row.name);
    EXPECT_STREQ(expected[i].placeholder, row.placeholder);
    // Every switch with a value but the folder names its default.
    EXPECT_EQ(row.placeholder && i != 3, row.default_value != nullptr);
    ASSERT_TRUE(row.description);
    EXPECT_TRUE(IsFormatWithAtMostOneProductName(row.description));
    if (row.default_value) {
      EXPECT_TRUE(IsFormatWithAtMostOneProductName(row.default_value));
    }
  }
}

}  // namespace
}  // namespace installer

#include "desktop/windows/installer/installer_help_switch_table.h"

#include <cstring>
#include <string>
#include <vector>

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

TEST(InstallerHelpSwitchTableTest, SixteenDocumentedSwitchesInHelpOrder) {
  const std::vector<std::string> names = {
      "silent",          "runimmediately",    "language",           "installfolder",
      "allusers",        "copyonly",          "singleprofile",      "setdefaultbrowser",
      "desktopshortcut", "startmenushortcut", "quicklaunchshortcut", "pintotaskbar",
      "import-browser-data", "enable-stats",  "enable-installer-stats", "launchbrowser"};
  ASSERT_EQ(16u, InstallerHelpSwitchTable.size());
  for (size_t i = 0; i < names.size(); ++i)
    EXPECT_EQ(names[i], InstallerHelpSwitchTable[i].name) << i;
}

TEST(InstallerHelpSwitchTableTest, PlaceholdersAndDefaults) {
  for (size_t i = 0; i < InstallerHelpSwitchTable.size(); ++i) {
    const InstallerHelpSwitch& row = InstallerHelpSwitchTable[i];
    SCOPED_TRACE(row.name);
    const std::string placeholder = row.placeholder ? row.placeholder : "(none)";
    if (i < 2) {
      EXPECT_EQ("(none)", placeholder);
      EXPECT_EQ(nullptr, row.default_value);
    } else if (i == 2) {
      EXPECT_EQ("LANGUAGE", placeholder);
    } else if (i == 3) {
      EXPECT_EQ("FOLDER", placeholder);
      EXPECT_EQ(nullptr, row.default_value);
    } else {
      EXPECT_EQ("[0|1]", placeholder);  // every boolean switch
      ASSERT_TRUE(row.default_value);
    }
    ASSERT_TRUE(row.description);
    EXPECT_TRUE(IsFormatWithAtMostOneProductName(row.description));
    if (row.default_value) {
      EXPECT_TRUE(IsFormatWithAtMostOneProductName(row.default_value));
    }
  }
  EXPECT_STREQ("True for %s Stable.", InstallerHelpSwitchTable[7].default_value);
}

}  // namespace
}  // namespace installer

#include "desktop/windows/installer/front_end/installer_help.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "base/strings/string_util.h"
#include "desktop/windows/installer/front_end/installer_help_switch_table.h"

namespace installer {
namespace {

std::string HelpText(const std::vector<std::wstring>& languages) {
  FILE* file = std::tmpfile();
  EXPECT_TRUE(file);
  if (!file) return std::string();
  PrintHelpTo(file, languages);
  std::rewind(file);
  std::string text;
  char buffer[4096];
  size_t read = 0;
  while ((read = std::fread(buffer, 1, sizeof(buffer), file)) > 0) text.append(buffer, read);
  std::fclose(file);
  return text;
}

TEST(InstallerHelpTest, EveryRowInTableOrderWithPlaceholdersAndDefaults) {
  const std::string text = HelpText({L"en", L"nb", L"zh-CN"});
  EXPECT_EQ(0u, text.find("Velum Installer 1.0.100.0 Stable\n\n"
                          "The following command line parameters affect the behavior of the "
                          "installer:\n  silent\n    Run the installer fully unattended."))
      << text;
  // Each row after the one before it.
  size_t position = 0;
  for (const InstallerHelpSwitch& row : InstallerHelpSwitchTable) {
    const std::string head = std::string("\n  ") + row.name +
                             (row.placeholder ? std::string("=") + row.placeholder : "") + "\n    ";
    const size_t found = text.find(head, position);
    ASSERT_NE(std::string::npos, found) << row.name;
    position = found + head.size();
  }
  // The product name goes into descriptions and defaults; misspellings stay.
  for (const char* expected :
       {"  language=LANGUAGE\n    Install Velum in the specified language.This language will "
        "also be used during installation.\n    Default value: The Operating system UI "
        "language.\n",
        "  allusers=[0|1]\n    If true, install Velum for all users on the system.\n    Default "
        "value: True when running from an administrative acount.\n",
        "  setdefaultbrowser=[0|1]\n    If true, make Velum the default browser for this user or "
        "computer.\n    Default value: True for Velum Stable.\n",
        "  installfolder=FOLDER\n    Install Velum in the specified folder.\n  allusers",
        "\nLanguages available for the language option:\nen, nb, zh-CN\n",
        "\nFeatures available through command-line switches:\n"
        "\t--with-feature:installer-experiment-test [Enabled by default: "}) {
    EXPECT_NE(std::string::npos, text.find(expected)) << expected;
  }
  // The four installer features, in order, one line each.
  size_t features = text.find("\nFeatures available");
  ASSERT_NE(std::string::npos, features);
  position = features;
  for (const char* name :
       {"installer-experiment-test", "installer-hide-from-program-and-features",
        "installer-pref-default-overrides-support", "installer-support-x64-download"}) {
    const size_t found =
        text.find(std::string("\t--with-feature:") + name + " [Enabled by default: ", position);
    ASSERT_NE(std::string::npos, found) << name;
    position = found + 1;
  }
  EXPECT_TRUE(base::EndsWith(text, "]\n", base::CompareCase::SENSITIVE));
}

TEST(InstallerHelpTest, NoLanguagesGiveAnEmptyLine) {
  EXPECT_NE(std::string::npos,
            HelpText({}).find("Languages available for the language option:\n\n"));
}

}  // namespace
}  // namespace installer

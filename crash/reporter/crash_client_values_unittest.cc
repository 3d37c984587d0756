#include "crash/reporter/crash_client_values.h"

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "base/environment.h"
#include "crash/reporter/crash_reporter_test_util.h"

namespace crash_reporter {
namespace {

TEST(CrashClientValuesTest, BuildIdIsEightStampCharactersAndSixDigits) {
  EXPECT_EQ("20261207000305", FormatBuildIdKey("20261207_113405", 305));
  EXPECT_EQ("20261200654321", FormatBuildIdKey("202612", 987654321));
  EXPECT_EQ("00000000000000", FormatBuildIdKey("", 0));
  EXPECT_EQ(14u, GetBuildIdKey().size());
}

TEST(CrashClientValuesTest, ReleaseChannelNamesNightlyAndRelease) {
  EXPECT_EQ("nightly", FormatReleaseChannelKey(2, "Nightly"));
  EXPECT_EQ("release", FormatReleaseChannelKey(4, "Stable"));
  EXPECT_EQ("Beta", FormatReleaseChannelKey(3, "Beta"));
  EXPECT_EQ("release", GetReleaseChannelKey());  // the build's stream is 4
}

TEST(CrashClientValuesTest, SymbolsPackageFollowsTheProgramName) {
  EXPECT_EQ("tests-syms", GetSymbolsPackageName(base::FilePath(L"C:\\b\\x_browsertests.exe")));
  EXPECT_EQ("tests-syms", GetSymbolsPackageName(base::FilePath(L"x_browsertests")));
  EXPECT_EQ("browser-syms",
            GetSymbolsPackageName(base::FilePath(L"C:\\b\\x_BrowserTests.exe")));
  EXPECT_EQ("browser-syms", GetSymbolsPackageName(base::FilePath(L"velum_installer.exe")));
}

TEST(CrashClientValuesTest, EnvironmentValues) {
  struct Case {
    const char* value;  // null: unset
    bool default_value;
    bool expected;
  };
  const Case cases[] = {{nullptr, true, true}, {nullptr, false, false}, {"1", false, true},
                        {"yes", false, true},  {"TRUE", false, true},   {"Yes", false, true},
                        {"0", true, false},    {"2", true, false},      {"", true, true},
                        {"", false, false}};
  for (const Case& c : cases) {
    ScopedEnvironmentVariable keep_logs("VELUM_CRASH_KEEP_LOGS", c.value);
    EXPECT_EQ(c.expected, GetKeepLogs(c.default_value)) << (c.value ? c.value : "unset");
  }
  ScopedEnvironmentVariable email("VELUM_CRASH_EMAIL", "qa@example.com");
  ScopedEnvironmentVariable origin("VELUM_CRASH_ORIGIN", "lab");
  ScopedEnvironmentVariable harbor("VELUM_CRASH_REPORTER_HARBOR_TEST", nullptr);
  EXPECT_EQ("qa@example.com", GetCrashEmail());
  EXPECT_EQ("lab", GetCrashOrigin());
  EXPECT_EQ("", GetHarborTestValue());
}

TEST(CrashClientValuesTest, ExceptionPolicyIsEmptyWhereTheSystemLacksIt) {
  DWORD flags = 0;
  const std::string key = GetExceptionPolicyKey();
  if (GetProcessExceptionPolicy(&flags)) {
    EXPECT_EQ(6u, key.size());
    EXPECT_EQ("0x", key.substr(0, 2));
  } else {
    EXPECT_EQ("", key);  // Wine exports neither policy function
    EXPECT_FALSE(SetProcessExceptionPolicy(0));
  }
  EXPECT_EQ("0", GetIsWow64Key());  // a 64-bit process
}

TEST(CrashClientValuesTest, ProcessPaths) {
  EXPECT_EQ(L"crash_reporter_unittests.exe", GetOwnProgramPath().BaseName().value());
  // Under the test runner the parent may be a host process or none that can be opened.
  const base::FilePath parent = GetParentProcessImagePath();
  EXPECT_TRUE(parent.empty() || parent.IsAbsolute()) << parent.value();
}

}  // namespace
}  // namespace crash_reporter

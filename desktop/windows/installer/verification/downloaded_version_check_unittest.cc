#include "desktop/windows/installer/verification/downloaded_version_check.h"

#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "base/test/test_helper_process.h"
#include "desktop/windows/installer/statistics/stats_node_test_util.h"

namespace installer {
namespace {

base::FilePath Stub() {
  return base::FilePath(base::TestExeSibling(L"package_stub_test_helper.exe"));
}

class DownloadedVersionCheckTest : public ::testing::Test {
 protected:
  ~DownloadedVersionCheckTest() override {
    SetEnvironmentVariableA("VELUM_STUB_INTERNAL_VERSION", nullptr);
    SetEnvironmentVariableA("VELUM_STUB_STREAM", nullptr);
    SetEnvironmentVariableA("VELUM_STUB_HANG", nullptr);
  }
  testing::TestStatsRecord record_;
};

TEST_F(DownloadedVersionCheckTest, NoOlderThanTheInstallerAndOfItsStream) {
  struct Case {
    const char* version;
    const char* stream;
    bool check_stream;
    bool passes;
  } cases[] = {
      {"1234.4", "Stable", true, false},  {"1234.5", "Stable", true, true},
      {"1234.5.1", "Stable", true, true}, {"1235", "Stable", true, true},
      {"1234.5", "beta", true, false},    {"1234.5", "beta", false, true},
      {"1234.5", "stable", true, false},  {"not a version", "Stable", true, false},
      {"", "Stable", true, false},
  };
  const std::string stream = "Stable";
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.version) + " " + c.stream);
    SetEnvironmentVariableA("VELUM_STUB_INTERNAL_VERSION", c.version);
    SetEnvironmentVariableA("VELUM_STUB_STREAM", c.stream);
    EXPECT_EQ(c.passes, CheckDownloadedVersion(Stub(), "1234.5", c.check_stream ? &stream : nullptr,
                                               &record_.root, base::TimeDelta::FromSeconds(120)));
    std::string recorded;
    EXPECT_TRUE(record_.tree.GetString("internal_version", &recorded));
    EXPECT_EQ(c.version, recorded);
  }
}

TEST_F(DownloadedVersionCheckTest, ProgramThatDoesNotAnswerIsEnded) {
  SetEnvironmentVariableA("VELUM_STUB_INTERNAL_VERSION", "1234.5");
  SetEnvironmentVariableA("VELUM_STUB_HANG", "1");
  EXPECT_FALSE(CheckDownloadedVersion(Stub(), "1234.5", nullptr, &record_.root,
                                      base::TimeDelta::FromMilliseconds(500)));
  EXPECT_FALSE(CheckDownloadedVersion(base::FilePath(L"C:\\no such folder\\x.exe"), "1.0", nullptr,
                                      &record_.root, base::TimeDelta::FromSeconds(5)));
}

// The elevated floor passes only a program that answers a version at least the
// installer's: one that cannot run or answers nothing is refused, saying so.
TEST_F(DownloadedVersionCheckTest, TheFloorPassesOnlyAnAnsweredRecentVersion) {
  const struct {
    const wchar_t* program;  // null: the stub
    const char* version;
    const char* reason;      // null: passes
  } cases[] = {
      {nullptr, "1234.5", nullptr},
      {nullptr, "1234.4", "its version (1234.4) is not at least this installer's 1234.5"},
      {nullptr, "", "its version (no answer) is not at least this installer's 1234.5"},
      {L"C:\\no such folder\\x.exe", "1234.5",
       "its version (no answer) is not at least this installer's 1234.5"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.version);
    SetEnvironmentVariableA("VELUM_STUB_INTERNAL_VERSION", c.version);
    const base::Result<> floor =
        CheckVersionFloor(c.program ? base::FilePath(c.program) : Stub(), "1234.5");
    EXPECT_EQ(c.reason == nullptr, floor.ok());
    if (c.reason && !floor.ok()) {
      EXPECT_EQ(c.reason, floor.failure().text);
    }
  }
}

}  // namespace
}  // namespace installer

#include "crash/reporter/installer_crash_client_config.h"

#include <gtest/gtest.h>

#include "crash/reporter/crash_reporter_test_util.h"

namespace crash_reporter {
namespace {

TEST(InstallerCrashClientConfigTest, DeclaresEveryKeyAndAllowsOnlyTheInstallersOwn) {
  size_t count = 0;
  const CrashKey* keys = GetInstallerCrashKeys(&count);
  size_t slots = 0;
  for (size_t i = 0; i < count; ++i) slots += GetCrashKeyChunkCount(keys[i].max_length, 63);
  EXPECT_EQ(slots, GetCrashClientConfig()->RegisterCrashKeys());
  ASSERT_NE(nullptr, LookupCrashKey("swdh_get_registration_cannot_document_url"));
  InitCrashKeys(nullptr, 0, 0);

  const std::set<std::string> allowed = GetAllowedCrashKeyNames();
  for (const char* name : {"URL-1", "URL-16", "ab_tests-4", "harbor_test-16", "BuildID",
                           "Origin", "subresource_url-16", "plugin_api_path-4"})
    EXPECT_EQ(1u, allowed.count(name)) << name;
  for (const char* name : {"URL", "URL-17", "harbor_test", "num-experiments", "variations-1",
                           "pid", "unspecified-crash-key"})
    EXPECT_EQ(0u, allowed.count(name)) << name;
}

TEST(InstallerCrashClientConfigTest, ProductAnswers) {
  CrashClientConfig* config = GetCrashClientConfig();
  EXPECT_EQ(config, GetCrashClientConfig());
  std::wstring product = L"x", version, special = L"x", channel;
  config->GetProductNameAndVersion(base::FilePath(L"a.exe"), &product, &version, &special,
                                   &channel);
  EXPECT_EQ(L"", special);
  EXPECT_EQ(L"Stable", channel);
  EXPECT_FALSE(version.empty());
  EXPECT_FALSE(config->IsRunningUnattended());
  EXPECT_TRUE(config->IsBrowserProcessType(L"browser"));
  EXPECT_FALSE(config->IsBrowserProcessType(L"installer"));

  base::FilePath path;
  {
    ScopedEnvironmentVariable dir("VELUM_CRASH_LOG_DIR", "C:\\crash dumps");
    ASSERT_TRUE(config->GetCrashDumpLocation(&path));
    EXPECT_EQ(L"C:\\crash dumps", path.value());
  }
  {
    // No path provider of the program knows the dump folder or the statistics file.
    ScopedEnvironmentVariable dir("VELUM_CRASH_LOG_DIR", nullptr);
    EXPECT_FALSE(config->GetCrashDumpLocation(&path));
    EXPECT_FALSE(config->GetCrashMetricsLocation(&path));
  }
}

}  // namespace
}  // namespace crash_reporter

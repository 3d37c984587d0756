#include "desktop/common/autoupdate/updatechecker/product_config.h"

#include <windows.h>

#include <memory>
#include <string>

#include "base/files/scratch_dir_test_util.h"
#include "base/json/json_reader.h"
#include "base/process/launch.h"
#include "base/test/test_helper_process.h"
#include "base/values.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

// The test EXE carries the test configuration as its own "TXT" 133 resource.
TEST(ProductConfigTest, StringGettersReadTheResource) {
  const struct {
    std::string actual;
    const char* expected;
  } cases[] = {
      {GetCompanyName(), "Velum Software"},
      {GetDefaultProfilePathTemplate(), "Velum Software/Velum {InternalStream}"},
      {GetFileNameBase(), "velum"},
      {GetProductName(), "Velum"},
      {GetBuildProductName(), "Velum"},
      {GetUserAgentName(), "VLM"},
      {GetVisibleProductName(), "Velum"},
      {GetProductUrl("autoupdate"), "https://localhost:8080/autoupdate/"},
      {GetProductUrl("uninstall_survey"), "http://localhost:8080/uninstall/survey/"},
      {GetProductUrl("no_such_url"), ""},
      // A member that is an object, not a string.
      {GetProductUrl(""), ""},
  };
  for (const auto& c : cases) EXPECT_EQ(c.expected, c.actual);
}

TEST(ProductConfigTest, VersionTexts) {
  EXPECT_EQ("1.0.100.0", GetProductVersion());
  EXPECT_EQ(GetProductVersion(), GetBuildVersion());
  EXPECT_EQ(120, GetBaseVersion());
  EXPECT_EQ(5, GetScheduledAutoupdateDelayMin());
  const std::string stamp = GetBuildTimestamp();
  ASSERT_EQ(15u, stamp.size());
  EXPECT_EQ('_', stamp[8]);
}

TEST(ProductConfigTest, VersionRules) {
  const struct {
    const char* json;
    const char* version;
  } cases[] = {
      {R"({"major_delta": 2, "use_engine_major_for_minor": true})", "3.120.100.0"},
      {R"({"major_delta": 2, "use_engine_major_for_minor": false})", "3.0.100.0"},
      {R"({})", "1.0.100.0"},
      // Wrong types count as missing.
      {R"({"major_delta": "2", "use_engine_major_for_minor": 1})", "1.0.100.0"},
  };
  for (const auto& c : cases) {
    std::unique_ptr<base::Dictionary> config =
        base::Dictionary::From(base::JsonReader::Read(c.json));
    ASSERT_TRUE(config) << c.json;
    EXPECT_EQ(c.version, GetProductVersionFor(*config)) << c.json;
  }
}

// A host without the resource finds it in "_harborlib.pyd" beside it, and a host with
// neither gets empty values instead of failing.
TEST(ProductConfigTest, FallbackModule) {
  base::ScratchDir scratch;
  ASSERT_FALSE(scratch.path().empty());
  const std::wstring helper = scratch.path().value() + L"\\config_host.exe";
  ASSERT_TRUE(CopyFileW(base::TestExeSibling(L"product_config_test_helper.exe").c_str(),
                        helper.c_str(), FALSE));
  std::string output;
  ASSERT_TRUE(base::RunAndCaptureOutput(L"\"" + helper + L"\"", &output));
  EXPECT_EQ("|", output);

  ASSERT_TRUE(CopyFileW(base::TestExeSibling(L"product_config_test_dll.dll").c_str(),
                        (scratch.path().value() + L"\\_harborlib.pyd").c_str(), FALSE));
  output.clear();
  ASSERT_TRUE(base::RunAndCaptureOutput(L"\"" + helper + L"\"", &output));
  EXPECT_EQ("Velum|Velum Software", output);
}

}  // namespace
}  // namespace installer

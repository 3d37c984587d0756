#include "desktop/windows/installer/steps/write_installer_prefs_step.h"

#include <memory>
#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/features/feature_registry.h"
#include "base/files/file_util.h"
#include "base/files/scratch_dir_test_util.h"
#include "base/message_loop/message_loop.h"
#include "base/values.h"
#include "desktop/windows/installer/settings/feature_flags.h"
#include "desktop/windows/installer/steps/installation_test_util.h"
#include "desktop/windows/installer/service/transactions/file_operation_test_util.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using testing::MakeFile;
using testing::ReadText;

class WriteInstallerPrefsStepTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(scratch_.path().empty());
    RegisterInstallerFlags(base::FeatureRegistry::GetInstance()->GetFeatureStates());
    if (!base::CommandLine::ForCurrentProcess()) base::CommandLine::Init();
    saved_command_line_ = *base::CommandLine::ForCurrentProcess();
    context_.package_folder = scratch_.path().Append(L"package");
    context_.install_folder = scratch_.path().Append(L"Velum");
    ASSERT_TRUE(base::CreateDirectory(context_.package_folder));
    ASSERT_TRUE(base::CreateDirectory(context_.install_folder));
  }
  void TearDown() override { *base::CommandLine::ForCurrentProcess() = saved_command_line_; }

  // Runs the step for a request with `switches` and returns the file.
  std::string Write(const std::vector<std::wstring>& switches, bool autoupdate = false) {
    testing::TestSettings settings(context_.install_folder, switches, false, autoupdate);
    context_.settings = settings.get();
    EXPECT_EQ(StepResult::STATUS_OK, WriteInstallerPrefsStep(&context_).Run(0).status);
    context_.settings = nullptr;
    return ReadText(Prefs());
  }

  base::FilePath Prefs() { return context_.install_folder.Append(L"installer_prefs.json"); }

  // The experiment lists of a run that changed no feature.
  std::string Experiments() {
    base::List changed, all;
    GetInstallerExperiments(&changed, &all);
    EXPECT_TRUE(changed.empty());
    EXPECT_EQ(4u, all.size());
    std::string text;
    for (size_t i = 0; i < all.size(); ++i) {
      const base::Value* entry = nullptr;
      EXPECT_TRUE(all.Get(i, &entry));
      text += (i ? ",\"" : "\"") + entry->string_value() + "\"";
    }
    return "\"all-installer-experiments\":[" + text + "]";
  }

  base::MessageLoop loop_;
  base::ScratchDir scratch_;
  base::CommandLine saved_command_line_{base::CommandLine::NO_PROGRAM};
  testing::FakeInstallationContext context_;
};

TEST_F(WriteInstallerPrefsStepTest, WritesTheChoicesOfTheRequest) {
  EXPECT_EQ("{" + Experiments() +
                ",\"autoupdate\":false,\"enable_stats\":true,\"import_browser_data\":true,"
                "\"installer-experiments\":[],\"single_profile\":false}",
            Write({}));
  base::CommandLine::ForCurrentProcess()->AppendSwitchNative("temp-folder", L"C:\\t\\x");
  EXPECT_EQ("{" + Experiments() +
                ",\"autoupdate\":false,\"enable_stats\":false,\"import_browser_data\":true,"
                "\"installer-experiments\":[],\"installer_id\":\"abc\",\"language\":\"nb\","
                "\"profile_path\":\"C:\\\\p\",\"single_profile\":false,"
                "\"temp_folder\":\"C:\\\\t\\\\x\"}",
            Write({L"--language=nb", L"--profile-folder=C:\\p", L"--niuid=abc",
                   L"--enable-stats=0"}));
}

TEST_F(WriteInstallerPrefsStepTest, TakesOnlyAStringWelcomePage) {
  struct Case {
    const char* include;
    bool written;
  };
  const Case cases[] = {
      {"{\"welcome-url\":\"https://velum.example/welcome\"}", true},
      {"{\"welcome-url\":7}", false},
      {"not json", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.include);
    EXPECT_TRUE(base::DeleteFile(Prefs(), false));
    ASSERT_TRUE(MakeFile(context_.package_folder.Append(L"installer_prefs_include.json"),
                         c.include));
    std::string prefs = Write({});
    EXPECT_EQ(c.written,
              prefs.find("\"welcome-url\":\"https://velum.example/welcome\"") != std::string::npos);
    EXPECT_EQ(c.written, prefs.find("welcome-url") != std::string::npos);
  }
}

TEST_F(WriteInstallerPrefsStepTest, AutoupdateKeepsTheEarlierInteractiveChoices) {
  ASSERT_TRUE(MakeFile(Prefs(),
                       "{\"au_task_error_count\":2,\"enable_stats\":false,"
                       "\"import_browser_data\":false,\"language\":\"de\"}"));
  EXPECT_EQ("{" + Experiments() +
                ",\"au_task_error_count\":2,\"autoupdate\":true,\"enable_stats\":false,"
                "\"import_browser_data\":false,\"installer-experiments\":[],\"language\":\"de\","
                "\"single_profile\":false}",
            Write({}, true));
}

TEST_F(WriteInstallerPrefsStepTest, AFailedInstallationKeepsTheEarlierFile) {
  const std::string earlier = "{\"language\":\"de\"}";
  ASSERT_TRUE(MakeFile(Prefs(), earlier));
  EXPECT_NE(earlier, Write({}));
  context_.transaction.Rollback();
  EXPECT_EQ(earlier, ReadText(Prefs()));
  EXPECT_FALSE(base::PathExists(Prefs().AddExtension(L"new")));
}

}  // namespace
}  // namespace installer

#include "desktop/windows/installer/steps/installer_step_list.h"

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/files/scratch_dir_test_util.h"
#include "desktop/windows/installer/steps/installation_test_util.h"
#include "desktop/windows/installer/settings/settings.h"

namespace installer {
namespace {

// Each kind of each operation makes its steps: the file kinds one per listed file (none
// for an empty list), every other kind one.
TEST(InstallerStepListTest, EveryKindOfEveryOperationMakesItsSteps) {
  base::ScratchDir scratch;
  testing::FakeInstallationContext context;
  context.install_folder = scratch.path();
  const std::vector<std::string> files = {"velum.exe", "velum.dll", "resources\\a.pak"};
  const std::vector<std::string> root_files = {"launcher.exe"};
  const std::vector<std::string> none;
  std::wstring uninstall_key;
  StepSources sources;
  sources.context = &context;
  sources.uninstall_key = &uninstall_key;
  for (bool listed : {true, false}) {
    sources.files = listed ? &files : &none;
    sources.root_files = listed ? &root_files : &none;
    for (int32_t operation :
         {Settings::OPERATION_INSTALL, Settings::OPERATION_UPGRADE, Settings::OPERATION_UNINSTALL,
          Settings::OPERATION_REGISTER_PROTOCOL_HANDLER}) {
      for (InstallerStepKind kind : GetInstallerStepKinds(operation)) {
        std::vector<std::unique_ptr<InstallerStep>> steps;
        AppendInstallerSteps(kind, sources, &steps);
        size_t expected = 1;
        if (kind == InstallerStepKind::kInstalledFiles) expected = sources.files->size();
        if (kind == InstallerStepKind::kRootFiles) expected = sources.root_files->size();
        EXPECT_EQ(expected, steps.size())
            << "operation " << operation << ", kind " << static_cast<int>(kind);
        for (const std::unique_ptr<InstallerStep>& step : steps) EXPECT_TRUE(step);
      }
    }
  }
  EXPECT_TRUE(GetInstallerStepKinds(Settings::OPERATION_INVALID).empty());
}

}  // namespace
}  // namespace installer

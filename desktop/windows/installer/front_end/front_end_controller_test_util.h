// The fixture of tests that run a front-end controller in this process: an install folder
// in a scratch folder, an unpacked copy of test_pkg whose "installer.exe" is the backend
// helper as the running program's folder, a private HKEY_CURRENT_USER, a scratch
// temporary folder, and a local update server that receives the statistics.
//
//   class MyControllerTest : public testing::FrontEndControllerTest {
//    protected:
//     MyControllerTest() : FrontEndControllerTest(base::MessageLoop::TYPE_UI) {}
//     void SetUp() override { ASSERT_NO_FATAL_FAILURE(SetUpFrontEnd(&system_)); }
//     MyController::System system_;
//   };
#ifndef DESKTOP_WINDOWS_INSTALLER_FRONT_END_FRONT_END_CONTROLLER_TEST_UTIL_H_
#define DESKTOP_WINDOWS_INSTALLER_FRONT_END_FRONT_END_CONTROLLER_TEST_UTIL_H_

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "base/files/file_path.h"
#include "base/files/scratch_dir_test_util.h"
#include "base/message_loop/message_loop.h"
#include "base/values.h"
#include "desktop/windows/installer/front_end/front_end_system.h"
#include "desktop/windows/installer/steps/installation_test_util.h"
#include "testing/update_server/update_server_test_util.h"

namespace installer {
namespace testing {

class FrontEndControllerTest : public ::testing::Test {
 protected:
  explicit FrontEndControllerTest(base::MessageLoop::Type loop_type);
  ~FrontEndControllerTest() override;

  // Readies the scratch places, the package copy and the server, and points `system` at
  // the package copy on a machine that needs no elevation and can run the browser.
  void SetUpFrontEnd(FrontEndSystem* system);

  // Where a controller's statistics record is to be sent.
  std::wstring StatsServerUrl() const;
  // The one record posted to the server, or null when none or several were.
  [[nodiscard]] std::unique_ptr<base::Dictionary> PostedRecord();

  base::MessageLoop loop_;
  base::ScratchDir scratch_;
  base::ScratchDir temp_;
  base::ScratchDir package_scratch_;
  base::FilePath install_folder_;
  PrivateUserHive user_hive_;
  UpdateServer server_;
  ScopedEnvironmentVariable hive_variable_{L"VELUM_TEST_USER_HIVE", user_hive_.path()};
  ScopedEnvironmentVariable tmp_{L"TMP", temp_.path().value()};
  ScopedEnvironmentVariable temp_variable_{L"TEMP", temp_.path().value()};
};

}  // namespace testing
}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_FRONT_END_FRONT_END_CONTROLLER_TEST_UTIL_H_

#include "desktop/windows/installer/steps/wmi_process_launch.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "base/files/file_path.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/test_package_test_util.h"

namespace installer {
namespace {

class WmiProcessLaunchTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))); }
  void TearDown() override { CoUninitialize(); }
};

TEST_F(WmiProcessLaunchTest, StartsARealProcessAndReturnsItsId) {
  const base::FilePath program = testing::GetTestPackageFolder(L"test_pkg").Append(L"launcher.exe");
  const base::Result<uint32_t> pid = LaunchProcessViaWmi(L"\"" + program.value() + L"\" --sleep");
  ASSERT_TRUE(pid.ok()) << pid.failure().text;
  ASSERT_NE(0u, pid.value());
  base::ScopedHandle process(OpenProcess(
      PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid.value()));
  ASSERT_TRUE(process.IsValid());
  wchar_t image[MAX_PATH] = {};
  DWORD size = MAX_PATH;
  ASSERT_TRUE(QueryFullProcessImageNameW(process.Get(), 0, image, &size));
  EXPECT_EQ(0, base::FilePath::CompareIgnoreCase(program.value(), image));
  ASSERT_TRUE(TerminateProcess(process.Get(), 0));
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.Get(), INFINITE));
}

TEST_F(WmiProcessLaunchTest, AProgramThatCannotStartSaysWhy) {
  const base::Result<uint32_t> pid = LaunchProcessViaWmi(L"\"C:\\no\\such\\program.exe\"");
  ASSERT_FALSE(pid.ok());
  // Win32_Process.Create's own code for a path that was not found.
  EXPECT_EQ("Win32_Process.Create returned 9", pid.failure().text);
}

}  // namespace
}  // namespace installer

#include "desktop/windows/installer/ui/installer_ui_lock.h"

#include <windows.h>

#include <string>
#include <thread>
#include <utility>

#include "base/files/file_util.h"
#include "base/files/scratch_dir_test_util.h"
#include "desktop/windows/installer/steps/installation_test_util.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

// The lock as two installer UI threads see it.
TEST(InstallerUILockTest, OneOwnerAtATime) {
  base::ScratchDir temp;
  ASSERT_FALSE(temp.path().empty());
  testing::ScopedEnvironmentVariable tmp(L"TMP", temp.path().value());
  testing::ScopedEnvironmentVariable temp_variable(L"TEMP", temp.path().value());
  ASSERT_TRUE(tmp.set() && temp_variable.set());
  const std::wstring product = L"VelumLockTest";
  auto acquire_on_other_thread = [&product]() {
    DWORD owner = 0;
    DWORD self = 0;
    std::thread other([&]() {
      InstallerUILock lock;
      owner = lock.Acquire(product);
      self = GetCurrentThreadId();
    });
    other.join();
    return std::make_pair(owner, self);
  };
  InstallerUILock lock;
  EXPECT_EQ(GetCurrentThreadId(), lock.Acquire(product));
  EXPECT_TRUE(base::PathExists(temp.path().Append(L"velum_installer_ui.lck")));
  EXPECT_EQ(GetCurrentThreadId(), acquire_on_other_thread().first);
  lock.Release();
  EXPECT_FALSE(base::PathExists(temp.path().Append(L"velum_installer_ui.lck")));
  std::pair<DWORD, DWORD> other = acquire_on_other_thread();
  EXPECT_EQ(other.second, other.first);
  // The other thread's lock went with it.
  EXPECT_EQ(GetCurrentThreadId(), lock.Acquire(product));
}

}  // namespace
}  // namespace installer

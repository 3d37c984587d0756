#include "desktop/windows/installer/ui/installer_ui_lock.h"

#include <windows.h>

#include <string>
#include <thread>
#include <utility>

#include <sddl.h>

#include "base/files/file_util.h"
#include "base/files/scratch_dir_test_util.h"
#include "base/win/scoped_generic.h"
#include "desktop/common/names/kernel_object_names.h"
#include "desktop/windows/installer/private_kernel_object.h"
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

// The mutex's name is known to every process of the session: one that made it first, or one
// that holds it, makes no installer start wait; each start goes on as if alone.
TEST(InstallerUILockTest, AMutexSomeoneElseMadeOrHoldsStopsNoStart) {
  base::ScratchDir temp;
  ASSERT_FALSE(temp.path().empty());
  testing::ScopedEnvironmentVariable tmp(L"TMP", temp.path().value());
  testing::ScopedEnvironmentVariable temp_variable(L"TEMP", temp.path().value());
  ASSERT_TRUE(tmp.set() && temp_variable.set());
  const base::FilePath lock_file = temp.path().Append(L"velum_installer_ui.lck");
  auto mutex_name = [](const std::wstring& product) {
    return kernel_objects::kUiLockMutexPrefix + product + kernel_objects::kUiLockMutexSuffix;
  };

  // Made first by a process that let everyone own it.
  const std::wstring planted = L"VelumLockTestPlanted" + std::to_wstring(GetCurrentProcessId());
  PSECURITY_DESCRIPTOR raw = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
      L"O:WDD:(A;;GA;;;WD)", SDDL_REVISION_1, &raw, nullptr));
  const base::ScopedLocalAlloc<> descriptor(raw);
  SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor.Get(), FALSE};
  base::ScopedHandle theirs(CreateMutexW(&attributes, FALSE, mutex_name(planted).c_str()));
  ASSERT_TRUE(theirs.IsValid());
  InstallerUILock refused;
  EXPECT_EQ(0u, refused.Acquire(planted));
  EXPECT_FALSE(base::PathExists(lock_file));

  // Held, and never let go, by another thread.
  const std::wstring held = L"VelumLockTestHeld" + std::to_wstring(GetCurrentProcessId());
  base::ScopedHandle taken(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  base::ScopedHandle done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  ASSERT_TRUE(taken.IsValid() && done.IsValid());
  std::thread holder([&]() {
    base::ScopedHandle mutex;
    if (CreateOrJoinPrivateMutex(mutex_name(held), false, &mutex))
      WaitForSingleObject(mutex.Get(), INFINITE);
    SetEvent(taken.Get());
    WaitForSingleObject(done.Get(), INFINITE);
  });
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(taken.Get(), INFINITE));
  InstallerUILock waited(base::TimeDelta::FromMilliseconds(50));
  EXPECT_EQ(0u, waited.Acquire(held));
  EXPECT_FALSE(base::PathExists(lock_file));
  SetEvent(done.Get());
  holder.join();
  // Once its holder has gone, the lock is there to take.
  EXPECT_EQ(GetCurrentThreadId(), waited.Acquire(held));
}

}  // namespace
}  // namespace installer

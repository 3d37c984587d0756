#include "base/process/process_util.h"

#include <string>

#include <gtest/gtest.h>

#include "base/test/test_helper_process.h"
#include "base/win/scoped_handle.h"

namespace base {
namespace {

const wchar_t kHelper[] = L"process_util_test_helper.exe";

TEST(GetParentProcessIdTest, ChildReportsUsAsItsParent) {
  EXPECT_EQ(0, RunTestHelper(kHelper, std::to_wstring(GetCurrentProcessId())));
  EXPECT_EQ(1, RunTestHelper(kHelper, std::to_wstring(GetCurrentProcessId() + 4)));
  EXPECT_EQ(0u, GetParentProcessId(nullptr));
  EXPECT_EQ(0u, GetParentProcessId(reinterpret_cast<HANDLE>(0x7FFF1230)));
}

TEST(GetParentProcessIdTest, ParentOfAChildUntilItIsGone) {
  ScopedHandle process, thread;
  ASSERT_TRUE(StartTestHelper(kHelper, L"0", CREATE_SUSPENDED, &process, &thread));
  EXPECT_EQ(GetCurrentProcessId(), GetParentProcessId(process.Get()));
  ResumeThread(thread.Get());
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.Get(), INFINITE));
  // Our handle keeps the process object, but the system no longer lists it.
  EXPECT_EQ(0u, GetParentProcessId(process.Get()));
}

TEST(ProcessCreationTimeTest, IsInThePast) {
  const Time created = ProcessCreationTime();
  EXPECT_FALSE(created.is_null());
  EXPECT_FALSE(created.is_max());
  EXPECT_LE(created, Time::NowFromSystemTime());
}

}  // namespace
}  // namespace base

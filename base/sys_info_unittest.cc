#include "base/sys_info.h"

#include <windows.h>

#include <gtest/gtest.h>

namespace base {
namespace {

TEST(SysInfoTest, PhysicalMemoryMatchesTheSystem) {
  MEMORYSTATUSEX status = {};
  status.dwLength = sizeof(status);
  ASSERT_TRUE(GlobalMemoryStatusEx(&status));
  const int64_t bytes = QueryPhysicalMemoryBytes();
  EXPECT_GT(bytes, 0);
  EXPECT_EQ(static_cast<int64_t>(status.ullTotalPhys), bytes);
}

}  // namespace
}  // namespace base

#include "desktop/windows/installer/service/kernel_object_name.h"

#include <gtest/gtest.h>

namespace installer {
namespace {

TEST(KernelObjectNameTest, KernelObjectNamesUseForwardSlashes) {
  EXPECT_EQ(L"Global\\Installer/Events/D:/Programs/Browser",
            GetKernelObjectName(L"D:\\Programs\\Browser", L"Installer\\Events", true));
  EXPECT_EQ(L"Local\\Installer/Events/D:/Programs/Browser",
            GetKernelObjectName(L"D:\\Programs\\Browser", L"Installer\\Events", false));
}

}  // namespace
}  // namespace installer

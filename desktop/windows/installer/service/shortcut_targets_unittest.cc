#include "desktop/windows/installer/service/shortcut_targets.h"

#include <windows.h>

#include <objbase.h>

#include <gtest/gtest.h>

#include "base/files/file_util.h"
#include "base/files/scratch_dir_test_util.h"
#include "base/win/shortcut.h"

namespace installer {
namespace {

class ShortcutTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  }
  void TearDown() override { CoUninitialize(); }
};

TEST_F(ShortcutTest, ShortcutsMatchTheirTargetIgnoringCaseOrByFileIdentity) {
  base::ScratchDir scratch;
  const base::FilePath target = scratch.path().Append(L"Velum.exe");
  const base::FilePath link_target = scratch.path().Append(L"hard-link.exe");
  ASSERT_TRUE(base::WriteTextFile(target, "program"));
  ASSERT_TRUE(CreateHardLinkW(link_target.value().c_str(), target.value().c_str(), nullptr));

  const base::FilePath upper = scratch.path().Append(L"upper.lnk");
  const base::FilePath linked = scratch.path().Append(L"linked.lnk");
  base::ShortcutProperties properties;
  properties.set_target(base::FilePath(scratch.path().Append(L"VELUM.EXE")));
  ASSERT_TRUE(base::CreateOrUpdateShortcut(upper, properties, base::SHORTCUT_CREATE_ALWAYS));
  properties.set_target(link_target);
  ASSERT_TRUE(base::CreateOrUpdateShortcut(linked, properties, base::SHORTCUT_CREATE_ALWAYS));

  BY_HANDLE_FILE_INFORMATION information;
  ASSERT_TRUE(GetFileInformation(target, &information));
  EXPECT_TRUE(TestShortcut(upper, target, nullptr));
  EXPECT_FALSE(TestShortcut(linked, target, nullptr));
  EXPECT_TRUE(TestShortcut(linked, target, &information));
  EXPECT_FALSE(TestShortcut(scratch.path().Append(L"missing.lnk"), target, &information));
  EXPECT_FALSE(TestShortcut(base::FilePath(), target, &information));
}

}  // namespace
}  // namespace installer

#include "desktop/windows/installer/elevated_helper/elevated_program_check.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/files/scratch_dir_test_util.h"
#include "base/win/scoped_generic.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/package_fetcher/test_data_test_util.h"

namespace installer {
namespace {

class OwnImageTest : public base::ScratchDirTest {
 protected:
  // `file` mapped as the loader maps a program's image.
  static base::ScopedMappedView MapImage(const base::FilePath& file) {
    const base::ScopedHandle handle(
        CreateFileW(file.value().c_str(), GENERIC_READ | GENERIC_EXECUTE,
                    FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!handle.IsValid()) return base::ScopedMappedView();
    const base::ScopedHandle mapping(
        CreateFileMappingW(handle.Get(), nullptr, PAGE_READONLY | SEC_IMAGE, 0, 0, nullptr));
    if (!mapping.IsValid()) return base::ScopedMappedView();
    return base::ScopedMappedView(MapViewOfFile(mapping.Get(), FILE_MAP_READ, 0, 0, 0));
  }

  static bool SameFile(const base::FilePath& a, const base::FilePath& b) {
    return base::FilePath::CompareIgnoreCase(a.value(), b.value()) == 0;
  }
};

// The file held is the one the image is mapped from, found by the system's word on the
// mapping: once another file took the image's name (renamed away and replaced, as a
// running program's file can be), that name leads nowhere, not even to a byte-identical
// copy, and the renamed file is found where a name leads to it.
TEST_F(OwnImageTest, OnlyTheFileTheImageIsMappedFromIsHeld) {
  const base::FilePath installer = Path(L"installer.exe");
  const base::FilePath renamed = Path(L"renamed.exe");
  ASSERT_TRUE(base::CopyFile(testing::TestDataPath("signing/package_signed.exe"), installer));
  const base::ScopedMappedView image = MapImage(installer);
  ASSERT_TRUE(image.IsValid());

  HeldFile held;
  ASSERT_TRUE(internal::HoldMappedImageAt(image.Get(), {installer}, &held).ok());
  EXPECT_TRUE(SameFile(held.final_path(), installer)) << held.final_path().AsUTF8();
  // Held against writes and renames while it is read.
  EXPECT_FALSE(base::ScopedHandle(CreateFileW(installer.value().c_str(), GENERIC_WRITE,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                              OPEN_EXISTING, 0, nullptr))
                   .IsValid());
  held = HeldFile();

  ASSERT_TRUE(MoveFileW(installer.value().c_str(), renamed.value().c_str()));
  ASSERT_TRUE(base::CopyFile(testing::TestDataPath("signing/package_unsigned.exe"), installer));
  const base::FilePath copy = Path(L"copy.exe");
  ASSERT_TRUE(base::CopyFile(renamed, copy));
  // An empty file has nothing to map: what cannot be compared is not the image's file.
  const base::FilePath empty = Path(L"empty.exe");
  ASSERT_EQ(0, base::WriteFile(empty, "", 0));
  const base::Result<> replaced = internal::HoldMappedImageAt(
      image.Get(), {installer, copy, empty, Path(L"missing.exe")}, &held);
  ASSERT_FALSE(replaced.ok());
  EXPECT_EQ("this installer's own file is found at none of its names", replaced.failure().text);
  EXPECT_TRUE(held.final_path().empty());

  ASSERT_TRUE(internal::HoldMappedImageAt(image.Get(), {installer, renamed}, &held).ok());
  EXPECT_TRUE(SameFile(held.final_path(), renamed)) << held.final_path().AsUTF8();
}

// This process's own file is found among the names its mapping and its start give.
TEST_F(OwnImageTest, ThisProcessFindsItsOwnFile) {
  const std::vector<base::FilePath> names = internal::OwnImageNames(GetModuleHandleW(nullptr));
  const base::FilePath started = RunningInstallerPath();
  ASSERT_FALSE(started.empty());
  EXPECT_TRUE(SameFile(names.back(), started));
  HeldFile own;
  ASSERT_TRUE(HoldOwnImage(&own).ok());
  HeldFile by_name;
  ASSERT_TRUE(by_name.Open(started, GENERIC_READ, FILE_SHARE_READ, true));
  EXPECT_TRUE(own.identity() == by_name.identity());
}

}  // namespace
}  // namespace installer

#include "desktop/windows/installer/service/held_install_folder.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "base/files/file_util.h"
#include "base/files/scratch_dir_test_util.h"

namespace installer {
namespace {

using HeldInstallFolderTest = base::ScratchDirTest;

// The folder is held as it was found: a folder that is a link is taken as its target, and
// while held, nobody swaps it for another; what is done below it reaches that folder.
TEST_F(HeldInstallFolderTest, KeepsTheFolderItHeldInItsPlace) {
  MakeTree({L"real\\", L"other\\", L"file.txt"});
  std::string error;
  ASSERT_TRUE(base::MakeDirectoryLink(Path(L"link"), Path(L"real"), &error)) << error;
  const struct {
    const wchar_t* name;
    const wchar_t* final_name;  // null: not held
  } cases[] = {
      {L"real", L"real"},
      {L"real\\", L"real"},
      {L"link", L"real"},
      {L"missing", nullptr},
      {L"file.txt", nullptr},
  };
  for (const auto& c : cases) {
    HeldInstallFolder install;
    EXPECT_EQ(c.final_name != nullptr, install.Hold(Path(c.name)).ok()) << c.name;
    EXPECT_EQ(c.final_name != nullptr, install.is_held()) << c.name;
    if (c.final_name) {
      EXPECT_TRUE(IsSamePath(Path(c.final_name), install.final_path())) << c.name;
    }
  }
  HeldInstallFolder install;
  ASSERT_TRUE(install.Hold(Path(L"real")).ok());
  EXPECT_FALSE(MoveFileW(Path(L"real").value().c_str(), Path(L"moved").value().c_str()));
  install.Release();
  EXPECT_TRUE(MoveFileW(Path(L"real").value().c_str(), Path(L"moved").value().c_str()));
  EXPECT_TRUE(base::RemoveDirectoryLink(Path(L"link")));
}

// A name below the held folder is reached one folder at a time through the handles held
// above it: missing as a file or as a path, refused through a link on the way or at the
// name, however deep the name.
TEST_F(HeldInstallFolderTest, HoldsANameBelowOnlyThroughItsHeldFolders) {
  MakeTree({L"Velum\\2.0\\res\\", L"Velum\\2.0\\res\\a.dat", L"Velum\\file.txt",
            L"outside\\res\\", L"outside\\res\\a.dat", L"outside\\b\\c\\"});
  std::string error;
  ASSERT_TRUE(base::MakeDirectoryLink(Path(L"Velum\\linked"), Path(L"outside"), &error)) << error;
  std::wstring deep = L"Velum";
  for (int i = 0; i < 20000; ++i) deep += L"\\d";
  const struct {
    std::wstring name;
    bool folder;
    DWORD error;
    int kind;
  } cases[] = {
      {L"Velum\\2.0\\res\\a.dat", false, 0, 0},
      {L"Velum\\2.0\\res", true, 0, 0},
      {L"Velum\\2.0\\res\\b.dat", false, ERROR_FILE_NOT_FOUND, 0},
      {L"Velum\\3.0\\res\\a.dat", false, ERROR_PATH_NOT_FOUND, 0},
      {deep + L"\\a.dat", false, ERROR_PATH_NOT_FOUND, 0},
      {L"Velum\\linked\\res\\a.dat", false, 0, kHeldLink},
      {L"Velum\\linked", true, 0, kHeldLink},
      {L"Velum\\file.txt\\a.dat", false, 0, kHeldOtherKind},
      {L"Velum\\2.0\\res", false, 0, kHeldOtherKind},
      {L"outside\\res\\a.dat", false, 0, 0 /* not below: no kind */},
  };
  HeldInstallFolder install;
  ASSERT_TRUE(install.Hold(Path(L"Velum")).ok());
  for (const auto& c : cases) {
    HeldWay way;
    const base::Result<> result =
        install.HoldBelow(Path(c.name.c_str()), FILE_READ_ATTRIBUTES,
                          FILE_SHARE_READ | FILE_SHARE_WRITE, c.folder, &way);
    const bool below = c.name.compare(0, 6, L"Velum\\") == 0;
    EXPECT_EQ(below && !c.error && !c.kind, result.ok()) << c.name.substr(0, 40);
    if (result.ok()) continue;
    EXPECT_EQ(c.error, result.failure().error) << c.name.substr(0, 40);
    EXPECT_EQ(c.kind, result.failure().kind) << c.name.substr(0, 40);
  }
  // An empty folder goes through its own held handle; one behind a link stays, however
  // far above it the link is.
  EXPECT_FALSE(install.RemoveFolderIfEmpty(Path(L"Velum\\linked\\b\\c")).ok());
  EXPECT_TRUE(base::DirectoryExists(Path(L"outside\\b\\c")));
  EXPECT_FALSE(install.RemoveFolderIfEmpty(Path(L"Velum\\2.0")).ok());
  ASSERT_TRUE(base::DeleteFile(Path(L"Velum\\2.0\\res\\a.dat"), false));
  EXPECT_TRUE(install.RemoveFolderIfEmpty(Path(L"Velum\\2.0\\res")).ok());
  EXPECT_FALSE(base::PathExists(Path(L"Velum\\2.0\\res")));
  EXPECT_TRUE(base::RemoveDirectoryLink(Path(L"Velum\\linked")));
}

// After a commit the folder goes when the run emptied it, with the folders above it that
// this empties; a folder still holding anything stays, and so does one let go after a
// rollback.
TEST_F(HeldInstallFolderTest, AFolderTheCommitEmptiedGoesOnceLetGo) {
  MakeTree({L"Apps\\Velum\\", L"Apps\\Kept\\Velum\\", L"Apps\\Kept\\Velum\\k.bat",
            L"Apps\\Kept\\other.txt", L"Apps\\RolledBack\\Velum\\", L"keep.txt"});
  HeldInstallFolder emptied, kept, rolled_back;
  ASSERT_TRUE(emptied.Hold(Path(L"Apps\\Velum")).ok());
  ASSERT_TRUE(kept.Hold(Path(L"Apps\\Kept\\Velum")).ok());
  ASSERT_TRUE(rolled_back.Hold(Path(L"Apps\\RolledBack\\Velum")).ok());
  // Held, it cannot be removed by its name.
  EXPECT_FALSE(RemoveDirectoryW(Path(L"Apps\\RolledBack\\Velum").value().c_str()));
  rolled_back.Release();
  EXPECT_TRUE(base::DirectoryExists(Path(L"Apps\\RolledBack\\Velum")));
  ASSERT_TRUE(base::DeleteFile(Path(L"Apps\\RolledBack"), true));
  emptied.ReleaseAndRemoveIfEmpty();
  kept.ReleaseAndRemoveIfEmpty();
  EXPECT_FALSE(emptied.is_held());
  EXPECT_FALSE(base::PathExists(Path(L"Apps\\Velum")));
  EXPECT_TRUE(base::PathExists(Path(L"Apps\\Kept\\Velum\\k.bat")));
  EXPECT_TRUE(base::PathExists(Path(L"Apps")));
  ASSERT_TRUE(base::DeleteFile(Path(L"Apps\\Kept"), true));
  HeldInstallFolder last;
  ASSERT_TRUE(base::CreateDirectory(Path(L"Apps\\Velum")));
  ASSERT_TRUE(last.Hold(Path(L"Apps\\Velum")).ok());
  last.ReleaseAndRemoveIfEmpty();
  EXPECT_FALSE(base::PathExists(Path(L"Apps")));
  EXPECT_TRUE(base::DirectoryExists(scratch_.path()));
}

}  // namespace
}  // namespace installer

#include "desktop/windows/installer/leftover_files.h"

#include <gtest/gtest.h>

#include "base/files/file_util.h"
#include "base/files/scratch_dir_test_util.h"
#include "desktop/windows/installer/service/transactions/transaction.h"

namespace installer {
namespace {

class LeftoverFilesTest : public base::ScratchDirTest {};

// The run's start is counted in whole seconds: a copy set aside in that second (or later)
// may be the run's own, which its commit or rollback still needs.
TEST_F(LeftoverFilesTest, OnlyCopiesFromBeforeTheRunsSecondAreOld) {
  const struct {
    const wchar_t* name;
    bool removed;
  } copies[] = {
      {L"root_readme.txt.1699999999.old", true},
      {L"root_readme.txt.1700000000.old", false},
      {L"root_readme.txt.1700000000.1.old", false},
      {L"root_readme.txt.1700000001.old", false},
      {L"1.0.100.0\\velum.exe.1699999999.old", true},
      {L"1.0.100.0\\velum.exe.1700000000.old", false},
  };
  MakeTree({L"1.0.100.0\\", L"1.0.100.0\\velum.exe"});
  for (const auto& copy : copies) Write(copy.name, "x");
  LeftoverScope scope;
  scope.install_folder = scratch_.path();
  scope.root_files = {L"root_readme.txt"};
  scope.version_files = {L"velum.exe"};
  scope.recorded_subfolders = {L"1.0.100.0"};
  scope.set_aside_before = 1700000000;
  {
    Transaction transaction;
    RemoveLeftovers(scope, &transaction);
  }
  for (const auto& copy : copies)
    EXPECT_EQ(copy.removed, !base::PathExists(Path(copy.name))) << copy.name;
}

// A run killed while it deleted an earlier run's copy set the copy itself aside; one
// killed while it deleted a version folder set the folder aside. Both are leftovers of
// ours when they hold only the package's files; a folder holding anything else stays.
TEST_F(LeftoverFilesTest, CopiesSetAsideTwiceAndSetAsideVersionFoldersGo) {
  const struct {
    const wchar_t* name;
    bool removed;
  } files[] = {
      {L"1.0.100.0\\velum.exe.1699999000.old.1699999999.old", true},
      {L"1.0.100.0\\installer.exe", true},
      {L"1.0.100.0_0.1699999999.old\\velum.exe", true},
      {L"1.0.100.0_1.1699999999.old\\velum.exe", false},
      {L"1.0.100.0_1.1699999999.old\\notes.txt", false},
      {L"1.0.100.0_2.1700000000.old\\velum.exe", false},
      {L"launcher.exe.1699999000.old.1699999999.old", true},
      {L"launcher.exe.1699999000.old.1700000000.old", false},
  };
  for (const auto& file : files) {
    ASSERT_TRUE(base::CreateDirectory(Path(file.name).DirName()));
    Write(file.name, "x");
  }
  LeftoverScope scope;
  scope.install_folder = scratch_.path();
  scope.root_files = {L"launcher.exe"};
  scope.version_files = {L"velum.exe", L"installer.exe"};
  scope.set_aside_before = 1700000000;
  {
    Transaction transaction;
    RemoveLeftovers(scope, &transaction);
  }
  for (const auto& file : files)
    EXPECT_EQ(file.removed, !base::PathExists(Path(file.name))) << file.name;
  EXPECT_FALSE(base::PathExists(Path(L"1.0.100.0")));
  EXPECT_FALSE(base::PathExists(Path(L"1.0.100.0_0.1699999999.old")));
}

}  // namespace
}  // namespace installer

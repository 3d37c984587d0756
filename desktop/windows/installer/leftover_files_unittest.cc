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

}  // namespace
}  // namespace installer

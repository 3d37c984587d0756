#include "desktop/windows/installer/package_fetcher/package_lock.h"

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/files/file_util.h"
#include "base/files/scratch_dir_test_util.h"

namespace installer {
namespace {

class PackageLockTest : public base::ScratchDirTest {
 protected:
  // One run's files: the package folder with a file, a download and its archive.
  void MakeRun(const std::wstring& stem) {
    MakeTree({stem + L"\\", stem + L"\\velum.exe", stem + L"_0.exe", stem + L"_0.7z"});
  }
  bool RunLeft(const std::wstring& stem) {
    for (const std::wstring& name : {stem, stem + L"_0.exe", stem + L"_0.7z"})
      if (base::PathExists(Path(name.c_str()))) return true;
    return false;
  }
};

TEST_F(PackageLockTest, OnlyTheFilesOfRunsWhoseLockNobodyHoldsGo) {
  const std::wstring live = L"velum_installer_20260101120000";
  const std::wstring killed = L"velum_installer_20260101110000";
  const std::wstring stopped = L"velum_installer_20260101100000";
  MakeRun(live);
  MakeRun(killed);
  MakeRun(stopped);
  auto lock = std::make_unique<PackageLock>();
  ASSERT_TRUE(lock->Acquire(Path((live + L".exe").c_str())));
  EXPECT_FALSE(PackageLock().Acquire(Path((live + L".exe").c_str())));
  // A lock a stopped machine could not delete: nobody holds it.
  Write((stopped + L".lck").c_str(), "");
  // Names that only look like a run's, and the logs beside them.
  const std::vector<std::wstring> others = {
      L"velum_installer_20260101120000123.log", L"velum_installer_2026010111000.exe",
      L"velum_installer_20260101110000_x.7z", L"velum_installer_20260101110000.txt",
      L"velum_installer_ui.lck", L"additional_file.tmp"};
  for (const std::wstring& name : others) Write(name.c_str(), "other");

  RemoveDeadPackages(scratch_.path());

  EXPECT_TRUE(RunLeft(live));
  EXPECT_TRUE(base::PathExists(Path((live + L"\\velum.exe").c_str())));
  EXPECT_FALSE(RunLeft(killed));
  EXPECT_FALSE(RunLeft(stopped));
  EXPECT_FALSE(base::PathExists(Path((stopped + L".lck").c_str())));
  for (const std::wstring& name : others)
    EXPECT_TRUE(base::PathExists(Path(name.c_str()))) << name;

  // Once its run lets go, the live run's files are a dead run's too.
  lock.reset();
  RemoveDeadPackages(scratch_.path());
  EXPECT_FALSE(RunLeft(live));
}

// The clean-up takes only names that carry a run's time as 14 plain digits: anything else
// under the prefix is somebody else's file or folder in the user's Temp.
TEST_F(PackageLockTest, NamesWithoutTheRunsNumericTimeStay) {
  const std::vector<std::wstring> others = {
      L"velum_installer_",
      L"velum_installer_abc\\",
      L"velum_installer_abc\\kept.txt",
      L"velum_installer_12x.exe",
      L"velum_installer_abcdefghijklmn\\",
      L"velum_installer_abcdefghijklmn\\kept.txt",
      L"velum_installer_abcdefghijklmn.exe",
      L"velum_installer_2026010112000x_0.7z",
      L"velum_installer_2026-01-01T120.exe",
      L"velum_installer_+2026010112000.exe",
      L"velum_installer_ 2026010112000-4711.lck",
      // Fullwidth digits, which a locale-aware digit test would take.
      L"velum_installer_\uFF12\uFF10\uFF12\uFF16\uFF10\uFF11\uFF10\uFF11\uFF11\uFF12"
      L"\uFF10\uFF10\uFF10\uFF10.exe",
  };
  MakeTree(others);
  MakeRun(L"velum_installer_20260101100000");

  RemoveDeadPackages(scratch_.path());

  EXPECT_FALSE(RunLeft(L"velum_installer_20260101100000"));
  for (const std::wstring& name : others)
    EXPECT_TRUE(base::PathExists(Path(name.c_str()))) << name;
}

// Two runs started in one second, even by one process, never share a stem: each holds its
// own lock, and a lock left by a killed process of the same number only moves the name on.
TEST_F(PackageLockTest, RunsOfOneSecondGetStemsOfTheirOwn) {
  const std::wstring time = L"20260101120000";
  PackageLock first;
  PackageLock second;
  PackageLock third;
  const base::FilePath a = first.AcquireNewStem(scratch_.path(), time, 4711);
  const base::FilePath b = second.AcquireNewStem(scratch_.path(), time, 4712);
  Write(L"velum_installer_20260101120000-4713.lck", "");  // left by a stopped machine
  const base::FilePath c = third.AcquireNewStem(scratch_.path(), time, 4713);
  PackageLock same_process;
  const base::FilePath d = same_process.AcquireNewStem(scratch_.path(), time, 4711);
  EXPECT_EQ(Path(L"velum_installer_20260101120000-4711.exe"), a);
  EXPECT_EQ(Path(L"velum_installer_20260101120000-4712.exe"), b);
  EXPECT_EQ(Path(L"velum_installer_20260101120000-4713-1.exe"), c);
  EXPECT_EQ(Path(L"velum_installer_20260101120000-4711-1.exe"), d);
  EXPECT_TRUE(first.held() && second.held() && third.held() && same_process.held());

  // The clean-up knows the new stems: live ones stay, a dead one and an old-style one go.
  for (const wchar_t* stem : {L"velum_installer_20260101120000-4711",
                              L"velum_installer_20260101120000-4711-1",
                              L"velum_installer_20260101110000-99",
                              L"velum_installer_20260101110000-99-2",
                              L"velum_installer_20260101100000"})
    MakeRun(stem);
  Write(L"velum_installer_20260101110000-.exe", "other");
  Write(L"velum_installer_20260101110000-1-2-3.exe", "other");
  RemoveDeadPackages(scratch_.path());
  EXPECT_TRUE(RunLeft(L"velum_installer_20260101120000-4711"));
  EXPECT_TRUE(RunLeft(L"velum_installer_20260101120000-4711-1"));
  EXPECT_FALSE(RunLeft(L"velum_installer_20260101110000-99"));
  EXPECT_FALSE(RunLeft(L"velum_installer_20260101110000-99-2"));
  EXPECT_FALSE(RunLeft(L"velum_installer_20260101100000"));
  EXPECT_TRUE(base::PathExists(Path(L"velum_installer_20260101110000-.exe")));
  EXPECT_TRUE(base::PathExists(Path(L"velum_installer_20260101110000-1-2-3.exe")));

  // A folder where no lock can be made still gives a name, unheld.
  PackageLock unheld;
  const base::FilePath e = unheld.AcquireNewStem(Path(L"missing"), time, 1);
  EXPECT_FALSE(unheld.held());
  EXPECT_EQ(0u, e.BaseName().value().find(L"velum_installer_20260101120000-1"));
}

// Every name a run could make taken by live runs: none of theirs is handed out.
TEST_F(PackageLockTest, NamesAllHeldByOtherRunsAreRefused) {
  const std::wstring time = L"20260101130000";
  std::vector<std::unique_ptr<PackageLock>> others;
  std::vector<base::FilePath> taken;
  for (int i = 0; i < 16; ++i) {
    others.push_back(std::make_unique<PackageLock>());
    taken.push_back(others.back()->AcquireNewStem(scratch_.path(), time, 77));
    ASSERT_TRUE(others.back()->held()) << i;
  }
  PackageLock late;
  const base::FilePath name = late.AcquireNewStem(scratch_.path(), time, 77);
  EXPECT_FALSE(late.held());
  EXPECT_TRUE(name.empty()) << name.value();
  for (const base::FilePath& path : taken) EXPECT_NE(path, name);
}

}  // namespace
}  // namespace installer

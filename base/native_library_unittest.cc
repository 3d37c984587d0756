#include "base/native_library.h"

#include <gtest/gtest.h>

#include "base/metrics/histogram_base.h"
#include "base/metrics/histogram_samples.h"
#include "base/metrics/statistics_recorder.h"
#include "base/test/test_helper_process.h"

namespace base {
namespace {

std::wstring CurrentDirectory() {
  wchar_t buffer[MAX_PATH];
  const DWORD length = GetCurrentDirectoryW(MAX_PATH, buffer);
  return std::wstring(buffer, length);
}

// The count of |outcome| in the loader's histogram (0 before its first use).
int OutcomeCount(LoadNativeLibraryOutcome outcome) {
  HistogramBase* histogram =
      StatisticsRecorder::FindHistogram("LibraryLoader.LoadNativeLibraryWindows");
  return histogram ? histogram->SnapshotSamples()->GetCount(outcome) : 0;
}

TEST(NativeLibraryTest, LoadsOrFailsRestoringTheDirectoryAndRecordsTheOutcome) {
  const std::wstring before = CurrentDirectory();
  const int loaded = OutcomeCount(LOADED_WITH_SEARCH_FLAGS);
  const int failed = OutcomeCount(FAILED_WITH_AND_WITHOUT_SEARCH_FLAGS);
  const FilePath path(TestExeSibling(L"velum_installer.dll"));
  {
    ScopedModule module = LoadNativeLibrary(path);
    ASSERT_TRUE(module.IsValid());
  }
  EXPECT_EQ(nullptr, GetModuleHandleW(path.value().c_str())) << "the owner frees the module";
  EXPECT_EQ(before, CurrentDirectory());
  EXPECT_FALSE(LoadNativeLibrary(FilePath(TestExeSibling(L"no_such_library.dll"))).IsValid());
  EXPECT_EQ(before, CurrentDirectory());
  EXPECT_EQ(loaded + 1, OutcomeCount(LOADED_WITH_SEARCH_FLAGS));
  EXPECT_EQ(failed + 1, OutcomeCount(FAILED_WITH_AND_WITHOUT_SEARCH_FLAGS));
}

TEST(NativeLibraryTest, ScopedLibraryFindsExportsAndFreesItsModule) {
  const FilePath path(TestExeSibling(L"velum_installer.dll"));
  {
    ScopedNativeLibrary library(path);
    ASSERT_TRUE(library.IsValid());
    EXPECT_NE(nullptr, library.GetFunctionPointer("RunInstaller"));
    EXPECT_EQ(nullptr, library.GetFunctionPointer("NoSuchExport"));
  }
  EXPECT_EQ(nullptr, GetModuleHandleW(path.value().c_str()));

  ScopedNativeLibrary missing(FilePath(L"Z:\\no\\such\\library.dll"));
  EXPECT_FALSE(missing.IsValid());
  EXPECT_EQ(nullptr, missing.GetFunctionPointer("RunInstaller"));
}

}  // namespace
// A system DLL comes from the system folder only: a DLL of its name beside the program
// (here the test's own stand-in, which lies beside the test program) is never loaded.
TEST(NativeLibraryTest, SystemLibrariesComeFromTheSystemFolderOnly) {
  EXPECT_EQ(nullptr, LoadSystemLibrary(L"planted_library_test_dll.dll"));
  HMODULE dbghelp = LoadSystemLibrary(L"dbghelp.dll");
  ASSERT_NE(nullptr, dbghelp);
  wchar_t path[MAX_PATH] = {};
  wchar_t system[MAX_PATH] = {};
  ASSERT_NE(0u, GetModuleFileNameW(dbghelp, path, MAX_PATH));
  ASSERT_NE(0u, GetSystemDirectoryW(system, MAX_PATH));
  EXPECT_EQ(0, _wcsnicmp(path, system, wcslen(system))) << path;
  FreeLibrary(dbghelp);
}

}  // namespace base

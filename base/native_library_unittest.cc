#include "base/native_library.h"

#include <gtest/gtest.h>

#include "base/test/test_helper_process.h"

namespace base {
namespace {

std::wstring CurrentDirectory() {
  wchar_t buffer[MAX_PATH];
  const DWORD length = GetCurrentDirectoryW(MAX_PATH, buffer);
  return std::wstring(buffer, length);
}

TEST(NativeLibraryTest, LoadsByFullPathWithTheSearchFlags) {
  const std::wstring before = CurrentDirectory();
  LoadNativeLibraryOutcome outcome = LOAD_NATIVE_LIBRARY_OUTCOME_BOUNDARY;
  HMODULE module =
      LoadNativeLibraryWithOutcome(FilePath(TestExeSibling(L"velum_installer.dll")), &outcome);
  ASSERT_NE(nullptr, module);
  EXPECT_EQ(LOADED_WITH_SEARCH_FLAGS, outcome);
  EXPECT_EQ(before, CurrentDirectory());
  FreeLibrary(module);
}

TEST(NativeLibraryTest, MissingLibraryFailsBothWaysAndRestoresTheDirectory) {
  const std::wstring before = CurrentDirectory();
  LoadNativeLibraryOutcome outcome = LOAD_NATIVE_LIBRARY_OUTCOME_BOUNDARY;
  EXPECT_EQ(nullptr, LoadNativeLibraryWithOutcome(
                         FilePath(TestExeSibling(L"no_such_library.dll")), &outcome));
  EXPECT_EQ(FAILED_WITH_AND_WITHOUT_SEARCH_FLAGS, outcome);
  EXPECT_EQ(before, CurrentDirectory());
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
}  // namespace base

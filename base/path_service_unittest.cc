#include "base/path_service.h"

#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "base/files/file_util.h"
#include "base/files/scratch_dir_test_util.h"
#include "base/test/test_helper_process.h"
#include "base/win/windows_version.h"

namespace base {
namespace {

// A key no provider answers; the tests override it freely.
const int kScratchKey = 1002;

FilePath Resolve(int key) {
  FilePath path;
  EXPECT_TRUE(PathRegistry::Get(key, &path)) << key;
  return path;
}

std::wstring Drive(const FilePath& path) { return path.value().substr(0, 2); }

TEST(PathRegistryTest, WindowsFoldersResolveInsideSystemDrive) {
  const FilePath windows = Resolve(DIR_WINDOWS);
  ASSERT_TRUE(windows.IsAbsolute());
  for (int key = DIR_WINDOWS; key <= DIR_WINDOWS_FONTS; ++key) {
    if (key == DIR_APP_SHORTCUTS) continue;  // Windows 8 and later only
    FilePath path;
    ASSERT_TRUE(PathRegistry::Get(key, &path)) << key;
    EXPECT_TRUE(path.IsAbsolute()) << key;
    EXPECT_EQ(0, FilePath::CompareIgnoreCase(Drive(windows), Drive(path))) << key;
    EXPECT_FALSE(path.ReferencesParent()) << key;
  }
  for (int key : {DIR_HOME, DIR_USER_DESKTOP}) {
    EXPECT_EQ(0, FilePath::CompareIgnoreCase(Drive(windows), Drive(Resolve(key)))) << key;
  }
}

TEST(PathRegistryTest, DerivedFoldersBuildOnTheirBase) {
  const FilePath app_data = Resolve(DIR_APP_DATA);
  const FilePath quick_launch = Resolve(DIR_USER_QUICK_LAUNCH);
  EXPECT_EQ(app_data.Append(L"Microsoft\\Internet Explorer\\Quick Launch"), quick_launch);
  EXPECT_EQ(quick_launch.Append(L"User Pinned\\TaskBar"), Resolve(DIR_TASKBAR_PINS));
  EXPECT_EQ(quick_launch.Append(L"User Pinned\\ImplicitAppShortcuts"),
            Resolve(DIR_IMPLICIT_APP_SHORTCUTS));
  EXPECT_EQ(Resolve(DIR_PROGRAM_FILES), Resolve(DIR_PROGRAM_FILES6432));
  if (OsInfo::Instance()->architecture() == OsInfo::X86_ARCHITECTURE)
    EXPECT_EQ(Resolve(DIR_PROGRAM_FILES), Resolve(DIR_PROGRAM_FILESX86));
  else
    EXPECT_NE(Resolve(DIR_PROGRAM_FILES), Resolve(DIR_PROGRAM_FILESX86));
}

TEST(PathRegistryTest, ExecutableAndModulePaths) {
  wchar_t own[MAX_PATH];
  ASSERT_LT(GetModuleFileNameW(nullptr, own, MAX_PATH), static_cast<DWORD>(MAX_PATH));
  EXPECT_EQ(FilePath(own), Resolve(FILE_EXE));
  EXPECT_EQ(FilePath(own).DirName(), Resolve(DIR_EXE));
  // This code is linked statically into the test program: the module is the program.
  EXPECT_EQ(FilePath(own), Resolve(FILE_MODULE));
  EXPECT_EQ(FilePath(own).DirName(), Resolve(DIR_MODULE));
  EXPECT_EQ(FilePath(own).DirName().DirName().DirName(), Resolve(DIR_SOURCE_ROOT));
}

TEST(PathRegistryTest, KeysWithoutAnswer) {
  FilePath path(L"unchanged");
  EXPECT_FALSE(PathRegistry::Get(2002, &path));
  EXPECT_FALSE(PathRegistry::Get(0, &path));
  EXPECT_FALSE(PathRegistry::Get(118, &path));
  if (GetWindowsVersion() < OS_VERSION_WIN8) {
    EXPECT_FALSE(PathRegistry::Get(DIR_APP_SHORTCUTS, &path));
  }
  EXPECT_EQ(FilePath(L"unchanged"), path);
}

// The crash reporter's files live in whatever user data folder was given last.
TEST(PathRegistryTest, UserDataFilesFollowTheUserDataFolder) {
  ScratchDir scratch;
  for (const wchar_t* name : {L"one", L"two"}) {
    const FilePath folder = scratch.path().Append(name);
    ASSERT_TRUE(PathRegistry::Override(DIR_USER_DATA, folder, true, false));
    EXPECT_EQ(folder.Append(L"crash_stats.json"), Resolve(FILE_CRASH_STATS));
    EXPECT_EQ(folder.Append(L"Local State"), Resolve(FILE_LOCAL_STATE));
  }
}

TEST(PathRegistryTest, CurrentDirectoryIsNeverCached) {
  ScratchDir scratch;
  FilePath before;
  ASSERT_TRUE(PathRegistry::Get(DIR_CURRENT, &before));
  ASSERT_TRUE(SetCurrentDirectoryW(scratch.path().value().c_str()));
  FilePath now;
  EXPECT_TRUE(PathRegistry::Get(DIR_CURRENT, &now));
  SetCurrentDirectoryW(before.value().c_str());
  EXPECT_EQ(0, FilePath::CompareIgnoreCase(scratch.path().value(), now.value()));
}

TEST(PathRegistryTest, AnswersAreCachedUntilAnOverride) {
  ScratchDir scratch;
  const FilePath first = Resolve(DIR_TEMP);
  wchar_t saved_tmp[MAX_PATH] = {};
  GetEnvironmentVariableW(L"TMP", saved_tmp, MAX_PATH);
  ASSERT_TRUE(SetEnvironmentVariableW(L"TMP", scratch.path().value().c_str()));

  // The temporary folder changed, but the cached answer stands...
  EXPECT_EQ(first, Resolve(DIR_TEMP));
  // ...until any override clears the cache.
  ASSERT_TRUE(PathRegistry::Override(kScratchKey, scratch.path(), true, false));
  EXPECT_EQ(0, FilePath::CompareIgnoreCase(scratch.path().value(), Resolve(DIR_TEMP).value()));

  // An override beats the provider.
  ASSERT_TRUE(PathRegistry::Override(DIR_TEMP, first, true, false));
  EXPECT_EQ(first, Resolve(DIR_TEMP));
  SetEnvironmentVariableW(L"TMP", saved_tmp[0] ? saved_tmp : nullptr);
}

TEST(PathRegistryTest, OverridePathRules) {
  ScratchDir scratch;
  ASSERT_TRUE(WriteTextFile(scratch.path().Append(L"file"), "x"));
  FilePath current;
  ASSERT_TRUE(GetCurrentDirectoryPath(&current));
  ASSERT_TRUE(SetCurrentDirectoryW(scratch.path().value().c_str()));

  // A relative path is stored in absolute form.
  EXPECT_TRUE(PathRegistry::Override(kScratchKey, FilePath(L"relative"), false, false));
  EXPECT_EQ(0, FilePath::CompareIgnoreCase(scratch.path().Append(L"relative").value(),
                                           Resolve(kScratchKey).value()));
  EXPECT_FALSE(DirectoryExists(scratch.path().Append(L"relative")));

  // With the create flag a missing folder is made first, every level of it.
  const FilePath deep = scratch.path().Append(L"a\\b\\c");
  EXPECT_TRUE(PathRegistry::Override(kScratchKey, deep, true, true));
  EXPECT_TRUE(DirectoryExists(deep));
  EXPECT_EQ(deep, Resolve(kScratchKey));

  // A folder that cannot be made fails the override and keeps the earlier one.
  EXPECT_FALSE(PathRegistry::Override(kScratchKey, scratch.path().Append(L"file\\sub"),
                                      true, true));
  EXPECT_EQ(deep, Resolve(kScratchKey));
  SetCurrentDirectoryW(current.value().c_str());
}

TEST(PathRegistryTest, ModulePathLongerThanMaxPath) {
  ScratchDir scratch;
  // \\?\ lets the folders and the copy pass MAX_PATH.
  std::wstring dir = L"\\\\?\\" + scratch.path().value();
  while (dir.size() < MAX_PATH + 20) {
    dir += L"\\" + std::wstring(40, L'd');
    ASSERT_TRUE(::CreateDirectoryW(dir.c_str(), nullptr));
  }
  const std::wstring library = dir + L"\\path_service_test_dll.dll";
  ASSERT_TRUE(::CopyFileW(TestExeSibling(L"path_service_test_dll.dll").c_str(),
                          library.c_str(), FALSE));
  HMODULE module = LoadLibraryW(library.c_str());
  ASSERT_TRUE(module) << GetLastError();
  FilePath path;
  EXPECT_TRUE(GetModuleFilePath(module, &path));
  FreeLibrary(module);
  EXPECT_GT(path.value().size(), static_cast<size_t>(MAX_PATH));
  EXPECT_EQ(0, FilePath::CompareIgnoreCase(library.substr(library.size() - 100),
                                           path.value().substr(path.value().size() - 100)));
  ::DeleteFileW(library.c_str());
  for (; dir.size() > 4 + scratch.path().value().size(); dir.resize(dir.find_last_of(L'\\')))
    RemoveDirectoryW(dir.c_str());
}

}  // namespace
}  // namespace base

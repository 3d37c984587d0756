#include "desktop/common/autoupdate/updatechecker/global_storage.h"

#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "base/files/file_util.h"
#include "base/files/scratch_dir_test_util.h"
#include "base/test/test_helper_process.h"
#include "base/win/registry.h"
#include "base/win/scoped_handle.h"

namespace installer {
namespace {

const wchar_t kKeyPath[] = L"Software\\VelumGlobalStorageTest";

class GlobalStorageTest : public base::ScratchDirTest {
 protected:
  void SetUp() override {
    base::ScratchDirTest::SetUp();
    RegDeleteTreeW(HKEY_CURRENT_USER, kKeyPath);
  }
  void TearDown() override { RegDeleteTreeW(HKEY_CURRENT_USER, kKeyPath); }

  // The stored data of a value as the system keeps it (UTF-16), every unit kept, so a
  // stored terminator would show as a trailing "\0".
  std::string RawValue(const wchar_t* name) {
    base::RegistryKey key(HKEY_CURRENT_USER, kKeyPath, KEY_READ);
    wchar_t data[256] = {};
    DWORD size = sizeof(data);
    DWORD type = 0;
    if (!key.Valid() || RegQueryValueExW(key.Handle(), name, nullptr, &type,
                                         reinterpret_cast<BYTE*>(data), &size) !=
                            ERROR_SUCCESS) {
      return "<missing>";
    }
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    std::string text;
    for (DWORD i = 0; i < size / sizeof(wchar_t); ++i) text.push_back(static_cast<char>(data[i]));
    return text;
  }
  base::FilePath FallbackFile() { return Path(L"au_global_storage"); }
};

TEST_F(GlobalStorageTest, RegistryValuesWithoutTerminatorReadBackExactly) {
  GlobalStorageImpl storage(kKeyPath, false);
  EXPECT_FALSE(storage.use_fallback());
  std::string value = "stale";
  // Nothing stored yet, not even the key: empty, and success.
  EXPECT_EQ(GlobalStorage::kSuccess, storage.Get("UUID", &value));
  EXPECT_EQ("", value);
  EXPECT_EQ(GlobalStorage::kSuccess, storage.Set("UUID", ""));

  EXPECT_EQ(GlobalStorage::kSuccess, storage.Set("UUID", "3f2a-77"));
  EXPECT_EQ("3f2a-77", RawValue(L"UUID"));  // no NUL stored
  EXPECT_EQ(GlobalStorage::kSuccess, storage.Get("UUID", &value));
  EXPECT_EQ("3f2a-77", value);

  // A value written by someone else with its terminator reads the same.
  base::RegistryKey key(HKEY_CURRENT_USER, kKeyPath, KEY_SET_VALUE);
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key.Handle(), "Other", 0, REG_SZ,
                                          reinterpret_cast<const BYTE*>("abc"), 4));
  EXPECT_EQ(GlobalStorage::kSuccess, storage.Get("Other", &value));
  EXPECT_EQ("abc", value);

  EXPECT_EQ(GlobalStorage::kSuccess, storage.Set("UUID", ""));
  EXPECT_EQ("<missing>", RawValue(L"UUID"));
  EXPECT_EQ(GlobalStorage::kSuccess, storage.Get("UUID", &value));
  EXPECT_EQ("", value);
}

TEST_F(GlobalStorageTest, BadArguments) {
  GlobalStorageImpl storage(kKeyPath, false);
  std::string value;
  EXPECT_EQ(GlobalStorage::kInvalidArgument, storage.Get("", &value));
  EXPECT_EQ(GlobalStorage::kInvalidArgument, storage.Get("UUID", nullptr));
  EXPECT_EQ(GlobalStorage::kInvalidArgument, storage.Set("", "x"));
}

// Another process of the product holds the mutex: both operations give up at once.
TEST_F(GlobalStorageTest, MutexHeldByAnotherProcessMakesTheStoreBusy) {
  GlobalStorageImpl storage(kKeyPath, false);
  ASSERT_EQ(GlobalStorage::kSuccess, storage.Set("UUID", "before"));

  const std::wstring held_name = L"VelumGsTestHeld" + std::to_wstring(GetCurrentProcessId());
  const std::wstring release_name =
      L"VelumGsTestRelease" + std::to_wstring(GetCurrentProcessId());
  base::ScopedHandle held(CreateEventW(nullptr, TRUE, FALSE, held_name.c_str()));
  base::ScopedHandle release(CreateEventW(nullptr, TRUE, FALSE, release_name.c_str()));
  ASSERT_TRUE(held.IsValid() && release.IsValid());
  base::ScopedHandle process, thread;
  ASSERT_TRUE(base::StartTestHelper(L"global_storage_test_helper.exe",
                                    held_name + L" " + release_name, 0, &process, &thread));
  HANDLE waits[] = {held.Get(), process.Get()};
  ASSERT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(2, waits, FALSE, 60000));

  std::string value = "stale";
  EXPECT_EQ(GlobalStorage::kBusy, storage.Get("UUID", &value));
  EXPECT_EQ("", value);
  EXPECT_EQ(GlobalStorage::kBusy, storage.Set("UUID", "during"));
  EXPECT_EQ("before", RawValue(L"UUID"));

  SetEvent(release.Get());
  DWORD exit_code = 1;
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.Get(), 60000));
  ASSERT_TRUE(GetExitCodeProcess(process.Get(), &exit_code));
  EXPECT_EQ(0u, exit_code);
  EXPECT_EQ(GlobalStorage::kSuccess, storage.Set("UUID", "after"));
  EXPECT_EQ("after", RawValue(L"UUID"));
}

TEST_F(GlobalStorageTest, StandaloneValuesLiveInTheFallbackFileOnly) {
  GlobalStorageImpl storage(kKeyPath, true);
  EXPECT_TRUE(storage.use_fallback());
  storage.LoadFallback(scratch_.path());
  EXPECT_EQ(GlobalStorage::kSuccess, storage.Set("UUID", "u-1"));
  EXPECT_EQ(GlobalStorage::kSuccess, storage.Set("dotted.key", "d"));
  std::string text;
  ASSERT_TRUE(base::ReadFileToString(FallbackFile(), &text));
  EXPECT_EQ("{\"GS\":{\"UUID\":\"u-1\",\"dotted.key\":\"d\"}}", text);
  EXPECT_EQ("<missing>", RawValue(L"UUID"));

  std::string value;
  EXPECT_EQ(GlobalStorage::kSuccess, storage.Get("dotted.key", &value));
  EXPECT_EQ("d", value);
  EXPECT_EQ(GlobalStorage::kSuccess, storage.Set("UUID", ""));
  EXPECT_EQ(GlobalStorage::kSuccess, storage.Get("UUID", &value));
  EXPECT_EQ("", value);
}

// A value is stored only once its file is on disk: a write that fails is no success.
TEST_F(GlobalStorageTest, AFallbackWriteThatFailsIsReported) {
  GlobalStorageImpl storage(kKeyPath, true);
  storage.LoadFallback(Path(L"missing folder"));
  EXPECT_EQ(GlobalStorage::kFailure, storage.Set("UUID", "u-1"));
  EXPECT_FALSE(base::PathExists(Path(L"missing folder")));
  // Setting what the file holds already writes nothing and is no failure.
  storage.LoadFallback(scratch_.path());
  EXPECT_EQ(GlobalStorage::kSuccess, storage.Set("UUID", "u-1"));
  EXPECT_EQ(GlobalStorage::kSuccess, storage.Set("UUID", "u-1"));
}

TEST_F(GlobalStorageTest, FallbackFileOfTheWrongShape) {
  GlobalStorageImpl storage(kKeyPath, true);
  storage.LoadFallback(scratch_.path());
  std::string value;
  Write(L"au_global_storage", "{\"other\":1}");
  EXPECT_EQ(GlobalStorage::kSuccess, storage.Get("UUID", &value));
  EXPECT_EQ("", value);
  Write(L"au_global_storage", "{\"GS\":[\"UUID\"]}");
  EXPECT_EQ(GlobalStorage::kFailure, storage.Get("UUID", &value));
}

// Values left in a fallback file move into the registry once the registry works.
TEST_F(GlobalStorageTest, FallbackFileMigratesIntoTheRegistry) {
  Write(L"au_global_storage", "{\"GS\":{\"UUID\":\"from-file\",\"n\":5,\"x\":\"y\"}}");
  GlobalStorageImpl storage(kKeyPath, false);
  storage.LoadFallback(scratch_.path());
  EXPECT_EQ("from-file", RawValue(L"UUID"));
  EXPECT_EQ("y", RawValue(L"x"));
  EXPECT_EQ("<missing>", RawValue(L"n"));  // only strings move
  std::string value;
  EXPECT_EQ(GlobalStorage::kSuccess, storage.Get("UUID", &value));
  EXPECT_EQ("from-file", value);

  // While the file is there, later changes reach both places.
  EXPECT_EQ(GlobalStorage::kSuccess, storage.Set("UUID", "new"));
  EXPECT_EQ("new", RawValue(L"UUID"));
  std::string text;
  ASSERT_TRUE(base::ReadFileToString(FallbackFile(), &text));
  EXPECT_NE(std::string::npos, text.find("\"UUID\":\"new\""));
}

}  // namespace
}  // namespace installer

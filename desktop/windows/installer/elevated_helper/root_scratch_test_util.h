// A scratch folder directly on the system drive, outside every profile: a grant is
// refused anywhere in a profile, the temporary folder's too.
#ifndef DESKTOP_WINDOWS_INSTALLER_ELEVATED_HELPER_ROOT_SCRATCH_TEST_UTIL_H_
#define DESKTOP_WINDOWS_INSTALLER_ELEVATED_HELPER_ROOT_SCRATCH_TEST_UTIL_H_

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/files/scratch_dir_test_util.h"

namespace installer {

class RootScratchTest : public testing::Test {
 protected:
  void SetUp() override {
    static int counter = 0;
    wchar_t windows[MAX_PATH] = {};
    ASSERT_NE(0u, GetWindowsDirectoryW(windows, MAX_PATH));
    // A run that aborted leaves its folders, and Wine gives its process id out again:
    // a name in use is passed over.
    DWORD error = ERROR_ALREADY_EXISTS;
    for (int tries = 0; tries < 1000 && error == ERROR_ALREADY_EXISTS; ++tries) {
      root_ = base::FilePath(std::wstring(windows, 3) + L"velum-grant-test-" +
                             std::to_wstring(GetCurrentProcessId()) + L"-" +
                             std::to_wstring(++counter));
      error = CreateDirectoryW(root_.value().c_str(), nullptr) ? ERROR_SUCCESS : GetLastError();
    }
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), error);
  }
  void TearDown() override {
    // Under Wine removing a host link to an empty folder removes that folder and leaves
    // the link, which Wine then neither shows nor removes: the host removes the rest.
    const std::string unix_path = base::UnixPath(root_);
    if (base::RunningUnderWine() && !unix_path.empty() &&
        base::StartHostCommand("/bin/rm -rf \"" + unix_path + "\"")) {
      EXPECT_TRUE(base::WaitForPathExistence(root_, false, 60000));
      return;
    }
    base::DeleteFileBestEffort(root_, true);
  }

  base::FilePath Path(const wchar_t* name) const { return root_.Append(name); }
  // Folders (names ending in "\") and files holding their own name.
  void MakeTree(const std::vector<std::wstring>& entries) {
    for (const std::wstring& entry : entries) {
      if (entry.back() == L'\\') {
        ASSERT_TRUE(base::CreateDirectory(Path(entry.c_str()))) << base::FilePath(entry).AsUTF8();
      } else {
        Write(entry.c_str(), base::FilePath(entry).AsUTF8());
      }
    }
  }
  void Write(const wchar_t* name, const std::string& text) {
    ASSERT_TRUE(base::WriteTextFile(Path(name), text));
  }

  base::FilePath root_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_ELEVATED_HELPER_ROOT_SCRATCH_TEST_UTIL_H_

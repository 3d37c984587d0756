#include "desktop/windows/installer/elevated_helper/uninstall_batch_runner.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "base/files/file_util.h"
#include "base/files/scratch_dir_test_util.h"
#include "base/guid.h"
#include "base/strings/utf_string_conversions.h"
#include "base/test/test_helper_process.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/elevated_helper/cleanup_batch.h"
#include "desktop/windows/installer/elevated_helper/grant_folder_check.h"

namespace installer {
namespace {

const DWORD kBoundMs = 60000;
// How long a helper that should be waiting is watched for returning.
const DWORD kLookMs = 5000;

class UninstallBatchTest : public base::ScratchDirTest {
 protected:
  void SetUp() override {
    base::ScratchDirTest::SetUp();
    MakeTree({L"install\\", L"install\\1.0\\", L"install\\1.0\\locked.dat", L"outside\\",
              L"outside\\victim.txt"});
    const base::Result<base::FilePath> install = NormalizeGrantFolder(Path(L"install"));
    ASSERT_TRUE(install.ok()) << install.failure().text;
    install_ = install.value();
    // A process that has ended: the batch does not wait for it.
    base::ScopedHandle process, thread;
    ASSERT_TRUE(base::StartTestHelper(L"installer_elevation_test_helper.exe", L"", 0, &process,
                                      &thread));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.Get(), kBoundMs));
    ended_pid_ = GetProcessId(process.Get());
  }

  // The writer's batch for `failed` under the install folder.
  std::string Batch(const std::vector<base::FilePath>& failed, uint32_t pid = 0) const {
    CleanupBatch batch;
    batch.pids = {pid ? pid : ended_pid_};
    for (const base::FilePath& path : failed) {
      batch.failed_files.push_back(path.value());
      for (base::FilePath folder = path.DirName(); folder.DirName() != folder;
           folder = folder.DirName())
        batch.folders.push_back(folder.value());
    }
    return BuildCleanupBatchText(batch);
  }

  base::FilePath install_;
  uint32_t ended_pid_ = 0;
};

TEST_F(UninstallBatchTest, RunsTheCheckedBatchFromACopy) {
  const base::FilePath locked = install_.Append(L"1.0\\locked.dat");
  const base::FilePath batch_file = Write(L"install\\k.bat", Batch({locked}));
  EXPECT_TRUE(RunUninstallBat(install_, install_));
  EXPECT_FALSE(base::PathExists(locked));
  EXPECT_FALSE(base::PathExists(install_.Append(L"1.0")));
  EXPECT_FALSE(base::PathExists(batch_file));
}

// The file is held by a process the batch names until that process ends; the helper
// waits for it, as cmd's own wait cannot everywhere.
TEST_F(UninstallBatchTest, WaitsForTheNamedProcessesBeforeDeleting) {
  const base::FilePath locked = install_.Append(L"1.0\\locked.dat");
  const std::wstring event_name = L"Local\\VelumBatchTest-" + base::UTF8ToWide(base::GenerateGuid());
  base::ScopedHandle release(CreateEventW(nullptr, TRUE, FALSE, event_name.c_str()));
  ASSERT_TRUE(release.IsValid());
  base::ScopedHandle process, thread;
  ASSERT_TRUE(base::StartTestHelper(
      L"installer_elevation_test_helper.exe",
      L"--hold-file=" + locked.value() + L" --wait-event=" + event_name, 0, &process, &thread));
  const DWORD holder = GetProcessId(process.Get());
  Write(L"install\\k.bat", Batch({locked}, holder));
  base::ScopedHandle returned(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  ASSERT_TRUE(returned.IsValid());
  bool ran = false;
  std::thread runner([&] {
    ran = RunUninstallBat(install_, install_);
    SetEvent(returned.Get());
  });
  // The holder ends only when released: a helper that does not wait returns, or
  // deletes, while it still runs. The bound only limits how long a fault is looked for.
  const bool returned_early = WaitForSingleObject(returned.Get(), kLookMs) == WAIT_OBJECT_0;
  EXPECT_FALSE(returned_early) << "returned before the named process ended";
  EXPECT_TRUE(base::PathExists(locked));
  ASSERT_TRUE(SetEvent(release.Get()));
  runner.join();
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.Get(), kBoundMs));
  EXPECT_TRUE(ran);
  EXPECT_FALSE(base::PathExists(locked));
}

// cmd looks for chcp, TASKLIST, FIND and ping in its working folder and then along
// PATH: programs of those names planted in the caller's working folder or PATH must
// not run.
// The helper that runs the batch is named in it when it was the uninstaller's second
// process: it waits for the others, never for itself.
TEST_F(UninstallBatchTest, NeverWaitsForItself) {
  const base::FilePath locked = install_.Append(L"1.0\\locked.dat");
  Write(L"install\\k.bat", Batch({locked}, GetCurrentProcessId()));
  base::ScopedHandle returned(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  bool ran = false;
  std::thread helper([&] {
    ran = RunUninstallBat(install_, install_);
    SetEvent(returned.Get());
  });
  if (WaitForSingleObject(returned.Get(), kBoundMs) != WAIT_OBJECT_0) {
    ADD_FAILURE() << "the helper waits for itself";
    ExitProcess(1);  // the thread can never be joined
  }
  helper.join();
  EXPECT_TRUE(ran);
  EXPECT_FALSE(base::PathExists(locked));
}

TEST_F(UninstallBatchTest, FindsItsToolsOnlyInTheSystemFolder) {
  const base::FilePath marker = Path(L"planted-ran");
  const std::string planted = "@echo x > \"" + marker.AsUTF8() + "\"\r\n";
  MakeTree({L"bin\\"});
  for (const wchar_t* name : {L"ping.bat", L"chcp.bat", L"bin\\ping.bat", L"bin\\chcp.bat"})
    Write(name, planted);
  wchar_t old_directory[MAX_PATH] = {};
  ASSERT_NE(0u, GetCurrentDirectoryW(MAX_PATH, old_directory));
  std::wstring old_path(32767, L'\0');
  old_path.resize(GetEnvironmentVariableW(L"PATH", &old_path[0], 32767));
  ASSERT_TRUE(SetCurrentDirectoryW(scratch_.path().value().c_str()));
  ASSERT_TRUE(SetEnvironmentVariableW(L"PATH", (Path(L"bin").value() + L";" + old_path).c_str()));
  Write(L"install\\k.bat", Batch({install_.Append(L"1.0\\locked.dat")}));
  const bool ran = RunUninstallBat(install_, install_);
  EXPECT_TRUE(SetEnvironmentVariableW(L"PATH", old_path.c_str()));
  EXPECT_TRUE(SetCurrentDirectoryW(old_directory));
  EXPECT_TRUE(ran);
  EXPECT_FALSE(base::PathExists(marker));
  EXPECT_FALSE(base::PathExists(install_.Append(L"1.0\\locked.dat")));
}

TEST(BatchEnvironmentTest, PathIsTheSystemFolderOnly) {
  const std::wstring environment = internal::BatchEnvironment(base::FilePath(L"C:\\W\\system32"));
  int paths = 0;
  bool other = false;
  for (const wchar_t* entry = environment.c_str(); *entry; entry += wcslen(entry) + 1) {
    const std::wstring text = entry;
    if (_wcsnicmp(text.c_str(), L"PATH=", 5) == 0) {
      ++paths;
      EXPECT_EQ(L"PATH=C:\\W\\system32", text);
    }
    other = other || _wcsnicmp(text.c_str(), L"PATHEXT=", 8) == 0;
  }
  EXPECT_EQ(1, paths);
  EXPECT_TRUE(other) << "PATHEXT is kept";
}

// A batch runs only for the folder a grant was made for, and only as the writer
// writes it for that folder; a refused batch changes nothing.
TEST_F(UninstallBatchTest, RefusesMoreThanTheCleanUpAndChangesNothing) {
  const base::FilePath victim = Path(L"outside\\victim.txt");
  const base::FilePath marker = Path(L"pwned");
  std::string error;
  ASSERT_TRUE(base::MakeDirectoryLink(install_.Append(L"link"), Path(L"outside"), &error))
      << error;
  const std::string writer = Batch({install_.Append(L"1.0\\locked.dat")});
  const std::string last = "del %0\r\n";
  const std::string head = writer.substr(0, writer.size() - last.size());
  const struct {
    const char* name;
    std::string text;
    base::FilePath granted;
  } cases[] = {
      {"an extra line", head + "echo x > \"" + marker.AsUTF8() + "\"\r\n" + last, install_},
      {"a del outside", Batch({victim}), install_},
      {"a del through a link", Batch({install_.Append(L"link\\victim.txt")}), install_},
      {"no grant made", writer, base::FilePath()},
      {"a grant for another folder", writer, Path(L"outside")},
  };
  for (const auto& c : cases) {
    const base::FilePath batch_file = Write(L"install\\k.bat", c.text);
    EXPECT_FALSE(RunUninstallBat(install_, c.granted)) << c.name;
    EXPECT_TRUE(base::PathExists(batch_file)) << c.name;
  }
  EXPECT_TRUE(base::PathExists(victim));
  EXPECT_TRUE(base::PathExists(install_.Append(L"1.0\\locked.dat")));
  EXPECT_FALSE(base::PathExists(marker));
  EXPECT_TRUE(base::RemoveDirectoryLink(install_.Append(L"link")));
}

}  // namespace
}  // namespace installer

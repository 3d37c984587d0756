#include "desktop/windows/installer/elevated_helper/uninstall_batch_runner.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "base/files/file_util.h"
#include "base/files/scratch_dir_test_util.h"
#include "base/guid.h"
#include "base/strings/utf_string_conversions.h"
#include "base/test/log_capture_test_util.h"
#include "base/test/test_helper_process.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/elevated_helper/cleanup_batch.h"
#include "desktop/windows/installer/elevated_helper/grant_folder_check.h"
#include "desktop/windows/installer/service/held_file.h"

namespace installer {
namespace {

const DWORD kBoundMs = 60000;
// How long a helper that should be waiting is watched for returning.
const DWORD kLookMs = 5000;

// Does `act` where the helper waits for the processes: what a user can do meanwhile.
class ActingWaiter final : public BatchProcessWaiter {
 public:
  explicit ActingWaiter(std::function<void()> act) : act_(std::move(act)) {}
  void Wait(const std::vector<uint32_t>& /*pids*/) const override { act_(); }

 private:
  std::function<void()> act_;
};

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

  // Starts a process that holds `file` without delete sharing until `release` is set;
  // returns once it holds the file.
  static void StartHolder(const base::FilePath& file, base::ScopedHandle* release,
                          base::ScopedHandle* process) {
    const std::wstring name = L"Local\\VelumBatchTest-" + base::UTF8ToWide(base::GenerateGuid());
    release->Set(CreateEventW(nullptr, TRUE, FALSE, name.c_str()));
    ASSERT_TRUE(release->IsValid());
    base::ScopedHandle held(CreateEventW(nullptr, TRUE, FALSE, (name + L"-held").c_str()));
    ASSERT_TRUE(held.IsValid());
    base::ScopedHandle thread;
    ASSERT_TRUE(base::StartTestHelper(L"installer_elevation_test_helper.exe",
                                      L"--hold-file=" + file.value() + L" --held-event=" + name +
                                          L"-held --wait-event=" + name,
                                      0, process, &thread));
    const HANDLE ends[] = {held.Get(), process->Get()};
    ASSERT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(2, ends, FALSE, kBoundMs))
        << "the holder ended or never held " << file.AsUTF8();
  }

  // Runs the helper on the install folder's batch; while it waits, the install folder's
  // `name` is renamed to "<name>.old" and a link to "outside" put in its place (removed
  // after the run).
  bool RunSwappingForALink(const wchar_t* name) const {
    const base::FilePath swapped = install_.Append(name);
    bool linked = false;
    const bool ran = RunActingInTheWait([&] {
      ASSERT_TRUE(MoveFileW(swapped.value().c_str(), (swapped.value() + L".old").c_str()));
      std::string error;
      linked = base::MakeDirectoryLink(swapped, Path(L"outside"), &error);
      ASSERT_TRUE(linked) << error;
    });
    if (linked) {
      EXPECT_TRUE(base::RemoveDirectoryLink(swapped));
    }
    return ran;
  }

  // Runs the helper on the install folder's batch, `act` done while it waits.
  bool RunActingInTheWait(std::function<void()> act) const {
    const ActingWaiter waiter(std::move(act));
    return RunUninstallBat(install_, install_, waiter);
  }

  base::FilePath install_;
  uint32_t ended_pid_ = 0;
};


TEST_F(UninstallBatchTest, DeletesTheNamedFilesTheEmptiedFoldersAndItself) {
  const base::FilePath locked = install_.Append(L"1.0\\locked.dat");
  const base::FilePath batch_file = Write(L"install\\k.bat", Batch({locked}));
  EXPECT_TRUE(RunUninstallBat(install_, install_));
  EXPECT_FALSE(base::PathExists(locked));
  EXPECT_FALSE(base::PathExists(install_.Append(L"1.0")));
  EXPECT_FALSE(base::PathExists(batch_file));
}

// The file is held by a process the batch names until that process ends; the helper
// waits for it.
TEST_F(UninstallBatchTest, WaitsForTheNamedProcessesBeforeDeleting) {
  const base::FilePath locked = install_.Append(L"1.0\\locked.dat");
  base::ScopedHandle release, process;
  ASSERT_NO_FATAL_FAILURE(StartHolder(locked, &release, &process));
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
    std::string why;
  } cases[] = {
      {"an extra line", head + "echo x > \"" + marker.AsUTF8() + "\"\r\n" + last, install_,
       "it holds more than the clean-up"},
      {"a del outside", Batch({victim}), install_, "outside the install folder"},
      {"a del through a link", Batch({install_.Append(L"link\\victim.txt")}), install_,
       "through the link"},
      {"no grant made", writer, base::FilePath(), "no access was given for it"},
      {"a grant for another folder", writer, Path(L"outside"), "not for its folder"},
      {"a grant for the folder above", writer, install_.DirName(), "not for its folder"},
      {"a text over the bound", writer + std::string(1 << 20, ' '), install_,
       "it is larger than a clean-up batch"},
  };
  for (const auto& c : cases) {
    const base::FilePath batch_file = Write(L"install\\k.bat", c.text);
    base::ScopedLogCapture log;
    EXPECT_FALSE(RunUninstallBat(install_, c.granted)) << c.name;
    EXPECT_TRUE(base::PathExists(batch_file)) << c.name;
    const std::vector<std::string> refused = log.LinesStartingWith("Refusing the clean-up");
    ASSERT_EQ(1u, refused.size()) << c.name;
    EXPECT_NE(std::string::npos, refused[0].find(c.why)) << refused[0];
  }
  EXPECT_TRUE(base::PathExists(victim));
  EXPECT_TRUE(base::PathExists(install_.Append(L"1.0\\locked.dat")));
  EXPECT_FALSE(base::PathExists(marker));
  EXPECT_TRUE(base::RemoveDirectoryLink(install_.Append(L"link")));
}

// A named process that outlasts the bound is left running: the helper goes on, and what
// that process still holds is not deleted.
TEST_F(UninstallBatchTest, GoesOnWhenANamedProcessOutlastsTheBound) {
  const base::FilePath locked = install_.Append(L"1.0\\locked.dat");
  const base::FilePath free = install_.Append(L"1.0\\free.dat");
  ASSERT_TRUE(base::WriteTextFile(free, "x"));
  base::ScopedHandle release, process;
  ASSERT_NO_FATAL_FAILURE(StartHolder(locked, &release, &process));
  Write(L"install\\k.bat", Batch({locked, free}, GetProcessId(process.Get())));
  base::ScopedHandle returned(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  ASSERT_TRUE(returned.IsValid());
  bool ran = false;
  std::thread runner([&] {
    ran = RunUninstallBat(install_, install_, BoundedProcessWaiter(100));
    SetEvent(returned.Get());
  });
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(returned.Get(), kBoundMs))
      << "still waiting for a process that does not end";
  ASSERT_TRUE(SetEvent(release.Get()));
  runner.join();
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.Get(), kBoundMs));
  EXPECT_TRUE(ran);
  EXPECT_TRUE(base::PathExists(locked));
  EXPECT_FALSE(base::PathExists(free));
}

// Nested folders that the batch leaves empty go, each child before its parent, in
// whatever order the batch names them.
TEST_F(UninstallBatchTest, RemovesNestedEmptyFoldersChildrenFirst) {
  MakeTree({L"install\\a\\", L"install\\a\\b\\", L"install\\a\\b\\c\\",
            L"install\\a\\b\\c\\f.dat"});
  CleanupBatch batch;
  batch.pids = {ended_pid_};
  batch.failed_files = {install_.Append(L"a\\b\\c\\f.dat").value()};
  batch.folders = {install_.Append(L"a").value(), install_.Append(L"a\\b").value(),
                   install_.Append(L"a\\b\\c").value()};
  Write(L"install\\k.bat", BuildCleanupBatchText(batch));
  EXPECT_TRUE(RunUninstallBat(install_, install_));
  EXPECT_FALSE(base::PathExists(install_.Append(L"a\\b\\c")));
  EXPECT_FALSE(base::PathExists(install_.Append(L"a\\b")));
  EXPECT_FALSE(base::PathExists(install_.Append(L"a")));
  EXPECT_TRUE(base::PathExists(install_.Append(L"1.0\\locked.dat")));
}

// The bound is for all the processes together: once it has passed, a second running
// process is not waited for. The clock says the deadline came during the first wait.
TEST_F(UninstallBatchTest, TheBoundIsSharedByEveryNamedProcess) {
  base::ScopedHandle release[2], process[2];
  for (int i = 0; i < 2; ++i) {
    ASSERT_NO_FATAL_FAILURE(StartHolder(Write((L"install\\held" + std::to_wstring(i)).c_str(), "x"),
                                        &release[i], &process[i]));
  }
  static const DWORD kLongBoundMs = 600000;
  static int ticks = 0;
  ticks = 0;
  // The deadline, then the first wait's start (the deadline reached), then the second's.
  const BoundedProcessWaiter waiter(kLongBoundMs, [] {
    const ULONGLONG times[] = {0, kLongBoundMs, kLongBoundMs + 5};
    return times[std::min(ticks++, 2)];
  });
  base::ScopedHandle returned(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  ASSERT_TRUE(returned.IsValid());
  std::thread runner([&] {
    waiter.Wait({GetProcessId(process[0].Get()), GetProcessId(process[1].Get())});
    SetEvent(returned.Get());
  });
  // Waiting on after the deadline means waiting the bound once more, or without end.
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(returned.Get(), kBoundMs))
      << "still waiting past the deadline";
  for (int i = 0; i < 2; ++i) ASSERT_TRUE(SetEvent(release[i].Get()));
  runner.join();
  EXPECT_EQ(3, ticks);
  for (int i = 0; i < 2; ++i)
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process[i].Get(), kBoundMs));
}

// A name that is no plain file when the holds are taken (a folder, or a link to a file
// elsewhere, made while the helper waited) is skipped, and nothing waits for an answer.
TEST_F(UninstallBatchTest, SkipsANameThatIsNoLongerItsFile) {
  const base::FilePath locked = install_.Append(L"1.0\\locked.dat");
  const base::FilePath now_folder = install_.Append(L"1.0\\gone.dat");
  const base::FilePath now_link = install_.Append(L"1.0\\linked.dat");
  const base::FilePath victim = Path(L"outside\\victim.txt");
  Write(L"install\\k.bat", Batch({now_folder, now_link, locked}));
  bool linked = false;
  EXPECT_TRUE(RunActingInTheWait([&] {
    EXPECT_TRUE(base::CreateDirectory(now_folder));
    std::string error;
    // Only Wine's host links can name a file here; Windows' junctions are folders.
    linked = base::RunningUnderWine() && base::MakeDirectoryLink(now_link, victim, &error);
  }));
  EXPECT_TRUE(base::PathExists(now_folder));
  EXPECT_TRUE(base::PathExists(victim));
  EXPECT_FALSE(base::PathExists(locked));
  if (linked) {
    EXPECT_TRUE(base::RemoveDirectoryLink(now_link));
  }
}

// A folder on a deletion's way replaced by a link while the helper waited: nothing is
// deleted, through it or elsewhere.
TEST_F(UninstallBatchTest, RefusesAWayFolderSwappedForALink) {
  const base::FilePath locked = install_.Append(L"1.0\\locked.dat");
  const base::FilePath outside_locked = Path(L"outside\\locked.dat");
  Write(L"outside\\locked.dat", "outside");
  Write(L"install\\k.bat", Batch({locked}));
  EXPECT_FALSE(RunSwappingForALink(L"1.0"));
  EXPECT_TRUE(base::PathExists(outside_locked));
  EXPECT_TRUE(base::PathExists(install_.Append(L"1.0.old\\locked.dat")));
}

// A folder the batch only removes, whose parent was replaced by a link while the helper
// waited: the empty folder the link leads to stays.
TEST_F(UninstallBatchTest, LeavesAFolderReachedThroughALink) {
  MakeTree({L"install\\sub\\", L"install\\sub\\empty\\", L"outside\\empty\\"});
  CleanupBatch batch;
  batch.pids = {ended_pid_};
  batch.folders = {install_.Append(L"sub\\empty").value()};
  Write(L"install\\k.bat", BuildCleanupBatchText(batch));
  EXPECT_TRUE(RunSwappingForALink(L"sub"));
  EXPECT_TRUE(base::PathExists(Path(L"outside\\empty")));
  EXPECT_TRUE(base::PathExists(install_.Append(L"sub.old\\empty")));
  EXPECT_FALSE(base::PathExists(install_.Append(L"k.bat")));
}

// An install folder whose path leads through a link is not the folder the grant checked:
// nothing of it is touched.
TEST_F(UninstallBatchTest, RefusesAnInstallFolderReachedThroughALink) {
  MakeTree({L"real\\", L"real\\install\\", L"real\\install\\1.0\\",
            L"real\\install\\1.0\\locked.dat"});
  std::string error;
  ASSERT_TRUE(base::MakeDirectoryLink(Path(L"via"), Path(L"real"), &error)) << error;
  const base::FilePath install = Path(L"via\\install");
  CleanupBatch batch;
  batch.pids = {ended_pid_};
  batch.failed_files = {install.Append(L"1.0\\locked.dat").value()};
  batch.folders = {install.Append(L"1.0").value()};
  const base::FilePath batch_file = Write(L"real\\install\\k.bat", BuildCleanupBatchText(batch));
  EXPECT_FALSE(RunUninstallBat(install, install));
  EXPECT_TRUE(base::PathExists(Path(L"real\\install\\1.0\\locked.dat")));
  EXPECT_TRUE(base::PathExists(batch_file));
  EXPECT_TRUE(base::RemoveDirectoryLink(Path(L"via")));
}

// Every folder between the install folder and each deletion, and each file, is held:
// none of them can be renamed away (and a link put in its place) before the deletion.
TEST_F(UninstallBatchTest, HoldsEveryFolderOnEachDeletionsWay) {
  MakeTree({L"install\\a\\", L"install\\a\\b\\", L"install\\a\\b\\c\\",
            L"install\\a\\b\\c\\f.dat", L"install\\x\\", L"install\\x\\g.dat"});
  CleanupBatch batch;
  batch.failed_files = {install_.Append(L"a\\b\\c\\f.dat").value(),
                        install_.Append(L"x\\g.dat").value()};
  HeldFile install_folder;
  ASSERT_TRUE(install_folder.Open(install_, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  false));
  const std::vector<const wchar_t*> held = {L"a", L"a\\b", L"a\\b\\c", L"a\\b\\c\\f.dat",
                                            L"x", L"x\\g.dat"};
  {
    internal::DeletionHolds holds;
    const base::Result<> result =
        internal::HoldDeletionWays(batch, install_, install_folder, &holds);
    ASSERT_TRUE(result.ok()) << result.failure().text;
    EXPECT_EQ(2u, holds.files.size());
    for (const wchar_t* name : held) {
      const base::FilePath path = install_.Append(name);
      EXPECT_FALSE(MoveFileW(path.value().c_str(), (path.value() + L"-moved").c_str()))
          << path.AsUTF8() << " could be renamed while held";
    }
  }
  // Let go, they can.
  const base::FilePath deepest = install_.Append(L"a\\b\\c");
  EXPECT_TRUE(MoveFileW(deepest.value().c_str(), (deepest.value() + L"-moved").c_str()));
}

}  // namespace
}  // namespace installer

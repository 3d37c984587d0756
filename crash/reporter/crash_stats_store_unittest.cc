#include "crash/reporter/crash_stats_store.h"

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "base/files/file_util.h"
#include "base/files/scratch_dir_test_util.h"
#include "base/json/json_reader.h"
#include "base/test/kill_test_util.h"
#include "base/values.h"
#include "base/test/test_helper_process.h"
#include "base/win/scoped_handle.h"
#include "gtest/gtest.h"

namespace crash_reporter {
namespace {

class CrashStatsStoreTest : public base::ScratchDirTest {
 protected:
  std::string Contents() {
    std::string text;
    EXPECT_TRUE(base::ReadFileToString(Path(L"stats.json"), &text));
    return text;
  }
};

TEST_F(CrashStatsStoreTest, MergesIntoTheFileAndDropsNonIntegers) {
  struct Case {
    const char* before;  // null: no file
    const char* expected;
  };
  const Case cases[] = {
      {nullptr, R"({"b":1,"installer":2})"},
      {"", R"({"b":1,"installer":2})"},
      {R"({"a":"x","b":2})", R"({"b":3,"installer":2})"},
      {R"({"b":-4,"c":7,"d":1.5})", R"({"b":1,"c":7,"installer":2})"},
  };
  for (const Case& c : cases) {
    DeleteFileW(Path(L"stats.json").value().c_str());
    if (c.before) Write(L"stats.json", c.before);
    CrashStatsStore store(Path(L"stats.json"));
    store.Increment("b", 1, false);
    store.Increment("installer", 1, false);
    store.Increment("installer", 1, false);
    EXPECT_TRUE(store.Flush());
    EXPECT_EQ(c.expected, Contents()) << (c.before ? c.before : "(none)");
    // Nothing pending: a second pass leaves the file alone.
    EXPECT_TRUE(store.Flush());
    EXPECT_EQ(c.expected, Contents());
  }
}

TEST_F(CrashStatsStoreTest, CorruptFileIsNeverOverwrittenAndCountsStayPending) {
  Write(L"stats.json", "{\"a\":1,");
  CrashStatsStore store(Path(L"stats.json"));
  store.Increment("installer", 2, false);
  EXPECT_FALSE(store.Flush());
  EXPECT_FALSE(store.Flush());
  EXPECT_EQ("{\"a\":1,", Contents());
  Write(L"stats.json", "[1]");
  EXPECT_FALSE(store.Flush());
  EXPECT_EQ("[1]", Contents());
  // Once the file is readable again the same counts arrive, once.
  Write(L"stats.json", "{}");
  EXPECT_TRUE(store.Flush());
  EXPECT_EQ(R"({"installer":2})", Contents());
}

// Holds a file locked from another process until Release.
class LockingProcess {
 public:
  explicit LockingProcess(const base::FilePath& path) {
    const std::wstring suffix = std::to_wstring(GetCurrentProcessId());
    const std::wstring locked_name = L"VelumStatsLocked" + suffix;
    const std::wstring release_name = L"VelumStatsRelease" + suffix;
    locked_.Set(CreateEventW(nullptr, TRUE, FALSE, locked_name.c_str()));
    release_.Set(CreateEventW(nullptr, TRUE, FALSE, release_name.c_str()));
    base::ScopedHandle thread;
    if (!base::StartTestHelper(L"file_lock_test_helper.exe",
                               L"\"" + path.value() + L"\" " + locked_name + L" " + release_name,
                               0, &process_, &thread)) {
      return;
    }
    const HANDLE waits[] = {locked_.Get(), process_.Get()};
    holding_ = WaitForMultipleObjects(2, waits, FALSE, 60000) == WAIT_OBJECT_0;
  }
  ~LockingProcess() { Release(); }

  bool holding() const { return holding_; }

  // True when the helper let go and ended cleanly.
  bool Release() {
    if (!process_.IsValid()) return false;
    SetEvent(release_.Get());
    DWORD exit_code = 1;
    const bool ended = WaitForSingleObject(process_.Get(), 60000) == WAIT_OBJECT_0 &&
                       GetExitCodeProcess(process_.Get(), &exit_code) && exit_code == 0;
    process_.Close();
    return ended;
  }

 private:
  base::ScopedHandle locked_;
  base::ScopedHandle release_;
  base::ScopedHandle process_;
  bool holding_ = false;
};

TEST_F(CrashStatsStoreTest, CountsWaitWhileAnotherProcessHoldsTheLock) {
  Write(L"stats.json", R"({"installer":1})");
  LockingProcess locker(CrashStatsStore::LockFilePath(Path(L"stats.json")));
  ASSERT_TRUE(locker.holding());
  CrashStatsStore store(Path(L"stats.json"));
  store.Increment("installer", 1, false);
  EXPECT_FALSE(store.Flush());
  store.Increment("installer", 1, false);
  store.Increment("crash_reporter", 1, false);
  EXPECT_FALSE(store.Flush());
  ASSERT_TRUE(locker.Release());
  EXPECT_TRUE(store.Flush());
  EXPECT_EQ(R"({"crash_reporter":1,"installer":3})", Contents());
}

TEST_F(CrashStatsStoreTest, WriterRetriesALockedFileAndLosesNothing) {
  Write(L"stats.json", R"({"installer":1})");
  {
    LockingProcess locker(CrashStatsStore::LockFilePath(Path(L"stats.json")));
    ASSERT_TRUE(locker.holding());
    CrashStatsStore store(Path(L"stats.json"));
    // Each wakes the writer, which fails on the lock and retries.
    store.Increment("installer", 1, true);
    store.Increment("crash_reporter", 2, true);
    ASSERT_TRUE(locker.Release());
    // Whether a retry or the final attempts write them, they are written once.
  }
  EXPECT_EQ(R"({"crash_reporter":2,"installer":2})", Contents());
}

TEST_F(CrashStatsStoreTest, WriterThreadMergesOnWakeAndOnDestruction) {
  {
    CrashStatsStore store(Path(L"stats.json"));
    store.Increment("installer", 1, true);
    // The writer owns the file now; wait on the file itself.
    ASSERT_TRUE(base::WaitForPathExistence(Path(L"stats.json"), true, 30000));
    store.Increment("crash_reporter", 4, false);
  }
  // The final attempts at destruction wrote the count that was never signalled.
  EXPECT_EQ(R"({"crash_reporter":4,"installer":1})", Contents());
}

// The "installer" count of a statistics file, or -1 when it is missing, cut or not JSON.
int InstallerCount(const base::FilePath& path) {
  std::string text;
  if (!base::ReadFileToString(path, &text)) return -1;
  std::unique_ptr<base::Dictionary> dictionary =
      base::Dictionary::From(base::JsonReader::Read(text));
  int count = -1;
  if (!dictionary || !dictionary->GetInteger("installer", &count)) return -1;
  return count;
}

// Killed at any moment, a reporter merging its counts leaves the previous or the new
// file, never a cut or empty one that would then block every later count.
TEST_F(CrashStatsStoreTest, KilledWriterLeavesAWholeFile) {
  std::vector<base::FilePath> folders;
  for (int i = 0; i < 4; ++i) {
    folders.push_back(Path((L"writer" + std::to_wstring(i)).c_str()));
    ASSERT_TRUE(base::CreateDirectory(folders.back()));
  }
  const std::vector<std::string> problems = base::RunKillRounds(
      L"crash_stats_store_test_helper.exe", folders, 50, 20261207,
      [](const base::FilePath& folder) -> std::string {
        return InstallerCount(folder.Append(L"crash_stats.json")) >= 1
                   ? std::string()
                   : "statistics file missing, cut or empty";
      });
  EXPECT_TRUE(problems.empty()) << problems.size() << " problems, first: " << problems[0];
}

TEST_F(CrashStatsStoreTest, TwoProcessesMergingLoseNoCount) {
  base::ScopedHandle processes[2];
  for (base::ScopedHandle& process : processes) {
    base::ScopedHandle thread;
    ASSERT_TRUE(base::StartTestHelper(L"crash_stats_store_test_helper.exe",
                                      L"\"" + scratch_.path().value() + L"\" count 1000", 0, &process,
                                      &thread));
  }
  for (base::ScopedHandle& process : processes) {
    DWORD exit_code = 1;
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.Get(), 300000));
    ASSERT_TRUE(GetExitCodeProcess(process.Get(), &exit_code));
    EXPECT_EQ(0u, exit_code);
  }
  EXPECT_EQ(2000, InstallerCount(Path(L"crash_stats.json")));
}

}  // namespace
}  // namespace crash_reporter

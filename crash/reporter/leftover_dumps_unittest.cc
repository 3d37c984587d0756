#include "crash/reporter/leftover_dumps.h"

#include <windows.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/files/scratch_dir_test_util.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/test/test_helper_process.h"
#include "base/win/scoped_handle.h"
#include "desktop/common/autoupdate/updatechecker/product_config.h"

namespace crash_reporter {
namespace {

constexpr uint64_t kHour = 3600ull * 10000000;

std::vector<std::string>* g_uploads = nullptr;

// Records what the taken dump holds: the name it was written under.
bool RecordUpload(const std::wstring& path) {
  std::string content;
  EXPECT_TRUE(base::ReadFileToString(base::FilePath(path), &content)) << base::WideToUTF8(path);
  EXPECT_EQ(GetCurrentProcessId(), ParseDumpReporterId(base::FilePath(path).BaseName().value()))
      << "not renamed to this reporter's name: " << base::WideToUTF8(path);
  g_uploads->push_back(content);
  return true;
}

std::wstring DumpName(uint32_t pid, uint32_t sequence) {
  return base::UTF8ToWide(base::ToLowerASCII(installer::GetProductName())) + L"-crashlog-" +
         std::to_wstring(pid) + L"-" + std::to_wstring(sequence) + L".dmp";
}

uint64_t Now() {
  FILETIME now = {};
  GetSystemTimeAsFileTime(&now);
  return (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

FILETIME ToFileTime(uint64_t ticks) {
  return {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

// The fake lookup's answers: a pid not listed runs no more.
struct FakeProcess {
  DWORD result;
  uint64_t start;
};
std::map<uint32_t, FakeProcess>* g_processes = nullptr;

DWORD FakeProcessStart(uint32_t pid, FILETIME* start) {
  const auto found = g_processes->find(pid);
  if (found == g_processes->end()) return ERROR_INVALID_PARAMETER;
  *start = ToFileTime(found->second.start);
  return found->second.result;
}

class LeftoverDumpsTest : public base::ScratchDirTest {
 protected:
  // A dump file made and written |age_hours| ago, holding its own name.
  void Dump(const std::wstring& name, uint64_t age_hours) {
    const base::FilePath path = Write(name.c_str(), base::WideToUTF8(name));
    const FILETIME written = ToFileTime(Now() - age_hours * kHour);
    base::ScopedHandle file(CreateFileW(path.value().c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr,
                                        OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(file.IsValid());
    ASSERT_TRUE(SetFileTime(file.Get(), &written, nullptr, &written));
  }

  std::set<std::wstring> Left() {
    std::set<std::wstring> left;
    base::FileEnumerator files(scratch_.path(), false, base::FileEnumerator::FILES, L"");
    for (base::FilePath path = files.Next(); !path.empty(); path = files.Next())
      left.insert(path.BaseName().value());
    return left;
  }

  size_t Handle(std::map<uint32_t, FakeProcess> processes, std::vector<std::string>* uploads) {
    g_uploads = uploads;
    g_processes = &processes;
    const size_t handed = HandleLeftoverDumps(scratch_.path(), &RecordUpload, &FakeProcessStart);
    g_uploads = nullptr;
    g_processes = nullptr;
    return handed;
  }
};

TEST_F(LeftoverDumpsTest, TheNewestFewAreUploadedNewestFirstAndTheRestRemoved) {
  const uint32_t dead = 4000000000u;
  const std::wstring older = DumpName(dead + 8, 1);
  Dump(DumpName(dead + 4, 1), 3);
  Dump(older, 4);
  Dump(DumpName(dead, 1), 1);
  Dump(DumpName(dead + 12, 1), 5);
  Dump(DumpName(dead + 16, 1), 2);
  Dump(DumpName(dead, 2), 8 * 24);  // older than the bound
  // This reporter's own dumps are never leftovers, even where the lookup finds no process.
  const std::wstring own = DumpName(GetCurrentProcessId(), 7);
  Dump(own, 1);
  const std::wstring kept_failed = DumpName(dead, 3) + L".failed";
  Dump(kept_failed, 1);
  Dump(L"notes.dmp", 1);

  std::vector<std::string> uploads;
  EXPECT_EQ(kMaxLeftoverUploads, Handle({}, &uploads));
  const std::vector<std::string> newest = {base::WideToUTF8(DumpName(dead, 1)),
                                           base::WideToUTF8(DumpName(dead + 16, 1)),
                                           base::WideToUTF8(DumpName(dead + 4, 1))};
  EXPECT_EQ(newest, uploads);
  std::set<std::wstring> left = Left();
  EXPECT_EQ(1u, left.erase(own));
  EXPECT_EQ(1u, left.erase(kept_failed));
  EXPECT_EQ(1u, left.erase(L"notes.dmp"));
  // What is left beside them are the three taken, under this reporter's names.
  EXPECT_EQ(kMaxLeftoverUploads, left.size());
  for (const std::wstring& name : left) EXPECT_EQ(GetCurrentProcessId(), ParseDumpReporterId(name));
}

// A reporter that cannot be opened (an elevated one) may still be writing its dumps; a
// process that took a dead reporter's id after the dump was made is not its reporter.
TEST_F(LeftoverDumpsTest, OnlyAReporterThatIsGoneLeavesItsDumps) {
  const uint32_t denied = 4000000100u, reused = 4000000104u, running = 4000000108u;
  Dump(DumpName(denied, 1), 2);
  Dump(DumpName(reused, 1), 2);
  Dump(DumpName(running, 1), 2);
  const uint64_t now = Now();
  std::vector<std::string> uploads;
  EXPECT_EQ(1u, Handle({{denied, {ERROR_ACCESS_DENIED, now - 3 * kHour}},
                        {reused, {ERROR_SUCCESS, now - 1 * kHour}},
                        {running, {ERROR_SUCCESS, now - 3 * kHour}}},
                       &uploads));
  EXPECT_EQ(std::vector<std::string>{base::WideToUTF8(DumpName(reused, 1))}, uploads);
  const std::set<std::wstring> left = Left();
  EXPECT_EQ(1u, left.count(DumpName(denied, 1)));
  EXPECT_EQ(1u, left.count(DumpName(running, 1)));
  EXPECT_EQ(0u, left.count(DumpName(reused, 1)));
}

TEST(LeftoverReporterLookupTest, TheSystemsAnswers) {
  FILETIME start = {};
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), GetRunningProcessStart(GetCurrentProcessId(), &start));
  const uint64_t started = (static_cast<uint64_t>(start.dwHighDateTime) << 32) | start.dwLowDateTime;
  EXPECT_NE(0u, started);
  EXPECT_LE(started, Now());
  // Process ids are multiples of 4: this one never names a process.
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetRunningProcessStart(4000000001u, &start));
  // An ended process runs no more while someone still holds it.
  base::ScopedHandle process, thread;
  ASSERT_TRUE(base::StartTestHelper(L"file_lock_test_helper.exe", L"", 0, &process, &thread));
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.Get(), 60000));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER),
            GetRunningProcessStart(GetProcessId(process.Get()), &start));
}

TEST(LeftoverDumpNamesTest, OnlyThisProductsDumpNamesCarryAReporter) {
  const std::wstring product =
      base::UTF8ToWide(base::ToLowerASCII(installer::GetProductName()));
  const struct {
    std::wstring name;
    uint32_t pid;
  } cases[] = {
      {product + L"-crashlog-1234-5.dmp", 1234},
      {product + L"-crashlog-1234-5.dmp.failed", 0},
      {product + L"-crashlog-1234.dmp", 0},
      {product + L"-crashlog--5.dmp", 0},
      {L"other-crashlog-1234-5.dmp", 0},
      {product + L"-crashlog-99999999999-5.dmp", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(c.pid, ParseDumpReporterId(c.name)) << base::WideToUTF8(c.name);
}

}  // namespace
}  // namespace crash_reporter

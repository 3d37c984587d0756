#include "crash/reporter/leftover_dumps.h"

#include <windows.h>

#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/files/scratch_dir_test_util.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_handle.h"
#include "desktop/common/autoupdate/updatechecker/product_config.h"

namespace crash_reporter {
namespace {

std::vector<std::wstring>* g_uploads = nullptr;

bool RecordUpload(const std::wstring& path) {
  EXPECT_TRUE(base::PathExists(base::FilePath(path))) << base::WideToUTF8(path);
  g_uploads->push_back(base::FilePath(path).BaseName().value());
  return true;
}

std::wstring DumpName(uint32_t pid, uint32_t sequence) {
  return base::UTF8ToWide(base::ToLowerASCII(installer::GetProductName())) + L"-crashlog-" +
         std::to_wstring(pid) + L"-" + std::to_wstring(sequence) + L".dmp";
}

class LeftoverDumpsTest : public base::ScratchDirTest {
 protected:
  // A dump file written |age_hours| ago.
  void Dump(const std::wstring& name, uint64_t age_hours) {
    const base::FilePath path = Write(name.c_str(), "MDMP");
    FILETIME now = {};
    GetSystemTimeAsFileTime(&now);
    const uint64_t ticks = ((static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime) -
                           age_hours * 3600 * 10000000ull;
    const FILETIME written = {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    base::ScopedHandle file(CreateFileW(path.value().c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr,
                                        OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(file.IsValid());
    ASSERT_TRUE(SetFileTime(file.Get(), nullptr, nullptr, &written));
  }
};

TEST_F(LeftoverDumpsTest, TheNewestFewAreUploadedOnceAndTheRestRemoved) {
  // Reporter ids no process has: those reporters were killed.
  const uint32_t dead = 4000000000u;
  for (uint32_t i = 0; i < 5; ++i) Dump(DumpName(dead + 4 * i, 1), 1 + i);
  Dump(DumpName(dead, 2), 8 * 24);  // older than the bound
  const std::wstring running = DumpName(GetCurrentProcessId(), 7);
  Dump(running, 1);
  const std::wstring kept_failed = DumpName(dead, 3) + L".failed";
  Dump(kept_failed, 1);
  Dump(L"notes.dmp", 1);

  std::vector<std::wstring> uploads;
  g_uploads = &uploads;
  EXPECT_EQ(kMaxLeftoverUploads, HandleLeftoverDumps(scratch_.path(), &RecordUpload));
  g_uploads = nullptr;

  // Each went out under a name of this reporter, so a reporter started meanwhile left it.
  ASSERT_EQ(kMaxLeftoverUploads, uploads.size());
  for (const std::wstring& name : uploads)
    EXPECT_EQ(GetCurrentProcessId(), ParseDumpReporterId(name)) << base::WideToUTF8(name);
  std::set<std::wstring> left;
  base::FileEnumerator files(scratch_.path(), false, base::FileEnumerator::FILES, L"");
  for (base::FilePath path = files.Next(); !path.empty(); path = files.Next())
    left.insert(path.BaseName().value());
  std::set<std::wstring> expected = {running, kept_failed, L"notes.dmp"};
  expected.insert(uploads.begin(), uploads.end());
  EXPECT_EQ(expected, left);
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

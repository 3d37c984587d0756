#include "desktop/windows/installer/elevated_helper/cleanup_batch.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/files/file_util.h"
#include "base/files/scratch_dir_test_util.h"
#include "base/strings/utf_string_conversions.h"

namespace installer {
namespace testing {
namespace {

// Why the batch was refused, for a failing check's message; empty when it was not.
std::string Why(const base::Result<CleanupBatch>& result) {
  return result.ok() ? std::string() : result.failure().text;
}

TEST(CleanupBatchTest, WaitsForEachProcessThenDeletesChildrenBeforeParents) {
  CleanupBatch batch;
  batch.pids = {100, 0, 300};
  batch.failed_files = {L"C:\\V\\1\\res\\a.dat", L"C:\\V\\Zw\u00f6lf.dll"};
  batch.folders = {L"C:\\V", L"C:\\V\\1\\res", L"C:\\V\\1"};
  EXPECT_EQ(
      "chcp 65001>nul\r\n"
      "SET PID1_RUNNING=TRUE\r\n"
      "SET PID3_RUNNING=TRUE\r\n"
      ":again\r\n"
      "IF %PID1_RUNNING%==TRUE (\r\n"
      "TASKLIST /FI \"PID eq 100\" | FIND /c /i \".exe\"\r\n"
      "IF ERRORLEVEL 1 SET PID1_RUNNING=FALSE\r\n"
      ")\r\n"
      "IF %PID3_RUNNING%==TRUE (\r\n"
      "TASKLIST /FI \"PID eq 300\" | FIND /c /i \".exe\"\r\n"
      "IF ERRORLEVEL 1 SET PID3_RUNNING=FALSE\r\n"
      ")\r\n"
      "ping -n 2 127.0.0.1\r\n"
      "IF %PID1_RUNNING%==TRUE GOTO :again\r\n"
      "IF %PID3_RUNNING%==TRUE GOTO :again\r\n"
      "del \"C:\\V\\1\\res\\a.dat\"\r\n"
      "del \"C:\\V\\Zw\xc3\xb6lf.dll\"\r\n"
      "rmdir \"C:\\V\\1\\res\"\r\n"
      "rmdir \"C:\\V\\1\"\r\n"
      "rmdir \"C:\\V\"\r\n"
      "del %0\r\n",
      BuildCleanupBatchText(batch));
}

// The elevated helper runs the batch only when it is what the writer writes for the
// install folder: any other command, or a deletion outside, is refused.
TEST(CleanupBatchTest, ValidatorAcceptsWhatTheWriterWritesAndNothingMore) {
  const base::FilePath install(L"C:\\Velum Test\\Install");
  CleanupBatch batch;
  batch.pids = {100, 0, 300};
  batch.failed_files = {L"C:\\Velum Test\\Install\\1.0\\res\\a.dat",
                        L"C:\\Velum Test\\Install\\Zw\u00f6lf.dll"};
  // The writer names every folder above a failed file, up to the drive.
  batch.folders = {L"C:\\Velum Test\\Install\\1.0\\res", L"C:\\Velum Test\\Install\\1.0",
                   L"C:\\Velum Test\\Install", L"C:\\Velum Test"};
  const std::string text = BuildCleanupBatchText(batch);
  const base::Result<CleanupBatch> read = ValidateCleanupBatchText(text, install);
  ASSERT_TRUE(read.ok()) << Why(read);
  EXPECT_EQ(text, BuildCleanupBatchText(read.value()));
  CleanupBatch only_self;
  only_self.pids = {7};
  const base::Result<CleanupBatch> self =
      ValidateCleanupBatchText(BuildCleanupBatchText(only_self), install);
  EXPECT_TRUE(self.ok()) << Why(self);

  const std::string last = "del %0\r\n";
  const std::string head = text.substr(0, text.size() - last.size());
  // The writer's own batch with one more deletion or folder: in its place, so that
  // only the path check can refuse it.
  auto with_file = [&batch](const wchar_t* path) {
    CleanupBatch more = batch;
    more.failed_files.push_back(path);
    return BuildCleanupBatchText(more);
  };
  auto with_folder = [&batch](const wchar_t* path) {
    CleanupBatch more = batch;
    more.folders.push_back(path);
    return BuildCleanupBatchText(more);
  };
  const struct {
    const char* name;
    std::string text;
  } refused[] = {
      {"an extra command", head + "echo x > C:\\pwned\r\n" + last},
      {"a command after the end", text + "echo x > C:\\pwned\r\n"},
      {"a command on a del line", with_file(L"C:\\Velum Test\\Install\\a\" & calc")},
      {"a del outside", with_file(L"C:\\Windows\\system.ini")},
      {"a del of a sibling", with_file(L"C:\\Velum Test\\Install2\\a")},
      {"a del of the folder itself", with_file(L"C:\\Velum Test\\Install")},
      {"a del that climbs out", with_file(L"C:\\Velum Test\\Install\\..\\x")},
      {"a del with a variable", with_file(L"C:\\Velum Test\\Install\\%WINDIR%")},
      {"a del with a wildcard", with_file(L"C:\\Velum Test\\Install\\*")},
      {"an rmdir elsewhere", with_folder(L"C:\\Windows\\Temp")},
      {"lines out of order", "chcp 65001>nul\r\n:again\r\n" + text.substr(16)},
      {"bare line feeds", "chcp 65001>nul\n" + text.substr(16)},
      {"no wait", "chcp 65001>nul\r\ndel %0\r\n"},
      {"empty", ""},
  };
  for (const auto& c : refused) {
    const base::Result<CleanupBatch> result = ValidateCleanupBatchText(c.text, install);
    EXPECT_FALSE(result.ok()) << c.name;
    EXPECT_FALSE(Why(result).empty()) << c.name;
  }
}

// The writer names non-ASCII paths by their short names and numbers every process it
// waits for: whatever it writes for an existing installation is accepted.
TEST(CleanupBatchTest, ValidatorAcceptsEveryBatchTheWriterMakes) {
  base::ScratchDir scratch;
  ASSERT_FALSE(scratch.path().empty());
  const wchar_t* const kNames[] = {
      L"J\u00f6rg Velum",
      L"\u041f\u0440\u043e\u0433\u0440\u0430\u043c\u043c\u044b",
      L"\u540d\u524d\u306e\u30d5\u30a9\u30eb\u30c0",
      L"\u0395\u03bb\u03bb\u03b7\u03bd\u03b9\u03ba\u03ac",
      L"Caf\u00e9 cr\u00e8me",
      L"a folder name well past eight letters, with blanks",
  };
  for (const wchar_t* name : kNames) {
    const base::FilePath install = scratch.path().Append(name);
    const base::FilePath resources = install.Append(L"1.0").Append(name);
    const base::FilePath file = resources.Append(std::wstring(name) + L" \u540d\u524d.dll");
    ASSERT_TRUE(base::CreateDirectory(resources));
    ASSERT_TRUE(base::WriteTextFile(file, "x"));
    CleanupBatch batch;
    batch.failed_files = {file.value(), install.Append(L"launcher.exe").value()};
    for (base::FilePath folder = file.DirName(); folder.DirName() != folder;
         folder = folder.DirName())
      batch.folders.push_back(folder.value());
    for (uint32_t count = 1; count <= 12; ++count) {
      batch.pids.push_back(count % 3 == 2 ? 0 : 4000 + count);
      const base::Result<CleanupBatch> result =
          ValidateCleanupBatchText(BuildCleanupBatchText(batch), install);
      EXPECT_TRUE(result.ok()) << install.AsUTF8() << ", " << count
                               << " processes: " << Why(result);
    }
  }
}

}  // namespace
}  // namespace testing
}  // namespace installer

#include "desktop/windows/installer/elevated_helper/cleanup_batch.h"

#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/files/file_util.h"
#include "base/files/scratch_dir_test_util.h"
#include "base/base_paths_win.h"
#include "base/path_service.h"
#include "base/process/launch.h"
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
  batch.failed_files = {L"C:\\V\\1\\res\\a.dat", L"C:\\V\\Zw\u00f6lf.dll",
                        L"C:\\V\\50%off & a!b^c.dat"};
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
      "del \"C:\\V\\50%%off & a!b^c.dat\"\r\n"
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
      {"a del with a variable", head + "del \"C:\\Velum Test\\Install\\%WINDIR%\"\r\n" + last},
      {"a del with a lone percent", head + "del \"C:\\Velum Test\\Install\\50%off\"\r\n" + last},
      {"a del whose variable climbs out",
       head + "del \"C:\\Velum Test\\Install\\%x%..\\..\\..\\Windows\\win.ini\"\r\n" + last},
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
    for (uint32_t count = 1; count <= 3; ++count) {
      batch.pids.push_back(count % 3 == 2 ? 0 : 4000 + count);
      const base::Result<CleanupBatch> result =
          ValidateCleanupBatchText(BuildCleanupBatchText(batch), install);
      EXPECT_TRUE(result.ok()) << install.AsUTF8() << ", " << count
                               << " processes: " << Why(result);
    }
  }
}

// An uninstallation waits for three processes at most: a planted number past that is
// refused before anything is sized by it.
TEST(CleanupBatchTest, ValidatorRefusesProcessNumbersPastTheWritersOwn) {
  const base::FilePath install(L"C:\\Velum Test\\Install");
  CleanupBatch four;
  four.pids = {1, 2, 3, 4};
  EXPECT_FALSE(ValidateCleanupBatchText(BuildCleanupBatchText(four), install).ok());
  // The writer's text for one process with a second one numbered near 2^32.
  CleanupBatch one;
  one.pids = {100};
  std::string text = BuildCleanupBatchText(one);
  const auto insert_after = [&text](const std::string& line, const std::string& added) {
    const size_t at = text.find(line);
    ASSERT_NE(std::string::npos, at) << line;
    text.insert(at + line.size(), added);
  };
  insert_after("SET PID1_RUNNING=TRUE\r\n", "SET PID4294967295_RUNNING=TRUE\r\n");
  insert_after("IF ERRORLEVEL 1 SET PID1_RUNNING=FALSE\r\n)\r\n",
               "IF %PID4294967295_RUNNING%==TRUE (\r\n"
               "TASKLIST /FI \"PID eq 200\" | FIND /c /i \".exe\"\r\n"
               "IF ERRORLEVEL 1 SET PID4294967295_RUNNING=FALSE\r\n)\r\n");
  insert_after("IF %PID1_RUNNING%==TRUE GOTO :again\r\n",
               "IF %PID4294967295_RUNNING%==TRUE GOTO :again\r\n");
  EXPECT_FALSE(ValidateCleanupBatchText(text, install).ok());
}

// The id of a process that has ended: the batch's wait passes at once.
uint32_t EndedProcessId() {
  base::FilePath system_folder;
  if (!base::PathRegistry::Get(base::DIR_SYSTEM, &system_folder)) return 0;
  base::LaunchOptions options;
  options.start_hidden = true;
  base::Process process = base::LaunchProcess(
      L"\"" + system_folder.Append(L"cmd.exe").value() + L"\" /d /c exit 0", options);
  int32_t exit_code = 0;
  return process.IsValid() && process.WaitForExit(&exit_code) ? process.Pid() : 0;
}

// What the writer writes, run by cmd as the uninstaller starts it, deletes exactly the
// named files and folders: "%" and the characters cmd treats specially elsewhere stand
// for themselves, in the batch's own path too; non-ASCII names by their short forms.
TEST(CleanupBatchTest, CmdDeletesExactlyWhatTheBatchNames) {
  base::ScratchDir scratch;
  ASSERT_FALSE(scratch.path().empty());
  const base::FilePath root = scratch.path().Append(L"root 50%off & !x! ^");
  // Each name, and what cmd would make of it with "%" read as a variable, delayed
  // expansion, or a caret read as an escape: that folder must stay.
  const struct {
    const wchar_t* name;
    const wchar_t* misread;
  } kNames[] = {
      {L"50%off", L"50off"},          {L"a%zz%b", L"ab"},          {L"%PATH%", nullptr},
      {L"x!y!z", L"xz"},              {L"a^b", L"ab"},             {L"T&M", nullptr},
      {L"J\u00f6rg 5%", nullptr},     {L"\u540d 1%2 !^&", nullptr},
  };
  CleanupBatch batch;
  const uint32_t ended = EndedProcessId();
  ASSERT_NE(0u, ended);
  batch.pids = {ended};
  std::vector<base::FilePath> kept;
  for (const auto& name : kNames) {
    const base::FilePath version = root.Append(name.name).Append(L"1.0");
    const base::FilePath file = version.Append(L"installer.exe");
    ASSERT_TRUE(base::CreateDirectory(version)) << version.AsUTF8();
    ASSERT_TRUE(base::WriteTextFile(file, "x"));
    batch.failed_files.push_back(file.value());
    batch.folders.push_back(version.value());
    batch.folders.push_back(version.DirName().value());
    if (!name.misread) continue;
    const base::FilePath other = root.Append(name.misread).Append(L"1.0\\installer.exe");
    ASSERT_TRUE(base::CreateDirectory(other.DirName()));
    ASSERT_TRUE(base::WriteTextFile(other, "another folder's"));
    kept.push_back(other);
  }
  const std::string text = BuildCleanupBatchText(batch);
  const base::Result<CleanupBatch> read = ValidateCleanupBatchText(text, root);
  ASSERT_TRUE(read.ok()) << Why(read);
  const base::FilePath batch_file = root.Append(kCleanupBatchFileName);
  ASSERT_TRUE(base::WriteTextFile(batch_file, text));

  base::Process process = StartCleanupBatch(batch_file);
  ASSERT_TRUE(process.IsValid());
  int32_t exit_code = 0;
  ASSERT_TRUE(process.WaitForExit(&exit_code));
  for (const std::wstring& file : batch.failed_files)
    EXPECT_FALSE(base::PathExists(base::FilePath(file))) << base::WideToUTF8(file);
  for (const std::wstring& folder : batch.folders)
    EXPECT_FALSE(base::PathExists(base::FilePath(folder))) << base::WideToUTF8(folder);
  for (const base::FilePath& file : kept) EXPECT_TRUE(base::PathExists(file)) << file.AsUTF8();
  EXPECT_FALSE(base::PathExists(batch_file));
}

// What starts the batch reads it through a handle of its folder: a link in its place
// (whatever it leads to), or a text that holds more than an uninstallation's clean-up of
// that folder (whoever can write the folder may have put it there), is not started.
TEST(CleanupBatchTest, OnlyTheFoldersOwnCleanUpIsStarted) {
  base::ScratchDir scratch;
  ASSERT_FALSE(scratch.path().empty());
  const base::FilePath ours = scratch.path().Append(L"Velum");
  const base::FilePath other = scratch.path().Append(L"Other");
  const base::FilePath marker = scratch.path().Append(L"marker");
  CleanupBatch batch;
  batch.pids = {EndedProcessId()};
  ASSERT_NE(0u, batch.pids[0]);
  CleanupBatch theirs = batch;
  theirs.failed_files = {other.Append(L"installer.exe").value()};
  const std::string planted = "chcp 65001>nul\r\necho ran> \"" + marker.AsUTF8() + "\"\r\n" +
                              BuildCleanupBatchText(batch).substr(sizeof("chcp 65001>nul\r\n") - 1);
  const struct {
    const char* name;
    const wchar_t* link;  // in `other`, where the batch's name leads; null: no link
    std::string text;     // of the file the batch's name leads to
  } cases[] = {
      {"a link to another folder's batch", kCleanupBatchFileName, BuildCleanupBatchText(theirs)},
      {"a link to this folder's clean-up", L"copy.bat", BuildCleanupBatchText(batch)},
      {"a line more", nullptr, planted},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // Only Wine's host links can name a file; Windows' junctions are folders.
    if (c.link && !base::RunningUnderWine()) continue;
    ASSERT_TRUE(base::CreateDirectory(ours));
    ASSERT_TRUE(base::CreateDirectory(other));
    ASSERT_TRUE(base::WriteTextFile(other.Append(L"installer.exe"), "another program's"));
    const base::FilePath batch_file = ours.Append(kCleanupBatchFileName);
    const base::FilePath written = c.link ? other.Append(c.link) : batch_file;
    ASSERT_TRUE(base::WriteTextFile(written, c.text));
    std::string error;
    if (c.link) {
      ASSERT_TRUE(base::MakeDirectoryLink(batch_file, written, &error)) << error;
    }
    base::Process process = StartCleanupBatch(batch_file);
    int32_t exit_code = 0;
    EXPECT_FALSE(process.IsValid() && process.WaitForExit(&exit_code));
    EXPECT_TRUE(base::PathExists(other.Append(L"installer.exe")));
    EXPECT_TRUE(base::PathExists(written));
    EXPECT_FALSE(base::PathExists(marker));
    if (c.link) {
      EXPECT_TRUE(base::RemoveDirectoryLink(batch_file));
    }
    ASSERT_TRUE(base::DeleteFile(ours, true));
    ASSERT_TRUE(base::DeleteFile(other, true));
    ASSERT_TRUE(base::DeleteFile(marker, false));
  }
}

// Points TMP at `folder` while it lives, so the copies a test makes land there.
class ScopedTemp {
 public:
  explicit ScopedTemp(const base::FilePath& folder) {
    const DWORD length = GetEnvironmentVariableW(L"TMP", old_, 1024);
    had_old_ = length > 0 && length < 1024;
    set_ = length < 1024 && SetEnvironmentVariableW(L"TMP", folder.value().c_str());
  }
  ~ScopedTemp() { SetEnvironmentVariableW(L"TMP", had_old_ ? old_ : nullptr); }
  ScopedTemp(const ScopedTemp&) = delete;
  ScopedTemp& operator=(const ScopedTemp&) = delete;
  bool set() const { return set_; }

 private:
  wchar_t old_[1024] = {};
  bool had_old_ = false;
  bool set_ = false;
};

// The batch's own path may hold "%", which Wine's cmd expands once more where it starts
// the batch and in %0 (Windows' does not): the batch named by what cmd would make of the
// path is neither run nor deleted, and ours, with the file it deletes, is gone. The copy
// it ran from, in the user's Temp, is gone too.
TEST(CleanupBatchTest, TheBatchStartsAndDeletesItselfByNoPathCmdReadsAgain) {
  base::ScratchDir scratch;
  ASSERT_FALSE(scratch.path().empty());
  wchar_t user[256] = {};
  const DWORD user_length = GetEnvironmentVariableW(L"USERNAME", user, 256);
  ASSERT_TRUE(user_length > 0 && user_length < 256);
  const uint32_t ended = EndedProcessId();
  ASSERT_NE(0u, ended);
  // A Temp of its own: other tests' runs leave and remove their copies in the shared one.
  const base::FilePath temp = scratch.path().Append(L"temp");
  ASSERT_TRUE(base::CreateDirectory(temp));
  const ScopedTemp own_temp(temp);
  ASSERT_TRUE(own_temp.set());
  const auto copies_in_temp = [&temp] {
    int count = 0;
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW(temp.Append(L"VelumCleanup-*.bat").value().c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return 0;
    do ++count; while (FindNextFileW(find, &found));
    FindClose(find);
    return count;
  };
  const int copies_before = copies_in_temp();
  const struct {
    const wchar_t* name;
    std::wstring misread;
  } kFolders[] = {{L"50%off", L"50off"}, {L"%USERNAME%", user}};
  for (const auto& folder : kFolders) {
    SCOPED_TRACE(base::WideToUTF8(folder.name));
    const base::FilePath ours = scratch.path().Append(folder.name).Append(L"Velum");
    const base::FilePath other = scratch.path().Append(folder.misread).Append(L"Velum");
    const base::FilePath marker = scratch.path().Append(L"other batch ran");
    ASSERT_TRUE(base::CreateDirectory(ours));
    ASSERT_TRUE(base::CreateDirectory(other));
    for (const base::FilePath& place : {ours, other})
      ASSERT_TRUE(base::WriteTextFile(place.Append(L"installer.exe"), "x"));
    // Another program's batch where the misread path leads.
    ASSERT_TRUE(base::WriteTextFile(other.Append(kCleanupBatchFileName),
                                    "echo ran> \"" + marker.AsUTF8() + "\"\r\n"));
    CleanupBatch batch;
    batch.pids = {ended};
    batch.failed_files = {ours.Append(L"installer.exe").value()};
    const base::FilePath batch_file = ours.Append(kCleanupBatchFileName);
    ASSERT_TRUE(base::WriteTextFile(batch_file, BuildCleanupBatchText(batch)));

    base::Process process = StartCleanupBatch(batch_file);
    ASSERT_TRUE(process.IsValid());
    int32_t exit_code = 0;
    ASSERT_TRUE(process.WaitForExit(&exit_code));
    EXPECT_FALSE(base::PathExists(ours.Append(L"installer.exe")));
    EXPECT_FALSE(base::PathExists(batch_file));
    EXPECT_TRUE(base::PathExists(other.Append(L"installer.exe")));
    EXPECT_TRUE(base::PathExists(other.Append(kCleanupBatchFileName)));
    EXPECT_FALSE(base::PathExists(marker));
  }
  EXPECT_EQ(copies_before, copies_in_temp());
}

// A Temp folder whose path holds "%" would be read again too: no copy is made there, and
// nothing is started.
TEST(CleanupBatchTest, NoCopyWhereTheTempFoldersPathHoldsAPercent) {
  base::ScratchDir scratch;
  ASSERT_FALSE(scratch.path().empty());
  const base::FilePath temp = scratch.path().Append(L"%TEMP% 50%off");
  ASSERT_TRUE(base::CreateDirectory(temp));
  const base::FilePath batch_file = scratch.path().Append(kCleanupBatchFileName);
  CleanupBatch batch;
  batch.pids = {EndedProcessId()};
  ASSERT_TRUE(base::WriteTextFile(batch_file, BuildCleanupBatchText(batch)));
  wchar_t old_tmp[1024] = {};
  const DWORD old_length = GetEnvironmentVariableW(L"TMP", old_tmp, 1024);
  ASSERT_LT(old_length, 1024u);
  ASSERT_TRUE(SetEnvironmentVariableW(L"TMP", temp.value().c_str()));
  const base::Result<base::FilePath> copy = CopyCleanupBatchToTemp(batch_file);
  base::Process process = StartCleanupBatch(batch_file);
  EXPECT_TRUE(SetEnvironmentVariableW(L"TMP", old_length ? old_tmp : nullptr));
  EXPECT_FALSE(copy.ok());
  EXPECT_FALSE(process.IsValid());
  EXPECT_TRUE(base::PathExists(batch_file));
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW(temp.Append(L"*.bat").value().c_str(), &found);
  EXPECT_EQ(INVALID_HANDLE_VALUE, find) << base::WideToUTF8(found.cFileName);
  if (find != INVALID_HANDLE_VALUE) FindClose(find);
}

// A copy ends by deleting the batch it was copied from by its path as written, "%"
// doubled, and only then itself; a text without the usual end gets it.
TEST(CleanupBatchTest, ACopyDeletesItsBatchByItsWrittenPathThenItself) {
  EXPECT_EQ("chcp 65001>nul\r\nrmdir \"C:\\A\"\r\ndel \"C:\\A\\50%%off\\k.bat\"\r\ndel %0\r\n",
            BuildCleanupBatchCopyText("chcp 65001>nul\r\nrmdir \"C:\\A\"\r\ndel %0\r\n",
                                      base::FilePath(L"C:\\A\\50%off\\k.bat")));
  EXPECT_EQ("@cd\r\ndel \"C:\\k.bat\"\r\ndel %0\r\n",
            BuildCleanupBatchCopyText("@cd", base::FilePath(L"C:\\k.bat")));
}

// cmd looks for its tools in its working folder first: the batch starts in the system
// folder, whatever the caller's is.
TEST(CleanupBatchTest, StartsInTheSystemFolder) {
  base::ScratchDir scratch;
  ASSERT_FALSE(scratch.path().empty());
  const base::FilePath written = scratch.path().Append(L"working folder.txt");
  const base::FilePath batch_file = scratch.path().Append(L"cd.bat");
  ASSERT_TRUE(base::WriteTextFile(batch_file, "@cd > \"" + written.AsUTF8() + "\"\r\n"));
  wchar_t old_directory[MAX_PATH] = {};
  ASSERT_NE(0u, GetCurrentDirectoryW(MAX_PATH, old_directory));
  ASSERT_TRUE(SetCurrentDirectoryW(scratch.path().value().c_str()));
  base::Process process = StartBatchCopy(batch_file);
  EXPECT_TRUE(SetCurrentDirectoryW(old_directory));
  ASSERT_TRUE(process.IsValid());
  int32_t exit_code = 0;
  ASSERT_TRUE(process.WaitForExit(&exit_code));
  std::string text;
  ASSERT_TRUE(base::ReadFileToString(written, &text));
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
    text.pop_back();
  base::FilePath system_folder;
  ASSERT_TRUE(base::PathRegistry::Get(base::DIR_SYSTEM, &system_folder));
  EXPECT_EQ(0, base::FilePath::CompareIgnoreCase(base::UTF8ToWide(text), system_folder.value()))
      << text;
}

// Windows' cmd runs the AutoRun command the user's registry names unless told not to
// (/d), and its DelayedExpansion would make "!" special (/v:off); the batch's path comes
// from the environment, never from the command line, where "%" cannot be escaped.
TEST(CleanupBatchTest, CommandSkipsAutoRunAndDelayedExpansion) {
  EXPECT_EQ(L"\"C:\\W\\cmd.exe\" /d /v:off /c \"\"%VELUM_CLEANUP_BATCH%\" >nul 2>&1\"",
            BuildCleanupBatchCommand(base::FilePath(L"C:\\W\\cmd.exe")));
  // An inherited variable of that name, in any case, is not handed on beside it.
  ASSERT_TRUE(SetEnvironmentVariableW(L"Velum_Cleanup_Batch", L"C:\\planted.bat"));
  const std::wstring environment = BuildCleanupBatchEnvironment(base::FilePath(L"C:\\a%PATH%"));
  EXPECT_TRUE(SetEnvironmentVariableW(L"Velum_Cleanup_Batch", nullptr));
  int named = 0;
  for (const wchar_t* entry = environment.c_str(); *entry; entry += wcslen(entry) + 1) {
    EXPECT_FALSE(_wcsnicmp(entry, L"VELUM_CLEANUP_BATCH=", 20) == 0 &&
                 wcscmp(entry, L"VELUM_CLEANUP_BATCH=C:\\a%PATH%") != 0)
        << base::WideToUTF8(entry);
    named += wcscmp(entry, L"VELUM_CLEANUP_BATCH=C:\\a%PATH%") == 0;
  }
  EXPECT_EQ(1, named);
}

}  // namespace
}  // namespace testing
}  // namespace installer

#include "desktop/windows/installer/steps/uninstall_steps.h"

#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/base_paths_win.h"
#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/files/important_file_writer.h"
#include "base/files/scratch_dir_test_util.h"
#include "base/path_service.h"
#include "base/process/process.h"
#include "base/test/log_capture_test_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_handle.h"
#include "base/win/windows_version.h"
#include "desktop/common/autoupdate/updatechecker/product_config.h"
#include "desktop/common/names/kernel_object_names.h"
#include "desktop/common/names/switches.h"
#include "desktop/windows/installer/elevated_helper/cleanup_batch.h"
#include "desktop/windows/installer/program_log_test_util.h"
#include "desktop/windows/installer/service/install_log_writer.h"
#include "desktop/windows/installer/service/installation_info_impl.h"
#include "desktop/windows/installer/service/transactions/file_operation_test_util.h"
#include "desktop/windows/installer/service/transactions/system_snapshot_test_util.h"
#include "desktop/windows/installer/test_package_test_util.h"
#include "desktop/windows/installer/service/kernel_object_name.h"

namespace installer {
namespace testing {
namespace {

TEST(ReinstallCommandTest, SplitsAtTheQuoteOrTheFirstBlank) {
  const struct {
    const wchar_t* command;
    const wchar_t* program;
    const wchar_t* parameters;
  } cases[] = {
      {L"\"C:\\Program Files\\ie4uinit.exe\" -reinstall", L"C:\\Program Files\\ie4uinit.exe",
       L"-reinstall"},
      {L"\"C:\\Program Files\\ie4uinit.exe\"", L"C:\\Program Files\\ie4uinit.exe", L""},
      {L"%SystemRoot%\\ie4uinit.exe -reinstall -x", L"%SystemRoot%\\ie4uinit.exe",
       L"-reinstall -x"},
      {L"ie4uinit.exe", L"ie4uinit.exe", L""},
      {L"", L"", L""},
  };
  for (const auto& test : cases) {
    std::wstring program = L"stale";
    std::wstring parameters = L"stale";
    SplitReinstallCommand(test.command, &program, &parameters);
    EXPECT_EQ(test.program, program);
    EXPECT_EQ(test.parameters, parameters);
  }
}

TEST(SurveyCommandTest, QuotesThePathAndTheAddress) {
  const base::FilePath program_files(L"C:\\Program Files");
  EXPECT_EQ(L"\"C:\\Program Files\\Internet Explorer\\iexplore.exe\" -private "
            L"\"https://x/s?version=1&a=b\"",
            BuildSurveyCommand(program_files, L"https://x/s?version=1&a=b",
                               base::OS_VERSION_WIN8));
  EXPECT_EQ(L"\"C:\\Program Files\\Internet Explorer\\iexplore.exe\" \"https://x/s\"",
            BuildSurveyCommand(program_files, L"https://x/s", base::OS_VERSION_WIN7));
}

class UninstallStepsTest : public ProgramLogTest {
 protected:
  void SetUp() override {
    ProgramLogTest::SetUp();
    if (HasFatalFailure()) return;
    UsePackage(CopyPackage());
  }

  void Uninstall() {
    InstallationRun run;
    run.uninstall = true;
    Run(&run);
    ASSERT_TRUE(run.succeeded) << ::testing::PrintToString(run.events);
  }

  // Installs; the version folder the record names, empty without a record.
  base::FilePath InstallVersion() {
    Install();
    std::unique_ptr<InstallLog> record =
        ReadRecord(install_folder_.Append(L"installation_status.xml"));
    return record ? install_folder_.Append(record->subfolder) : base::FilePath();
  }

  // The product's shortcuts on the desktop and in the Start Menu.
  size_t CountShortcuts() {
    size_t count = 0;
    for (const base::FilePath& folder : {desktop_, start_menu_}) {
      base::FileEnumerator shortcuts(folder, false, base::FileEnumerator::FILES, L"Velum*.lnk");
      for (base::FilePath path = shortcuts.Next(); !path.empty(); path = shortcuts.Next()) ++count;
    }
    return count;
  }
  // `path` opened sharing only reading: nobody can rename or delete it meanwhile.
  static base::ScopedHandle Lock(const base::FilePath& path) {
    return base::ScopedHandle(CreateFileW(path.value().c_str(), GENERIC_READ, FILE_SHARE_READ,
                                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  }

  std::string AppId() {
    std::unique_ptr<InstallLog> record =
        ReadRecord(install_folder_.Append(L"installation_status.xml"));
    return record ? record->app_id : std::string();
  }
};

// The batch's own text and the note it removes at its end, as the uninstallation leaves
// them for the files `left`.
CleanupBatch ExpectedBatch(const std::vector<base::FilePath>& left, uint32_t initial_pid,
                           const base::FilePath& note) {
  CleanupBatch batch;
  batch.pids = {GetCurrentProcessId(), initial_pid, 0};
  std::set<std::wstring> folders;
  for (const base::FilePath& path : left) {
    batch.failed_files.push_back(path.value());
    for (base::FilePath folder = path.DirName(); folder.DirName() != folder;
         folder = folder.DirName())
      folders.insert(folder.value());
  }
  if (!note.empty()) {
    batch.failed_files.push_back(note.value());
    folders.insert(note.DirName().value());
  }
  batch.folders.assign(folders.begin(), folders.end());
  return batch;
}

// An uninstallation removes the record and the files; what stays goes to the batch file,
// which deletes it once the uninstaller and the processes it waits for have ended. The
// batch removes the run's note after it only when that wait frees it (a program it waits
// for runs from it); else the note is kept naming it alone, and once it is free the next
// run in the folder finishes it. So for a file of an earlier version that an upgrade kept:
// its record goes all the same (a set-aside name past MAX_PATH fails as the lock does).
TEST_F(UninstallStepsTest, TheBatchRemovesTheNoteOnlyWhenItsWaitFreesWhatIsLeft) {
  enum class Holder { kWaitedProgram, kOtherProgram, kHandle };
  enum class Next { kNone, kInstallOnceFree, kInstallWhileHeldThenUninstall };
  const struct {
    const char* name;
    Holder holder;
    const wchar_t* held;  // in the version folder
    bool upgraded;
    Next next;  // the runs after the batch
  } cases[] = {
      {"a program the batch waits for", Holder::kWaitedProgram, L"installer_helper_64.exe", false,
       Next::kNone},
      {"another program", Holder::kOtherProgram, L"installer_helper_64.exe", false,
       Next::kInstallWhileHeldThenUninstall},
      {"another program's handle", Holder::kHandle, L"resources\\app.dat", false,
       Next::kInstallOnceFree},
      {"another program's handle on an earlier version's file", Holder::kHandle,
       L"resources\\app.dat", true, Next::kInstallWhileHeldThenUninstall},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    system_services_.started_batches.clear();
    ClearProcessSwitches();
    const base::FilePath version_folder = InstallVersion();
    ASSERT_FALSE(version_folder.empty());
    const base::FilePath held = version_folder.Append(c.held);
    base::ScopedHandle holder = c.holder == Holder::kHandle ? Lock(held)
                                                            : StartSleepingFakeProgram(held);
    ASSERT_TRUE(holder.IsValid());
    const uint32_t initial_pid =
        c.holder == Holder::kWaitedProgram ? GetProcessId(holder.Get()) : 0;
    if (initial_pid) AddProcessSwitch(switches::kInitialPid, std::to_wstring(initial_pid));
    if (c.upgraded) Install(kV2);
    Uninstall();

    EXPECT_FALSE(base::PathExists(install_folder_.Append(L"installation_status.xml")));
    EXPECT_FALSE(base::PathExists(install_folder_.Append(L"launcher.exe")));
    EXPECT_FALSE(base::PathExists(version_folder.Append(L"velum.exe")));
    EXPECT_FALSE(base::PathExists(version_folder.Append(L"resources\\locales\\en-US.dat")));
    EXPECT_FALSE(base::PathExists(install_folder_.Append(L"root_readme.txt")));
    EXPECT_TRUE(base::PathExists(held));

    const base::FilePath batch_file = install_folder_.Append(L"k.bat");
    ASSERT_EQ(std::vector<base::FilePath>{batch_file}, system_services_.started_batches);
    // The enumeration's handle on the folder is let go: Wine keeps a folder held open.
    const base::FilePath note = base::FileEnumerator(install_folder_.Append(L"old_status"), false,
                                                     base::FileEnumerator::FILES, L"run.*.note")
                                    .Next();
    ASSERT_FALSE(note.empty());
    const bool waited = c.holder == Holder::kWaitedProgram;
    std::string text;
    ASSERT_TRUE(base::ReadFileToString(batch_file, &text));
    // The same text for what stays, the note's own lines only when the batch removes it.
    EXPECT_EQ(BuildCleanupBatchText(ExpectedBatch({held}, initial_pid,
                                                  waited ? note : base::FilePath())),
              text);
    // The deepest folder first.
    const size_t deepest = text.find("rmdir \"" + held.DirName().AsUTF8() + "\"");
    EXPECT_NE(std::string::npos, deepest);
    EXPECT_LT(deepest, text.find("rmdir \"" + install_folder_.AsUTF8() + "\""));
    if (!waited) {
      std::string kept;
      ASSERT_TRUE(base::ReadFileToString(note, &kept));
      EXPECT_NE(std::string::npos,
                kept.find("\nleft-remove " + base::WideToUTF8(version_folder.BaseName().value()) +
                          "\\" + base::WideToUTF8(c.held) + "\nend\n"))
          << kept;
      EXPECT_EQ(std::string::npos, kept.find("\ncommitting\n")) << kept;
    }

    // The uninstaller has ended: the batch file runs as the system would start it, while
    // only a program it waits for has ended.
    if (waited) {
      TerminateProcess(holder.Get(), 0);
      WaitForSingleObject(holder.Get(), INFINITE);
    }
    base::Process batch = StartCleanupBatch(batch_file);
    ASSERT_TRUE(batch.IsValid());
    int32_t exit_code = 0;
    ASSERT_TRUE(batch.WaitForExit(&exit_code));
    EXPECT_EQ(!waited, base::PathExists(note));
    if (c.next == Next::kInstallWhileHeldThenUninstall) {
      // A run that makes none of the names the note keeps goes on beside it.
      Install(kV2);
      EXPECT_TRUE(base::PathExists(note));
    }
    if (c.holder == Holder::kOtherProgram) {
      TerminateProcess(holder.Get(), 0);
      WaitForSingleObject(holder.Get(), INFINITE);
    }
    holder.Close();
    EXPECT_EQ(!waited, base::PathExists(held));
    if (c.next == Next::kInstallOnceFree) Install();
    if (c.next != Next::kNone) Uninstall();
    EXPECT_FALSE(base::PathExists(note.DirName()));
    EXPECT_FALSE(base::PathExists(version_folder));
    ASSERT_TRUE(base::DeleteFile(install_folder_, true));
  }
}

// The uninstall entry's launcher started the front end and waits for it: its own file,
// which it holds, is freed when the front end the batch waits for ends, so the batch
// removes the note after it.
TEST_F(UninstallStepsTest, TheLauncherThatStartedTheFrontEndFreesItsFileForTheBatch) {
  const base::FilePath version_folder = InstallVersion();
  ASSERT_FALSE(version_folder.empty());
  const base::FilePath launcher = install_folder_.Append(L"launcher.exe");
  ASSERT_TRUE(base::CopyFile(launcher, version_folder.Append(L"installer.exe")));
  const std::wstring tag = std::to_wstring(GetCurrentProcessId());
  base::ScopedHandle ready(CreateEventW(nullptr, TRUE, FALSE, (L"VelumFrontReady" + tag).c_str()));
  base::ScopedHandle release(
      CreateEventW(nullptr, TRUE, FALSE, (L"VelumFrontRelease" + tag).c_str()));
  ASSERT_TRUE(ready.IsValid() && release.IsValid());
  ScopedEnvironmentVariable role(L"VELUM_FAKE_PROGRAM_HOLD_ROLE", L"installer.exe");
  ScopedEnvironmentVariable ready_name(L"VELUM_FAKE_PROGRAM_READY_EVENT", L"VelumFrontReady" + tag);
  ScopedEnvironmentVariable hold_name(L"VELUM_FAKE_PROGRAM_HOLD_EVENT", L"VelumFrontRelease" + tag);
  std::wstring command = L"\"" + launcher.value() + L"\" /uninstall";
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION started = {};
  ASSERT_TRUE(CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                             &startup, &started));
  CloseHandle(started.hThread);
  base::ScopedHandle entry(started.hProcess);
  HANDLE waits[] = {ready.Get(), entry.Get()};
  ASSERT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(2, waits, FALSE, INFINITE));
  // The front end: the launcher's child.
  uint32_t front_end = 0;
  base::ScopedHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32W process = {};
  process.dwSize = sizeof(process);
  for (BOOL more = Process32FirstW(snapshot.Get(), &process); more && !front_end;
       more = Process32NextW(snapshot.Get(), &process)) {
    if (process.th32ParentProcessID == started.dwProcessId) front_end = process.th32ProcessID;
  }
  ASSERT_NE(0u, front_end);
  AddProcessSwitch(switches::kInitialPid, std::to_wstring(front_end));
  Uninstall();
  EXPECT_TRUE(base::PathExists(launcher));
  const base::FilePath note = base::FileEnumerator(install_folder_.Append(L"old_status"), false,
                                                   base::FileEnumerator::FILES, L"run.*.note")
                                  .Next();
  ASSERT_FALSE(note.empty());
  std::string text;
  ASSERT_TRUE(base::ReadFileToString(install_folder_.Append(kCleanupBatchFileName), &text));
  CleanupBatch expected;
  expected.pids = {GetCurrentProcessId(), front_end, 0};
  expected.failed_files = {launcher.value(), note.value()};
  // Folders come with the version folder's files alone: none of them is left here.
  expected.folders = {note.DirName().value()};
  EXPECT_EQ(BuildCleanupBatchText(expected), text);
  SetEvent(release.Get());
  WaitForSingleObject(entry.Get(), INFINITE);
}

// Fails only the writes of run notes.
bool FailNoteWrites(const base::FilePath& from, const base::FilePath& to) {
  return to.Extension() != L".note" &&
         MoveFileExW(from.value().c_str(), to.value().c_str(), MOVEFILE_REPLACE_EXISTING);
}

// A note that cannot be rewritten to name only what the batch may not delete stays as it
// was, naming that too, and the batch does not remove it.
TEST_F(UninstallStepsTest, ANoteThatCannotBeRewrittenStaysWhole) {
  const base::FilePath version_folder = InstallVersion();
  ASSERT_FALSE(version_folder.empty());
  const base::FilePath held = version_folder.Append(L"resources\\app.dat");
  base::ScopedHandle lock = Lock(held);
  ASSERT_TRUE(lock.IsValid());
  InstallationRun run;
  run.uninstall = true;
  run.on_event = [](const std::string& line, Installer* /*installer*/) {
    if (line == "Step")
      base::ImportantFileWriter::SetReplaceFileFunctionForTesting(&FailNoteWrites);
  };
  Run(&run);
  base::ImportantFileWriter::SetReplaceFileFunctionForTesting(nullptr);
  EXPECT_TRUE(run.succeeded) << ::testing::PrintToString(run.events);
  const base::FilePath note = base::FileEnumerator(install_folder_.Append(L"old_status"), false,
                                                   base::FileEnumerator::FILES, L"run.*.note")
                                  .Next();
  ASSERT_FALSE(note.empty());
  std::string kept;
  ASSERT_TRUE(base::ReadFileToString(note, &kept));
  EXPECT_NE(std::string::npos, kept.find("\nremove " + version_folder.BaseName().AsUTF8() +
                                         "\\resources\\app.dat\n"))
      << kept;
  std::string text;
  ASSERT_TRUE(base::ReadFileToString(install_folder_.Append(kCleanupBatchFileName), &text));
  EXPECT_EQ(std::string::npos, text.find(note.AsUTF8())) << text;
}

// This uninstaller runs where a cut run put it, and that run's note is kept naming it
// alone: the batch waits for it, so it removes both notes after it.
TEST_F(UninstallStepsTest, AnUninstallerWhereACutRunPutItLeavesBothNotesToTheBatch) {
  Install();
  UsePackage(GetTestPackageFolder(L"test_pkg_v2"));
  InstallationRun cut;
  cut.version = kV2;
  cut.cut_after_step = 2;
  Run(&cut);
  ASSERT_FALSE(cut.succeeded);
  const base::FilePath earlier = base::FileEnumerator(install_folder_.Append(L"old_status"), false,
                                                      base::FileEnumerator::FILES, L"run.*.note")
                                     .Next();
  ASSERT_FALSE(earlier.empty());
  const base::FilePath program = install_folder_.Append(L"1.0.101.0\\velum.exe");
  base::ScopedHandle holder = StartSleepingFakeProgram(program);
  ASSERT_TRUE(holder.IsValid());
  const uint32_t pid = GetProcessId(holder.Get());
  AddProcessSwitch(switches::kInitialPid, std::to_wstring(pid));
  base::FilePath own;
  ASSERT_TRUE(base::PathRegistry::Get(base::FILE_EXE, &own));
  ASSERT_TRUE(base::PathRegistry::Override(base::FILE_EXE, program, true, false));
  UsePackage(CopyPackage());
  InstallationRun run;
  run.uninstall = true;
  Run(&run);
  EXPECT_TRUE(base::PathRegistry::Override(base::FILE_EXE, own, true, false));
  ASSERT_TRUE(run.succeeded) << ::testing::PrintToString(run.events);

  std::vector<base::FilePath> notes;
  base::FileEnumerator found(install_folder_.Append(L"old_status"), false,
                             base::FileEnumerator::FILES, L"run.*.note");
  for (base::FilePath path = found.Next(); !path.empty(); path = found.Next())
    if (path != earlier) notes.push_back(path);
  ASSERT_EQ(1u, notes.size());
  std::string text;
  ASSERT_TRUE(base::ReadFileToString(install_folder_.Append(kCleanupBatchFileName), &text));
  EXPECT_EQ(BuildCleanupBatchText(ExpectedBatch({program, earlier}, pid, notes[0])), text);
  TerminateProcess(holder.Get(), 0);
  WaitForSingleObject(holder.Get(), INFINITE);
  holder.Close();
  base::Process batch = StartCleanupBatch(install_folder_.Append(kCleanupBatchFileName));
  ASSERT_TRUE(batch.IsValid());
  int32_t exit_code = 0;
  ASSERT_TRUE(batch.WaitForExit(&exit_code));
  EXPECT_FALSE(base::PathExists(program.DirName()));
  EXPECT_FALSE(base::PathExists(earlier.DirName()));
}

// An uninstallation cut short after it set aside the shortcuts, the record or the
// files: the next uninstallation finishes it, what is locked going to the batch and named
// by the run's note kept for a later run; an installation undoes it first, so the
// shortcuts the user had stay, and installs afresh, without the survey and with nothing
// set aside left.
TEST_F(UninstallStepsTest, FinishesOrUndoesAnUninstallationCutShort) {
  for (bool then_install : {false, true}) {
    for (size_t step : {1u, 2u, 5u}) {
      SCOPED_TRACE(std::to_string(step) + (then_install ? ", then an installation" : ""));
      const base::FilePath version_folder = InstallVersion();
      ASSERT_FALSE(version_folder.empty());
      InstallationRun cut;
      cut.uninstall = true;
      cut.cut_after_step = step;
      Run(&cut);
      ASSERT_FALSE(cut.succeeded);
      system_services_.detached_launches.clear();
      const base::FilePath locked = version_folder.Append(L"resources\\app.dat");
      base::ScopedHandle lock = then_install ? base::ScopedHandle() : Lock(locked);
      InstallationRun run;
      run.uninstall = !then_install;
      Run(&run);
      ASSERT_TRUE(run.succeeded) << ::testing::PrintToString(run.events);
      EXPECT_EQ(then_install ? 2u : 0u, CountShortcuts());
      EXPECT_FALSE(testing::HasSetAsideItem(desktop_));
      if (then_install) {
        EXPECT_EQ(Settings::OPERATION_UPGRADE, run.operation);
        EXPECT_FALSE(testing::HasSetAsideItem(install_folder_));
        EXPECT_TRUE(system_services_.detached_launches.empty());
      } else {
        base::FileEnumerator files(install_folder_, true, base::FileEnumerator::FILES,
                                   std::wstring());
        std::string text;
        ASSERT_TRUE(base::ReadFileToString(install_folder_.Append(kCleanupBatchFileName), &text));
        size_t notes = 0;
        for (base::FilePath path = files.Next(); !path.empty(); path = files.Next()) {
          const std::wstring name = path.BaseName().value();
          if (name == kCleanupBatchFileName || name == L"installer_prefs.json") continue;
          if (path.DirName().BaseName().value() == L"old_status" && path.Extension() == L".note") {
            std::string note;
            ASSERT_TRUE(base::ReadFileToString(path, &note));
            EXPECT_NE(std::string::npos, note.find("\nleft-remove " +
                                                   version_folder.BaseName().AsUTF8() +
                                                   "\\resources\\app.dat\nend\n"))
                << note;
            ++notes;
            continue;
          }
          EXPECT_NE(std::string::npos, text.find("del \"" + path.AsUTF8() + "\"")) << path.AsUTF8();
        }
        EXPECT_EQ(lock.IsValid() ? 1u : 0u, notes);
      }
      lock.Close();
      ASSERT_TRUE(base::DeleteFile(install_folder_, true));
    }
  }
}

// The record names root files: where a folder now has a root file's name (another
// program's, the user's), neither an upgrade that drops that file nor an uninstallation
// removes it.
TEST_F(UninstallStepsTest, AFolderNamedAsARootFileStays) {
  for (bool uninstall : {false, true}) {
    SCOPED_TRACE(uninstall ? "uninstallation" : "upgrade");
    ASSERT_FALSE(InstallVersion().empty());
    const base::FilePath folder = install_folder_.Append(L"velum_visual_elements.xml");
    ASSERT_TRUE(base::DeleteFile(folder, false));
    ASSERT_TRUE(testing::MakeFile(folder.Append(L"mine.txt"), "x"));
    InstallationRun run;
    run.uninstall = uninstall;
    if (!uninstall) {
      UsePackage(testing::GetTestPackageFolder(L"test_pkg_v2"));
      run.version = testing::kV2;
    }
    Run(&run);
    ASSERT_TRUE(run.succeeded) << ::testing::PrintToString(run.events);
    EXPECT_TRUE(base::PathExists(folder.Append(L"mine.txt")));
    UsePackage(CopyPackage());
    ASSERT_TRUE(base::DeleteFile(install_folder_, true));
  }
}

// The installed record's files, its root files and the in-use test reach their names only
// through folders held from the install folder down: where a folder on the way is a link
// to another program's folder holding files of the recorded names, nothing there is
// touched, the log names the link, and the clean-up batch gets no line for those names.
// The in-use test stops the uninstallation instead.
TEST_F(UninstallStepsTest, NothingBehindALinkIsRemovedNorLeftToTheBatch) {
  const struct {
    const char* name;
    const wchar_t* link;       // below the version folder; "" is the version folder itself
    const wchar_t* root_file;  // added to the record's root files; null: none
    const wchar_t* kept;       // a recorded name behind the link, below the install folder
  } cases[] = {
      {"a folder of the version", L"resources", nullptr, L"resources\\locales\\de.dat"},
      {"a root file's folder", nullptr, L"sub\\app.exe", nullptr},
      {"the version folder, in the in-use test", L"", nullptr, L"velum.exe"},
  };
  const base::FilePath outside = scratch_.path().Append(L"Other");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    system_services_.started_batches.clear();
    const base::FilePath version_folder = InstallVersion();
    ASSERT_FALSE(version_folder.empty());
    for (const wchar_t* name : {L"app.exe", L"velum.exe", L"app.dat", L"locales\\de.dat"})
      ASSERT_TRUE(testing::MakeFile(outside.Append(name), "another program's"));
    base::FilePath link = install_folder_.Append(L"sub");
    base::FilePath kept = install_folder_.Append(L"sub\\app.exe");
    if (c.root_file) {
      const base::FilePath path = install_folder_.Append(L"installation_status.xml");
      std::unique_ptr<InstallLog> record = ReadRecord(path);
      ASSERT_TRUE(record);
      record->root_files.push_back(c.root_file);
      ASSERT_TRUE(InstallLogWriter().WriteFile(*record, path));
    } else {
      link = *c.link ? version_folder.Append(c.link) : version_folder;
      kept = version_folder.Append(c.kept);
      ASSERT_TRUE(base::DeleteFile(link, true));
    }
    std::string error;
    ASSERT_TRUE(base::MakeDirectoryLink(link, outside, &error)) << error;
    const std::string before = testing::SnapshotFileTree(outside);
    base::ScopedLogCapture log;
    InstallationRun run;
    run.uninstall = true;
    Run(&run);
    const bool in_use = c.link && !*c.link;
    EXPECT_EQ(!in_use, run.succeeded) << ::testing::PrintToString(run.events);
    EXPECT_EQ(before, testing::SnapshotFileTree(outside));
    EXPECT_FALSE(log.LinesStartingWith("Keeping " + kept.AsUTF8() + ", reached through a link")
                     .empty());
    if (in_use) {
      EXPECT_NE(run.events.end(), std::find(run.events.begin(), run.events.end(),
                                            "Error(7,,Can't uninstall when velum.exe is in use)"))
          << ::testing::PrintToString(run.events);
    } else {
      std::string text;
      ASSERT_TRUE(base::ReadFileToString(install_folder_.Append(kCleanupBatchFileName), &text));
      EXPECT_EQ(std::string::npos, text.find(link.AsUTF8())) << text;
    }
    EXPECT_TRUE(base::RemoveDirectoryLink(link));
    ASSERT_TRUE(base::DeleteFile(install_folder_, true));
  }
}

// Another program's file at the batch's name, by a link or as another of its names: the
// uninstallation writes nothing into it. Its name alone is replaced by the batch, which
// is started; a link that Wine follows cannot be removed as itself: nothing is written
// there, nor started.
TEST_F(UninstallStepsTest, TheBatchIsANewFileNeverWrittenThroughAnother) {
  const base::FilePath outside = scratch_.path().Append(L"Other\\k.bat");
  const base::FilePath batch_file = install_folder_.Append(kCleanupBatchFileName);
  for (bool hard_link : {false, true}) {
    SCOPED_TRACE(hard_link ? "another name of the file" : "a link to the file");
    // Only Wine's host links can name a file; Windows' junctions are folders.
    if (!hard_link && !base::RunningUnderWine()) continue;
    system_services_.started_batches.clear();
    Install();
    ASSERT_TRUE(testing::MakeFile(outside, "another program's"));
    std::string error;
    if (hard_link) {
      ASSERT_TRUE(CreateHardLinkW(batch_file.value().c_str(), outside.value().c_str(), nullptr));
    } else {
      ASSERT_TRUE(base::MakeDirectoryLink(batch_file, outside, &error)) << error;
    }
    base::ScopedLogCapture log;
    Uninstall();
    EXPECT_EQ("another program's", testing::ReadText(outside));
    EXPECT_EQ(hard_link ? std::vector<base::FilePath>{batch_file} : std::vector<base::FilePath>{},
              system_services_.started_batches);
    if (hard_link) {
      EXPECT_EQ(0u, testing::ReadText(batch_file).find("chcp 65001>nul\r\n"));
    } else {
      EXPECT_FALSE(
          log.LinesStartingWith("Not writing " + batch_file.AsUTF8() + ", reached through a link")
              .empty());
      EXPECT_TRUE(base::RemoveDirectoryLink(batch_file));
    }
    ASSERT_TRUE(base::DeleteFile(install_folder_, true));
    ASSERT_TRUE(base::DeleteFile(outside, false));
  }
}

// A record that cannot be removed (held open by another program) fails the
// uninstallation: reported as complete, the record would name removed files.
TEST_F(UninstallStepsTest, ARecordThatCannotBeRemovedFailsTheUninstallation) {
  ASSERT_FALSE(InstallVersion().empty());
  const base::FilePath record = install_folder_.Append(L"installation_status.xml");
  base::ScopedHandle lock = Lock(record);
  ASSERT_TRUE(lock.IsValid());
  InstallationRun run;
  run.uninstall = true;
  Run(&run);
  EXPECT_FALSE(run.succeeded);
  EXPECT_NE(run.events.end(),
            std::find(run.events.begin(), run.events.end(),
                      "Error(1,,Failed to remove installation status file)"))
      << ::testing::PrintToString(run.events);
  lock.Close();
  EXPECT_TRUE(base::PathExists(record));
}

// A front end that asks for the batch starts it as it ends, after the processes the
// batch waits for: the uninstaller leaves it written and unstarted.
TEST_F(UninstallStepsTest, LeavesTheBatchToAFrontEndThatAsksForIt) {
  Install();
  base::ScopedHandle left(CreateEventW(
      nullptr, TRUE, FALSE,
      GetKernelObjectName(install_folder_.value(), kernel_objects::kCleanupBatchLeftEventPrefix,
                          true)
          .c_str()));
  ASSERT_TRUE(left.IsValid());
  Uninstall();
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(left.Get(), 0));
  EXPECT_TRUE(system_services_.started_batches.empty());
  EXPECT_TRUE(base::PathExists(install_folder_.Append(kCleanupBatchFileName)));
}

TEST_F(UninstallStepsTest, RemovesTheTaskAndOffersTheSurveyUnlessSilentOrCopyOnly) {
  const struct {
    const wchar_t* install_switch;
    bool silent;
    bool copy_only;
  } cases[] = {{L"--copyonly=0", false, false},
               {L"--copyonly=0", true, false},
               {L"--copyonly=1", false, true}};
  const bool has_survey = !GetProductUrl("uninstall_survey").empty();
  ASSERT_TRUE(has_survey);
  for (const auto& test : cases) {
    SCOPED_TRACE(::testing::Message() << test.silent << test.copy_only);
    ClearProcessSwitches();
    InstallationRun install;
    install.switches = {test.install_switch};
    Run(&install);
    ASSERT_TRUE(install.succeeded);
    const std::string app_id = AppId();
    system_services_.scheduler = SchedulerRecord();
    system_services_.detached_launches.clear();
    system_services_.firewall_calls.clear();
    system_services_.admin = true;
    if (test.silent) AddProcessSwitch("silent");
    Uninstall();
    system_services_.admin = false;
    if (test.copy_only) {
      EXPECT_EQ(std::vector<std::string>{}, system_services_.scheduler.calls);
      EXPECT_TRUE(system_services_.firewall_calls.empty());
    } else {
      EXPECT_EQ((std::vector<std::string>{"init", "orphans", "delete Autoupdate " + app_id}),
                system_services_.scheduler.calls);
      ASSERT_EQ(1u, system_services_.firewall_calls.size());
      EXPECT_TRUE(system_services_.firewall_calls[0].second);
    }
    const bool survey = has_survey && !test.silent && !test.copy_only;
    ASSERT_EQ(survey ? 1u : 0u, system_services_.detached_launches.size());
    if (survey) {
      const std::wstring& command = system_services_.detached_launches[0];
      EXPECT_EQ(0u, command.find(L'"'));
      EXPECT_NE(std::wstring::npos, command.find(L"\\Internet Explorer\\iexplore.exe\""));
      EXPECT_NE(std::wstring::npos,
                command.find(L"?version=" + base::UTF8ToWide(GetProductVersion())));
    }
    EXPECT_TRUE(base::DeleteFile(install_folder_, true));
  }
}

// The task outlives an uninstallation that could not reach the scheduler: the log says so.
TEST_F(UninstallStepsTest, AnUnreachableSchedulerIsLoggedWithTheTaskLeft) {
  Install();
  system_services_.scheduler = SchedulerRecord();
  system_services_.scheduler.init_succeeds = false;
  base::ScopedLogCapture log;
  Uninstall();
  EXPECT_EQ(std::vector<std::string>{"init"}, system_services_.scheduler.calls);
  EXPECT_TRUE(log.Has("Could not remove scheduled task: the task scheduler could not be reached"));
}

TEST_F(UninstallStepsTest, AProfileIsDeletedOnlyWhenItIsTheBrowsersOwn) {
  // The all-users folder of a template ending in the user name is the parent of every
  // user's folder: it holds no "Local State" and must stay.
  const base::FilePath users = scratch_.path().Append(L"Users");
  const base::FilePath own = scratch_.path().Append(L"Own");
  const struct {
    base::FilePath profile_template;
    base::FilePath all_users;
    bool deleted;
  } cases[] = {{users.Append(L"<USERNAME>"), users, false}, {own, own, true}};
  for (const auto& test : cases) {
    SCOPED_TRACE(test.all_users.AsUTF8());
    ASSERT_TRUE(base::CreateDirectory(test.all_users.Append(L"other")));
    if (test.deleted) {
      ASSERT_EQ(2, base::WriteFile(test.all_users.Append(L"Local State"), "{}", 2));
    }
    InstallationRun install;
    install.switches = {L"--profile-folder=" + test.profile_template.value()};
    Run(&install);
    ASSERT_TRUE(install.succeeded);
    InstallationRun run;
    run.uninstall = true;
    run.switches = {L"--deleteuserprofile=1"};
    Run(&run);
    ASSERT_TRUE(run.succeeded);
    EXPECT_EQ(!test.deleted, base::PathExists(test.all_users.Append(L"other")));
    EXPECT_TRUE(base::DeleteFile(install_folder_, true));
  }
}

// Without a profile template the data lives in two halves, roaming and local; only the
// roaming one holds "Local State", and the local one was kept for not holding it.
TEST_F(UninstallStepsTest, DeletingTheProfileTakesBothHalves) {
  base::FilePath original_roaming, original_local;
  ASSERT_TRUE(base::PathRegistry::Get(base::DIR_APP_DATA, &original_roaming));
  ASSERT_TRUE(base::PathRegistry::Get(base::DIR_LOCAL_APP_DATA, &original_local));
  const base::FilePath roaming = scratch_.path().Append(L"Roaming");
  const base::FilePath local = scratch_.path().Append(L"Local");
  ASSERT_TRUE(base::PathRegistry::Override(base::DIR_APP_DATA, roaming, true, true));
  ASSERT_TRUE(base::PathRegistry::Override(base::DIR_LOCAL_APP_DATA, local, true, true));
  InstallationRun install;
  Run(&install);
  EXPECT_TRUE(install.succeeded);
  base::FilePath user_data;
  ASSERT_TRUE(FolderInstallationInfo(install_folder_).GetUserDataFolder(&user_data));
  base::FilePath local_data = local;
  ASSERT_TRUE(roaming.AppendRelativePath(user_data, &local_data));
  ASSERT_TRUE(base::CreateDirectory(local_data.Append(L"Default\\Cache")));
  ASSERT_TRUE(base::CreateDirectory(user_data));
  ASSERT_EQ(2, base::WriteFile(user_data.Append(L"Local State"), "{}", 2));
  InstallationRun run;
  run.uninstall = true;
  run.switches = {L"--deleteuserprofile=1"};
  Run(&run);
  EXPECT_TRUE(run.succeeded);
  EXPECT_FALSE(base::PathExists(user_data));
  EXPECT_FALSE(base::PathExists(local_data));
  EXPECT_TRUE(base::DirectoryExists(local));
  EXPECT_TRUE(base::PathRegistry::Override(base::DIR_APP_DATA, original_roaming, true, false));
  EXPECT_TRUE(base::PathRegistry::Override(base::DIR_LOCAL_APP_DATA, original_local, true, false));
}

}  // namespace
}  // namespace testing
}  // namespace installer

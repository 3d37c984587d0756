#include "desktop/windows/installer/installer.h"

#include <windows.h>

#include <algorithm>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "base/base_paths.h"
#include "base/command_line.h"
#include "base/features/feature_registry.h"
#include "base/features/feature_states.h"
#include "base/features/list_feature_reader.h"
#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/win/registry.h"
#include "base/files/scratch_dir_test_util.h"
#include "base/logging.h"
#include "base/message_loop/message_loop.h"
#include "base/path_service.h"
#include "base/run_loop.h"
#include "base/strings/utf_string_conversions.h"
#include "base/values.h"
#include "base/test/posted_task_labels_test_util.h"
#include "base/test/log_capture_test_util.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/settings/feature_flags.h"
#include "desktop/windows/installer/steps/installation_test_util.h"
#include "desktop/windows/installer/installer_test_util.h"
#include "desktop/windows/installer/recording_installer_observer_test_util.h"
#include "base/files/important_file_writer.h"
#include "desktop/windows/installer/service/install_log_reader.h"
#include "desktop/windows/installer/service/transactions/transaction.h"
#include "desktop/windows/installer/service/transactions/file_operation_test_util.h"
#include "desktop/windows/installer/service/transactions/system_snapshot_test_util.h"
#include "desktop/windows/installer/settings/settings.h"
#include "desktop/windows/installer/steps/shortcut_steps.h"
#include "desktop/windows/installer/test_package_test_util.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using testing::InstallationRun;
using testing::InstallerTest;
using testing::kV2;
using testing::kV3;

using testing::SnapshotDifference;

std::string LastError(const std::vector<std::string>& events) {
  for (auto it = events.rbegin(); it != events.rend(); ++it)
    if (it->compare(0, 6, "Error(") == 0) return *it;
  return std::string();
}

std::vector<std::string> Expected(std::vector<std::string> head, int steps,
                                  std::vector<std::string> tail) {
  for (int i = 0; i < steps; ++i) head.push_back("Step");
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

// The experiment entries of a run that changed no feature.
std::string DefaultExperiments() {
  size_t count = 0;
  const FeatureFlag* flags = GetInstallerFeatureFlags(&count);
  std::string list;
  for (size_t i = 0; i < count; ++i) {
    if (i) list += ",";
    list += std::string("\"") + flags[i].name +
            (IsFeatureFlagEnabledByDefault(flags[i]) ? "@1\"" : "@2\"");
  }
  return list;
}

TEST_F(InstallerTest, InstallsIntoAFreshFolder) {
  InstallationRun run;
  Run(&run);
  EXPECT_EQ(Settings::OPERATION_INSTALL, run.operation);
  ASSERT_TRUE(run.succeeded) << ::testing::PrintToString(run.events);
  // 4 files and 2 root files: 6 file steps and 6 others, plus files - 2 + roots + 1.
  EXPECT_EQ(Expected({"Started", "TotalSteps(22)"}, 17, {"Success"}), run.events);

  base::FilePath version = install_folder_.Append(L"1.0.100.0");
  EXPECT_EQ("app data 1.0.100.0\n", testing::ReadText(version.Append(L"resources\\app.dat")));
  EXPECT_EQ("de strings\n", testing::ReadText(version.Append(L"resources\\locales\\de.dat")));
  EXPECT_TRUE(base::PathExists(version.Append(L"velum.exe")));
  EXPECT_TRUE(base::PathExists(version.Append(L"installer_helper_64.exe")));
  EXPECT_EQ("readme 1.0.100.0\n", testing::ReadText(install_folder_.Append(L"root_readme.txt")));
  EXPECT_TRUE(base::PathExists(install_folder_.Append(L"velum_visual_elements.xml")));
  EXPECT_TRUE(base::PathExists(install_folder_.Append(L"launcher.exe")));
  // No earlier browser executable was replaced by the launcher: no second copy.
  EXPECT_FALSE(base::PathExists(install_folder_.Append(L"velum.exe")));

  std::unique_ptr<InstallLog> record =
      ReadRecord(install_folder_.Append(L"installation_status.xml"));
  ASSERT_TRUE(record);
  EXPECT_EQ("1.0.100.0", record->version);
  EXPECT_EQ(L"1.0.100.0", record->subfolder);
  EXPECT_EQ(install_folder_.value(), record->install_path);
  EXPECT_FALSE(record->app_id.empty());
  EXPECT_EQ((std::vector<std::wstring>{L"velum.exe", L"resources\\app.dat",
                                       L"resources\\locales\\en-US.dat",
                                       L"resources\\locales\\de.dat",
                                       L"installer_helper_64.exe"}),
            record->files);
  EXPECT_EQ((std::vector<std::wstring>{L"root_readme.txt", L"velum_visual_elements.xml"}),
            record->root_files);

  wchar_t last_path[MAX_PATH] = {};
  DWORD size = sizeof(last_path);
  EXPECT_EQ(ERROR_SUCCESS, RegGetValueW(HKEY_CURRENT_USER, L"Software\\Velum Software",
                                        L"Last Stable Install Path", RRF_RT_REG_SZ, nullptr,
                                        last_path, &size));
  EXPECT_EQ(install_folder_.value() + L"\\", last_path);

  // On disk as soon as the run ends: the browser and later steps read it at once.
  EXPECT_EQ("{\"all-installer-experiments\":[" + DefaultExperiments() +
                "],\"autoupdate\":false,\"enable_stats\":true,\"import_browser_data\":true,"
                "\"installer-experiments\":[],\"single_profile\":false}",
            testing::ReadText(install_folder_.Append(L"installer_prefs.json")));
}

// Folders that are no leftover of ours (they hold another file) stay where they are.
TEST_F(InstallerTest, VersionSubfolderTakesTheFirstFreeSuffix) {
  ASSERT_TRUE(testing::MakeFile(install_folder_.Append(L"1.0.100.0\\notes.txt"), "x"));
  ASSERT_TRUE(testing::MakeFile(install_folder_.Append(L"1.0.100.0_0\\notes.txt"), "x"));
  Install();
  EXPECT_TRUE(base::PathExists(install_folder_.Append(L"1.0.100.0_1\\velum.exe")));
}

// What a run cut short left goes by its note, before the version folder is chosen, so the
// next run installs into the usual one. Another program's folders that merely look like
// version folders (one holding only names of the package's list, an empty one) and copies
// that merely look set aside stay, and so does a file the user added to the cut run's
// folder; the folder keeps only that.
TEST_F(InstallerTest, OnlyWhatTheNoteOfARunCutShortNamesGoes) {
  InstallationRun cut;
  cut.cut_after_step = 2;
  Run(&cut);
  ASSERT_FALSE(cut.succeeded);
  ASSERT_TRUE(base::PathExists(install_folder_.Append(L"1.0.100.0\\velum.exe")));
  const wchar_t* const strangers[] = {
      L"7.0.0.1\\installer.exe", L"1.0.99.0\\velum.exe", L"1.0.99.0\\resources\\app.dat",
      L"launcher.exe.1700000000.old", L"1.0.100.0\\user notes.txt",
  };
  for (const wchar_t* name : strangers)
    ASSERT_TRUE(testing::MakeFile(install_folder_.Append(name), "x"));
  ASSERT_TRUE(base::CreateDirectory(install_folder_.Append(L"3.2.1.0")));
  for (bool user_file : {true, false}) {
    SCOPED_TRACE(user_file ? "beside the user's file" : "alone");
    if (!user_file) {
      ASSERT_TRUE(base::DeleteFile(install_folder_, true));
      Run(&cut);
    }
    Install();
    std::unique_ptr<InstallLog> record =
        ReadRecord(install_folder_.Append(L"installation_status.xml"));
    ASSERT_TRUE(record);
    EXPECT_EQ(user_file ? L"1.0.100.0_0" : L"1.0.100.0", record->subfolder);
    EXPECT_FALSE(base::PathExists(install_folder_.Append(L"old_status")));
    if (!user_file) continue;
    for (const wchar_t* name : strangers)
      EXPECT_TRUE(base::PathExists(install_folder_.Append(name))) << name;
    EXPECT_TRUE(base::DirectoryExists(install_folder_.Append(L"3.2.1.0")));
    base::FileEnumerator left(install_folder_.Append(L"1.0.100.0"), true,
                              base::FileEnumerator::FILES | base::FileEnumerator::DIRECTORIES,
                              std::wstring());
    EXPECT_EQ(L"user notes.txt", left.Next().BaseName().value());
    EXPECT_TRUE(left.Next().empty());
  }
}

TEST_F(InstallerTest, UpgradeKeepsThePreviousVersionUntilTheNextUpgrade) {
  Install();
  std::unique_ptr<InstallLog> v1 = ReadRecord(install_folder_.Append(L"installation_status.xml"));
  ASSERT_TRUE(v1);

  UsePackage(testing::GetTestPackageFolder(L"test_pkg_v2"));
  InstallationRun upgrade;
  upgrade.version = kV2;
  Run(&upgrade);
  EXPECT_EQ(Settings::OPERATION_UPGRADE, upgrade.operation);
  ASSERT_TRUE(upgrade.succeeded) << ::testing::PrintToString(upgrade.events);
  // 4 files, 1 root file, 6 file steps and 6 others (the files count twice).
  EXPECT_EQ(Expected({"Started", "TotalSteps(24)"}, 20, {"Success"}), upgrade.events);
  EXPECT_EQ("new in v2\n",
            testing::ReadText(install_folder_.Append(L"1.0.101.0\\resources\\new_in_v2.dat")));
  EXPECT_EQ("readme 1.0.101.0\n",
            testing::ReadText(install_folder_.Append(L"root_readme.txt")));
  // The old root file that v2 does not bring is gone; the old version stays for now.
  EXPECT_FALSE(base::PathExists(install_folder_.Append(L"velum_visual_elements.xml")));
  EXPECT_TRUE(base::PathExists(install_folder_.Append(L"1.0.100.0\\resources\\app.dat")));
  std::unique_ptr<InstallLog> v2 = ReadRecord(install_folder_.Append(L"installation_status.xml"));
  ASSERT_TRUE(v2);
  EXPECT_EQ(L"1.0.101.0", v2->subfolder);
  EXPECT_EQ(v1->app_id, v2->app_id);
  std::vector<base::FilePath> old = OldStatusFiles();
  ASSERT_EQ(1u, old.size());
  std::unique_ptr<InstallLog> preserved = ReadRecord(old[0]);
  ASSERT_TRUE(preserved);
  EXPECT_EQ(L"1.0.100.0", preserved->subfolder);

  // The next upgrade removes version 1 and its record.
  InstallationRun next;
  next.version = kV3;
  Run(&next);
  ASSERT_TRUE(next.succeeded) << ::testing::PrintToString(next.events);
  EXPECT_FALSE(base::PathExists(install_folder_.Append(L"1.0.100.0")));
  EXPECT_TRUE(base::PathExists(install_folder_.Append(L"1.0.101.0\\velum.exe")));
  old = OldStatusFiles();
  ASSERT_EQ(1u, old.size());
  preserved = ReadRecord(old[0]);
  ASSERT_TRUE(preserved);
  EXPECT_EQ(L"1.0.101.0", preserved->subfolder);
}

TEST_F(InstallerTest, AnOldVersionWithAFileInUseSurvivesWhole) {
  Install();
  UsePackage(testing::GetTestPackageFolder(L"test_pkg_v2"));
  InstallationRun upgrade;
  upgrade.version = kV2;
  Run(&upgrade);
  ASSERT_TRUE(upgrade.succeeded);
  std::string v1_tree = testing::SnapshotFileTree(install_folder_.Append(L"1.0.100.0"));

  {
    base::ScopedHandle in_use(CreateFileW(
        install_folder_.Append(L"1.0.100.0\\resources\\app.dat").value().c_str(), GENERIC_READ,
        0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(in_use.IsValid());
    InstallationRun next;
    next.version = kV3;
    Run(&next);
    ASSERT_TRUE(next.succeeded) << ::testing::PrintToString(next.events);
  }
  EXPECT_EQ(v1_tree, testing::SnapshotFileTree(install_folder_.Append(L"1.0.100.0")));
  // Both old records are kept: version 1 for a later attempt, version 2 newly.
  EXPECT_EQ(2u, OldStatusFiles().size());
  EXPECT_FALSE(testing::HasSetAsideItem(install_folder_));
}

TEST_F(InstallerTest, UninstallRemovesTheBrowserExecutable) {
  Install();
  InstallationRun uninstall;
  uninstall.uninstall = true;
  Run(&uninstall);
  EXPECT_EQ(Settings::OPERATION_UNINSTALL, uninstall.operation);
  ASSERT_TRUE(uninstall.succeeded) << ::testing::PrintToString(uninstall.events);
  EXPECT_FALSE(base::PathExists(install_folder_.Append(L"1.0.100.0\\velum.exe")));
  EXPECT_FALSE(testing::HasSetAsideItem(install_folder_));
  // The product's own file type and the registered applications it alone filled go whole.
  for (const wchar_t* key : {L"Software\\Classes\\.vldownload", L"Software\\RegisteredApplications"})
    EXPECT_FALSE(base::RegistryKey(HKEY_CURRENT_USER, key, KEY_READ).Valid()) << key;
}

TEST_F(InstallerTest, UninstallRefusesWhileTheBrowserRuns) {
  Install();
  base::ScopedHandle browser = testing::StartSleepingFakeProgram(
      install_folder_.Append(L"1.0.100.0\\velum.exe"));
  ASSERT_TRUE(browser.IsValid());
  std::string before = Snapshot();
  InstallationRun uninstall;
  uninstall.uninstall = true;
  Run(&uninstall);
  TerminateProcess(browser.Get(), 0);
  WaitForSingleObject(browser.Get(), INFINITE);
  EXPECT_FALSE(uninstall.succeeded);
  EXPECT_EQ((std::vector<std::string>{"Started", "Error(7,,Can't uninstall when velum.exe is in use)",
                                      "Done(0)"}),
            uninstall.events);
  EXPECT_EQ("", SnapshotDifference(before, Snapshot()));
}

// What is left of the install folder, below it.
std::vector<std::wstring> LeftIn(const base::FilePath& folder) {
  std::vector<std::wstring> left;
  base::FileEnumerator all(folder, true,
                           base::FileEnumerator::FILES | base::FileEnumerator::DIRECTORIES,
                           std::wstring());
  for (base::FilePath path = all.Next(); !path.empty(); path = all.Next())
    left.push_back(path.value().substr(folder.value().size() + 1));
  std::sort(left.begin(), left.end());
  return left;
}

// A cut upgrade whose file a program holds while the next run completes: that run keeps the
// note naming only what is left, and the uninstallation after it takes nothing of the later
// run for the cut one's and leaves nothing of the product, the first time. A run that would
// make a held name its own (an uninstallation: any) refuses, naming it, before its first
// change.
// A change of the run's transaction that calls `act` as the commit reaches it.
class AtCommit : public TransactionOperation {
 public:
  explicit AtCommit(std::function<void()> act) : act_(std::move(act)) {}
  ~AtCommit() override {
    if (!rolled_back_) act_();
  }
  bool Do(Transaction& /*nested*/) override { return true; }
  void Rollback() override { rolled_back_ = true; }

 private:
  const std::function<void()> act_;
  bool rolled_back_ = false;
};

// Fails only the writes of run notes.
bool FailNoteWrites(const base::FilePath& from, const base::FilePath& to) {
  return to.Extension() != L".note" &&
         MoveFileExW(from.value().c_str(), to.value().c_str(), MOVEFILE_REPLACE_EXISTING);
}

TEST_F(InstallerTest, ACutRunsHeldFileNeitherCostsALaterRunItsFilesNorOutlivesTheUninstallation) {
  const struct {
    const char* name;
    size_t cut_after;     // the upgrade's step
    const wchar_t* held;  // below the install folder
    bool program;         // held by a program running from it, else by an open handle
    const char* later;    // the version of the run in between; null: an uninstallation
    bool refused;
    // The cut run's note, kept naming the held file, cannot be rewritten: the run stops.
    bool note_unwritable = false;
  } cases[] = {
      {"a later upgrade", 2, L"1.0.101.0\\velum.exe", false, kV3, false},
      {"a later repair", 2, L"1.0.101.0\\velum.exe", false, testing::kV1, false},
      {"an uninstallation while the program runs", 2, L"1.0.101.0\\velum.exe", true, nullptr,
       true},
      {"an upgrade while the cut run's launcher is held", 7, L"launcher.exe", false, kV3, true},
      {"an uninstallation while the cut run's launcher runs", 7, L"launcher.exe", true, nullptr,
       true},
      {"a later upgrade that cannot keep the cut run's note", 2, L"1.0.101.0\\velum.exe", false,
       kV3, true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(base::DeleteFile(install_folder_, true));
    UsePackage(testing::GetTestPackageFolder(L"test_pkg"));
    Install();
    UsePackage(testing::GetTestPackageFolder(L"test_pkg_v2"));
    InstallationRun cut;
    cut.version = kV2;
    cut.cut_after_step = c.cut_after;
    Run(&cut);
    ASSERT_FALSE(cut.succeeded);
    const base::FilePath held_file = install_folder_.Append(c.held);
    base::ScopedHandle held =
        c.program ? testing::StartSleepingFakeProgram(held_file)
                  : base::ScopedHandle(CreateFileW(held_file.value().c_str(), GENERIC_READ,
                                                   FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                                   nullptr));
    ASSERT_TRUE(held.IsValid());
    InstallationRun later;
    later.uninstall = !c.later;
    if (c.later) later.version = c.later;
    if (c.note_unwritable) base::ImportantFileWriter::SetReplaceFileFunctionForTesting(&FailNoteWrites);
    Run(&later);
    base::ImportantFileWriter::SetReplaceFileFunctionForTesting(nullptr);
    if (c.program) {
      TerminateProcess(held.Get(), 0);
      WaitForSingleObject(held.Get(), INFINITE);
    }
    held.Close();
    EXPECT_EQ(!c.refused, later.succeeded) << ::testing::PrintToString(later.events);
    if (c.refused) {
      EXPECT_EQ(c.note_unwritable
                    ? "Error(0,,Could not note what an earlier run left undone)"
                    : "Error(7,,Can't " + std::string(c.later ? "install" : "uninstall") +
                          " when " + held_file.AsUTF8() + " is in use)",
                LastError(later.events));
      EXPECT_TRUE(base::PathExists(install_folder_.Append(L"1.0.100.0\\velum.exe")));
      EXPECT_TRUE(base::PathExists(install_folder_.Append(L"installation_status.xml")));
    }
    InstallationRun uninstall;
    uninstall.uninstall = true;
    Run(&uninstall);
    EXPECT_TRUE(uninstall.succeeded) << ::testing::PrintToString(uninstall.events);
    // As a plain installation and uninstallation leave it.
    EXPECT_EQ((std::vector<std::wstring>{L"installer_prefs.json", L"k.bat"}),
              LeftIn(install_folder_));
  }
}

// The note says "committing" before the commit begins, so that a commit cut short is
// finished rather than undone; a run that cannot write its note, or mark it, is undone.
TEST_F(InstallerTest, TheNoteIsMarkedCommittingBeforeTheCommit) {
  enum class Fails { kNever, kFromTheStart, kAtTheCommit };
  const struct {
    const char* name;
    bool uninstall;
    Fails note_writes;
    const char* error;
  } cases[] = {
      {"installation", false, Fails::kNever, ""},
      {"uninstallation", true, Fails::kNever, ""},
      {"a note that cannot be written", false, Fails::kFromTheStart,
       "Error(4,1.0.100.0,Creating installation subfolder failed)"},
      {"a note that cannot be marked", false, Fails::kAtTheCommit,
       "Error(0,,Could not mark the run's note as committing)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(base::DeleteFile(install_folder_, true));
    if (c.uninstall) Install();
    const std::string before = Snapshot();
    std::string at_commit = "<not reached>";
    InstallationRun run;
    run.uninstall = c.uninstall;
    if (c.note_writes == Fails::kFromTheStart)
      base::ImportantFileWriter::SetReplaceFileFunctionForTesting(&FailNoteWrites);
    run.on_event = [&](const std::string& line, Installer* installer) {
      if (line != "Step" || at_commit != "<not reached>") return;
      at_commit.clear();
      // Read through the run's own handle: the run lets nothing else read it.
      ASSERT_TRUE(installer->GetTransaction()->Execute(std::make_unique<AtCommit>([&, installer] {
        if (!installer->GetRunNoteFileForTesting().Read(&at_commit)) at_commit = "<none>";
      })));
      if (c.note_writes == Fails::kAtTheCommit)
        base::ImportantFileWriter::SetReplaceFileFunctionForTesting(&FailNoteWrites);
    };
    Run(&run);
    base::ImportantFileWriter::SetReplaceFileFunctionForTesting(nullptr);
    const bool fails = c.note_writes != Fails::kNever;
    EXPECT_EQ(!fails, run.succeeded) << ::testing::PrintToString(run.events);
    EXPECT_EQ(c.error, LastError(run.events));
    if (fails) {
      EXPECT_TRUE(SnapshotDifference(before, Snapshot()).empty());
    } else {
      EXPECT_NE(std::string::npos, at_commit.find("\ncommitting\n")) << at_commit;
    }
  }
}

// A live run holds its note from its first write to its removal, taken again after each
// rewrite: another run that comes to finish it meanwhile (the folder under another
// spelling) stops before its first change, naming the note, and the live run ends whole.
TEST_F(InstallerTest, ALiveRunsNoteStopsAnotherRunInItsFolder) {
  for (bool uninstall : {false, true}) {
    SCOPED_TRACE(uninstall ? "uninstallation" : "installation");
    ASSERT_TRUE(base::DeleteFile(install_folder_, true));
    if (uninstall) Install();
    std::vector<std::string> other_runs;
    const auto another_run = [&] {
      const base::Result<UnfinishedRuns> finished = FinishInterruptedRuns(install_folder_, nullptr);
      other_runs.push_back(finished.ok() ? "went on" : base::DescribeFailure(finished.failure()));
    };
    InstallationRun run;
    run.uninstall = uninstall;
    run.on_event = [&](const std::string& line, Installer* installer) {
      if (line != "Step" || !other_runs.empty()) return;
      another_run();
      // Again once its note says "committing".
      ASSERT_TRUE(installer->GetTransaction()->Execute(std::make_unique<AtCommit>(another_run)));
    };
    Run(&run);
    EXPECT_TRUE(run.succeeded) << ::testing::PrintToString(run.events);
    ASSERT_EQ(2u, other_runs.size());
    for (const std::string& other : other_runs)
      EXPECT_NE(std::string::npos, other.find("old_status\\run.")) << other;
    EXPECT_EQ(!uninstall, base::PathExists(install_folder_.Append(L"installation_status.xml")));
    EXPECT_EQ(!uninstall, base::PathExists(install_folder_.Append(L"1.0.100.0\\velum.exe")));
    EXPECT_FALSE(base::PathExists(install_folder_.Append(L"old_status")));
  }
}

// The finishing reads a cut run's shortcuts with the run's own mode: a per-user run only
// the user's shortcut places, an all-users run only the common ones. A note naming
// another mode's shortcut is kept whole, the shortcut with it. (An all-users run fails
// later under Wine; the finishing comes first.)
TEST_F(InstallerTest, FinishingTakesTheShortcutPlacesOfTheRunsOwnMode) {
  const base::FilePath common = scratch_.path().Append(L"Public Desktop");
  ASSERT_TRUE(base::PathRegistry::Override(base::DIR_COMMON_DESKTOP, common, true, true));
  // A product shortcut's name no run here makes itself.
  const std::wstring name =
      base::FilePath(GetShortcutFileName()).RemoveExtension().value() + L" 9.9.lnk";
  const struct {
    const char* name;
    bool all_users_run;
    bool common_shortcut;
    bool finished;
  } cases[] = {
      {"a user's shortcut, a per-user run", false, false, true},
      {"a common shortcut, a per-user run", false, true, false},
      {"a common shortcut, an all-users run", true, true, true},
      {"a user's shortcut, an all-users run", true, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(base::DeleteFile(install_folder_, true));
    const base::FilePath shortcut = (c.common_shortcut ? common : desktop_).Append(name);
    ASSERT_TRUE(testing::MakeFile(shortcut, "x"));
    const base::FilePath note = install_folder_.Append(L"old_status\\run.1700000000.note");
    ASSERT_TRUE(testing::MakeFile(note, "velum run note 2\noperation install\nstart 1700000000\n"
                                        "shortcut-make " + shortcut.AsUTF8() + "\nend\n"));
    InstallationRun run;
    if (c.all_users_run) run.switches = {L"--allusers=1"};
    Run(&run);
    EXPECT_EQ(!c.finished, base::PathExists(shortcut));
    EXPECT_EQ(!c.finished, base::PathExists(note));
    ASSERT_TRUE(base::DeleteFile(shortcut, false));
  }
}

TEST_F(InstallerTest, RejectedRequestsChangeNothing) {
  struct Case {
    const char* name;
    std::function<void(InstallationRun*)> set_up;
    std::string error;
  };
  base::FilePath package = CopyPackage();
  base::FilePath folder = install_folder_;
  ASSERT_LT(scratch_.path().value().size(), 190u);
  const base::FilePath long_folder =
      scratch_.path().Append(std::wstring(196 - scratch_.path().value().size() - 1, L'v'));
  Case cases[] = {
      {"invalid folder", [](InstallationRun* run) { run->valid_folder = false; },
       "Error(2,,Settings operation invalid)"},
      {"autoupdate without an installation", [](InstallationRun* run) { run->autoupdate = true; },
       "Error(3,,Settings operation invalid for autoupdate)"},
      {"single profile without write access",
       [](InstallationRun* run) {
         run->switches = {L"--singleprofile=1"};
         run->writable_folder = false;
       },
       "Error(5,,Single profile installations are only allowed to locations where the user "
       "has write access)"},
      // Found only by the copy, after the folders were made and every retry spent.
      {"package's deepest path too long for the folder",
       [package, folder](InstallationRun*) {
         const size_t room = MAX_PATH - folder.value().size() - sizeof("\\1.0.100.0\\") + 1;
         ASSERT_TRUE(testing::MakeFile(package.Append(L"files_list"),
                                       "velum.exe\r\nresources\\" +
                                           std::string(room - 10, 'a') + "\r\n"));
       },
       "Error(4," + folder.AsUTF8() + ",Invalid install folder)"},
      // That path fits, but not once set aside as "<path>.<second>.<counter>.old".
      {"no room for the deepest path's set-aside name",
       [package, folder](InstallationRun*) {
         const size_t room = MAX_PATH - folder.value().size() - sizeof("\\1.0.100.0\\") + 1;
         ASSERT_TRUE(testing::MakeFile(package.Append(L"files_list"),
                                       "velum.exe\r\nresources\\" +
                                           std::string(room - 10 - 18, 'a') + "\r\n"));
       },
       "Error(4," + folder.AsUTF8() + ",Invalid install folder)"},
      {"empty files list",
       [package](InstallationRun*) {
         ASSERT_TRUE(testing::MakeFile(package.Append(L"files_list"), "\r\n\n\r"));
       },
       "Error(0,,No files in files list)"},
      {"missing files list",
       [package](InstallationRun*) { EXPECT_TRUE(base::DeleteFile(package.Append(L"files_list"), false)); },
       "Error(0,,Could not read files list)"},
      // The file stays.
      {"install folder is a file",
       [folder](InstallationRun* run) {
         ASSERT_TRUE(testing::MakeFile(folder, "not a folder"));
         // Taken for a folder still to be made.
         run->writable_folder = false;
       },
       "Error(4," + folder.AsUTF8() + ",Could not create installation folder)"},
      // Last, as it changes the folder: room for the package's paths set aside (37
      // characters and 18), not for a record kept in "old_status" (45 and 18).
      {"no room for the kept record's set-aside name",
       [this, package, long_folder](InstallationRun*) {
         ASSERT_TRUE(testing::MakeFile(package.Append(L"files_list"),
                                       "velum.exe\r\nresources\\locales\\en-US.dat\r\n"));
         install_folder_ = long_folder;
       },
       "Error(4," + long_folder.AsUTF8() + ",Invalid install folder)"},
  };
  UsePackage(package);
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    InstallationRun run;
    c.set_up(&run);
    std::string before = Snapshot();
    Run(&run);
    EXPECT_FALSE(run.succeeded);
    EXPECT_EQ(c.error, LastError(run.events));
    EXPECT_EQ("Done(0)", run.events.back());
    EXPECT_EQ(0, std::count(run.events.begin(), run.events.end(), std::string("Step")));
    EXPECT_EQ("", SnapshotDifference(before, Snapshot()));
  }
}

// An elevated copy started on a package folder that a standard user can change (not
// waiting for a package to take out of its signed installer) installs nothing.
TEST_F(InstallerTest, AnElevatedCopyRunningFromAnUnpackedPackageInstallsNothing) {
  base::CommandLine* process = base::CommandLine::ForCurrentProcess();
  const base::CommandLine saved = *process;
  process->AppendSwitch("run-elevated");
  InstallationRun run;
  const std::string before = Snapshot();
  Run(&run);
  *process = saved;
  EXPECT_FALSE(run.succeeded);
  EXPECT_EQ(
      "Error(0,,An elevated installation takes its package only from a signed full-package "
      "installer)",
      LastError(run.events));
  EXPECT_EQ("", SnapshotDifference(before, Snapshot()));
}

// Holds a package file open without sharing, so every copy of it fails.
base::ScopedHandle Lock(const base::FilePath& path) {
  return base::ScopedHandle(CreateFileW(path.value().c_str(), GENERIC_READ, 0, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

TEST_F(InstallerTest, ARequiredFileThatCannotBeCopiedFailsAfterSixTries) {
  UsePackage(CopyPackage());
  base::ScopedHandle locked = Lock(package_.Append(L"resources\\app.dat"));
  ASSERT_TRUE(locked.IsValid());
  std::string before = Snapshot();
  InstallationRun run;
  Run(&run);
  EXPECT_FALSE(run.succeeded);
  // The second file step: one OnStep for six runs.
  EXPECT_EQ(2, std::count(run.events.begin(), run.events.end(), std::string("Step")));
  EXPECT_EQ(5, std::count(run.events.begin(), run.events.end(),
                          std::string("ImportantEvent(file_copy_retry)")));
  EXPECT_EQ("Error(8," + install_folder_.Append(L"1.0.100.0\\resources\\app.dat").AsUTF8() +
                ",Failed copying resources\\app.dat)",
            LastError(run.events));
  EXPECT_EQ("Done(0)", run.events.back());
  EXPECT_EQ("", SnapshotDifference(before, Snapshot()));
}

TEST_F(InstallerTest, AnOptionalFileThatCannotBeCopiedIsSkipped) {
  UsePackage(CopyPackage());
  base::ScopedHandle locked = Lock(package_.Append(L"installer_helper_64.exe"));
  ASSERT_TRUE(locked.IsValid());
  InstallationRun run;
  Run(&run);
  ASSERT_TRUE(run.succeeded) << ::testing::PrintToString(run.events);
  EXPECT_EQ(5, std::count(run.events.begin(), run.events.end(),
                          std::string("ImportantEvent(file_copy_retry)")));
  std::unique_ptr<InstallLog> record =
      ReadRecord(install_folder_.Append(L"installation_status.xml"));
  ASSERT_TRUE(record);
  EXPECT_EQ(4u, record->files.size());
  EXPECT_FALSE(base::PathExists(install_folder_.Append(L"1.0.100.0\\installer_helper_64.exe")));
}

TEST_F(InstallerTest, ACopyThatSucceedsOnARetryIsRecorded) {
  UsePackage(CopyPackage());
  base::ScopedHandle locked = Lock(package_.Append(L"velum.exe"));
  ASSERT_TRUE(locked.IsValid());
  InstallationRun run;
  run.on_event = [&locked](const std::string& event, Installer*) {
    if (event == "ImportantEvent(file_copy_retry)") locked.Close();
  };
  Run(&run);
  ASSERT_TRUE(run.succeeded) << ::testing::PrintToString(run.events);
  EXPECT_EQ(1, std::count(run.events.begin(), run.events.end(),
                          std::string("ImportantEvent(file_copy_retry)")));
  EXPECT_EQ(17, std::count(run.events.begin(), run.events.end(), std::string("Step")));
  EXPECT_TRUE(base::PathExists(install_folder_.Append(L"1.0.100.0\\velum.exe")));
}

TEST_F(InstallerTest, AFailureAtAnyStepUndoesTheWholeInstallation) {
  std::string before = Snapshot();
  for (size_t index = 0; index < 14; ++index) {
    SCOPED_TRACE(index);
    InstallationRun run;
    size_t steps = 0;
    run.failing_step = index;
    Run(&run);
    EXPECT_FALSE(run.succeeded);
    steps = std::count(run.events.begin(), run.events.end(), std::string("Step"));
    EXPECT_EQ(index + 1, steps);
    EXPECT_EQ("Error(0,,Injected step failure)", LastError(run.events));
    EXPECT_EQ("", SnapshotDifference(before, Snapshot()));
  }
}

TEST_F(InstallerTest, AnUpgradeFailureKeepsThePreviousVersion) {
  Install();
  UsePackage(testing::GetTestPackageFolder(L"test_pkg_v2"));
  std::string before = Snapshot();
  for (size_t index : {0u, 5u, 12u, 13u}) {
    SCOPED_TRACE(index);
    InstallationRun run;
    run.version = kV2;
    run.failing_step = index;
    Run(&run);
    EXPECT_FALSE(run.succeeded);
    EXPECT_EQ("", SnapshotDifference(before, Snapshot()));
  }
}

// The upgrade read the experiments through a preference store, which renamed a broken
// file to "installer_prefs.bad": a failed upgrade left the disk changed.
TEST_F(InstallerTest, AFailedUpgradeLeavesABrokenPreferencesFileAlone) {
  Install();
  ASSERT_TRUE(testing::MakeFile(install_folder_.Append(L"installer_prefs.json"), "{broken"));
  UsePackage(testing::GetTestPackageFolder(L"test_pkg_v2"));
  std::string before = Snapshot();
  InstallationRun run;
  run.version = kV2;
  run.failing_step = 0;
  Run(&run);
  EXPECT_FALSE(run.succeeded);
  EXPECT_EQ("", SnapshotDifference(before, Snapshot()));
}

TEST_F(InstallerTest, InterruptionCancelsMidway) {
  base::ScopedLogCapture log;
  base::PostedTaskLabels labels;
  std::string before = Snapshot();
  InstallationRun run;
  HANDLE interrupted = interrupted_.Get();
  int steps = 0;
  run.on_event = [&steps, interrupted](const std::string& event, Installer*) {
    if (event == "Step" && ++steps == 6) SetEvent(interrupted);
  };
  Run(&run);
  EXPECT_FALSE(run.succeeded);
  EXPECT_EQ("Done(0)", run.events.back());
  EXPECT_EQ(std::string(), LastError(run.events));
  EXPECT_EQ("", SnapshotDifference(before, Snapshot()));
  EXPECT_TRUE(log.Has("Installation was interrupted"));
  // The run itself is posted as "Run".
  EXPECT_TRUE(labels.Saw("Run"));
  EXPECT_FALSE(labels.Saw("BeginInstallation"));
}

TEST_F(InstallerTest, CancelIsSafeTwiceAndAfterSuccess) {
  InstallationRun run;
  int done = 0;
  run.on_event = [&done](const std::string& event, Installer* installer) {
    if (event == "Step") {
      installer->Cancel();
      installer->Cancel();
    }
    if (event == "Done(0)") ++done;
  };
  std::string before = Snapshot();
  Run(&run);
  EXPECT_EQ(1, done);
  EXPECT_EQ("", SnapshotDifference(before, Snapshot()));

  InstallationRun ok;
  ok.on_event = [](const std::string& event, Installer* installer) {
    if (event == "Success") installer->Cancel();
  };
  Run(&ok);
  EXPECT_TRUE(ok.succeeded);
  EXPECT_TRUE(base::PathExists(install_folder_.Append(L"installation_status.xml")));
}

TEST_F(InstallerTest, UpgradeKeepsTheExperimentsOfTheInstallation) {
  Install();
  ASSERT_TRUE(testing::MakeFile(install_folder_.Append(L"installer_prefs.json"),
                                "{\"installer-experiments\":[\"installer-experiment-test@1\"]}"));
  InstallationRun upgrade;
  upgrade.version = kV2;
  Run(&upgrade);
  // Back to the default for the other tests of this process.
  base::List reset;
  reset.AppendString("installer-experiment-test@2");
  base::ListFeatureReader reader(reset);
  base::FeatureRegistry::GetInstance()->GetFeatureStates()->ApplyReader(&reader);
  ASSERT_TRUE(upgrade.succeeded);
  EXPECT_NE(std::string::npos,
            testing::ReadText(install_folder_.Append(L"installer_prefs.json"))
                .find("\"installer-experiments\":[\"installer-experiment-test@1\"]"));
}

TEST_F(InstallerTest, ProtocolHandlerRegistrationRunsOnlyItsSteps) {
  Install();
  base::CommandLine saved = *base::CommandLine::ForCurrentProcess();
  InstallationRun run;
  run.switches = {L"--register-velum-as-protocol-handler"};
  Run(&run);
  EXPECT_EQ(Settings::OPERATION_REGISTER_PROTOCOL_HANDLER, run.operation);
  EXPECT_TRUE(run.succeeded);
  // No start, no total: the handler step and the preferences step.
  EXPECT_EQ((std::vector<std::string>{"Step", "Step", "Success"}), run.events);

  base::CommandLine::ForCurrentProcess()->AppendSwitch("post-elevated-install-tasks");
  InstallationRun post;
  Run(&post);
  *base::CommandLine::ForCurrentProcess() = saved;
  EXPECT_TRUE(post.succeeded);
  EXPECT_EQ(std::vector<std::string>{"Success"}, post.events);
}

TEST_F(InstallerTest, ResolvesPlaceholders) {
  Installer installer;
  EXPECT_EQ(L"Software\\Velum Software", installer.Resolve(L"CompanyRegistryKey"));
  EXPECT_EQ(L"Velum", installer.Resolve(L"Product"));
  EXPECT_EQ(L"velum.exe", installer.Resolve(L"Executable"));
  EXPECT_EQ(L"NoSuchName", installer.Resolve(L"NoSuchName"));
  EXPECT_EQ(nullptr, installer.GetRegistryLog(HKEY_CURRENT_USER));
  installer.StartRegistryLogging();
  EXPECT_EQ(&installer.GetInstallLog()->user_registry,
            installer.GetRegistryLog(HKEY_CURRENT_USER));
  EXPECT_EQ(&installer.GetInstallLog()->machine_registry,
            installer.GetRegistryLog(HKEY_LOCAL_MACHINE));
  installer.StopRegistryLogging();
  EXPECT_EQ(nullptr, installer.GetRegistryLog(HKEY_LOCAL_MACHINE));
}

}  // namespace
}  // namespace installer

#include "desktop/windows/installer/installer_test_util.h"

#include "base/base_paths.h"
#include "base/base_paths_win.h"
#include "base/command_line.h"
#include "base/features/feature_registry.h"
#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/files/scratch_dir_test_util.h"
#include "base/path_service.h"
#include "base/run_loop.h"
#include "desktop/windows/installer/settings/feature_flags.h"
#include "desktop/windows/installer/steps/installation_test_util.h"
#include "desktop/windows/installer/recording_installer_observer_test_util.h"
#include "desktop/windows/installer/service/install_log_reader.h"
#include "desktop/windows/installer/service/kernel_object_name.h"
#include "desktop/windows/installer/service/product_names.h"
#include "desktop/windows/installer/settings/settings.h"
#include "desktop/windows/installer/test_package_test_util.h"

namespace installer {
namespace testing {

const char kV1[] = "1.0.100.0";
const char kV2[] = "1.0.101.0";
const char kV3[] = "1.0.102.0";

std::vector<std::wstring> GetProductRegistryKeys() {
  return {GetCompanyRegistryKeyPath(),
          L"Software\\Classes",
          L"Software\\Clients",
          L"Software\\RegisteredApplications",
          L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths",
          L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
          L"Software\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags"};
}

void InstallerTest::SetUp() {
  ASSERT_FALSE(scratch_.path().empty());
  // The installation record is written through MSXML.
  com_ = base::ScopedComInitializer(COINIT_APARTMENTTHREADED);
  ASSERT_TRUE(com_.IsValid());
  // The start-up of the installer declares its features.
  RegisterInstallerFlags(base::FeatureRegistry::GetInstance()->GetFeatureStates());
  // The installer reads switches of the process command line.
  if (!base::CommandLine::ForCurrentProcess()) base::CommandLine::Init();
  ASSERT_TRUE(base::PathRegistry::Get(base::DIR_EXE, &original_exe_folder_));
  install_folder_ = scratch_.path().Append(L"Velum");
  UsePackage(GetTestPackageFolder(L"test_pkg"));
  ASSERT_TRUE(base::PathExists(package_.Append(L"files_list")));
  // The front end makes this event before it starts the backend.
  interrupted_.Set(CreateEventW(
      nullptr, TRUE, FALSE,
      GetKernelObjectName(install_folder_.value(), L"VelumInstaller/InstallationInterrupted",
                          true)
          .c_str()));
  ASSERT_TRUE(interrupted_.IsValid());
  ASSERT_TRUE(user_hive_.active());
  // Shortcuts and the pinning helper's copy stay inside the scratch folder.
  desktop_ = scratch_.path().Append(L"Desktop");
  start_menu_ = scratch_.path().Append(L"Programs");
  quick_launch_ = scratch_.path().Append(L"Quick Launch");
  temp_ = scratch_.path().Append(L"Temp");
  const struct {
    const base::FilePath& folder;
    int key;
  } folders[] = {{desktop_, base::DIR_USER_DESKTOP},     {desktop_, base::DIR_COMMON_DESKTOP},
                 {start_menu_, base::DIR_START_MENU},   {start_menu_, base::DIR_COMMON_START_MENU},
                 {quick_launch_, base::DIR_USER_QUICK_LAUNCH}, {temp_, base::DIR_TEMP}};
  for (const auto& folder : folders) {
    base::FilePath original;
    // Other tests of the program see the system's folders again afterwards.
    if (base::PathRegistry::Get(folder.key, &original))
      original_folders_.emplace_back(folder.key, original);
    ASSERT_TRUE(base::PathRegistry::Override(folder.key, folder.folder, true, true));
  }
}

void InstallerTest::TearDown() {
  for (const auto& folder : original_folders_)
    EXPECT_TRUE(base::PathRegistry::Override(folder.first, folder.second, true, false));
  EXPECT_TRUE(base::PathRegistry::Override(base::DIR_EXE, original_exe_folder_, true, false));
  com_.Reset();
}

void InstallerTest::UsePackage(const base::FilePath& folder) {
  package_ = folder;
  ASSERT_TRUE(base::PathRegistry::Override(base::DIR_EXE, folder, true, false));
}

base::FilePath InstallerTest::CopyPackage(const wchar_t* name) {
  base::FilePath copy = scratch_.path().Append(L"package").Append(name);
  EXPECT_TRUE(CopyTestPackage(name, copy));
  return copy;
}

namespace {

// The steps themselves, except that the one at `failing` fails after it ran.
class FailingStepRunner : public Installer::StepRunner {
 public:
  FailingStepRunner(std::optional<size_t> failing, std::function<void()> at_failure)
      : failing_(failing), at_failure_(std::move(at_failure)) {}
  StepResult Run(InstallerStep* step, size_t index, int32_t attempt) override {
    const StepResult result = step->Run(attempt);
    if (failing_ != index) return result;
    if (at_failure_) at_failure_();
    return StepResult(StepResult::STATUS_FAIL, INSTALLER_ERROR_GENERAL, std::wstring(),
                      "Injected step failure");
  }

 private:
  const std::optional<size_t> failing_;
  const std::function<void()> at_failure_;
};

// Copies the folder `from` to `to` as a cut would leave it: the note `note`, which its run
// holds so that nothing else reads it, is written from the text the run read of it.
void CopyFolderOfCutRun(const base::FilePath& from, const base::FilePath& to,
                        const base::FilePath& note, const std::string& note_text) {
  ASSERT_TRUE(base::CreateDirectory(to));
  base::FileEnumerator entries(from, true, base::FileEnumerator::FILES | base::FileEnumerator::DIRECTORIES,
                               std::wstring());
  for (base::FilePath path = entries.Next(); !path.empty(); path = entries.Next()) {
    const base::FilePath copy = installer::RebasePath(path, from, to);
    if (entries.GetInfo().IsDirectory()) {
      EXPECT_TRUE(base::CreateDirectory(copy)) << path.AsUTF8();
    } else if (IsSamePath(path, note)) {
      EXPECT_TRUE(base::WriteTextFile(copy, note_text)) << path.AsUTF8();
    } else {
      EXPECT_TRUE(CopyFileW(path.value().c_str(), copy.value().c_str(), TRUE)) << path.AsUTF8();
    }
  }
}

}  // namespace

void InstallerTest::Run(InstallationRun* run) {
  TestSettings test_settings(install_folder_, run->switches, run->uninstall, run->autoupdate,
                             run->valid_folder, run->writable_folder);
  Settings& settings = *test_settings.get();
  run->operation = settings.operation();
  base::RunLoop run_loop;
  RecordingInstallerObserver observer;
  observer.on_end = [&run_loop] { run_loop.Quit(); };
  {
    // A cut run is one that fails there, its folders then put back as they were.
    std::vector<std::pair<base::FilePath, base::FilePath>> kept;
    for (const base::FilePath& folder : {install_folder_, desktop_, start_menu_, quick_launch_})
      kept.emplace_back(folder, scratch_.path().Append(L"cut").Append(std::to_wstring(kept.size())));
    const Installer* running = nullptr;
    FailingStepRunner step_runner(
        run->cut_after_step ? run->cut_after_step : run->failing_step, [&kept, run, &running] {
          if (!run->cut_after_step) return;
          EXPECT_TRUE(base::CreateDirectory(kept[0].second.DirName()));
          const RunNoteFile& note = running->GetRunNoteFileForTesting();
          std::string note_text;
          EXPECT_TRUE(!note.written() || note.Read(&note_text));
          for (const auto& folder : kept) {
            if (base::DirectoryExists(folder.first))
              CopyFolderOfCutRun(folder.first, folder.second, note.path(), note_text);
          }
        });
    Installer installer(&step_runner, &system_services_.system);
    running = &installer;
    installer.SetProductVersionForTesting(run->version);
    installer.SetRetryDelayForTesting(base::TimeDelta::FromMilliseconds(1));
    if (run->on_event) {
      Installer* pointer = &installer;
      observer.on_event = [run, pointer](const std::string& event) {
        run->on_event(event, pointer);
      };
    }
    if (run->prepare) run->prepare(&installer);
    installer.AddObserver(&observer);
    installer.BeginInstallation(&settings);
    run_loop.Run();
    installer.RemoveObserver(&observer);
    run->succeeded = installer.succeeded();
    for (const auto& folder : kept) {
      if (!base::DirectoryExists(folder.second)) continue;
      EXPECT_TRUE(base::DeleteFile(folder.first, true));
      EXPECT_TRUE(base::CopyDirectory(folder.second, folder.first));
      EXPECT_TRUE(base::DeleteFile(folder.second, true));
    }
    if (run->cut_after_step) {
      EXPECT_TRUE(base::DeleteFile(scratch_.path().Append(L"cut"), true));
    }
  }
  run->events = observer.events;
}

std::string InstallerTest::Snapshot() {
  // The shell keeps its own keys in the hive too: only the product's count.
  std::string snapshot = SnapshotFileTree(scratch_.path());
  for (const std::wstring& key : GetProductRegistryKeys())
    snapshot += SnapshotRegistryTree(HKEY_CURRENT_USER, key, 0);
  return snapshot;
}

std::unique_ptr<InstallLog> InstallerTest::ReadRecord(const base::FilePath& path) {
  std::unique_ptr<InstallLog> record;
  InstallLogReader reader;
  reader.ParseFile(&record, path, SOURCE_STATUS_FILE);
  return record;
}

std::vector<base::FilePath> InstallerTest::OldStatusFiles() {
  std::vector<base::FilePath> files;
  base::FileEnumerator list(install_folder_.Append(L"old_status"), false,
                            base::FileEnumerator::FILES, std::wstring());
  for (base::FilePath path = list.Next(); !path.empty(); path = list.Next())
    files.push_back(path);
  return files;
}

void InstallerTest::Install(const char* version) {
  InstallationRun run;
  run.version = version;
  Run(&run);
  ASSERT_TRUE(run.succeeded) << ::testing::PrintToString(run.events);
}

}  // namespace testing
}  // namespace installer

#include "desktop/windows/installer/installer_runner.h"

#include <windows.h>

#include <algorithm>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "base/bind.h"
#include "base/command_line.h"
#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/files/scratch_dir_test_util.h"
#include "base/memory/weak_ptr.h"
#include "base/message_loop/message_loop.h"
#include "base/path_service.h"
#include "base/process/launch.h"
#include "base/run_loop.h"
#include "base/test/log_capture_test_util.h"
#include "base/test/test_helper_process.h"
#include "base/threading/thread.h"
#include "base/threading/thread_task_runner_handle.h"
#include "base/win/object_watcher.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/steps/installation_test_util.h"
#include "desktop/windows/installer/installer_runner_backend.h"
#include "desktop/windows/installer/ipc/installer_message.h"
#include "desktop/windows/installer/ipc/ipc_receiver.h"
#include "desktop/windows/installer/ipc/mailslot.h"
#include "desktop/windows/installer/ipc/mailslot_writer.h"
#include "base/process/process_launch_lock.h"
#include "desktop/windows/installer/recording_installer_observer_test_util.h"
#include "desktop/windows/installer/service/kernel_object_name.h"
#include "desktop/windows/installer/service/product_names.h"
#include "desktop/windows/installer/service/transactions/system_snapshot_test_util.h"
#include "desktop/windows/installer/test_package_test_util.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using testing::RecordingInstallerObserver;

TEST(InstallerRunnerBackendTest, InitialProcessHandleForms) {
  struct Case {
    const char* value;
    bool ok;
    uintptr_t handle;
  } cases[] = {
      {"A401000000000000", true, 0x1A4},
      {"A4010000", true, 0x1A4},
      {"FEFFFFFF", true, static_cast<uintptr_t>(-2)},  // 4 bytes are sign-extended
      {"A40100000000", false, 0},                      // 6 bytes
      {"A401", false, 0},
      {"", false, 0},
      {"G401000000000000", false, 0},
  };
  for (const Case& c : cases) {
    HANDLE handle = nullptr;
    EXPECT_EQ(c.ok, InstallerRunnerBackend::ParseInitialProcessHandle(c.value, &handle))
        << c.value;
    if (c.ok) {
      EXPECT_EQ(c.handle, reinterpret_cast<uintptr_t>(handle)) << c.value;
    }
  }
  EXPECT_EQ("A401000000000000",
            InstallerRunner::FormatHandleSwitch(reinterpret_cast<HANDLE>(0x1A4)));
}

// The backend's log tells every report it forwards to the front end (the "started" one
// excepted); every important event goes by one line, whatever its name.
TEST(InstallerRunnerBackendTest, EveryForwardedReportIsLogged) {
  base::MessageLoop loop;
  std::vector<std::string> lines;
  {
    InstallerRunnerBackend backend;
    base::ScopedLogCapture log;
    backend.OnStarted();
    backend.OnStartingNewMainProcess(true);
    backend.OnReturnedToPreviousMainProcess();
    backend.OnTotalSteps(17);
    backend.OnStep();
    backend.OnImportantEvent("launcher_in_use");
    backend.OnError(5, L"C:\\Velum", "No write access");
    backend.OnSuccess();
    lines = log.LinesStartingWith("Sending ");
  }
  EXPECT_EQ((std::vector<std::string>{
                "Sending IPC_MESSAGE_STARTING_NEW_MAIN_PROCESS(1)",
                "Sending IPC_MESSAGE_RETURNED_TO_PREVIOUS_MAIN_PROCESS",
                "Sending IPC_MESSAGE_TOTAL_STEPS(17)", "Sending IPC_MESSAGE_STEP",
                "Sending IPC_FILE_COPY_RETRY", "Sending IPC_MESSAGE_ERROR(5,C:\\Velum,No write access)",
                "Sending IPC_MESSAGE_SUCCESS"}),
            lines);
}

TEST(InstallerRunnerCommandLineTest, BackendSwitchesReplaceThoseOfTheSettings) {
  base::CommandLine form(base::CommandLine::NO_PROGRAM);
  form.AppendSwitch("backend");
  form.AppendSwitchASCII("initial-pid", "17");
  form.AppendSwitchASCII("installfolder", "C:\\x");
  base::CommandLine::SwitchMap replacements;
  replacements["initial-pid"] = L"42";
  base::CommandLine result = InstallerRunner::BuildBackendCommandLine(form, replacements);
  EXPECT_EQ("42", result.GetSwitchValueASCII("initial-pid"));
  EXPECT_EQ("C:\\x", result.GetSwitchValueASCII("installfolder"));
  EXPECT_TRUE(result.HasSwitch("backend"));
  EXPECT_EQ(static_cast<size_t>(4), result.argv().size());
}

// A front end in this process starts the backend helper (copied into a package as its
// "installer.exe") on a copy of test_pkg.
class InstallerRunnerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(scratch_.path().empty());
    ASSERT_FALSE(temp_.path().empty());
    install_folder_ = scratch_.path().Append(L"Velum");
    ASSERT_FALSE(package_scratch_.path().empty());
    // Apart from the scratch folder, whose snapshot must not see the package.
    package_ = package_scratch_.path().Append(L"package");
    ASSERT_TRUE(testing::CopyTestPackage(L"test_pkg", package_));
    ASSERT_TRUE(base::CopyFile(
        base::FilePath(base::TestExeSibling(L"installer_runner_backend_test_helper.exe")),
        package_.Append(L"installer.exe")));
    // The backend's log folder goes under its temporary folder; its registry writes
    // into a private hive, which this process uses too.
    ASSERT_TRUE(user_hive_.active());
    ASSERT_TRUE(hive_variable_.set());
    ASSERT_TRUE(tmp_.set());
    ASSERT_TRUE(temp_variable_.set());
  }

  std::string Snapshot() {
    return testing::SnapshotFileTree(scratch_.path()) +
           testing::SnapshotRegistryTree(HKEY_CURRENT_USER, GetCompanyRegistryKeyPath(), 0);
  }

  // The package's backend started directly for a request into `folder`, as a front end
  // of process `front_end` would start it.
  base::Process LaunchBackend(const base::FilePath& folder, DWORD front_end) {
    testing::TestSettings settings(folder, {});
    base::CommandLine::SwitchMap replacements;
    replacements["initial-pid"] = std::to_wstring(front_end);
    base::CommandLine command_line = InstallerRunner::BuildBackendCommandLine(
        settings.get()->ToCommandLine(false), replacements);
    command_line.SetProgram(package_.Append(L"installer.exe"));
    return base::LaunchProcess(command_line, base::LaunchOptions());
  }

  std::vector<base::FilePath> LogFiles() {
    std::vector<base::FilePath> logs;
    base::FileEnumerator list(temp_.path().Append(L"Velum Installer"), false,
                              base::FileEnumerator::FILES, L"velum_installer_*.log");
    for (base::FilePath path = list.Next(); !path.empty(); path = list.Next())
      logs.push_back(path);
    return logs;
  }

  base::MessageLoop loop_;
  base::ScratchDir scratch_;
  base::ScratchDir temp_;
  base::ScratchDir package_scratch_;
  base::FilePath install_folder_;
  base::FilePath package_;
  testing::PrivateUserHive user_hive_;
  testing::ScopedEnvironmentVariable hive_variable_{L"VELUM_TEST_USER_HIVE", user_hive_.path()};
  testing::ScopedEnvironmentVariable tmp_{L"TMP", temp_.path().value()};
  testing::ScopedEnvironmentVariable temp_variable_{L"TEMP", temp_.path().value()};
};

// Starts a second front end for `settings` on another thread (the mutex belongs to a
// thread, and this one holds it) and returns what its observer heard.
std::vector<std::string> StartOnAnotherThread(const base::FilePath& package, Settings* settings,
                                              bool* started) {
  std::vector<std::string> events;
  base::Thread thread("second front end");
  EXPECT_TRUE(thread.Start());
  thread.GetTaskRunner()->PostTask(FROM_HERE, base::Bind([package, settings, started,
                                                          &events]() {
    RecordingInstallerObserver observer;
    InstallerRunner runner(package, base::FilePath());
    runner.AddObserver(&observer);
    runner.OnPackageReady();
    *started = runner.Start(settings);
    runner.RemoveObserver(&observer);
    events = observer.events;
  }));
  thread.Stop();
  return events;
}

// Quits `run_loop` once the runner told the installation's end.
void QuitOnDone(RecordingInstallerObserver* observer, base::RunLoop* run_loop) {
  observer->on_event = [run_loop](const std::string& event) {
    if (event.compare(0, 5, "Done(") == 0) run_loop->Quit();
  };
}

// A front end's run of `settings` with the package in `package`, from its start to its end:
// what its observer heard.
std::vector<std::string> RunToItsEnd(const base::FilePath& package, Settings* settings) {
  RecordingInstallerObserver observer;
  base::RunLoop run_loop;
  QuitOnDone(&observer, &run_loop);
  InstallerRunner runner(package, base::FilePath());
  runner.AddObserver(&observer);
  runner.OnPackageReady();
  if (runner.Start(settings)) run_loop.Run();
  runner.RemoveObserver(&observer);
  return observer.events;
}

TEST_F(InstallerRunnerTest, TheFrontEndHearsEveryStepOfTheBackend) {
  testing::TestSettings settings(install_folder_, {});
  testing::TestSettings second_settings(install_folder_, {});
  RecordingInstallerObserver observer;
  base::RunLoop run_loop;
  QuitOnDone(&observer, &run_loop);
  InstallerRunner runner(package_, base::FilePath());
  runner.AddObserver(&observer);
  runner.OnPackageReady();
  ASSERT_TRUE(runner.Start(settings.get())) << ::testing::PrintToString(observer.events);

  bool second_started = true;
  std::vector<std::string> second =
      StartOnAnotherThread(package_, second_settings.get(), &second_started);
  EXPECT_FALSE(second_started);
  EXPECT_EQ((std::vector<std::string>{"Error(10,,Could not acquire installer mutex)"}), second);

  run_loop.Run();
  runner.RemoveObserver(&observer);
  const std::vector<std::string>& events = observer.events;
  ASSERT_GE(events.size(), 5u) << ::testing::PrintToString(events);
  EXPECT_EQ("Started", events[0]);
  EXPECT_EQ(0u, events[1].find("TotalSteps(")) << events[1];
  EXPECT_GT(observer.Count("Step"), 0);
  EXPECT_EQ("Success", events[events.size() - 2]);
  EXPECT_EQ("Done(1)", events.back());
  EXPECT_TRUE(base::PathExists(install_folder_.Append(L"installation_status.xml")));
  std::vector<base::FilePath> logs = LogFiles();
  ASSERT_EQ(1u, logs.size());
  std::string log;
  ASSERT_TRUE(base::ReadFileToString(logs[0], &log));
  EXPECT_NE(std::string::npos, log.find("Installer backend exiting"));
}

// Kernel object names are text: a front end names the installation's objects, and hands
// the backend the folder, in the spelling its parent folders list, so that any spelling
// of a folder that exists is refused while another front end runs there.
TEST_F(InstallerRunnerTest, EverySpellingOfAFolderIsOneRunAtATime) {
  // A name longer than 8.3, which the file system gives a short name too.
  install_folder_ = scratch_.path().Append(L"VelumBrowserFolder");
  ASSERT_TRUE(base::CreateDirectory(install_folder_));
  std::wstring short_name(MAX_PATH, L'\0');
  short_name.resize(GetShortPathNameW(install_folder_.value().c_str(), &short_name[0], MAX_PATH));
  ASSERT_NE(install_folder_.value(), short_name);
  std::wstring upper = install_folder_.value();
  CharUpperBuffW(&upper[0], static_cast<DWORD>(upper.size()));
  std::wstring slashes = install_folder_.value();
  std::replace(slashes.begin(), slashes.end(), L'\\', L'/');
  ASSERT_TRUE(base::CopyFile(testing::GetTestPackageFolder(L"test_pkg").Append(L"velum.exe"),
                             package_.Append(L"installer.exe")));
  const base::FilePath log = temp_.path().Append(L"launched.txt");
  testing::ScopedEnvironmentVariable log_variable(L"VELUM_FAKE_PROGRAM_LOG", log.value());
  testing::ScopedEnvironmentVariable exit_code(L"VELUM_FAKE_PROGRAM_EXIT_CODE", L"0");
  const struct {
    const char* name;
    std::wstring spelling;
  } cases[] = {
      {"trailing separator", install_folder_.value() + L"\\"},
      {"other case", upper},
      {"8.3 name", short_name},
      {"forward slashes", slashes},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(base::DeleteFile(log, false));
    testing::TestSettings settings(base::FilePath(c.spelling), {});
    testing::TestSettings listed(install_folder_, {});
    RecordingInstallerObserver observer;
    base::RunLoop run_loop;
    observer.on_end = [&run_loop] { run_loop.Quit(); };
    InstallerRunner runner(package_, base::FilePath());
    runner.AddObserver(&observer);
    runner.OnPackageReady();
    ASSERT_TRUE(runner.Start(settings.get())) << ::testing::PrintToString(observer.events);
    bool second_started = true;
    EXPECT_EQ((std::vector<std::string>{"Error(10,,Could not acquire installer mutex)"}),
              StartOnAnotherThread(package_, listed.get(), &second_started));
    EXPECT_FALSE(second_started);
    run_loop.Run();
    runner.RemoveObserver(&observer);
    std::string launched;
    ASSERT_TRUE(base::ReadFileToString(log, &launched));
    launched.resize(launched.find('\n'));  // the backend of the refused front end ran none
    EXPECT_NE(std::string::npos, launched.find(" --installfolder=" + install_folder_.AsUTF8() + " "))
        << launched;
  }
}

// An uninstalling backend takes its folder from its own path: started from the one the
// front end was started from, spelt otherwise, it still names its objects as the front end
// does.
TEST_F(InstallerRunnerTest, AnUninstallationStartedFromAnotherSpellingMeetsItsBackend) {
  install_folder_ = scratch_.path().Append(L"VelumBrowserFolder");
  testing::TestSettings install(install_folder_, {});
  ASSERT_EQ("Done(1)", RunToItsEnd(package_, install.get()).back());
  // The uninstaller in the version folder, as a package that lists it puts it there.
  ASSERT_TRUE(base::CopyFile(package_.Append(L"installer.exe"),
                             install_folder_.Append(L"1.0.100.0").Append(L"installer.exe")));
  std::wstring upper = install_folder_.value();
  CharUpperBuffW(&upper[0], static_cast<DWORD>(upper.size()));
  testing::TestSettings uninstall(base::FilePath(upper), {}, /*uninstall=*/true);
  const std::vector<std::string> events =
      RunToItsEnd(base::FilePath(upper).Append(L"1.0.100.0"), uninstall.get());
  EXPECT_EQ("Done(1)", events.back()) << ::testing::PrintToString(events);
  EXPECT_FALSE(base::PathExists(install_folder_.Append(L"installation_status.xml")));
}

// The backend names its objects from the folder it is given, unchanged: a front end of
// another version may spell the folder otherwise, and the two must still meet.
TEST_F(InstallerRunnerTest, TheBackendNamesItsObjectsFromTheFolderItIsGiven) {
  const base::FilePath given(install_folder_.value() + L"\\");
  base::ScopedHandle interrupted(CreateEventW(
      nullptr, TRUE, FALSE,
      GetKernelObjectName(given.value(), L"VelumInstaller/InstallationInterrupted", true)
          .c_str()));
  ASSERT_TRUE(interrupted.IsValid());
  // Hears the backend's reports until it has ended and they are all read.
  class Listener : public IpcReceiver::Delegate, public base::ObjectWatcher::Delegate {
   public:
    void OnMessageReceived(const base::SerialBuffer& message) override {
      EXPECT_TRUE(DispatchInstallerMessage(message, &observer));
    }
    void OnObjectSignaled(HANDLE) override { receiver.Flush(run_loop.QuitClosure()); }
    RecordingInstallerObserver observer;
    IpcReceiver receiver{this};
    base::RunLoop run_loop;
  } listener;
  ASSERT_TRUE(listener.receiver.Connect(GetInstallerMailslotName(given)));
  base::RunLoop created;
  listener.receiver.Flush(created.QuitClosure());
  created.Run();
  const base::Process backend = LaunchBackend(given, GetCurrentProcessId());
  ASSERT_TRUE(backend.IsValid());
  base::ObjectWatcher watcher;
  ASSERT_TRUE(watcher.StartWatching(backend.Handle(), &listener));
  listener.run_loop.Run();
  EXPECT_EQ(1, listener.observer.Count("Success"))
      << ::testing::PrintToString(listener.observer.events);
}

// An observer told of a failed start may launch in turn: the launch lock is free by then.
TEST_F(InstallerRunnerTest, AFailedStartTellsItsObserversWithTheLaunchLockFree) {
  testing::TestSettings settings(install_folder_, {});
  RecordingInstallerObserver observer;
  bool lock_was_free = false;
  observer.on_event = [&lock_was_free](const std::string&) {
    SRWLOCK* lock = base::GetProcessLaunchLock().native_handle();
    lock_was_free = TryAcquireSRWLockExclusive(lock);
    if (lock_was_free) ReleaseSRWLockExclusive(lock);
  };
  InstallerRunner runner(package_, base::FilePath(), [] { return base::ScopedHandle(); });
  runner.AddObserver(&observer);
  runner.OnPackageReady();
  EXPECT_FALSE(runner.Start(settings.get()));
  runner.RemoveObserver(&observer);
  EXPECT_EQ((std::vector<std::string>{"Error(0,,Could not duplicate own process handle)"}),
            observer.events);
  EXPECT_TRUE(lock_was_free);
  EXPECT_FALSE(runner.backend_running());
}

// Elevated helpers trust the installation's events: a name someone made first is refused,
// and no backend starts.
TEST_F(InstallerRunnerTest, AnEventSomeoneElseMadeFirstStartsNothing) {
  testing::TestSettings settings(install_folder_, {});
  base::ScopedHandle planted(CreateEventW(
      nullptr, TRUE, FALSE,
      GetKernelObjectName(install_folder_.value(), L"VelumInstaller/InstallationInterrupted", true)
          .c_str()));
  ASSERT_TRUE(planted.IsValid());
  RecordingInstallerObserver observer;
  InstallerRunner runner(package_, base::FilePath());
  runner.AddObserver(&observer);
  runner.OnPackageReady();
  EXPECT_FALSE(runner.Start(settings.get()));
  runner.RemoveObserver(&observer);
  EXPECT_FALSE(runner.backend_running());
  EXPECT_EQ(
      (std::vector<std::string>{"Error(0,,Could not create installation interruption event)"}),
      observer.events);
}

TEST_F(InstallerRunnerTest, InvalidSettingsLaunchNothing) {
  testing::TestSettings settings(install_folder_, {}, false, false, /*valid_folder=*/false);
  RecordingInstallerObserver observer;
  InstallerRunner runner(package_, base::FilePath());
  runner.AddObserver(&observer);
  runner.OnPackageReady();
  base::ScopedLogCapture log;
  EXPECT_FALSE(runner.Start(settings.get()));
  EXPECT_FALSE(runner.backend_running());
  EXPECT_EQ(
      (std::vector<std::string>{"Error(2,,Attempting to start installation with invalid settings)"}),
      observer.events);
  // A console shows only error lines: the refusal's own line says why.
  EXPECT_EQ((std::vector<std::string>{
                "Attempting to start installation with invalid settings (Invalid install folder: " +
                settings.get()->invalid_reason() + ")"}),
            log.LinesStartingWith("Attempting to start installation"));
  EXPECT_FALSE(settings.get()->invalid_reason().empty());
  runner.RemoveObserver(&observer);
}

// A backend that never reported success has not installed, whatever its exit code (a
// killed one exits with 0 under Wine); the backend gets the settings' switches and the
// front end's identity.
TEST_F(InstallerRunnerTest, ABackendThatReportedNoSuccessEndsAsFailed) {
  ASSERT_TRUE(base::CopyFile(testing::GetTestPackageFolder(L"test_pkg").Append(L"velum.exe"),
                             package_.Append(L"installer.exe")));
  const base::FilePath log = temp_.path().Append(L"launched.txt");
  ASSERT_TRUE(SetEnvironmentVariableW(L"VELUM_FAKE_PROGRAM_LOG", log.value().c_str()));
  for (const wchar_t* exit_code : {L"0", L"1"}) {
    SCOPED_TRACE(exit_code);
    ASSERT_TRUE(SetEnvironmentVariableW(L"VELUM_FAKE_PROGRAM_EXIT_CODE", exit_code));
    testing::TestSettings settings(install_folder_, {});
    RecordingInstallerObserver observer;
    base::RunLoop run_loop;
    observer.on_end = [&run_loop] { run_loop.Quit(); };
    InstallerRunner runner(package_, base::FilePath());
    runner.AddObserver(&observer);
    runner.OnPackageReady();
    ASSERT_TRUE(runner.Start(settings.get()));
    // One runner runs one installation.
    EXPECT_FALSE(runner.Start(settings.get()));
    run_loop.Run();
    runner.RemoveObserver(&observer);
    EXPECT_EQ((std::vector<std::string>{"Done(0)"}), observer.events);
  }
  SetEnvironmentVariableW(L"VELUM_FAKE_PROGRAM_LOG", nullptr);
  SetEnvironmentVariableW(L"VELUM_FAKE_PROGRAM_EXIT_CODE", nullptr);
  std::string launched;
  ASSERT_TRUE(base::ReadFileToString(log, &launched));
  EXPECT_EQ(0u, launched.find("installer.exe --backend")) << launched;
  for (const std::string& expected :
       {std::string(" --initial-pid=") + std::to_string(GetCurrentProcessId()) + " ",
        std::string(" --server-tracking-data=server_tracking_data"),
        std::string(" --crash-reporter-pid=0"), std::string(" --install ")}) {
    EXPECT_NE(std::string::npos, launched.find(expected)) << expected << " in " << launched;
  }
  const size_t handle = launched.find("--initial-proc-handle=");
  ASSERT_NE(std::string::npos, handle);
  EXPECT_EQ(std::string::npos,
            launched.substr(handle + 22, 16).find_first_not_of("0123456789ABCDEF"));
  EXPECT_EQ(std::string::npos, launched.find("wait-for-package"));
}

// A package unpacked from a full-package installer is never run from the folder the user
// can change, even when it is complete before the start: this program runs as the backend,
// waits for the package (told ready at once) and hands it over, so that an elevated run
// takes it out of the full-package installer again.
TEST_F(InstallerRunnerTest, AFullPackagesPackageIsHandedOverNeverRunFromItsFolder) {
  const base::FilePath fake = testing::GetTestPackageFolder(L"test_pkg").Append(L"velum.exe");
  ASSERT_TRUE(base::CopyFile(fake, package_.Append(L"installer.exe")));
  const base::FilePath front_end = temp_.path().Append(L"front_end.exe");
  ASSERT_TRUE(base::CopyFile(fake, front_end));
  base::FilePath own;
  ASSERT_TRUE(base::PathRegistry::Get(base::FILE_EXE, &own));
  ASSERT_TRUE(base::PathRegistry::Override(base::FILE_EXE, front_end, true, false));
  const base::FilePath log = temp_.path().Append(L"launched.txt");
  testing::ScopedEnvironmentVariable log_variable(L"VELUM_FAKE_PROGRAM_LOG", log.value());
  testing::ScopedEnvironmentVariable exit_code(L"VELUM_FAKE_PROGRAM_EXIT_CODE", L"0");
  testing::TestSettings settings(install_folder_, {});
  RecordingInstallerObserver observer;
  base::RunLoop run_loop;
  observer.on_end = [&run_loop] { run_loop.Quit(); };
  bool started = false;
  {
    InstallerRunner runner(package_, base::FilePath());
    runner.AddObserver(&observer);
    runner.set_from_full_package();
    runner.OnPackageReady();
    started = runner.Start(settings.get());
    if (started) {
      const base::ScopedHandle ready(OpenEventW(
          SYNCHRONIZE, FALSE,
          GetKernelObjectName(install_folder_.value(), L"VelumInstaller/PackageReady", true)
              .c_str()));
      EXPECT_TRUE(ready.IsValid());
      EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(ready.Get(), 0));
      run_loop.Run();
    }
    runner.RemoveObserver(&observer);
  }
  ASSERT_TRUE(base::PathRegistry::Override(base::FILE_EXE, own, true, false));
  ASSERT_TRUE(started) << ::testing::PrintToString(observer.events);
  std::string launched;
  ASSERT_TRUE(base::ReadFileToString(log, &launched));
  EXPECT_EQ(0u, launched.find("front_end.exe ")) << launched;
  EXPECT_NE(std::string::npos, launched.find("--wait-for-package=" + package_.AsUTF8()))
      << launched;
  EXPECT_EQ(std::string::npos, launched.find("installer.exe")) << launched;
}

// A process that hands the installation over judges the other one by its exit code (a
// killed one exits with 0 under Wine): a hand-over that returned without a report of
// success or error fails the run, and the success the handing process claims after it
// does not count; the failure is told at the end unless the handing process tells its own
// error. With the package's installer's success reported, the same run succeeds.
TEST_F(InstallerRunnerTest, AHandOverThatReturnedWithoutASuccessReportFailsTheRun) {
  ASSERT_TRUE(base::CopyFile(testing::GetTestPackageFolder(L"test_pkg").Append(L"velum.exe"),
                             package_.Append(L"installer.exe")));
  ASSERT_TRUE(SetEnvironmentVariableW(L"VELUM_FAKE_PROGRAM_EXIT_CODE", L"0"));
  const char kFailed[] =
      "Error(0,,The installer process it was handed to ended without reporting success)";
  const char kOwnError[] = "Error(0,,Failed to start installer process from the package folder.)";
  enum Inner { kKilled, kReported, kNotStarted };
  for (const Inner inner : {kKilled, kReported, kNotStarted}) {
    SCOPED_TRACE(inner);
    testing::TestSettings settings(install_folder_, {});
    RecordingInstallerObserver observer;
    base::RunLoop run_loop;
    QuitOnDone(&observer, &run_loop);
    InstallerRunner runner(package_, base::FilePath());
    runner.AddObserver(&observer);
    runner.OnPackageReady();
    ASSERT_TRUE(runner.Start(settings.get()));
    // The backend runs elevated (the outer hand-over), which runs the package's installer
    // (the inner one); each reports its own success when the other ended with 0.
    std::vector<std::unique_ptr<base::SerialBuffer>> messages;
    messages.push_back(CreateStartingNewMainProcessMessage(false));
    messages.push_back(CreateStartingNewMainProcessMessage(false));
    if (inner == kReported) messages.push_back(CreateInstallerMessage(IPC_MESSAGE_SUCCESS));
    messages.push_back(CreateInstallerMessage(IPC_MESSAGE_RETURNED_TO_PREVIOUS_MAIN_PROCESS));
    if (inner == kNotStarted) {
      messages.push_back(CreateErrorMessage(
          0, std::wstring(), "Failed to start installer process from the package folder."));
    } else {
      messages.push_back(CreateInstallerMessage(IPC_MESSAGE_SUCCESS));
    }
    messages.push_back(CreateInstallerMessage(IPC_MESSAGE_RETURNED_TO_PREVIOUS_MAIN_PROCESS));
    if (inner != kNotStarted) messages.push_back(CreateInstallerMessage(IPC_MESSAGE_SUCCESS));
    for (const auto& message : messages) runner.OnMessageReceived(*message);
    run_loop.Run();
    runner.RemoveObserver(&observer);
    EXPECT_EQ(inner == kKilled ? 1 : 0, observer.Count(kFailed));
    EXPECT_EQ(inner == kNotStarted ? 1 : 0, observer.Count(kOwnError));
    EXPECT_EQ(inner == kReported ? 3 : 0, observer.Count("Success"));
    ASSERT_LE(2u, observer.events.size());
    EXPECT_EQ(inner == kReported ? "Done(1)" : "Done(0)", observer.events.back());
    if (inner == kKilled) {
      EXPECT_EQ(kFailed, observer.events[observer.events.size() - 2]);
    }
  }
  SetEnvironmentVariableW(L"VELUM_FAKE_PROGRAM_EXIT_CODE", nullptr);
}

// The message of one letter of a run's script: 'S' a hand-over announced, 'R' its return,
// '+' a success, 'E' an error.
std::unique_ptr<base::SerialBuffer> ScriptMessage(char letter) {
  switch (letter) {
    case 'S':
      return CreateStartingNewMainProcessMessage(false);
    case 'R':
      return CreateInstallerMessage(IPC_MESSAGE_RETURNED_TO_PREVIOUS_MAIN_PROCESS);
    case '+':
      return CreateInstallerMessage(IPC_MESSAGE_SUCCESS);
    default:
      return CreateErrorMessage(0, std::wstring(), "Installer process did not complete successfully.");
  }
}

// Hands the runner the messages of `script` (what follows '|' only once the runner waits
// for late reports after the backend's end, what follows '~' a while after that, what
// follows '!' once the run was decided) while a backend that reports nothing itself ends
// with `exit_code`; what the observers heard, and the log in *lines.
class ScriptedRun : public base::ObjectWatcher::Delegate {
 public:
  ScriptedRun(const base::FilePath& package, const std::string& script)
      : runner_(package, base::FilePath()),
        after_done_(script.find('!') == std::string::npos ? std::string()
                                                          : script.substr(script.find('!') + 1)),
        late_(script.find_first_of("|~") == std::string::npos
                  ? std::string()
                  : script.substr(0, script.find('!')).substr(script.find_first_of("|~") + 1)),
        early_(script.substr(0, script.find_first_of("|~!"))),
        after_a_while_(script.find('~') != std::string::npos) {}

  std::vector<std::string> Run(testing::TestSettings* settings, std::vector<std::string>* lines) {
    base::ScopedHandle waiting(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    EXPECT_TRUE(waiting.IsValid());
    RecordingInstallerObserver observer;
    base::RunLoop run_loop;
    QuitOnDone(&observer, &run_loop);
    {
      base::ScopedLogCapture log;
      log.SetEventOnLineStartingWith("Waiting up to ", waiting.Get());
      base::ObjectWatcher watcher;
      EXPECT_TRUE(watcher.StartWatching(waiting.Get(), this));
      runner_.AddObserver(&observer);
      runner_.OnPackageReady();
      EXPECT_TRUE(runner_.Start(settings->get()));
      Deliver(early_);
      run_loop.Run();
      if (after_a_while_) {
        // Past the runner's own wait for late reports, which the late success ended.
        base::RunLoop past_the_wait;
        base::CurrentThreadTaskRunner::Get()->PostDelayedTask(
            FROM_HERE, past_the_wait.QuitClosure(),
            base::TimeDelta::FromMilliseconds(2 * MailslotWriter::kDrainTimeMs));
        past_the_wait.Run();
      }
      Deliver(after_done_);
      runner_.RemoveObserver(&observer);
      *lines = log.lines();
    }
    return observer.events;
  }

  void OnObjectSignaled(HANDLE) override {
    if (!after_a_while_) {
      Deliver(late_);
      return;
    }
    // Delayed tasks run in the order they fall due: these come after any task the runner
    // posted to fall due at once, and well within its wait.
    base::CurrentThreadTaskRunner::Get()->PostDelayedTask(
        FROM_HERE, base::Bind(&ScriptedRun::Deliver, weak_factory_.GetWeakPtr(), late_),
        base::TimeDelta::FromMilliseconds(100));
  }

 private:
  void Deliver(const std::string& letters) {
    for (char letter : letters) runner_.OnMessageReceived(*ScriptMessage(letter));
  }

  InstallerRunner runner_;
  std::string after_done_;
  std::string late_;
  std::string early_;
  bool after_a_while_;
  // A delivery still due when the run was decided without it is dropped with the run.
  base::WeakPtrFactory<ScriptedRun> weak_factory_{this};
};

// Nothing orders the messages of a process handed over to and those of the process that
// handed over: a success the first reported before it ended counts wherever it arrives,
// after the return, after the claim of the process that handed over, or after the
// backend's end. A hand-over whose process reported nothing fails the run however the
// other processes claim success, also after an earlier hand-over succeeded; a backend
// ended from outside after the installation reported its success decides by its exit code.
TEST_F(InstallerRunnerTest, TheOutcomeCountsEveryReportWhateverItsOrder) {
  ASSERT_TRUE(base::CopyFile(testing::GetTestPackageFolder(L"test_pkg").Append(L"velum.exe"),
                             package_.Append(L"installer.exe")));
  const std::string kFailed =
      "Error(0,,The installer process it was handed to ended without reporting success)";
  struct Case {
    const char* name;
    const char* script;
    const wchar_t* exit_code;
    bool success;
    int successes_told;
    int failures_told;
    const char* log_line;
  } cases[] = {
      {"in order", "S+R+", L"0", true, 2, 0, nullptr},
      {"late success before the claim's end", "SR++", L"0", true, 2, 0, nullptr},
      {"late success after the backend's end", "SR+|+", L"0", true, 2, 0, nullptr},
      {"late success a while after the backend's end", "SR+~+", L"0", true, 2, 0, nullptr},
      {"elevated, the innermost success last", "SSR+R+|+", L"0", true, 3, 0, nullptr},
      {"killed package installer", "SR+", L"0", false, 0, 1,
       "The installer process it was handed to ended without reporting success"},
      {"killed, elevated", "SSR+R+", L"0", false, 0, 1, nullptr},
      // Once the outcome was told, a success read later changes nothing: the wizard
      // already shows its error page.
      {"success after the run failed", "SR+!+", L"0", false, 0, 1, nullptr},
      {"success, then a hand-over that died silently", "SS+R+RSR+", L"0", false, 2, 1, nullptr},
      {"backend killed after the installation's success, 0", "S+", L"0", true, 1, 0, nullptr},
      {"backend killed after the installation's success, 1", "S+", L"1", false, 1, 0,
       "Installer backend ended with exit code 1 after a success was reported"},
      {"backend killed before any success, 1", "S", L"1", false, 0, 0,
       "Installer backend ended without reporting success, with exit code 1"},
      // Under Wine a killed process often ends with 0: the console still says why.
      {"backend killed before any success, 0", "S", L"0", false, 0, 0,
       "Installer backend ended without reporting success"},
      {"an error beside every success", "E+", L"0", false, 1, 0, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(SetEnvironmentVariableW(L"VELUM_FAKE_PROGRAM_EXIT_CODE", c.exit_code));
    testing::TestSettings settings(install_folder_, {});
    ScriptedRun run(package_, c.script);
    std::vector<std::string> lines;
    const std::vector<std::string> events = run.Run(&settings, &lines);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(c.success ? "Done(1)" : "Done(0)", events.back()) << ::testing::PrintToString(events);
    EXPECT_EQ(1, std::count_if(events.begin(), events.end(), [](const std::string& event) {
                return event.compare(0, 5, "Done(") == 0;
              })) << ::testing::PrintToString(events);
    EXPECT_EQ(c.successes_told, static_cast<int>(std::count(events.begin(), events.end(), "Success")));
    EXPECT_EQ(c.failures_told, static_cast<int>(std::count(events.begin(), events.end(), kFailed)));
    if (c.log_line) {
      EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(), std::string(c.log_line)))
          << ::testing::PrintToString(lines);
    }
  }
  SetEnvironmentVariableW(L"VELUM_FAKE_PROGRAM_EXIT_CODE", nullptr);
}

// Fills the mailslot at `path` until a write to it would wait (under Wine an unread
// mailslot holds its writers once its buffer is full); false when no write ever waits.
bool FillMailslot(const std::wstring& path) {
  base::ScopedHandle filler(CreateFileW(path.c_str(), GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_OVERLAPPED, nullptr));
  base::ScopedHandle written(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!filler.IsValid() || !written.IsValid()) return false;
  const std::vector<char> block(kMailslotMessageSize, 'x');
  for (int i = 0; i < 4096; ++i) {
    OVERLAPPED overlapped = {};
    overlapped.hEvent = written.Get();
    DWORD done = 0;
    if (WriteFile(filler.Get(), block.data(), static_cast<DWORD>(block.size()), &done,
                  &overlapped)) {
      continue;
    }
    if (GetLastError() != ERROR_IO_PENDING) return false;
    CancelIo(filler.Get());
    (void)GetOverlappedResult(filler.Get(), &overlapped, &done, TRUE);  // cancelled
    return true;
  }
  return false;
}

// A front end that stopped reading (it set its interrupted event) lives on while it waits
// for the backend's end: the backend's last reports, which the full mailslot holds, must
// not wait for that end.
TEST_F(InstallerRunnerTest, ABackendEndsWhileItsFrontEndLivesOnWithoutReading) {
  base::ScopedHandle stopped(CreateEventW(
      nullptr, TRUE, TRUE,
      GetKernelObjectName(install_folder_.value(), L"VelumInstaller/InstallationInterrupted", true)
          .c_str()));
  ASSERT_TRUE(stopped.IsValid());
  const std::wstring path = GetMailslotPath(GetInstallerMailslotName(install_folder_));
  base::ScopedHandle mailslot(CreateMailslotW(
      path.c_str(), static_cast<DWORD>(kMailslotMessageSize), MAILSLOT_WAIT_FOREVER, nullptr));
  ASSERT_TRUE(mailslot.IsValid());
  if (!FillMailslot(path)) GTEST_SKIP() << "no write to an unread mailslot waits here";
  const base::Process backend = LaunchBackend(install_folder_, GetCurrentProcessId());
  ASSERT_TRUE(backend.IsValid());
  // Bounded far past the writer's drain time: a backend still waiting then waits for this
  // process, which only ends after it.
  int32_t exit_code = 0;
  const bool ended = backend.WaitForExitWithTimeout(
      base::TimeDelta::FromMilliseconds(30 * MailslotWriter::kDrainTimeMs), &exit_code);
  EXPECT_TRUE(ended) << "the backend waited for a front end that stopped reading";
  if (!ended) {
    EXPECT_TRUE(TerminateProcess(backend.Handle(), 1));
  }
}

TEST_F(InstallerRunnerTest, TheBackendRollsBackWhenTheFrontEndDies) {
  // A file the installation cannot copy keeps it retrying, mid-way, while the front
  // end goes.
  base::ScopedHandle locked(CreateFileW(package_.Append(L"velum.exe").value().c_str(),
                                        GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(locked.IsValid());
  base::ScopedHandle front_end = testing::StartSleepingFakeProgram(
      testing::GetTestPackageFolder(L"test_pkg").Append(L"velum.exe"));
  ASSERT_TRUE(front_end.IsValid());
  base::ScopedHandle interrupted(CreateEventW(
      nullptr, TRUE, FALSE,
      GetKernelObjectName(install_folder_.value(), L"VelumInstaller/InstallationInterrupted",
                          true)
          .c_str()));
  ASSERT_TRUE(interrupted.IsValid());
  const std::string before = Snapshot();

  class Listener : public IpcReceiver::Delegate {
   public:
    void OnMessageReceived(const base::SerialBuffer& message) override {
      EXPECT_TRUE(DispatchInstallerMessage(message, &observer));
    }
    RecordingInstallerObserver observer;
  } listener;
  base::RunLoop run_loop;
  HANDLE front_end_handle = front_end.Get();
  listener.observer.on_event = [&run_loop, front_end_handle](const std::string& event) {
    if (event == "ImportantEvent(file_copy_retry)") {
      TerminateProcess(front_end_handle, 1);
      run_loop.Quit();
    }
  };
  IpcReceiver receiver(&listener);
  ASSERT_TRUE(receiver.Connect(GetInstallerMailslotName(install_folder_)));
  base::RunLoop created;
  receiver.Flush(created.QuitClosure());
  created.Run();

  const base::Process backend = LaunchBackend(install_folder_, GetProcessId(front_end.Get()));
  ASSERT_TRUE(backend.IsValid());
  run_loop.Run();
  int32_t exit_code = 0;
  ASSERT_TRUE(backend.WaitForExit(&exit_code));
  EXPECT_EQ(1, exit_code);
  EXPECT_EQ(0, listener.observer.Count("Success"));
  locked.Close();
  EXPECT_EQ("", testing::SnapshotDifference(before, Snapshot()));
}

}  // namespace
}  // namespace installer

// The interactive installer end to end, on the real wizard and real backends: a net
// installer that downloads the full test package from the local update server and
// installs it, one that the user cancels while it runs, and an uninstallation from the
// installed folder. The server and the fake programs hold a run at known points, so the
// test sees each phase while it lasts; every page passed is saved as a screenshot.
#include <windows.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/at_exit.h"
#include "base/base_paths.h"
#include "base/bind.h"
#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/rand_util.h"
#include "base/run_loop.h"
#include "base/strings/utf_string_conversions.h"
#include "base/test/test_helper_process.h"
#include "base/win/registry.h"
#include "base/win/scoped_handle.h"
#include "crypto/sha2.h"
#include "desktop/common/autoupdate/updatechecker/product_config.h"
#include "desktop/windows/installer/front_end/installer_ui_controller.h"
#include "desktop/windows/installer/front_end/installer_ui_controller_test_util.h"
#include "desktop/windows/installer/installer_runner.h"
#include "desktop/windows/installer/installer_test_util.h"
#include "desktop/windows/installer/package_fetcher/payload_reader.h"
#include "desktop/windows/installer/recording_installer_observer_test_util.h"
#include "desktop/windows/installer/service/transactions/system_snapshot_test_util.h"
#include "desktop/windows/installer/settings/settings.h"
#include "desktop/windows/installer/test_package_test_util.h"
#include "desktop/windows/installer/ui/wizard_driver_test_util.h"
#include "desktop/windows/rc_l10n_handler/localized_string.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using C = InstallerUIController;
using W = InstallerWindow;
using testing::ClickButton;
using testing::GetControlText;
using testing::GetProgressPosition;
using testing::IsControlShown;

const char kPackagePath[] = "/velum_full_installer.exe";
const char kStatisticsPath[] = "/netinstaller/feedback";
// What Release() names: the package download and the statistics post.
const char kPackageHold[] = "package";
const char kStatisticsHold[] = "statistics";
const DWORD kProcessEndTimeoutMs = 120000;

const int kDownloadingText = 37025;
const int kCancelInstallationQuestion = 37038;

bool IsSignaled(const base::ScopedHandle& event) {
  return WaitForSingleObject(event.Get(), 0) == WAIT_OBJECT_0;
}

std::wstring UniqueEventName(const wchar_t* role) {
  return std::wstring(L"VelumUIEndToEnd") + role + std::to_wstring(GetCurrentProcessId()) +
         L"_" + std::to_wstring(base::RandUint64());
}

void SaveScreenshot(HWND window, const wchar_t* name) {
  EXPECT_TRUE(testing::SaveWindowScreenshot(window, name)) << name;
}

class InstallerUIEndToEndTest : public testing::InstallerUIControllerTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(base::TrackDescendantProcesses());
    testing::InstallerUIControllerTest::SetUp();
  }

  void TearDown() override {
    // Nothing a case started (a backend, its package's installer, an uninstaller's
    // clean-up batch) outlives it.
    ReleaseEverything();
    EXPECT_TRUE(base::WaitForDescendantProcesses(kProcessEndTimeoutMs));
    testing::InstallerUIControllerTest::TearDown();
  }

  // A run that failed half-way must still end: nothing stays held.
  void GiveUp() override {
    ReleaseEverything();
    testing::InstallerUIControllerTest::GiveUp();
  }

  void ReleaseEverything() {
    if (launcher_release_.IsValid()) SetEvent(launcher_release_.Get());
    server_.Release(kPackageHold);
    server_.Release(kStatisticsHold);
  }

  // Serves the full test package as the net installer's download, held after its first
  // half until Release(kPackageHold), and makes this process the net installer.
  std::unique_ptr<PayloadReader> ServeHeldPackage() {
    std::string package;
    EXPECT_TRUE(base::ReadFileToString(
        testing::GetTestPackageFolder(L"test_pkg_full_installer.exe"), &package));
    EXPECT_TRUE(server_.ServeFile(kPackagePath, package));
    EXPECT_TRUE(server_.AddFaults(
        kPackagePath, R"([{"hold_until": ")" + std::string(kPackageHold) +
                          R"(", "after_bytes": )" + std::to_string(package.size() / 2) + "}]"));
    EXPECT_TRUE(server_.SetDownloadAddress(
        std::string(R"({"installer": "{base})") + kPackagePath + R"(", "installer_checksum": ")" +
        crypto::ComputeSha256Hex(package.data(), package.size()) + "\"}"));
    return BecomeNetInstaller(server_.Url("/netinstaller/address"));
  }

  // The statistics post waits for Release(kStatisticsHold), and with it the end of the
  // run: the hidden wizard can still be looked at. Called from a script, so that a run
  // without a wizard (which runs no script) is not held.
  void HoldStatistics() {
    EXPECT_TRUE(server_.AddFaults(
        kStatisticsPath, R"([{"hold_until": ")" + std::string(kStatisticsHold) + "\"}]"));
  }

  // Once the run has hidden the wizard, saves it as the user last saw it and lets the
  // statistics go.
  void AtTheEnd(const wchar_t* screenshot, std::function<void()> check) {
    When([this]() { return !IsWindowVisible(window_); },
         [this, screenshot, check]() {
           check();
           ShowWindow(window_, SW_SHOWNA);
           SaveScreenshot(window_, screenshot);
           ShowWindow(window_, SW_HIDE);
           EXPECT_TRUE(server_.Release(kStatisticsHold));
         });
  }

  // The fake launcher that a successful installation starts stands still until
  // |launcher_release_| is set; |launcher_ready_| tells that it does.
  void HoldTheLauncher() {
    const std::wstring ready = UniqueEventName(L"LauncherReady");
    const std::wstring release = UniqueEventName(L"LauncherRelease");
    launcher_ready_.Set(CreateEventW(nullptr, TRUE, FALSE, ready.c_str()));
    launcher_release_.Set(CreateEventW(nullptr, TRUE, FALSE, release.c_str()));
    ASSERT_TRUE(launcher_ready_.IsValid() && launcher_release_.IsValid());
    hold_variables_.emplace_back(
        new testing::ScopedEnvironmentVariable(L"VELUM_FAKE_PROGRAM_HOLD_ROLE", L"launcher.exe"));
    hold_variables_.emplace_back(
        new testing::ScopedEnvironmentVariable(L"VELUM_FAKE_PROGRAM_HOLD_EVENT", release));
    hold_variables_.emplace_back(
        new testing::ScopedEnvironmentVariable(L"VELUM_FAKE_PROGRAM_READY_EVENT", ready));
    for (const auto& variable : hold_variables_) ASSERT_TRUE(variable->set());
  }

  // The downloaded package answers the version questions as this installer would.
  void AnswerAsThisInstaller() {
    hold_variables_.emplace_back(new testing::ScopedEnvironmentVariable(
        L"VELUM_STUB_INTERNAL_VERSION", base::UTF8ToWide(GetBuildAndPatchNumber())));
    hold_variables_.emplace_back(new testing::ScopedEnvironmentVariable(
        L"VELUM_STUB_STREAM", base::UTF8ToWide(GetChannelName())));
    for (const auto& variable : hold_variables_) ASSERT_TRUE(variable->set());
  }

  std::string RegistrySnapshot() {
    std::string snapshot;
    for (const std::wstring& key : testing::GetProductRegistryKeys())
      snapshot += testing::SnapshotRegistryTree(HKEY_CURRENT_USER, key, 0);
    return snapshot;
  }

  // The install folder's tree (inside the scratch folder) and the product's keys.
  std::string Snapshot() {
    return testing::SnapshotFileTree(scratch_.path()) + RegistrySnapshot();
  }

  std::vector<base::FilePath> Shortcuts() {
    std::vector<base::FilePath> shortcuts;
    // A pattern would keep the enumeration out of the subfolders.
    base::FileEnumerator list(shell_.path(), true, base::FileEnumerator::FILES, std::wstring());
    for (base::FilePath path = list.Next(); !path.empty(); path = list.Next()) {
      if (base::FilePath::CompareIgnoreCase(path.Extension(), L".lnk") == 0)
        shortcuts.push_back(path);
    }
    return shortcuts;
  }

  base::ScopedHandle launcher_ready_;
  base::ScopedHandle launcher_release_;
  std::vector<std::unique_ptr<testing::ScopedEnvironmentVariable>> hold_variables_;
};

// A net installer the user accepts at once: the bar moves from the download through the
// unpacking into the installation, never back, and ends full; the package is installed.
TEST_F(InstallerUIEndToEndTest, ProgressRisesThroughThePhasesOfARealFetch) {
  std::unique_ptr<PayloadReader> payload = ServeHeldPackage();
  ASSERT_NO_FATAL_FAILURE(AnswerAsThisInstaller());
  ASSERT_NO_FATAL_FAILURE(HoldTheLauncher());
  const int fetch_start = C::ProgressPosition(C::PHASE_DOWNLOADING, 0, 1);
  const int extract_start = C::ProgressPosition(C::PHASE_EXTRACTING, 0, 1);
  const int components_start = C::ProgressPosition(C::PHASE_COMPONENTS, 0, 1);
  const int install_start = C::ProgressPosition(C::PHASE_INSTALLING, 0, 1);
  const int end = C::ProgressRange();
  testing::TestSettings settings(install_folder_, {});
  std::unique_ptr<testing::ProgressRecorder> progress;
  script_ = [&](C*) {
    HoldStatistics();
    progress.reset(new testing::ProgressRecorder(window_, W::PROGRESS_BAR));
    EXPECT_TRUE(progress->active());
    SaveScreenshot(window_, L"phase_welcome");
    ClickButton(window_, W::ACCEPT_BUTTON);
    // Half the package has come; the rest waits for the test.
    When([&]() {
           const int position = GetProgressPosition(window_, W::PROGRESS_BAR);
           return position > fetch_start && position < extract_start;
         },
         [&]() {
           EXPECT_EQ(GetLocalizedString(kDownloadingText),
                     GetControlText(window_, W::PROGRESS_TEXT));
           SaveScreenshot(window_, L"phase_fetching");
           EXPECT_TRUE(server_.Release(kPackageHold));
           // Every step has run and the launcher stands still: the installation has not
           // ended yet.
           When([&]() {
                  return IsSignaled(launcher_ready_) &&
                         GetProgressPosition(window_, W::PROGRESS_BAR) > install_start;
                },
                [&]() {
                  EXPECT_LT(GetProgressPosition(window_, W::PROGRESS_BAR), end);
                  EXPECT_NE(GetLocalizedString(kDownloadingText),
                            GetControlText(window_, W::PROGRESS_TEXT));
                  SaveScreenshot(window_, L"phase_installing");
                  SetEvent(launcher_release_.Get());
                  AtTheEnd(L"phase_done", [&]() {
                    EXPECT_EQ(end, GetProgressPosition(window_, W::PROGRESS_BAR));
                  });
                });
         });
  };
  EXPECT_TRUE(RunController(settings.get(), payload.get()));

  ASSERT_TRUE(progress);
  const std::vector<int>& positions = progress->positions();
  EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()))
      << ::testing::PrintToString(positions);
  auto seen_between = [&positions](int low, int high) {
    return std::any_of(positions.begin(), positions.end(),
                       [low, high](int position) { return position > low && position < high; });
  };
  EXPECT_TRUE(seen_between(fetch_start, extract_start)) << ::testing::PrintToString(positions);
  EXPECT_TRUE(seen_between(extract_start, components_start))
      << ::testing::PrintToString(positions);
  EXPECT_TRUE(seen_between(install_start, end)) << ::testing::PrintToString(positions);
  ASSERT_FALSE(positions.empty());
  EXPECT_EQ(end, positions.back());

  EXPECT_TRUE(base::PathExists(install_folder_.Append(L"installation_status.xml")));
  EXPECT_TRUE(base::PathExists(install_folder_.Append(L"launcher.exe")));
  EXPECT_EQ(1, PostedInteger("installation_success"));
}

// The user accepts a net installer and cancels while its backend, which has already
// made the install folder and noted it, waits for the package: after confirming, the
// machine is as it was, and the statistics say the installation was cancelled.
TEST_F(InstallerUIEndToEndTest, CancelDuringTheInstallationRollsBack) {
  std::unique_ptr<PayloadReader> payload = ServeHeldPackage();
  ASSERT_NO_FATAL_FAILURE(AnswerAsThisInstaller());
  testing::TestSettings settings(install_folder_, {});
  const std::string registry_before = RegistrySnapshot();
  const std::string before = Snapshot();
  ASSERT_FALSE(base::PathExists(install_folder_));
  script_ = [&](C*) {
    SaveScreenshot(window_, L"cancel_welcome");
    ClickButton(window_, W::ACCEPT_BUTTON);
    When([&]() {
           return base::DirectoryExists(install_folder_) && RegistrySnapshot() != registry_before;
         },
         [&]() {
           EXPECT_TRUE(IsControlShown(window_, W::PROGRESS_BAR));
           SaveScreenshot(window_, L"cancel_progress");
           // Wine's WinINet ends a pending read only when data or the connection's end
           // comes, closing the handle does not: the server goes on, or ending the
           // fetcher would wait for it. Nothing reaches the run before the cancel: this
           // task runs on, and the question box answers at once.
           EXPECT_TRUE(server_.Release(kPackageHold));
           // The title bar's close: the progress page shows no Cancel button.
           SendMessageW(window_, WM_CLOSE, 0, 0);
         });
  };
  EXPECT_FALSE(RunController(settings.get(), payload.get()));
  ASSERT_EQ(1u, boxes_.size());
  EXPECT_EQ(GetLocalizedString(kCancelInstallationQuestion), boxes_[0]);

  // The interrupted backend undoes its work and ends by itself.
  EXPECT_TRUE(base::WaitForDescendantProcesses(kProcessEndTimeoutMs));
  EXPECT_EQ("", testing::SnapshotDifference(before, Snapshot()));
  EXPECT_EQ(1, PostedInteger("installation_cancelled"));
  EXPECT_EQ(0, PostedInteger("installation_success"));
}

// An installation of the full test package keeps its installer in the version folder;
// run from there, the interactive uninstaller removes the files, the shortcuts and the
// uninstall entry.
TEST_F(InstallerUIEndToEndTest, UninstallFromTheInstalledFolder) {
  // Every user's hive has the key of the uninstall entries; the private one gets it too.
  const std::wstring uninstall_key = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
  ASSERT_TRUE(
      base::RegistryKey(HKEY_CURRENT_USER, uninstall_key.c_str(), KEY_CREATE_SUB_KEY).Valid());
  const std::string entries_before =
      testing::SnapshotRegistryTree(HKEY_CURRENT_USER, uninstall_key, 0);
  const base::FilePath package = package_scratch_.path().Append(L"full");
  ASSERT_TRUE(testing::CopyTestPackage(L"test_pkg_full", package));
  {
    testing::TestSettings settings(install_folder_, {});
    testing::RecordingInstallerObserver observer;
    base::RunLoop run_loop;
    observer.on_event = [&run_loop](const std::string& event) {
      if (event.compare(0, 5, "Done(") == 0) run_loop.Quit();
    };
    InstallerRunner runner(package, base::FilePath());
    runner.AddObserver(&observer);
    runner.OnPackageReady();
    ASSERT_TRUE(runner.Start(settings.get())) << ::testing::PrintToString(observer.events);
    run_loop.Run();
    runner.RemoveObserver(&observer);
    ASSERT_EQ("Done(1)", observer.events.back()) << ::testing::PrintToString(observer.events);
  }
  const base::FilePath version_folder =
      install_folder_.Append(base::UTF8ToWide(GetProductVersion()));
  const base::FilePath installed[] = {
      install_folder_.Append(L"installation_status.xml"), install_folder_.Append(L"launcher.exe"),
      install_folder_.Append(L"root_readme.txt"), version_folder.Append(L"velum.exe"),
      version_folder.Append(L"resources\\app.dat"),
      version_folder.Append(L"resources\\locales\\en-US.dat")};
  for (const base::FilePath& path : installed)
    ASSERT_TRUE(base::PathExists(path)) << path.AsUTF8();
  ASSERT_TRUE(base::PathExists(version_folder.Append(L"installer.exe")));
  ASSERT_FALSE(Shortcuts().empty());
  ASSERT_NE(entries_before, testing::SnapshotRegistryTree(HKEY_CURRENT_USER, uninstall_key, 0));

  // As the uninstall entry runs it: the installed installer, from its own folder.
  system_.own_folder = version_folder;
  testing::TestSettings settings(install_folder_, {}, /*uninstall=*/true);
  ASSERT_EQ(Settings::OPERATION_UNINSTALL, settings.get()->operation());
  script_ = [&](C*) {
    HoldStatistics();
    EXPECT_TRUE(IsControlShown(window_, W::UNINSTALL_BUTTON));
    SaveScreenshot(window_, L"uninstall_page");
    ClickButton(window_, W::UNINSTALL_BUTTON);
    AtTheEnd(L"uninstall_done", [&]() {
      EXPECT_EQ(C::ProgressRange(), GetProgressPosition(window_, W::PROGRESS_BAR));
    });
  };
  {
    // The run's own exit: the front end starts the clean-up batch its backend left to it.
    base::ExitCallbackStack exit_callbacks;
    EXPECT_TRUE(RunController(settings.get()));
  }
  // The clean-up batch the uninstaller left behind has deleted itself, last.
  EXPECT_TRUE(base::WaitForDescendantProcesses(kProcessEndTimeoutMs));
  EXPECT_FALSE(base::PathExists(install_folder_.Append(L"k.bat")));

  for (const base::FilePath& path : installed)
    EXPECT_FALSE(base::PathExists(path)) << path.AsUTF8();
  EXPECT_TRUE(Shortcuts().empty());
  EXPECT_EQ(entries_before, testing::SnapshotRegistryTree(HKEY_CURRENT_USER, uninstall_key, 0));
  EXPECT_EQ(1, PostedInteger("installation_success"));
  std::unique_ptr<base::Dictionary> record = PostedRecord();
  ASSERT_TRUE(record);
  std::string operation;
  EXPECT_TRUE(record->GetString("installation_operation", &operation));
  EXPECT_EQ("uninstalling", operation);
}

}  // namespace
}  // namespace installer

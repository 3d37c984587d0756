#include "desktop/windows/installer/front_end/installer_ui_controller.h"

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/files/file_util.h"
#include "base/files/scratch_dir_test_util.h"
#include "base/logging.h"
#include "base/values.h"
#include "desktop/windows/installer/front_end/installer_ui_controller_test_util.h"
#include "desktop/windows/installer/package_fetcher/payload_reader.h"
#include "desktop/windows/installer/settings/settings.h"
#include "desktop/windows/installer/steps/installation_test_util.h"
#include "desktop/windows/installer/test_package_test_util.h"
#include "desktop/windows/installer/ui/wizard_driver_test_util.h"
#include "desktop/windows/rc_l10n_handler/localized_string.h"
#include "desktop/windows/rc_l10n_handler/ui_language.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using C = InstallerUIController;
using W = InstallerWindow;
using testing::ClickButton;
using testing::GetControlText;
using testing::InstallerUIControllerTest;
using testing::IsControlShown;

TEST(InstallerUIControllerTablesTest, ProgressWeighsThePhases) {
  EXPECT_EQ(1303, C::ProgressRange());
  const struct {
    int phase;
    uint32_t current, total;
    int position;
  } cases[] = {
      {C::PHASE_PREPARING, 0, 0, 0},        {C::PHASE_PREPARING, 1, 1, 1},
      {C::PHASE_DOWNLOADING, 0, 0, 1},      {C::PHASE_DOWNLOADING, 1, 2, 501},
      {C::PHASE_DOWNLOADING, 1, 3, 334},    {C::PHASE_EXTRACTING, 3, 4, 1151},
      {C::PHASE_COMPONENTS, 5, 0, 1201},     {C::PHASE_PACKAGE_READY, 0, 10, 1202},
      {C::PHASE_INSTALLING, 50, 100, 1253}, {C::PHASE_INSTALLING, 100, 100, 1303},
      // Byte counts near the top of their range do not overflow.
      {C::PHASE_DOWNLOADING, 0xFFFFFFF0u, 0xFFFFFFFFu, 1000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.phase << " " << c.current << "/" << c.total);
    EXPECT_EQ(c.position, C::ProgressPosition(c.phase, c.current, c.total));
  }
}

TEST(InstallerUIControllerTablesTest, EveryErrorCodeHasAText) {
  const uint32_t install[] = {37055, 37056, 37058, 37055, 37059, 37060,
                              37061, 37063, 37062, 37057, 37057, 37055};
  for (uint32_t code = 0; code < 12; ++code) {
    SCOPED_TRACE(code);
    EXPECT_EQ(install[code], C::ErrorStringId(code, false));
    EXPECT_FALSE(GetLocalizedString(static_cast<int>(C::ErrorStringId(code, false))).empty());
  }
  // Codes without a text of their own name the failed operation.
  EXPECT_EQ(37056u, C::ErrorStringId(3, true));
  EXPECT_EQ(37056u, C::ErrorStringId(42, true));
  EXPECT_EQ(37060u, C::ErrorStringId(5, true));
}

// Accepting twice while the settings still examine the folder installs once, as soon as
// the status is there.
TEST_F(InstallerUIControllerTest, AcceptBeforeTheStatusInstallsOnce) {
  testing::TestSettings settings(install_folder_, {});
  const base::FilePath elsewhere = scratch_.path().Append(L"Elsewhere");
  settings.get()->SetInstallFolder(elsewhere);
  ASSERT_TRUE(settings.get()->fetching_status());
  script_ = [this](C* controller) {
    EXPECT_TRUE(testing::SaveWindowScreenshot(window_, L"ui_controller_welcome"));
    controller->OnAccept();
    controller->OnAccept();
    When([this]() { return IsControlShown(window_, W::PROGRESS_BAR); },
         [this]() { EXPECT_TRUE(testing::SaveWindowScreenshot(window_, L"ui_controller_progress")); });
  };
  EXPECT_TRUE(RunController(settings.get()));
  EXPECT_TRUE(base::PathExists(elsewhere.Append(L"installation_status.xml")));
  EXPECT_EQ(1, PostedInteger("installation_success"));
  std::unique_ptr<base::Dictionary> record = PostedRecord();
  ASSERT_TRUE(record);
  const base::Value* reason = nullptr;
  EXPECT_FALSE(record->Get("failure_reason", &reason));
  EXPECT_TRUE(boxes_.empty());
}

// An all-users installation without administrator rights becomes the user's own
// installation without asking, and installs.
TEST_F(InstallerUIControllerTest, MissingAdminRightsSwitchToTheCurrentUser) {
  testing::TestSettings settings(install_folder_, {L"--allusers=1"});
  ASSERT_TRUE(settings.get()->flag(Settings::ALL_USERS_FLAG));
  script_ = [this](C* controller) {
    controller->OnError(6, L"", "No administrator rights");
    ClickButton(window_, W::ACCEPT_BUTTON);
    EXPECT_FALSE(OnErrorPage());
    if (OnErrorPage()) controller->OnCancel();  // nobody would answer it
  };
  EXPECT_TRUE(RunController(settings.get()));
  EXPECT_FALSE(settings.get()->flag(Settings::ALL_USERS_FLAG));
  EXPECT_TRUE(base::PathExists(install_folder_.Append(L"installation_status.xml")));
  EXPECT_EQ(1, PostedInteger("installation_success"));
}

// An error before the user accepts waits; accepting shows it (a code without its own
// text shows the generic one), and cancelling ends the run as cancelled.
TEST_F(InstallerUIControllerTest, ErrorBeforeAcceptWaitsForTheUser) {
  testing::TestSettings settings(install_folder_, {});
  script_ = [this](C* controller) {
    controller->OnError(3, L"", "Cannot write");
    EXPECT_FALSE(OnErrorPage());
    ClickButton(window_, W::ACCEPT_BUTTON);
    ASSERT_TRUE(OnErrorPage());
    EXPECT_EQ(GetLocalizedString(37055), GetControlText(window_, W::PROGRESS_TEXT));
    EXPECT_FALSE(IsControlShown(window_, W::FULL_PACKAGE_BUTTON));
    EXPECT_TRUE(testing::SaveWindowScreenshot(window_, L"ui_controller_error"));
    SendMessageW(window_, WM_CLOSE, 0, 0);
  };
  EXPECT_FALSE(RunController(settings.get()));
  EXPECT_EQ(1u, boxes_.size());
  EXPECT_FALSE(base::PathExists(install_folder_.Append(L"installation_status.xml")));
  std::unique_ptr<base::Dictionary> record = PostedRecord();
  ASSERT_TRUE(record);
  int value = -1;
  EXPECT_TRUE(record->GetInteger("installation_cancelled", &value));
  EXPECT_EQ(1, value);
  EXPECT_TRUE(record->GetInteger("installation_success", &value));
  EXPECT_EQ(0, value);
  std::string reason;
  EXPECT_TRUE(record->GetString("failure_reason", &reason));
  EXPECT_EQ("Cannot write", reason);
}

// The error page tells the first error of a run, the cause: the package's installer
// reports it, the process that ran that installer then reports its failure without it.
TEST_F(InstallerUIControllerTest, ErrorPageTellsTheFirstErrorReported) {
  testing::TestSettings settings(install_folder_, {});
  script_ = [this](C* controller) {
    controller->OnError(4, L"C:\\Velum\\1.0", "Creating installation subfolder failed");
    controller->OnError(0, L"", "Installer process did not complete successfully.");
    ClickButton(window_, W::ACCEPT_BUTTON);
    ASSERT_TRUE(OnErrorPage());
    EXPECT_EQ(GetLocalizedStringWithArg(37059, L"C:\\Velum\\1.0"),
              GetControlText(window_, W::PROGRESS_TEXT));
    controller->OnCancel();
  };
  EXPECT_FALSE(RunController(settings.get()));
  std::unique_ptr<base::Dictionary> record = PostedRecord();
  ASSERT_TRUE(record);
  std::string reason;
  EXPECT_TRUE(record->GetString("failure_reason", &reason));
  EXPECT_EQ("Creating installation subfolder failed", reason);
}

// A folder that could not be made is named in full, also where the installation names
// its version subfolder alone: below the folder the options page showed, in every script.
TEST_F(InstallerUIControllerTest, FolderErrorNamesTheWholePath) {
  const LANGID previous = GetCurrentLanguageId();
  for (const wchar_t* code : {L"en-US", L"ar", L"ja", L"th"}) {
    SetCurrentLanguageId(LanguageCodeToLcid(code));
    testing::TestSettings settings(install_folder_, {});
    script_ = [this, code](C* controller) {
      controller->OnError(4, L"1.0.100.0", "Creating installation subfolder failed");
      ClickButton(window_, W::ACCEPT_BUTTON);
      EXPECT_EQ(GetLocalizedStringWithArg(37059, install_folder_.Append(L"1.0.100.0").value()),
                GetControlText(window_, W::PROGRESS_TEXT));
      EXPECT_TRUE(testing::SaveWindowScreenshot(window_, L"ui_controller_folder_error_" +
                                                             std::wstring(code)));
      controller->OnCancel();
    };
    EXPECT_FALSE(RunController(settings.get()));
  }
  SetCurrentLanguageId(previous);
}

// Autoupdates and runs with statistics off send nothing.
TEST_F(InstallerUIControllerTest, StatisticsStayWhenAutoupdatingOrOff) {
  script_ = [](C* controller) { controller->OnCancel(); };
  {
    testing::TestSettings settings(install_folder_, {}, false, /*autoupdate=*/true);
    EXPECT_FALSE(RunController(settings.get()));
  }
  {
    testing::TestSettings settings(install_folder_, {L"--enable-installer-stats=0"});
    EXPECT_FALSE(RunController(settings.get()));
  }
  EXPECT_TRUE(server_.RequestsTo("/netinstaller/feedback").empty());
}

// A wizard that cannot be made ends the run as failed (nothing else would end it).
TEST_F(InstallerUIControllerTest, NoWindowEndsTheRun) {
  system_.create_window = [](Settings*, std::unique_ptr<StatsNode>, bool,
                             const InstallerWindowAnswers&) {
    return std::unique_ptr<InstallerWindow>();
  };
  testing::TestSettings settings(install_folder_, {});
  EXPECT_FALSE(RunController(settings.get()));
  std::unique_ptr<base::Dictionary> record = PostedRecord();
  ASSERT_TRUE(record);
  std::string reason;
  EXPECT_TRUE(record->GetString("failure_reason", &reason));
  EXPECT_EQ("Could not initialize installer window", reason);
}

// A second installer while one runs brings the first forward and gives way, making no
// window; once the first is gone the next one runs.
TEST_F(InstallerUIControllerTest, SecondInstanceGivesWay) {
  InstallerUILock first;
  std::thread holder([&first, this]() { EXPECT_NE(0u, first.Acquire(system_.product_name)); });
  holder.join();
  testing::TestSettings settings(install_folder_, {});
  script_ = [](C* controller) { controller->OnCancel(); };
  EXPECT_FALSE(RunController(settings.get()));
  EXPECT_EQ(0, windows_made_);
  first.Release();
  EXPECT_FALSE(RunController(settings.get()));
  EXPECT_EQ(1, windows_made_);
}

// What a start made at the moment the backend is stopped would meet: whether the UI lock
// is still this thread's.
DWORD g_ui_thread = 0;
const wchar_t* g_product = nullptr;
int g_stops_seen = 0;
bool g_lock_held_at_stop = false;

bool NoteLockAtStop(int, const char*, int, size_t, const std::string& text) {
  if (text.find("Stopping installer backend") == std::string::npos) return false;
  ++g_stops_seen;
  DWORD owner = 0;
  std::thread start([&owner]() {
    InstallerUILock lock;
    owner = lock.Acquire(g_product);
  });
  start.join();
  g_lock_held_at_stop = g_lock_held_at_stop || owner == g_ui_thread;
  return false;
}

// The UI lock goes with the window, before the backend is stopped and the fetcher
// deleted, which can take seconds: a start after a cancel shows its own window.
TEST_F(InstallerUIControllerTest, LockGoesWithTheWindow) {
  testing::TestSettings settings(install_folder_, {});
  script_ = [](C* controller) { controller->OnCancel(); };
  g_ui_thread = GetCurrentThreadId();
  g_product = system_.product_name.c_str();
  base::SetLogMessageHandler(&NoteLockAtStop);
  EXPECT_FALSE(RunController(settings.get()));
  base::SetLogMessageHandler(nullptr);
  EXPECT_EQ(1, windows_made_);
  EXPECT_LE(1, g_stops_seen);
  EXPECT_FALSE(g_lock_held_at_stop);
}

// A network installer whose package cannot be fetched: the failures before acceptance
// show nothing; accepting fails with an error page; the second error offers the full
// installer, which is opened.
TEST_F(InstallerUIControllerTest, SecondErrorOffersTheFullInstaller) {
  std::unique_ptr<PayloadReader> payload =
      BecomeNetInstaller(server_.Url("/netinstaller/missing"));
  testing::TestSettings settings(install_folder_, {});
  script_ = [this](C* controller) {
    controller->fetcher_for_testing()->SetRetryDelayForTesting(base::TimeDelta());
    When([controller]() { return controller->fetcher_failed_for_testing(); },
         [this]() {
           EXPECT_FALSE(OnErrorPage());
           ClickButton(window_, W::ACCEPT_BUTTON);
           When([this]() { return OnErrorPage(); }, [this]() {
             EXPECT_FALSE(IsControlShown(window_, W::FULL_PACKAGE_BUTTON));
             ClickButton(window_, W::RETRY_BUTTON);
             When([this]() { return OnErrorPage() && IsControlShown(window_, W::FULL_PACKAGE_BUTTON); },
                  [this]() {
                    EXPECT_TRUE(testing::SaveWindowScreenshot(window_, L"ui_controller_full_package"));
                    ClickButton(window_, W::FULL_PACKAGE_BUTTON);
                  });
           });
         });
  };
  EXPECT_FALSE(RunController(settings.get(), payload.get()));
  ASSERT_EQ(1u, opened_.size());
  EXPECT_EQ(2, PostedInteger("installation_cancelled"));
  EXPECT_FALSE(base::PathExists(install_folder_.Append(L"installation_status.xml")));
}

// An installer that carries the package is the full installer: its progress page says
// it unpacks, not that it downloads, and however often it fails it offers no other
// installer.
TEST_F(InstallerUIControllerTest, FullInstallerNeitherDownloadsNorOffersItself) {
  // The backend runs as the test helper; the package is the one the full installer carries.
  const std::unique_ptr<PayloadReader> full =
      BecomeFullInstaller(testing::GetTestPackageFolder(L"test_pkg_full_installer.exe"));
  PayloadReader& payload = *full;
  ASSERT_EQ(PayloadReader::FULL_PACKAGE, payload.type());
  {
    testing::TestSettings settings(install_folder_, {});
    script_ = [this](C* controller) {
      // Before the package's first report.
      ASSERT_EQ(C::PHASE_PREPARING, controller->phase_for_testing());
      controller->OnError(0, L"", "first");
      ClickButton(window_, W::ACCEPT_BUTTON);
      ASSERT_TRUE(OnErrorPage());
      controller->OnError(0, L"", "second");
      ClickButton(window_, W::RETRY_BUTTON);
      ASSERT_TRUE(OnErrorPage());
      EXPECT_FALSE(IsControlShown(window_, W::FULL_PACKAGE_BUTTON));
      controller->OnCancel();
    };
    EXPECT_FALSE(RunController(settings.get(), &payload));
  }
  testing::TestSettings settings(install_folder_, {});
  script_ = [this](C* controller) {
    ASSERT_EQ(C::PHASE_PREPARING, controller->phase_for_testing());
    ClickButton(window_, W::ACCEPT_BUTTON);
    ASSERT_TRUE(IsControlShown(window_, W::PROGRESS_BAR));
    EXPECT_EQ(GetLocalizedString(37026), GetControlText(window_, W::PROGRESS_TEXT));
  };
  EXPECT_TRUE(RunController(settings.get(), &payload));
  EXPECT_TRUE(base::PathExists(install_folder_.Append(L"installation_status.xml")));
}

// The cancel question, answered from inside its own loop: |end| ends the installation
// while it is open; a question still open at the next look gets a late Yes.
struct LateYes {
  std::function<void()> end;
  bool ended = false;
  bool outlived = false;
};
LateYes* g_late_yes = nullptr;

BOOL CALLBACK FindQuestion(HWND window, LPARAM found) {
  if (!IsWindowVisible(window) || !GetDlgItem(window, IDYES)) return TRUE;
  *reinterpret_cast<HWND*>(found) = window;
  return FALSE;
}

void CALLBACK AnswerLate(HWND, UINT, UINT_PTR timer, DWORD) {
  HWND box = nullptr;
  EnumThreadWindows(GetCurrentThreadId(), FindQuestion, reinterpret_cast<LPARAM>(&box));
  if (!box || !g_late_yes) return;
  if (!g_late_yes->ended) {
    g_late_yes->ended = true;
    g_late_yes->end();
    return;
  }
  g_late_yes->outlived = true;
  KillTimer(nullptr, timer);
  PostMessageW(box, WM_COMMAND, IDYES, 0);
}

// Closes the window during the installation; the real question is asked and |end| runs
// while it is open. True when the question went with the installation's end.
bool AskWhileTheInstallationEnds(HWND window, C* controller, std::function<void()> end) {
  controller->window_for_testing()->set_message_box_for_testing(W::MessageBoxFunction());
  LateYes late{std::move(end)};
  g_late_yes = &late;
  const UINT_PTR timer = SetTimer(nullptr, 0, 20, AnswerLate);
  EXPECT_NE(0u, timer);
  SendMessageW(window, WM_CLOSE, 0, 0);
  KillTimer(nullptr, timer);
  g_late_yes = nullptr;
  EXPECT_TRUE(late.ended);
  return late.ended && !late.outlived;
}

// The installation succeeds while the cancel question is open: the question goes, the
// run ends as a success, and a Yes that still comes cancels nothing.
class SuccessWhileAskingTest : public InstallerUIControllerTest {
 protected:
  void Run(bool late_yes) {
    testing::TestSettings settings(install_folder_, {});
    script_ = [this, late_yes](C* controller) {
      ClickButton(window_, W::ACCEPT_BUTTON);
      ASSERT_TRUE(IsControlShown(window_, W::PROGRESS_BAR));
      if (!late_yes) {
        EXPECT_TRUE(AskWhileTheInstallationEnds(window_, controller,
                                                [controller]() { controller->OnSuccess(); }));
        return;
      }
      while_asking_ = [controller]() { controller->OnSuccess(); };
      SendMessageW(window_, WM_CLOSE, 0, 0);
      while_asking_ = nullptr;
      EXPECT_TRUE(IsWindowVisible(window_));
    };
    EXPECT_TRUE(RunController(settings.get()));
    EXPECT_TRUE(base::PathExists(install_folder_.Append(L"installation_status.xml")));
    EXPECT_EQ(1, PostedInteger("installation_success"));
    EXPECT_EQ(-1, PostedInteger("installation_cancelled"));
  }
};

TEST_F(SuccessWhileAskingTest, QuestionCloses) { Run(/*late_yes=*/false); }
TEST_F(SuccessWhileAskingTest, LateYesCancelsNothing) { Run(/*late_yes=*/true); }

// The installation fails while the cancel question is open: the question goes and the
// error page follows.
TEST_F(InstallerUIControllerTest, FailureWhileAskingShowsTheErrorPage) {
  testing::TestSettings settings(install_folder_, {});
  bool error_page = false;
  script_ = [this, &error_page](C* controller) {
    ClickButton(window_, W::ACCEPT_BUTTON);
    ASSERT_TRUE(IsControlShown(window_, W::PROGRESS_BAR));
    // The faked reports below are the run's only ones, as a runner's are: the backend the
    // click started, interrupted by the faked error, would end the run a second time
    // whenever it gets to it, and one landing after the error page took the Cancel below
    // for a late Yes to the closed question, leaving nothing to end the run.
    controller->runner_for_testing()->RemoveObserver(controller);
    EXPECT_TRUE(AskWhileTheInstallationEnds(window_, controller, [controller]() {
      controller->OnError(3, L"", "Cannot write");
      controller->OnInstallationDone(false);
    }));
    When([this]() { return OnErrorPage(); }, [this, controller, &error_page]() {
      error_page = true;
      EXPECT_EQ(GetLocalizedString(37055), GetControlText(window_, W::PROGRESS_TEXT));
      controller->OnCancel();
    });
  };
  EXPECT_FALSE(RunController(settings.get()));
  EXPECT_TRUE(error_page);
}

}  // namespace
}  // namespace installer

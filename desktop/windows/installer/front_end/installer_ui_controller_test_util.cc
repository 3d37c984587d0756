#include "desktop/windows/installer/front_end/installer_ui_controller_test_util.h"

#include "base/base_paths.h"
#include "base/bind.h"
#include "base/files/file_util.h"
#include "base/path_service.h"
#include "base/test/test_helper_process.h"
#include "base/threading/thread_task_runner_handle.h"
#include "desktop/windows/installer/package_fetcher/payload_reader.h"
#include "desktop/windows/installer/ui/wizard_driver_test_util.h"

namespace installer {
namespace testing {

namespace {

const wchar_t kBackendHelper[] = L"installer_runner_backend_test_helper.exe";

}  // namespace

InstallerUIControllerTest::InstallerUIControllerTest()
    : FrontEndControllerTest(base::MessageLoop::TYPE_UI) {}
InstallerUIControllerTest::~InstallerUIControllerTest() = default;

void InstallerUIControllerTest::SetUp() {
  ASSERT_NO_FATAL_FAILURE(SetUpFrontEnd(&system_));
  ASSERT_FALSE(shell_.path().empty());
  ASSERT_TRUE(shell_variable_.set());
  system_.product_name = L"VelumUITest";
  system_.open = [this](const std::wstring& file, const std::wstring& parameters) {
    opened_.push_back(file + L"|" + parameters);
    return true;
  };
  system_.can_offer_default_browser = [] { return true; };
  system_.create_window = [this](Settings* settings, std::unique_ptr<StatsNode> stats,
                                 bool run_immediately, const InstallerWindowAnswers& answers) {
    ++windows_made_;
    std::unique_ptr<InstallerWindow> window =
        InstallerWindow::Create(settings, std::move(stats), run_immediately, answers);
    if (!window) return window;
    window->set_message_box_for_testing(
        [this](HWND, const std::wstring& text, const std::wstring&, UINT) {
          boxes_.push_back(text);
          if (while_asking_) while_asking_();
          return IDYES;
        });
    window_ = window->GetHwnd();
    // The script runs once the controller has taken the window.
    if (!base::CurrentThreadTaskRunner::Get()->PostTask(
            FROM_HERE, base::Bind([this]() { script_(controller_); })))
      ADD_FAILURE() << "Could not post the script";
    return window;
  };
}

void InstallerUIControllerTest::TearDown() {
  if (!own_program_.empty()) {
    EXPECT_TRUE(base::PathRegistry::Override(base::FILE_EXE, own_program_, true, false));
  }
  command_line_.reset();
}

bool InstallerUIControllerTest::RunController(Settings* settings, PayloadReader* payload) {
  InstallerUIController controller(system_);
  controller_ = &controller;
  controller.stats_for_testing()->SetServerUrlForTesting(StatsServerUrl());
  controller.SetOverridesFeatureForTesting(false);
  const bool result = controller.RunUI(settings, payload, temp_.path(), false);
  controller_ = nullptr;
  return result;
}

void InstallerUIControllerTest::When(std::function<bool()> condition,
                                     std::function<void()> then, int tries) {
  if (condition()) {
    then();
    return;
  }
  if (tries == 0) {
    ADD_FAILURE() << "The awaited state never came";
    GiveUp();
    return;
  }
  if (!base::CurrentThreadTaskRunner::Get()->PostDelayedTask(
          FROM_HERE,
          base::Bind([this, condition, then, tries]() { When(condition, then, tries - 1); }),
          base::TimeDelta::FromMilliseconds(10)))
    ADD_FAILURE() << "Could not post the wait";
}

void InstallerUIControllerTest::GiveUp() { controller_->OnCancel(); }

bool InstallerUIControllerTest::OnErrorPage() const {
  return IsControlShown(window_, InstallerWindow::INSTALL_FAILED_TITLE);
}

std::unique_ptr<PayloadReader> InstallerUIControllerTest::BecomeNetInstaller(
    const std::wstring& address) {
  command_line_.reset(new base::ScopedCommandLine());
  command_line_->Get()->AppendSwitchNative("internal-package-server", address);
  const base::FilePath helper(base::TestExeSibling(kBackendHelper));
  if (own_program_.empty()) {
    EXPECT_TRUE(base::PathRegistry::Get(base::FILE_EXE, &own_program_));
  }
  EXPECT_TRUE(base::PathRegistry::Override(base::FILE_EXE, helper, true, false));
  std::unique_ptr<PayloadReader> payload(new PayloadReader(helper));
  EXPECT_EQ(PayloadReader::PAYLOAD_NONE, payload->type());
  return payload;
}

std::unique_ptr<PayloadReader> InstallerUIControllerTest::BecomeFullInstaller(
    const base::FilePath& full_installer) {
  (void)BecomeNetInstaller(L"http://127.0.0.1:9/unused");
  // The block ends the unsigned installer: "VLM", the archive, its length.
  std::string installer;
  EXPECT_TRUE(base::ReadFileToString(full_installer, &installer));
  uint32_t length = 0;
  if (installer.size() >= 7) memcpy(&length, installer.data() + installer.size() - 4, 4);
  EXPECT_LE(static_cast<size_t>(length) + 7, installer.size());
  const std::string block = installer.substr(installer.size() - length - 7);
  const base::FilePath program = temp_.path().Append(L"full_installer_helper.exe");
  EXPECT_TRUE(base::CopyFile(base::FilePath(base::TestExeSibling(kBackendHelper)), program));
  EXPECT_TRUE(base::AppendToFile(program, block.data(), static_cast<int>(block.size())));
  EXPECT_TRUE(base::PathRegistry::Override(base::FILE_EXE, program, true, false));
  return std::unique_ptr<PayloadReader>(new PayloadReader(program));
}

int InstallerUIControllerTest::PostedInteger(const char* key) {
  std::unique_ptr<base::Dictionary> record = PostedRecord();
  int value = -1;
  if (!record || !record->GetInteger(key, &value)) return -1;
  return value;
}

}  // namespace testing
}  // namespace installer

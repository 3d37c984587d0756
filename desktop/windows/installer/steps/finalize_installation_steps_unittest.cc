#include "desktop/windows/installer/steps/finalize_installation_steps.h"

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/base_paths.h"
#include "base/files/file_util.h"
#include "base/json/json_reader.h"
#include "base/path_service.h"
#include "base/strings/utf_string_conversions.h"
#include "base/values.h"
#include "base/win/registry.h"
#include "base/win/scoped_handle.h"
#include "desktop/common/autoupdate/updatechecker/product_config.h"
#include "base/test/log_capture_test_util.h"
#include "desktop/windows/installer/steps/installation_test_util.h"
#include "desktop/windows/installer/program_log_test_util.h"
#include "desktop/windows/installer/service/install_log_writer.h"
#include "desktop/windows/installer/service/installation_info_impl.h"
#include "desktop/windows/rc_l10n_handler/localized_string.h"

namespace installer {
namespace testing {
namespace {

const wchar_t kClientKey[] = L"SOFTWARE\\Clients\\StartMenuInternet\\VelumStable";

class FinalizeInstallationTest : public ProgramLogTest {
 protected:
  void SetUp() override {
    ProgramLogTest::SetUp();
    if (HasFatalFailure()) return;
    UsePackage(CopyPackage());
  }

  std::unique_ptr<InstallLog> Record() {
    return ReadRecord(install_folder_.Append(L"installation_status.xml"));
  }

  void WritePrefs(const std::string& json) {
    ASSERT_TRUE(base::CreateDirectory(install_folder_));
    ASSERT_EQ(static_cast<int>(json.size()),
              base::WriteFile(install_folder_.Append(L"installer_prefs.json"), json.data(),
                              static_cast<int>(json.size())));
  }

  std::string ReadJsonMember(const base::FilePath& path, const std::string& key) {
    std::string text;
    if (!base::ReadFileToString(path, &text)) return "no file";
    std::unique_ptr<base::Value> value = base::JsonReader::Read(text);
    const base::Dictionary* dictionary = nullptr;
    const base::Value* member = nullptr;
    if (!value || !value->GetAsDictionary(&dictionary) || !dictionary->Get(key, &member))
      return "absent";
    std::string out;
    int number = 0;
    bool flag = false;
    if (member->GetAsString(&out)) return out;
    if (member->GetAsInteger(&number)) return std::to_string(number);
    if (member->GetAsBoolean(&flag)) return flag ? "true" : "false";
    return "other";
  }

  void RunOk(std::vector<std::wstring> switches = {}, const char* version = kV1) {
    InstallationRun run;
    run.switches = std::move(switches);
    run.version = version;
    Run(&run);
    ASSERT_TRUE(run.succeeded) << ::testing::PrintToString(run.events);
  }

  std::vector<std::string> LauncherLines() {
    std::vector<std::string> lines;
    for (const std::string& line : ProgramLines()) {
      if (line.compare(0, 13, "launcher.exe ") == 0 || line == "launcher.exe")
        lines.push_back(line);
    }
    return lines;
  }
};

TEST_F(FinalizeInstallationTest, RegistersTheAutoupdateTaskAndLowersTheErrorCount) {
  const struct {
    const char* prefs;
    const char* count_after;
  } cases[] = {{"{\"au_task_error_count\": 3}", "2"},
               {"{\"au_task_error_count\": 0}", "0"},
               {"{}", "absent"}};
  for (const auto& test : cases) {
    SCOPED_TRACE(test.prefs);
    EXPECT_TRUE(base::DeleteFile(install_folder_, true));
    system_services_.scheduler = SchedulerRecord();
    WritePrefs(test.prefs);
    RunOk();
    std::unique_ptr<InstallLog> record = Record();
    ASSERT_TRUE(record);
    const std::string name = "Autoupdate " + record->app_id;
    const int days = GetScheduleAutoupdateTask() ? 1 : 2;
    EXPECT_EQ((std::vector<std::string>{"init", "orphans", "register " + name,
                                        "interval " + name + " " + std::to_string(days)}),
              system_services_.scheduler.calls);
    ASSERT_EQ(1u, system_services_.scheduler.registered.size());
    const ScheduledTaskInfo& task = system_services_.scheduler.registered[0];
    EXPECT_EQ(L"\"" + install_folder_.Append(L"launcher.exe").value() +
                  L"\" --scheduledautoupdate $(Arg0)",
              task.command.GetCommandLineString());
    EXPECT_EQ(GetLocalizedString(37052), task.description);
    EXPECT_EQ(0u, task.machine_wide);
    EXPECT_EQ(3600u, task.time_limit);
    EXPECT_EQ(static_cast<uint32_t>(ScheduledTaskInfo::kDaily), task.schedule);
    EXPECT_EQ(GetScheduleAutoupdateTask(), task.logon_trigger);
    EXPECT_TRUE(task.network_only);
    EXPECT_EQ(test.count_after, ReadJsonMember(install_folder_.Append(L"installer_prefs.json"),
                                               "au_task_error_count"));
  }
}

// The scheduler's service is connected on a thread of its own while the steps run, and
// the step connects only once that has ended; a copy-only installation has no task and
// connects to nothing.
TEST_F(FinalizeInstallationTest, TheSchedulerServiceIsConnectedAheadOnAnotherThread) {
  for (bool copy_only : {false, true}) {
    SCOPED_TRACE(copy_only);
    EXPECT_TRUE(base::DeleteFile(install_folder_, true));
    system_services_.scheduler = SchedulerRecord();
    base::ScopedHandle steps_running(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    const HANDLE event = steps_running.Get();
    DWORD connect_thread = 0;
    DWORD waited = WAIT_FAILED;
    std::vector<std::string>* calls = &system_services_.scheduler.calls;
    system_services_.system.connect_task_service = [&connect_thread, &waited, event, calls] {
      connect_thread = GetCurrentThreadId();
      // Released once the steps run: a connection that held them up never would be.
      waited = WaitForSingleObject(event, 60000);
      calls->push_back("connect");
    };
    InstallationRun run;
    if (copy_only) run.switches = {L"--copyonly=1"};
    run.on_event = [event](const std::string& name, Installer*) {
      if (name == "Step") SetEvent(event);
    };
    Run(&run);
    system_services_.system.connect_task_service = nullptr;
    ASSERT_TRUE(run.succeeded) << ::testing::PrintToString(run.events);
    if (copy_only) {
      EXPECT_EQ(0u, connect_thread);
      EXPECT_EQ(std::vector<std::string>{}, *calls);
      continue;
    }
    EXPECT_NE(0u, connect_thread);
    EXPECT_NE(GetCurrentThreadId(), connect_thread);
    EXPECT_EQ(WAIT_OBJECT_0, waited);
    ASSERT_LE(2u, calls->size());
    EXPECT_EQ((std::vector<std::string>{"connect", "init"}),
              std::vector<std::string>(calls->begin(), calls->begin() + 2));
  }
}

TEST_F(FinalizeInstallationTest, ASchedulerFailureKeepsTheErrorCount) {
  const struct {
    bool has_scheduler;
    bool init;
    std::vector<std::string> calls_before_register;
  } cases[] = {{false, true, {}}, {true, false, {"init"}}, {true, true, {"init", "orphans"}}};
  for (const auto& test : cases) {
    EXPECT_TRUE(base::DeleteFile(install_folder_, true));
    system_services_.scheduler = SchedulerRecord();
    system_services_.has_scheduler = test.has_scheduler;
    system_services_.scheduler.init_succeeds = test.init;
    system_services_.scheduler.register_succeeds = false;
    WritePrefs("{\"au_task_error_count\": 3}");
    RunOk();
    std::vector<std::string> calls = system_services_.scheduler.calls;
    if (calls.size() > test.calls_before_register.size())
      calls.resize(test.calls_before_register.size());  // the register line
    EXPECT_EQ(test.calls_before_register, calls);
    EXPECT_EQ("3", ReadJsonMember(install_folder_.Append(L"installer_prefs.json"),
                                  "au_task_error_count"));
  }
}

// A task whose interval stays at its daily default updates more often than the product
// says: the failure is reported, the installation goes on.
TEST_F(FinalizeInstallationTest, AnIntervalThatCannotBeSetIsReported) {
  system_services_.scheduler.interval_succeeds = false;
  base::ScopedLogCapture log;
  RunOk();
  EXPECT_TRUE(log.Has("Could not set the day interval of the scheduled task"));
}

TEST_F(FinalizeInstallationTest, CopyOnlyGetsNoTaskButAnAdministratorsFirewallRules) {
  for (bool admin : {false, true}) {
    SCOPED_TRACE(admin);
    EXPECT_TRUE(base::DeleteFile(install_folder_, true));
    system_services_.scheduler = SchedulerRecord();
    system_services_.firewall_calls.clear();
    system_services_.admin = admin;
    RunOk({L"--copyonly=1"});
    EXPECT_EQ(std::vector<std::string>{}, system_services_.scheduler.calls);
    std::unique_ptr<InstallLog> record = Record();
    ASSERT_TRUE(record);
    if (admin) {
      ASSERT_EQ(1u, system_services_.firewall_calls.size());
      EXPECT_EQ(install_folder_.Append(record->subfolder).Append(L"velum.exe").value(),
                system_services_.firewall_calls[0].first.value());
      EXPECT_FALSE(system_services_.firewall_calls[0].second);
    } else {
      EXPECT_TRUE(system_services_.firewall_calls.empty());
    }
  }
}

TEST_F(FinalizeInstallationTest, TheLauncherStartsMaximizedOnlyOnAFirstInstallation) {
  AddProcessSwitch("import-bookmarks", L"1");
  AddProcessSwitch("no-such-switch");
  RunOk({L"--launchvelum=1"});
  EXPECT_EQ((std::vector<std::string>{"launcher.exe --import-bookmarks=1 --start-maximized"}),
            LauncherLines());
  EXPECT_TRUE(base::DeleteFile(program_log_, false));
  UsePackage(CopyPackage(L"test_pkg_v2"));
  RunOk({L"--launchvelum=1"}, kV2);
  EXPECT_EQ((std::vector<std::string>{"launcher.exe --import-bookmarks=1"}), LauncherLines());
  EXPECT_TRUE(base::DeleteFile(program_log_, false));
  RunOk({L"--launchvelum=0"}, kV3);
  EXPECT_EQ(std::vector<std::string>{}, LauncherLines());
}

TEST_F(FinalizeInstallationTest, TheProfileLanguageChangesOnlyWhereItIsSet) {
  const base::FilePath app_data = scratch_.path().Append(L"AppData");
  base::FilePath original;
  ASSERT_TRUE(base::PathRegistry::Get(base::DIR_APP_DATA, &original));
  ASSERT_TRUE(base::PathRegistry::Override(base::DIR_APP_DATA, app_data, true, true));
  // The profile of an existing installation is adjusted.
  RunOk();
  base::FilePath profile;
  ASSERT_TRUE(FolderInstallationInfo(install_folder_).GetUserDataFolder(&profile));
  ASSERT_TRUE(base::CreateDirectory(profile));
  const base::FilePath local_state = profile.Append(L"Local State");
  const base::FilePath preferences = profile.Append(L"Preferences");
  const std::string with_locale = "{\"intl\": {\"app_locale\": \"en-US\"}, \"x\": 1}";
  const std::string prefs = "{\"statistics\": {\"collection_enabled\": true}, \"y\": 2}";
  ASSERT_TRUE(base::WriteFile(local_state, with_locale.data(), static_cast<int>(with_locale.size())) > 0);
  ASSERT_TRUE(base::WriteFile(preferences, prefs.data(), static_cast<int>(prefs.size())) > 0);
  RunOk({L"--language=de"}, kV2);
  EXPECT_EQ("de", ReadJsonMember(local_state, "intl.app_locale"));
  EXPECT_EQ("1", ReadJsonMember(local_state, "x"));
  EXPECT_EQ("absent", ReadJsonMember(preferences, "statistics.collection_enabled"));
  EXPECT_EQ("2", ReadJsonMember(preferences, "y"));

  // Without the key the language is not added.
  const std::string without_locale = "{\"x\": 1}";
  ASSERT_TRUE(base::WriteFile(local_state, without_locale.data(),
                              static_cast<int>(without_locale.size())) > 0);
  RunOk({L"--language=fr"}, kV3);
  EXPECT_EQ("absent", ReadJsonMember(local_state, "intl.app_locale"));
  EXPECT_TRUE(base::PathRegistry::Override(base::DIR_APP_DATA, original, true, false));
}

// The registration acts only for an installation whose record lists the client's
// association key, whatever its case.
TEST_F(FinalizeInstallationTest, ProtocolRegistrationNeedsTheRecordedAssociationKey) {
  const std::wstring associations = std::wstring(kClientKey) + L"\\Capabilities\\URLAssociations";
  const struct {
    bool record;
    const char* recorded_path;
    bool written;
  } cases[] = {
      {true, "Software\\Clients\\StartMenuInternet\\VelumStable\\Capabilities\\UrlAssociations",
       true},
      {true, "Software\\Clients\\StartMenuInternet\\VelumStable\\Capabilities", false},
      {false, "", false},
  };
  AddProcessSwitch("register-velum-as-protocol-handler", L"ftp");
  for (const auto& test : cases) {
    SCOPED_TRACE(test.recorded_path);
    EXPECT_TRUE(base::DeleteFile(install_folder_, true));
    ASSERT_TRUE(base::CreateDirectory(install_folder_));
    RegDeleteTreeW(HKEY_CURRENT_USER, L"SOFTWARE\\Clients");
    base::RegistryKey created(HKEY_CURRENT_USER, associations.c_str(), KEY_SET_VALUE);
    ASSERT_TRUE(created.Valid());
    if (test.record) {
      InstallLog record(SOURCE_INSTALLER);
      record.app_id = "1700000000";
      InstallLog::AddRegistryValue(record.machine_registry,
                                   base::UTF8ToWide(test.recorded_path), L"http",
                                   L"VelumStable", REG_SZ, 24, 0);
      InstallLogWriter writer;
      ASSERT_TRUE(writer.WriteFile(record, install_folder_.Append(L"installation_status.xml")));
    }
    TestSettings settings(install_folder_, {L"--register-velum-as-protocol-handler=ftp"});
    FakeInstallationContext context;
    context.settings = settings.get();
    context.install_folder = install_folder_;
    context.system = &system_services_.system;
    RegisterProtocolHandlerStep step(&context, HKEY_CURRENT_USER);
    EXPECT_EQ(static_cast<uint32_t>(StepResult::STATUS_OK), step.Run(0).status);
    base::RegistryKey key(HKEY_CURRENT_USER, associations.c_str(), KEY_QUERY_VALUE);
    std::wstring value;
    if (test.written) {
      EXPECT_EQ(ERROR_SUCCESS, key.ReadValue(L"ftp", &value));
      EXPECT_EQ(L"VelumStable", value);
    } else {
      EXPECT_NE(ERROR_SUCCESS, key.ReadValue(L"ftp", &value));
    }
  }
}

}  // namespace
}  // namespace testing
}  // namespace installer

#include "desktop/windows/installer/steps/component_steps.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/files/file_util.h"
#include "base/files/scratch_dir_test_util.h"
#include "base/strings/string_util.h"
#include "base/test/test_helper_process.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/installer/steps/installer_system.h"
#include "desktop/windows/installer/package_fetcher/test_data_test_util.h"
#include "desktop/windows/installer/program_log_test_util.h"

namespace installer {
namespace testing {
namespace {

TEST(ComponentListTest, SplitsTrimsAndDropsIncompleteEntries) {
  typedef std::vector<std::pair<std::wstring, std::wstring>> List;
  EXPECT_EQ((List{{L"suite", L"components"}, {L"assistant", L"a b"}}),
            SplitComponentList(L" suite : components |assistant:a b"));
  EXPECT_EQ(List{}, SplitComponentList(L":folder|name:|| : |onlyname"));
}

// The running system's check: only the expected signer's intact signature passes (the
// test configuration expects the test signer of the signing test data).
TEST(ComponentSignatureTest, TheSystemVerifierAcceptsOnlyTheExpectedSigner) {
  const struct {
    const char* file;
    bool accepted;
  } cases[] = {{"signed.exe", true},
               {"unsigned.exe", false},
               {"other.exe", false},
               {"tampered.exe", false}};
  const InstallerSystem system = InstallerSystem::Current();
  for (const auto& test : cases) {
    SCOPED_TRACE(test.file);
    EXPECT_EQ(test.accepted,
              system.verify_signature(TestDataPath((std::string("signing/") + test.file).c_str()))
                  .ok());
  }
}

class ComponentStepsTest : public ProgramLogTest {
 protected:
  void SetUp() override {
    ProgramLogTest::SetUp();
    if (HasFatalFailure()) return;
    UsePackage(CopyPackage());
    components_ = CopyPackage(L"components");
    Sign(L"suite_installer.exe");
    Sign(L"assistant_installer.exe");
  }

  void Sign(const wchar_t* name) {
    system_services_.signed_files.insert(
        base::ToLowerASCII(base::WideToUTF8(components_.Append(name).value())));
  }

  // The lines of the component installers, without the folder of the program.
  std::vector<std::string> ComponentLines() {
    std::vector<std::string> lines;
    for (const std::string& line : ProgramLines()) {
      if (line.find("_installer.exe") != std::string::npos) lines.push_back(line);
    }
    return lines;
  }

  std::vector<std::string> RecordedComponents() {
    std::vector<std::string> names;
    std::unique_ptr<InstallLog> record =
        ReadRecord(install_folder_.Append(L"installation_status.xml"));
    if (!record) return {"no record"};
    for (const InstallLog::Component& component : record->components)
      names.push_back(component.name + "=" + base::WideToUTF8(component.path));
    return names;
  }

  std::string Folder(const wchar_t* name) {
    return base::WideToUTF8(install_folder_.Append(name).value());
  }

  void InstallWith(const std::wstring& components, const char* version = kV1) {
    ClearProcessSwitches();
    AddProcessSwitch("components", components);
    InstallationRun run;
    run.version = version;
    Run(&run);
    ASSERT_TRUE(run.succeeded) << ::testing::PrintToString(run.events);
  }

  // The suite installed, its uninstaller copied beside the record's path, where the
  // component put it.
  void InstallSuiteWithItsUninstaller() {
    InstallWith(L"suite:components");
    ClearProcessSwitches();
    ASSERT_TRUE(base::CreateDirectory(install_folder_.Append(L"suite")));
    ASSERT_TRUE(base::CopyFile(components_.Append(L"suite_installer.exe"),
                               install_folder_.Append(L"suite\\suite_installer.exe")));
  }

  // Rewrites the first `from` of the installation record, as a user can.
  void ReplaceInRecord(const std::string& from, const std::string& to) {
    const base::FilePath record_file = install_folder_.Append(L"installation_status.xml");
    std::string record;
    ASSERT_TRUE(base::ReadFileToString(record_file, &record));
    ASSERT_NE(std::string::npos, record.find(from)) << record;
    record.replace(record.find(from), from.size(), to);
    ASSERT_TRUE(base::WriteTextFile(record_file, record));
  }

  base::FilePath components_;
};

TEST_F(ComponentStepsTest, OnlyInstallersThatSucceedAreRecorded) {
  const struct {
    int exit_code;
    bool recorded;
  } cases[] = {{1, false}, {0, true}};  // the second run is an upgrade
  for (const auto& test : cases) {
    SCOPED_TRACE(test.exit_code);
    EXPECT_TRUE(base::DeleteFile(program_log_, false));
    SetProgramExitCode(test.exit_code);
    InstallWith(L"assistant:components");
    const std::string expected_line = "assistant_installer.exe --installfolder=" +
                                      Folder(L"assistant") + " --copyonly=0 --allusers=0";
    EXPECT_EQ(std::vector<std::string>{expected_line}, ComponentLines());
    if (test.recorded) {
      EXPECT_EQ(std::vector<std::string>{"assistant=" + Folder(L"assistant")},
                RecordedComponents());
    } else {
      EXPECT_EQ(std::vector<std::string>{}, RecordedComponents());
    }
  }
}

TEST_F(ComponentStepsTest, SuiteFallsBackToTheAssistantsInstaller) {
  ASSERT_TRUE(base::DeleteFile(components_.Append(L"suite_installer.exe"), false));
  InstallWith(L"suite:components");
  EXPECT_EQ(std::vector<std::string>{"assistant_installer.exe --installfolder=" +
                                     Folder(L"suite") + " --copyonly=0 --allusers=0"},
            ComponentLines());
  EXPECT_EQ(std::vector<std::string>{"suite=" + Folder(L"suite")}, RecordedComponents());
}

TEST_F(ComponentStepsTest, UnverifiedOrMissingInstallersNeverRun) {
  system_services_.signed_files.clear();
  // Signed by someone else: the fake verification accepts only the other file.
  Sign(L"assistant_installer.exe");
  InstallWith(L"suite:components|nothing:components|assistant:missing");
  EXPECT_EQ(std::vector<std::string>{}, ComponentLines());
  EXPECT_EQ(std::vector<std::string>{}, RecordedComponents());
}

TEST_F(ComponentStepsTest, AnUpgradeKeepsOneEntryPerComponent) {
  InstallWith(L"suite:components");
  UsePackage(CopyPackage(L"test_pkg_v2"));
  InstallWith(L"suite:components|assistant:components", kV2);
  EXPECT_EQ((std::vector<std::string>{"suite=" + Folder(L"suite"),
                                      "assistant=" + Folder(L"assistant")}),
            RecordedComponents());
  // An upgrade without the switch keeps what was installed before.
  UsePackage(CopyPackage(L"test_pkg"));
  ClearProcessSwitches();
  InstallationRun run;
  run.version = kV3;
  Run(&run);
  ASSERT_TRUE(run.succeeded);
  EXPECT_EQ(2u, RecordedComponents().size());
}

TEST_F(ComponentStepsTest, UninstallStartsEachRecordedUninstaller) {
  ASSERT_NO_FATAL_FAILURE(InstallSuiteWithItsUninstaller());
  EXPECT_TRUE(base::DeleteFile(program_log_, false));
  InstallationRun run;
  run.uninstall = true;
  Run(&run);
  ASSERT_TRUE(run.succeeded) << ::testing::PrintToString(run.events);
  // Not waited for: the line comes when the uninstaller has run.
  WaitForProgramLines(1);
  EXPECT_EQ(std::vector<std::string>{"suite_installer.exe --uninstall --copyonly=0 --allusers=0"},
            ComponentLines());
}

// The record is a file the user can write: an uninstaller it names outside the install
// folder, or reached through a link, never runs.
TEST_F(ComponentStepsTest, UninstallRunsNoUninstallerOutsideTheInstallFolder) {
  const base::FilePath outside = scratch_.path().Append(L"planted");
  ASSERT_TRUE(base::CreateDirectory(outside));
  ASSERT_TRUE(base::CopyFile(components_.Append(L"suite_installer.exe"),
                             outside.Append(L"suite_installer.exe")));
  const base::FilePath link = install_folder_.Append(L"linked");
  // What the uninstallation starts is not waited for: wait for every process it started.
  ASSERT_TRUE(base::TrackDescendantProcesses());
  const struct {
    const char* name;
    base::FilePath recorded;
  } cases[] = {{"outside", outside}, {"through a link", link}};
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    InstallWith(L"suite:components");
    ClearProcessSwitches();
    std::string error;
    ASSERT_TRUE(base::MakeDirectoryLink(link, outside, &error)) << error;
    ASSERT_NO_FATAL_FAILURE(ReplaceInRecord(Folder(L"suite"), test.recorded.AsUTF8()));
    EXPECT_TRUE(base::DeleteFile(program_log_, false));
    InstallationRun run;
    run.uninstall = true;
    Run(&run);
    EXPECT_TRUE(run.succeeded) << ::testing::PrintToString(run.events);
    EXPECT_TRUE(base::WaitForDescendantProcesses(60000));
    EXPECT_TRUE(base::RemoveDirectoryLink(link));
    EXPECT_EQ(std::vector<std::string>{}, ComponentLines());
  }
}

// What was held and checked is what starts: the file's final path, not the record's name,
// whose folders (a link here, a differently spelt name) may lead elsewhere by then.
TEST_F(ComponentStepsTest, UninstallStartsTheHeldFileByItsFinalPath) {
  ASSERT_NO_FATAL_FAILURE(InstallSuiteWithItsUninstaller());
  const base::FilePath link = install_folder_.Append(L"linked");
  std::string error;
  ASSERT_TRUE(base::MakeDirectoryLink(link, install_folder_.Append(L"suite"), &error)) << error;
  ASSERT_NO_FATAL_FAILURE(ReplaceInRecord("<path>" + Folder(L"suite") + "</path>",
                                          "<path>" + link.AsUTF8() + "</path>"));
  ASSERT_NO_FATAL_FAILURE(ReplaceInRecord("<name>suite</name>", "<name>SUITE</name>"));
  EXPECT_TRUE(base::DeleteFile(program_log_, false));
  ASSERT_TRUE(base::TrackDescendantProcesses());
  InstallationRun run;
  run.uninstall = true;
  Run(&run);
  EXPECT_TRUE(run.succeeded) << ::testing::PrintToString(run.events);
  EXPECT_TRUE(base::WaitForDescendantProcesses(60000));
  EXPECT_TRUE(base::RemoveDirectoryLink(link));
  EXPECT_EQ(std::vector<std::string>{"suite_installer.exe --uninstall --copyonly=0 --allusers=0"},
            ComponentLines());
}

}  // namespace
}  // namespace testing
}  // namespace installer

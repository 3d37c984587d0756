#include "desktop/windows/installer/installer_elevation.h"

#include <aclapi.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/base_paths_win.h"
#include "base/files/file_util.h"
#include "base/files/scratch_dir_test_util.h"
#include "base/message_loop/message_loop.h"
#include "base/path_service.h"
#include "base/run_loop.h"
#include "base/strings/stringprintf.h"
#include "base/strings/utf_string_conversions.h"
#include "base/test/log_capture_test_util.h"
#include "base/test/test_helper_process.h"
#include "base/win/windows_version.h"
#include "desktop/common/autoupdate/updatechecker/product_config.h"
#include "desktop/windows/installer/elevated_helper/elevated_program_check.h"
#include "desktop/windows/installer/package_fetcher/full_package_unpacker.h"
#include "desktop/windows/installer/package_fetcher/test_data_test_util.h"
#include "desktop/windows/installer/security/access_control.h"
#include "desktop/windows/installer/service/kernel_object_name.h"

namespace installer {
namespace {

const wchar_t kHelper[] = L"installer_elevation_test_helper.exe";

base::FilePath Helper() { return base::FilePath(base::TestExeSibling(kHelper)); }

// Sets an environment variable for the test's length; children inherit it.
class ScopedEnvironmentVariable {
 public:
  ScopedEnvironmentVariable(const wchar_t* name, const std::wstring& value) : name_(name) {
    EXPECT_TRUE(SetEnvironmentVariableW(name, value.c_str()));
  }
  ~ScopedEnvironmentVariable() { SetEnvironmentVariableW(name_, nullptr); }

 private:
  const wchar_t* name_;
};

std::string ReadRecord(const base::FilePath& path) {
  std::string text;
  EXPECT_TRUE(base::ReadFileToString(path, &text)) << "the process did not run";
  return text;
}

// Records what the hand-over told the installation, in order.
class RecordingDelegate : public ElevationDelegate, public PackageHandOver::Delegate {
 public:
  void OnStartingNewMainProcess(bool value) override {
    calls.push_back(value ? "starting(true)" : "starting(false)");
  }
  void OnReturnedToPreviousMainProcess() override { calls.push_back("returned"); }
  void RunPostElevationTasks() override { calls.push_back("post-elevation"); }
  void WaitForPackage(bool post_elevation_tasks) override {
    calls.push_back(post_elevation_tasks ? "wait(true)" : "wait(false)");
  }
  base::CommandLine GetSettingsCommandLine() override {
    base::CommandLine command_line(base::CommandLine::NO_PROGRAM);
    command_line.AppendSwitch("launchvelum");
    if (!components.empty()) command_line.AppendSwitchNative("components", components);
    return command_line;
  }
  void Finish() override { calls.push_back("finish"); }
  void ReportError(uint32_t code, const std::string& message) override {
    calls.push_back(base::StringPrintf("error(%u, %s)", code, message.c_str()));
    Done();
  }
  void OnInstallationSucceeded() override {
    calls.push_back("succeeded");
    Done();
  }
  void Cancel() override { calls.push_back("cancel"); }
  void ReportImportantEvent(const std::string& name) override {
    calls.push_back("event(" + name + ")");
  }

  void Done() {
    if (run_loop) run_loop->Quit();
  }

  std::vector<std::string> calls;
  base::RunLoop* run_loop = nullptr;
  // The settings' "components" value, when not empty.
  std::wstring components;
};

class ElevationTest : public base::ScratchDirTest {
 protected:
  base::FilePath RecordPath() { return Path(L"record.txt"); }
};

TEST(ElevationErrorTest, ResultsBecomeTheInstallationsErrors) {
  struct Case {
    HandOverResult result;
    uint32_t elevated_code;
    const char* elevated_message;
    uint32_t permission_code;
  };
  const Case cases[] = {
      {HAND_OVER_NOT_ELEVATED, 6, "Elevated installation failed.", 6},
      {HAND_OVER_PROCESS_FAILED, 0, "Installer process did not complete successfully.", 0},
      {HAND_OVER_SETUP_FAILED, 0, "Error when setting up the installer process", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.result);
    EXPECT_EQ(c.elevated_code, GetRunElevatedError(c.result).code);
    EXPECT_STREQ(c.elevated_message, GetRunElevatedError(c.result).message);
    EXPECT_EQ(c.permission_code, GetFolderPermissionError(c.result).code);
  }
  EXPECT_STREQ(
      "The process for giving us write permission to the installer folder didn't complete "
      "successfully",
      GetFolderPermissionError(HAND_OVER_PROCESS_FAILED).message);
}

// Only an explicit EnableLUA of 0 for a user who cannot become an administrator on Vista
// or later says no.
TEST(ElevationUacTest, OnlyAPolicyOfZeroDisablesElevationForAStandardUser) {
  const std::wstring key =
      base::StringPrintf(L"Software\\VelumTest\\Uac%lu", GetCurrentProcessId());
  RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
  const int vista = base::OS_VERSION_VISTA;
  EXPECT_TRUE(internal::IsUacEnabledFor(false, vista, HKEY_CURRENT_USER, key.c_str()))
      << "missing key";
  ASSERT_EQ(ERROR_SUCCESS,
            RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), L"Other", REG_SZ, L"x", 4));
  EXPECT_TRUE(internal::IsUacEnabledFor(false, vista, HKEY_CURRENT_USER, key.c_str()))
      << "missing value";
  DWORD value = 0;
  ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), L"EnableLUA", REG_DWORD,
                                           &value, sizeof(value)));
  EXPECT_FALSE(internal::IsUacEnabledFor(false, vista, HKEY_CURRENT_USER, key.c_str()));
  EXPECT_TRUE(internal::IsUacEnabledFor(true, vista, HKEY_CURRENT_USER, key.c_str()))
      << "an administrator";
  EXPECT_TRUE(internal::IsUacEnabledFor(false, base::OS_VERSION_XP, HKEY_CURRENT_USER, key.c_str()))
      << "before Vista";
  value = 1;
  ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), L"EnableLUA", REG_DWORD,
                                           &value, sizeof(value)));
  EXPECT_TRUE(internal::IsUacEnabledFor(false, vista, HKEY_CURRENT_USER, key.c_str()));
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str()));
}

TEST(ElevationFixEventAclTest, AdministratorsGetAnAllowEntry) {
  base::ScopedHandle event(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  ASSERT_TRUE(event.IsValid());
  ASSERT_TRUE(FixEventACL(event.Get()));

  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
            GetSecurityInfo(event.Get(), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                            nullptr, &dacl, nullptr, &descriptor));
  ASSERT_TRUE(dacl);
  SID_IDENTIFIER_AUTHORITY nt_authority = SECURITY_NT_AUTHORITY;
  PSID administrators = nullptr;
  ASSERT_TRUE(AllocateAndInitializeSid(&nt_authority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                       DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &administrators));
  bool found = false;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    ACCESS_ALLOWED_ACE* ace = nullptr;
    ASSERT_TRUE(GetAce(dacl, i, reinterpret_cast<void**>(&ace)));
    if (ace->Header.AceType != ACCESS_ALLOWED_ACE_TYPE ||
        !EqualSid(&ace->SidStart, administrators)) {
      continue;
    }
    // Stored generic, or mapped to the event's full rights.
    found = (ace->Mask & GENERIC_ALL) || (ace->Mask & EVENT_ALL_ACCESS) == EVENT_ALL_ACCESS;
  }
  FreeSid(administrators);
  LocalFree(descriptor);
  EXPECT_TRUE(found);
}

TEST_F(ElevationTest, ElevatedCopyGetsTheSwitchesAndItsExitCodeDecides) {
  ScopedEnvironmentVariable record(L"VELUM_TEST_RECORD", RecordPath().value());
  base::CommandLine settings(base::CommandLine::NO_PROGRAM);
  settings.AppendSwitchASCII("launchvelum", "0");
  const base::CommandLine process(base::FilePath(L"installer.exe"));

  struct Case {
    const wchar_t* exit_code;
    HandOverResult result;
    const char* last_call;
  };
  const Case cases[] = {{L"0", HAND_OVER_SUCCEEDED, "post-elevation"},
                        {L"3", HAND_OVER_PROCESS_FAILED, "returned"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.result);
    ScopedEnvironmentVariable exit_code(L"VELUM_TEST_EXIT_CODE", c.exit_code);
    RecordingDelegate delegate;
    EXPECT_EQ(c.result, internal::RunElevatedFrom(Helper(), settings, process, &delegate));
    ASSERT_FALSE(delegate.calls.empty());
    EXPECT_EQ("starting(false)", delegate.calls.front());
    EXPECT_EQ(c.last_call, delegate.calls.back());
    const std::string line = ReadRecord(RecordPath());
    EXPECT_NE(std::string::npos,
              line.find(base::StringPrintf("--launchvelum=0 --parent-pid=%lu --run-elevated",
                                           GetCurrentProcessId())))
        << line;
  }
}

TEST_F(ElevationTest, ElevatedCopyOfAWaitingInstallerWaitsForThePackageAfterwards) {
  ScopedEnvironmentVariable record(L"VELUM_TEST_RECORD", RecordPath().value());
  base::CommandLine process(base::FilePath(L"installer.exe"));
  process.AppendSwitchPath("wait-for-package", Path(L"package"));
  RecordingDelegate delegate;
  EXPECT_EQ(HAND_OVER_SUCCEEDED,
            internal::RunElevatedFrom(Helper(), base::CommandLine(base::CommandLine::NO_PROGRAM),
                                      process, &delegate));
  EXPECT_EQ((std::vector<std::string>{"starting(false)", "returned", "wait(true)"}),
            delegate.calls);
  EXPECT_NE(
      std::string::npos,
      ReadRecord(RecordPath()).find("--wait-for-package=\"" + Path(L"package").AsUTF8() + "\""));
}

TEST_F(ElevationTest, RefusedStartsAreNotElevated) {
  RecordingDelegate delegate;
  // As when the user cancels the prompt: the shell cannot run it.
  EXPECT_EQ(HAND_OVER_NOT_ELEVATED,
            internal::RunElevatedFrom(Path(L"missing.exe"),
                                      base::CommandLine(base::CommandLine::NO_PROGRAM),
                                      base::CommandLine(base::CommandLine::NO_PROGRAM), &delegate));
  // A copy that should have been elevated starts nothing more.
  base::CommandLine elevated(base::CommandLine::NO_PROGRAM);
  elevated.AppendSwitch("run-elevated");
  RecordingDelegate second;
  EXPECT_EQ(HAND_OVER_NOT_ELEVATED,
            RunElevated(base::CommandLine(base::CommandLine::NO_PROGRAM), elevated, &second));
  EXPECT_TRUE(second.calls.empty());
}

TEST_F(ElevationTest, PermissionHelperThatSignalsLeavesItsUndoEvent) {
  ScopedEnvironmentVariable record(L"VELUM_TEST_RECORD", RecordPath().value());
  ScopedEnvironmentVariable signal(L"VELUM_TEST_SIGNAL_PERMISSION", L"1");
  base::CommandLine process(base::FilePath(L"installer.exe"));
  process.AppendSwitchASCII("initial-pid", "4242");
  const base::FilePath folder = Path(L"install");
  FolderPermission permission;
  ASSERT_EQ(HAND_OVER_SUCCEEDED, internal::ObtainFolderPermissionFrom(Helper(), folder, false, true,
                                                                      process, &permission));
  ASSERT_TRUE(permission.undo_event.IsValid());
  EXPECT_NE(0u, permission.helper_pid);
  const std::string line = ReadRecord(RecordPath());
  for (const std::string& expected :
       {"--set-folder-permission=\"" + folder.AsUTF8() + "\"",
        std::string("--permissions-for-user="), std::string("--run-uninstall-bat"),
        std::string("--crash-reporter-pid=0"), std::string("--initial-pid=4242")}) {
    EXPECT_NE(std::string::npos, line.find(expected)) << expected << " in " << line;
  }
  EXPECT_EQ(std::string::npos, line.find("--permanent-permissions"));

  // The helper ends once the installation no longer needs the access.
  base::ScopedHandle helper(OpenProcess(SYNCHRONIZE, FALSE, permission.helper_pid));
  ASSERT_TRUE(SetEvent(permission.undo_event.Get()));
  if (helper.IsValid()) {
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(helper.Get(), 60000));
  }
}

// The helper trusts what these events say: names someone else made first start nothing.
// Without the front end's process id, this process is the one the helper looks at.
TEST_F(ElevationTest, PermissionEventsMadeByOthersStartNoHelperAndTheRequesterIsNamed) {
  ScopedEnvironmentVariable record(L"VELUM_TEST_RECORD", RecordPath().value());
  ScopedEnvironmentVariable signal(L"VELUM_TEST_SIGNAL_PERMISSION", L"1");
  const base::FilePath folder = Path(L"install");
  const base::CommandLine process(base::FilePath(L"installer.exe"));
  for (const wchar_t* prefix : {L"VelumInstaller/GiveInstallPermission",
                                L"VelumInstaller/GiveInstallPermission/Undo"}) {
    base::ScopedHandle planted(CreateEventW(
        nullptr, FALSE, FALSE, GetKernelObjectName(folder.value(), prefix, false).c_str()));
    ASSERT_TRUE(planted.IsValid());
    FolderPermission permission;
    EXPECT_EQ(HAND_OVER_SETUP_FAILED, internal::ObtainFolderPermissionFrom(
                                          Helper(), folder, true, false, process, &permission))
        << base::WideToUTF8(prefix);
    EXPECT_FALSE(base::PathExists(RecordPath()));
  }
  FolderPermission permission;
  ASSERT_EQ(HAND_OVER_SUCCEEDED, internal::ObtainFolderPermissionFrom(Helper(), folder, true,
                                                                      false, process, &permission));
  EXPECT_NE(std::string::npos,
            ReadRecord(RecordPath()).find(base::StringPrintf("--initial-pid=%lu",
                                                             GetCurrentProcessId())));
}

TEST_F(ElevationTest, PermissionHelperThatEndsWithoutSignallingFails) {
  FolderPermission permission;
  EXPECT_EQ(HAND_OVER_PROCESS_FAILED,
            internal::ObtainFolderPermissionFrom(Helper(), Path(L"install"), true, false,
                                                 base::CommandLine(base::CommandLine::NO_PROGRAM),
                                                 &permission));
  EXPECT_FALSE(permission.undo_event.IsValid());
  EXPECT_EQ(HAND_OVER_NOT_ELEVATED,
            internal::ObtainFolderPermissionFrom(
                Path(L"missing.exe"), Path(L"install"), true, false,
                base::CommandLine(base::CommandLine::NO_PROGRAM), &permission));
}

const char kNotStarted[] = "error(0, Failed to start installer process from the package folder.)";

// The real unpacker, and the helper in place of the package's installer, which the test
// package lacks. Records the full-package files it was given.
class HelperAddingUnpacker : public PackageUnpacker {
 public:
  bool CarriesPackage(const base::FilePath& file) override { return real_.CarriesPackage(file); }
  base::Result<> Unpack(const base::FilePath& file, const base::FilePath& archive,
                        const base::FilePath& folder) override {
    unpacked.push_back(file);
    const base::Result<> result = real_.Unpack(file, archive, folder);
    if (result.ok() && !base::CopyFile(Helper(), folder.Append(L"installer.exe")))
      return base::Failure{0, 0, "no helper", folder};
    return result;
  }
  std::vector<base::FilePath> unpacked;

 private:
  FullPackageUnpacker real_;
};

class PackageHandOverTest : public ElevationTest {
 protected:
  void SetUp() override {
    ElevationTest::SetUp();
    install_folder_ = Path(L"install");
    package_folder_ = Path(L"package");
    ASSERT_TRUE(base::CreateDirectory(package_folder_));
    ASSERT_TRUE(CopyFileW(Helper().value().c_str(),
                          package_folder_.Append(L"installer.exe").value().c_str(), FALSE));
    process_.AppendSwitchPath("wait-for-package", package_folder_);
    // The test packages are as recent as this installer unless a case says otherwise.
    SetEnvironmentVariableA("VELUM_STUB_INTERNAL_VERSION", GetBuildAndPatchNumber().c_str());
  }
  void TearDown() override {
    SetEnvironmentVariableA("VELUM_STUB_INTERNAL_VERSION", nullptr);
    ElevationTest::TearDown();
  }

  base::ScopedHandle CreatePackageReadyEvent() {
    const std::wstring name =
        GetKernelObjectName(install_folder_.value(), L"VelumInstaller/PackageReady", true);
    return base::ScopedHandle(CreateEventW(nullptr, TRUE, FALSE, name.c_str()));
  }

  // The download the fetcher left beside the package folder: the unsigned test package.
  base::FilePath PlaceDownload(const char* name = "signing/package_unsigned.exe") {
    const base::FilePath download(package_folder_.value() + L"_0.exe");
    EXPECT_TRUE(base::CopyFile(testing::TestDataPath(name), download));
    return download;
  }

  // Hands a ready package over; the last call the installation got. `rule`: that of an
  // unsigned build (this test's own) by default.
  std::string HandOverReadyPackage(SignatureRule rule = SignatureRule::kNotRequired) {
    base::ScopedHandle ready = CreatePackageReadyEvent();
    EXPECT_TRUE(SetEvent(ready.Get()));
    RecordingDelegate delegate;
    delegate.components = components_;
    PackageHandOver hand_over(install_folder_, &process_, &delegate, &unpacker_, rule);
    hand_over.WaitForPackage(false);
    return delegate.calls.empty() ? std::string() : delegate.calls.back();
  }

  base::FilePath install_folder_;
  base::FilePath package_folder_;
  base::CommandLine process_{base::FilePath(L"backend.exe")};
  std::wstring components_;
  HelperAddingUnpacker unpacker_;
};

TEST_F(PackageHandOverTest, ReadyPackageRunsItsInstallerAtOnceAndReportsOnce) {
  ScopedEnvironmentVariable record(L"VELUM_TEST_RECORD", RecordPath().value());
  base::ScopedHandle ready = CreatePackageReadyEvent();
  ASSERT_TRUE(ready.IsValid());
  ASSERT_TRUE(SetEvent(ready.Get()));
  RecordingDelegate delegate;
  PlaceDownload();
  PackageHandOver hand_over(install_folder_, &process_, &delegate, &unpacker_);
  hand_over.WaitForPackage(true);
  EXPECT_EQ((std::vector<std::string>{"starting(false)", "finish", "returned", "succeeded"}),
            delegate.calls);
  EXPECT_TRUE(hand_over.outcome_reported());
  const std::string line = ReadRecord(RecordPath());
  EXPECT_NE(std::string::npos, line.find("installer.exe"));
  EXPECT_NE(std::string::npos,
            line.find("--launchvelum --post-elevated-install-tasks --crash-reporter-pid=0"))
      << line;

  // A second signal runs nothing again and reports nothing more.
  hand_over.OnObjectSignaled(ready.Get());
  EXPECT_EQ(4u, delegate.calls.size());
}

TEST_F(PackageHandOverTest, PackageInstallerFailureIsAnError) {
  ScopedEnvironmentVariable exit_code(L"VELUM_TEST_EXIT_CODE", L"5");
  PlaceDownload();
  EXPECT_EQ("error(0, Installer process did not complete successfully.)",
            HandOverReadyPackage());
}

// Elevated, nothing runs without a signed full-package installer to take the package
// from: none at all, one that fails the signer rule (a signed running installer and the
// unsigned download), one someone holds open for writing, one that is a link.
TEST_F(PackageHandOverTest, ElevatedHandOverRefusesAPackageItCannotTakeFromASignedFile) {
  ScopedEnvironmentVariable record(L"VELUM_TEST_RECORD", RecordPath().value());
  ASSERT_TRUE(IsUserAdmin(false)) << "every process is an administrator here";
  EXPECT_EQ(kNotStarted, HandOverReadyPackage());
  const base::FilePath download = PlaceDownload();
  EXPECT_EQ(kNotStarted, HandOverReadyPackage(SignatureRule::kRequired));
  {
    base::ScopedHandle writer(CreateFileW(download.value().c_str(), GENERIC_WRITE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(writer.IsValid());
    EXPECT_EQ(kNotStarted, HandOverReadyPackage());
  }
  EXPECT_FALSE(base::PathExists(RecordPath()));
  EXPECT_TRUE(unpacker_.unpacked.empty());
  // The signed download passes the signed installer's rule and is unpacked (the helper in
  // place of its installer does not pass it).
  ASSERT_TRUE(base::CopyFile(testing::TestDataPath("signing/package_signed.exe"), download));
  EXPECT_EQ(kNotStarted, HandOverReadyPackage(SignatureRule::kRequired));
  EXPECT_EQ(1u, unpacker_.unpacked.size());
}

// Elevated, a package older than this installer is refused on the held copy, with its
// reason, also one of the expected signer planted as the fetcher's latest download: an
// older release lacks the faults mended since.
TEST_F(PackageHandOverTest, ElevatedHandOverRefusesAnOlderPackage) {
  ScopedEnvironmentVariable record(L"VELUM_TEST_RECORD", RecordPath().value());
  ScopedEnvironmentVariable older(L"VELUM_STUB_INTERNAL_VERSION", L"0.0.1");
  PlaceDownload();
  EXPECT_EQ(kNotStarted, HandOverReadyPackage());
  ASSERT_TRUE(base::CopyFile(testing::TestDataPath("signing/package_signed.exe"),
                             base::FilePath(package_folder_.value() + L"_5.exe")));
  base::ScopedLogCapture log;
  EXPECT_EQ(kNotStarted, HandOverReadyPackage(SignatureRule::kRequired));
  EXPECT_EQ(1u, log.LinesStartingWith("Refusing ").size());
  EXPECT_EQ(1u, log.LinesStartingWith("Not running the package's installer: ").size());
  EXPECT_TRUE(unpacker_.unpacked.empty());
  EXPECT_FALSE(base::PathExists(RecordPath()));
}

// Elevated, the package's installer runs from the package taken out of the signed file:
// package files the user changed before the hand-over, or changes once the installer
// runs, never reach what it reads beside itself; the unchanged package is what it finds.
TEST_F(PackageHandOverTest, ElevatedInstallerRunsFromTheSignedPackageNeverTheUserFolder) {
  ScopedEnvironmentVariable record(L"VELUM_TEST_RECORD", RecordPath().value());
  const std::string original = ReadRecord(testing::TestDataPath("signing/package.7z"));
  PlaceDownload();
  const base::FilePath list = package_folder_.Append(L"files_list");
  const base::FilePath program = package_folder_.Append(L"velum.exe");
  ASSERT_TRUE(base::WriteFile(list, "changed", 7) == 7);
  ASSERT_TRUE(base::WriteFile(program, "planted", 7) == 7);
  ASSERT_TRUE(base::WriteFile(package_folder_.Append(L"launcher.exe"), "planted", 7) == 7);
  ScopedEnvironmentVariable swap(L"VELUM_TEST_SWAP", program.value());
  EXPECT_EQ("succeeded", HandOverReadyPackage());
  ASSERT_EQ(1u, unpacker_.unpacked.size());
  EXPECT_EQ(L"full_package.exe", unpacker_.unpacked[0].BaseName().value());

  const std::string line = ReadRecord(RecordPath());
  base::FilePath windows;
  ASSERT_TRUE(base::PathRegistry::Get(base::DIR_WINDOWS, &windows));
  std::string copies = windows.Append(L"Temp").Append(L"VelumInstaller-").AsUTF8();
  std::string lower_line = line;
  for (std::string* text : {&copies, &lower_line})
    std::transform(text->begin(), text->end(), text->begin(), ::tolower);
  EXPECT_NE(std::string::npos, lower_line.find(copies)) << line;
  EXPECT_NE(std::string::npos, line.find("\\package\\installer.exe")) << line;
  // The test package's velum.exe, as the archive holds it.
  const std::string beside = ReadRecord(base::FilePath(RecordPath().value() + L".beside"));
  EXPECT_NE("planted", beside);
  EXPECT_NE("swapped", beside);
  EXPECT_FALSE(beside.empty());
  EXPECT_EQ("swapped", ReadRecord(program));
}

// Elevated, the package's installer may start a component at any time it runs: the
// component, made from its archive, keeps its installer held until it has ended, and the
// preference overrides the user's folder holds do not reach it.
TEST_F(PackageHandOverTest, ElevatedComponentsStayHeldAndOverridesStayBehind) {
  ScopedEnvironmentVariable record(L"VELUM_TEST_RECORD", RecordPath().value());
  PlaceDownload();
  const base::FilePath component = Path(L"suite_folder");
  ASSERT_TRUE(base::CreateDirectory(component));
  ASSERT_TRUE(base::CopyFile(testing::TestDataPath("signing/unsigned.exe"),
                             component.Append(L"suite_sfx.exe")));
  components_ = L"suite:suite_folder";
  const std::string overrides = "{\"language\": \"de\"}";
  const base::FilePath user_overrides = package_folder_.Append(L"pref_default_overrides");
  ASSERT_EQ(static_cast<int>(overrides.size()),
            base::WriteFile(user_overrides, overrides.data(), static_cast<int>(overrides.size())));
  ScopedEnvironmentVariable swap(L"VELUM_TEST_SWAP", user_overrides.value());
  ScopedEnvironmentVariable write(L"VELUM_TEST_TRY_WRITE", L"suite_folder\\suite_installer.exe");
  EXPECT_EQ("succeeded", HandOverReadyPackage());
  EXPECT_NE(std::string::npos, ReadRecord(RecordPath()).find("--components=suite:suite_folder"));
  EXPECT_EQ("refused", ReadRecord(base::FilePath(RecordPath().value() + L".write")));
  EXPECT_EQ("<missing>", ReadRecord(base::FilePath(RecordPath().value() + L".beside")));
}

// Elevated, the partner files the fetcher added to the user's package folder (listed
// after the package's own files) stay out, since no signature covers them; the
// statistics hear of each one left out, and of none when the fetcher added none.
TEST_F(PackageHandOverTest, PartnerFilesLeftOutElevatedAreReportedAsNotInstalled) {
  PlaceDownload();
  const char kEvent[] = "event(partner_files_not_installed.elevated_unverified)";
  const base::FilePath list = package_folder_.Append(L"files_list");
  const struct {
    const char* list;
    int left_out;
  } cases[] = {
      {"velum.exe\r\nresources\\strings.txt\r\n", 0},
      {"velum.exe\r\nresources\\strings.txt\r\npartner_a.exe\r\npartner_b.exe\r\n", 2},
      {"velum.exe\nresources\\strings.txt\npartner_a.exe\n\npartner_a.exe\n", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.list);
    const int size = static_cast<int>(strlen(c.list));
    ASSERT_EQ(size, base::WriteFile(list, c.list, size));
    base::ScopedHandle ready = CreatePackageReadyEvent();
    ASSERT_TRUE(SetEvent(ready.Get()));
    RecordingDelegate delegate;
    PackageHandOver hand_over(install_folder_, &process_, &delegate, &unpacker_);
    hand_over.WaitForPackage(false);
    EXPECT_EQ(c.left_out, std::count(delegate.calls.begin(), delegate.calls.end(), kEvent));
    ASSERT_FALSE(delegate.calls.empty());
    EXPECT_EQ("succeeded", delegate.calls.back());
  }
}

TEST_F(PackageHandOverTest, MissingEventIsAnErrorAndInterruptionCancels) {
  RecordingDelegate delegate;
  PackageHandOver hand_over(install_folder_, &process_, &delegate, &unpacker_);
  hand_over.WaitForPackage(false);
  EXPECT_EQ(
      (std::vector<std::string>{"error(0, Failed to open a handle to the package ready event)"}),
      delegate.calls);

  base::ScopedHandle interrupted(CreateEventW(nullptr, TRUE, TRUE, nullptr));
  hand_over.set_interrupted_event(interrupted.Get());
  hand_over.OnObjectSignaled(interrupted.Get());
  EXPECT_EQ("cancel", delegate.calls.back());
}

TEST_F(PackageHandOverTest, PackageThatBecomesReadyLaterIsWatched) {
  base::MessageLoop loop;
  base::ScopedHandle ready = CreatePackageReadyEvent();
  RecordingDelegate delegate;
  PlaceDownload();
  PackageHandOver hand_over(install_folder_, &process_, &delegate, &unpacker_);
  hand_over.WaitForPackage(false);
  EXPECT_TRUE(delegate.calls.empty());
  ASSERT_TRUE(SetEvent(ready.Get()));
  base::RunLoop run_loop;
  delegate.run_loop = &run_loop;
  run_loop.Run();
  EXPECT_EQ("succeeded", delegate.calls.back());
}

}  // namespace
}  // namespace installer

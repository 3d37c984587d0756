// The installer as users start it: the real host and library from the build folder, run
// as separate processes, judged by their output, exit status and log file.
#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/base_paths_win.h"
#include "base/files/file_util.h"
#include "base/path_service.h"
#include "base/files/scratch_dir_test_util.h"
#include "base/process/launch.h"
#include "base/process/process.h"
#include "base/strings/stringprintf.h"
#include "base/time/time.h"
#include "base/test/test_helper_process.h"
#include "base/win/scoped_handle.h"
#include "crash/reporter/crash_reporter_test_util.h"
#include "desktop/common/autoupdate/updatechecker/product_config.h"
#include "desktop/windows/installer/steps/installation_test_util.h"
#include "desktop/windows/installer/front_end/run_installer_names.h"
#include "desktop/windows/installer/front_end/run_installer_process.h"
#include "desktop/windows/installer/security/access_control.h"
#include "desktop/windows/installer/service/kernel_object_name.h"
#include "desktop/windows/installer/ui/installer_ui_lock.h"

namespace installer {
namespace {

const char kLogStart[] = "Velum installer starting - version ";

std::string Base64(const std::string& data) {
  static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < data.size(); i += 3) {
    uint32_t group = static_cast<uint8_t>(data[i]) << 16;
    if (i + 1 < data.size()) group |= static_cast<uint8_t>(data[i + 1]) << 8;
    if (i + 2 < data.size()) group |= static_cast<uint8_t>(data[i + 2]);
    out.push_back(kDigits[(group >> 18) & 63]);
    out.push_back(kDigits[(group >> 12) & 63]);
    out.push_back(i + 1 < data.size() ? kDigits[(group >> 6) & 63] : '=');
    out.push_back(i + 2 < data.size() ? kDigits[group & 63] : '=');
  }
  return out;
}

class RunInstallerTest : public base::ScratchDirTest {
 protected:
  void SetUp() override {
    base::ScratchDirTest::SetUp();
    static int counter = 0;
    marker_ = base::StringPrintf(L"%lu-%d-%lu", GetCurrentProcessId(), ++counter, GetTickCount());
    // An installer window "runs" here, so a run that reaches the wizard gives way to it
    // and ends at once instead of waiting for a user. The lock lives in a temporary
    // folder of this test's own, which the runs inherit.
    const base::FilePath temp = Path(L"temp");
    ASSERT_TRUE(base::CreateDirectory(temp));
    tmp_.reset(new testing::ScopedEnvironmentVariable(L"TMP", temp.value()));
    temp_variable_.reset(new testing::ScopedEnvironmentVariable(L"TEMP", temp.value()));
    ASSERT_TRUE(tmp_->set() && temp_variable_->set());
    ASSERT_EQ(GetCurrentThreadId(), ui_lock_.Acquire(L"Velum"));
    GetSystemTimeAsFileTime(&start_);
  }

  static base::FilePath Host() {
    return base::FilePath(base::TestExeSibling(L"velum_installer.exe"));
  }

  // Runs `program` with `arguments` and this test's marker; its exit code, and its
  // standard output in *output.
  int Run(const base::FilePath& program, const std::wstring& arguments, std::string* output) {
    SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
    HANDLE read_end = nullptr;
    HANDLE write_end = nullptr;
    EXPECT_TRUE(CreatePipe(&read_end, &write_end, &inheritable, 1 << 16));
    base::ScopedHandle reader(read_end);
    base::ScopedHandle writer(write_end);
    EXPECT_TRUE(SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0));
    base::LaunchOptions options;
    base::HandlesToInheritVector handles = {write_end};
    options.handles_to_inherit = &handles;
    options.stdout_handle = write_end;
    options.stderr_handle = write_end;
    const std::wstring command =
        L"\"" + program.value() + L"\" " + arguments + L" --test-run=" + marker_;
    base::Process process = base::LaunchProcess(command, options);
    EXPECT_TRUE(process.IsValid());
    if (!process.IsValid()) return -1;
    writer.Close();
    // Read after the end, not to the end of the pipe: a system process the run started
    // (COM's) may hold the pipe open for much longer. The output fits the pipe's buffer.
    int32_t exit_code = -1;
    EXPECT_TRUE(process.WaitForExit(&exit_code));
    output->clear();
    char buffer[4096];
    DWORD available = 0;
    DWORD read = 0;
    while (PeekNamedPipe(read_end, nullptr, 0, nullptr, &available, nullptr) && available > 0 &&
           ReadFile(read_end, buffer, sizeof(buffer), &read, nullptr) && read > 0) {
      output->append(buffer, read);
    }
    return exit_code;
  }

  // Starts `program` like Run but does not wait: for runs that show a window first.
  base::Process Start(const base::FilePath& program, const std::wstring& arguments) {
    const std::wstring command =
        L"\"" + program.value() + L"\" " + arguments + L" --test-run=" + marker_;
    base::Process process = base::LaunchProcess(command, base::LaunchOptions());
    EXPECT_TRUE(process.IsValid());
    return process;
  }

  // The visible top-level dialog of `process` titled `title`; null when none came up
  // within a minute or the process ended first.
  static HWND WaitForDialog(const base::Process& process, const std::wstring& title) {
    struct Search {
      DWORD pid;
      const std::wstring* title;
      HWND found;
    } search = {process.Pid(), &title, nullptr};
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < 60000) {
      EnumWindows(
          [](HWND window, LPARAM param) -> BOOL {
            Search* search = reinterpret_cast<Search*>(param);
            DWORD pid = 0;
            GetWindowThreadProcessId(window, &pid);
            wchar_t text[256] = {};
            wchar_t class_name[64] = {};
            if (pid != search->pid || !IsWindowVisible(window) ||
                !GetClassNameW(window, class_name, 64) || std::wstring(class_name) != L"#32770") {
              return TRUE;
            }
            GetWindowTextW(window, text, 256);
            if (*search->title != text) return TRUE;
            search->found = window;
            return FALSE;
          },
          reinterpret_cast<LPARAM>(&search));
      if (search.found) return search.found;
      // Waits on the process itself: an early end stops the search at once.
      if (process.WaitForExitWithTimeout(base::TimeDelta::FromMilliseconds(100), nullptr))
        return nullptr;
    }
    return nullptr;
  }

  // The installer log of this test's run in `folder`; false when there is none.
  bool FindLogIn(const base::FilePath& folder, base::FilePath* path, std::string* text) {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(folder.Append(L"velum_installer_*.log").value().c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return false;
    bool found = false;
    const std::string marker = "--test-run=" + base::FilePath(marker_).AsUTF8();
    do {
      const base::FilePath candidate = folder.Append(data.cFileName);
      std::string content;
      if (base::ReadFileToString(candidate, &content) &&
          content.find(marker) != std::string::npos) {
        *path = candidate;
        *text = content;
        found = true;
      }
    } while (!found && FindNextFileW(find, &data));
    FindClose(find);
    if (found) logs_.push_back(*path);
    return found;
  }

  // The installer log of this test's run in the user's temporary folder.
  bool FindLog(base::FilePath* path, std::string* text) {
    base::FilePath temp;
    return base::GetTempDir(&temp) && FindLogIn(temp.Append(GetInstallerFolderName()), path, text);
  }

  // The log of this test's elevated helper: in a folder of its own in the Windows
  // folder's Temp, which only administrators can change.
  bool FindElevatedLog(base::FilePath* path, std::string* text) {
    base::FilePath windows;
    if (!base::PathRegistry::Get(base::DIR_WINDOWS, &windows)) return false;
    const base::FilePath temp = windows.Append(L"Temp");
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(temp.Append(L"VelumInstaller-*").value().c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return false;
    bool found = false;
    do {
      found = FindLogIn(temp.Append(data.cFileName), path, text);
    } while (!found && FindNextFileW(find, &data));
    FindClose(find);
    if (found) log_folders_.push_back(path->DirName());
    return found;
  }

  std::string Log() {
    base::FilePath path;
    std::string text;
    EXPECT_TRUE(FindLog(&path, &text)) << "no log of this run";
    return text;
  }

  // A copy of the host and library named `name` in `folder`, with `payload` appended.
  base::FilePath CopyHost(const base::FilePath& folder, const wchar_t* name,
                          const std::string& payload) {
    EXPECT_TRUE(base::CreateDirectory(folder));
    const base::FilePath copy = folder.Append(name);
    EXPECT_TRUE(base::CopyFile(Host(), copy));
    EXPECT_TRUE(base::CopyFile(base::FilePath(base::TestExeSibling(L"velum_installer.dll")),
                               folder.Append(L"velum_installer.dll")));
    if (!payload.empty()) {
      EXPECT_TRUE(base::AppendToFile(copy, payload.data(), static_cast<int>(payload.size())));
    }
    return copy;
  }

  // Makes the copy's payload unreadable: its certificate table lies past the file's end.
  void CorruptPayload(const base::FilePath& copy) {
    std::string image;
    ASSERT_TRUE(base::ReadFileToString(copy, &image));
    const uint32_t pe = *reinterpret_cast<const uint32_t*>(&image[60]);
    uint32_t* directory = reinterpret_cast<uint32_t*>(&image[pe + 0xA8]);
    directory[0] = static_cast<uint32_t>(image.size() + 4096);
    directory[1] = 16;
    ASSERT_EQ(static_cast<int>(image.size()), base::WriteFile(copy, image.data(), image.size()));
  }

  static std::string TrackingPayload(const std::string& json) {
    const std::string data = Base64(json);
    std::string payload = "VLM" + data;
    const uint32_t length = static_cast<uint32_t>(data.size());
    payload.append(reinterpret_cast<const char*>(&length), 4);
    return payload;
  }

  void TearDown() override {
    for (const base::FilePath& log : logs_) EXPECT_TRUE(base::DeleteFile(log, false));
    for (const base::FilePath& folder : log_folders_) EXPECT_TRUE(base::DeleteFile(folder, true));
    // The runs' crash reporters count their own crashes beside their dumps, in this
    // test's Temp (one crashing after its installer's end may come too late to be seen).
    crash_reporter::ExpectNoReporterCrash(Path(L"temp"), start_);
  }

  std::wstring marker_;
  std::unique_ptr<testing::ScopedEnvironmentVariable> tmp_;
  std::unique_ptr<testing::ScopedEnvironmentVariable> temp_variable_;
  InstallerUILock ui_lock_;
  std::vector<base::FilePath> logs_;
  std::vector<base::FilePath> log_folders_;
  FILETIME start_ = {};
};

TEST_F(RunInstallerTest, InformationalSwitchesPrintTheValueAloneAndLogNothing) {
  struct Case {
    const wchar_t* arguments;
    std::string expected;
  };
  const Case cases[] = {{L"--version", GetBuildVersion()},
                        {L"--internal-version", GetBuildAndPatchNumber()},
                        {L"--stream", GetChannelName()},
                        {L"--version --silent", GetBuildVersion()},
                        {L"--stream --version", GetBuildVersion()}};
  EXPECT_EQ("Stable", GetChannelName());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments);
    std::string output;
    EXPECT_EQ(0, Run(Host(), c.arguments, &output));
    EXPECT_EQ(c.expected, output);
    base::FilePath log;
    std::string text;
    EXPECT_FALSE(FindLog(&log, &text)) << log.value();
  }
}

// The helper and crash-reporter roles always succeed and never open the installer log.
TEST_F(RunInstallerTest, HelperRolesSucceedWithoutALog) {
  for (const wchar_t* arguments :
       {L"--set-folder-permission=C:\\nowhere", L"--crash-reporter-parent-id=1"}) {
    SCOPED_TRACE(arguments);
    std::string output;
    EXPECT_EQ(0, Run(Host(), arguments, &output));
    base::FilePath log;
    std::string text;
    EXPECT_FALSE(FindLog(&log, &text)) << log.value();
  }
}

// A helper that is asked to widen a system folder refuses, fails, and says why in its log.
TEST_F(RunInstallerTest, HelperLogsTheFolderItRefuses) {
  const std::wstring folder = L"C:\\windows\\system32";
  base::ScopedHandle granted(CreateEventW(
      nullptr, FALSE, FALSE,
      GetKernelObjectName(folder, L"VelumInstaller/GiveInstallPermission", false).c_str()));
  // Set already: a helper that granted would take the grant back and end.
  base::ScopedHandle undo(CreateEventW(
      nullptr, TRUE, TRUE,
      GetKernelObjectName(folder, L"VelumInstaller/GiveInstallPermission/Undo", false).c_str()));
  ASSERT_TRUE(granted.IsValid() && undo.IsValid());
  // Asked by this process for its own user: only the folder is wrong.
  std::wstring user;
  ASSERT_TRUE(installer::GetCurrentUserName(&user));
  std::string output;
  EXPECT_EQ(1, Run(Host(),
                   L"--set-folder-permission=" + folder + L" --permissions-for-user=\"" + user +
                       base::StringPrintf(L"\" --initial-pid=%lu", GetCurrentProcessId()),
                   &output));
  EXPECT_NE(WAIT_OBJECT_0, WaitForSingleObject(granted.Get(), 0));
  // Nothing elevated writes by name into the user's temporary folder, which the user
  // could have made a link.
  base::FilePath log;
  std::string text;
  EXPECT_FALSE(FindLog(&log, &text)) << log.AsUTF8();
  ASSERT_TRUE(FindElevatedLog(&log, &text));
  EXPECT_NE(std::string::npos,
            text.find("Refusing to give access to C:\\windows\\system32: it lies in the protected "
                      "folder C:\\windows"));
}

// A helper that granted (for good, so it ends at once) takes its log folder with it: only
// a failed or refusing run's log stays for a look.
TEST_F(RunInstallerTest, HelperThatGrantedLeavesNoLogFolder) {
  // A new folder in Program Files may be granted: the helper makes it, and a permanent
  // grant keeps it.
  base::FilePath program_files;
  ASSERT_TRUE(base::PathRegistry::Get(base::DIR_PROGRAM_FILES, &program_files));
  const base::FilePath folder = program_files.Append(L"velum_grant_" + marker_);
  base::ScopedHandle granted(CreateEventW(
      nullptr, FALSE, FALSE,
      GetKernelObjectName(folder.value(), L"VelumInstaller/GiveInstallPermission", false)
          .c_str()));
  base::ScopedHandle undo(CreateEventW(
      nullptr, TRUE, TRUE,
      GetKernelObjectName(folder.value(), L"VelumInstaller/GiveInstallPermission/Undo", false)
          .c_str()));
  ASSERT_TRUE(granted.IsValid() && undo.IsValid());
  std::wstring user;
  ASSERT_TRUE(installer::GetCurrentUserName(&user));
  std::string output;
  EXPECT_EQ(0, Run(Host(),
                   L"--set-folder-permission=\"" + folder.value() +
                       L"\" --permanent-permissions --permissions-for-user=\"" + user +
                       base::StringPrintf(L"\" --initial-pid=%lu", GetCurrentProcessId()),
                   &output));
  base::FilePath log;
  std::string text;
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(granted.Get(), 0));
  EXPECT_FALSE(FindElevatedLog(&log, &text)) << log.AsUTF8() << text;
  EXPECT_TRUE(base::DeleteFile(folder, true));
}

TEST_F(RunInstallerTest, Q12AutoupdateTakesTheFolderFromTheLastArgument) {
  std::string output;
  EXPECT_EQ(1, Run(Host(), L"--autoupdate --silent --installfolder= C:\\Velum", &output));
  const std::string text = Log();
  for (const char* expected :
       {"It looks like we are autoupdating from Q12.",
        "Recovered install folder from command line: C:\\Velum", "Configuring for Q12 autoupdate.",
        "Silent: 0", "Run Immediately 1", "Running UI controller"}) {
    EXPECT_NE(std::string::npos, text.find(expected)) << expected;
  }
}

TEST_F(RunInstallerTest, DownloadFolderGoesOnlyWhenEmpty) {
  const base::FilePath base = Path(L"downloads");
  ASSERT_TRUE(base::CreateDirectory(base));
  const base::FilePath folder = base.Append(GetInstallerFolderName());
  std::string output;
  EXPECT_EQ(1, Run(Host(), L"--temp-folder=\"" + base.value() + L"\"", &output));
  EXPECT_NE(std::string::npos, Log().find("Installer download folder: " + folder.AsUTF8()));
  EXPECT_FALSE(base::PathExists(folder));

  ASSERT_TRUE(base::CreateDirectory(folder));
  ASSERT_TRUE(base::WriteTextFile(folder.Append(L"leftover.7z"), "data"));
  marker_ += L"-leftover";
  EXPECT_EQ(1, Run(Host(), L"--temp-folder=\"" + base.value() + L"\"", &output));
  EXPECT_TRUE(base::PathExists(folder.Append(L"leftover.7z")));
}

// Silent from an unpacked package (no payload, so nothing is fetched) into a folder that
// cannot be used: the silent controller runs and fails at once, sending no statistics.
TEST_F(RunInstallerTest, RunWritesItsLogWithTheProductNameAndStartLine) {
  const base::FilePath package = Path(L"package");
  const base::FilePath installer = CopyHost(package, L"installer.exe", std::string());
  ASSERT_EQ(1, base::WriteFile(package.Append(L"files_list"), "\n", 1));
  ASSERT_EQ(1, base::WriteFile(package.Append(L"velum.exe"), "x", 1));
  std::string output;
  EXPECT_EQ(1, Run(installer, L"--silent --enable-installer-stats=0 --installfolder=relative",
                   &output))
      << output;
  base::FilePath log;
  std::string text;
  ASSERT_TRUE(FindLog(&log, &text));
  const std::wstring name = log.BaseName().value();
  // velum_installer_ + year, month, day, hour, minute, second, millisecond + .log
  ASSERT_EQ(std::wstring(L"velum_installer_").size() + 17 + 4, name.size()) << name;
  EXPECT_EQ(0u, name.find(L"velum_installer_20"));
  EXPECT_EQ(log.DirName().BaseName().value(), L"Velum Installer");
  const std::string first_line = text.substr(0, text.find('\n'));
  EXPECT_NE(std::string::npos,
            first_line.find(kLogStart + GetBuildVersion() + " " + GetChannelName()))
      << first_line;
  EXPECT_NE(std::string::npos, text.find("Command line: "));
  EXPECT_NE(std::string::npos, text.find("Silent: 1"));
  EXPECT_NE(std::string::npos, text.find("Not sending stats"));
  EXPECT_NE(std::string::npos, text.find("Controller exiting"));
}

TEST_F(RunInstallerTest, UninstallOutsideAnInstallationFailsAtOnce) {
  std::string output;
  EXPECT_EQ(1, Run(Host(), L"--uninstall", &output));
  const std::string text = Log();
  EXPECT_NE(std::string::npos, text.find("ERROR:run_installer_process.cc(")) << text;
  EXPECT_NE(std::string::npos,
            text.find("Requested to uninstall, but we are not in a valid installation folder"));
  EXPECT_EQ(std::string::npos, text.find("Reading Payload"));
}

TEST_F(RunInstallerTest, InstallerInsideAPackageSkipsThePayload) {
  const base::FilePath package = Path(L"package");
  const base::FilePath installer = CopyHost(package, L"installer.exe", std::string());
  CorruptPayload(installer);
  ASSERT_TRUE(base::WriteTextFile(package.Append(L"velum.exe"), "browser"));
  ASSERT_TRUE(base::WriteTextFile(package.Append(L"files_list"), ""));
  std::string output;
  EXPECT_EQ(1, Run(installer, L"", &output));
  const std::string text = Log();
  EXPECT_NE(std::string::npos, text.find("Inside package 1")) << text;
  EXPECT_EQ(std::string::npos, text.find("Reading Payload"));
  EXPECT_NE(std::string::npos, text.find("Running UI controller"));
}

TEST_F(RunInstallerTest, CorruptedPayloadShowsTheBoxAndFails) {
  // The same corrupted file outside a package (a wrong name, or no files list).
  const base::FilePath folder = Path(L"download");
  const base::FilePath installer = CopyHost(folder, L"installer.exe", std::string());
  CorruptPayload(installer);
  ASSERT_TRUE(base::WriteTextFile(folder.Append(L"velum.exe"), "browser"));
  base::Process process = Start(installer, L"--language=en-US");
  ASSERT_TRUE(process.IsValid());
  const HWND box = WaitForDialog(process, L"Velum installer");
  if (!box) {
    TerminateProcess(process.Handle(), 2);
    FAIL() << "no corrupted-payload box";
  }
  // Sent, not read from the window: a rich edit keeps its own text, and the answer comes
  // only once the run pumps messages, that is after the box is complete.
  wchar_t text[512] = {};
  DWORD_PTR length = 0;
  EXPECT_NE(0, SendMessageTimeoutW(GetDlgItem(box, 1035), WM_GETTEXT, 512,
                                   reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 60000,
                                   &length));
  EXPECT_NE(std::wstring::npos, std::wstring(text).find(L"This installer file is damaged."))
      << std::wstring(text);
  // Closing (never accepting: that opens a browser) ends the run without the website.
  ASSERT_TRUE(PostMessageW(box, WM_CLOSE, 0, 0));
  int32_t exit_code = -1;
  if (!process.WaitForExitWithTimeout(base::TimeDelta::FromSeconds(60), &exit_code)) {
    TerminateProcess(process.Handle(), 2);
    FAIL() << "the run did not end after the box closed";
  }
  EXPECT_EQ(1, exit_code);
  const std::string log = Log();
  EXPECT_NE(std::string::npos, log.find("Inside package 0"));
  EXPECT_EQ(std::string::npos, log.find("Cannot initialize the message box"));
  EXPECT_EQ(std::string::npos, log.find("Running UI controller"));
}

TEST_F(RunInstallerTest, CorruptedPayloadOfASilentRunIsAnErrorLineAndFailure) {
  // A silent run pumps no window messages: no box that would never answer.
  const base::FilePath folder = Path(L"download");
  const base::FilePath installer = CopyHost(folder, L"installer.exe", std::string());
  CorruptPayload(installer);
  std::string output;
  EXPECT_EQ(1, Run(installer, L"--silent", &output));
  const std::string log = Log();
  EXPECT_NE(std::string::npos, log.find("ERROR:run_installer_process.cc"));
  EXPECT_NE(std::string::npos, log.find("Cannot initialize the message box"));
}

// A silent net installer that reaches nothing: its address request goes to a closed
// loopback port and the folder cannot be used, so the run fails at once.
const wchar_t kSilentGoingNowhere[] =
    L"--silent --enable-installer-stats=0 --installfolder=relative "
    L"--internal-package-server=http://127.0.0.1:9/netinstaller/ "
    L"--local-pref-default-overrides-server=http://127.0.0.1:9/";

TEST_F(RunInstallerTest, TrackingChoicesApplyOnlyTogether) {
  const base::FilePath both =
      CopyHost(Path(L"both"), L"VelumSetup.exe",
               TrackingPayload("{\"utm\": {\"defbr\": \"false\", \"fsce\": \"true\", \"medium\": "
                               "\"m1\"}, \"uuid\": \"u1\"}"));
  std::string output;
  EXPECT_EQ(1, Run(both, kSilentGoingNowhere, &output));
  std::string text = Log();
  for (const char* expected : {"defbr:false", "DEFAULT_BROWSER set to: 0", "fsce:true",
                               "ENABLE_VELUM_STATS set to: 1", "niuid:u1", "utm_medium:m1"}) {
    EXPECT_NE(std::string::npos, text.find(expected)) << expected;
  }

  const base::FilePath one = CopyHost(Path(L"one"), L"VelumSetup.exe",
                                      TrackingPayload("{\"utm\": {\"defbr\": \"false\"}}"));
  marker_ += L"-one";
  EXPECT_EQ(1, Run(one, kSilentGoingNowhere, &output));
  text = Log();
  EXPECT_NE(std::string::npos, text.find("Tracking data: "));
  EXPECT_EQ(std::string::npos, text.find("defbr:"));
  EXPECT_EQ(std::string::npos, text.find("DEFAULT_BROWSER set to"));
}

TEST(RunInstallerNamesTest, NamesFollowTheProductName) {
  EXPECT_EQ(L"Velum Installer", GetInstallerFolderName());
  SYSTEMTIME time = {};
  time.wYear = 2026;
  time.wMonth = 1;
  time.wDay = 2;
  time.wHour = 3;
  time.wMinute = 4;
  time.wSecond = 5;
  time.wMilliseconds = 6;
  EXPECT_EQ(L"velum_installer_20260102030405006.log", GetInstallerLogFileName(time));
  EXPECT_EQ("Velum and velum",
            FormatWithProductName("%s and ", false) + FormatWithProductName("%s", true));
}

TEST(RunInstallerNamesTest, InstallFolderRecoveredOnlyFromAnAbsoluteLastArgument) {
  struct Case {
    const wchar_t* command_line;
    const wchar_t* expected;
  };
  const Case cases[] = {
      {L"setup.exe --installfolder= --autoupdate C:\\Velum", L"C:\\Velum"},
      {L"setup.exe --autoupdate \\\\server\\share\\Velum", L"\\\\server\\share\\Velum"},
      {L"setup.exe --autoupdate d:/Velum", L"d:/Velum"},
      {L"setup.exe --autoupdate Velum", L""},
      {L"setup.exe --autoupdate C:Velum", L""},
      {L"C:\\setup.exe", L"C:\\setup.exe"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command_line);
    base::CommandLine command_line(base::CommandLine::NO_PROGRAM);
    command_line.ParseFromString(c.command_line);
    EXPECT_EQ(c.expected, RecoverInstallFolderFromCommandLine(command_line).value());
  }
}

}  // namespace
}  // namespace installer

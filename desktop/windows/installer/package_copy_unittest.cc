#include "desktop/windows/installer/package_copy.h"

#include <windows.h>
#include <winioctl.h>

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/files/scratch_dir_test_util.h"
#include "base/process/process.h"
#include "base/strings/utf_string_conversions.h"
#include "base/test/log_capture_test_util.h"
#include "base/test/test_helper_process.h"
#include "desktop/common/autoupdate/updatechecker/product_config.h"
#include "desktop/windows/installer/package_fetcher/full_package_unpacker.h"
#include "desktop/windows/installer/package_fetcher/test_data_test_util.h"
#include "desktop/windows/installer/steps/installation_test_util.h"

namespace installer {
namespace {

// Stands in for a test data name: "sparse:<n>" is a sparse file of n bytes that begins
// with "MZ" (a few KiB on disk).
const char kSparse[] = "sparse:";

// Makes `path` a sparse file of `size` bytes that begins with `head` and ends with `tail`.
void MakeSparse(const base::FilePath& path, int64_t size, const std::string& head,
                const std::string& tail) {
  base::ScopedHandle file(CreateFileW(path.value().c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                      nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(file.IsValid());
  DWORD returned = 0;
  ASSERT_TRUE(DeviceIoControl(file.Get(), FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned,
                              nullptr));
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(file.Get(), head.data(), static_cast<DWORD>(head.size()), &written,
                        nullptr));
  LARGE_INTEGER at = {};
  at.QuadPart = size - static_cast<int64_t>(tail.size());
  ASSERT_TRUE(SetFilePointerEx(file.Get(), at, nullptr, FILE_BEGIN));
  ASSERT_TRUE(WriteFile(file.Get(), tail.data(), static_cast<DWORD>(tail.size()), &written,
                        nullptr));
  ASSERT_TRUE(SetEndOfFile(file.Get()));
}

// Stands in for a test data name: the test helper that plays another process.
const char kHelper[] = "helper";

// The block this product's installers carry after their image, holding `payload`.
std::string PayloadBlock(const std::string& payload) {
  const uint32_t size = static_cast<uint32_t>(payload.size());
  return "VLM" + payload + std::string(reinterpret_cast<const char*>(&size), sizeof(size));
}

// Waits for an archive as the system does, keeping what each wait was given.
class RecordingWaiter : public ArchiveWaiter {
 public:
  bool WaitForEnd(const base::Process& process, base::TimeDelta within,
                  int32_t* exit_code) const override {
    waits.push_back(within);
    return SystemArchiveWaiter().WaitForEnd(process, within, exit_code);
  }

  mutable std::vector<base::TimeDelta> waits;
};

// The elevated road's package, from the signed download beside the user's package folder,
// decided by a signed build's rule.
class TakeElevatedPackageTest : public base::ScratchDirTest {
 protected:
  void SetUp() override {
    ScratchDirTest::SetUp();
    package_ = Path(L"package");
    destination_ = Path(L"admin");
    ASSERT_TRUE(base::CreateDirectory(package_));
    ASSERT_TRUE(base::CreateDirectory(destination_));
    ASSERT_TRUE(base::CopyFile(testing::TestDataPath("signing/package_signed.exe"),
                               base::FilePath(package_.value() + L"_0.exe")));
    // The test package is as recent as this installer.
    SetEnvironmentVariableA("VELUM_STUB_INTERNAL_VERSION", GetBuildAndPatchNumber().c_str());
    bounds_.archive_waiter = &waiter_;
  }
  void TearDown() override {
    SetEnvironmentVariableA("VELUM_STUB_INTERNAL_VERSION", nullptr);
    ScratchDirTest::TearDown();
  }

  // A component folder beside the package: `files` are (test data, name) pairs, a null
  // test data making a data file.
  void MakeComponent(const wchar_t* folder,
                     const std::vector<std::pair<const char*, const wchar_t*>>& files) {
    ASSERT_TRUE(base::CreateDirectory(Path(folder)));
    for (const auto& file : files) {
      const base::FilePath target = Path(folder).Append(file.second);
      if (file.first && std::string(file.first).compare(0, sizeof(kSparse) - 1, kSparse) == 0) {
        MakeSparse(target, std::stoll(file.first + sizeof(kSparse) - 1), "MZ", "");
      } else if (file.first == kHelper) {
        ASSERT_TRUE(base::CopyFile(
            base::FilePath(base::TestExeSibling(L"installer_elevation_test_helper.exe")), target));
      } else if (file.first) {
        ASSERT_TRUE(base::CopyFile(testing::TestDataPath(file.first), target));
      } else {
        ASSERT_EQ(4, base::WriteFile(target, "data", 4));
      }
    }
  }

  // The descendants of this process that run now, counted from now on.
  static std::vector<DWORD> TrackRunningDescendants() {
    std::vector<DWORD> running;
    EXPECT_TRUE(base::TrackDescendantProcesses() && base::GetRunningDescendantIds(&running));
    return running;
  }

  // The descendants of this process that run now and did not run `before`.
  static std::vector<DWORD> NewDescendants(const std::vector<DWORD>& before) {
    std::vector<DWORD> running;
    EXPECT_TRUE(base::GetRunningDescendantIds(&running));
    std::vector<DWORD> added;
    for (DWORD id : running)
      if (std::find(before.begin(), before.end(), id) == before.end()) added.push_back(id);
    return added;
  }

  base::Result<> Take(const std::wstring& components) {
    taken_ = ElevatedPackage();
    waiter_.waits.clear();
    EXPECT_TRUE(base::DeleteFile(destination_, true) && base::CreateDirectory(destination_));
    return TakeElevatedPackage(package_, components, rule_, &unpacker_, destination_, bounds_,
                               &taken_);
  }

  // Whether nothing is left in the administrators' folder.
  bool DestinationIsEmpty() {
    return base::FileEnumerator(destination_, base::FileEnumerator::FILES |
                                                  base::FileEnumerator::DIRECTORIES)
        .Next()
        .empty();
  }

  base::FilePath package_;
  base::FilePath destination_;
  SignatureRule rule_ = SignatureRule::kRequired;
  RecordingWaiter waiter_;
  ElevatedTakeBounds bounds_;
  FullPackageUnpacker unpacker_;
  ElevatedPackage taken_;
};

// A download that fails the signer rule, or is larger than a full package's bound, is
// refused on the user's file before anything of it is copied into the administrators'
// folder or runs: not even to be asked its version.
TEST_F(TakeElevatedPackageTest, ADownloadFailingTheSignerRuleOrItsBoundIsNeverCopied) {
  const base::FilePath download(package_.value() + L"_0.exe");
  const int64_t gib = int64_t{1} << 30;
  const struct {
    const char* name;
    int64_t sparse_size;  // 0: the unsigned installer of the test package as it is
    std::string reason;
  } cases[] = {
      {"an unsigned download", 0, "its signature does not pass the signer rule"},
      // The largest file the payload reader maps.
      {"a sparse download of 2 GiB", 0x7FFFFFFF, "it is larger than the 1073741824 bytes"},
      {"a sparse download of exactly 1 GiB", gib, "its signature does not pass the signer rule"},
      {"one byte over 1 GiB", gib + 1, "it is larger than the 1073741824 bytes"},
  };
  const base::FilePath record = Path(L"started.txt");
  const testing::ScopedEnvironmentVariable recording(L"VELUM_STUB_RECORD", record.value());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.sparse_size) {
      std::string image;
      ASSERT_TRUE(base::ReadFileToString(testing::TestDataPath("signing/package_unsigned.exe"),
                                         &image));
      MakeSparse(download, c.sparse_size, image, PayloadBlock("7z\xBC\xAF\x27\x1C"));
    } else {
      ASSERT_TRUE(base::CopyFile(testing::TestDataPath("signing/package_unsigned.exe"), download));
    }
    ASSERT_TRUE(unpacker_.CarriesPackage(download));
    const base::Result<> result = Take(L"");
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(0u, result.failure().text.find(c.reason)) << result.failure().text;
    EXPECT_EQ(0, base::FilePath::CompareIgnoreCase(download.value(),
                                                   result.failure().path.value()));
    EXPECT_TRUE(DestinationIsEmpty());
    EXPECT_FALSE(base::PathExists(record));
  }
}

// A component's folder is made from its signed archive alone, run in the administrators'
// folder: nothing else the user's folder holds (a manifest, a script, .NET settings beside
// a signed installer) reaches it. A component whose archive is missing or fails, or whose
// installer fails the signer rule or the version floor, is left out with its reason. An
// archive over its bound or failing the signer rule is refused on the user's file, before
// anything of it is copied; one that carries this product's payload (its own installer)
// never runs, and an installer that fails the signer rule is never started to tell its
// version.
TEST_F(TakeElevatedPackageTest, AComponentComesFromItsSignedArchiveAlone) {
  const std::wstring unsigned_installer = testing::TestDataPath("signing/unsigned.exe").value();
  const std::vector<std::pair<const char*, const wchar_t*>> user_written = {
      {"signing/signed.exe", L"suite_sfx.exe"},
      {"signing/signed.exe", L"suite_installer.exe"},
      {nullptr, L"suite_installer.exe.manifest"},
      {nullptr, L"setup.cmd"},
      {nullptr, L"suite_installer.exe.config"}};
  const struct {
    const char* name;
    std::vector<std::pair<const char*, const wchar_t*>> files;
    const wchar_t* stub_variable;  // of the stand-in archive and installer; null: none
    std::wstring stub_value;
    std::string left_out;  // empty: taken
    const char* never_started;  // a program the run must not start; null: none
    bool refused_on_users_file;
  } cases[] = {
      {"user files beside a signed installer", user_written, nullptr, L"", "", nullptr, false},
      {"only the archive", {{"signing/signed.exe", L"suite_sfx.exe"}}, nullptr, L"", "", nullptr,
       false},
      {"no archive", {{"signing/signed.exe", L"suite_installer.exe"}}, nullptr, L"",
       "it cannot be held", nullptr, true},
      {"an unsigned archive", {{"signing/unsigned.exe", L"suite_sfx.exe"}}, nullptr, L"",
       "its signature does not pass the signer rule", nullptr, true},
      {"a sparse archive of 3 GiB", {{"sparse:3221225472", L"suite_sfx.exe"}}, nullptr, L"",
       "it is larger than the 268435456 bytes", nullptr, true},
      {"a sparse archive of exactly 256 MiB", {{"sparse:268435456", L"suite_sfx.exe"}}, nullptr,
       L"", "its signature does not pass the signer rule", nullptr, true},
      {"one byte over 256 MiB", {{"sparse:268435457", L"suite_sfx.exe"}}, nullptr, L"",
       "it is larger than the 268435456 bytes", nullptr, true},
      {"this product's own installer as the archive",
       {{"signing/package_signed.exe", L"suite_sfx.exe"}}, nullptr, L"",
       "it carries this product's payload", "suite_sfx.exe", false},
      {"an archive that fails", {{"signing/signed.exe", L"suite_sfx.exe"}},
       L"VELUM_STUB_SFX_EXIT_CODE", L"3", "its archive failed with 3", nullptr, false},
      {"an unsigned installer unpacked", {{"signing/signed.exe", L"suite_sfx.exe"}},
       L"VELUM_STUB_SFX_INSTALLER", unsigned_installer,
       "the installer its archive unpacked does not pass the signer rule", "suite_installer.exe",
       false},
      {"an installer older than this installer", {{"signing/signed.exe", L"suite_sfx.exe"}},
       L"VELUM_STUB_COMPONENT_VERSION", L"1.0", "its version (1.0) is not at least", nullptr,
       false},
  };
  const base::FilePath record = Path(L"started.txt");
  const testing::ScopedEnvironmentVariable recording(L"VELUM_STUB_RECORD", record.value());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(base::DeleteFile(Path(L"suite_folder"), true) && base::DeleteFile(record, false));
    MakeComponent(L"suite_folder", c.files);
    std::unique_ptr<testing::ScopedEnvironmentVariable> variable;
    if (c.stub_variable)
      variable.reset(new testing::ScopedEnvironmentVariable(c.stub_variable, c.stub_value));
    base::ScopedLogCapture log;
    ASSERT_TRUE(Take(L"suite:suite_folder").ok());
    const base::FilePath made = destination_.Append(L"suite_folder");
    const std::vector<std::string> reasons = log.LinesStartingWith("Leaving out the component");
    // An archive that runs is waited for once, five minutes at most.
    EXPECT_EQ(c.left_out.empty() ? 1u : waiter_.waits.size(), waiter_.waits.size());
    EXPECT_GE(1u, waiter_.waits.size());
    for (const base::TimeDelta wait : waiter_.waits)
      EXPECT_EQ(5 * 60 * 1000, wait.InMilliseconds());
    if (!c.left_out.empty()) {
      EXPECT_EQ(L"", taken_.components);
      EXPECT_FALSE(base::PathExists(made));
      ASSERT_EQ(1u, reasons.size());
      EXPECT_NE(std::string::npos, reasons[0].find(c.left_out)) << reasons[0];
      // The reason names the file refused: the user's, or the copy.
      EXPECT_EQ(c.refused_on_users_file,
                reasons[0].find(destination_.AsUTF8()) == std::string::npos)
          << reasons[0];
      std::string started;
      if (c.never_started && base::ReadFileToString(record, &started)) {
        EXPECT_EQ(std::string::npos, started.find(c.never_started)) << started;
      }
      continue;
    }
    EXPECT_EQ(L"suite:suite_folder", taken_.components);
    EXPECT_TRUE(reasons.empty());
    EXPECT_EQ(1u, taken_.component_programs.size());
    EXPECT_TRUE(base::PathExists(made.Append(L"suite_installer.exe")));
    for (const wchar_t* name :
         {L"suite_installer.exe.manifest", L"setup.cmd", L"suite_installer.exe.config"})
      EXPECT_FALSE(base::PathExists(made.Append(name))) << base::WideToUTF8(name);
  }

  // Names that are not plain are never used, and a component never unpacks into a folder
  // that is there already (the package's own).
  MakeComponent(L"nul_folder", {{"signing/signed.exe", L"nul_sfx.exe"}});
  ASSERT_TRUE(base::CopyFile(testing::TestDataPath("signing/signed.exe"),
                             package_.Append(L"suite_sfx.exe")));
  base::ScopedLogCapture log;
  ASSERT_TRUE(Take(L"..\\..\\x:suite_folder|nul:nul_folder|tool:..|suite:package").ok());
  EXPECT_EQ(L"", taken_.components);
  const std::vector<std::string> reasons = log.LinesStartingWith("Leaving out the component");
  ASSERT_EQ(4u, reasons.size());
  for (size_t i = 0; i < 3; ++i)
    EXPECT_NE(std::string::npos, reasons[i].find("not a plain name")) << reasons[i];
  EXPECT_NE(std::string::npos, reasons[3].find("a folder of its name cannot be made"));
  EXPECT_TRUE(base::PathExists(taken_.folder.Append(L"files_list")));
}

// A component's archive runs for a bounded time: one that never ends is ended with what
// it started, its folder removed and the component left out, and the run goes on to the
// next. An archive that carries this product's payload, tracking data too, or is no
// program image, is never started. (The test programs are unsigned: here the rule does not require signatures.)
TEST_F(TakeElevatedPackageTest, AComponentArchiveRunsBoundedAndNeverAsThisProductsInstaller) {
  const std::vector<DWORD> running_before = TrackRunningDescendants();
  const base::FilePath helper(base::TestExeSibling(L"installer_elevation_test_helper.exe"));
  MakeComponent(L"hang_folder", {{kHelper, L"hang_sfx.exe"}});
  std::string tracked;
  ASSERT_TRUE(base::ReadFileToString(helper, &tracked));
  tracked += PayloadBlock("tracking data");
  MakeComponent(L"tracked_folder", {});
  ASSERT_EQ(static_cast<int>(tracked.size()),
            base::WriteFile(Path(L"tracked_folder").Append(L"tracked_sfx.exe"), tracked.data(),
                            static_cast<int>(tracked.size())));
  MakeComponent(L"data_folder", {{nullptr, L"data_sfx.exe"}});
  const base::FilePath record = Path(L"started.txt");
  const testing::ScopedEnvironmentVariable recording(L"VELUM_TEST_RECORD", record.value());
  const testing::ScopedEnvironmentVariable hanging(L"VELUM_TEST_HANG", L"1");
  rule_ = SignatureRule::kNotRequired;
  bounds_.component_archive_run = base::TimeDelta::FromSeconds(2);
  base::ScopedLogCapture log;
  ASSERT_TRUE(Take(L"hang:hang_folder|tracked:tracked_folder|data:data_folder").ok());
  EXPECT_EQ(L"", taken_.components);
  const std::vector<std::string> reasons = log.LinesStartingWith("Leaving out the component");
  ASSERT_EQ(3u, reasons.size());
  EXPECT_NE(std::string::npos, reasons[0].find("its archive did not end within 2000 ms"))
      << reasons[0];
  EXPECT_NE(std::string::npos, reasons[1].find("it carries this product's payload"))
      << reasons[1];
  EXPECT_NE(std::string::npos, reasons[2].find("it is no program image")) << reasons[2];
  EXPECT_FALSE(base::PathExists(destination_.Append(L"hang_folder")));
  EXPECT_FALSE(base::PathExists(destination_.Append(L"tracked_folder")));
  EXPECT_EQ(std::vector<DWORD>(), NewDescendants(running_before));
  // Waited for once, within its bound.
  ASSERT_EQ(1u, waiter_.waits.size());
  EXPECT_EQ(2000, waiter_.waits[0].InMilliseconds());
  std::string started;
  if (base::ReadFileToString(record, &started)) {
    EXPECT_EQ(std::string::npos, started.find("tracked_sfx.exe")) << started;
  }
}

// Nothing an archive started in its job outlives the step: what is left of the job once
// the archive has ended is ended then, and the job ends all of it with its last handle
// should the process taking the package end first.
TEST_F(TakeElevatedPackageTest, NothingAnArchiveStartedOutlivesTheStep) {
  const std::vector<DWORD> running_before = TrackRunningDescendants();
  MakeComponent(L"leave_folder", {{kHelper, L"leave_sfx.exe"}});
  const base::FilePath record = Path(L"started.txt");
  const testing::ScopedEnvironmentVariable recording(L"VELUM_TEST_RECORD", record.value());
  const base::FilePath hang_mark(record.value() + L".hang");
  rule_ = SignatureRule::kNotRequired;
  {
    const testing::ScopedEnvironmentVariable hanging(L"VELUM_TEST_HANG", L"child");
    base::ScopedLogCapture log;
    ASSERT_TRUE(Take(L"leave:leave_folder").ok());
    // It ended with 0, its child started: only the installer it should have unpacked is
    // missing.
    const std::vector<std::string> reasons = log.LinesStartingWith("Leaving out the component");
    ASSERT_EQ(1u, reasons.size());
    EXPECT_NE(std::string::npos, reasons[0].find("the installer its archive unpacked"))
        << reasons[0];
    EXPECT_TRUE(base::PathExists(hang_mark));
    EXPECT_EQ(std::vector<DWORD>(), NewDescendants(running_before));
    // Nothing runs from the component's folder: it went.
    EXPECT_FALSE(base::PathExists(destination_.Append(L"leave_folder")));
  }

  // The process taking the package ends while the archive and its child run.
  const testing::ScopedEnvironmentVariable hanging(L"VELUM_TEST_HANG", L"1");
  const testing::ScopedEnvironmentVariable version(L"VELUM_DRIVER_VERSION",
                                                   base::UTF8ToWide(GetBuildAndPatchNumber()));
  ASSERT_TRUE(base::DeleteFile(hang_mark, false));
  const base::FilePath destination = Path(L"admin-of-the-ended");
  ASSERT_TRUE(base::CreateDirectory(destination));
  const base::FilePath driver = Path(L"VelumSetup.exe");
  ASSERT_TRUE(base::CopyFile(testing::TestDataPath("signing/driver_unsigned.exe"), driver));
  const std::wstring events = L"Local\\VelumArchiveJobTest-" + std::to_wstring(GetCurrentProcessId());
  const base::ScopedHandle ready(CreateEventW(nullptr, TRUE, FALSE, (events + L"-ready").c_str()));
  const base::ScopedHandle go(CreateEventW(nullptr, TRUE, TRUE, (events + L"-go").c_str()));
  const base::Process taking = testing::StartTakeDriver(
      driver, events, package_, destination, Path(L"result.txt"), L"leave:leave_folder");
  ASSERT_TRUE(taking.IsValid());
  ASSERT_TRUE(base::WaitForPathExistence(hang_mark, true, 60000));
  ASSERT_TRUE(TerminateProcess(taking.Handle(), 1));
  // The archive and its child would wait a minute.
  EXPECT_TRUE(base::WaitForDescendantProcesses(30000));
}

// The preference overrides beside the package would become every account's defaults, and
// nothing vouches for them: never carried, and the run says so. The welcome address is
// carried only when it is a web page's.
TEST_F(TakeElevatedPackageTest, OverridesAreNeverCarriedAndTheWelcomeAddressOnlyAsAWebPage) {
  const std::string overrides = "{\"homepage\": \"https://www.example.com/\"}";
  ASSERT_EQ(static_cast<int>(overrides.size()),
            base::WriteFile(package_.Append(L"pref_default_overrides"), overrides.data(),
                            static_cast<int>(overrides.size())));
  const std::string include = "{\"welcome-url\": \"file:///C:/Windows/System32/calc.exe\"}";
  ASSERT_EQ(static_cast<int>(include.size()),
            base::WriteFile(package_.Append(L"installer_prefs_include.json"), include.data(),
                            static_cast<int>(include.size())));
  base::ScopedLogCapture log;
  ASSERT_TRUE(Take(L"").ok());
  EXPECT_FALSE(base::PathExists(taken_.folder.Append(L"pref_default_overrides")));
  EXPECT_FALSE(base::PathExists(taken_.folder.Append(L"installer_prefs_include.json")));
  EXPECT_TRUE(log.Has("Leaving out the preference overrides beside the package: an elevated "
                      "installation takes none"));
  EXPECT_TRUE(log.Has("Not carrying the welcome address over: not an http or https address"));

  const std::string web = "{\"welcome-url\": \"https://www.example.com/welcome?from=1\"}";
  ASSERT_EQ(static_cast<int>(web.size()),
            base::WriteFile(package_.Append(L"installer_prefs_include.json"), web.data(),
                            static_cast<int>(web.size())));
  // A link among them carries nothing of what it leads to.
  const base::FilePath secret = Write(L"secret", "{\"language\": \"secret\"}");
  std::string error;
  ASSERT_TRUE(base::MakeDirectoryLink(package_.Append(L"server_tracking_data"), secret, &error))
      << error;
  ASSERT_TRUE(Take(L"").ok());
  std::string carried;
  ASSERT_TRUE(base::ReadFileToString(taken_.folder.Append(L"installer_prefs_include.json"),
                                     &carried));
  EXPECT_NE(std::string::npos,
            carried.find("\"welcome-url\":\"https://www.example.com/welcome?from=1\""));
  EXPECT_FALSE(base::PathExists(taken_.folder.Append(L"pref_default_overrides")));
  EXPECT_FALSE(base::PathExists(taken_.folder.Append(L"server_tracking_data")));
  EXPECT_TRUE(base::RemoveDirectoryLink(package_.Append(L"server_tracking_data")));
}

}  // namespace
}  // namespace installer

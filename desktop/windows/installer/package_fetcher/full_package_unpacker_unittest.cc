#include "desktop/windows/installer/package_fetcher/full_package_unpacker.h"

#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/process/launch.h"
#include "base/process/process.h"
#include "base/win/scoped_handle.h"
#include "base/files/scratch_dir_test_util.h"
#include "base/test/log_capture_test_util.h"
#include "desktop/common/autoupdate/updatechecker/product_config.h"
#include "desktop/windows/installer/elevated_helper/elevated_program_check.h"
#include "desktop/windows/installer/package_fetcher/test_data_test_util.h"

namespace installer {
namespace {

std::string Read(const base::FilePath& path) {
  std::string text;
  return base::ReadFileToString(path, &text) ? text : std::string("<missing>");
}

bool WriteText(const base::FilePath& path, const std::string& text) {
  return base::WriteFile(path, text.data(), static_cast<int>(text.size())) ==
         static_cast<int>(text.size());
}

class ElevatedPackageTest : public base::ScratchDirTest {
 protected:
  void SetUp() override {
    ScratchDirTest::SetUp();
    package_ = Path(L"VelumSetup_20261208101010");
    destination_ = Path(L"admin");
    ASSERT_TRUE(base::CreateDirectory(package_));
    ASSERT_TRUE(base::CreateDirectory(destination_));
    // What the fetcher unpacked, as the user left it.
    reference_ = Path(L"reference");
    ASSERT_TRUE(base::CreateDirectory(reference_));
    ASSERT_TRUE(unpacker_.Unpack(testing::TestDataPath("signing/package_unsigned.exe"),
                                 Path(L"reference.7z"), reference_)
                    .ok());
    // The test packages are as recent as this installer unless a case says otherwise.
    SetVersion(GetBuildAndPatchNumber());
  }
  void TearDown() override {
    SetVersion(std::string());
    ScratchDirTest::TearDown();
  }

  // What the test packages answer "internal-version" with; empty: unset.
  static void SetVersion(const std::string& version) {
    SetEnvironmentVariableA("VELUM_STUB_INTERNAL_VERSION",
                            version.empty() ? nullptr : version.c_str());
  }

  base::FilePath Download(int try_number) {
    return base::FilePath(package_.value() + L"_" + std::to_wstring(try_number) + L".exe");
  }

  // `rule`: that of an unsigned build (this test's own) by default.
  base::Result<> Take(const std::wstring& components = std::wstring(),
                      SignatureRule rule = SignatureRule::kNotRequired) {
    return TakeElevatedPackage(package_, components, rule, &unpacker_, destination_, &taken_);
  }

  base::FilePath package_;
  base::FilePath destination_;
  base::FilePath reference_;
  FullPackageUnpacker unpacker_;
  ElevatedPackage taken_;
};

// The package is the one the signed file carries, whatever the user did to the unpacked
// folder; what the fetchers added there comes over as bounded data only.
TEST_F(ElevatedPackageTest, ThePackageComesFromTheFullPackageFileAndOnlyDataFromTheUser) {
  EXPECT_FALSE(Take().ok());  // no full-package file at all
  ASSERT_TRUE(base::CopyFile(testing::TestDataPath("signing/package_unsigned.exe"), Download(2)));
  ASSERT_TRUE(WriteText(package_.Append(L"velum.exe"), "planted"));
  ASSERT_TRUE(WriteText(package_.Append(L"files_list"), "velum.exe\r\nlauncher.exe\r\n"));
  ASSERT_TRUE(WriteText(package_.Append(L"launcher.exe"), "planted"));
  ASSERT_TRUE(WriteText(package_.Append(L"installer_prefs_include.json"),
                    "{\"welcome-url\": \"https://welcome.example/\", \"homepage\": \"evil\"}"));
  ASSERT_TRUE(WriteText(package_.Append(L"server_tracking_data"), "tracking"));
  // Over its bound: left behind, and no reason to refuse.
  ASSERT_TRUE(WriteText(package_.Append(L"pref_default_overrides"), std::string(1024 * 1024 + 1, ' ')));

  ASSERT_TRUE(Take().ok());
  EXPECT_EQ(destination_.Append(package_.BaseName()), taken_.folder);
  for (const wchar_t* name : {L"velum.exe", L"files_list"})
    EXPECT_EQ(Read(reference_.Append(name)), Read(taken_.folder.Append(name))) << name;
  EXPECT_EQ(Read(reference_.Append(L"resources").Append(L"strings.txt")),
            Read(taken_.folder.Append(L"resources").Append(L"strings.txt")));
  EXPECT_FALSE(base::PathExists(taken_.folder.Append(L"launcher.exe")));
  EXPECT_EQ("{\"welcome-url\":\"https://welcome.example/\"}",
            Read(taken_.folder.Append(L"installer_prefs_include.json")));
  EXPECT_EQ("tracking", Read(taken_.folder.Append(L"server_tracking_data")));
  EXPECT_FALSE(base::PathExists(taken_.folder.Append(L"pref_default_overrides")));
  // The copy and its archive go once unpacked.
  EXPECT_FALSE(base::PathExists(destination_.Append(L"full_package.exe")));
  EXPECT_FALSE(base::PathExists(destination_.Append(L"full_package.7z")));
}

// A component joins only when its archive, as copied, passes the signer rule, and only
// a folder beside the package is one.
TEST_F(ElevatedPackageTest, AComponentJoinsOnlyWhenItsArchivePassesTheSignerRule) {
  ASSERT_TRUE(base::CopyFile(testing::TestDataPath("signing/package_signed.exe"), Download(0)));
  const base::FilePath assistant = Path(L"assistant");
  ASSERT_TRUE(base::CreateDirectory(assistant));
  ASSERT_TRUE(base::CopyFile(testing::TestDataPath("signing/unsigned.exe"),
                             assistant.Append(L"suite_sfx.exe")));
  const std::wstring components = L"suite:assistant|up:..|other:missing";
  ASSERT_TRUE(Take(components).ok());
  EXPECT_EQ(L"suite:assistant", taken_.components);
  EXPECT_TRUE(base::PathExists(destination_.Append(L"assistant").Append(L"suite_installer.exe")));

  taken_.component_programs.clear();  // the verified installers are held until used
  ASSERT_TRUE(base::DeleteFile(destination_, true));
  ASSERT_TRUE(base::CreateDirectory(destination_));
  ASSERT_TRUE(Take(components, SignatureRule::kRequired).ok());
  EXPECT_EQ(L"", taken_.components);

  taken_.component_programs.clear();  // the verified installers are held until used
  ASSERT_TRUE(base::DeleteFile(destination_, true));
  ASSERT_TRUE(base::CreateDirectory(destination_));
  ASSERT_TRUE(base::CopyFile(testing::TestDataPath("signing/signed.exe"),
                             assistant.Append(L"suite_sfx.exe")));
  ASSERT_TRUE(Take(components, SignatureRule::kRequired).ok());
  EXPECT_EQ(L"suite:assistant", taken_.components);
}

// The version floor, asked of the held copy: a package older than this installer is
// refused with its reason, also one of the expected signer planted as the fetcher's
// latest try, and nothing of it is unpacked; the same file as recent is taken.
TEST_F(ElevatedPackageTest, APackageOlderThanThisInstallerIsRefused) {
  ASSERT_TRUE(base::CopyFile(testing::TestDataPath("signing/package_signed.exe"), Download(5)));
  ASSERT_TRUE(base::CopyFile(testing::TestDataPath("signing/package_signed.exe"), Download(0)));
  SetVersion("0.0.1");
  const base::Result<> older = Take(std::wstring(), SignatureRule::kRequired);
  ASSERT_FALSE(older.ok());
  EXPECT_NE(std::string::npos, older.failure().text.find("is not at least this installer's"))
      << older.failure().text;
  EXPECT_FALSE(base::PathExists(destination_.Append(package_.BaseName())));
  EXPECT_FALSE(base::PathExists(destination_.Append(L"full_package.exe")));
  SetVersion(std::string());  // no answer at all
  EXPECT_FALSE(Take(std::wstring(), SignatureRule::kRequired).ok());
  EXPECT_FALSE(base::PathExists(destination_.Append(package_.BaseName())));

  SetVersion(GetBuildAndPatchNumber());
  EXPECT_TRUE(Take(std::wstring(), SignatureRule::kRequired).ok());
}

// The unpacker reads the payload's kind again on the file it is given, the held copy: a
// copy that carries tracking data, or nothing, is no package, and no archive is written.
TEST_F(ElevatedPackageTest, TheUnpackerChecksThePayloadKindOfTheCopyItself) {
  std::string stub;
  ASSERT_TRUE(base::ReadFileToString(testing::TestDataPath("signing/unsigned.exe"), &stub));
  const std::string tracking = "tracking=1";
  const uint32_t length = static_cast<uint32_t>(tracking.size());
  const std::string tracked = stub + "VLM" + tracking +
                              std::string(reinterpret_cast<const char*>(&length), 4);
  const base::FilePath with_tracking = Path(L"tracking.exe");
  ASSERT_TRUE(WriteText(with_tracking, tracked));
  const base::FilePath archive = Path(L"out.7z");
  const base::FilePath folder = Path(L"out");
  ASSERT_TRUE(base::CreateDirectory(folder));
  for (const base::FilePath& file :
       {with_tracking, testing::TestDataPath("signing/unsigned.exe")}) {
    const base::Result<> unpacked = unpacker_.Unpack(file, archive, folder);
    ASSERT_FALSE(unpacked.ok()) << file.AsUTF8();
    EXPECT_EQ("it carries no full package", unpacked.failure().text) << file.AsUTF8();
    EXPECT_FALSE(base::PathExists(archive)) << file.AsUTF8();
  }
}

// The running installer is a full-package installer (a test helper carrying the test
// package, made at build time, signed and not) that a standard user replaces while it
// waits: renamed away, with another full-package installer at its name. Whatever now
// sits at that name is never taken: the signed build still requires signatures, and the
// package comes from the file its image is mapped from or from nowhere.
class ReplacedInstallerTest : public base::ScratchDirTest {
 protected:
  void SetUp() override {
    ScratchDirTest::SetUp();
    SetEnvironmentVariableA("VELUM_DRIVER_VERSION", GetBuildAndPatchNumber().c_str());
    SetEnvironmentVariableA("VELUM_STUB_INTERNAL_VERSION", GetBuildAndPatchNumber().c_str());
  }
  void TearDown() override {
    SetEnvironmentVariableA("VELUM_DRIVER_VERSION", nullptr);
    SetEnvironmentVariableA("VELUM_STUB_INTERNAL_VERSION", nullptr);
    ScratchDirTest::TearDown();
  }

  // Runs the test data's `driver` as the installer, puts `replacement` (none: nothing) at
  // its name once it waits, and gives its two result lines.
  // `downloads`: test data put beside the package folder as the fetcher's tries, latest
  // first.
  std::string Run(const char* driver, const char* replacement,
                  const std::vector<const char*>& downloads = {}) {
    root_ = Path(std::to_wstring(++runs_).c_str());
    EXPECT_TRUE(base::CreateDirectory(root_));
    const base::FilePath installer = In(L"VelumSetup.exe");
    EXPECT_TRUE(base::CopyFile(testing::TestDataPath(driver), installer));
    package_ = In(L"VelumSetup_20261208101010");
    destination_ = In(L"admin");
    EXPECT_TRUE(base::CreateDirectory(package_) && base::CreateDirectory(destination_));
    for (size_t i = 0; i < downloads.size(); ++i) {
      EXPECT_TRUE(base::CopyFile(
          testing::TestDataPath(downloads[i]),
          base::FilePath(package_.value() + L"_" + std::to_wstring(5 - i) + L".exe")));
    }
    const std::wstring prefix = L"Local\\VelumTakeTest-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                               std::to_wstring(runs_);
    const base::ScopedHandle ready(CreateEventW(nullptr, TRUE, FALSE, (prefix + L"-ready").c_str()));
    const base::ScopedHandle go(CreateEventW(nullptr, TRUE, FALSE, (prefix + L"-go").c_str()));
    base::Process process =
        testing::StartTakeDriver(installer, prefix, package_, destination_, In(L"result.txt"));
    EXPECT_TRUE(process.IsValid());
    // The driver's end too: one that failed never sets the event.
    const HANDLE waits[] = {ready.Get(), process.Handle()};
    EXPECT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(2, waits, FALSE, INFINITE));
    if (replacement) {
      EXPECT_TRUE(MoveFileW(installer.value().c_str(), In(L"renamed.exe").value().c_str()));
      EXPECT_TRUE(base::CopyFile(testing::TestDataPath(replacement), installer));
    }
    EXPECT_TRUE(SetEvent(go.Get()));
    int32_t exit_code = -1;
    EXPECT_TRUE(process.WaitForExit(&exit_code));
    EXPECT_EQ(0, exit_code);
    return Read(In(L"result.txt"));
  }

  // What the taken package's browser says; "<missing>" when nothing was taken.
  std::string TakenBrowser() {
    return Read(destination_.Append(package_.BaseName()).Append(L"velum.exe"));
  }

  base::FilePath In(const wchar_t* name) const { return root_.Append(name); }

  int runs_ = 0;
  base::FilePath root_;
  base::FilePath package_;
  base::FilePath destination_;
};

// What takes this build's rule when given none takes it from the running image: a signed
// build's hand-over, folder helper and program checks all require signatures, an unsigned
// build's none.
TEST_F(ReplacedInstallerTest, EveryPlaceWithoutARuleOfItsOwnTakesTheBuilds) {
  for (const bool is_signed : {true, false}) {
    SCOPED_TRACE(is_signed);
    root_ = Path(std::to_wstring(++runs_).c_str());
    ASSERT_TRUE(base::CreateDirectory(root_));
    const base::FilePath installer = In(L"VelumSetup.exe");
    ASSERT_TRUE(base::CopyFile(
        testing::TestDataPath(is_signed ? "signing/driver_signed.exe" : "signing/driver_unsigned.exe"),
        installer));
    base::CommandLine command_line(installer);
    command_line.AppendSwitchPath("defaults", In(L"defaults.txt"));
    command_line.AppendSwitchPath("unsigned", testing::TestDataPath("signing/unsigned.exe"));
    base::Process process = base::LaunchProcess(command_line, base::LaunchOptions());
    ASSERT_TRUE(process.IsValid());
    int32_t exit_code = -1;
    ASSERT_TRUE(process.WaitForExit(&exit_code));
    EXPECT_EQ(0, exit_code);
    EXPECT_EQ(is_signed ? "hand-over required\nfolder helper required\nhold refused\n"
                          "hold at final path refused\n"
                        : "hand-over not required\nfolder helper not required\nhold held\n"
                          "hold at final path held\n",
              Read(In(L"defaults.txt")));
  }
}

TEST_F(ReplacedInstallerTest, TheSignedInstallerTakesItsOwnPackage) {
  EXPECT_EQ("required\ntaken\n", Run("signing/driver_signed.exe", nullptr));
  EXPECT_EQ("velum browser\n", TakenBrowser());
}

// Replaced by an unsigned installer, by one of the expected signer, older or not, and an
// unsigned build by an unsigned one: the signed build still requires signatures, and
// nothing of the replacement is taken.
// Windows finds the renamed file through its mapping and takes the genuine package; Wine
// names the mapping by its first name only, so there the run fails.
TEST_F(ReplacedInstallerTest, NothingOfAReplacementIsTaken) {
  struct Case {
    const char* driver;
    const char* replacement;
    const char* rule;
    bool older;  // the replacement answers an older version than this installer's
  };
  const Case cases[] = {
      {"signing/driver_signed.exe", "signing/planted_unsigned.exe", "required", false},
      {"signing/driver_signed.exe", "signing/planted_signed.exe", "required", true},
      {"signing/driver_signed.exe", "signing/planted_signed.exe", "required", false},
      {"signing/driver_unsigned.exe", "signing/planted_unsigned.exe", "not required", false},
      {"signing/driver_unsigned.exe", "signing/planted_unsigned.exe", "not required", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.driver) + " replaced by " + c.replacement +
                 (c.older ? ", older" : ""));
    SetEnvironmentVariableA("VELUM_STUB_INTERNAL_VERSION",
                            c.older ? "0.0.1" : GetBuildAndPatchNumber().c_str());
    const std::string result = Run(c.driver, c.replacement);
    EXPECT_EQ(0u, result.find(std::string(c.rule) + "\n")) << result;
    if (result.find("\ntaken\n") != std::string::npos) {
      EXPECT_EQ("velum browser\n", TakenBrowser());
    } else {
      EXPECT_NE(std::string::npos, result.find("no signed full-package installer carries it"))
          << result;
      EXPECT_EQ("<missing>", TakenBrowser());
    }
  }
}

// A signed build that carries no package takes the fetcher's latest download, on its
// held copy: one of the expected signer planted there that is older than this installer
// is refused with its reason, though the real download lies beside it.
TEST_F(ReplacedInstallerTest, ASignedBuildRefusesAnOlderDownloadOfItsSigner) {
  SetEnvironmentVariableA("VELUM_STUB_INTERNAL_VERSION", "0.0.1");
  std::string result = Run("signing/driver_online_signed.exe", nullptr,
                           {"signing/planted_signed.exe", "signing/driver_signed.exe"});
  EXPECT_EQ(0u, result.find("required\n")) << result;
  EXPECT_NE(std::string::npos,
            result.find("its version (0.0.1) is not at least this installer's " +
                        GetBuildAndPatchNumber()))
      << result;
  EXPECT_EQ("<missing>", TakenBrowser());

  SetEnvironmentVariableA("VELUM_STUB_INTERNAL_VERSION", GetBuildAndPatchNumber().c_str());
  result = Run("signing/driver_online_signed.exe", nullptr, {"signing/planted_unsigned.exe"});
  EXPECT_NE(std::string::npos, result.find("its signature does not pass the signer rule"))
      << result;
  EXPECT_EQ("<missing>", TakenBrowser());

  result = Run("signing/driver_online_signed.exe", nullptr, {"signing/planted_signed.exe"});
  EXPECT_EQ("required\ntaken\n", result);
  EXPECT_EQ("planted browser\n", TakenBrowser());  // a current release of the signer
}

}  // namespace
}  // namespace installer

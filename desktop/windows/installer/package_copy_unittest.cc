#include "desktop/windows/installer/package_copy.h"

#include <windows.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "base/files/file_util.h"
#include "base/files/scratch_dir_test_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/test/log_capture_test_util.h"
#include "desktop/common/autoupdate/updatechecker/product_config.h"
#include "desktop/windows/installer/package_fetcher/full_package_unpacker.h"
#include "desktop/windows/installer/package_fetcher/test_data_test_util.h"
#include "desktop/windows/installer/steps/installation_test_util.h"

namespace installer {
namespace {

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
      if (file.first) {
        ASSERT_TRUE(base::CopyFile(testing::TestDataPath(file.first), target));
      } else {
        ASSERT_EQ(4, base::WriteFile(target, "data", 4));
      }
    }
  }

  base::Result<> Take(const std::wstring& components) {
    taken_ = ElevatedPackage();
    EXPECT_TRUE(base::DeleteFile(destination_, true) && base::CreateDirectory(destination_));
    return TakeElevatedPackage(package_, components, SignatureRule::kRequired, &unpacker_,
                               destination_, &taken_);
  }

  base::FilePath package_;
  base::FilePath destination_;
  FullPackageUnpacker unpacker_;
  ElevatedPackage taken_;
};

// A download that fails the signer rule is refused before anything of it runs: not even
// to be asked its version.
TEST_F(TakeElevatedPackageTest, ADownloadFailingTheSignerRuleIsNeverStarted) {
  ASSERT_TRUE(base::CopyFile(testing::TestDataPath("signing/package_unsigned.exe"),
                             base::FilePath(package_.value() + L"_0.exe")));
  const base::FilePath record = Path(L"started.txt");
  SetEnvironmentVariableW(L"VELUM_STUB_RECORD", record.value().c_str());
  const base::Result<> result = Take(L"");
  SetEnvironmentVariableW(L"VELUM_STUB_RECORD", nullptr);
  ASSERT_FALSE(result.ok());
  EXPECT_EQ("its signature does not pass the signer rule", result.failure().text);
  EXPECT_FALSE(base::PathExists(record));
}

// A component's folder is made from its signed archive alone, run in the administrators'
// folder: nothing else the user's folder holds (a manifest, a script, .NET settings beside
// a signed installer) reaches it. A component whose archive is missing or fails, or whose
// installer fails the signer rule or the version floor, is left out with its reason; one
// that fails the signer rule is never started to tell its version.
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
  } cases[] = {
      {"user files beside a signed installer", user_written, nullptr, L"", ""},
      {"only the archive", {{"signing/signed.exe", L"suite_sfx.exe"}}, nullptr, L"", ""},
      {"no archive", {{"signing/signed.exe", L"suite_installer.exe"}}, nullptr, L"",
       "it cannot be held"},
      {"an unsigned archive", {{"signing/unsigned.exe", L"suite_sfx.exe"}}, nullptr, L"",
       "its archive does not pass the signer rule"},
      {"an archive that fails", {{"signing/signed.exe", L"suite_sfx.exe"}},
       L"VELUM_STUB_SFX_EXIT_CODE", L"3", "its archive failed with 3"},
      {"an unsigned installer unpacked", {{"signing/signed.exe", L"suite_sfx.exe"}},
       L"VELUM_STUB_SFX_INSTALLER", unsigned_installer,
       "the installer its archive unpacked does not pass the signer rule"},
      {"an installer older than this installer", {{"signing/signed.exe", L"suite_sfx.exe"}},
       L"VELUM_STUB_COMPONENT_VERSION", L"1.0", "its version (1.0) is not at least"},
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
    if (!c.left_out.empty()) {
      EXPECT_EQ(L"", taken_.components);
      EXPECT_FALSE(base::PathExists(made));
      ASSERT_EQ(1u, reasons.size());
      EXPECT_NE(std::string::npos, reasons[0].find(c.left_out)) << reasons[0];
      std::string started;
      if (c.left_out.find("signer rule") != std::string::npos &&
          base::ReadFileToString(record, &started)) {
        EXPECT_EQ(std::string::npos, started.find("suite_installer.exe")) << started;
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

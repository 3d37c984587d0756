#include "desktop/windows/installer/package_copy.h"

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "base/files/file_util.h"
#include "base/files/scratch_dir_test_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/test/log_capture_test_util.h"
#include "base/win/scoped_handle.h"
#include "desktop/common/autoupdate/updatechecker/product_config.h"
#include "desktop/windows/installer/package_fetcher/full_package_unpacker.h"
#include "desktop/windows/installer/package_fetcher/test_data_test_util.h"

namespace installer {
namespace {

// Writes one byte less than asked, and says so.
BOOL ShortWrite(HANDLE file, const void* data, DWORD size, DWORD* written, OVERLAPPED*) {
  return ::WriteFile(file, data, size > 0 ? size - 1 : 0, written, nullptr);
}

class CopyFolderTest : public base::ScratchDirTest {
 protected:
  void SetUp() override {
    ScratchDirTest::SetUp();
    destination_ = Path(L"admin");
    ASSERT_TRUE(base::CreateDirectory(destination_));
  }

  // A fresh destination for the next copy.
  void Renew() {
    ASSERT_TRUE(base::DeleteFile(destination_, true));
    ASSERT_TRUE(base::CreateDirectory(destination_));
  }

  base::FilePath destination_;
  base::FilePath copy_;
};

TEST_F(CopyFolderTest, CopiesTheTreeAndFailsOnAnyEntryItCannotCopy) {
  MakeTree({L"assistant\\", L"assistant\\suite_installer.exe", L"assistant\\data\\",
            L"assistant\\data\\deep\\", L"assistant\\data\\deep\\a.pak"});
  const base::FilePath source = Path(L"assistant");
  ASSERT_TRUE(CopyFolderInto(source, destination_, &copy_).ok());
  EXPECT_EQ(destination_.Append(L"assistant"), copy_);
  std::string text;
  ASSERT_TRUE(base::ReadFileToString(copy_.Append(L"data").Append(L"deep").Append(L"a.pak"), &text));
  EXPECT_EQ("a.pak", text);

  // A short write.
  Renew();
  EXPECT_FALSE(internal::CopyFolderIntoWith(source, destination_, &copy_, &ShortWrite).ok());

  // A file deep inside that someone holds open for writing.
  Renew();
  {
    const base::FilePath deep = source.Append(L"data").Append(L"deep").Append(L"a.pak");
    base::ScopedHandle writer(CreateFileW(deep.value().c_str(), GENERIC_WRITE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(writer.IsValid());
    const base::Result<> result = CopyFolderInto(source, destination_, &copy_);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(deep.BaseName(), result.failure().path.BaseName());
  }

  // The folder itself a link to another folder, and a link inside it.
  Renew();
  std::string error;
  const base::FilePath link = Path(L"linked");
  ASSERT_TRUE(base::MakeDirectoryLink(link, source, &error)) << error;
  EXPECT_FALSE(CopyFolderInto(link, destination_, &copy_).ok());
  EXPECT_TRUE(base::RemoveDirectoryLink(link));
  Renew();
  const base::FilePath inner = source.Append(L"data").Append(L"outside");
  ASSERT_TRUE(base::CreateDirectory(Path(L"elsewhere")));
  ASSERT_TRUE(base::MakeDirectoryLink(inner, Path(L"elsewhere"), &error)) << error;
  EXPECT_FALSE(CopyFolderInto(source, destination_, &copy_).ok());
  EXPECT_TRUE(base::RemoveDirectoryLink(inner));
}

// A package's tree is at most 16 folders deep below its own.
TEST_F(CopyFolderTest, TheDepthBoundIsExact) {
  base::FilePath deepest = Path(L"tree");
  ASSERT_TRUE(base::CreateDirectory(deepest));
  for (int depth = 1; depth <= 16; ++depth) {
    deepest = deepest.Append(L"d");
    ASSERT_TRUE(base::CreateDirectory(deepest));
  }
  ASSERT_TRUE(base::WriteFile(deepest.Append(L"f"), "f", 1) == 1);
  EXPECT_TRUE(CopyFolderInto(Path(L"tree"), destination_, &copy_).ok());
  Renew();
  ASSERT_TRUE(base::CreateDirectory(deepest.Append(L"d")));
  EXPECT_FALSE(CopyFolderInto(Path(L"tree"), destination_, &copy_).ok());
}

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
    return TakeElevatedPackage(package_, components, SignatureRule::kRequired, &unpacker_,
                               destination_, &taken_);
  }

  std::string Carried(const wchar_t* name) {
    std::string text;
    EXPECT_TRUE(base::ReadFileToString(taken_.folder.Append(name), &text));
    return text;
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

// A component's installer runs beside its folder's libraries: a folder with an unsigned
// DLL beside a signed installer is left out with its reason, a clean one is copied, its
// program files held; names that are not plain are never used.
TEST_F(TakeElevatedPackageTest, AComponentWhoseFolderHoldsAnUnverifiedProgramIsLeftOut) {
  MakeComponent(L"suite_clean", {{"signing/signed.exe", L"suite_installer.exe"},
                                 {"signing/signed.exe", L"helper.dll"},
                                 {nullptr, L"data.pak"}});
  MakeComponent(L"assistant_dirty", {{"signing/signed.exe", L"assistant_installer.exe"},
                                     {"signing/unsigned.exe", L"helper.dll"},
                                     {nullptr, L"data.pak"}});
  MakeComponent(L"other_dirty", {{"signing/signed.exe", L"other_installer.exe"},
                                 {"signing/unsigned.exe", L"strings.dat"}});
  MakeComponent(L"script", {{nullptr, L"script_installer.exe"}});
  // Clean folders under names that are not plain.
  MakeComponent(L"x_folder", {{"signing/signed.exe", L"x_installer.exe"}});
  MakeComponent(L"nul_folder", {{"signing/signed.exe", L"nul_installer.exe"}});
  base::ScopedLogCapture log;
  const base::Result<> result =
      Take(L"suite:suite_clean|assistant:assistant_dirty|other:other_dirty|script:script|"
           L"..\\..\\x:x_folder|nul:nul_folder|tool:..");
  ASSERT_TRUE(result.ok()) << base::DescribeFailure(result.failure());
  EXPECT_EQ(L"suite:suite_clean", taken_.components);
  EXPECT_TRUE(base::PathExists(destination_.Append(L"suite_clean").Append(L"helper.dll")));
  EXPECT_TRUE(base::PathExists(destination_.Append(L"suite_clean").Append(L"data.pak")));
  for (const wchar_t* left_out : {L"assistant_dirty", L"other_dirty", L"script"})
    EXPECT_FALSE(base::PathExists(destination_.Append(left_out))) << base::WideToUTF8(left_out);
  EXPECT_EQ(2u, taken_.component_programs.size());
  const std::vector<std::string> reasons = log.LinesStartingWith("Leaving out the component");
  ASSERT_EQ(6u, reasons.size());
  EXPECT_NE(std::string::npos,
            reasons[0].find("a program file that does not pass the signer rule"));
  EXPECT_NE(std::string::npos, reasons[0].find("helper.dll"));
  EXPECT_NE(std::string::npos, reasons[1].find("strings.dat"));
  EXPECT_NE(std::string::npos, reasons[2].find("its installer is not a program file"));
  for (size_t i = 3; i < reasons.size(); ++i)
    EXPECT_NE(std::string::npos, reasons[i].find("not a plain name")) << reasons[i];
}

// The user's welcome address and preference overrides become every account's defaults:
// only a web page's address and values that name no local file are carried.
TEST_F(TakeElevatedPackageTest, CarriedDataNamesNoLocalFiles) {
  const std::string overrides =
      "{\"download\": {\"default_directory\": \"C:\\\\Windows\\\\System32\", \"prompt\": true},"
      " \"homepage\": \"file:///C:/Windows/System32/calc.exe\", \"language\": \"de\"}";
  ASSERT_EQ(static_cast<int>(overrides.size()),
            base::WriteFile(package_.Append(L"pref_default_overrides"), overrides.data(),
                            static_cast<int>(overrides.size())));
  const std::string include = "{\"welcome-url\": \"file:///C:/Windows/System32/calc.exe\"}";
  ASSERT_EQ(static_cast<int>(include.size()),
            base::WriteFile(package_.Append(L"installer_prefs_include.json"), include.data(),
                            static_cast<int>(include.size())));
  base::ScopedLogCapture log;
  ASSERT_TRUE(Take(L"").ok());
  EXPECT_EQ("{\"download\":{\"prompt\":true},\"language\":\"de\"}",
            Carried(L"pref_default_overrides"));
  EXPECT_FALSE(base::PathExists(taken_.folder.Append(L"installer_prefs_include.json")));
  EXPECT_TRUE(log.Has("Not carrying the welcome address over: not an http or https address"));
  EXPECT_TRUE(log.Has("Not carrying the preference override download.default_directory: it "
                      "names a local file"));
  EXPECT_TRUE(log.Has("Not carrying the preference override homepage: it names a local file"));

  // A web page's address is carried; overrides that are not JSON are not.
  ASSERT_TRUE(base::DeleteFile(destination_, true));
  ASSERT_TRUE(base::CreateDirectory(destination_));
  const std::string web = "{\"welcome-url\": \"https://www.example.com/welcome?from=1\"}";
  ASSERT_EQ(static_cast<int>(web.size()),
            base::WriteFile(package_.Append(L"installer_prefs_include.json"), web.data(),
                            static_cast<int>(web.size())));
  ASSERT_EQ(8, base::WriteFile(package_.Append(L"pref_default_overrides"), "C:\\x.txt", 8));
  // A link among them carries nothing of what it leads to.
  const base::FilePath secret = Write(L"secret", "{\"language\": \"secret\"}");
  std::string error;
  ASSERT_TRUE(base::MakeDirectoryLink(package_.Append(L"server_tracking_data"), secret, &error))
      << error;
  ASSERT_TRUE(Take(L"").ok());
  EXPECT_NE(std::string::npos,
            Carried(L"installer_prefs_include.json")
                .find("\"welcome-url\":\"https://www.example.com/welcome?from=1\""));
  EXPECT_FALSE(base::PathExists(taken_.folder.Append(L"pref_default_overrides")));
  EXPECT_FALSE(base::PathExists(taken_.folder.Append(L"server_tracking_data")));
  EXPECT_TRUE(base::RemoveDirectoryLink(package_.Append(L"server_tracking_data")));
}

}  // namespace
}  // namespace installer

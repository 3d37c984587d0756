#include "desktop/windows/installer/service/installation_info_impl.h"

#include <windows.h>

#include <objbase.h>

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "base/base_paths.h"
#include "base/base_paths_win.h"
#include "base/files/file_util.h"
#include "base/files/scratch_dir_test_util.h"
#include "base/path_service.h"
#include "desktop/windows/installer/security/access_control.h"
#include "desktop/windows/installer/service/install_log.h"
#include "desktop/windows/installer/service/install_log_writer.h"

namespace installer {
namespace {

class InstallationInfoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    ASSERT_FALSE(scratch_.path().empty());
    folder_ = scratch_.path().Append(L"Velum Browser");
    ASSERT_TRUE(base::CreateDirectory(folder_));
    ASSERT_TRUE(base::PathRegistry::Get(base::DIR_APP_DATA, &app_data_));
    ASSERT_TRUE(GetCurrentUserName(&user_name_));
  }
  void TearDown() override { CoUninitialize(); }

  void WritePrefs(const std::string& json) {
    ASSERT_TRUE(base::WriteTextFile(folder_.Append(L"installer_prefs.json"), json));
  }

  base::ScratchDir scratch_;
  base::FilePath folder_;
  base::FilePath app_data_;
  std::wstring user_name_;
};

TEST_F(InstallationInfoTest, InstallFolderOfTheRunningInstaller) {
  base::FilePath exe_dir;
  ASSERT_TRUE(base::PathRegistry::Get(base::DIR_EXE, &exe_dir));
  const base::FilePath sub = folder_.Append(L"Installer");
  ASSERT_TRUE(base::CreateDirectory(sub));
  struct Case {
    bool launcher_in_parent;
    bool launcher_in_folder;
    base::FilePath expected;
  } cases[] = {
      {true, false, folder_},
      {true, true, sub},
      {false, false, sub},
  };
  for (const Case& c : cases) {
    EXPECT_TRUE(base::DeleteFile(folder_.Append(L"launcher.exe"), false));
    EXPECT_TRUE(base::DeleteFile(sub.Append(L"launcher.exe"), false));
    if (c.launcher_in_parent) {
      ASSERT_TRUE(base::WriteTextFile(folder_.Append(L"launcher.exe"), "MZ"));
    }
    if (c.launcher_in_folder) {
      ASSERT_TRUE(base::WriteTextFile(sub.Append(L"launcher.exe"), "MZ"));
    }
    ASSERT_TRUE(base::PathRegistry::Override(base::DIR_EXE, sub, true, false));
    InstallationInfoImpl info;
    EXPECT_EQ(c.expected.value(), info.GetInstallFolder().value());
  }
  EXPECT_TRUE(base::PathRegistry::Override(base::DIR_EXE, exe_dir, true, false));
}

TEST_F(InstallationInfoTest, PreferencesByType) {
  WritePrefs(R"({"flag": true, "text": "Gr\u00fc\u00dfe", "number": "-42", "bad": "12x",
                 "int": 7, "single_profile": "true"})");
  FolderInstallationInfo info(folder_);
  bool flag = false;
  EXPECT_TRUE(info.GetPrefBool("flag", &flag));
  EXPECT_TRUE(flag);
  EXPECT_FALSE(info.GetPrefBool("text", &flag));
  std::wstring wide;
  EXPECT_TRUE(info.GetPrefWideString("text", &wide));
  EXPECT_EQ(L"Gr\u00fc\u00dfe", wide);
  int64_t number = 0;
  EXPECT_TRUE(info.GetPrefInt64("number", &number));
  EXPECT_EQ(-42, number);
  number = 5;
  EXPECT_FALSE(info.GetPrefInt64("bad", &number));
  EXPECT_FALSE(info.GetPrefInt64("int", &number));  // not a string
  EXPECT_FALSE(info.GetPrefInt64("missing", &number));
  EXPECT_EQ(5, number);
  // A string "true" is not a boolean.
  EXPECT_FALSE(info.IsSingleProfile());
}

TEST_F(InstallationInfoTest, MissingFilesGiveEmptyAnswers) {
  FolderInstallationInfo info(folder_);
  EXPECT_FALSE(info.GetPrefString("profile_path", nullptr));
  EXPECT_FALSE(info.IsCopyOnly());
  EXPECT_EQ(L"VelumSoftware.VelumWebBrowser.", info.GetAppUserModelId());
  EXPECT_EQ(L"Autoupdate ", info.GetAutoupdateTaskName());
  EXPECT_EQ(static_cast<uint32_t>(SOURCE_NEW), info.GetInstallLog()->source);
  // The store reads but never writes.
  EXPECT_FALSE(base::PathExists(folder_.Append(L"installer_prefs.json")));
}

TEST_F(InstallationInfoTest, RecordFromTheFolderOrGiven) {
  InstallLog record(SOURCE_INSTALLER);
  record.app_id = "1700000000";
  record.copy_only = true;
  record.install_path = folder_.value();
  record.version = "1.0.100.0";
  ASSERT_TRUE(InstallLogWriter().WriteFile(record, folder_.Append(L"installation_status.xml")));

  FolderInstallationInfo from_file(folder_);
  EXPECT_EQ(static_cast<uint32_t>(SOURCE_NEW), from_file.GetInstallLog()->source);
  EXPECT_TRUE(from_file.IsCopyOnly());
  EXPECT_EQ(L"VelumSoftware.VelumWebBrowser.1700000000", from_file.GetAppUserModelId());
  EXPECT_EQ(L"Autoupdate 1700000000", from_file.GetAutoupdateTaskName());

  std::unique_ptr<InstallLog> given(new InstallLog(SOURCE_INSTALLER));
  given->app_id = "7";
  FolderInstallationInfo supplied(folder_, std::move(given));
  EXPECT_FALSE(supplied.IsCopyOnly());
  EXPECT_EQ(L"Autoupdate 7", supplied.GetAutoupdateTaskName());
  FolderInstallationInfo supplied_null(folder_, nullptr);
  EXPECT_EQ(L"Autoupdate ", supplied_null.GetAutoupdateTaskName());
}

TEST_F(InstallationInfoTest, DefaultUserDataFolderPerStream) {
  FolderInstallationInfo info(folder_);
  const struct {
    int32_t stream;
    const wchar_t* folder;
  } cases[] = {
      {1, L"Velum Software\\Velum Nightly"},
      {3, L"Velum Software\\Velum Next"},
      {0, L"Velum Software\\Velum Stable"},
  };
  for (const auto& c : cases) {
    base::FilePath out;
    ASSERT_TRUE(info.GetUserDataFolderForStream(&out, c.stream));
    EXPECT_EQ(app_data_.Append(c.folder).value(), out.value());
  }
  base::FilePath out;
  ASSERT_TRUE(info.GetUserDataFolder(&out));
  EXPECT_EQ(app_data_.Append(L"Velum Software\\Velum Stable").value(), out.value());
  ASSERT_TRUE(info.GetUserDataFolderForAllUsers(&out));
  EXPECT_EQ(app_data_.Append(L"Velum Software\\Velum Stable").value(), out.value());
  ASSERT_TRUE(info.GetProfileFolder(&out));
  EXPECT_EQ(app_data_.Append(L"Velum\\Velum Browser").value(), out.value());
}

TEST_F(InstallationInfoTest, ProfilePathWithUserName) {
  const struct {
    const char* json_template;
    std::wstring user_folder;
    std::wstring all_users_folder;
  } cases[] = {
      {R"(D:\\Data\\<USERNAME>)", L"D:\\Data\\" + user_name_, L"D:\\Data"},
      {R"(D:\\Data\\<USERNAME>\\)", L"D:\\Data\\" + user_name_ + L"\\", L"D:\\Data"},
      {R"(D:\\Data\\<USERNAME>\\Velum)", L"D:\\Data\\" + user_name_ + L"\\Velum",
       L"D:\\Data\\" + user_name_ + L"\\Velum"},
      {R"(D:\\Shared)", L"D:\\Shared", L"D:\\Shared"},
  };
  for (const auto& c : cases) {
    WritePrefs(std::string(R"({"profile_path": ")") + c.json_template + "\"}");
    FolderInstallationInfo info(folder_);
    base::FilePath out;
    ASSERT_TRUE(info.GetUserDataFolder(&out)) << c.json_template;
    EXPECT_EQ(c.user_folder, out.value());
    // The stream plays no part once a profile path is set.
    ASSERT_TRUE(info.GetUserDataFolderForStream(&out, 2));
    EXPECT_EQ(c.user_folder, out.value());
    ASSERT_TRUE(info.GetUserDataFolderForAllUsers(&out));
    EXPECT_EQ(base::FilePath(c.all_users_folder).value(), out.value()) << c.json_template;
  }
}

TEST_F(InstallationInfoTest, SingleProfileFolders) {
  WritePrefs(R"({"single_profile": true, "profile_path": "D:\\Data\\<USERNAME>"})");
  FolderInstallationInfo info(folder_);
  EXPECT_TRUE(info.IsSingleProfile());
  base::FilePath out;
  ASSERT_TRUE(info.GetProfileFolder(&out));
  EXPECT_EQ(folder_.Append(L"profile").value(), out.value());
  ASSERT_TRUE(info.GetUserDataFolder(&out));
  EXPECT_EQ(folder_.Append(L"profile\\data").value(), out.value());
  ASSERT_TRUE(info.GetUserDataFolderForAllUsers(&out));
  EXPECT_EQ(folder_.Append(L"profile\\data").value(), out.value());

  FolderInstallationInfo no_folder((base::FilePath()));
  EXPECT_FALSE(no_folder.GetUserDataFolder(&out));
  EXPECT_FALSE(no_folder.GetProfileFolder(&out));
}

TEST_F(InstallationInfoTest, RebaseAppDataPath) {
  base::FilePath local;
  ASSERT_TRUE(base::PathRegistry::Get(base::DIR_LOCAL_APP_DATA, &local));
  FolderInstallationInfo info(folder_);
  base::FilePath out;
  info.RebaseAppDataPath(app_data_.Append(L"Velum\\x"), &out);
  EXPECT_EQ(local.Append(L"Velum\\x").value(), out.value());
  info.RebaseAppDataPath(base::FilePath(L"D:\\elsewhere"), &out);
  EXPECT_EQ(L"D:\\elsewhere", out.value());

  WritePrefs(R"({"profile_path": "D:\\Data"})");
  FolderInstallationInfo with_profile(folder_);
  with_profile.RebaseAppDataPath(app_data_.Append(L"Velum\\x"), &out);
  EXPECT_EQ(app_data_.Append(L"Velum\\x").value(), out.value());
}

}  // namespace
}  // namespace installer

#include "desktop/windows/installer/steps/installation_status_steps.h"

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/files/scratch_dir_test_util.h"
#include "base/test/log_capture_test_util.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/steps/installation_test_util.h"
#include "desktop/windows/installer/steps/installer_system_test_util.h"
#include "desktop/windows/installer/service/install_log_reader.h"
#include "desktop/windows/installer/service/install_log_writer.h"
#include "desktop/windows/installer/service/transactions/file_operation_test_util.h"
#include "desktop/windows/installer/service/transactions/system_snapshot_test_util.h"
#include "desktop/windows/installer/service/xml_file_test_util.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using testing::MakeFile;
using testing::ReadText;

class InstallationStatusStepsTest : public XmlFileTest {
 protected:
  void SetUp() override {
    XmlFileTest::SetUp();
    folder_ = scratch_.path().Append(L"Velum");
    context_.install_folder = folder_;
  }

  void UseSettings(bool uninstall) {
    settings_ = std::make_unique<testing::TestSettings>(
        folder_, std::vector<std::wstring>(), uninstall);
    context_.settings = settings_->get();
  }

  // An old version `subfolder` with `files`, recorded in old_status under `seconds`.
  void MakeOldVersion(const std::wstring& subfolder, const std::vector<std::wstring>& files,
                      int64_t seconds) {
    InstallLog record(SOURCE_INSTALLER);
    record.subfolder = subfolder;
    record.version = "0.9";
    for (const std::wstring& file : files) {
      ASSERT_TRUE(MakeFile(folder_.Append(subfolder).Append(file), "old"));
      record.files.push_back(file);
    }
    ASSERT_TRUE(base::CreateDirectory(folder_.Append(L"old_status")));
    InstallLogWriter writer;
    ASSERT_TRUE(writer.WriteFile(record, GetNewOldStatusPath(folder_, seconds)));
  }

  std::vector<std::wstring> OldStatusNames() {
    std::vector<std::wstring> names;
    base::FileEnumerator list(folder_.Append(L"old_status"), false,
                              base::FileEnumerator::FILES, std::wstring());
    for (base::FilePath path = list.Next(); !path.empty(); path = list.Next())
      names.push_back(path.BaseName().value());
    return names;
  }

  base::FilePath folder_;
  testing::FakeInstallationContext context_;
  std::unique_ptr<testing::TestSettings> settings_;
};

TEST_F(InstallationStatusStepsTest, SavedCopiesOfTheSameSecondGetTheirOwnNames) {
  ASSERT_TRUE(MakeFile(folder_.Append(L"old_status\\installation_status.xml.100"), "a"));
  ASSERT_TRUE(MakeFile(folder_.Append(L"old_status\\installation_status.xml.101"), "b"));
  EXPECT_EQ(folder_.Append(L"old_status\\installation_status.xml.102"),
            GetNewOldStatusPath(folder_, 100));
  EXPECT_EQ(folder_.Append(L"old_status\\installation_status.xml.99"),
            GetNewOldStatusPath(folder_, 99));
}

TEST_F(InstallationStatusStepsTest, PreservingMovesTheRecordOrTheLegacyRecordAside) {
  struct Case {
    const wchar_t* file;
    bool moved;
  };
  const Case cases[] = {
      {L"installation_status.xml", true},
      {L"velum_install_log.xml", true},
      {nullptr, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file ? c.file : L"none");
    EXPECT_TRUE(base::DeleteFile(folder_, true));
    ASSERT_TRUE(base::CreateDirectory(folder_));
    if (c.file) {
      ASSERT_TRUE(MakeFile(folder_.Append(c.file), "record"));
    }
    EXPECT_EQ(StepResult::STATUS_OK, PreserveInstallerStatusStep(&context_).Run(0).status);
    std::vector<std::wstring> names = OldStatusNames();
    ASSERT_EQ(c.moved ? 1u : 0u, names.size());
    if (!c.moved) continue;
    EXPECT_EQ(0u, names[0].find(L"installation_status.xml."));
    EXPECT_EQ("record", ReadText(folder_.Append(L"old_status").Append(names[0])));
    EXPECT_FALSE(base::PathExists(folder_.Append(c.file)));
    // Undone with the installation.
    context_.transaction.Rollback();
    EXPECT_EQ("record", ReadText(folder_.Append(c.file)));
    EXPECT_FALSE(base::PathExists(folder_.Append(L"old_status")));
  }
}

// Without a place for the old record the installation goes on, and the log says why.
TEST_F(InstallationStatusStepsTest, AnOldStatusFolderThatCannotBeMadeIsLogged) {
  ASSERT_TRUE(MakeFile(folder_.Append(L"installation_status.xml"), "record"));
  ASSERT_TRUE(MakeFile(folder_.Append(L"old_status"), "a file in the folder's place"));
  base::ScopedLogCapture log;
  EXPECT_EQ(StepResult::STATUS_OK, PreserveInstallerStatusStep(&context_).Run(0).status);
  EXPECT_TRUE(log.Has("Could not create " + folder_.Append(L"old_status").AsUTF8() +
                      "; the previous status is not kept"));
  EXPECT_EQ("record", ReadText(folder_.Append(L"installation_status.xml")));
}

// "old_status" a link to another program's folder: the record is not moved there, and
// stays; the log says why, and the installation goes on.
TEST_F(InstallationStatusStepsTest, ALinkedOldStatusFolderGetsNoRecord) {
  const base::FilePath outside = scratch_.path().Append(L"outside");
  ASSERT_TRUE(MakeFile(outside.Append(L"data.txt"), "another program's"));
  ASSERT_TRUE(MakeFile(folder_.Append(L"installation_status.xml"), "record"));
  std::string error;
  ASSERT_TRUE(base::MakeDirectoryLink(folder_.Append(L"old_status"), outside, &error)) << error;
  const std::string before = testing::SnapshotFileTree(outside);
  base::ScopedLogCapture log;
  EXPECT_EQ(StepResult::STATUS_OK, PreserveInstallerStatusStep(&context_).Run(0).status);
  context_.transaction.Commit();
  EXPECT_EQ(before, testing::SnapshotFileTree(outside));
  EXPECT_EQ("record", ReadText(folder_.Append(L"installation_status.xml")));
  EXPECT_FALSE(log.LinesStartingWith("Not writing " + folder_.Append(L"old_status").AsUTF8() +
                                     ", reached through a link")
                   .empty());
  EXPECT_TRUE(base::RemoveDirectoryLink(folder_.Append(L"old_status")));
}

TEST_F(InstallationStatusStepsTest, RemovesOldVersionsAndTheirRecords) {
  UseSettings(false);
  MakeOldVersion(L"0.8", {L"velum.exe", L"res\\a.dat"}, 100);
  MakeOldVersion(L"0.9", {L"velum.exe"}, 200);
  // Not a record name: never read, never removed.
  ASSERT_TRUE(MakeFile(folder_.Append(L"old_status\\notes.txt"), "keep"));
  ASSERT_TRUE(MakeFile(folder_.Append(L"old_status\\broken.xml.1"), "<not a record"));
  EXPECT_EQ(StepResult::STATUS_OK, RemoveInstalledFilesStep(&context_).Run(0).status);
  EXPECT_FALSE(base::PathExists(folder_.Append(L"0.8")));
  EXPECT_FALSE(base::PathExists(folder_.Append(L"0.9")));
  EXPECT_EQ((std::vector<std::wstring>{L"broken.xml.1", L"notes.txt"}), OldStatusNames());
}

// Upgrades as administrator left one set of firewall rules behind per old version.
TEST_F(InstallationStatusStepsTest, AnAdministratorRemovesEachOldVersionsFirewallRules) {
  for (bool admin : {false, true}) {
    SCOPED_TRACE(admin ? "administrator" : "user");
    EXPECT_TRUE(base::DeleteFile(folder_, true));
    testing::FakeInstallerSystem system;
    system.admin = admin;
    context_.system = &system.system;
    UseSettings(false);
    MakeOldVersion(L"0.8", {L"velum.exe"}, 100);
    MakeOldVersion(L"0.9", {L"velum.exe"}, 200);
    EXPECT_EQ(StepResult::STATUS_OK, RemoveInstalledFilesStep(&context_).Run(0).status);
    std::vector<std::pair<base::FilePath, bool>> expected;
    if (admin) {
      expected = {{folder_.Append(L"0.8\\velum.exe"), true},
                  {folder_.Append(L"0.9\\velum.exe"), true}};
    }
    EXPECT_EQ(expected, system.firewall_calls);
    context_.system = nullptr;
  }
}

TEST_F(InstallationStatusStepsTest, AFileInUseKeepsItsVersionOnUpgradeOnly) {
  for (bool uninstall : {false, true}) {
    SCOPED_TRACE(uninstall ? "uninstall" : "upgrade");
    EXPECT_TRUE(base::DeleteFile(folder_, true));
    // An uninstallation needs an installation.
    ASSERT_TRUE(base::CreateDirectory(folder_));
    InstallLog current(SOURCE_INSTALLER);
    current.version = "1.0";
    current.subfolder = L"1.0";
    InstallLogWriter writer;
    ASSERT_TRUE(writer.WriteFile(current, folder_.Append(L"installation_status.xml")));
    UseSettings(uninstall);
    MakeOldVersion(L"0.9", {L"a.dat", L"b.dat", L"c.dat"}, 100);
    base::ScopedHandle in_use(CreateFileW(folder_.Append(L"0.9\\b.dat").value().c_str(),
                                          GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(in_use.IsValid());
    EXPECT_EQ(StepResult::STATUS_OK, RemoveInstalledFilesStep(&context_).Run(0).status);
    in_use.Close();
    EXPECT_EQ(!uninstall, base::PathExists(folder_.Append(L"0.9\\a.dat")));
    EXPECT_TRUE(base::PathExists(folder_.Append(L"0.9\\b.dat")));
    EXPECT_EQ(!uninstall, base::PathExists(folder_.Append(L"0.9\\c.dat")));
    EXPECT_EQ(uninstall ? 0u : 1u, OldStatusNames().size());
    EXPECT_FALSE(testing::HasSetAsideItem(folder_));
  }
}

// An old record (a file a user can write) named files outside the install folder, and
// the upgrade or the uninstallation deleted them.
TEST_F(InstallationStatusStepsTest, AnOldRecordNamingOutsideFilesIsKeptWithItsFiles) {
  const base::FilePath outside = scratch_.path().Append(L"outside.txt");
  for (bool uninstall : {false, true}) {
    SCOPED_TRACE(uninstall ? "uninstall" : "upgrade");
    EXPECT_TRUE(base::DeleteFile(folder_, true));
    ASSERT_TRUE(base::CreateDirectory(folder_));
    InstallLog current(SOURCE_INSTALLER);
    current.subfolder = L"1.0";
    ASSERT_TRUE(InstallLogWriter().WriteFile(current, folder_.Append(L"installation_status.xml")));
    UseSettings(uninstall);
    MakeOldVersion(L"0.9", {L"velum.exe", L"..\\..\\outside.txt"}, 100);
    ASSERT_TRUE(base::PathExists(outside));
    EXPECT_EQ(StepResult::STATUS_OK, RemoveInstalledFilesStep(&context_).Run(0).status);
    EXPECT_TRUE(base::PathExists(outside));
    EXPECT_TRUE(base::PathExists(folder_.Append(L"0.9\\velum.exe")));
    EXPECT_EQ(1u, OldStatusNames().size());
  }
}

// An old version reached through a link (its version folder, a folder in it, a version
// folder inside "old_status") to another program's folder holding files of the recorded
// names: nothing there is touched and the log names the link. An upgrade keeps the old
// version whole with its record; an uninstallation removes the rest and the record, but
// leaves nothing behind a link to the clean-up batch. A record reached through a link
// ("old_status" or the record itself one) is not read: its version stays.
TEST_F(InstallationStatusStepsTest, AnOldVersionBehindALinkTouchesNothingThere) {
  const struct {
    const char* name;
    const wchar_t* subfolder;
    const wchar_t* link;  // made in place of this folder, to "outside"
    const char* logged;   // the start of the line that names it
    bool record_unread;   // the record, behind the link, is not read: its version stays
  } cases[] = {
      {"the version folder", L"0.9", L"0.9", "Keeping {folder}\\0.9\\velum.exe, reached",
       false},
      {"a folder in it", L"0.9", L"0.9\\res", "Keeping {folder}\\0.9\\res\\a.dat, reached",
       false},
      {"a version folder in old_status", L"old_status\\j", L"old_status\\j",
       "Keeping {folder}\\old_status\\j\\velum.exe, reached", false},
      {"old_status", L"0.9", L"old_status", "Keeping the old status files in {folder}", true},
      {"the record", L"0.9", L"old_status\\installation_status.xml.100",
       "Keeping {folder}\\old_status\\installation_status.xml.100, reached", true},
  };
  const base::FilePath outside = scratch_.path().Append(L"outside");
  for (bool uninstall : {false, true}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (uninstall ? ", uninstall" : ", upgrade"));
      EXPECT_TRUE(base::DeleteFile(folder_, true));
      for (const wchar_t* name : {L"velum.exe", L"a.dat", L"res\\a.dat"})
        ASSERT_TRUE(MakeFile(outside.Append(name), "another program's"));
      // An uninstallation needs an installation.
      InstallLog current(SOURCE_INSTALLER);
      current.subfolder = L"1.0";
      ASSERT_TRUE(base::CreateDirectory(folder_));
      ASSERT_TRUE(InstallLogWriter().WriteFile(current, folder_.Append(L"installation_status.xml")));
      UseSettings(uninstall);
      context_.files_left_to_cleanup_batch.clear();
      MakeOldVersion(c.subfolder, {L"velum.exe", L"res\\a.dat"}, 100);
      std::string error;
      const base::FilePath link = folder_.Append(c.link);
      // The record moved to the other program's folder, where the link leads.
      const base::FilePath record = folder_.Append(L"old_status\\installation_status.xml.100");
      if (c.record_unread) {
        ASSERT_TRUE(base::Move(record, outside.Append(record.BaseName())));
      }
      // Only Wine's host links can name a file; Windows' junctions are folders.
      if (link == record && !base::RunningUnderWine()) continue;
      ASSERT_TRUE(base::DeleteFile(link, true));
      ASSERT_TRUE(base::MakeDirectoryLink(link, link == record ? outside.Append(record.BaseName())
                                                               : outside,
                                          &error))
          << error;
      const std::string before = testing::SnapshotFileTree(outside);
      base::ScopedLogCapture log;
      EXPECT_EQ(StepResult::STATUS_OK, RemoveInstalledFilesStep(&context_).Run(0).status);
      EXPECT_EQ(before, testing::SnapshotFileTree(outside));
      std::string logged = c.logged;
      logged.replace(logged.find("{folder}"), 8, folder_.AsUTF8());
      EXPECT_FALSE(log.LinesStartingWith(logged).empty());
      EXPECT_TRUE(context_.files_left_to_cleanup_batch.empty());
      // A file of the version not behind the link goes only with the whole version.
      if (std::wstring(c.link) == L"0.9\\res") {
        EXPECT_EQ(!uninstall, base::PathExists(folder_.Append(L"0.9\\velum.exe")));
      }
      if (c.record_unread) {
        EXPECT_TRUE(base::PathExists(folder_.Append(L"0.9\\velum.exe")));
      } else {
        EXPECT_EQ(uninstall ? 0u : 1u, OldStatusNames().size());
      }
      EXPECT_TRUE(base::RemoveDirectoryLink(link));
    }
  }
}

// The previous record's root file "sub\app.exe", with "sub" a link to another program's
// folder: an upgrade leaves it there and says why.
TEST_F(InstallationStatusStepsTest, AnOldRootFileBehindALinkStays) {
  const base::FilePath outside = scratch_.path().Append(L"outside");
  ASSERT_TRUE(MakeFile(outside.Append(L"app.exe"), "another program's"));
  ASSERT_TRUE(base::CreateDirectory(folder_));
  std::string error;
  ASSERT_TRUE(base::MakeDirectoryLink(folder_.Append(L"sub"), outside, &error)) << error;
  InstallLog existing(SOURCE_STATUS_FILE);
  existing.root_files = {L"sub\\app.exe"};
  base::ScopedLogCapture log;
  EXPECT_EQ(StepResult::STATUS_OK, RemoveOldRootFilesStep(&context_, &existing).Run(0).status);
  context_.transaction.Commit();
  EXPECT_EQ("another program's", ReadText(outside.Append(L"app.exe")));
  EXPECT_FALSE(log.LinesStartingWith("Keeping " + folder_.Append(L"sub\\app.exe").AsUTF8() +
                                     ", reached through a link")
                   .empty());
  EXPECT_TRUE(base::RemoveDirectoryLink(folder_.Append(L"sub")));
}

TEST_F(InstallationStatusStepsTest, WritesTheRecordAndRemovesOldRootFiles) {
  ASSERT_TRUE(base::CreateDirectory(folder_));
  context_.install_log.version = "2.0";
  context_.install_log.subfolder = L"2.0";
  context_.install_log.files = {L"velum.exe"};
  EXPECT_EQ(StepResult::STATUS_OK, WriteInstallationStatusStep(&context_).Run(0).status);
  std::unique_ptr<InstallLog> record;
  InstallLogReader reader;
  reader.ParseFile(&record, folder_.Append(L"installation_status.xml"), SOURCE_STATUS_FILE);
  ASSERT_TRUE(record);
  EXPECT_EQ(L"2.0", record->subfolder);
  EXPECT_EQ(std::vector<std::wstring>{L"velum.exe"}, record->files);

  InstallLog existing(SOURCE_STATUS_FILE);
  existing.root_files = {L"old_root.txt", L"missing.txt"};
  ASSERT_TRUE(MakeFile(folder_.Append(L"old_root.txt"), "root"));
  EXPECT_EQ(StepResult::STATUS_OK, RemoveOldRootFilesStep(&context_, &existing).Run(0).status);
  EXPECT_EQ(StepResult::STATUS_OK, RemoveOldRootFilesStep(&context_, nullptr).Run(0).status);
  EXPECT_FALSE(base::PathExists(folder_.Append(L"old_root.txt")));
  // Both belong to the installation: its rollback restores the folder as it was.
  context_.transaction.Rollback();
  EXPECT_EQ("root", ReadText(folder_.Append(L"old_root.txt")));
  EXPECT_FALSE(base::PathExists(folder_.Append(L"installation_status.xml")));
}

TEST_F(InstallationStatusStepsTest, AnUnwritableRecordFailsTheInstallation) {
  // The install folder is gone: nothing can be written there.
  base::ScopedLogCapture log;
  StepResult result = WriteInstallationStatusStep(&context_).Run(0);
  EXPECT_EQ(StepResult::STATUS_FAIL, result.status);
  EXPECT_EQ(0u, result.code);
  EXPECT_EQ("Failed saving the installation status", result.message);
  // The log says which file, which the fixed message does not.
  EXPECT_TRUE(log.Has(
      "could not write " + folder_.Append(L"installation_status.xml.new").AsUTF8()));
  EXPECT_FALSE(base::PathExists(folder_.Append(L"installation_status.xml.new")));
}

}  // namespace
}  // namespace installer

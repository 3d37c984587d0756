#include "desktop/windows/installer/steps/file_steps.h"

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "base/files/file_util.h"
#include "base/files/scratch_dir_test_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/test/log_capture_test_util.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/steps/installation_test_util.h"
#include "desktop/windows/installer/service/transactions/file_operation_test_util.h"
#include "desktop/windows/installer/service/transactions/system_snapshot_test_util.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using testing::MakeFile;
using testing::ReadText;

class FileStepsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(scratch_.path().empty());
    context_.package_folder = scratch_.path().Append(L"package");
    context_.install_folder = scratch_.path().Append(L"install");
    context_.install_log.subfolder = L"2.0";
    ASSERT_TRUE(base::CreateDirectory(context_.install_folder.Append(L"2.0")));
    ASSERT_TRUE(MakeFile(Package(L"launcher.exe"), "launcher"));
  }

  base::FilePath Package(const wchar_t* name) { return context_.package_folder.Append(name); }
  base::FilePath Installed(const wchar_t* name) { return context_.install_folder.Append(name); }

  base::ScratchDir scratch_;
  testing::FakeInstallationContext context_;
};

TEST_F(FileStepsTest, FilesGoWhereTheirListSaysAndAreRecorded) {
  ASSERT_TRUE(MakeFile(Package(L"data\\a.dat"), "a"));
  ASSERT_TRUE(MakeFile(Package(L"root.txt"), "root"));
  EXPECT_EQ(0u, InstalledFileStep(&context_, "data\\a.dat").Run(0).status);
  EXPECT_EQ(0u, RootFileStep(&context_, "root.txt").Run(0).status);
  EXPECT_EQ("a", ReadText(Installed(L"2.0\\data\\a.dat")));
  EXPECT_EQ("root", ReadText(Installed(L"root.txt")));
  EXPECT_EQ(std::vector<std::wstring>{L"data\\a.dat"}, context_.install_log.files);
  EXPECT_EQ(std::vector<std::wstring>{L"root.txt"}, context_.install_log.root_files);
  // The copies belong to the installation: its rollback takes them away.
  context_.transaction.Rollback();
  EXPECT_FALSE(base::PathExists(Installed(L"2.0\\data\\a.dat")));
  EXPECT_FALSE(base::PathExists(Installed(L"root.txt")));
}

// A package file whose place is reached through a link planted in the install folder (a
// root file's folder, one above a folder to make, a folder of a version folder this run
// did not make, the name itself): the step fails, the log names the link, and what the
// link leads to stays as it was, whether the installation is then committed or undone.
TEST_F(FileStepsTest, NothingIsWrittenOrSetAsideThroughALink) {
  const struct {
    const char* file;
    bool root;              // a root file, else the existing version folder's
    const wchar_t* link;    // below the install folder, to `target` in the scratch folder
    const wchar_t* target;
    const char* logged;     // the start of the line naming it, below the install folder
  } cases[] = {
      {"sub\\app.exe", true, L"sub", L"outside", "Not writing {}\\sub, reached through"},
      {"sub\\new\\app.exe", true, L"sub", L"outside",
       "Not writing {}\\sub\\new, reached through"},
      {"res\\app.exe", false, L"2.0\\res", L"outside",
       "Not writing {}\\2.0\\res, reached through"},
      {"app.exe", true, L"app.exe", L"outside\\app.exe",
       "Keeping {}\\app.exe, reached through"},
  };
  const base::FilePath outside = scratch_.path().Append(L"outside");
  for (bool commit : {false, true}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.file) + (commit ? ", committed" : ", rolled back"));
      // Only Wine's host links can name a file; Windows' junctions are folders.
      if (!base::RunningUnderWine() && wcschr(c.target, L'\\')) continue;
      ASSERT_TRUE(MakeFile(outside.Append(L"app.exe"), "another program's"));
      const std::wstring file = base::UTF8ToWide(c.file);
      ASSERT_TRUE(MakeFile(Package(file.c_str()), "new"));
      const base::FilePath link = Installed(c.link);
      std::string error;
      ASSERT_TRUE(base::MakeDirectoryLink(link, scratch_.path().Append(c.target), &error))
          << error;
      const std::string before = testing::SnapshotFileTree(outside);
      base::ScopedLogCapture log;
      std::unique_ptr<FileStep> step;
      if (c.root) {
        step = std::make_unique<RootFileStep>(&context_, c.file);
      } else {
        step = std::make_unique<InstalledFileStep>(&context_, c.file);
      }
      const StepResult result = step->Run(0);
      EXPECT_EQ(StepResult::STATUS_RETRY_THEN_FAIL, result.status);
      EXPECT_EQ(8u, result.code);
      std::string logged = c.logged;
      logged.replace(logged.find("{}"), 2, context_.install_folder.AsUTF8());
      EXPECT_FALSE(log.LinesStartingWith(logged).empty());
      if (commit) {
        context_.transaction.Commit();
      } else {
        context_.transaction.Rollback();
      }
      EXPECT_EQ(before, testing::SnapshotFileTree(outside));
      EXPECT_TRUE(base::RemoveDirectoryLink(link));
      ASSERT_TRUE(base::DeleteFile(outside, true));
    }
  }
}

TEST_F(FileStepsTest, AFailedCopyAsksForARetryAndReportsEachRetry) {
  ASSERT_TRUE(MakeFile(Package(L"velum.exe"), "browser"));
  base::ScopedHandle locked(CreateFileW(Package(L"velum.exe").value().c_str(), GENERIC_READ, 0,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(locked.IsValid());
  InstalledFileStep step(&context_, "velum.exe");
  StepResult first = step.Run(0);
  EXPECT_EQ(StepResult::STATUS_RETRY_THEN_FAIL, first.status);
  EXPECT_EQ(8u, first.code);
  EXPECT_EQ(Installed(L"2.0\\velum.exe").value(), first.argument);
  EXPECT_EQ("Failed copying velum.exe", first.message);
  EXPECT_TRUE(context_.events.empty());
  EXPECT_EQ(StepResult::STATUS_RETRY_THEN_FAIL, step.Run(1).status);
  EXPECT_EQ(std::vector<std::string>{"file_copy_retry"}, context_.events);
  EXPECT_TRUE(context_.install_log.files.empty());

  locked.Close();
  EXPECT_EQ(StepResult::STATUS_OK, step.Run(2).status);
  EXPECT_EQ(2u, context_.events.size());
  EXPECT_EQ(std::vector<std::wstring>{L"velum.exe"}, context_.install_log.files);
}

TEST_F(FileStepsTest, OptionalFilesAreSkippedWhenMissingOrUnusable) {
  // The helper of this machine's architecture is missing: retry, then skip.
  StepResult helper = InstallerHelperStep(&context_).Run(0);
  EXPECT_EQ(StepResult::STATUS_RETRY_THEN_SKIP, helper.status);
  EXPECT_EQ(8u, helper.code);

  struct Case {
    const char* name;
    const char* overrides;  // null: no file
    bool copied;
    const char* reason;  // what the log says after the file's path, when it is left out
  };
  const Case cases[] = {
      {"no overrides file", nullptr, false, nullptr},
      {"not JSON", "pref: yes", false, "Line: 1, column: 1, Unexpected token."},
      {"JSON", "{\"homepage\": \"x\"}", true, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    base::ScopedLogCapture log;
    EXPECT_TRUE(base::DeleteFile(Package(L"pref_default_overrides"), false));
    EXPECT_TRUE(base::DeleteFile(Installed(L"pref_default_overrides"), false));
    if (c.overrides) {
      ASSERT_TRUE(MakeFile(Package(L"pref_default_overrides"), c.overrides));
    }
    EXPECT_EQ(StepResult::STATUS_OK, PrefDefaultOverridesStep(&context_).Run(0).status);
    EXPECT_EQ(c.copied, base::PathExists(Installed(L"pref_default_overrides")));
    const std::string skipped = "Not installing " + Package(L"pref_default_overrides").AsUTF8();
    EXPECT_EQ(c.reason ? std::vector<std::string>{skipped + ": " + c.reason}
                       : std::vector<std::string>{},
              log.LinesStartingWith(skipped));
  }

  // No switch, or a switch naming no file: nothing to copy.
  EXPECT_EQ(StepResult::STATUS_OK, ServerTrackingDataStep(&context_).Run(0).status);
  context_.server_tracking_data = "tracking.bin";
  EXPECT_EQ(StepResult::STATUS_OK, ServerTrackingDataStep(&context_).Run(0).status);
  EXPECT_FALSE(base::PathExists(Installed(L"server_tracking_data")));
  ASSERT_TRUE(MakeFile(Package(L"tracking.bin"), "partner"));
  EXPECT_EQ(StepResult::STATUS_OK, ServerTrackingDataStep(&context_).Run(0).status);
  EXPECT_EQ("partner", ReadText(Installed(L"server_tracking_data")));
}

TEST_F(FileStepsTest, LauncherReplacesTheBrowserExecutableOnlyWhereItDidBefore) {
  EXPECT_EQ(StepResult::STATUS_OK, CopyLauncherStep(&context_).Run(0).status);
  EXPECT_EQ("launcher", ReadText(Installed(L"launcher.exe")));
  EXPECT_FALSE(base::PathExists(Installed(L"velum.exe")));

  // An earlier launcher installed as velum.exe left velum.old behind.
  ASSERT_TRUE(MakeFile(Installed(L"velum.exe"), "old launcher"));
  ASSERT_TRUE(MakeFile(Installed(L"velum.old"), "older"));
  EXPECT_EQ(StepResult::STATUS_OK, CopyLauncherStep(&context_).Run(0).status);
  EXPECT_EQ("launcher", ReadText(Installed(L"velum.exe")));
  EXPECT_EQ("old launcher", ReadText(Installed(L"velum.old")));
}

TEST_F(FileStepsTest, LauncherReplacesALegacyEngineBrowser) {
  context_.basalt_installation = true;
  ASSERT_TRUE(MakeFile(Installed(L"velum.exe"), "legacy browser"));
  EXPECT_EQ(StepResult::STATUS_OK, CopyLauncherStep(&context_).Run(0).status);
  EXPECT_EQ("launcher", ReadText(Installed(L"velum.exe")));
  EXPECT_EQ("legacy browser", ReadText(Installed(L"velum.old")));
  context_.transaction.Rollback();
  EXPECT_EQ("legacy browser", ReadText(Installed(L"velum.exe")));
  EXPECT_FALSE(base::PathExists(Installed(L"velum.old")));
}

}  // namespace
}  // namespace installer

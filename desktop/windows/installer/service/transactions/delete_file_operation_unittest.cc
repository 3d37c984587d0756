#include "desktop/windows/installer/service/transactions/delete_file_operation.h"

#include <windows.h>

#include <aclapi.h>

#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "base/files/file_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/files/scratch_dir_test_util.h"
#include "base/process/launch.h"
#include "base/process/process.h"
#include "base/test/test_helper_process.h"
#include "base/time/time.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/security/access_control.h"
#include "desktop/windows/installer/service/transactions/file_operation_test_util.h"
#include "desktop/windows/installer/service/transactions/registry_test_util.h"
#include "desktop/windows/installer/service/transactions/system_snapshot_test_util.h"
#include "desktop/windows/installer/service/transactions/transaction.h"

namespace installer {
namespace {

using testing::HasSetAsideItem;
using testing::MakeFile;
using testing::SnapshotFileTree;

class DeleteFileOperationTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(scratch_.path().empty()); }
  base::FilePath Path(const wchar_t* relative) const { return scratch_.path().Append(relative); }

  base::ScratchDir scratch_;
};

TEST_F(DeleteFileOperationTest, FileAndFolderRollBackExactlyAndCommitWithoutTrace) {
  struct {
    const wchar_t* target;
    bool folder;
  } cases[] = {{L"dir\\file.txt", false}, {L"dir", true}, {L"dir\\", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.target);
    ASSERT_TRUE(MakeFile(Path(L"dir\\file.txt"), "contents"));
    ASSERT_TRUE(MakeFile(Path(L"dir\\sub\\other.bin"), std::string("\0\1\2", 3)));
    const std::string before = SnapshotFileTree(scratch_.path());
    {
      Transaction transaction;
      ASSERT_TRUE(transaction.Execute(
          std::make_unique<DeleteFileOperation>(Path(c.target), false, false)));
      EXPECT_FALSE(base::PathExists(Path(c.target)));
      transaction.Rollback();
    }
    EXPECT_EQ(before, SnapshotFileTree(scratch_.path()));
    {
      Transaction transaction;
      ASSERT_TRUE(transaction.Execute(
          std::make_unique<DeleteFileOperation>(Path(c.target), false, false)));
    }
    EXPECT_FALSE(base::PathExists(Path(c.target)));
    EXPECT_FALSE(HasSetAsideItem(scratch_.path()));
    EXPECT_TRUE(base::DeleteFile(Path(L"dir"), true));
  }
}

TEST_F(DeleteFileOperationTest, MissingPathSucceedsWithNothingToUndo) {
  Transaction transaction;
  auto operation = std::make_unique<DeleteFileOperation>(Path(L"missing"), true, true);
  DeleteFileOperation* deletion = operation.get();
  ASSERT_TRUE(transaction.Execute(std::move(operation)));
  EXPECT_TRUE(deletion->temporary_path().empty());
  transaction.Rollback();
  EXPECT_TRUE(base::DirectoryExists(scratch_.path()));
}

TEST_F(DeleteFileOperationTest, CommitRemovesEmptiedParentsUpToTheFirstNonEmptyOne) {
  ASSERT_TRUE(MakeFile(Path(L"p\\q\\r.dll"), "library"));
  ASSERT_TRUE(MakeFile(Path(L"keep.txt"), "stays"));
  {
    Transaction transaction;
    ASSERT_TRUE(transaction.Execute(
        std::make_unique<DeleteFileOperation>(Path(L"p\\q\\r.dll"), true, true)));
  }
  EXPECT_FALSE(base::PathExists(Path(L"p")));
  EXPECT_TRUE(base::PathExists(Path(L"keep.txt")));
}

// A taken set-aside name (a file deleted or replaced earlier in the same second) failed
// the deletion, and with it the whole transaction; a counter after the seconds now
// tells the names apart, and what holds the taken names is never touched.
TEST_F(DeleteFileOperationTest, TakenTemporaryNameGetsACounter) {
  ASSERT_TRUE(MakeFile(Path(L"f.txt"), "contents"));
  // Every second the operation could pick while this test runs.
  const int64_t now = base::Time::Now().ToTimeT();
  for (int64_t second = now - 1; second <= now + 5; ++second) {
    ASSERT_TRUE(
        MakeFile(Path((L"f.txt." + std::to_wstring(second) + L".old").c_str()), "taken"));
  }
  const std::string before = SnapshotFileTree(scratch_.path());
  for (bool roll_back : {true, false}) {
    {
      Transaction transaction;
      auto operation = std::make_unique<DeleteFileOperation>(Path(L"f.txt"), false, false);
      DeleteFileOperation* deletion = operation.get();
      ASSERT_TRUE(transaction.Execute(std::move(operation)));
      EXPECT_EQ(L".1.old", deletion->temporary_path().value().substr(
                               deletion->temporary_path().value().size() - 6));
      EXPECT_EQ("contents", testing::ReadText(deletion->temporary_path()));
      if (roll_back) transaction.Rollback();
    }
    if (roll_back) {
      EXPECT_EQ(before, SnapshotFileTree(scratch_.path()));
    }
  }
  EXPECT_FALSE(base::PathExists(Path(L"f.txt")));
  for (int64_t second = now - 1; second <= now + 5; ++second) {
    EXPECT_EQ("taken", testing::ReadText(
                           Path((L"f.txt." + std::to_wstring(second) + L".old").c_str())));
  }
}

TEST(SetAsideNameTest, TellsTheOriginalNameAndTheSecond) {
  const struct {
    const wchar_t* name;
    const wchar_t* original;  // null: not a set-aside name
    int64_t seconds;
  } cases[] = {
      {L"launcher.exe.1700000000.old", L"launcher.exe", 1700000000},
      {L"installer_prefs.json.1700000000.3.OLD", L"installer_prefs.json", 1700000000},
      {L"1.0.100.0.1700000000.old", L"1.0.100.0", 1700000000},
      {L"data.5.1700000000.12.old", L"data.5", 1700000000},
      {L"velum.old", nullptr, 0},
      {L"a.b.old", nullptr, 0},
      {L"a.12.old", nullptr, 0},
      {L"a.12.3.old", nullptr, 0},
      {L".1700000000.old", nullptr, 0},
      {L"x.1700000000.old.txt", nullptr, 0},
      {L"x.1234567890123456789.old", nullptr, 0},
  };
  for (const auto& c : cases) {
    std::wstring original;
    int64_t seconds = 0;
    EXPECT_EQ(c.original != nullptr, ParseSetAsideName(c.name, &original, &seconds))
        << base::WideToUTF8(c.name);
    if (!c.original) continue;
    EXPECT_EQ(c.original, original);
    EXPECT_EQ(c.seconds, seconds);
  }
}

// A rollback that cannot put the file back must not let the commit delete the only
// copy left.
TEST_F(DeleteFileOperationTest, FailedRestoreKeepsTheSetAsideFile) {
  ASSERT_TRUE(MakeFile(Path(L"f.txt"), "user data"));
  auto operation = std::make_unique<DeleteFileOperation>(Path(L"f.txt"), false, false);
  Transaction nested;
  ASSERT_TRUE(operation->Do(nested));
  const base::FilePath set_aside = operation->temporary_path();
  // Something now stands in the way of the move back.
  ASSERT_TRUE(MakeFile(Path(L"f.txt\\blocker.txt"), "x"));
  operation->Rollback();
  operation.reset();
  EXPECT_EQ("user data", testing::ReadText(set_aside));
}

// A folder that cannot be renamed (a file inside is open) must not be copied aside and
// then half deleted: it stays whole, and no copy of it is left behind.
TEST_F(DeleteFileOperationTest, FolderThatCannotBeSetAsideStaysWhole) {
  ASSERT_TRUE(MakeFile(Path(L"dir\\a.txt"), "first"));
  ASSERT_TRUE(MakeFile(Path(L"dir\\b.txt"), "second"));
  ASSERT_TRUE(MakeFile(Path(L"dir\\open.txt"), "in use"));
  base::ScopedHandle open(CreateFileW(Path(L"dir\\open.txt").value().c_str(), GENERIC_READ,
                                      FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(open.IsValid());
  const std::string before = SnapshotFileTree(scratch_.path());
  {
    Transaction transaction;
    // Windows refuses the rename, Wine allows it: either way nothing may be lost.
    const bool set_aside =
        transaction.Execute(std::make_unique<DeleteFileOperation>(Path(L"dir"), false, false));
    EXPECT_EQ(set_aside, !transaction.empty());
    transaction.Rollback();
  }
  EXPECT_EQ(before, SnapshotFileTree(scratch_.path()));
  EXPECT_FALSE(HasSetAsideItem(scratch_.path()));
}

TEST_F(DeleteFileOperationTest, RunningProgramIsPutBackWhenInUseIsChecked) {
  const base::FilePath program = Path(L"app\\app.exe");
  ASSERT_TRUE(base::CreateDirectory(program.DirName()));
  ASSERT_TRUE(base::CopyFile(base::FilePath(base::TestExeSibling(L"process_test_helper.exe")),
                             program));
  const std::wstring event_name =
      L"VelumTestInUse_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
      std::to_wstring(GetTickCount64());
  base::ScopedHandle release(CreateEventW(nullptr, TRUE, FALSE, event_name.c_str()));
  ASSERT_TRUE(release.IsValid());
  base::Process process = base::LaunchProcess(
      L"\"" + program.value() + L"\" 0 " + event_name, base::LaunchOptions());
  ASSERT_TRUE(process.IsValid());

  const std::string before = SnapshotFileTree(scratch_.path());
  {
    Transaction transaction;
    EXPECT_FALSE(
        transaction.Execute(std::make_unique<DeleteFileOperation>(program, true, false)));
  }
  EXPECT_EQ(before, SnapshotFileTree(scratch_.path()));

  SetEvent(release.Get());
  ASSERT_TRUE(process.WaitForExit(nullptr));
  process = base::Process();
  // Once the program has ended the same deletion goes through.
  Transaction transaction;
  EXPECT_TRUE(transaction.Execute(std::make_unique<DeleteFileOperation>(program, true, false)));
}

TEST_F(DeleteFileOperationTest, ProtectedFileIsGrantedFirstAndSetAsideOnTheNextAttempt) {
  const base::FilePath file = Path(L"protected.txt");
  ASSERT_TRUE(MakeFile(file, "contents"));
  ASSERT_TRUE(testing::DenyFileToCurrentUser(file, DELETE | FILE_GENERIC_WRITE));
  ASSERT_FALSE(HasAccess(file.value(), kFileObject, 0x130116));

  Transaction transaction;
  EXPECT_FALSE(transaction.Execute(std::make_unique<DeleteFileOperation>(file, false, false)));
  EXPECT_TRUE(base::PathExists(file));
  EXPECT_TRUE(HasAccess(file.value(), kFileObject, 0x130116));
  EXPECT_TRUE(transaction.Execute(std::make_unique<DeleteFileOperation>(file, false, false)));
  EXPECT_FALSE(base::PathExists(file));
}

}  // namespace
}  // namespace installer

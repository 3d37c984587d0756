#include "desktop/windows/installer/service/held_delete_operation.h"

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/files/file_util.h"
#include "base/files/scratch_dir_test_util.h"
#include "base/process/launch.h"
#include "base/process/process.h"
#include "base/strings/utf_string_conversions.h"
#include "base/test/log_capture_test_util.h"
#include "base/test/test_helper_process.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/security/access_control.h"
#include "desktop/windows/installer/service/transactions/delete_file_operation.h"
#include "desktop/windows/installer/service/transactions/file_operation_test_util.h"
#include "desktop/windows/installer/service/transactions/system_snapshot_test_util.h"
#include "desktop/windows/installer/service/transactions/transaction.h"

namespace installer {
namespace {

using testing::MakeFile;
using testing::SnapshotFileTree;

class HeldDeleteOperationTest : public base::ScratchDirTest {
 protected:
  void SetUp() override {
    base::ScratchDirTest::SetUp();
    top_ = Path(L"Velum");
    ASSERT_TRUE(base::CreateDirectory(top_));
    ASSERT_TRUE(MakeFile(Path(L"outside\\app.exe"), "another program's"));
    ASSERT_TRUE(MakeFile(Path(L"outside\\inner\\app.exe"), "another program's, deeper"));
    ASSERT_TRUE(install_.Hold(top_).ok());
  }

  // Deletes `name` below the install folder in `transaction`; *refused says whether it
  // was left for what stands on its way.
  bool Delete(Transaction* transaction, const std::wstring& name, bool* refused,
              bool remove_empty_parents = true) {
    return transaction->Execute(std::make_unique<HeldDeleteOperation>(
        trees_.Get(&install_), top_.Append(name), true, remove_empty_parents, refused));
  }

  base::FilePath top_;
  HeldInstallFolder install_;
  HeldTreeSource trees_;
};

// A link on the way, at the name, or a name that leaves the install folder: the name is
// left, logged, and counted as refused, and nothing the link leads to changes, commit or
// not. A file where a folder of the way should be holds nothing to delete.
TEST_F(HeldDeleteOperationTest, NothingBehindALinkOrOutsideIsTouched) {
  const struct {
    const wchar_t* name;  // below the install folder
    const wchar_t* link;  // made below the install folder, to `target`; null: none
    const wchar_t* target;
    bool refused;
  } cases[] = {
      {L"sub\\app.exe", L"sub", L"outside", true},
      {L"a\\sub\\inner\\app.exe", L"a\\sub", L"outside", true},
      {L"app.exe", L"app.exe", L"outside\\app.exe", true},
      {L"..\\outside\\app.exe", nullptr, nullptr, true},
      {L"file\\app.exe", nullptr, nullptr, false},
  };
  ASSERT_TRUE(MakeFile(top_.Append(L"file"), "a file where a folder could be"));
  for (const auto& c : cases) {
    SCOPED_TRACE(base::WideToUTF8(c.name));
    // Only Wine's host links can name a file; Windows' junctions are folders.
    if (c.link && !base::RunningUnderWine() && wcschr(c.target, L'\\')) continue;
    const base::FilePath link = c.link ? top_.Append(c.link) : base::FilePath();
    std::string error;
    if (c.link) {
      ASSERT_TRUE(base::CreateDirectory(link.DirName()));
      ASSERT_TRUE(base::MakeDirectoryLink(link, Path(c.target), &error)) << error;
    }
    const std::string before = SnapshotFileTree(Path(L"outside"));
    base::ScopedLogCapture log;
    bool refused = false;
    {
      Transaction transaction;
      EXPECT_EQ(!c.refused, Delete(&transaction, c.name, &refused));
    }
    EXPECT_EQ(c.refused, refused);
    EXPECT_EQ(c.refused, !log.LinesStartingWith("Keeping " + top_.Append(c.name).AsUTF8() +
                                                ", reached through a link")
                              .empty());
    EXPECT_EQ(before, SnapshotFileTree(Path(L"outside")));
    if (c.link) {
      EXPECT_TRUE(base::RemoveDirectoryLink(link));
    }
  }
}

// Until the commit or the rollback nothing on the way can be renamed: what is set aside
// is put back, or removed with the folders it emptied, exactly where it was.
TEST_F(HeldDeleteOperationTest, TheWayStaysHeldUntilTheCommitOrTheRollback) {
  for (bool roll_back : {true, false}) {
    SCOPED_TRACE(roll_back ? "rollback" : "commit");
    ASSERT_TRUE(MakeFile(top_.Append(L"a\\b\\f.txt"), "f"));
    ASSERT_TRUE(MakeFile(top_.Append(L"a\\b\\g.txt"), "g"));
    ASSERT_TRUE(MakeFile(top_.Append(L"a\\keep.txt"), "stays"));
    const std::string before = SnapshotFileTree(top_);
    {
      Transaction transaction;
      bool refused = false;
      ASSERT_TRUE(Delete(&transaction, L"a\\b\\f.txt", &refused));
      ASSERT_TRUE(Delete(&transaction, L"a\\b\\g.txt", &refused));
      for (const wchar_t* folder : {L"a", L"a\\b"}) {
        const base::FilePath path = top_.Append(folder);
        EXPECT_FALSE(MoveFileW(path.value().c_str(), (path.value() + L"2").c_str())) << folder;
      }
      if (roll_back) transaction.Rollback();
    }
    if (roll_back) {
      EXPECT_EQ(before, SnapshotFileTree(top_));
    } else {
      EXPECT_FALSE(base::PathExists(top_.Append(L"a\\b")));
      EXPECT_EQ("stays", testing::ReadText(top_.Append(L"a\\keep.txt")));
    }
    ASSERT_TRUE(base::DeleteFile(top_.Append(L"a"), true));
  }
}

// A folder emptied by the commit is let go before it is removed: whatever is put in its
// place meanwhile (another program's folder, a link to one) stays.
TEST_F(HeldDeleteOperationTest, OnlyTheVeryFolderEmptiedIsRemoved) {
  for (bool link : {false, true}) {
    SCOPED_TRACE(link ? "a link put in its place" : "another folder put in its place");
    ASSERT_TRUE(MakeFile(top_.Append(L"a\\b\\f.txt"), "f"));
    ASSERT_TRUE(base::CreateDirectory(Path(L"other")));
    HeldFile top;
    ASSERT_TRUE(top.Open(top_, FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES,
                         FILE_SHARE_READ | FILE_SHARE_WRITE, true));
    const base::FilePath emptied = top_.Append(L"a\\b");
    std::string error;
    auto tree = std::make_shared<HeldTree>(top_, std::move(top), [&](const base::FilePath& path) {
      if (path != emptied) return;
      ASSERT_TRUE(MoveFileW(path.value().c_str(), Path(L"was_b").value().c_str()));
      if (link) {
        ASSERT_TRUE(base::MakeDirectoryLink(path, Path(L"other"), &error)) << error;
      } else {
        ASSERT_TRUE(MoveFileW(Path(L"other").value().c_str(), path.value().c_str()));
      }
    });
    {
      Transaction transaction;
      ASSERT_TRUE(transaction.Execute(
          std::make_unique<HeldDeleteOperation>(tree, emptied.Append(L"f.txt"), false, true)));
    }
    tree.reset();
    EXPECT_TRUE(base::DirectoryExists(link ? Path(L"other") : emptied));
    if (link) {
      // Wine's RemoveDirectoryW would remove the empty folder a host link leads to.
      ASSERT_TRUE(MakeFile(Path(L"other\\held.txt"), "x"));
      EXPECT_TRUE(base::RemoveDirectoryLink(emptied));
    }
    ASSERT_TRUE(base::DeleteFile(top_.Append(L"a"), true));
    ASSERT_TRUE(base::DeleteFile(Path(L"other"), true));
    ASSERT_TRUE(base::DeleteFile(Path(L"was_b"), true));
  }
}

TEST_F(HeldDeleteOperationTest, ARunningProgramIsPutBack) {
  const base::FilePath program = top_.Append(L"app\\app.exe");
  ASSERT_TRUE(base::CreateDirectory(program.DirName()));
  ASSERT_TRUE(base::CopyFile(base::FilePath(base::TestExeSibling(L"process_test_helper.exe")),
                             program));
  const std::wstring event_name = L"VelumTestHeldInUse_" + std::to_wstring(GetCurrentProcessId());
  base::ScopedHandle release(CreateEventW(nullptr, TRUE, FALSE, event_name.c_str()));
  ASSERT_TRUE(release.IsValid());
  base::Process process = base::LaunchProcess(L"\"" + program.value() + L"\" 0 " + event_name,
                                              base::LaunchOptions());
  ASSERT_TRUE(process.IsValid());
  const std::string before = SnapshotFileTree(top_);
  bool refused = false;
  {
    Transaction transaction;
    EXPECT_FALSE(Delete(&transaction, L"app\\app.exe", &refused));
  }
  EXPECT_FALSE(refused);
  EXPECT_EQ(before, SnapshotFileTree(top_));
  SetEvent(release.Get());
  ASSERT_TRUE(process.WaitForExit(nullptr));
}

// Delete access is granted through a handle of the held folder, and only to a file with
// no other name: the rights of a file a hard link in the install folder names stay.
TEST_F(HeldDeleteOperationTest, AccessIsGrantedOnlyToAFileWithNoOtherName) {
  for (bool hard_link : {false, true}) {
    SCOPED_TRACE(hard_link ? "a hard link" : "its only name");
    const base::FilePath file = Path(hard_link ? L"outside\\protected.txt" : L"Velum\\p.txt");
    ASSERT_TRUE(MakeFile(file, "contents"));
    ASSERT_TRUE(testing::DenyFileToCurrentUser(file, DELETE | FILE_GENERIC_WRITE));
    if (hard_link) {
      ASSERT_TRUE(CreateHardLinkW(top_.Append(L"p.txt").value().c_str(), file.value().c_str(),
                                  nullptr));
    }
    Transaction transaction;
    bool refused = false;
    EXPECT_FALSE(Delete(&transaction, L"p.txt", &refused));
    EXPECT_EQ(!hard_link, HasAccess(file.value(), kFileObject, kDeleteAccess));
    EXPECT_EQ(!hard_link, Delete(&transaction, L"p.txt", &refused));
    EXPECT_FALSE(refused);
    EXPECT_EQ(hard_link, base::PathExists(top_.Append(L"p.txt")));
    if (hard_link) {
      EXPECT_EQ("contents", testing::ReadText(file));
    }
  }
}

}  // namespace
}  // namespace installer

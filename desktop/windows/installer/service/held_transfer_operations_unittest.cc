#include "desktop/windows/installer/service/held_transfer_operations.h"

#include <windows.h>

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "base/files/file_util.h"
#include "base/files/scratch_dir_test_util.h"
#include "base/test/log_capture_test_util.h"
#include "desktop/windows/installer/service/held_install_folder.h"
#include "desktop/windows/installer/service/transactions/file_operation_test_util.h"
#include "desktop/windows/installer/service/transactions/system_snapshot_test_util.h"
#include "desktop/windows/installer/service/transactions/transaction.h"

namespace installer {
namespace {

using testing::MakeFile;
using testing::ReadText;
using testing::SnapshotFileTree;

class HeldTransferOperationsTest : public base::ScratchDirTest {
 protected:
  void SetUp() override {
    base::ScratchDirTest::SetUp();
    top_ = Path(L"Velum");
    ASSERT_TRUE(MakeFile(top_.Append(L"velum.exe"), "old"));
    ASSERT_TRUE(MakeFile(Path(L"package\\app.exe"), "new"));
    ASSERT_TRUE(install_.Hold(top_).ok());
  }

  base::FilePath top_;
  HeldInstallFolder install_;
  HeldTreeSource trees_;
};

// A rollback undoes a copy or a move only on the very file it made or moved: a file put
// at that name since (another program's) stays where it is.
TEST_F(HeldTransferOperationsTest, ARollbackActsOnlyOnTheFileItMadeOrMoved) {
  for (bool move : {false, true}) {
    for (bool replaced : {false, true}) {
      SCOPED_TRACE(std::string(move ? "move" : "copy") + (replaced ? ", name taken" : ""));
      const base::FilePath made = top_.Append(move ? L"velum.old" : L"sub\\app.exe");
      const std::string before = SnapshotFileTree(top_);
      Transaction transaction;
      std::unique_ptr<TransactionOperation> operation;
      if (move) {
        operation =
            std::make_unique<HeldMoveOperation>(trees_.Get(&install_), top_.Append(L"velum.exe"), made);
      } else {
        operation = std::make_unique<HeldCopyOperation>(trees_.Get(&install_),
                                                        Path(L"package\\app.exe"), made);
      }
      ASSERT_TRUE(transaction.Execute(std::move(operation)));
      if (replaced) {
        ASSERT_TRUE(MoveFileW(made.value().c_str(), Path(L"kept").value().c_str()));
        ASSERT_TRUE(MakeFile(made, "another program's"));
      }
      transaction.Rollback();
      if (!replaced) {
        EXPECT_EQ(before, SnapshotFileTree(top_));
        continue;
      }
      EXPECT_EQ("another program's", ReadText(made));
      EXPECT_EQ(!move, base::PathExists(top_.Append(L"velum.exe")));
      ASSERT_TRUE(base::DeleteFile(move ? made : top_.Append(L"sub"), true));
      ASSERT_TRUE(move ? base::Move(Path(L"kept"), top_.Append(L"velum.exe"))
                       : base::DeleteFile(Path(L"kept"), false));
    }
  }
}

// A folder to be made whose name a link takes just before it is made: the copy fails, the
// log names the link, and nothing is made or written where it leads.
TEST_F(HeldTransferOperationsTest, AFolderWhoseNameALinkTakesIsNotWrittenThrough) {
  ASSERT_TRUE(base::CreateDirectory(Path(L"outside")));
  HeldFile top;
  ASSERT_TRUE(top.Open(top_, FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, true));
  const base::FilePath link = top_.Append(L"sub");
  std::string error;
  auto tree = std::make_shared<HeldTree>(top_, std::move(top), [&](const base::FilePath& path) {
    if (path == link) {
      ASSERT_TRUE(base::MakeDirectoryLink(link, Path(L"outside"), &error)) << error;
    }
  });
  base::ScopedLogCapture log;
  {
    Transaction transaction;
    EXPECT_FALSE(transaction.Execute(std::make_unique<HeldCopyOperation>(
        tree, Path(L"package\\app.exe"), link.Append(L"app.exe"))));
  }
  EXPECT_EQ("", SnapshotFileTree(Path(L"outside")));
  EXPECT_FALSE(
      log.LinesStartingWith("Not writing " + link.AsUTF8() + ", reached through a link").empty());
  EXPECT_TRUE(base::RemoveDirectoryLink(link));
}

}  // namespace
}  // namespace installer

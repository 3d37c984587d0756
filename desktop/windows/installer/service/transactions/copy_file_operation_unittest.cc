#include "desktop/windows/installer/service/transactions/copy_file_operation.h"

#include <windows.h>

#include <functional>
#include <memory>

#include <gtest/gtest.h>

#include "base/files/file_util.h"
#include "base/files/scratch_dir_test_util.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/service/transactions/file_operation_test_util.h"
#include "desktop/windows/installer/service/transactions/file_transfer_operation.h"
#include "desktop/windows/installer/service/transactions/move_file_operation.h"
#include "desktop/windows/installer/service/transactions/path_state.h"
#include "desktop/windows/installer/service/transactions/system_snapshot_test_util.h"
#include "desktop/windows/installer/service/transactions/transaction.h"

namespace installer {
namespace {

using testing::HasSetAsideItem;
using testing::MakeFile;
using testing::ReadText;
using testing::SnapshotFileTree;

// One copy or move scenario: the tree before, the operation, and what the target
// holds once the change is made.
struct TransferCase {
  const char* name;
  bool move;
  bool source_read_only;
  bool target_exists;
  const wchar_t* target;  // relative to the tree
  // kMadeByThisInstallation: the copy is tried before the destination is read.
  DestinationFolder folder = DestinationFolder::kAny;
};

constexpr DestinationFolder kOwnFolder = DestinationFolder::kMadeByThisInstallation;

const TransferCase kTransferCases[] = {
    {"copy onto existing file", false, false, true, L"dst\\a.txt"},
    {"copy into missing folders", false, false, false, L"dst\\b\\c\\f.txt"},
    {"copy read-only source", false, true, true, L"dst\\a.txt"},
    {"move onto existing file", true, false, true, L"dst\\a.txt"},
    {"move into missing folders", true, false, false, L"dst\\b\\c\\f.txt"},
    {"move read-only source", true, true, false, L"dst\\b.txt"},
    {"copy tried first into missing folders", false, false, false, L"dst\\b\\c\\f.txt",
     kOwnFolder},
    {"copy tried first of a read-only source", false, true, false, L"dst\\n.txt", kOwnFolder},
};

// Fails the attribute reads of one path with one error.
std::wstring g_unreadable_path;
DWORD g_read_error = 0;

DWORD WINAPI ReadAttributesFailingOnePath(const wchar_t* path) {
  if (g_unreadable_path == path) {
    SetLastError(g_read_error);
    return INVALID_FILE_ATTRIBUTES;
  }
  return GetFileAttributesW(path);
}

class TransferTest : public ::testing::TestWithParam<TransferCase> {
 protected:
  void SetUp() override {
    ASSERT_FALSE(scratch_.path().empty());
    source_ = scratch_.path().Append(L"src\\new.txt");
    target_ = scratch_.path().Append(GetParam().target);
    ASSERT_TRUE(MakeFile(source_, "new contents", GetParam().source_read_only));
    ASSERT_TRUE(base::CreateDirectory(scratch_.path().Append(L"dst")));
    if (GetParam().target_exists) {
      // Not read-only: Wine derives a file's DACL from its Unix mode, so a read-only
      // file would first need the access granted (see DeleteFileOperationTest).
      ASSERT_TRUE(MakeFile(target_, "old contents"));
    }
  }
  void TearDown() override {
    // Read-only files would keep the scratch folder.
    SetFileAttributesW(source_.value().c_str(), FILE_ATTRIBUTE_NORMAL);
    SetFileAttributesW(target_.value().c_str(), FILE_ATTRIBUTE_NORMAL);
  }

  std::unique_ptr<TransactionOperation> MakeOperation(
      FileAttributesReader read_attributes = &GetFileAttributesW) const {
    return MakeOperationFrom(source_, read_attributes);
  }
  std::unique_ptr<TransactionOperation> MakeOperationFrom(
      const base::FilePath& source,
      FileAttributesReader read_attributes = &GetFileAttributesW) const {
    if (GetParam().move)
      return std::make_unique<MoveFileOperation>(source, target_, read_attributes);
    return std::make_unique<CopyFileOperation>(source, target_, GetParam().folder,
                                               read_attributes);
  }

  base::ScratchDir scratch_;
  base::FilePath source_;
  base::FilePath target_;
};

TEST_P(TransferTest, RollbackRestoresTheTreeExactly) {
  const std::string before = SnapshotFileTree(scratch_.path());
  Transaction transaction;
  ASSERT_TRUE(transaction.Execute(MakeOperation()));
  EXPECT_EQ("new contents", ReadText(target_));
  EXPECT_NE(before, SnapshotFileTree(scratch_.path()));
  transaction.Rollback();
  EXPECT_EQ(before, SnapshotFileTree(scratch_.path()));
}

TEST_P(TransferTest, CommitLeavesTheNewFileAndNoSetAsideCopy) {
  {
    Transaction transaction;
    ASSERT_TRUE(transaction.Execute(MakeOperation()));
  }
  EXPECT_EQ("new contents", ReadText(target_));
  EXPECT_FALSE(HasSetAsideItem(scratch_.path()));
  // The transferred file is never read-only.
  EXPECT_FALSE(GetFileAttributesW(target_.value().c_str()) & FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(GetParam().move, !base::PathExists(source_));
}

// Only "not found" means that nothing is in the way. Any other failure to read the
// destination's (or its folder's) attributes was taken for "nothing there": the file was
// overwritten without being set aside, and the rollback deleted it.
TEST_P(TransferTest, UnreadableDestinationStopsBeforeAnythingChanges) {
  const std::string before = SnapshotFileTree(scratch_.path());
  for (const base::FilePath& unreadable : {target_, target_.DirName()}) {
    // The folder is read only when the destination's read finds the folder missing too,
    // and a copy tried first reads only what it found in its way.
    if (base::DirectoryExists(target_.DirName()) &&
        (unreadable != target_ || GetParam().folder == kOwnFolder))
      continue;
    for (DWORD error : {ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION, ERROR_NOT_READY}) {
      SCOPED_TRACE(unreadable.AsUTF8() + " " + std::to_string(error));
      g_unreadable_path = unreadable.value();
      g_read_error = error;
      {
        Transaction transaction;
        EXPECT_FALSE(transaction.Execute(MakeOperation(&ReadAttributesFailingOnePath)));
        EXPECT_TRUE(transaction.empty());
      }
      EXPECT_EQ(before, SnapshotFileTree(scratch_.path()));
    }
  }
}

// Replacing one file twice in one transaction (within one second) met the first
// set-aside copy's name and failed the transaction.
TEST_P(TransferTest, TwoReplacementsInOneTransactionRollBackAndCommit) {
  const base::FilePath second = scratch_.path().Append(L"src\\second.txt");
  ASSERT_TRUE(MakeFile(second, "second contents"));
  const std::string before = SnapshotFileTree(scratch_.path());
  for (bool roll_back : {true, false}) {
    SCOPED_TRACE(roll_back ? "rollback" : "commit");
    {
      Transaction transaction;
      ASSERT_TRUE(transaction.Execute(MakeOperation()));
      ASSERT_TRUE(transaction.Execute(MakeOperationFrom(second)));
      EXPECT_EQ("second contents", ReadText(target_));
      if (roll_back) transaction.Rollback();
    }
    if (roll_back) {
      EXPECT_EQ(before, SnapshotFileTree(scratch_.path()));
    }
  }
  EXPECT_EQ("second contents", ReadText(target_));
  EXPECT_FALSE(HasSetAsideItem(scratch_.path()));
}

// A transfer that writes part of the destination and then fails, as a copy onto a disk
// that fills up does.
class CutShortTransfer : public FileTransferOperation {
 public:
  CutShortTransfer(const base::FilePath& source, const base::FilePath& destination)
      : FileTransferOperation(source, destination) {}

 private:
  void LogStart() const override {}
  bool Transfer() override {
    EXPECT_TRUE(MakeFile(destination(), "new con"));
    return false;
  }
  bool UndoTransfer() override { return base::DeleteFile(destination(), false); }
};

// The cut-off file stayed behind, looking complete, and kept the folders made for it.
TEST_P(TransferTest, FailedTransferLeavesNothingOfItsOwn) {
  const std::string before = SnapshotFileTree(scratch_.path());
  {
    Transaction transaction;
    EXPECT_FALSE(transaction.Execute(std::make_unique<CutShortTransfer>(source_, target_)));
    EXPECT_TRUE(transaction.empty());
  }
  EXPECT_EQ(before, SnapshotFileTree(scratch_.path()));
}

// A source that another program holds open sharing nothing cannot be read: whatever
// the failed transfer finds at the destination afterwards is the earlier file, which
// must stay as it was.
TEST_P(TransferTest, ALockedSourceLeavesTheTreeAsItWas) {
  const std::string before = SnapshotFileTree(scratch_.path());
  {
    base::ScopedHandle holder(CreateFileW(source_.value().c_str(), GENERIC_READ, 0,
                                               nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder.IsValid());
    Transaction transaction;
    EXPECT_FALSE(transaction.Execute(MakeOperation()));
    EXPECT_TRUE(transaction.empty());
  }
  EXPECT_EQ(before, SnapshotFileTree(scratch_.path()));
}

// Another program's file that appears at the destination after it was found free.
DWORD WINAPI ReadAttributesWhileAFileAppears(const wchar_t* path) {
  if (g_unreadable_path == path) {
    EXPECT_TRUE(MakeFile(base::FilePath(path), "their contents"));
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_FILE_ATTRIBUTES;
  }
  return GetFileAttributesW(path);
}

// The copy replaced whatever had appeared, and the rollback then deleted that file.
TEST(CopyFileOperationTest, AFileThatAppearsAtTheDestinationIsLeftAlone) {
  base::ScratchDir scratch;
  ASSERT_FALSE(scratch.path().empty());
  const base::FilePath source = scratch.path().Append(L"new.txt");
  const base::FilePath target = scratch.path().Append(L"target.txt");
  ASSERT_TRUE(MakeFile(source, "new contents"));
  g_unreadable_path = target.value();
  {
    Transaction transaction;
    EXPECT_FALSE(transaction.Execute(std::make_unique<CopyFileOperation>(
        source, target, DestinationFolder::kAny, &ReadAttributesWhileAFileAppears)));
    EXPECT_TRUE(transaction.empty());
  }
  EXPECT_EQ("their contents", ReadText(target));
  EXPECT_FALSE(HasSetAsideItem(scratch.path()));
}

DWORD g_reads = 0;

DWORD WINAPI CountReadsOfOnePath(const wchar_t* path) {
  if (g_unreadable_path == path) ++g_reads;
  return GetFileAttributesW(path);
}

// Under Wine every lookup of a missing name reads the whole folder; into a folder the
// installation made, the copy itself finds out whether anything is in the way.
TEST(CopyFileOperationTest, ACopyTriedFirstReadsOnlyWhatIsInItsWay) {
  struct Case {
    const char* name;
    DestinationFolder folder;
    bool target_exists;
    DWORD reads;
  } cases[] = {
      {"any folder, free", DestinationFolder::kAny, false, 1},
      {"any folder, a file there", DestinationFolder::kAny, true, 2},
      {"own folder, free", kOwnFolder, false, 0},
      {"own folder, an earlier copy there", kOwnFolder, true, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    base::ScratchDir scratch;
    ASSERT_FALSE(scratch.path().empty());
    const base::FilePath source = scratch.path().Append(L"new.txt");
    const base::FilePath target = scratch.path().Append(L"target.txt");
    ASSERT_TRUE(MakeFile(source, "new contents"));
    if (c.target_exists) {
      ASSERT_TRUE(MakeFile(target, "old contents"));
    }
    const std::string before = SnapshotFileTree(scratch.path());
    g_unreadable_path = target.value();
    g_reads = 0;
    Transaction transaction;
    EXPECT_TRUE(transaction.Execute(
        std::make_unique<CopyFileOperation>(source, target, c.folder, &CountReadsOfOnePath)));
    EXPECT_EQ(c.reads, g_reads);
    EXPECT_EQ("new contents", ReadText(target));
    transaction.Rollback();
    EXPECT_EQ(before, SnapshotFileTree(scratch.path()));
  }
}

INSTANTIATE_TEST_SUITE_P(Transfers, TransferTest, ::testing::ValuesIn(kTransferCases),
                         [](const ::testing::TestParamInfo<TransferCase>& info) {
                           std::string name = info.param.name;
                           for (char& c : name) {
                             if (c == ' ' || c == '-') c = '_';
                           }
                           return name;
                         });

}  // namespace
}  // namespace installer

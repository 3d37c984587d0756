#include "desktop/windows/installer/service/transactions/create_folder_operation.h"

#include <memory>

#include <gtest/gtest.h>

#include "base/files/file_util.h"
#include "base/files/scratch_dir_test_util.h"
#include "desktop/windows/installer/service/transactions/file_operation_test_util.h"
#include "desktop/windows/installer/service/transactions/system_snapshot_test_util.h"
#include "desktop/windows/installer/service/transactions/transaction.h"

namespace installer {
namespace {

TEST(CreateFolderOperationTest, RollbackRemovesTheCreatedChainDownToTheExistingAncestor) {
  base::ScratchDir scratch;
  const base::FilePath folder = scratch.path().Append(L"a\\b\\c");
  const std::string before = testing::SnapshotFileTree(scratch.path());
  Transaction transaction;
  auto operation = std::make_unique<CreateFolderOperation>(folder);
  CreateFolderOperation* created = operation.get();
  ASSERT_TRUE(transaction.Execute(std::move(operation)));
  EXPECT_TRUE(base::DirectoryExists(folder));
  EXPECT_EQ(scratch.path(), created->existing_ancestor());
  transaction.Rollback();
  EXPECT_EQ(before, testing::SnapshotFileTree(scratch.path()));
  EXPECT_TRUE(base::DirectoryExists(scratch.path()));
}

TEST(CreateFolderOperationTest, RollbackKeepsFoldersThatReceivedContent) {
  base::ScratchDir scratch;
  const base::FilePath folder = scratch.path().Append(L"a\\b\\c");
  Transaction transaction;
  ASSERT_TRUE(transaction.Execute(std::make_unique<CreateFolderOperation>(folder)));
  ASSERT_TRUE(testing::MakeFile(scratch.path().Append(L"a\\b\\kept.txt"), "x"));
  transaction.Rollback();
  EXPECT_FALSE(base::PathExists(folder));
  EXPECT_TRUE(base::PathExists(scratch.path().Append(L"a\\b\\kept.txt")));
}

TEST(CreateFolderOperationTest, CreationThatFailsHalfwayLeavesNoFolderBehind) {
  base::ScratchDir scratch;
  // "a" and "b" can be made, the last name cannot.
  const base::FilePath folder = scratch.path().Append(L"a\\b\\bad|name");
  const std::string before = testing::SnapshotFileTree(scratch.path());
  Transaction transaction;
  EXPECT_FALSE(transaction.Execute(std::make_unique<CreateFolderOperation>(folder)));
  EXPECT_EQ(before, testing::SnapshotFileTree(scratch.path()));
}

TEST(CreateFolderOperationTest, ExistingFolderIsNeverRemoved) {
  base::ScratchDir scratch;
  Transaction transaction;
  ASSERT_TRUE(transaction.Execute(std::make_unique<CreateFolderOperation>(scratch.path())));
  transaction.Rollback();
  EXPECT_TRUE(base::DirectoryExists(scratch.path()));
}

}  // namespace
}  // namespace installer

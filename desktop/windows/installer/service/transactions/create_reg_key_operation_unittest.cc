#include "desktop/windows/installer/service/transactions/create_reg_key_operation.h"

#include <memory>

#include <gtest/gtest.h>

#include "base/win/registry.h"
#include "desktop/windows/installer/service/transactions/registry_test_util.h"
#include "desktop/windows/installer/service/transactions/transaction.h"

namespace installer {
namespace {

using testing::RegistryViewTest;

class CreateRegKeyOperationTest : public RegistryViewTest {};

TEST_P(CreateRegKeyOperationTest, RollbackRemovesTheTopmostCreatedKeyWithItsBranch) {
  const std::string before = Snapshot();
  Transaction transaction;
  auto operation = std::make_unique<CreateRegKeyOperation>(root(), Child(L"A\\B\\D"), view());
  CreateRegKeyOperation* creation = operation.get();
  ASSERT_TRUE(transaction.Execute(std::move(operation)));
  EXPECT_EQ(Child(L"A"), creation->created_top_key());
  EXPECT_TRUE(ExistsInItsView(L"A\\B\\D"));
  transaction.Rollback();
  EXPECT_EQ(before, Snapshot());
  EXPECT_FALSE(ExistsInItsView(L"A"));
}

TEST_P(CreateRegKeyOperationTest, ExistingKeyIsNeverDeleted) {
  ASSERT_TRUE(testing::WriteRegistryValue(root(), Child(L"A"), view(), L"x", REG_SZ, L"", 2));
  const std::string before = Snapshot();
  Transaction transaction;
  auto operation = std::make_unique<CreateRegKeyOperation>(root(), Child(L"A"), view());
  CreateRegKeyOperation* creation = operation.get();
  ASSERT_TRUE(transaction.Execute(std::move(operation)));
  EXPECT_TRUE(creation->created_top_key().empty());
  transaction.Rollback();
  EXPECT_EQ(before, Snapshot());
}

// A key that cannot be opened is not known to exist: no success is reported, and the key
// is never taken for one the operation created.
TEST_P(CreateRegKeyOperationTest, KeyThatCannotBeOpenedFails) {
  ASSERT_TRUE(testing::WriteRegistryValue(root(), Child(L"A"), view(), L"x", REG_SZ, L"", 2));
  ASSERT_TRUE(testing::DenyCurrentUser(root(), Child(L"A"), view(), KEY_QUERY_VALUE));
  base::RegistryKey probe;
  ASSERT_EQ(ERROR_ACCESS_DENIED, probe.Open(root(), Child(L"A").c_str(), KEY_QUERY_VALUE | view()));
  const std::string before = Snapshot();
  Transaction transaction;
  EXPECT_FALSE(
      transaction.Execute(std::make_unique<CreateRegKeyOperation>(root(), Child(L"A"), view())));
  EXPECT_TRUE(transaction.empty());
  EXPECT_EQ(before, Snapshot());
}

TEST_P(CreateRegKeyOperationTest, KeyNamesMayHoldSlashes) {
  Transaction transaction;
  auto operation =
      std::make_unique<CreateRegKeyOperation>(root(), Child(L"text/html\\x"), view());
  CreateRegKeyOperation* creation = operation.get();
  ASSERT_TRUE(transaction.Execute(std::move(operation)));
  EXPECT_EQ(Child(L"text/html"), creation->created_top_key());
  transaction.Rollback();
  EXPECT_FALSE(ExistsInItsView(L"text/html"));
}

INSTANTIATE_TEST_SUITE_P(Views, CreateRegKeyOperationTest,
                         ::testing::ValuesIn(testing::kRegistryViews),
                         testing::RegistryViewName);

}  // namespace
}  // namespace installer

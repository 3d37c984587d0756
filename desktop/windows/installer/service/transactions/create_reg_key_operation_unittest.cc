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

// Key names may hold slashes.
TEST_P(CreateRegKeyOperationTest, RollbackRemovesTheTopmostCreatedKeyWithItsBranch) {
  const std::string before = Snapshot();
  const struct {
    const wchar_t* key;
    const wchar_t* top;
  } cases[] = {{L"A\\B\\D", L"A"}, {L"text/html\\x", L"text/html"}};
  for (const auto& c : cases) {
    Transaction transaction;
    auto operation =
        std::make_unique<CreateRegKeyOperation>(root(), Child(c.key), view(), security());
    CreateRegKeyOperation* creation = operation.get();
    ASSERT_TRUE(transaction.Execute(std::move(operation)));
    EXPECT_EQ(Child(c.top), creation->created_top_key());
    EXPECT_TRUE(ExistsInItsView(c.key));
    transaction.Rollback();
    EXPECT_EQ(before, Snapshot());
  }
}

TEST_P(CreateRegKeyOperationTest, ExistingKeyIsNeverDeleted) {
  ASSERT_TRUE(testing::WriteRegistryValue(root(), Child(L"A"), view(), L"x", REG_SZ, L"", 2));
  const std::string before = Snapshot();
  Transaction transaction;
  auto operation = std::make_unique<CreateRegKeyOperation>(root(), Child(L"A"), view(), security());
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
      transaction.Execute(
          std::make_unique<CreateRegKeyOperation>(root(), Child(L"A"), view(), security())));
  EXPECT_TRUE(transaction.empty());
  EXPECT_EQ(before, Snapshot());
}

INSTANTIATE_TEST_SUITE_P(Views, CreateRegKeyOperationTest,
                         ::testing::ValuesIn(testing::kRegistryViews),
                         testing::RegistryViewName);

}  // namespace
}  // namespace installer

#include "desktop/windows/installer/service/transactions/delete_reg_key_operation.h"

#include <memory>

#include <gtest/gtest.h>

#include "desktop/windows/installer/service/transactions/registry_key_names.h"
#include "desktop/windows/installer/service/transactions/registry_test_util.h"
#include "desktop/windows/installer/service/transactions/transaction.h"

namespace installer {
namespace {

using testing::RegistryViewTest;
using testing::WriteRegistryValue;

class DeleteRegKeyOperationTest : public RegistryViewTest {
 protected:
  // tree, tree\a (with its own DACL entry), tree\a\deep, tree\b; several values each.
  void MakeTree() {
    const DWORD number = 42;
    for (const wchar_t* key : {L"tree", L"tree\\a", L"tree\\a\\deep", L"tree\\b"}) {
      ASSERT_TRUE(WriteRegistryValue(root(), Child(key), view(), L"", REG_SZ, key,
                                     static_cast<DWORD>((wcslen(key) + 1) * sizeof(wchar_t))));
      ASSERT_TRUE(WriteRegistryValue(root(), Child(key), view(), L"number", REG_DWORD, &number,
                                     sizeof(number)));
      ASSERT_TRUE(WriteRegistryValue(root(), Child(key), view(), L"bytes", REG_BINARY, key,
                                     static_cast<DWORD>(wcslen(key))));
      ASSERT_TRUE(WriteRegistryValue(root(), Child(key), view(), L"empty", REG_NONE, nullptr, 0));
    }
    // A key with security of its own.
    ASSERT_TRUE(testing::DenyCurrentUser(root(), Child(L"tree\\a"), view(), KEY_CREATE_LINK));
  }
};

TEST_P(DeleteRegKeyOperationTest, TreeRollsBackWithValuesAndSecurity) {
  MakeTree();
  const std::string before = Snapshot();
  Transaction transaction;
  auto operation =
      std::make_unique<DeleteRegKeyOperation>(root(), Child(L"tree"), view(), security());
  DeleteRegKeyOperation* deletion = operation.get();
  ASSERT_TRUE(transaction.Execute(std::move(operation)));
  EXPECT_FALSE(ExistsInItsView(L"tree"));

  // A key is saved before its subkeys.
  ASSERT_EQ(4u, deletion->saved_keys().size());
  EXPECT_EQ(Child(L"tree"), deletion->saved_keys()[0]->key_path);
  for (size_t i = 1; i < deletion->saved_keys().size(); ++i) {
    const std::wstring& key_path = deletion->saved_keys()[i]->key_path;
    if (key_path == Child(L"tree\\a\\deep")) {
      EXPECT_EQ(Child(L"tree\\a"), deletion->saved_keys()[i - 1]->key_path);
    }
  }

  transaction.Rollback();
  EXPECT_EQ(before, Snapshot());
}

TEST_P(DeleteRegKeyOperationTest, MissingKeyIsNothingToDo) {
  const std::string before = Snapshot();
  Transaction transaction;
  ASSERT_TRUE(transaction.Execute(
      std::make_unique<DeleteRegKeyOperation>(root(), Child(L"missing"), view(), security())));
  transaction.Rollback();
  EXPECT_EQ(before, Snapshot());
}

// A key that denied the user its deletion comes back with that very DACL, not with the
// access the operation granted itself.
TEST_P(DeleteRegKeyOperationTest, KeyThatDeniedDeletionComesBackWithItsOwnDacl) {
  MakeTree();
  ASSERT_TRUE(testing::DenyCurrentUser(root(), Child(L"tree\\a\\deep"), view(), DELETE));
  const std::string before = Snapshot();
  {
    Transaction transaction;
    ASSERT_TRUE(transaction.Execute(
        std::make_unique<DeleteRegKeyOperation>(root(), Child(L"tree"), view(), security())));
    EXPECT_FALSE(ExistsInItsView(L"tree"));
    transaction.Rollback();
  }
  EXPECT_EQ(before, Snapshot());
  // Committed, the deletion stays (the scratch key's own clean-up could not delete the
  // protected key).
  {
    Transaction transaction;
    EXPECT_TRUE(transaction.Execute(
        std::make_unique<DeleteRegKeyOperation>(root(), Child(L"tree"), view(), security())));
  }
  EXPECT_FALSE(ExistsInItsView(L"tree"));
}

// A name or placeholder that came out empty ("Software\" without a company name) or a
// key right below a hive names far more than the installer ever owns.
TEST(DeleteRegKeyPathTest, RefusesPathsThatNameTooMuch) {
  const struct {
    HKEY root;
    const wchar_t* path;
    bool deletable;
  } kCases[] = {
      {HKEY_CURRENT_USER, L"", false},
      {HKEY_CURRENT_USER, L"Software", false},
      {HKEY_LOCAL_MACHINE, L"SOFTWARE", false},
      {HKEY_USERS, L"S-1-5-21-1-2-3-1000", false},
      {HKEY_CURRENT_USER, L"Software\\", false},
      {HKEY_CURRENT_USER, L"\\Software\\Velum", false},
      {HKEY_CURRENT_USER, L"Software\\Classes\\\\shell\\open\\ddeexec", false},
      {HKEY_CURRENT_USER, L"Software\\Velum", true},
      {HKEY_CLASSES_ROOT, L".htm", true},
  };
  for (const auto& c : kCases)
    EXPECT_EQ(c.deletable, IsDeletableKeyPath(c.root, c.path)) << c.path;
}

INSTANTIATE_TEST_SUITE_P(Views, DeleteRegKeyOperationTest,
                         ::testing::ValuesIn(testing::kRegistryViews),
                         testing::RegistryViewName);

}  // namespace
}  // namespace installer

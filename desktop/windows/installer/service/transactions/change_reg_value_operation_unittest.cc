#include "desktop/windows/installer/service/transactions/change_reg_value_operation.h"

#include <memory>

#include <gtest/gtest.h>

#include "base/files/file_path.h"
#include "base/win/registry.h"

#include "desktop/windows/installer/service/transactions/delete_reg_key_operation.h"
#include "desktop/windows/installer/service/transactions/registry_test_util.h"
#include "desktop/windows/installer/service/transactions/system_snapshot_test_util.h"
#include "desktop/windows/installer/service/transactions/transaction.h"

namespace installer {
namespace {

using testing::RegistryViewTest;
using testing::WriteRegistryValue;

const DWORD kSeven = 7;
const wchar_t kText[] = L"new text";

// One change: what the key holds before (an optional DWORD value "v" plus a fixed
// neighbour), and the change made.
struct ChangeCase {
  const char* name;
  const wchar_t* key;  // relative to the scratch key
  bool value_exists;
  const wchar_t* value_name;
  uint32_t type;
};

const ChangeCase kChangeCases[] = {
    {"set value in missing key branch", L"missing\\deeper", false, L"v", REG_SZ},
    {"replace dword by string", L"k", true, L"v", REG_SZ},
    {"set default value", L"k", false, L"", REG_SZ},
    {"delete existing value", L"k", true, L"v", ChangeRegValueOperation::kDeleteValue},
    {"delete missing value", L"k", false, L"v", ChangeRegValueOperation::kDeleteValue},
    {"delete value in missing key", L"missing", false, L"v",
     ChangeRegValueOperation::kDeleteValue},
};

class ChangeRegValueOperationTest : public RegistryViewTest {
 protected:
  void Prepare(const ChangeCase& c) {
    ASSERT_TRUE(WriteRegistryValue(root(), Child(L"k"), view(), L"neighbour", REG_BINARY,
                                   "\1\2\3", 3));
    if (c.value_exists) {
      ASSERT_TRUE(WriteRegistryValue(root(), Child(c.key), view(), c.value_name, REG_DWORD,
                                     &kSeven, sizeof(kSeven)));
    }
  }
  std::unique_ptr<ChangeRegValueOperation> Make(const ChangeCase& c) const {
    return std::make_unique<ChangeRegValueOperation>(root(), Child(c.key), c.value_name, kText,
                                                     c.type, sizeof(kText), view(), security());
  }
  // The value's type and bytes, or "missing".
  std::string Read(const ChangeCase& c) const {
    base::RegistryKey key;
    if (key.Open(root(), Child(c.key).c_str(), KEY_READ | view()) != ERROR_SUCCESS)
      return "missing";
    BYTE data[256];
    DWORD size = sizeof(data), type = 0;
    if (RegQueryValueExW(key.Handle(), c.value_name, nullptr, &type, data, &size) !=
        ERROR_SUCCESS) {
      return "missing";
    }
    return std::to_string(type) + ":" + std::string(reinterpret_cast<char*>(data), size);
  }
};

TEST_P(ChangeRegValueOperationTest, EveryChangeRollsBackExactlyOrIsKeptByTheCommit) {
  for (const ChangeCase& c : kChangeCases) {
    SCOPED_TRACE(c.name);
    const std::string expected =
        c.type == ChangeRegValueOperation::kDeleteValue
            ? "missing"
            : "1:" + std::string(reinterpret_cast<const char*>(kText), sizeof(kText));
    for (bool roll_back : {true, false}) {
      Prepare(c);
      const std::string before = Snapshot();
      std::string after_change;
      {
        Transaction transaction;
        ASSERT_TRUE(transaction.Execute(Make(c)));
        EXPECT_EQ(expected, Read(c));
        after_change = Snapshot();
        if (roll_back) transaction.Rollback();
      }
      EXPECT_EQ(roll_back ? before : after_change, Snapshot()) << roll_back;
      testing::ScratchRegistryKey::DeleteTree(root(), Child(L"k"), view(), security());
      testing::ScratchRegistryKey::DeleteTree(root(), Child(L"missing"), view(), security());
    }
  }
}

TEST_P(ChangeRegValueOperationTest, MissingKeyIsCreatedInItsViewAndRemovedAgain) {
  Transaction transaction;
  ASSERT_TRUE(transaction.Execute(Make(kChangeCases[0])));
  EXPECT_TRUE(ExistsInItsView(L"missing\\deeper"));
  transaction.Rollback();
  EXPECT_FALSE(ExistsInItsView(L"missing"));
}

TEST_P(ChangeRegValueOperationTest, RightsTakenOnTheKeyAreGivenBack) {
  const ChangeCase& c = kChangeCases[1];
  Prepare(c);
  ASSERT_TRUE(testing::DenyCurrentUser(root(), Child(c.key), view(), KEY_SET_VALUE));
  const std::string before = Snapshot();
  for (bool roll_back : {true, false}) {
    SCOPED_TRACE(roll_back ? "rollback" : "commit");
    {
      Transaction transaction;
      ASSERT_TRUE(transaction.Execute(Make(c)));
      if (roll_back) transaction.Rollback();
    }
    if (roll_back) {
      EXPECT_EQ(before, Snapshot());
    } else {
      EXPECT_EQ("1:" + std::string(reinterpret_cast<const char*>(kText), sizeof(kText)),
                Read(c));
    }
  }
}

// Value changes followed in one transaction by the deletion of their key or of its
// parent. The deletion's rollback runs first and re-creates the key; the value rollbacks
// then must reach the re-created key, not the deleted one through an old handle.
TEST_P(ChangeRegValueOperationTest, ValueThenDeletionOfItsKeyRollsBackExactly) {
  const struct {
    const wchar_t* deleted;
    bool key_exists;
  } cases[] = {{L"parent\\k", true}, {L"parent", true}, {L"parent\\k", false},
               {L"parent", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(base::FilePath(c.deleted).AsUTF8() + (c.key_exists ? "" : ", new key"));
    ASSERT_TRUE(WriteRegistryValue(root(), Child(L"parent"), view(), L"p", REG_DWORD, &kSeven,
                                   sizeof(kSeven)));
    if (c.key_exists) {
      ASSERT_TRUE(WriteRegistryValue(root(), Child(L"parent\\k"), view(), L"v", REG_DWORD,
                                     &kSeven, sizeof(kSeven)));
    }
    const std::string before = Snapshot();
    Transaction transaction;
    for (const wchar_t* name : {L"v", L"added"}) {
      ASSERT_TRUE(transaction.Execute(std::make_unique<ChangeRegValueOperation>(
          root(), Child(L"parent\\k"), name, kText, REG_SZ, sizeof(kText), view(), security())));
    }
    ASSERT_TRUE(transaction.Execute(
        std::make_unique<DeleteRegKeyOperation>(root(), Child(c.deleted), view(), security())));
    transaction.Rollback();
    EXPECT_EQ(before, Snapshot());
    testing::ScratchRegistryKey::DeleteTree(root(), Child(L"parent"), view(), security());
  }
}

INSTANTIATE_TEST_SUITE_P(Views, ChangeRegValueOperationTest,
                         ::testing::ValuesIn(testing::kRegistryViews),
                         testing::RegistryViewName);

}  // namespace
}  // namespace installer

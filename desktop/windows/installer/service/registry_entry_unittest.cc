#include "desktop/windows/installer/service/registry_entry.h"

#include <map>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "base/win/scoped_generic.h"
#include "base/win/windows_version.h"
#include "desktop/windows/installer/service/install_log.h"
#include "desktop/windows/installer/service/transactions/change_reg_value_operation.h"
#include "desktop/windows/installer/service/transactions/registry_test_util.h"
#include "desktop/windows/installer/service/transactions/transaction.h"

namespace installer {
namespace {

class TestResolver : public PlaceholderResolver {
 public:
  std::wstring Resolve(const std::wstring& name) override {
    auto it = texts.find(name);
    return it == texts.end() ? name : it->second;
  }
  std::vector<InstallLog::RegistryKey>* GetRegistryLog(HKEY root) override {
    return root == HKEY_CURRENT_USER ? &user_log : nullptr;
  }

  std::map<std::wstring, std::wstring> texts;
  std::vector<InstallLog::RegistryKey> user_log;
};

RegistryEntryDefinition Row(const wchar_t* key, const wchar_t* name, uint32_t type,
                            uintptr_t data) {
  return {key, name, type, data, 1, nullptr, 0, 0, 0};
}

TEST(RegistryEntryTest, TemplatesExpandInOnePass) {
  TestResolver resolver;
  RegistryEntry entry(Row(L"k", nullptr, REG_SZ, 0), &resolver);
  const struct {
    const wchar_t* install_folder;
    const wchar_t* text;
    const wchar_t* expected;
  } cases[] = {
      {L"D:\\X", L"{InstallFolder}\\Launcher.exe,0", L"D:\\X\\Launcher.exe,0"},
      // Substituted text is never scanned again: braces in it stay, and a folder that
      // names the placeholder itself does not loop.
      {L"D:\\{a}\\b", L"{InstallFolder}\\x", L"D:\\{a}\\b\\x"},
      {L"D:\\{InstallFolder}", L"{InstallFolder}{InstallFolder}",
       L"D:\\{InstallFolder}D:\\{InstallFolder}"},
      {L"D:\\X", L"{installfolder}\\y", L"installfolder\\y"},
      {L"D:\\X", L"open {InstallFolder and more", L"open {InstallFolder and more"},
      {L"D:\\X", L"a}b{InstallFolder}c{", L"a}bD:\\Xc{"},
      {L"D:\\X", L"", L""},
  };
  for (const auto& c : cases) {
    resolver.texts[L"InstallFolder"] = c.install_folder;
    EXPECT_EQ(c.expected, entry.ExpandTemplate(c.text)) << c.text;
  }
  EXPECT_EQ(L"", entry.ExpandTemplate(nullptr));
}

TEST(RegistryEntryTest, RowsThatDoNotApplyGiveNoOperationAndUnsupportedTypesFail) {
  TestResolver resolver;
  RegistryEntryDefinition machine_only = Row(L"k", L"v", REG_SZ, 0);
  machine_only.root_condition = HKEY_LOCAL_MACHINE;
  RegistryEntryDefinition future_os = Row(L"k", L"v", REG_SZ, 0);
  future_os.min_os_version = base::OS_VERSION_WIN_LAST + 1;
  RegistryEntryDefinition future_stream = Row(L"k", L"v", REG_SZ, 0);
  future_stream.min_stream = 5;
  for (const RegistryEntryDefinition& row : {machine_only, future_os, future_stream}) {
    // Apply clears whatever the out operation held.
    std::unique_ptr<TransactionOperation> operation(
        new ChangeRegValueOperation(HKEY_CURRENT_USER, L"k", L"v", nullptr, REG_NONE, 0, 0));
    EXPECT_TRUE(RegistryEntry(row, &resolver).Apply(HKEY_CURRENT_USER, &operation));
    EXPECT_FALSE(operation);
  }
  for (uint32_t type : {5u, 0xFFFFFFFDu}) {
    std::unique_ptr<TransactionOperation> operation;
    EXPECT_FALSE(RegistryEntry(Row(L"k", L"v", type, 0), &resolver)
                     .Apply(HKEY_CURRENT_USER, &operation));
    EXPECT_FALSE(operation);
  }
  EXPECT_TRUE(resolver.user_log.empty());
}

// Values set are noted in the record as they are made; deletions never are.
TEST(RegistryEntryTest, SetValuesAreNotedInTheRecord) {
  TestResolver resolver;
  resolver.texts[L"Product"] = L"Velum";
  const RegistryEntryDefinition rows[] = {
      Row(L"Software\\{Product}", L"Path", REG_SZ, reinterpret_cast<uintptr_t>(L"D:\\X")),
      Row(L"Software\\{Product}", L"Gone", kRegistryDeleteValue, 0),
      Row(L"Software\\{Product}\\old", nullptr, kRegistryDeleteKey, 0),
      Row(L"Software\\{Product}", L"Count", REG_DWORD, 3),
      Row(L"Software\\{Product}", L"Empty", REG_BINARY, reinterpret_cast<uintptr_t>("")),
      Row(L"Software\\{Product}", L"Bytes", REG_BINARY, reinterpret_cast<uintptr_t>("\x01\xab")),
  };
  for (const RegistryEntryDefinition& row : rows) {
    std::unique_ptr<TransactionOperation> operation;
    ASSERT_TRUE(RegistryEntry(row, &resolver).Apply(HKEY_CURRENT_USER, &operation));
    EXPECT_TRUE(operation);
  }
  ASSERT_EQ(1u, resolver.user_log.size());
  EXPECT_EQ("Software\\Velum", resolver.user_log[0].path);
  const std::vector<InstallLog::RegistryValue>& values = resolver.user_log[0].values;
  ASSERT_EQ(4u, values.size());
  EXPECT_EQ("Path", values[0].name);
  EXPECT_EQ("REG_SZ", values[0].type);
  EXPECT_EQ("Count", values[1].name);
  EXPECT_EQ("00000003", values[1].data);
  // Binary data is recorded from its NUL-terminated string: an empty value as "00".
  EXPECT_EQ("00", values[2].data);
  EXPECT_EQ("01,ab", values[3].data);
}

class RegistryTableTest : public testing::RegistryViewTest {
 protected:
  // A table below the scratch key: values of every kind, a delete-value row and a
  // delete-key row for things that exist before.
  std::vector<RegistryEntryDefinition> Table() {
    static const char kBytes[] = "\x01\x02 bytes";
    std::vector<RegistryEntryDefinition> rows = {
        Row(L"{Root}\\{Product}", L"Path", REG_SZ,
            reinterpret_cast<uintptr_t>(L"{InstallFolder}\\Launcher.exe,0")),
        Row(L"{Root}\\{Product}", nullptr, REG_SZ, reinterpret_cast<uintptr_t>(L"")),
        Row(L"{Root}\\{Product}\\shell", L"Expand", REG_EXPAND_SZ,
            reinterpret_cast<uintptr_t>(L"%TEMP%\\{Product}")),
        Row(L"{Root}\\existing", L"Bytes", REG_BINARY, reinterpret_cast<uintptr_t>(kBytes)),
        Row(L"{Root}\\existing", L"Number", REG_DWORD, 0xDEADBEEF),
        Row(L"{Root}\\existing", L"Old", kRegistryDeleteValue, 0),
        Row(L"{Root}\\existing\\ddeexec", nullptr, kRegistryDeleteKey, 0),
        Row(L"{Root}\\{Product}", L"Marker", REG_NONE, 0),
    };
    for (RegistryEntryDefinition& row : rows) row.view_flags = view();
    return rows;
  }
  void Prepare() {
    resolver_.texts[L"Root"] = path();
    resolver_.texts[L"Product"] = L"Velum{Stream}";
    resolver_.texts[L"InstallFolder"] = L"D:\\X";
    ASSERT_TRUE(testing::WriteRegistryValue(root(), Child(L"existing"), view(), L"Old",
                                            REG_SZ, L"old", 8));
    ASSERT_TRUE(testing::WriteRegistryValue(root(), Child(L"existing\\ddeexec\\topic"), view(),
                                            L"", REG_SZ, L"x", 4));
  }
  // Applies the table in |transaction|; the row |failing_row| fails instead.
  bool ApplyTable(Transaction& transaction, size_t failing_row) {
    const std::vector<RegistryEntryDefinition> rows = Table();
    for (size_t i = 0; i < rows.size(); ++i) {
      std::unique_ptr<TransactionOperation> operation;
      if (!RegistryEntry(rows[i], &resolver_, security()).Apply(root(), &operation)) return false;
      if (i == failing_row) operation.reset(new FailingOperation);
      if (operation && !transaction.Execute(std::move(operation))) return false;
    }
    return true;
  }

  class FailingOperation : public TransactionOperation {
   public:
    bool Do(Transaction&) override { return false; }
    void Rollback() override {}
  };

  TestResolver resolver_;
};

TEST_P(RegistryTableTest, FailureAtAnyRowRollsBackTheRowsAlreadyApplied) {
  Prepare();
  const std::string before = Snapshot();
  const size_t row_count = Table().size();
  for (size_t failing_row = 0; failing_row <= row_count; ++failing_row) {
    SCOPED_TRACE(failing_row);
    Transaction transaction;
    EXPECT_EQ(failing_row == row_count, ApplyTable(transaction, failing_row));
    if (failing_row == row_count) {
      EXPECT_TRUE(ExistsInItsView(L"Velum{Stream}\\shell"));
      EXPECT_FALSE(ExistsInItsView(L"existing\\ddeexec"));
    }
    transaction.Rollback();
    EXPECT_EQ(before, Snapshot());
  }
}

TEST_P(RegistryTableTest, AppliedTableWritesExactData) {
  Prepare();
  {
    Transaction transaction;
    ASSERT_TRUE(ApplyTable(transaction, static_cast<size_t>(-1)));
  }
  base::ScopedHKEY key;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(root(), Child(L"Velum{Stream}").c_str(), 0,
                                         KEY_READ | view(), key.Receive()));
  const struct {
    const wchar_t* name;
    DWORD type;
    DWORD size;
  } expected[] = {
      {L"Path", REG_SZ, sizeof(L"D:\\X\\Launcher.exe,0")},
      {L"", REG_SZ, 0},  // an empty text is written without its NUL
      {L"Marker", REG_NONE, 0},
  };
  for (const auto& e : expected) {
    DWORD type = 0, size = 0;
    EXPECT_EQ(ERROR_SUCCESS,
              RegQueryValueExW(key.Get(), e.name, nullptr, &type, nullptr, &size));
    EXPECT_EQ(e.type, type) << e.name;
    EXPECT_EQ(e.size, size) << e.name;
  }
}

INSTANTIATE_TEST_SUITE_P(Views, RegistryTableTest, ::testing::ValuesIn(testing::kRegistryViews),
                         testing::RegistryViewName);

}  // namespace
}  // namespace installer

#include "base/win/registry.h"

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

namespace base {
namespace {

// A key of its own under HKCU\Software\VelumTest for each test, removed afterwards.
class RegistryKeyTest : public ::testing::TestWithParam<REGSAM> {
 protected:
  void SetUp() override {
    static int counter = 0;
    path_ = L"Software\\VelumTest\\registry_" + std::to_wstring(GetCurrentProcessId()) +
            L"_" + std::to_wstring(GetTickCount64()) + L"_" + std::to_wstring(++counter);
    ASSERT_EQ(ERROR_SUCCESS, key_.Create(HKEY_CURRENT_USER, path_.c_str(),
                                         KEY_ALL_ACCESS | GetParam()));
  }
  void TearDown() override {
    key_.Close();
    RegDeleteTreeW(HKEY_CURRENT_USER, path_.c_str());
    RegDeleteKeyExW(HKEY_CURRENT_USER, path_.c_str(), GetParam(), 0);
  }

  void SetRaw(const wchar_t* name, DWORD type, const void* data, DWORD size) {
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key_.Handle(), name, 0, type,
                                            static_cast<const BYTE*>(data), size));
  }

  std::wstring path_;
  RegistryKey key_;
};

TEST_P(RegistryKeyTest, KeepsViewBitsOfAccess) {
  EXPECT_EQ(GetParam(), key_.view());
  RegistryKey reopened(HKEY_CURRENT_USER, path_.c_str(), KEY_READ | key_.view());
  ASSERT_TRUE(reopened.Valid());
  EXPECT_EQ(GetParam(), reopened.view());
  // A null root opens nothing but still remembers the view.
  RegistryKey view_only(nullptr, nullptr, KEY_READ | KEY_WOW64_32KEY);
  EXPECT_FALSE(view_only.Valid());
  EXPECT_EQ(static_cast<REGSAM>(KEY_WOW64_32KEY), view_only.view());
}

TEST_P(RegistryKeyTest, ReadAccessOpensAndChangeAccessCreates) {
  const std::wstring child = path_ + L"\\child";
  RegistryKey read_only(HKEY_CURRENT_USER, child.c_str(), KEY_READ | GetParam());
  EXPECT_FALSE(read_only.Valid());
  RegistryKey writer(HKEY_CURRENT_USER, child.c_str(), KEY_SET_VALUE | GetParam());
  EXPECT_TRUE(writer.Valid());
  RegistryKey reader(HKEY_CURRENT_USER, child.c_str(), KEY_READ | GetParam());
  EXPECT_TRUE(reader.Valid());
}

TEST_P(RegistryKeyTest, FailedOpenKeepsHeldKey) {
  const std::wstring missing = path_ + L"\\missing";
  HKEY held = key_.Handle();
  EXPECT_EQ(ERROR_FILE_NOT_FOUND,
            key_.Open(HKEY_CURRENT_USER, missing.c_str(), KEY_READ | GetParam()));
  EXPECT_EQ(held, key_.Handle());
  EXPECT_EQ(GetParam(), key_.view());
}

TEST_P(RegistryKeyTest, WrittenStringReadsBack) {
  const struct {
    const wchar_t* name;
    const wchar_t* text;
  } cases[] = {
      {L"plain", L"C:\\Program Files\\Velum"},
      {L"empty", L""},
      {nullptr, L"default value"},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(ERROR_SUCCESS, key_.WriteValue(c.name, c.text));
    DWORD type = 0, size = 0;
    ASSERT_EQ(ERROR_SUCCESS,
              RegQueryValueExW(key_.Handle(), c.name, nullptr, &type, nullptr, &size));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_EQ((wcslen(c.text) + 1) * sizeof(wchar_t), size) << "NUL is written too";
    std::wstring read = L"unchanged";
    EXPECT_EQ(ERROR_SUCCESS, key_.ReadValue(c.name, &read));
    EXPECT_EQ(c.text, read);
  }
}

TEST_P(RegistryKeyTest, StringReadRules) {
  SetEnvironmentVariableW(L"VELUM_REGISTRY_TEST", L"expanded");
  SetEnvironmentVariableW(L"VELUM_REGISTRY_LONG", std::wstring(1500, L'z').c_str());
  const std::wstring too_long(1024, L'y');  // 1025 units with the NUL
  // Text with no NUL: nothing past the stored bytes may be read. (Wine counts room for a
  // terminator, so the value stays below the 1024-unit query buffer.)
  const std::wstring full(1000, L'x');
  const wchar_t multi[] = L"a\0b\0";
  const DWORD number = 7;
  SetRaw(L"expand", REG_EXPAND_SZ, L"%VELUM_REGISTRY_TEST%\\dir",
         sizeof(L"%VELUM_REGISTRY_TEST%\\dir"));
  SetRaw(L"long expand", REG_EXPAND_SZ, L"%VELUM_REGISTRY_LONG%",
         sizeof(L"%VELUM_REGISTRY_LONG%"));
  SetRaw(L"long", REG_SZ, too_long.c_str(), (1024 + 1) * sizeof(wchar_t));
  SetRaw(L"full", REG_SZ, full.data(), 1000 * sizeof(wchar_t));
  SetRaw(L"short", REG_SZ, L"abcdef", 3 * sizeof(wchar_t));
  SetRaw(L"multi", REG_MULTI_SZ, multi, sizeof(multi));
  SetRaw(L"number", REG_DWORD, &number, sizeof(number));

  const struct {
    const wchar_t* name;
    LONG result;
    std::wstring text;  // expected output; "unchanged" when the read fails
  } cases[] = {
      {L"expand", ERROR_SUCCESS, L"expanded\\dir"},
      {L"long expand", ERROR_MORE_DATA, L"unchanged"},
      {L"long", ERROR_MORE_DATA, L"unchanged"},
      {L"full", ERROR_SUCCESS, full},
      {L"short", ERROR_SUCCESS, L"abc"},
      {L"multi", ERROR_CANTREAD, L"unchanged"},
      {L"number", ERROR_CANTREAD, L"unchanged"},
      {L"absent", ERROR_FILE_NOT_FOUND, L"unchanged"},
  };
  for (const auto& c : cases) {
    std::wstring read = L"unchanged";
    EXPECT_EQ(c.result, key_.ReadValue(c.name, &read)) << c.name;
    EXPECT_EQ(c.text, read) << c.name;
  }
}

TEST_P(RegistryKeyTest, NumberReadRules) {
  const DWORD dword = 0x12345678;
  const BYTE four[4] = {1, 0, 0, 0};
  const BYTE eight[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  const unsigned long long qword = 5;
  SetRaw(L"dword", REG_DWORD, &dword, sizeof(dword));
  SetRaw(L"binary4", REG_BINARY, four, sizeof(four));
  SetRaw(L"binary8", REG_BINARY, eight, sizeof(eight));
  SetRaw(L"qword", REG_QWORD, &qword, sizeof(qword));
  SetRaw(L"text", REG_SZ, L"1", sizeof(L"1"));

  const struct {
    const wchar_t* name;
    LONG result;
    DWORD value;
  } cases[] = {
      {L"dword", ERROR_SUCCESS, 0x12345678},
      {L"binary4", ERROR_SUCCESS, 1},
      {L"binary8", ERROR_CANTREAD, 99},
      {L"qword", ERROR_CANTREAD, 99},
      {L"text", ERROR_CANTREAD, 99},
      {L"absent", ERROR_FILE_NOT_FOUND, 99},
  };
  for (const auto& c : cases) {
    DWORD read = 99;
    EXPECT_EQ(c.result, key_.ReadValueDW(c.name, &read)) << c.name;
    EXPECT_EQ(c.value, read) << c.name;
  }
}

INSTANTIATE_TEST_SUITE_P(Views, RegistryKeyTest,
                         ::testing::Values(static_cast<REGSAM>(KEY_WOW64_64KEY),
                                           static_cast<REGSAM>(KEY_WOW64_32KEY)));

}  // namespace
}  // namespace base

#include "desktop/windows/installer/service/install_log.h"

#include <windows.h>

#include <gtest/gtest.h>

namespace installer {
namespace {

TEST(InstallLogTest, KeysMergeCaseInsensitivelyKeepingFirstFormAndDeepestClean) {
  std::vector<InstallLog::RegistryKey> keys;
  const wchar_t kOne[] = L"1";
  InstallLog::AddRegistryValue(keys, L"Software\\Foo", L"a", kOne, REG_SZ, sizeof(kOne), 0);
  InstallLog::AddRegistryValue(keys, L"SOFTWARE\\FOO", L"b", kOne, REG_SZ, sizeof(kOne), 2);
  InstallLog::AddRegistryValue(keys, L"software\\foo", L"c", kOne, REG_SZ, sizeof(kOne), 1);
  ASSERT_EQ(1u, keys.size());
  EXPECT_EQ("Software\\Foo", keys[0].path);
  EXPECT_EQ(2, keys[0].clean);
  ASSERT_EQ(3u, keys[0].values.size());
  EXPECT_EQ("a", keys[0].values[0].name);
  EXPECT_EQ("b", keys[0].values[1].name);
  EXPECT_EQ("c", keys[0].values[2].name);
}

TEST(InstallLogTest, DuplicateLoadedKeyReceivesValueInTheLaterOne) {
  std::vector<InstallLog::RegistryKey> keys(3);
  keys[0].path = "Software\\Dup";
  keys[1].path = "Software\\Other";
  keys[2].path = "software\\dup";
  keys[2].clean = 5;
  InstallLog::AddRegistryValue(keys, L"SOFTWARE\\DUP", L"v", nullptr, REG_NONE, 0, -1);
  ASSERT_EQ(3u, keys.size());
  EXPECT_TRUE(keys[0].values.empty());
  ASSERT_EQ(1u, keys[2].values.size());
  EXPECT_EQ(5, keys[2].clean) << "a smaller depth never lowers the recorded one";
}

TEST(InstallLogTest, ValueDataAsText) {
  const wchar_t kText[] = L"C:\\Program Files\\J\u00fcrgen";
  const unsigned char kBinary[] = {0x01, 0xAB, 0x00};
  const unsigned char kTwoBytes[] = {0x00, 0x10};
  const unsigned char kEmptyBinary[] = {0x00};
  const DWORD kDword = 255;
  // Only the first two bytes are the value's.
  const unsigned char kShortDword[] = {0x34, 0x12, 0xFF, 0xFF};
  struct Case {
    const char* what;
    const void* data;
    uint32_t type;
    uint32_t size;
    const char* type_name;
    const char* text;
  } cases[] = {
      {"string", kText, REG_SZ, sizeof(kText), "REG_SZ", "C:\\Program Files\\J\xC3\xBCrgen"},
      {"expand string", L"%TEMP%", REG_EXPAND_SZ, 14, "REG_EXPAND_SZ", "%TEMP%"},
      {"null string", nullptr, REG_SZ, 0, "REG_SZ", ""},
      {"binary", kBinary, REG_BINARY, 3, "REG_BINARY", "01,ab,00"},
      {"binary with zero", kTwoBytes, REG_BINARY, 2, "REG_BINARY", "00,10"},
      {"empty binary is its terminator", kEmptyBinary, REG_BINARY, 0, "REG_BINARY", "00"},
      {"null binary", nullptr, REG_BINARY, 4, "REG_BINARY", ""},
      {"dword", &kDword, REG_DWORD, 4, "REG_DWORD", "000000ff"},
      {"null dword", nullptr, REG_DWORD, 4, "REG_DWORD", ""},
      {"short dword is read no further", kShortDword, REG_DWORD, 2, "REG_DWORD", "00001234"},
      {"none", L"ignored", REG_NONE, 16, "REG_NONE", ""},
      {"qword is not rendered", &kDword, REG_QWORD, 8, "REG_QWORD", ""},
  };
  for (const Case& c : cases) {
    std::vector<InstallLog::RegistryKey> keys;
    InstallLog::AddRegistryValue(keys, L"K", L"n\u00e4me", c.data, c.type, c.size, 0);
    ASSERT_EQ(1u, keys.size());
    ASSERT_EQ(1u, keys[0].values.size());
    EXPECT_EQ(c.type_name, keys[0].values[0].type) << c.what;
    EXPECT_EQ("n\xC3\xA4me", keys[0].values[0].name) << c.what;
    EXPECT_EQ(c.text, keys[0].values[0].data) << c.what;
  }
}

TEST(InstallLogTest, ConstructionAndSuffixedAppId) {
  InstallLog log(SOURCE_INSTALLER);
  EXPECT_FALSE(log.copy_only || log.all_users || log.pinned);
  EXPECT_EQ("1", log.GetSuffixedAppId());
  log.app_id = "1700000000";
  log.files.push_back(L"a.dll");
  EXPECT_EQ("17000000001", log.GetSuffixedAppId());

  InstallLog copy(log);  // takes only the source
  EXPECT_EQ(static_cast<uint32_t>(SOURCE_INSTALLER), copy.source);
  EXPECT_TRUE(copy.app_id.empty());
  EXPECT_TRUE(copy.files.empty());
}

}  // namespace
}  // namespace installer

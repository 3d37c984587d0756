#include "desktop/windows/installer/service/transactions/registry_key_names.h"

#include "desktop/windows/installer/security/access_control.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

TEST(RegistryKeyNamesTest, OnlyRedirectedKeysAreAddressedInThe32BitView) {
  const struct {
    HKEY root;
    const wchar_t* path;
    REGSAM view;
    uint32_t expected;
  } kCases[] = {
      {HKEY_LOCAL_MACHINE, L"Software\\Velum", 0, kRegistryKeyObject},
      {HKEY_LOCAL_MACHINE, L"Software\\Velum", KEY_WOW64_32KEY, kRegistryKey32Object},
      {HKEY_LOCAL_MACHINE, L"Software\\Velum", KEY_WOW64_64KEY, kRegistryKeyObject},
      // The user's uninstall entries are one key in both views.
      {HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
       KEY_WOW64_32KEY, kRegistryKeyObject},
      {HKEY_CURRENT_USER, L"Software\\Classes", KEY_WOW64_32KEY, kRegistryKey32Object},
      {HKEY_CURRENT_USER, L"software\\classes\\CLSID", KEY_WOW64_32KEY, kRegistryKey32Object},
      {HKEY_CURRENT_USER, L"Software\\ClassesOfMine", KEY_WOW64_32KEY, kRegistryKeyObject},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(c.expected, GetRegistrySecurityObjectType(c.root, c.path, c.view)) << c.path;
  }
}

}  // namespace
}  // namespace installer

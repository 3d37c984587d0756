#include "desktop/windows/installer/service/transactions/registry_key_names.h"

#include "base/win/registry.h"
#include "desktop/windows/installer/security/access_control.h"

namespace installer {

std::wstring GetRegistryObjectName(HKEY root, const std::wstring& key_path) {
  const wchar_t* prefix = nullptr;
  if (root == HKEY_CLASSES_ROOT)
    prefix = L"CLASSES_ROOT";
  else if (root == HKEY_CURRENT_USER)
    prefix = L"CURRENT_USER";
  else if (root == HKEY_LOCAL_MACHINE)
    prefix = L"MACHINE";
  else if (root == HKEY_USERS)
    prefix = L"USERS";
  if (!prefix) return key_path;
  // The hive itself has no trailing separator.
  if (key_path.empty()) return prefix;
  return std::wstring(prefix) + L"\\" + key_path;
}

uint32_t GetRegistrySecurityObjectType(HKEY root, const std::wstring& key_path,
                                       REGSAM view_flags) {
  if (view_flags != KEY_WOW64_32KEY) return kRegistryKeyObject;
  // Only a few class subkeys of the user's hive are redirected; the rest is shared, and
  // the 32-bit view object of a shared key is not answered everywhere.
  static const wchar_t kClasses[] = L"Software\\Classes";
  const size_t classes_length = sizeof(kClasses) / sizeof(wchar_t) - 1;
  const bool under_classes =
      key_path.size() >= classes_length &&
      _wcsnicmp(key_path.c_str(), kClasses, classes_length) == 0 &&
      (key_path.size() == classes_length || key_path[classes_length] == L'\\');
  if (root == HKEY_CURRENT_USER && !under_classes) return kRegistryKeyObject;
  return kRegistryKey32Object;
}

std::wstring GetParentKeyPath(const std::wstring& key_path) {
  size_t end = key_path.find_last_not_of(L'\\');
  if (end == std::wstring::npos) return std::wstring();
  const size_t separator = key_path.rfind(L'\\', end);
  if (separator == std::wstring::npos) return std::wstring();
  end = key_path.find_last_not_of(L'\\', separator);
  if (end == std::wstring::npos) return std::wstring();
  return key_path.substr(0, end + 1);
}

bool IsDeletableKeyPath(HKEY root, const std::wstring& key_path) {
  if (key_path.empty() || key_path.front() == L'\\' || key_path.back() == L'\\' ||
      key_path.find(L"\\\\") != std::wstring::npos) {
    return false;
  }
  const bool hive_root =
      root == HKEY_CURRENT_USER || root == HKEY_LOCAL_MACHINE || root == HKEY_USERS;
  return !hive_root || key_path.find(L'\\') != std::wstring::npos;
}

LONG DeleteRegistryKeyTree(HKEY root, const std::wstring& key_path, REGSAM view_flags) {
  base::RegistryKey key;
  LONG result = key.Open(root, key_path.c_str(), view_flags | KEY_ALL_ACCESS);
  if (result != ERROR_SUCCESS) return result;
  result = RegDeleteTreeW(key.Handle(), nullptr);
  key.Close();
  if (result != ERROR_SUCCESS) return result;
  return RegDeleteKeyExW(root, key_path.c_str(), view_flags, 0);
}

}  // namespace installer

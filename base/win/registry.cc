#include "base/win/registry.h"

#include <cwchar>

namespace base {

namespace {

// Access bits that change a key: asking for any of them means "create if missing".
const REGSAM kChangeAccess = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK;

const DWORD kValueUnits = 1024;

}  // namespace

RegistryKey::RegistryKey() : view_(0) {}

RegistryKey::RegistryKey(HKEY root, const wchar_t* subkey, REGSAM access)
    : view_(0) {
  if (!root) {
    view_ = access & kViewMask;
    return;
  }
  // The result shows in Valid().
  if (access & kChangeAccess)
    static_cast<void>(Create(root, subkey, access));
  else
    static_cast<void>(Open(root, subkey, access));
}

RegistryKey::~RegistryKey() { Close(); }

LONG RegistryKey::Create(HKEY root, const wchar_t* subkey, REGSAM access,
                         SECURITY_ATTRIBUTES* security, DWORD* disposition) {
  HKEY key = nullptr;
  DWORD created = 0;
  const LONG result = RegCreateKeyExW(root, subkey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                      access, security, &key, &created);
  if (result != ERROR_SUCCESS) return result;
  Take(key, access);
  if (disposition) *disposition = created;
  return result;
}

LONG RegistryKey::Open(HKEY root, const wchar_t* subkey, REGSAM access) {
  HKEY key = nullptr;
  const LONG result = RegOpenKeyExW(root, subkey, 0, access, &key);
  if (result == ERROR_SUCCESS) Take(key, access);
  return result;
}

void RegistryKey::Take(HKEY key, REGSAM access) {
  key_.Reset(key);
  view_ = access & kViewMask;
}

void RegistryKey::Close() {
  key_.Reset();
  view_ = 0;
}

LONG RegistryKey::ReadValueDW(const wchar_t* name, DWORD* out) const {
  DWORD type = REG_NONE;
  DWORD value = 0;
  DWORD size = sizeof(value);
  const LONG result = RegQueryValueExW(key_.Get(), name, nullptr, &type,
                                       reinterpret_cast<BYTE*>(&value), &size);
  // A longer value of any type is simply not a number of ours.
  if (result == ERROR_MORE_DATA) return ERROR_CANTREAD;
  if (result != ERROR_SUCCESS) return result;
  if ((type != REG_DWORD && type != REG_BINARY) || size != sizeof(value))
    return ERROR_CANTREAD;
  *out = value;
  return ERROR_SUCCESS;
}

LONG RegistryKey::ReadValue(const wchar_t* name, std::wstring* out) const {
  wchar_t raw[kValueUnits];
  DWORD type = REG_NONE;
  DWORD size = sizeof(raw);
  const LONG result =
      RegQueryValueExW(key_.Get(), name, nullptr, &type, reinterpret_cast<BYTE*>(raw), &size);
  if (result != ERROR_SUCCESS) return result;
  if (type != REG_SZ && type != REG_EXPAND_SZ) return ERROR_CANTREAD;

  // Registry strings need not carry their NUL: the text ends at the returned byte count
  // (or at an earlier NUL), never beyond what was written into the buffer.
  const size_t units = size / sizeof(wchar_t);
  const size_t length = wcsnlen(raw, units);
  if (type == REG_SZ) {
    out->assign(raw, length);
    return ERROR_SUCCESS;
  }

  const std::wstring unexpanded(raw, length);
  wchar_t expanded[kValueUnits];
  const DWORD needed = ExpandEnvironmentStringsW(unexpanded.c_str(), expanded, kValueUnits);
  if (needed == 0 || needed > kValueUnits) return ERROR_MORE_DATA;
  out->assign(expanded, wcsnlen(expanded, needed));
  return ERROR_SUCCESS;
}

LONG RegistryKey::WriteValue(const wchar_t* name, const wchar_t* value) {
  const size_t bytes = (wcslen(value) + 1) * sizeof(wchar_t);
  return RegSetValueExW(key_.Get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                        static_cast<DWORD>(bytes));
}

}  // namespace base

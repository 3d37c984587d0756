// RegistryKey: the owner of one open registry key. It keeps the WOW64 view bits of the
// access it was opened with, so keys derived from it land in the same view, and reports
// every failure as the Win32 error code.
//
//   RegistryKey key(HKEY_CURRENT_USER, L"Software\\Velum", KEY_READ | KEY_WOW64_32KEY);
//   std::wstring path;
//   if (key.Valid() && key.ReadValue(L"Path", &path) == ERROR_SUCCESS) ...
#ifndef BASE_WIN_REGISTRY_H_
#define BASE_WIN_REGISTRY_H_

#include <windows.h>

#include <string>

#include "base/win/scoped_generic.h"

namespace base {

class RegistryKey {
 public:
  // KEY_WOW64_64KEY | KEY_WOW64_32KEY.
  static const REGSAM kViewMask = 0x300;

  RegistryKey();
  // Creates the key when `access` asks to change it (set value, create subkey or create
  // link), else only opens it. A null root only records the view bits. The result code
  // is dropped: test Valid().
  RegistryKey(HKEY root, const wchar_t* subkey, REGSAM access);
  ~RegistryKey();
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  // On success the held key is replaced; on failure nothing changes. |security| (may be
  // null) is the descriptor of a key that is created; |disposition| (may be null)
  // receives REG_CREATED_NEW_KEY or REG_OPENED_EXISTING_KEY.
  [[nodiscard]] LONG Create(HKEY root, const wchar_t* subkey, REGSAM access,
                            SECURITY_ATTRIBUTES* security = nullptr,
                            DWORD* disposition = nullptr);
  [[nodiscard]] LONG Open(HKEY root, const wchar_t* subkey, REGSAM access);
  void Close();

  bool Valid() const { return key_.IsValid(); }
  HKEY Handle() const { return key_.Get(); }
  // The WOW64 view bits (0, KEY_WOW64_64KEY or KEY_WOW64_32KEY) to pass on to keys
  // opened beside this one.
  REGSAM view() const { return view_; }

  // REG_DWORD, or REG_BINARY of exactly 4 bytes; anything else is ERROR_CANTREAD and
  // leaves *out alone.
  [[nodiscard]] LONG ReadValueDW(const wchar_t* name, DWORD* out) const;
  // REG_SZ, or REG_EXPAND_SZ with the environment variables expanded, of at most 1024
  // units; a null name reads the default value. Other types give ERROR_CANTREAD, a
  // longer value ERROR_MORE_DATA; *out is changed only on success.
  [[nodiscard]] LONG ReadValue(const wchar_t* name, std::wstring* out) const;
  // REG_SZ, the terminating NUL counted.
  [[nodiscard]] LONG WriteValue(const wchar_t* name, const wchar_t* value);

 private:
  void Take(HKEY key, REGSAM access);

  ScopedHKEY key_;
  REGSAM view_;
};

}  // namespace base

#endif  // BASE_WIN_REGISTRY_H_

// Names and helpers that the registry operations share.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_REGISTRY_KEY_NAMES_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_REGISTRY_KEY_NAMES_H_

#include <windows.h>

#include <stdint.h>

#include <string>

namespace installer {

// The name under which the named-security calls address a key: "CLASSES_ROOT",
// "CURRENT_USER", "MACHINE" or "USERS", a backslash and the path (no prefix for any other
// root).
std::wstring GetRegistryObjectName(HKEY root, const std::wstring& key_path);

// The security object type of a key in the view |view_flags|: the 32-bit registry view
// object for exactly KEY_WOW64_32KEY, else the registry key object. The current user's
// keys outside "Software\Classes" are one key in both views, so they are always
// addressed as the registry key object.
uint32_t GetRegistrySecurityObjectType(HKEY root, const std::wstring& key_path,
                                       REGSAM view_flags);

// The path above |key_path| (backslashes only: "/" is an ordinary character in key names);
// empty for a key directly below the root.
std::wstring GetParentKeyPath(const std::wstring& key_path);

// Whether |key_path| may be deleted as a whole tree: false for an empty path, for one with
// an empty component (a name or placeholder that came out empty, as in "Software\" with
// no company name) and, under a predefined root other than HKEY_CLASSES_ROOT, for a key
// directly below the hive ("Software", a user's hive under HKEY_USERS).
[[nodiscard]] bool IsDeletableKeyPath(HKEY root, const std::wstring& key_path);

// Deletes the key with everything below it in the view |view_flags|.
[[nodiscard]] LONG DeleteRegistryKeyTree(HKEY root, const std::wstring& key_path, REGSAM view_flags);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_REGISTRY_KEY_NAMES_H_

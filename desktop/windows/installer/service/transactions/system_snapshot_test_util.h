// Test helpers: byte-exact snapshots of a folder tree and of a registry key tree (values
// and security descriptors), and a scratch registry key that is removed afterwards.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_SYSTEM_SNAPSHOT_TEST_UTIL_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_SYSTEM_SNAPSHOT_TEST_UTIL_H_

#include <windows.h>

#include <string>

#include "base/files/file_path.h"
#include "desktop/windows/installer/security/access_control.h"

namespace installer {
namespace testing {

// Every entry below |root|, sorted: relative path, attributes that matter (read-only,
// hidden, system, directory) and the file's bytes.
std::string SnapshotFileTree(const base::FilePath& root);

// The key and every subkey, sorted: relative path, group and DACL, and each value's
// name, type and bytes. "<missing>" when the key does not exist.
std::string SnapshotRegistryTree(HKEY root, const std::wstring& key_path, REGSAM view);

// The lines of two snapshots that differ ("- " gone, "+ " added, each cut at 200
// characters), for a readable failure; empty when they are equal.
std::string SnapshotDifference(const std::string& before, const std::string& after);

// A new key "Software\VelumTest\<unique>" under |root| in |view|, deleted with everything
// below it on destruction.
class ScratchRegistryKey {
 public:
  // |security| (outliving the key) is what its deletion reads and writes access lists with.
  explicit ScratchRegistryKey(HKEY root = HKEY_CURRENT_USER, REGSAM view = 0,
                              NamedSecurityInfo* security = SystemNamedSecurityInfo());
  ~ScratchRegistryKey();
  ScratchRegistryKey(const ScratchRegistryKey&) = delete;
  ScratchRegistryKey& operator=(const ScratchRegistryKey&) = delete;

  HKEY root() const { return root_; }
  REGSAM view() const { return view_; }
  // Empty when the key could not be created.
  const std::wstring& path() const { return path_; }
  std::wstring Child(const std::wstring& relative) const { return path_ + L"\\" + relative; }

  // Deletes |key_path| with everything below it.
  static void DeleteTree(HKEY root, const std::wstring& key_path, REGSAM view,
                         NamedSecurityInfo* security = SystemNamedSecurityInfo());

 private:
  HKEY root_;
  REGSAM view_;
  NamedSecurityInfo* security_;
  std::wstring path_;
};

// Writes a value, creating the key; false on failure.
[[nodiscard]] bool WriteRegistryValue(HKEY root, const std::wstring& key_path, REGSAM view,
                                      const wchar_t* name, DWORD type, const void* data,
                                      DWORD size);

}  // namespace testing
}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_SYSTEM_SNAPSHOT_TEST_UTIL_H_

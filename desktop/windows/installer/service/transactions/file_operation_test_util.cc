#include "desktop/windows/installer/service/transactions/file_operation_test_util.h"

#include <windows.h>

#include <aclapi.h>

#include <vector>

#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/files/scratch_dir_test_util.h"
#include "base/strings/string_util.h"
#include "desktop/windows/installer/service/transactions/registry_test_util.h"

namespace installer {
namespace testing {

bool MakeFile(const base::FilePath& path, const std::string& text, bool read_only) {
  if (!base::CreateDirectory(path.DirName()) || !base::WriteTextFile(path, text)) return false;
  return !read_only || SetFileAttributesW(path.value().c_str(), FILE_ATTRIBUTE_READONLY);
}

std::string ReadText(const base::FilePath& path) {
  std::string text;
  return base::ReadFileToString(path, &text) ? text : "<missing>";
}

bool HasSetAsideItem(const base::FilePath& root) {
  base::FileEnumerator walk(root, true,
                            base::FileEnumerator::FILES | base::FileEnumerator::DIRECTORIES,
                            std::wstring());
  for (base::FilePath path = walk.Next(); !path.empty(); path = walk.Next()) {
    if (base::EndsWith(path.value(), L".old", base::INSENSITIVE_ASCII)) return true;
  }
  return false;
}

bool DenyFileToCurrentUser(const base::FilePath& path, DWORD access) {
  std::vector<BYTE> sid = CurrentUserSid();
  if (sid.empty()) return false;
  EXPLICIT_ACCESS_W deny = DenyEntryFor(&sid, access);
  PACL dacl = nullptr;
  if (SetEntriesInAclW(1, &deny, nullptr, &dacl) != ERROR_SUCCESS) return false;
  std::wstring name = path.value();
  const DWORD result = SetNamedSecurityInfoW(&name[0], SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                             nullptr, nullptr, dacl, nullptr);
  LocalFree(dacl);
  return result == ERROR_SUCCESS;
}

}  // namespace testing
}  // namespace installer

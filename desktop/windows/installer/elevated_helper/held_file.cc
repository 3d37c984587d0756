#include "desktop/windows/installer/elevated_helper/held_file.h"

#include <string.h>

#include <string>
#include <utility>
#include <vector>

namespace installer {

namespace {

// "X:\..." as the system names the open file; false for anything else.
bool ReadFinalPath(HANDLE handle, base::FilePath* path) {
  const DWORD flags = FILE_NAME_NORMALIZED | VOLUME_NAME_DOS;
  const DWORD size = GetFinalPathNameByHandleW(handle, nullptr, 0, flags);
  if (size == 0) return false;
  std::vector<wchar_t> buffer(size + 1);
  const DWORD length = GetFinalPathNameByHandleW(handle, buffer.data(), size + 1, flags);
  if (length == 0 || length > size) return false;
  std::wstring text(buffer.data(), length);
  if (text.compare(0, 4, L"\\\\?\\") == 0) text.erase(0, 4);
  // Network shares ("UNC\...") and device paths have no place in a grant.
  if (text.size() < 3 || !iswalpha(text[0]) || text[1] != L':' || text[2] != L'\\') {
    SetLastError(ERROR_BAD_PATHNAME);
    return false;
  }
  *path = base::FilePath(text).StripTrailingSeparators();
  if (path->value().size() == 2) *path = base::FilePath(text.substr(0, 3));
  return true;
}

// FILE_ID_INFO and its class (Windows 8 and later), declared here as the headers give
// them only to programs that need Windows 8.
struct FileIdInfoRecord {
  ULONGLONG VolumeSerialNumber;
  BYTE FileId[16];
};
const FILE_INFO_BY_HANDLE_CLASS kFileIdInfo = static_cast<FILE_INFO_BY_HANDLE_CLASS>(18);

bool ReadIdentity(HANDLE handle, FileIdentity* identity) {
  FileIdInfoRecord id_info = {};
  if (GetFileInformationByHandleEx(handle, kFileIdInfo, &id_info, sizeof(id_info))) {
    identity->volume = id_info.VolumeSerialNumber;
    static_assert(sizeof(identity->id) == sizeof(id_info.FileId), "a 128-bit file id");
    memcpy(identity->id, &id_info.FileId, sizeof(identity->id));
    return true;
  }
  // Systems without 128-bit ids give the 64-bit index, which the 128-bit id extends.
  BY_HANDLE_FILE_INFORMATION information = {};
  if (!GetFileInformationByHandle(handle, &information)) return false;
  identity->volume = information.dwVolumeSerialNumber;
  const uint64_t index =
      (static_cast<uint64_t>(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
  memset(identity->id, 0, sizeof(identity->id));
  memcpy(identity->id, &index, sizeof(index));
  return true;
}

}  // namespace

bool FileIdentity::operator==(const FileIdentity& other) const {
  return volume == other.volume && memcmp(id, other.id, sizeof(id)) == 0;
}

bool HeldFile::Open(const base::FilePath& path, DWORD access, DWORD share, bool follow_links) {
  const DWORD flags =
      FILE_FLAG_BACKUP_SEMANTICS | (follow_links ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
  handle_.Set(CreateFileW(path.value().c_str(), access, share, nullptr, OPEN_EXISTING, flags,
                          nullptr));
  FILE_BASIC_INFO basic = {};
  if (!handle_.IsValid() || !ReadFinalPath(handle_.Get(), &final_path_) ||
      !ReadIdentity(handle_.Get(), &identity_) ||
      !GetFileInformationByHandleEx(handle_.Get(), FileBasicInfo, &basic, sizeof(basic))) {
    const DWORD error = GetLastError();
    handle_.Close();
    SetLastError(error);
    return false;
  }
  attributes_ = basic.FileAttributes;
  return true;
}

bool HeldFile::IsEmptyFolder(bool* empty) const {
  // Listed through the handle: the folder listed is the folder held.
  alignas(8) unsigned char buffer[4096];
  FILE_INFO_BY_HANDLE_CLASS kind = FileIdBothDirectoryRestartInfo;
  for (;;) {
    if (!GetFileInformationByHandleEx(handle_.Get(), kind, buffer, sizeof(buffer))) {
      if (GetLastError() != ERROR_NO_MORE_FILES) return false;
      *empty = true;
      return true;
    }
    kind = FileIdBothDirectoryInfo;
    for (size_t offset = 0;;) {
      const auto* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(buffer + offset);
      const std::wstring name(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
      if (name != L"." && name != L"..") {
        *empty = false;
        return true;
      }
      if (entry->NextEntryOffset == 0) break;
      offset += entry->NextEntryOffset;
    }
  }
}

}  // namespace installer

#include "desktop/windows/installer/grant_folder_check.h"

#include <windows.h>

#include <shlobj.h>

#include <vector>

#include "base/files/file_util.h"
#include "base/strings/string_piece.h"
#include "base/win/scoped_generic.h"

namespace installer {

namespace {

// The installation record: a folder that holds it is this product's.
const wchar_t kRecordFileName[] = L"installation_status.xml";

// Folders that must never receive an inherited grant, nor any folder above them.
const int kKnownFolders[] = {
    CSIDL_WINDOWS,
    CSIDL_PROGRAM_FILES,
    CSIDL_PROGRAM_FILESX86,
    CSIDL_PROGRAM_FILES_COMMON,
    CSIDL_PROGRAM_FILES_COMMONX86,
    CSIDL_COMMON_APPDATA,
    CSIDL_COMMON_DOCUMENTS,
    CSIDL_COMMON_DESKTOPDIRECTORY,
    CSIDL_COMMON_STARTMENU,
    CSIDL_COMMON_PROGRAMS,
    CSIDL_PROFILE,
    CSIDL_APPDATA,
    CSIDL_LOCAL_APPDATA,
    CSIDL_DESKTOPDIRECTORY,
    CSIDL_PERSONAL,
    CSIDL_STARTMENU,
    CSIDL_PROGRAMS,
};

base::FilePath KnownFolder(int csidl) {
  wchar_t path[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path)))
    return base::FilePath();
  return base::FilePath(path).StripTrailingSeparators();
}

bool IsDriveRoot(const base::FilePath& path) { return path.DirName() == path; }

}  // namespace

bool IsSameOrUnder(const base::FilePath& path, const base::FilePath& folder) {
  const std::wstring text = path.StripTrailingSeparators().value();
  const std::wstring top = folder.StripTrailingSeparators().value();
  if (top.empty() || text.size() < top.size()) return false;
  if (base::FilePath::CompareIgnoreCase(base::StringPiece16(text).substr(0, top.size()), top) != 0)
    return false;
  return text.size() == top.size() || text[top.size()] == L'\\' || top.back() == L'\\';
}

bool ResolveGrantFolder(const base::FilePath& folder, base::FilePath* resolved,
                        std::string* reason) {
  const std::wstring& text = folder.value();
  const bool drive_path = text.size() >= 3 && iswalpha(text[0]) && text[1] == L':' &&
                          (text[2] == L'\\' || text[2] == L'/');
  if (!drive_path) {
    *reason = "not a plain absolute path";
    return false;
  }
  wchar_t full[MAX_PATH] = {};
  const DWORD length = GetFullPathNameW(text.c_str(), MAX_PATH, full, nullptr);
  if (length == 0 || length >= MAX_PATH) {
    *reason = "the path cannot be resolved";
    return false;
  }
  base::FilePath path = base::FilePath(full).StripTrailingSeparators();
  // Short names would slip past the comparisons: resolve the part that exists.
  std::vector<std::wstring> missing;
  base::FilePath existing = path;
  while (!base::PathExists(existing) && !IsDriveRoot(existing)) {
    missing.push_back(existing.BaseName().value());
    existing = existing.DirName();
  }
  wchar_t long_path[MAX_PATH] = {};
  const DWORD long_length = GetLongPathNameW(existing.value().c_str(), long_path, MAX_PATH);
  if (long_length == 0 || long_length >= MAX_PATH) {
    *reason = "the path cannot be resolved";
    return false;
  }
  path = base::FilePath(long_path).StripTrailingSeparators();
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) path = path.Append(*it);
  *resolved = path;
  return true;
}

bool FindReparsePoint(const base::FilePath& path, const base::FilePath& stop,
                      base::FilePath* reparse_point) {
  for (base::FilePath current = path.StripTrailingSeparators();; current = current.DirName()) {
    if (!stop.empty() && IsSameOrUnder(stop, current)) return false;
    const DWORD attributes = GetFileAttributesW(current.value().c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      *reparse_point = current;
      return true;
    }
    if (IsDriveRoot(current)) return false;
  }
}

bool IsGrantablePlace(const base::FilePath& folder, std::string* reason) {
  if (IsDriveRoot(folder)) {
    *reason = "a drive root";
    return false;
  }
  base::FilePath reparse_point;
  if (FindReparsePoint(folder, base::FilePath(), &reparse_point)) {
    *reason = "the reparse point " + reparse_point.AsUTF8();
    return false;
  }
  for (int csidl : kKnownFolders) {
    const base::FilePath known = KnownFolder(csidl);
    if (known.empty()) continue;
    if (IsSameOrUnder(known, folder) || (csidl == CSIDL_WINDOWS && IsSameOrUnder(folder, known))) {
      *reason = "the system folder " + known.AsUTF8();
      return false;
    }
    // Every user's profile folder sits beside this user's.
    const base::FilePath profiles = known.DirName();
    if (csidl == CSIDL_PROFILE && IsSameOrUnder(folder.DirName(), profiles) &&
        IsSameOrUnder(profiles, folder.DirName())) {
      *reason = "a profile folder";
      return false;
    }
  }
  return true;
}

bool HoldGrantableFolder(const base::FilePath& folder, base::ScopedHandle* hold,
                         std::string* reason) {
  // Without delete sharing neither the folder nor any folder above it can be renamed
  // while the handle is open, so the path keeps naming what was checked.
  hold->Set(CreateFileW(folder.value().c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  BY_HANDLE_FILE_INFORMATION information = {};
  if (!hold->IsValid() || !GetFileInformationByHandle(hold->Get(), &information)) {
    *reason = "the folder cannot be opened";
    return false;
  }
  if (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    *reason = "a reparse point";
    return false;
  }
  if (!(information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    *reason = "not a folder";
    return false;
  }
  if (base::PathExists(folder.Append(kRecordFileName))) return true;
  WIN32_FIND_DATAW entry = {};
  base::ScopedFindHandle find(FindFirstFileW(folder.Append(L"*").value().c_str(), &entry));
  if (!find.IsValid()) return true;
  bool empty = true;
  do {
    const std::wstring name = entry.cFileName;
    empty = name == L"." || name == L"..";
  } while (empty && FindNextFileW(find.Get(), &entry));
  if (!empty) {
    *reason = "a folder that holds another program's files";
    return false;
  }
  return true;
}

}  // namespace installer

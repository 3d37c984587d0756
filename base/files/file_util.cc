#include "base/files/file_util.h"

#include <shlobj.h>
#include <share.h>
#include <stdlib.h>

#include <vector>

#include "base/files/file.h"
#include "base/files/file_enumerator.h"
#include "base/guid.h"
#include "base/logging.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_handle.h"

namespace base {

namespace {

const size_t kMaxPath = MAX_PATH;

// The verbose lines of the file utilities go by this module name ("file_util_win").
const char kFileUtilLogModule[] = "base/files/file_util_win.cc";

bool TooLong(const FilePath& path) {
  return path.value().size() >= kMaxPath;
}

bool IsReparsePoint(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

[[nodiscard]] bool ClearReadOnly(const FilePath& path, DWORD attributes) {
  if (!(attributes & FILE_ATTRIBUTE_READONLY)) return true;
  return ::SetFileAttributesW(path.value().c_str(),
                              attributes & ~FILE_ATTRIBUTE_READONLY) != FALSE;
}

[[nodiscard]] bool CopyOneFile(const FilePath& from, const FilePath& to, bool fail_if_exists,
                               bool source_writable) {
  if (from.ReferencesParent() || to.ReferencesParent()) return false;
  if (TooLong(from) || TooLong(to)) return false;
  if (!::CopyFileW(from.value().c_str(), to.value().c_str(), fail_if_exists)) return false;
  // The copy takes the source's attributes: only a read-only source makes it read-only.
  if (source_writable) return true;
  DWORD attributes = ::GetFileAttributesW(to.value().c_str());
  // The file is copied; a copy left read-only is only in the way of a later write.
  if (attributes != INVALID_FILE_ATTRIBUTES && !ClearReadOnly(to, attributes))
    PLOG(WARNING) << "Cannot clear the read-only attribute of " << to.AsUTF8();
  return true;
}

// Text up to a NUL, without trailing separators.
FilePath PathFromBuffer(const wchar_t* buffer) {
  return FilePath(buffer).StripTrailingSeparators();
}

// Upper-cased the way Windows compares file names, for case-insensitive containment.
FilePath UpperCased(const FilePath& path) {
  std::wstring text = path.value();
  if (!text.empty()) CharUpperBuffW(&text[0], static_cast<DWORD>(text.size()));
  return FilePath(text);
}

}  // namespace

bool PathExists(const FilePath& path) {
  return ::GetFileAttributesW(path.value().c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool DirectoryExists(const FilePath& path) {
  DWORD attributes = ::GetFileAttributesW(path.value().c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool PathIsWritable(const FilePath& directory) {
  ScopedHandle handle(::CreateFileW(directory.value().c_str(), FILE_ADD_FILE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                   nullptr));
  return handle.IsValid();
}

bool GetTempDir(FilePath* path) {
  wchar_t buffer[kMaxPath + 1];
  DWORD length = ::GetTempPathW(kMaxPath, buffer);
  if (length == 0 || length >= kMaxPath) return false;
  *path = PathFromBuffer(buffer);
  return true;
}

FilePath GetHomeDir() {
  wchar_t buffer[kMaxPath];
  if (SUCCEEDED(::SHGetFolderPathW(nullptr, CSIDL_PROFILE, nullptr, SHGFP_TYPE_CURRENT,
                                   buffer)) &&
      buffer[0]) {
    return FilePath(buffer);
  }
  FilePath temp;
  if (GetTempDir(&temp)) return temp;
  return FilePath(L"C:\\");
}

bool GetCurrentDirectoryPath(FilePath* path) {
  wchar_t buffer[kMaxPath + 1];
  DWORD length = ::GetCurrentDirectoryW(kMaxPath, buffer);
  if (length == 0 || length > kMaxPath) return false;
  *path = PathFromBuffer(buffer);
  return true;
}

FilePath MakeAbsoluteFilePath(const FilePath& path) {
  wchar_t buffer[kMaxPath];
  if (!_wfullpath(buffer, path.value().c_str(), kMaxPath)) return FilePath();
  return FilePath(buffer);
}

bool CreateDirectoryAndGetError(const FilePath& path, int32_t* error) {
  // A path past the limit cannot be created by the calls below anyway; refusing it
  // first also bounds the walk, whatever depth an archive entry name claims.
  if (TooLong(path)) {
    if (error) *error = File::FILE_ERROR_FAILED;
    return false;
  }
  // Up to the deepest existing folder, then down again creating each missing one:
  // iterative, so no depth of path costs stack.
  std::vector<FilePath> missing;
  FilePath current = path;
  for (;;) {
    DWORD attributes = ::GetFileAttributesW(current.value().c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
      if (attributes & FILE_ATTRIBUTE_DIRECTORY) break;
      if (error) *error = File::FILE_ERROR_NOT_A_DIRECTORY;
      return false;
    }
    FilePath parent = current.DirName();
    if (parent == current) {
      if (error) *error = File::FILE_ERROR_NOT_FOUND;
      return false;
    }
    missing.push_back(current);
    current = parent;
  }
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    if (::CreateDirectoryW(it->value().c_str(), nullptr)) continue;
    DWORD last_error = ::GetLastError();
    // Another process may have created it meanwhile.
    if (last_error == ERROR_ALREADY_EXISTS && DirectoryExists(*it)) continue;
    if (error) *error = File::FromWin32Error(last_error);
    return false;
  }
  return true;
}

bool CreateDirectory(const FilePath& path) {
  return CreateDirectoryAndGetError(path, nullptr);
}

bool DeleteFile(const FilePath& path, bool recursive) {
  if (path.empty()) return true;
  if (TooLong(path)) return false;
  std::wstring base_name = path.BaseName().value();
  if (base_name.find_first_of(L"*?") != std::wstring::npos)
    return DeleteFileRecursive(path.DirName(), base_name, recursive);

  DWORD attributes = ::GetFileAttributesW(path.value().c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return true;
  if (IsReparsePoint(attributes) && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    // A junction or directory link: remove the link, never what it points to.
    return ::RemoveDirectoryW(path.value().c_str()) != FALSE;
  }
  if (!ClearReadOnly(path, attributes)) return false;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    if (recursive && !DeleteFileRecursive(path, L"*", true)) return false;
    return ::RemoveDirectoryW(path.value().c_str()) != FALSE;
  }
  return ::DeleteFileW(path.value().c_str()) != FALSE;
}

void DeleteFileBestEffort(const FilePath& path, bool recursive) {
  if (!DeleteFile(path, recursive))
    VLOG(1) << "Leaving " << WideToUTF8(path.value()) << " behind: " << ::GetLastError();
}

bool DeleteFileRecursive(const FilePath& directory, const std::wstring& pattern,
                         bool recursive) {
  FileEnumerator entries(directory, false, FileEnumerator::FILES | FileEnumerator::DIRECTORIES,
                         pattern);
  for (FilePath entry = entries.Next(); !entry.empty(); entry = entries.Next()) {
    DWORD attributes = entries.GetInfo().find_data.dwFileAttributes;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
      if (!recursive) continue;
      if (IsReparsePoint(attributes)) {
        // Never descend into a link: its target lies outside this tree.
        if (!::RemoveDirectoryW(entry.value().c_str())) return false;
        continue;
      }
      if (!ClearReadOnly(entry, attributes)) return false;
      if (!DeleteFileRecursive(entry, pattern, true)) return false;
      if (!::RemoveDirectoryW(entry.value().c_str())) return false;
    } else {
      if (!ClearReadOnly(entry, attributes)) return false;
      if (!::DeleteFileW(entry.value().c_str())) return false;
    }
  }
  return true;
}

bool CreateTemporaryFileInDir(const FilePath& directory, FilePath* temp_file) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    FilePath path = directory.Append(ASCIIToWide(GenerateGuid()) + L".tmp");
    File file(path, File::FLAG_CREATE | File::FLAG_READ | File::FLAG_WRITE);
    if (!file.IsValid()) continue;
    file.Close();
    wchar_t long_path[kMaxPath];
    DWORD length = ::GetLongPathNameW(path.value().c_str(), long_path, kMaxPath);
    *temp_file = (length > 0 && length < kMaxPath) ? FilePath(long_path) : path;
    return true;
  }
  return false;
}

bool CopyFile(const FilePath& from, const FilePath& to) {
  return CopyOneFile(from, to, false, false);
}

bool CopyFileToFreePath(const FilePath& from, const FilePath& to, bool source_writable) {
  return CopyOneFile(from, to, true, source_writable);
}

bool Move(const FilePath& from, const FilePath& to) {
  if (from.ReferencesParent() || to.ReferencesParent()) return false;
  return MoveUnsafe(from, to);
}

bool MoveUnsafe(const FilePath& from, const FilePath& to) {
  if (TooLong(from) || TooLong(to)) return false;
  if (::MoveFileExW(from.value().c_str(), to.value().c_str(),
                    MOVEFILE_COPY_ALLOWED | MOVEFILE_REPLACE_EXISTING)) {
    return true;
  }
  DWORD move_error = ::GetLastError();
  // Directories cannot be moved across volumes; copy and delete instead.
  if (DirectoryExists(from) && CopyDirectory(from, to) && DeleteFile(from, true))
    return true;
  ::SetLastError(move_error);
  return false;
}

bool CopyDirectory(const FilePath& from, const FilePath& to) {
  if (TooLong(from) || TooLong(to)) return false;
  bool to_exists = PathExists(to);
  FilePath real_to = MakeAbsoluteFilePath(to_exists ? to : to.DirName());
  FilePath real_from = MakeAbsoluteFilePath(from);
  if (real_to.empty() || real_from.empty()) return false;
  // File names compare case-insensitively: "C:\A" and "c:\a\b" are the same tree; and
  // "C:\a\" is "C:\a".
  FilePath upper_from = UpperCased(real_from).StripTrailingSeparators();
  FilePath upper_to = UpperCased(real_to).StripTrailingSeparators();
  if (upper_to == upper_from || upper_from.IsParent(upper_to)) return false;

  if (!PathExists(from)) return false;
  FileEnumerator entries(from, true, FileEnumerator::FILES | FileEnumerator::DIRECTORIES,
                         std::wstring());
  FilePath base = from;
  if (DirectoryExists(to)) base = from.DirName();

  FilePath current = from;
  bool is_directory = DirectoryExists(from);
  while (!current.empty()) {
    FilePath target = to;
    if (current != base && !base.AppendRelativePath(current, &target)) return false;
    if (is_directory) {
      if (!DirectoryExists(target) && !::CreateDirectoryW(target.value().c_str(), nullptr))
        return false;
    } else if (!CopyFile(current, target)) {
      return false;
    }
    current = entries.Next();
    is_directory = entries.GetInfo().IsDirectory();
  }
  return true;
}

bool ReplaceFile(const FilePath& from, const FilePath& to) {
  if (::MoveFileW(from.value().c_str(), to.value().c_str())) return true;
  File::FromWin32Error(::GetLastError());
  return ::ReplaceFileW(to.value().c_str(), from.value().c_str(), nullptr,
                        REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr) != FALSE;
}

bool ReadFileToString(const FilePath& path, std::string* contents) {
  return ReadFileToStringWithMaxSize(path, contents, static_cast<size_t>(-1));
}

bool ReadFileToStringWithMaxSize(const FilePath& path, std::string* contents,
                                 size_t max_size) {
  if (contents) contents->clear();
  if (path.ReferencesParent()) return false;
  FILE* file = OpenFile(path);
  if (!file) return false;

  const size_t kChunkSize = 1 << 16;
  std::string chunk(kChunkSize, '\0');
  size_t total = 0;
  bool result = true;
  size_t read;
  while ((read = fread(&chunk[0], 1, kChunkSize, file)) > 0) {
    size_t allowed = max_size - total;
    if (contents) contents->append(chunk.data(), read < allowed ? read : allowed);
    if (read > allowed) {
      result = false;
      break;
    }
    total += read;
  }
  if (result && ferror(file)) result = false;
  fclose(file);
  return result;
}

int WriteFile(const FilePath& path, const char* data, int size) {
  ScopedHandle handle(::CreateFileW(path.value().c_str(), GENERIC_WRITE, 0, nullptr,
                                   CREATE_ALWAYS, 0, nullptr));
  if (!handle.IsValid()) return -1;
  DWORD written = 0;
  BOOL ok = size >= 0 &&
            ::WriteFile(handle.Get(), data, static_cast<DWORD>(size), &written, nullptr);
  if (!ok || static_cast<int>(written) != size) return -1;
  return size;
}

bool AppendToFile(const FilePath& path, const char* data, int size) {
  ScopedHandle handle(::CreateFileW(path.value().c_str(), FILE_APPEND_DATA, 0, nullptr,
                                   OPEN_EXISTING, 0, nullptr));
  if (!handle.IsValid()) {
    DWORD error = ::GetLastError();
    VPLOG_WITH_ERROR(kFileUtilLogModule, 1, error)
        << "CreateFile failed for path " << path.AsUTF8();
    return false;
  }
  DWORD written = 0;
  BOOL ok = size >= 0 &&
            ::WriteFile(handle.Get(), data, static_cast<DWORD>(size), &written, nullptr);
  DWORD error = ::GetLastError();
  handle.Close();
  if (!ok) {
    VPLOG_WITH_ERROR(kFileUtilLogModule, 1, error)
        << "Writing file " << path.AsUTF8() << " failed";
    return false;
  }
  if (static_cast<int>(written) != size) {
    VPLOG_WITH_ERROR(kFileUtilLogModule, 1, error)
        << "Only wrote " << written << " out of " << size << " byte(s) to " << path.AsUTF8();
    return false;
  }
  return true;
}

FILE* OpenFile(const FilePath& path) {
  return _wfsopen(path.value().c_str(), L"rbN", _SH_DENYNO);
}

Result<FilePath> GetFinalPathOfHandle(HANDLE handle) {
  const DWORD flags = FILE_NAME_NORMALIZED | VOLUME_NAME_DOS;
  const DWORD size = GetFinalPathNameByHandleW(handle, nullptr, 0, flags);
  if (size == 0) return Failure{GetLastError(), 0, "no final path", {}};
  std::vector<wchar_t> buffer(size + 1);
  const DWORD length = GetFinalPathNameByHandleW(handle, buffer.data(), size + 1, flags);
  if (length == 0 || length > size)
    return Failure{length == 0 ? GetLastError() : 0, 0, "no final path", {}};
  std::wstring text(buffer.data(), length);
  if (text.compare(0, 4, L"\\\\?\\") == 0) text.erase(0, 4);
  return FilePath(text);
}

}  // namespace base

#include "base/files/file_enumerator.h"

#include <string.h>

#include "base/win/windows_version.h"

namespace base {

FileEnumerator::FileInfo::FileInfo() {
  memset(&find_data, 0, sizeof(find_data));
}

bool FileEnumerator::FileInfo::IsDirectory() const {
  return (find_data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

FileEnumerator::FileEnumerator(const FilePath& root, bool recursive, int file_type,
                               const std::wstring& pattern)
    : root_path_(root), recursive_(recursive), file_type_(file_type), pattern_(pattern) {
  memset(&find_data_, 0, sizeof(find_data_));
  pending_paths_.push(root);
}

FileEnumerator::FileEnumerator(const FilePath& root, int file_type)
    : FileEnumerator(root, true, file_type, std::wstring()) {}

FileEnumerator::~FileEnumerator() = default;

FileEnumerator::FileInfo FileEnumerator::GetInfo() const {
  FileInfo info;
  info.find_data = find_data_;
  return info;
}

bool FileEnumerator::ShouldSkip(const wchar_t* name) const {
  if (wcscmp(name, L".") == 0) return true;
  return wcscmp(name, L"..") == 0 && !(file_type_ & INCLUDE_DOT_DOT);
}

FilePath FileEnumerator::Next() {
  while (has_find_data_ || !pending_paths_.empty()) {
    if (!has_find_data_) {
      root_path_ = pending_paths_.top();
      pending_paths_.pop();
      FilePath search = root_path_.Append(pattern_.empty() ? std::wstring(L"*") : pattern_);
      // Windows 7 and later: no short names and large fetches are faster.
      if (OsInfo::Instance()->version() >= OS_VERSION_WIN7) {
        find_handle_.Reset(FindFirstFileExW(search.value().c_str(), FindExInfoBasic,
                                            &find_data_, FindExSearchNameMatch, nullptr,
                                            FIND_FIRST_EX_LARGE_FETCH));
      } else {
        find_handle_.Reset(FindFirstFileW(search.value().c_str(), &find_data_));
      }
      has_find_data_ = true;
    } else if (!FindNextFileW(find_handle_.Get(), &find_data_)) {
      find_handle_.Reset();
    }

    if (!find_handle_.IsValid()) {
      has_find_data_ = false;
      // The pattern is for the first directory only; subdirectories are listed whole.
      pattern_.clear();
      continue;
    }
    if (ShouldSkip(find_data_.cFileName)) continue;

    FilePath path = root_path_.Append(find_data_.cFileName);
    if (find_data_.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      // A junction or directory link leads out of the tree, and ".." climbs out of it
      // (to walk the parent again, and again): never follow either.
      if (recursive_ && wcscmp(find_data_.cFileName, L"..") != 0 &&
          !(GetFileAttributesW(path.value().c_str()) & FILE_ATTRIBUTE_REPARSE_POINT)) {
        pending_paths_.push(path);
      }
      if (file_type_ & DIRECTORIES) return path;
    } else if (file_type_ & FILES) {
      return path;
    }
  }
  return FilePath();
}

}  // namespace base

// FileEnumerator: walks a directory (optionally its subdirectories) entry by entry.
// It never enters junctions or directory symbolic links.
//
//   FileEnumerator files(dir, true, FileEnumerator::FILES, L"*.log");
//   for (FilePath path = files.Next(); !path.empty(); path = files.Next()) ...
#ifndef BASE_FILES_FILE_ENUMERATOR_H_
#define BASE_FILES_FILE_ENUMERATOR_H_

#include <windows.h>

#include <stack>
#include <string>

#include "base/files/file_path.h"
#include "base/win/scoped_generic.h"

namespace base {

class FileEnumerator {
 public:
  // The find data of the current entry.
  struct FileInfo {
    FileInfo();
    [[nodiscard]] bool IsDirectory() const;
    WIN32_FIND_DATAW find_data;
  };

  enum FileType {
    FILES = 1,
    DIRECTORIES = 2,
    INCLUDE_DOT_DOT = 4,
  };

  // |pattern| applies in |root| only (subdirectories are listed whole); empty is "*".
  FileEnumerator(const FilePath& root, bool recursive, int file_type,
                 const std::wstring& pattern);
  // Recursive, without a pattern.
  FileEnumerator(const FilePath& root, int file_type);
  ~FileEnumerator();
  FileEnumerator(const FileEnumerator&) = delete;
  FileEnumerator& operator=(const FileEnumerator&) = delete;

  // The next path, or the empty path when the walk is over. Entries come in the
  // system's order; subdirectories after their parent is finished, the last found first.
  FilePath Next();

  // The current find data; all zero before the first find.
  FileInfo GetInfo() const;

 private:
  [[nodiscard]] bool ShouldSkip(const wchar_t* name) const;

  bool has_find_data_ = false;
  WIN32_FIND_DATAW find_data_;
  ScopedFindHandle find_handle_;
  FilePath root_path_;
  bool recursive_;
  int file_type_;
  std::wstring pattern_;
  std::stack<FilePath> pending_paths_;
};

}  // namespace base

#endif  // BASE_FILES_FILE_ENUMERATOR_H_

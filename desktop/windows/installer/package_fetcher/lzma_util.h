// LzmaUtil unpacks a 7z archive (the full package) into a folder with the LZMA SDK.
//
//   LzmaUtil util;
//   if (util.Open(archive) == 0 && util.ExtractArchiveTo(folder, nullptr) == 0) ...
//
// Entries whose names would leave the destination folder ("..", absolute or drive names)
// are refused as unusable names.
#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_LZMA_UTIL_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_LZMA_UTIL_H_

#include <windows.h>

#include <set>

#include "base/files/file_path.h"
#include "base/win/scoped_handle.h"

namespace installer {

class FetcherDelegate;

class LzmaUtil {
 public:
  enum ErrorKind {
    ERROR_KIND_NONE = 0,
    ERROR_KIND_ARCHIVE_NOT_FOUND = 1,
    ERROR_KIND_ARCHIVE_NOT_OPENABLE = 2,
    ERROR_KIND_NOT_7Z = 3,
    ERROR_KIND_DECODING = 4,
    ERROR_KIND_PAGING = 5,
    ERROR_KIND_NO_NAME = 6,
    ERROR_KIND_CREATE_FILE = 7,
    ERROR_KIND_WRITE = 8,
    ERROR_KIND_SET_TIME = 9,
    ERROR_KIND_CLOSE = 10,
  };

  LzmaUtil();
  ~LzmaUtil();
  LzmaUtil(const LzmaUtil&) = delete;
  LzmaUtil& operator=(const LzmaUtil&) = delete;

  // 0, or the Win32 error of opening |archive| for reading.
  DWORD Open(const base::FilePath& archive);
  // 0 on success; 6 when nothing is open, the archive is unreadable, an entry does not
  // decode or has no usable name; the Win32 error of a failed create, write, time or
  // close; ERROR_IO_DEVICE after a paging error in the output mapping. |last_output|
  // (may be null) receives the path of the last entry handled.
  DWORD ExtractArchiveTo(const base::FilePath& folder, base::FilePath* last_output);
  void Close();
  // True when |path| exists from this extraction or could be created (with parents).
  bool EnsureFolder(const base::FilePath& path);

  int last_error_kind() const { return last_error_kind_; }
  DWORD paging_status() const { return paging_status_; }
  void set_progress_delegate(FetcherDelegate* delegate) { progress_ = delegate; }

 private:
  base::ScopedHandle archive_;
  std::set<base::FilePath> created_folders_;
  int last_error_kind_ = ERROR_KIND_NONE;
  DWORD paging_status_ = 0;
  FetcherDelegate* progress_ = nullptr;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_LZMA_UTIL_H_

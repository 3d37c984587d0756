// LzmaUtil unpacks a 7z archive (the full package) into a folder with the LZMA SDK. The
// files are written on a thread of their own (OutputWriter) while the next ones decode.
//
//   LzmaUtil util;
//   if (util.Open(archive) == 0 && util.ExtractArchiveTo(folder, nullptr) == 0) ...
//
// Entries whose names would leave the destination folder ("..", absolute or drive names),
// name a device ("NUL", "com1.txt"), hold characters Windows drops or refuses, or make a
// path of MAX_PATH characters or more are refused as unusable names.
#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_LZMA_UTIL_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_LZMA_UTIL_H_

#include <windows.h>

#include <stdint.h>

#include <set>

#include "base/files/file_path.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/package_fetcher/output_writer.h"

namespace installer {

class FetcherDelegate;
class MappedFileAllocator;

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

  // The result for an archive that cannot be used: none open, unreadable, an entry that
  // does not decode, or an entry without a usable name.
  static constexpr DWORD kBadArchiveResult = 6;

  // |write_data| writes the files' data (::WriteFile when empty; see OutputWriter).
  explicit LzmaUtil(const OutputWriter::WriteData& write_data = OutputWriter::WriteData());
  ~LzmaUtil();
  LzmaUtil(const LzmaUtil&) = delete;
  LzmaUtil& operator=(const LzmaUtil&) = delete;

  // 0, or the Win32 error of opening |archive| for reading.
  [[nodiscard]] DWORD Open(const base::FilePath& archive);
  // 0 on success; kBadArchiveResult when nothing is open, the archive is unreadable, an
  // entry does not decode or has no usable name; the Win32 error of a failed folder
  // creation, file creation, write, time or close; ERROR_IO_DEVICE after a paging error
  // (a full disk) in the output mapping. |last_output| (may be null) receives the path
  // of the last entry handled.
  [[nodiscard]] DWORD ExtractArchiveTo(const base::FilePath& folder,
                                       base::FilePath* last_output);
  void Close();
  // True when |path| exists from this extraction or could be created (with parents).
  [[nodiscard]] bool EnsureFolder(const base::FilePath& path);

  int last_error_kind() const { return last_error_kind_; }
  DWORD paging_status() const { return paging_status_; }
  void set_progress_delegate(FetcherDelegate* delegate) { progress_ = delegate; }

  // Maps the output view read-only, and decodes every block into it, so that the
  // decoder's first write faults inside it as a write to a mapped file on a full disk does.
  void set_read_only_output_for_testing(bool read_only) { read_only_output_ = read_only; }

 private:
  class ArchiveReader;

  // Decodes entry |index| and queues it to |writer|; 0 or the extraction's result.
  DWORD ExtractEntry(ArchiveReader& archive, uint32_t index, MappedFileAllocator& allocator,
                     OutputWriter& writer, const base::FilePath& folder,
                     base::FilePath* last_output);
  // Decodes entry |index|, |data| and |size| receiving its bytes; 0 or the failure.
  DWORD DecodeEntry(ArchiveReader& archive, uint32_t index, MappedFileAllocator& allocator,
                    OutputWriter& writer, base::FilePath* last_output,
                    const unsigned char** data, size_t* size);
  // Sets |output| to entry |index|'s path below |folder|; 0, or the failure of a name
  // that is refused (logged).
  DWORD NameEntry(ArchiveReader& archive, uint32_t index, const base::FilePath& folder,
                  OutputWriter& writer, base::FilePath* last_output, base::FilePath* output);
  // Logs and returns the Win32 error of a folder that could not be made.
  DWORD FolderFailure(const base::FilePath& path);
  // Waits for |writer| to finish what is queued; 0, or its failure with the error kind
  // and |last_output| (may be null) set to the failed output.
  DWORD WriterFailure(OutputWriter& writer, base::FilePath* last_output);
  // Before entry |index| fails: the writer's failure, or 0 once the writer has written
  // every entry before it and the entry's progress is reported.
  DWORD FailEntry(uint32_t index, OutputWriter& writer, base::FilePath* last_output);

  base::ScopedHandle archive_;
  std::set<base::FilePath> created_folders_;
  int last_error_kind_ = ERROR_KIND_NONE;
  DWORD paging_status_ = 0;
  FetcherDelegate* progress_ = nullptr;
  bool read_only_output_ = false;
  const OutputWriter::WriteData write_data_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_LZMA_UTIL_H_

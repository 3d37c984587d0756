// LzmaUtil unpacks a 7z archive (the full package) into a folder with the LZMA SDK. The
// files are written on a thread of their own (OutputWriter) while the next ones decode.
//
//   LzmaUtil util;
//   if (util.Open(archive).ok() && util.ExtractArchiveTo(folder).ok()) ...
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
#include "base/result.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/package_fetcher/extraction_error_kind.h"
#include "desktop/windows/installer/package_fetcher/output_writer.h"

namespace installer {

class FetcherDelegate;
class MappedFileAllocator;

class LzmaUtil {
 public:
  // The error of an archive that cannot be used: none open, unreadable, an entry that
  // does not decode, or an entry without a usable name.
  static constexpr DWORD kBadArchiveResult = 6;

  // Where decoded blocks go. kHeapOrMapped: small blocks to the heap, large ones to a
  // mapped view of a temporary file. kReadOnlyMapped (for tests): every block to a view
  // mapped read-only, so that the decoder's first write faults inside it as a write to a
  // mapped file on a full disk does.
  enum class OutputMemory { kHeapOrMapped, kReadOnlyMapped };

  // |write_data| writes the files' data (::WriteFile when empty; see OutputWriter).
  explicit LzmaUtil(const OutputWriter::WriteData& write_data = OutputWriter::WriteData(),
                    OutputMemory output_memory = OutputMemory::kHeapOrMapped);
  ~LzmaUtil();
  LzmaUtil(const LzmaUtil&) = delete;
  LzmaUtil& operator=(const LzmaUtil&) = delete;

  // Opens |archive| for reading; the failure holds the Win32 error, with the kind
  // ERROR_KIND_ARCHIVE_NOT_FOUND or ERROR_KIND_ARCHIVE_NOT_OPENABLE.
  base::Result<> Open(const base::FilePath& archive);
  // Unpacks the open archive into |folder|. The failure's error: kBadArchiveResult when
  // nothing is open, the archive is unreadable, an entry does not decode or has no usable
  // name; the Win32 error of a failed folder creation, file creation, write, time or
  // close; ERROR_IO_DEVICE after a paging error (a full disk) in the output mapping. Its
  // kind is the ExtractionErrorKind, its path the output it failed on (empty when the
  // failure is no output's).
  base::Result<> ExtractArchiveTo(const base::FilePath& folder);
  void Close();

  // The status of the last paging error in the output mapping (ERROR_KIND_PAGING).
  DWORD paging_status() const { return paging_status_; }
  void set_progress_delegate(FetcherDelegate* delegate) { progress_ = delegate; }

 private:
  class ArchiveReader;

  // Decodes entry |index| and queues it to |writer|.
  base::Result<> ExtractEntry(ArchiveReader& archive, uint32_t index,
                              MappedFileAllocator& allocator, OutputWriter& writer,
                              const base::FilePath& folder);
  // Decodes entry |index|, |data| and |size| receiving its bytes.
  base::Result<> DecodeEntry(ArchiveReader& archive, uint32_t index,
                             MappedFileAllocator& allocator, OutputWriter& writer,
                             const unsigned char** data, size_t* size);
  // Entry |index|'s path below |folder|, or the failure of a name that is refused (logged).
  base::Result<base::FilePath> NameEntry(ArchiveReader& archive, uint32_t index,
                                         const base::FilePath& folder, OutputWriter& writer);
  // Makes |path| with its parents unless this extraction made it; the failure (logged)
  // holds the Win32 error.
  base::Result<> MakeFolder(const base::FilePath& path);
  // Before entry |index| fails: the writer's failure, or success once the writer has
  // written every entry before it and the entry's progress is reported.
  base::Result<> FailEntry(uint32_t index, OutputWriter& writer);

  base::ScopedHandle archive_;
  base::FilePath archive_path_;
  std::set<base::FilePath> created_folders_;
  DWORD paging_status_ = 0;
  FetcherDelegate* progress_ = nullptr;
  const OutputWriter::WriteData write_data_;
  const OutputMemory output_memory_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_LZMA_UTIL_H_

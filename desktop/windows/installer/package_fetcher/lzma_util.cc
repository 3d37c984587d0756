#include "desktop/windows/installer/package_fetcher/lzma_util.h"

#include <algorithm>
#include <string>
#include <vector>

#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/win/exception_guard.h"
#include "desktop/windows/installer/wininet/fetcher_delegate.h"
#include "desktop/windows/installer/package_fetcher/mapped_file_allocator.h"
#include "desktop/windows/installer/service/file_name_checks.h"
#include "lzma/7z.h"
#include "lzma/7zAlloc.h"
#include "lzma/7zCrc.h"

namespace installer {

namespace {

const size_t kLookBufferSize = 1 << 16;

// The SDK's seekable input over the archive handle.
struct FileInStream {
  ISeekInStream vt;
  HANDLE file;
};

// Follows the SDK's convention: the end of the file is a short read, not an error.
SRes FileRead(ISeekInStreamPtr p, void* buffer, size_t* size) {
  const FileInStream* self = reinterpret_cast<const FileInStream*>(p);
  size_t wanted = *size;
  size_t done = 0;
  char* out = static_cast<char*>(buffer);
  while (done < wanted) {
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(wanted - done, 1u << 30));
    DWORD read = 0;
    if (!::ReadFile(self->file, out + done, chunk, &read, nullptr)) {
      *size = done;
      return SZ_ERROR_READ;
    }
    if (read == 0) break;
    done += read;
  }
  *size = done;
  return SZ_OK;
}

SRes FileSeek(ISeekInStreamPtr p, Int64* position, ESzSeek origin) {
  const FileInStream* self = reinterpret_cast<const FileInStream*>(p);
  DWORD method;
  switch (origin) {
    case SZ_SEEK_SET: method = FILE_BEGIN; break;
    case SZ_SEEK_CUR: method = FILE_CURRENT; break;
    case SZ_SEEK_END: method = FILE_END; break;
    default: return SZ_ERROR_PARAM;
  }
  LONG high = static_cast<LONG>(*position >> 32);
  ::SetLastError(NO_ERROR);
  DWORD low = ::SetFilePointer(self->file, static_cast<LONG>(*position & 0xFFFFFFFF), &high,
                               method);
  if (low == INVALID_SET_FILE_POINTER && ::GetLastError() != NO_ERROR) return SZ_ERROR_FAIL;
  *position = (static_cast<Int64>(high) << 32) | low;
  return SZ_OK;
}

const ISzAlloc kHeapAlloc = {SzAlloc, SzFree};

// One SzArEx_Extract call, run inside the exception guard.
struct ExtractCall {
  const CSzArEx* db;
  ILookInStreamPtr stream;
  UInt32 index;
  UInt32* block;
  Byte** buffer;
  size_t* buffer_size;
  size_t* offset;
  size_t* processed;
  ISzAllocPtr alloc_main;
  SRes result;
};

void RunExtract(void* context) {
  ExtractCall* call = static_cast<ExtractCall*>(context);
  call->result = SzArEx_Extract(call->db, call->stream, call->index, call->block, call->buffer,
                                call->buffer_size, call->offset, call->processed,
                                call->alloc_main, &kHeapAlloc);
}

struct PagingFilterContext {
  const MappedFileAllocator* allocator;
  DWORD status;
};

LONG PagingErrorFilter(EXCEPTION_POINTERS* info, void* context) {
  PagingFilterContext* filter = static_cast<PagingFilterContext*>(context);
  return filter->allocator->IsPagingErrorInView(*info->ExceptionRecord, &filter->status)
             ? EXCEPTION_EXECUTE_HANDLER
             : EXCEPTION_CONTINUE_SEARCH;
}

// The output path of entry |name| below |folder|, or the reason there is none. A
// trailing separator (a folder entry of some packers) is dropped.
NameProblem OutputPath(const base::FilePath& folder, std::wstring name,
                       base::FilePath* output) {
  while (!name.empty() && (name.back() == L'\\' || name.back() == L'/')) name.pop_back();
  const NameProblem problem = CheckRelativePath(name);
  if (problem != NameProblem::kNone) return problem;
  for (wchar_t& c : name)
    if (c == L'/') c = L'\\';
  *output = folder.Append(name);
  return NameProblem::kNone;
}

// One output file: created, written, timed and closed, or removed again, so that
// nothing half-written stays behind.
class EntryWriter {
 public:
  explicit EntryWriter(const base::FilePath& path) : path_(path) {}
  ~EntryWriter() {
    if (!file_.IsValid()) return;
    file_.Close();
    base::DeleteFileBestEffort(path_, false);
  }
  EntryWriter(const EntryWriter&) = delete;
  EntryWriter& operator=(const EntryWriter&) = delete;

  // Each returns 0, or the Win32 error with |kind| set to the failed step's error kind.
  DWORD Create(int* kind) {
    file_.Set(::CreateFileW(path_.value().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file_.IsValid()) return 0;
    const DWORD error = ::GetLastError();
    LOG(ERROR) << "Error returned by CreateFile: " << error;
    *kind = LzmaUtil::ERROR_KIND_CREATE_FILE;
    return error;
  }

  DWORD Write(const Byte* data, size_t size, int* kind) {
    size_t written_total = 0;
    while (written_total < size) {
      DWORD chunk = static_cast<DWORD>(std::min<size_t>(size - written_total, 1u << 30));
      DWORD written = 0;
      if (!::WriteFile(file_.Get(), data + written_total, chunk, &written, nullptr) ||
          written != chunk) {
        DWORD error = ::GetLastError();
        // A short write can leave no error code behind; still a failure.
        if (error == NO_ERROR) error = ERROR_WRITE_FAULT;
        LOG(ERROR) << "Error returned by WriteFile: " << error;
        *kind = LzmaUtil::ERROR_KIND_WRITE;
        return error;
      }
      written_total += written;
    }
    return 0;
  }

  DWORD SetTime(const FILETIME& time, int* kind) {
    if (::SetFileTime(file_.Get(), nullptr, nullptr, &time)) return 0;
    const DWORD error = ::GetLastError();
    LOG(ERROR) << "Error returned by SetFileTime: " << error;
    *kind = LzmaUtil::ERROR_KIND_SET_TIME;
    return error;
  }

  // The one close whose failure the extraction reports, so the owner's checked close;
  // the file is kept only when it succeeds.
  DWORD Close(int* kind) {
    if (file_.CloseChecked()) return 0;
    const DWORD error = ::GetLastError();
    LOG(ERROR) << "Error returned by CloseHandle: " << error;
    base::DeleteFileBestEffort(path_, false);
    *kind = LzmaUtil::ERROR_KIND_CLOSE;
    return error;
  }

 private:
  const base::FilePath path_;
  base::ScopedHandle file_;
};

}  // namespace

// The 7z database over the archive handle and the decoded block that the entries of one
// folder share; frees both.
class LzmaUtil::ArchiveReader {
 public:
  explicit ArchiveReader(HANDLE file) : file_stream_{{FileRead, FileSeek}, file} {
    // Every extraction reads the archive from its start.
    LARGE_INTEGER zero = {};
    ::SetFilePointerEx(file, zero, nullptr, FILE_BEGIN);
    look_buffer_.resize(kLookBufferSize);
    LookToRead2_CreateVTable(&look_, False);
    look_.buf = look_buffer_.data();
    look_.bufSize = look_buffer_.size();
    look_.realStream = &file_stream_.vt;
    LookToRead2_INIT(&look_);
    CrcGenerateTable();
    SzArEx_Init(&db_);
  }
  ~ArchiveReader() { SzArEx_Free(&db_, &kHeapAlloc); }
  ArchiveReader(const ArchiveReader&) = delete;
  ArchiveReader& operator=(const ArchiveReader&) = delete;

  SRes Open() { return SzArEx_Open(&db_, &look_.vt, &kHeapAlloc, &kHeapAlloc); }
  const CSzArEx& db() const { return db_; }

  // Decodes entry |index| (its folder's block is cached) into |allocator|'s memory, under
  // a guard that turns a paging error in the output view into false with |status|.
  bool Decode(UInt32 index, MappedFileAllocator* allocator, SRes* result, DWORD* status,
              const Byte** data, size_t* size) {
    allocator_ = allocator;
    size_t offset = 0;
    ExtractCall call = {&db_,     &look_.vt, index,   &block_,   &buffer_,
                        &buffer_size_, &offset, size, allocator, SZ_OK};
    PagingFilterContext filter = {allocator, 0};
    if (!base::RunWithExceptionGuard(&RunExtract, &call, &PagingErrorFilter, &filter)) {
      *status = filter.status;
      return false;
    }
    *result = call.result;
    *data = buffer_ + offset;
    return true;
  }

  // Gives the decoded block back to the allocator that Decode used; before that goes.
  void FreeOutput() {
    if (allocator_) allocator_->Free(buffer_);
    buffer_ = nullptr;
    block_ = 0xFFFFFFFF;
  }

 private:
  FileInStream file_stream_;
  std::vector<Byte> look_buffer_;
  CLookToRead2 look_;
  CSzArEx db_;
  MappedFileAllocator* allocator_ = nullptr;
  UInt32 block_ = 0xFFFFFFFF;
  Byte* buffer_ = nullptr;
  size_t buffer_size_ = 0;
};

LzmaUtil::LzmaUtil() {}

LzmaUtil::~LzmaUtil() { Close(); }

DWORD LzmaUtil::Open(const base::FilePath& archive) {
  Close();
  archive_.Set(::CreateFileW(archive.value().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!archive_.IsValid()) {
    DWORD error = ::GetLastError();
    last_error_kind_ =
        error == ERROR_FILE_NOT_FOUND ? ERROR_KIND_ARCHIVE_NOT_FOUND : ERROR_KIND_ARCHIVE_NOT_OPENABLE;
    return error;
  }
  return 0;
}

void LzmaUtil::Close() { archive_.Close(); }

bool LzmaUtil::EnsureFolder(const base::FilePath& path) {
  if (created_folders_.count(path)) return true;
  if (!base::CreateDirectory(path)) return false;
  created_folders_.insert(path);
  return true;
}

DWORD LzmaUtil::FolderFailure(const base::FilePath& path) {
  DWORD error = ::GetLastError();
  // A file in the way or a path past the limit fails before any system call does.
  if (error == NO_ERROR) error = ERROR_CANNOT_MAKE;
  LOG(ERROR) << "Error returned by CreateDirectory: " << error << " for " << path.AsUTF8();
  last_error_kind_ = ERROR_KIND_CREATE_FILE;
  return error;
}

DWORD LzmaUtil::ExtractArchiveTo(const base::FilePath& folder, base::FilePath* last_output) {
  if (!archive_.IsValid()) return kBadArchiveResult;

  ArchiveReader archive(archive_.Get());
  SRes open_result = archive.Open();
  if (open_result != SZ_OK) {
    LOG(ERROR) << "Error returned by SzArchiveOpen: " << open_result;
    last_error_kind_ = ERROR_KIND_NOT_7Z;
    return kBadArchiveResult;
  }

  // The allocator's file lives in the destination, so that folder must exist first.
  ::SetLastError(NO_ERROR);
  if (!EnsureFolder(folder)) return FolderFailure(folder);
  MappedFileAllocator allocator(folder);
  allocator.set_read_only_view_for_testing(read_only_output_);
  last_error_kind_ = ERROR_KIND_NONE;
  const UInt32 count = archive.db().NumFiles;
  if (progress_) progress_->SetTotalProgress(count);
  DWORD result = 0;
  for (UInt32 i = 0; i < count && result == 0; ++i) {
    if (progress_) progress_->SetCurrentProgress(i);
    result = ExtractEntry(archive, i, allocator, folder, last_output);
  }
  archive.FreeOutput();
  return result;
}

DWORD LzmaUtil::ExtractEntry(ArchiveReader& archive, uint32_t index,
                             MappedFileAllocator& allocator, const base::FilePath& folder,
                             base::FilePath* last_output) {
  SRes decoded = SZ_OK;
  const Byte* data = nullptr;
  size_t size = 0;
  if (!archive.Decode(index, &allocator, &decoded, &paging_status_, &data, &size)) {
    LOG(ERROR) << "EXCEPTION_IN_PAGE_ERROR while accessing " << paging_status_;
    last_error_kind_ = ERROR_KIND_PAGING;
    return ERROR_IO_DEVICE;
  }
  if (decoded != SZ_OK) {
    LOG(ERROR) << "Error returned by SzExtract: " << decoded;
    last_error_kind_ = ERROR_KIND_DECODING;
    return kBadArchiveResult;
  }

  const CSzArEx& db = archive.db();
  size_t length = SzArEx_GetFileNameUtf16(&db, index, nullptr);
  if (length == 0) {
    LOG(ERROR) << "Couldn't get file name";
    last_error_kind_ = ERROR_KIND_NO_NAME;
    return kBadArchiveResult;
  }
  std::vector<UInt16> name(length);
  SzArEx_GetFileNameUtf16(&db, index, name.data());
  // |length| counts the terminating zero.
  const std::wstring entry_name(name.begin(), name.begin() + (length - 1));
  base::FilePath output;
  const char* refusal = nullptr;
  switch (OutputPath(folder, entry_name, &output)) {
    case NameProblem::kNone:
      break;
    case NameProblem::kOutside:
      refusal = "outside the destination";
      break;
    case NameProblem::kDevice:
      refusal = "with a device name";
      break;
    case NameProblem::kCharacter:
      refusal = "with a name Windows would change";
      break;
  }
  if (refusal) {
    LOG(ERROR) << "Refusing archive entry " << refusal << ": "
               << base::FilePath(entry_name).AsUTF8();
    last_error_kind_ = ERROR_KIND_NO_NAME;
    return kBadArchiveResult;
  }
  if (output.value().size() >= MAX_PATH) {
    LOG(ERROR) << "Refusing archive entry with a name too long: " << entry_name.size()
               << " characters";
    last_error_kind_ = ERROR_KIND_NO_NAME;
    return kBadArchiveResult;
  }
  if (last_output) *last_output = output;

  ::SetLastError(NO_ERROR);
  if (SzArEx_IsDir(&db, index))
    return EnsureFolder(output) ? 0 : FolderFailure(output);
  if (!EnsureFolder(output.DirName())) return FolderFailure(output.DirName());

  EntryWriter writer(output);
  int kind = ERROR_KIND_NONE;
  DWORD result = writer.Create(&kind);
  if (result == 0) result = writer.Write(data, size, &kind);
  if (result == 0 && SzBitWithVals_Check(&db.MTime, index)) {
    FILETIME time;
    time.dwLowDateTime = db.MTime.Vals[index].Low;
    time.dwHighDateTime = db.MTime.Vals[index].High;
    result = writer.SetTime(time, &kind);
  }
  if (result == 0) result = writer.Close(&kind);
  if (result != 0) last_error_kind_ = kind;
  return result;
}

}  // namespace installer

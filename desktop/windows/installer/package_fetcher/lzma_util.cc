#include "desktop/windows/installer/package_fetcher/lzma_util.h"

#include <algorithm>
#include <string>
#include <vector>

#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/win/exception_guard.h"
#include "desktop/windows/installer/package_fetcher/fetcher_delegate.h"
#include "desktop/windows/installer/package_fetcher/mapped_file_allocator.h"
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

// The entry name as a path below the destination, or false when it is empty or would
// leave it: absolute, drive-relative, a stream name, or a ".." component.
bool RelativeEntryPath(const std::wstring& name, std::wstring* relative) {
  relative->clear();
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find_first_of(L"/\\", start);
    if (end == std::wstring::npos) end = name.size();
    std::wstring component = name.substr(start, end - start);
    if (component.empty()) {
      // A leading separator makes the name absolute; a trailing one is harmless.
      if (start == 0 || end < name.size()) return false;
    } else {
      if (component == L".." || component == L"." ||
          component.find(L':') != std::wstring::npos)
        return false;
      if (!relative->empty()) relative->push_back(L'\\');
      relative->append(component);
    }
    start = end + 1;
  }
  return !relative->empty();
}

// Removes a file that was only partly written, so nothing half-done stays behind.
void DiscardOutput(HANDLE file, const base::FilePath& path) {
  ::CloseHandle(file);
  base::DeleteFile(path, false);
}

}  // namespace

LzmaUtil::LzmaUtil() {}

LzmaUtil::~LzmaUtil() { Close(); }

DWORD LzmaUtil::Open(const base::FilePath& archive) {
  Close();
  HANDLE file = ::CreateFileW(archive.value().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    DWORD error = ::GetLastError();
    last_error_kind_ =
        error == ERROR_FILE_NOT_FOUND ? ERROR_KIND_ARCHIVE_NOT_FOUND : ERROR_KIND_ARCHIVE_NOT_OPENABLE;
    return error;
  }
  archive_.Set(file);
  return 0;
}

void LzmaUtil::Close() { archive_.Close(); }

bool LzmaUtil::EnsureFolder(const base::FilePath& path) {
  if (created_folders_.count(path)) return true;
  if (!base::CreateDirectory(path)) return false;
  created_folders_.insert(path);
  return true;
}

DWORD LzmaUtil::ExtractArchiveTo(const base::FilePath& folder, base::FilePath* last_output) {
  if (!archive_.IsValid()) return 6;

  FileInStream file_stream = {{FileRead, FileSeek}, archive_.Get()};
  // Every extraction reads the archive from its start.
  LARGE_INTEGER zero = {};
  ::SetFilePointerEx(archive_.Get(), zero, nullptr, FILE_BEGIN);
  std::vector<Byte> look_buffer(kLookBufferSize);
  CLookToRead2 look;
  LookToRead2_CreateVTable(&look, False);
  look.buf = look_buffer.data();
  look.bufSize = look_buffer.size();
  look.realStream = &file_stream.vt;
  LookToRead2_INIT(&look);

  CrcGenerateTable();
  CSzArEx db;
  SzArEx_Init(&db);
  SRes open_result = SzArEx_Open(&db, &look.vt, &kHeapAlloc, &kHeapAlloc);
  if (open_result != SZ_OK) {
    LOG(ERROR) << "Error returned by SzArchiveOpen: " << open_result;
    last_error_kind_ = ERROR_KIND_NOT_7Z;
    SzArEx_Free(&db, &kHeapAlloc);
    return 6;
  }

  DWORD result = 0;
  {
    // The allocator's file lives in the destination, so that folder must exist first.
    EnsureFolder(folder);
    MappedFileAllocator allocator(folder);
    last_error_kind_ = ERROR_KIND_NONE;
    if (progress_) progress_->SetTotalProgress(db.NumFiles);

    UInt32 block = 0xFFFFFFFF;
    Byte* buffer = nullptr;
    size_t buffer_size = 0;
    std::vector<UInt16> name;
    for (UInt32 i = 0; i < db.NumFiles; ++i) {
      if (progress_) progress_->SetCurrentProgress(i);

      size_t offset = 0;
      size_t processed = 0;
      ExtractCall call = {&db,     &look.vt,   i,          &block,    &buffer,
                          &buffer_size, &offset, &processed, &allocator, SZ_OK};
      PagingFilterContext filter = {&allocator, 0};
      if (!base::RunWithExceptionGuard(&RunExtract, &call, &PagingErrorFilter, &filter)) {
        paging_status_ = filter.status;
        LOG(ERROR) << "EXCEPTION_IN_PAGE_ERROR while accessing " << paging_status_;
        last_error_kind_ = ERROR_KIND_PAGING;
        result = ERROR_IO_DEVICE;
        break;
      }
      if (call.result != SZ_OK) {
        LOG(ERROR) << "Error returned by SzExtract: " << call.result;
        last_error_kind_ = ERROR_KIND_DECODING;
        result = 6;
        break;
      }

      size_t length = SzArEx_GetFileNameUtf16(&db, i, nullptr);
      if (length == 0) {
        LOG(ERROR) << "Couldn't get file name";
        last_error_kind_ = ERROR_KIND_NO_NAME;
        result = 6;
        break;
      }
      name.resize(length);
      SzArEx_GetFileNameUtf16(&db, i, name.data());
      // |length| counts the terminating zero.
      std::wstring entry_name(name.begin(), name.begin() + (length - 1));
      std::wstring relative;
      if (!RelativeEntryPath(entry_name, &relative)) {
        LOG(ERROR) << "Refusing archive entry outside the destination: "
                   << base::FilePath(entry_name).AsUTF8();
        last_error_kind_ = ERROR_KIND_NO_NAME;
        result = 6;
        break;
      }
      base::FilePath output = folder.Append(relative);
      if (last_output) *last_output = output;

      if (SzArEx_IsDir(&db, i)) {
        EnsureFolder(output);
        continue;
      }

      EnsureFolder(output.DirName());
      HANDLE file = ::CreateFileW(output.value().c_str(), GENERIC_WRITE, 0, nullptr,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (file == INVALID_HANDLE_VALUE) {
        result = ::GetLastError();
        LOG(ERROR) << "Error returned by CreateFile: " << result;
        last_error_kind_ = ERROR_KIND_CREATE_FILE;
        break;
      }
      const Byte* data = buffer + offset;
      size_t written_total = 0;
      bool write_failed = false;
      while (written_total < processed) {
        DWORD chunk = static_cast<DWORD>(std::min<size_t>(processed - written_total, 1u << 30));
        DWORD written = 0;
        if (!::WriteFile(file, data + written_total, chunk, &written, nullptr) ||
            written != chunk) {
          write_failed = true;
          break;
        }
        written_total += written;
      }
      if (write_failed) {
        result = ::GetLastError();
        // A short write can leave no error code behind; still a failure.
        if (result == NO_ERROR) result = ERROR_WRITE_FAULT;
        LOG(ERROR) << "Error returned by WriteFile: " << result;
        DiscardOutput(file, output);
        last_error_kind_ = ERROR_KIND_WRITE;
        break;
      }
      if (SzBitWithVals_Check(&db.MTime, i)) {
        FILETIME time;
        time.dwLowDateTime = db.MTime.Vals[i].Low;
        time.dwHighDateTime = db.MTime.Vals[i].High;
        if (!::SetFileTime(file, nullptr, nullptr, &time)) {
          result = ::GetLastError();
          LOG(ERROR) << "Error returned by SetFileTime: " << result;
          DiscardOutput(file, output);
          last_error_kind_ = ERROR_KIND_SET_TIME;
          break;
        }
      }
      if (!::CloseHandle(file)) {
        result = ::GetLastError();
        LOG(ERROR) << "Error returned by CloseHandle: " << result;
        base::DeleteFile(output, false);
        last_error_kind_ = ERROR_KIND_CLOSE;
        break;
      }
    }
    allocator.Free(buffer);
  }
  SzArEx_Free(&db, &kHeapAlloc);
  return result;
}

}  // namespace installer

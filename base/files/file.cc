#include "base/files/file.h"

#include <utility>

#include "base/metrics/sparse_histogram.h"

namespace base {

namespace {
// Missing from the mingw headers.
const DWORD kErrorDiskResourcesExhausted = 314;
}  // namespace

File::Info::Info()
    : size(0), is_directory(false), is_symbolic_link(false) {}

File::File() = default;

File::File(const FilePath& path, uint32_t flags) : error_(FILE_OK) {
  Initialize(path, flags);
}

File::~File() {
  Close();
}

File::File(File&& other)
    : handle_(std::move(other.handle_)),
      error_(other.error_),
      created_(other.created_),
      async_(other.async_) {}

File& File::operator=(File&& other) {
  if (this != &other) {
    handle_ = std::move(other.handle_);
    error_ = other.error_;
    created_ = other.created_;
    async_ = other.async_;
  }
  return *this;
}

void File::Initialize(const FilePath& path, uint32_t flags) {
  Close();
  created_ = false;
  async_ = false;
  if (path.ReferencesParent()) {
    error_ = FILE_ERROR_ACCESS_DENIED;
    return;
  }

  DWORD disposition;
  if (flags & FLAG_OPEN_TRUNCATED) {
    disposition = TRUNCATE_EXISTING;
  } else if (flags & FLAG_CREATE_ALWAYS) {
    disposition = CREATE_ALWAYS;
  } else if (flags & FLAG_OPEN_ALWAYS) {
    disposition = OPEN_ALWAYS;
  } else if (flags & FLAG_CREATE) {
    disposition = CREATE_NEW;
  } else if (flags & FLAG_OPEN) {
    disposition = OPEN_EXISTING;
  } else {
    // Nothing to open; a caller must not read this as success.
    error_ = FILE_ERROR_INVALID_OPERATION;
    return;
  }

  DWORD access = 0;
  if (flags & FLAG_READ) access |= GENERIC_READ;
  if (flags & FLAG_APPEND)
    access |= FILE_APPEND_DATA;
  else if (flags & FLAG_WRITE)
    access |= GENERIC_WRITE;
  if (flags & FLAG_WRITE_ATTRIBUTES) access |= FILE_WRITE_ATTRIBUTES;
  if (flags & FLAG_EXECUTE) access |= GENERIC_EXECUTE;
  if (flags & FLAG_CAN_DELETE_ON_CLOSE) access |= DELETE;

  DWORD sharing = FILE_SHARE_READ | FILE_SHARE_WRITE;
  if (flags & FLAG_EXCLUSIVE_READ) sharing &= ~FILE_SHARE_READ;
  if (flags & FLAG_EXCLUSIVE_WRITE) sharing &= ~FILE_SHARE_WRITE;
  if (flags & FLAG_SHARE_DELETE) sharing |= FILE_SHARE_DELETE;

  DWORD attributes = 0;
  if (flags & FLAG_ASYNC) attributes |= FILE_FLAG_OVERLAPPED;
  if (flags & FLAG_TEMPORARY) attributes |= FILE_ATTRIBUTE_TEMPORARY;
  if (flags & FLAG_HIDDEN) attributes |= FILE_ATTRIBUTE_HIDDEN;
  if (flags & FLAG_DELETE_ON_CLOSE) attributes |= FILE_FLAG_DELETE_ON_CLOSE;
  if (flags & FLAG_BACKUP_SEMANTICS) attributes |= FILE_FLAG_BACKUP_SEMANTICS;
  if (flags & FLAG_SEQUENTIAL_SCAN) attributes |= FILE_FLAG_SEQUENTIAL_SCAN;

  // The holder keeps the last error, so it still tells how CreateFileW went.
  handle_.Set(CreateFileW(path.value().c_str(), access, sharing, nullptr, disposition,
                          attributes, nullptr));
  if (!IsValid()) {
    error_ = FromWin32Error(GetLastError());
    return;
  }
  error_ = FILE_OK;
  async_ = (flags & FLAG_ASYNC) != 0;
  if (disposition == OPEN_ALWAYS)
    created_ = GetLastError() != ERROR_ALREADY_EXISTS;
  else
    created_ = disposition == CREATE_NEW || disposition == CREATE_ALWAYS;
}

bool File::IsValid() const {
  return handle_.IsValid();
}

void File::Close() {
  handle_.Close();
}

int64_t File::Seek(Whence whence, int64_t offset) {
  if (!IsValid()) return -1;
  LARGE_INTEGER distance;
  distance.QuadPart = offset;
  LARGE_INTEGER position;
  if (!SetFilePointerEx(handle_.Get(), distance, &position, static_cast<DWORD>(whence)))
    return -1;
  return position.QuadPart;
}

int File::ReadAtCurrentPos(char* data, int size) {
  if (!IsValid() || size < 0) return -1;
  DWORD read = 0;
  if (::ReadFile(handle_.Get(), data, static_cast<DWORD>(size), &read, nullptr))
    return static_cast<int>(read);
  return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
}

int File::Write(int64_t offset, const char* data, int size) {
  if (!IsValid() || size < 0) return -1;
  OVERLAPPED overlapped = {};
  overlapped.Offset = static_cast<DWORD>(offset);
  overlapped.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(offset) >> 32);
  DWORD written = 0;
  if (!::WriteFile(handle_.Get(), data, static_cast<DWORD>(size), &written, &overlapped))
    return -1;
  return static_cast<int>(written);
}

int64_t File::GetLength() {
  if (!IsValid()) return -1;
  LARGE_INTEGER size;
  if (!GetFileSizeEx(handle_.Get(), &size)) return -1;
  return size.QuadPart;
}

bool File::SetLength(int64_t length) {
  if (!IsValid()) return false;
  LARGE_INTEGER zero = {};
  LARGE_INTEGER saved;
  if (!SetFilePointerEx(handle_.Get(), zero, &saved, FILE_CURRENT)) return false;
  LARGE_INTEGER target;
  target.QuadPart = length;
  if (!SetFilePointerEx(handle_.Get(), target, nullptr, FILE_BEGIN)) return false;
  if (!SetEndOfFile(handle_.Get())) return false;
  return SetFilePointerEx(handle_.Get(), saved, nullptr, FILE_BEGIN) != FALSE;
}

bool File::GetInfo(Info* info) {
  if (!IsValid()) return false;
  BY_HANDLE_FILE_INFORMATION data;
  if (!GetFileInformationByHandle(handle_.Get(), &data)) return false;
  info->size = static_cast<int64_t>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) |
                                    data.nFileSizeLow);
  info->is_directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  info->is_symbolic_link = false;
  info->last_modified = Time::FromFileTime(data.ftLastWriteTime);
  info->last_accessed = Time::FromFileTime(data.ftLastAccessTime);
  info->creation_time = Time::FromFileTime(data.ftCreationTime);
  return true;
}

int32_t File::Lock() {
  if (!IsValid()) return FILE_ERROR_INVALID_OPERATION;
  if (!LockFile(handle_.Get(), 0, 0, MAXDWORD, MAXDWORD)) return FromWin32Error(GetLastError());
  return FILE_OK;
}

// static
int32_t File::FromWin32Error(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return FILE_ERROR_NOT_FOUND;
    case ERROR_TOO_MANY_OPEN_FILES:
      return FILE_ERROR_TOO_MANY_OPENED;
    case ERROR_ACCESS_DENIED:
      return FILE_ERROR_ACCESS_DENIED;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return FILE_ERROR_NO_MEMORY;
    case ERROR_NOT_READY:
    case ERROR_SECTOR_NOT_FOUND:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_IO_DEVICE:
    case ERROR_FILE_CORRUPT:
    case ERROR_DISK_CORRUPT:
      return FILE_ERROR_IO;
    case ERROR_SHARING_VIOLATION:
      return FILE_ERROR_IN_USE;
    case ERROR_HANDLE_DISK_FULL:
    case ERROR_DISK_FULL:
    case kErrorDiskResourcesExhausted:
      return FILE_ERROR_NO_SPACE;
    case ERROR_FILE_EXISTS:
      return FILE_ERROR_EXISTS;
    case ERROR_USER_MAPPED_FILE:
      return FILE_ERROR_INVALID_OPERATION;
    default: {
      static HistogramBase* const unknown_errors =
          SparseHistogram::FactoryGet("PlatformFile.UnknownErrors.Windows", 0);
      unknown_errors->Add(static_cast<HistogramBase::Sample>(error));
      return FILE_ERROR_FAILED;
    }
  }
}

}  // namespace base

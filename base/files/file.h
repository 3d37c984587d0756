// File: the owner of one open Windows file handle with synchronous reads, positioned
// writes, seek, length, information and lock, and one error model for opening.
#ifndef BASE_FILES_FILE_H_
#define BASE_FILES_FILE_H_

#include <windows.h>

#include <stdint.h>

#include "base/files/file_path.h"
#include "base/time/time.h"
#include "base/win/scoped_handle.h"

namespace base {

class File {
 public:
  // Open flags; combine with |.
  enum Flags : uint32_t {
    FLAG_OPEN = 0x1,               // OPEN_EXISTING
    FLAG_CREATE = 0x2,             // CREATE_NEW
    FLAG_OPEN_ALWAYS = 0x4,        // OPEN_ALWAYS
    FLAG_CREATE_ALWAYS = 0x8,      // CREATE_ALWAYS
    FLAG_OPEN_TRUNCATED = 0x10,    // TRUNCATE_EXISTING
    FLAG_READ = 0x20,              // GENERIC_READ
    FLAG_WRITE = 0x40,             // GENERIC_WRITE
    FLAG_APPEND = 0x80,            // FILE_APPEND_DATA instead of GENERIC_WRITE
    FLAG_EXCLUSIVE_READ = 0x100,   // no FILE_SHARE_READ
    FLAG_EXCLUSIVE_WRITE = 0x200,  // no FILE_SHARE_WRITE
    FLAG_ASYNC = 0x400,            // FILE_FLAG_OVERLAPPED
    FLAG_TEMPORARY = 0x800,        // FILE_ATTRIBUTE_TEMPORARY
    FLAG_HIDDEN = 0x1000,          // FILE_ATTRIBUTE_HIDDEN
    FLAG_DELETE_ON_CLOSE = 0x2000,
    FLAG_WRITE_ATTRIBUTES = 0x4000,
    FLAG_SHARE_DELETE = 0x8000,
    FLAG_TERMINAL_DEVICE = 0x10000,  // no effect on Windows
    FLAG_BACKUP_SEMANTICS = 0x20000,
    FLAG_EXECUTE = 0x40000,
    FLAG_SEQUENTIAL_SCAN = 0x80000,
    FLAG_CAN_DELETE_ON_CLOSE = 0x100000,  // access DELETE
  };

  // File error codes.
  enum Error : int32_t {
    FILE_OK = 0,
    FILE_ERROR_FAILED = -1,
    FILE_ERROR_IN_USE = -2,
    FILE_ERROR_EXISTS = -3,
    FILE_ERROR_NOT_FOUND = -4,
    FILE_ERROR_ACCESS_DENIED = -5,
    FILE_ERROR_TOO_MANY_OPENED = -6,
    FILE_ERROR_NO_MEMORY = -7,
    FILE_ERROR_NO_SPACE = -8,
    FILE_ERROR_NOT_A_DIRECTORY = -9,
    FILE_ERROR_INVALID_OPERATION = -10,
    FILE_ERROR_IO = -16,
  };

  enum Whence { FROM_BEGIN = 0, FROM_CURRENT = 1, FROM_END = 2 };

  struct Info {
    Info();
    int64_t size;
    bool is_directory;
    bool is_symbolic_link;  // always false here
    Time last_modified;
    Time last_accessed;
    Time creation_time;
  };

  // Invalid, error FILE_ERROR_FAILED.
  File();
  File(const FilePath& path, uint32_t flags);
  ~File();
  File(File&& other);
  File& operator=(File&& other);
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // Opens |path|; read the outcome from IsValid(), error_details() and created().
  // A path with a ".." component is refused with FILE_ERROR_ACCESS_DENIED.
  void Initialize(const FilePath& path, uint32_t flags);

  [[nodiscard]] bool IsValid() const;
  HANDLE GetPlatformFile() const { return handle_.Get(); }
  void Close();

  int32_t error_details() const { return error_; }
  bool created() const { return created_; }
  bool async() const { return async_; }

  // The new position, or -1.
  [[nodiscard]] int64_t Seek(Whence whence, int64_t offset);
  // Bytes read, 0 at the end of the file, -1 on error or for a negative size.
  [[nodiscard]] int ReadAtCurrentPos(char* data, int size);
  // Writes at |offset|, not at the current position. Bytes written, or -1.
  [[nodiscard]] int Write(int64_t offset, const char* data, int size);
  [[nodiscard]] int64_t GetLength();
  [[nodiscard]] bool SetLength(int64_t length);
  [[nodiscard]] bool GetInfo(Info* info);
  // Locks the whole possible range; a file error code.
  [[nodiscard]] int32_t Lock();

  static int32_t FromWin32Error(DWORD error);

 private:
  ScopedHandle handle_;
  int32_t error_ = FILE_ERROR_FAILED;
  bool created_ = false;
  bool async_ = false;
};

}  // namespace base

#endif  // BASE_FILES_FILE_H_

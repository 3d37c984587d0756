// The small file operations of the upload utilities: open for reading and read (a file or
// a pipe), each logging its failure with the last error.
#ifndef CRASH_UTIL_FILE_OPERATIONS_H_
#define CRASH_UTIL_FILE_OPERATIONS_H_

#include <windows.h>

#include <stddef.h>
#include <stdint.h>

#include <string>

namespace crash_reporter {

// INVALID_HANDLE_VALUE on failure (logged as "CreateFile " and the path).
[[nodiscard]] HANDLE OpenUploadFileForRead(const std::wstring& path);

// The bytes read, 0 at the end (a broken pipe is an end too), -1 on error. A zero-byte
// read from a pipe is repeated, since it only means the writer sent an empty message.
int64_t ReadUploadFile(HANDLE file, void* buffer, size_t max_length);

}  // namespace crash_reporter

#endif  // CRASH_UTIL_FILE_OPERATIONS_H_

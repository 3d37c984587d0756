#include "crash/util/file_operations.h"

#include <algorithm>

#include "base/logging.h"
#include "base/strings/utf_string_conversions.h"

namespace crash_reporter {

HANDLE OpenUploadFileForRead(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) PLOG(ERROR) << "CreateFile " << base::WideToUTF8(path);
  return file;
}

int64_t ReadUploadFile(HANDLE file, void* buffer, size_t max_length) {
  const DWORD wanted = static_cast<DWORD>(std::min<size_t>(max_length, MAXDWORD));
  const bool is_pipe = GetFileType(file) == FILE_TYPE_PIPE;
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(file, buffer, wanted, &read, nullptr)) {
      if (GetLastError() == ERROR_BROKEN_PIPE) return 0;
      PLOG(ERROR) << "read";
      return -1;
    }
    if (read > 0 || !is_pipe || wanted == 0) return read;
  }
}

}  // namespace crash_reporter

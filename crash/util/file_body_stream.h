// A request body read from a file, opened at the first read.
#ifndef CRASH_UTIL_FILE_BODY_STREAM_H_
#define CRASH_UTIL_FILE_BODY_STREAM_H_

#include <windows.h>

#include <string>

#include "base/win/scoped_handle.h"
#include "crash/util/http_body_stream.h"

namespace crash_reporter {

class FileBodyStream : public HttpBodyStream {
 public:
  explicit FileBodyStream(std::wstring path);
  ~FileBodyStream() override;
  FileBodyStream(const FileBodyStream&) = delete;
  FileBodyStream& operator=(const FileBodyStream&) = delete;

  // -1 on every call once the file could not be opened or read.
  int64_t GetBytes(uint8_t* buffer, size_t max_length) override;

 private:
  enum State { kNotOpened = 0, kError = 1, kDone = 2, kReading = 3 };

  void CloseFile();

  std::wstring path_;
  base::ScopedHandle file_;
  State state_ = kNotOpened;
};

}  // namespace crash_reporter

#endif  // CRASH_UTIL_FILE_BODY_STREAM_H_

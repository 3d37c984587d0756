#include "crash/util/file_body_stream.h"

#include <utility>

#include "crash/util/file_operations.h"

namespace crash_reporter {

FileBodyStream::FileBodyStream(std::wstring path) : path_(std::move(path)) {}

FileBodyStream::~FileBodyStream() { CloseFile(); }

void FileBodyStream::CloseFile() { file_.Close(); }

int64_t FileBodyStream::GetBytes(uint8_t* buffer, size_t max_length) {
  if (state_ == kError) return -1;
  if (state_ == kDone || max_length == 0) return 0;
  if (state_ == kNotOpened) {
    file_.Set(OpenUploadFileForRead(path_));
    if (!file_.IsValid()) {
      state_ = kError;
      return -1;
    }
    state_ = kReading;
  }
  const int64_t read = ReadUploadFile(file_.Get(), buffer, max_length);
  if (read < 0) {
    // A stream that failed once stays failed: the request it feeds is abandoned.
    CloseFile();
    state_ = kError;
    return -1;
  }
  if (read == 0) {
    CloseFile();
    state_ = kDone;
  }
  return read;
}

}  // namespace crash_reporter

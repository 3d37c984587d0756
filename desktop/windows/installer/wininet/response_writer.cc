#include "desktop/windows/installer/wininet/response_writer.h"

#include "base/logging.h"

namespace installer {

bool ResponseWriter::Write(const char* /*data*/, uint32_t /*size*/) {
  return true;
}

void ResponseWriter::Close() {}

bool ResponseWriter::Rewind() {
  return true;
}

FileResponseWriter::~FileResponseWriter() {
  Close();
}

bool FileResponseWriter::Open(const base::FilePath& path) {
  file_.Set(CreateFileW(path.value().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                        FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file_.IsValid()) {
    PLOG(ERROR) << "Could not open download file for writing";
    return false;
  }
  return true;
}

bool FileResponseWriter::Write(const char* data, uint32_t size) {
  DWORD written = 0;
  const bool wrote = ::WriteFile(file_.Get(), data, size, &written, nullptr) != FALSE;
  if (wrote && written == size) return true;
  // A short write that the system calls success still loses data: the disk is full.
  error_ = wrote ? ERROR_HANDLE_DISK_FULL : GetLastError();
  SetLastError(error_);
  PLOG(ERROR) << "Failed writing response to downloading file";
  return false;
}

void FileResponseWriter::Close() {
  if (file_.IsValid()) {
    const DWORD saved_error = GetLastError();
    file_.Close();
    SetLastError(saved_error);
  }
}

bool FileResponseWriter::Rewind() {
  if (SetFilePointer(file_.Get(), 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER ||
      !SetEndOfFile(file_.Get())) {
    error_ = GetLastError();
    PLOG(ERROR) << "Failed rewinding the downloading file";
    return false;
  }
  return true;
}

StringResponseWriter::StringResponseWriter(std::string* output) : output_(output) {
  CHECK(output_) << "StringResponseWriter needs a string";
  output_->clear();
}

bool StringResponseWriter::Write(const char* data, uint32_t size) {
  output_->append(data, size);
  return true;
}

bool StringResponseWriter::Rewind() {
  output_->clear();
  return true;
}

}  // namespace installer

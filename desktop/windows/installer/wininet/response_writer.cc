#include "desktop/windows/installer/wininet/response_writer.h"

#include "base/logging.h"

namespace installer {

base::Result<> ResponseWriter::Write(const char* /*data*/, uint32_t /*size*/) {
  return {};
}

void ResponseWriter::Close() {}

base::Result<> ResponseWriter::Rewind() {
  return {};
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

base::Result<> FileResponseWriter::Write(const char* data, uint32_t size) {
  DWORD written = 0;
  const bool wrote = ::WriteFile(file_.Get(), data, size, &written, nullptr) != FALSE;
  if (wrote && written == size) return {};
  // A short write that the system calls success still loses data: the disk is full.
  const DWORD error = wrote ? ERROR_HANDLE_DISK_FULL : GetLastError();
  SetLastError(error);
  PLOG(ERROR) << "Failed writing response to downloading file";
  return base::Failure{error, 0, "WriteFile", {}};
}

void FileResponseWriter::Close() {
  if (file_.IsValid()) {
    const DWORD saved_error = GetLastError();
    file_.Close();
    SetLastError(saved_error);
  }
}

base::Result<> FileResponseWriter::Rewind() {
  if (SetFilePointer(file_.Get(), 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER ||
      !SetEndOfFile(file_.Get())) {
    const DWORD error = GetLastError();
    PLOG(ERROR) << "Failed rewinding the downloading file";
    return base::Failure{error, 0, "SetEndOfFile", {}};
  }
  return {};
}

StringResponseWriter::StringResponseWriter(std::string* output) : output_(output) {
  CHECK(output_) << "StringResponseWriter needs a string";
  output_->clear();
}

base::Result<> StringResponseWriter::Write(const char* data, uint32_t size) {
  output_->append(data, size);
  return {};
}

base::Result<> StringResponseWriter::Rewind() {
  output_->clear();
  return {};
}

}  // namespace installer

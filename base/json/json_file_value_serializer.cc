#include "base/json/json_file_value_serializer.h"

#include <windows.h>

#include "base/files/file_util.h"
#include "base/json/json_string_value_serializer.h"
#include "base/values.h"

namespace base {

const char JsonFileReader::kAccessDenied[] = "Access denied.";
const char JsonFileReader::kCannotReadFile[] = "Can't read file.";
const char JsonFileReader::kFileLocked[] = "File locked.";
const char JsonFileReader::kNoSuchFile[] = "File doesn't exist.";

namespace {

// The file error of a failed read, from the system error it left.
int FileErrorFor(DWORD error, const FilePath& path) {
  switch (error) {
    case ERROR_ACCESS_DENIED:
      return JsonFileReader::JSON_ACCESS_DENIED;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return JsonFileReader::JSON_FILE_LOCKED;
    default:
      return PathExists(path) ? JsonFileReader::JSON_CANNOT_READ_FILE
                              : JsonFileReader::JSON_NO_SUCH_FILE;
  }
}

const char* FileErrorText(int code) {
  switch (code) {
    case JsonFileReader::JSON_ACCESS_DENIED:
      return JsonFileReader::kAccessDenied;
    case JsonFileReader::JSON_FILE_LOCKED:
      return JsonFileReader::kFileLocked;
    case JsonFileReader::JSON_CANNOT_READ_FILE:
      return JsonFileReader::kCannotReadFile;
    default:
      return JsonFileReader::kNoSuchFile;
  }
}

}  // namespace

JsonFileReader::JsonFileReader(const FilePath& path, int options)
    : path_(path.value()), options_(options), last_read_size_(0) {}

JsonFileReader::~JsonFileReader() {}

std::unique_ptr<Value> JsonFileReader::Deserialize(int* error_code,
                                                   std::string* error_message) {
  const FilePath path(path_);
  std::string contents;
  // A read refused before any system call (a ".." path) must not report a stale code.
  SetLastError(ERROR_SUCCESS);
  if (!ReadFileToString(path, &contents)) {
    const int code = FileErrorFor(GetLastError(), path);
    if (error_code) *error_code = code;
    if (error_message) *error_message = FileErrorText(code);
    return nullptr;
  }
  last_read_size_ = contents.size();
  return JsonStringDeserializer(contents, options_).Deserialize(error_code, error_message);
}

}  // namespace base

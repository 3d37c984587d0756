// Reads a JSON file into a Value tree, telling file-system failures apart from parse
// errors.
//
//   JsonFileReader reader(path, 0);
//   int code = 0;
//   std::string message;
//   std::unique_ptr<Value> root = reader.Deserialize(&code, &message);
#ifndef BASE_JSON_JSON_FILE_VALUE_SERIALIZER_H_
#define BASE_JSON_JSON_FILE_VALUE_SERIALIZER_H_

#include <stddef.h>

#include <memory>
#include <string>

#include "base/files/file_path.h"
#include "base/json/value_serializer.h"

namespace base {

class JsonFileReader : public ValueDeserializer {
 public:
  // Codes beside JsonReader's parse codes 0 to 8.
  enum FileError {
    JSON_ACCESS_DENIED = 1000,
    JSON_CANNOT_READ_FILE = 1001,
    JSON_FILE_LOCKED = 1002,
    JSON_NO_SUCH_FILE = 1003,
  };

  static const char kAccessDenied[];
  static const char kCannotReadFile[];
  static const char kFileLocked[];
  static const char kNoSuchFile[];

  // `options` are JsonReader's option bits.
  JsonFileReader(const FilePath& path, int options);
  ~JsonFileReader() override;

  // Null on failure: a file error code with its bare text, or a parse error with the
  // reader's message.
  std::unique_ptr<Value> Deserialize(int* error_code, std::string* error_message) override;

  // Bytes of the last file read; 0 until a read succeeds.
  size_t last_read_size() const { return last_read_size_; }

 private:
  std::wstring path_;
  int options_;
  size_t last_read_size_;
};

}  // namespace base

#endif  // BASE_JSON_JSON_FILE_VALUE_SERIALIZER_H_

// Reads UTF-8 JSON text into a Value tree. Beyond strict JSON it accepts "//" and "/* */"
// comments, the escapes \v and \xHH, a leading byte-order mark and, on request, trailing
// commas. Failures carry a code and a "Line: %i, column: %i, ..." message.
//
//   int error_code = 0;
//   std::string error_message;
//   std::unique_ptr<Value> root = JsonReader::ReadAndReturnError(
//       text, JsonReader::JSON_ALLOW_TRAILING_COMMAS, &error_code, &error_message);
#ifndef BASE_JSON_JSON_READER_H_
#define BASE_JSON_JSON_READER_H_

#include <memory>
#include <string>

#include "base/strings/string_piece.h"

namespace base {

class Value;

class JsonReader {
 public:
  // The numbers are the codes that callers see and log.
  enum JsonParseError {
    JSON_NO_ERROR = 0,
    JSON_INVALID_ESCAPE = 1,
    JSON_SYNTAX_ERROR = 2,
    JSON_UNEXPECTED_TOKEN = 3,
    JSON_TRAILING_COMMA = 4,
    JSON_TOO_MUCH_NESTING = 5,
    JSON_UNEXPECTED_DATA_AFTER_ROOT = 6,
    JSON_UNSUPPORTED_ENCODING = 7,
    JSON_UNQUOTED_DICTIONARY_KEY = 8,
  };

  // Option bits.
  enum {
    JSON_ALLOW_TRAILING_COMMAS = 1,
    // Invalid or malformed UTF-8 in strings becomes U+FFFD instead of failing.
    JSON_REPLACE_INVALID_CHARACTERS = 4,
  };

  // Strict parse (options 0); null on any error.
  static std::unique_ptr<Value> Read(StringPiece json);

  // Null on failure, with the code and message in the optional outs (0 and empty on
  // success).
  static std::unique_ptr<Value> ReadAndReturnError(StringPiece json, int options,
                                                   int* error_code_out,
                                                   std::string* error_message_out);

  // The fixed text of a code; empty for 0 and unknown codes.
  static std::string ErrorCodeToString(int error_code);
};

}  // namespace base

#endif  // BASE_JSON_JSON_READER_H_

#include "base/json/json_reader.h"

#include "base/json/json_parser.h"
#include "base/values.h"

namespace base {

// static
std::unique_ptr<Value> JsonReader::Read(StringPiece json) {
  return JsonParser(0).Parse(json);
}

// static
std::unique_ptr<Value> JsonReader::ReadAndReturnError(StringPiece json, int options,
                                                      int* error_code_out,
                                                      std::string* error_message_out) {
  JsonParser parser(options);
  std::unique_ptr<Value> root = parser.Parse(json);
  if (error_code_out) *error_code_out = parser.error_code();
  if (error_message_out) *error_message_out = FormatJsonErrorMessage(parser);
  return root;
}

// static
std::string JsonReader::ErrorCodeToString(int error_code) {
  switch (error_code) {
    case JSON_INVALID_ESCAPE:
      return "Invalid escape sequence.";
    case JSON_SYNTAX_ERROR:
      return "Syntax error.";
    case JSON_UNEXPECTED_TOKEN:
      return "Unexpected token.";
    case JSON_TRAILING_COMMA:
      return "Trailing comma not allowed.";
    case JSON_TOO_MUCH_NESTING:
      return "Too much nesting.";
    case JSON_UNEXPECTED_DATA_AFTER_ROOT:
      return "Unexpected data after root element.";
    case JSON_UNSUPPORTED_ENCODING:
      return "Unsupported encoding. JSON must be UTF-8.";
    case JSON_UNQUOTED_DICTIONARY_KEY:
      return "Dictionary keys must be quoted.";
    default:
      return std::string();
  }
}

}  // namespace base

// The recursive-descent parser behind JsonReader; one instance per parse. Use
// JsonReader unless the error position is needed separately.
#ifndef BASE_JSON_JSON_PARSER_H_
#define BASE_JSON_JSON_PARSER_H_

#include <cstddef>
#include <memory>
#include <string>

#include "base/json/json_reader.h"
#include "base/strings/string_piece.h"
#include "base/values.h"

namespace base {

class JsonParser {
 public:
  // At most this many dictionaries and lists may be open at once, minus one.
  static const int kStackMaxDepth = 200;

  explicit JsonParser(int options);
  JsonParser(const JsonParser&) = delete;
  JsonParser& operator=(const JsonParser&) = delete;

  // The root value, or null with the error recorded.
  std::unique_ptr<Value> Parse(StringPiece input);

  JsonReader::JsonParseError error_code() const { return error_code_; }
  int error_line() const { return error_line_; }
  int error_column() const { return error_column_; }

 private:
  enum Token {
    T_OBJECT_BEGIN,
    T_OBJECT_END,
    T_ARRAY_BEGIN,
    T_ARRAY_END,
    T_STRING,
    T_NUMBER,
    T_BOOL_TRUE,
    T_BOOL_FALSE,
    T_NULL,
    T_LIST_SEPARATOR,
    T_OBJECT_PAIR_SEPARATOR,
    T_END_OF_INPUT,
    T_INVALID_TOKEN,
  };

  // A string being read: a view into the input until the first escape or replacement,
  // then an owned copy.
  class StringBuilder {
   public:
    explicit StringBuilder(const char* start) : start_(start), length_(0), owned_(false) {}
    // The next `count` input bytes, which follow the ones taken so far.
    void AppendInputBytes(const char* bytes, size_t count);
    void AppendOwned(StringPiece bytes);
    void AppendCodePoint(uint32_t code_point);
    std::string Take();

   private:
    void Own();
    const char* start_;
    size_t length_;
    bool owned_;
    std::string text_;
  };

  size_t index() const { return static_cast<size_t>(pos_ - start_); }
  bool CanConsume(size_t count) const { return static_cast<size_t>(end_ - pos_) >= count; }

  // Skips white space and comments, then classifies the byte at the position.
  Token GetNextToken();
  void EatWhitespaceAndComments();

  std::unique_ptr<Value> ParseToken(Token token);
  std::unique_ptr<Value> ParseDictionary();
  std::unique_ptr<Value> ParseList();
  std::unique_ptr<Value> ParseString();
  [[nodiscard]] bool ParseStringInto(StringBuilder* builder);
  [[nodiscard]] bool ParseEscape(StringBuilder* builder);
  std::unique_ptr<Value> ParseNumber();
  std::unique_ptr<Value> ParseLiteral(Token token);

  // Records the error at the current position (the column moved by `column_adjust`).
  void ReportError(JsonReader::JsonParseError code, int column_adjust);

  int options_;
  const char* start_;
  const char* pos_;
  const char* end_;
  int stack_depth_;
  int line_number_;
  size_t index_last_line_;
  JsonReader::JsonParseError error_code_;
  int error_line_;
  int error_column_;
};

// The bare error text when the parser recorded no position, otherwise
// "Line: %i, column: %i, " followed by it.
std::string FormatJsonErrorMessage(const JsonParser& parser);

}  // namespace base

#endif  // BASE_JSON_JSON_PARSER_H_

#include "base/json/json_parser.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "base/strings/string_number_conversions.h"
#include "base/strings/string_util.h"
#include "base/strings/stringprintf.h"
#include "base/strings/utf_string_conversion_utils.h"

namespace base {

namespace {

const char kReplacementCharacter[] = "\xEF\xBF\xBD";

bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The hexadecimal number of an escape: no leading white space, an optional sign, an
// optional "0x" when at least three characters remain, then hex digits only. A '-'
// sign can only give a negative value, never a code point, so it fails here.
[[nodiscard]] bool HexEscapeToInt(const char* text, size_t length, int32_t* out) {
  size_t i = 0;
  if (i < length && text[i] == '+') {
    ++i;
  } else if (i < length && text[i] == '-') {
    return false;
  }
  if (length - i >= 3 && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) i += 2;
  if (i == length) return false;
  int32_t value = 0;
  for (; i < length; ++i) {
    int digit = HexDigitValue(text[i]);  // also rejects white space
    if (digit < 0) return false;
    value = value * 16 + digit;
  }
  *out = value;
  return true;
}

// Sorts the pairs by key, keeping the last of equal keys: a repeated key keeps the
// value it was given last.
void BuildSortedDictStorage(DictEntries* entries) {
  std::stable_sort(entries->begin(), entries->end(),
                   [](const DictEntries::value_type& a, const DictEntries::value_type& b) {
                     return a.first < b.first;
                   });
  size_t kept = 0;
  for (size_t i = 0; i < entries->size(); ++i) {
    if (i + 1 < entries->size() && (*entries)[i].first == (*entries)[i + 1].first) continue;
    if (kept != i) (*entries)[kept] = std::move((*entries)[i]);
    ++kept;
  }
  entries->resize(kept);
}

}  // namespace

// ----------------------------------------------------------------- StringBuilder

void JsonParser::StringBuilder::AppendInputBytes(const char* bytes, size_t count) {
  if (owned_) {
    text_.append(bytes, count);
  } else {
    length_ += count;
  }
}

void JsonParser::StringBuilder::AppendOwned(StringPiece bytes) {
  Own();
  text_.append(bytes.data(), bytes.size());
}

void JsonParser::StringBuilder::AppendCodePoint(uint32_t code_point) {
  Own();
  WriteUnicodeCharacter(code_point, &text_);
}

void JsonParser::StringBuilder::Own() {
  if (owned_) return;
  text_.assign(start_, length_);
  owned_ = true;
}

std::string JsonParser::StringBuilder::Take() {
  Own();
  return std::move(text_);
}

// -------------------------------------------------------------------- JsonParser

JsonParser::JsonParser(int options)
    : options_(options),
      start_(nullptr),
      pos_(nullptr),
      end_(nullptr),
      stack_depth_(0),
      line_number_(1),
      index_last_line_(0),
      error_code_(JsonReader::JSON_NO_ERROR),
      error_line_(0),
      error_column_(0) {}

std::unique_ptr<Value> JsonParser::Parse(StringPiece input) {
  start_ = input.data();
  pos_ = start_;
  end_ = start_ + input.size();
  if (CanConsume(3) && memcmp(pos_, "\xEF\xBB\xBF", 3) == 0) pos_ += 3;

  std::unique_ptr<Value> root = ParseToken(GetNextToken());
  if (!root) return nullptr;
  if (GetNextToken() != T_END_OF_INPUT) {
    ReportError(JsonReader::JSON_UNEXPECTED_DATA_AFTER_ROOT, 0);
    return nullptr;
  }
  return root;
}

JsonParser::Token JsonParser::GetNextToken() {
  EatWhitespaceAndComments();
  if (pos_ >= end_) return T_END_OF_INPUT;
  switch (*pos_) {
    case '{':
      return T_OBJECT_BEGIN;
    case '}':
      return T_OBJECT_END;
    case '[':
      return T_ARRAY_BEGIN;
    case ']':
      return T_ARRAY_END;
    case '"':
      return T_STRING;
    case '-':
    case '0':
    case '1':
    case '2':
    case '3':
    case '4':
    case '5':
    case '6':
    case '7':
    case '8':
    case '9':
      return T_NUMBER;
    case 't':
      return T_BOOL_TRUE;
    case 'f':
      return T_BOOL_FALSE;
    case 'n':
      return T_NULL;
    case ',':
      return T_LIST_SEPARATOR;
    case ':':
      return T_OBJECT_PAIR_SEPARATOR;
    default:
      return T_INVALID_TOKEN;
  }
}

void JsonParser::EatWhitespaceAndComments() {
  while (pos_ < end_) {
    switch (*pos_) {
      case ' ':
      case '\t':
        ++pos_;
        break;
      case '\r':
      case '\n':
        index_last_line_ = index();
        // CR LF is one line break.
        if (!(*pos_ == '\n' && pos_ > start_ && pos_[-1] == '\r')) ++line_number_;
        ++pos_;
        break;
      case '/':
        if (CanConsume(2) && pos_[1] == '/') {
          pos_ += 2;
          while (pos_ < end_ && *pos_ != '\r' && *pos_ != '\n') ++pos_;
        } else if (CanConsume(2) && pos_[1] == '*') {
          // The closing "*/" must follow the opening one: "/*/" is still open.
          pos_ += 2;
          while (pos_ < end_ && !(*pos_ == '*' && CanConsume(2) && pos_[1] == '/')) ++pos_;
          pos_ = pos_ < end_ ? pos_ + 2 : end_;
        } else {
          // A stray '/' is dropped and the byte after it is taken as it stands.
          ++pos_;
          return;
        }
        break;
      default:
        return;
    }
  }
}

std::unique_ptr<Value> JsonParser::ParseToken(Token token) {
  switch (token) {
    case T_OBJECT_BEGIN:
      return ParseDictionary();
    case T_ARRAY_BEGIN:
      return ParseList();
    case T_STRING:
      return ParseString();
    case T_NUMBER:
      return ParseNumber();
    case T_BOOL_TRUE:
    case T_BOOL_FALSE:
    case T_NULL:
      return ParseLiteral(token);
    default:
      ReportError(JsonReader::JSON_UNEXPECTED_TOKEN, 0);
      return nullptr;
  }
}

std::unique_ptr<Value> JsonParser::ParseDictionary() {
  if (++stack_depth_ >= kStackMaxDepth) {
    ReportError(JsonReader::JSON_TOO_MUCH_NESTING, 0);
    return nullptr;
  }
  ++pos_;  // '{'
  DictEntries entries;
  Token token = GetNextToken();
  while (token != T_OBJECT_END) {
    if (token != T_STRING) {
      ReportError(JsonReader::JSON_UNQUOTED_DICTIONARY_KEY, 0);
      return nullptr;
    }
    StringBuilder key(pos_ + 1);
    if (!ParseStringInto(&key)) return nullptr;
    if (GetNextToken() != T_OBJECT_PAIR_SEPARATOR) {
      ReportError(JsonReader::JSON_SYNTAX_ERROR, 0);
      return nullptr;
    }
    ++pos_;  // ':'
    std::unique_ptr<Value> value = ParseToken(GetNextToken());
    if (!value) return nullptr;
    entries.emplace_back(key.Take(), std::move(value));

    token = GetNextToken();
    if (token == T_LIST_SEPARATOR) {
      ++pos_;
      token = GetNextToken();
      if (token == T_OBJECT_END && !(options_ & JsonReader::JSON_ALLOW_TRAILING_COMMAS)) {
        ReportError(JsonReader::JSON_TRAILING_COMMA, 0);
        return nullptr;
      }
    } else if (token != T_OBJECT_END) {
      ReportError(JsonReader::JSON_SYNTAX_ERROR, -1);
      return nullptr;
    }
  }
  ++pos_;  // '}'
  --stack_depth_;
  BuildSortedDictStorage(&entries);
  return std::make_unique<Dictionary>(std::move(entries));
}

std::unique_ptr<Value> JsonParser::ParseList() {
  if (++stack_depth_ >= kStackMaxDepth) {
    ReportError(JsonReader::JSON_TOO_MUCH_NESTING, 0);
    return nullptr;
  }
  ++pos_;  // '['
  std::unique_ptr<List> list = MakeListValue();
  Token token = GetNextToken();
  while (token != T_ARRAY_END) {
    std::unique_ptr<Value> value = ParseToken(token);
    if (!value) return nullptr;
    list->Append(std::move(value));

    token = GetNextToken();
    if (token == T_LIST_SEPARATOR) {
      ++pos_;
      token = GetNextToken();
      if (token == T_ARRAY_END && !(options_ & JsonReader::JSON_ALLOW_TRAILING_COMMAS)) {
        ReportError(JsonReader::JSON_TRAILING_COMMA, 0);
        return nullptr;
      }
    } else if (token != T_ARRAY_END) {
      ReportError(JsonReader::JSON_SYNTAX_ERROR, 0);
      return nullptr;
    }
  }
  ++pos_;  // ']'
  --stack_depth_;
  return list;
}

std::unique_ptr<Value> JsonParser::ParseString() {
  StringBuilder builder(pos_ + 1);
  if (!ParseStringInto(&builder)) return nullptr;
  return std::make_unique<Value>(builder.Take());
}

bool JsonParser::ParseStringInto(StringBuilder* builder) {
  ++pos_;  // the opening quote
  while (pos_ < end_) {
    unsigned char c = static_cast<unsigned char>(*pos_);
    if (c == '"') {
      ++pos_;
      return true;
    }
    if (c == '\\') {
      if (!ParseEscape(builder)) return false;
      continue;
    }
    if (c < 0x80) {
      // Control characters and NUL are taken as they are.
      builder->AppendInputBytes(pos_, 1);
      ++pos_;
      continue;
    }
    size_t consumed = 0;
    int32_t code_point = Utf8NextChar(pos_, static_cast<size_t>(end_ - pos_), &consumed);
    // Noncharacters are valid UTF-8 and JSON, and the writer writes them as they are: a
    // stored path or preference holding one must read back.
    if (code_point >= 0 && IsValidCodepoint(code_point)) {
      builder->AppendInputBytes(pos_, consumed);
    } else if (options_ & JsonReader::JSON_REPLACE_INVALID_CHARACTERS) {
      builder->AppendOwned(kReplacementCharacter);
    } else {
      ReportError(JsonReader::JSON_UNSUPPORTED_ENCODING, 0);
      return false;
    }
    pos_ += consumed;
  }
  ReportError(JsonReader::JSON_SYNTAX_ERROR, 0);  // no closing quote
  return false;
}

bool JsonParser::ParseEscape(StringBuilder* builder) {
  // Errors are reported at the backslash.
  if (!CanConsume(2)) {
    ReportError(JsonReader::JSON_INVALID_ESCAPE, 0);
    return false;
  }
  char escaped = pos_[1];
  switch (escaped) {
    case '"':
    case '\\':
    case '/':
    case 'b':
    case 'f':
    case 'n':
    case 'r':
    case 't':
    case 'v': {
      static const char kLetters[] = "\"\\/bfnrtv";
      static const char kBytes[] = "\"\\/\b\f\n\r\t\v";
      builder->AppendOwned(StringPiece(&kBytes[strchr(kLetters, escaped) - kLetters], 1));
      pos_ += 2;
      return true;
    }
    case 'x': {
      int32_t value = 0;
      if (!CanConsume(4) || !HexEscapeToInt(pos_ + 2, 2, &value) ||
          !IsValidCharacter(static_cast<uint32_t>(value)))
        break;
      if (value < 0x80) {
        char byte = static_cast<char>(value);  // \x00 is kept as a NUL byte
        builder->AppendOwned(StringPiece(&byte, 1));
      } else {
        builder->AppendCodePoint(static_cast<uint32_t>(value));
      }
      pos_ += 4;
      return true;
    }
    case 'u': {
      int32_t value = 0;
      if (!CanConsume(6) || !HexEscapeToInt(pos_ + 2, 4, &value)) break;
      size_t length = 6;
      if (value >= 0xD800 && value <= 0xDBFF) {
        // A lead surrogate must be followed at once by an escaped trail surrogate.
        int32_t trail = 0;
        if (!CanConsume(12) || pos_[6] != '\\' || pos_[7] != 'u' ||
            !HexEscapeToInt(pos_ + 8, 4, &trail) || trail < 0xDC00 || trail > 0xDFFF)
          break;
        value = ((value - 0xD800) << 10) + (trail - 0xDC00) + 0x10000;
        length = 12;
      }
      if (!IsValidCodepoint(value)) break;  // a lone trail surrogate
      // \u0000 is kept as a NUL byte like \x00 and a raw NUL: the writer escapes NUL
      // that way, so dropping it would change strings on every write and read.
      builder->AppendCodePoint(static_cast<uint32_t>(value));
      pos_ += length;
      return true;
    }
    default:
      break;
  }
  ReportError(JsonReader::JSON_INVALID_ESCAPE, 0);
  return false;
}

std::unique_ptr<Value> JsonParser::ParseNumber() {
  const char* number_start = pos_;
  if (*pos_ == '-') ++pos_;
  if (pos_ >= end_ || !IsAsciiDigit(*pos_)) {
    ReportError(JsonReader::JSON_SYNTAX_ERROR, 0);
    return nullptr;
  }
  if (*pos_ == '0') {
    ++pos_;
    if (pos_ < end_ && IsAsciiDigit(*pos_)) {
      ReportError(JsonReader::JSON_SYNTAX_ERROR, 0);  // leading zero
      return nullptr;
    }
  } else {
    while (pos_ < end_ && IsAsciiDigit(*pos_)) ++pos_;
  }
  if (pos_ < end_ && *pos_ == '.') {
    ++pos_;
    if (pos_ >= end_ || !IsAsciiDigit(*pos_)) {
      ReportError(JsonReader::JSON_SYNTAX_ERROR, 0);
      return nullptr;
    }
    while (pos_ < end_ && IsAsciiDigit(*pos_)) ++pos_;
  }
  if (pos_ < end_ && (*pos_ == 'e' || *pos_ == 'E')) {
    ++pos_;
    if (pos_ < end_ && (*pos_ == '+' || *pos_ == '-')) ++pos_;
    if (pos_ >= end_ || !IsAsciiDigit(*pos_)) {
      ReportError(JsonReader::JSON_SYNTAX_ERROR, 0);
      return nullptr;
    }
    while (pos_ < end_ && IsAsciiDigit(*pos_)) ++pos_;
  }
  StringPiece text(number_start, static_cast<size_t>(pos_ - number_start));

  // Kept so that an overflow can be reported where the number starts.
  int number_line = line_number_;
  size_t number_last_line = index_last_line_;
  Token next = GetNextToken();
  if (next != T_LIST_SEPARATOR && next != T_OBJECT_END && next != T_ARRAY_END &&
      next != T_END_OF_INPUT) {
    ReportError(JsonReader::JSON_SYNTAX_ERROR, 0);
    return nullptr;
  }

  int32_t integer = 0;
  if (StringToInt(text, &integer)) return std::make_unique<Value>(static_cast<int>(integer));
  double number = 0.0;
  // Underflow to 0 is fine and overflow is caught below, so the verdict is not needed.
  (void)StringToDouble(text.as_string(), &number);
  if (!std::isfinite(number)) {
    // Beyond the double range: a syntax error at the number, never a silent failure.
    pos_ = number_start;
    line_number_ = number_line;
    index_last_line_ = number_last_line;
    ReportError(JsonReader::JSON_SYNTAX_ERROR, 0);
    return nullptr;
  }
  return std::make_unique<Value>(number);
}

std::unique_ptr<Value> JsonParser::ParseLiteral(Token token) {
  StringPiece literal = token == T_BOOL_TRUE ? "true" : token == T_BOOL_FALSE ? "false" : "null";
  if (!CanConsume(literal.size()) || memcmp(pos_, literal.data(), literal.size()) != 0) {
    ReportError(JsonReader::JSON_SYNTAX_ERROR, 0);
    return nullptr;
  }
  pos_ += literal.size();
  if (token == T_NULL) return std::make_unique<Value>();
  return std::make_unique<Value>(token == T_BOOL_TRUE);
}

void JsonParser::ReportError(JsonReader::JsonParseError code, int column_adjust) {
  error_code_ = code;
  error_line_ = line_number_;
  error_column_ = static_cast<int>(index() - index_last_line_) + 1 + column_adjust;
}

std::string FormatJsonErrorMessage(const JsonParser& parser) {
  std::string text = JsonReader::ErrorCodeToString(parser.error_code());
  if (parser.error_line() == 0 && parser.error_column() == 0) return text;
  return StringPrintf("Line: %i, column: %i, %s", parser.error_line(), parser.error_column(),
                      text.c_str());
}

}  // namespace base

#include "base/json/json_writer.h"

#include <cmath>
#include <cstdint>

#include "base/json/string_escape.h"
#include "base/strings/double_conversion.h"
#include "base/strings/string_number_conversions.h"
#include "base/values.h"

namespace base {

namespace {

const char kPrettyPrintLineEnding[] = "\r\n";
const size_t kIndentWidth = 3;

}  // namespace

// static
bool JsonWriter::Write(const Value& node, std::string* json) {
  return WriteWithOptions(node, 0, json);
}

// static
bool JsonWriter::WriteWithOptions(const Value& node, int options, std::string* json) {
  json->clear();
  json->reserve(1024);
  JsonWriter writer(options, json);
  bool result = writer.BuildJsonString(node, 0);
  if (writer.pretty_print_) json->append(kPrettyPrintLineEnding);
  return result;
}

JsonWriter::JsonWriter(int options, std::string* json)
    : omit_binary_values_((options & OPTIONS_OMIT_BINARY_VALUES) != 0),
      omit_double_type_preservation_((options & OPTIONS_OMIT_DOUBLE_TYPE_PRESERVATION) != 0),
      pretty_print_((options & OPTIONS_PRETTY_PRINT) != 0),
      json_string_(json) {}

bool JsonWriter::BuildJsonString(const Value& node, size_t depth) {
  switch (node.type()) {
    case Value::Type::NONE:
      json_string_->append("null");
      return true;
    case Value::Type::BOOLEAN: {
      bool value = false;
      (void)node.GetAsBoolean(&value);  // the type is known: the read cannot fail
      json_string_->append(value ? "true" : "false");
      return true;
    }
    case Value::Type::INTEGER: {
      int value = 0;
      (void)node.GetAsInteger(&value);  // the type is known: the read cannot fail
      json_string_->append(IntToString(value));
      return true;
    }
    case Value::Type::DOUBLE:
      AppendDouble(node.double_value());
      return true;
    case Value::Type::STRING:
      // Invalid UTF-8 is written as U+FFFD and the text stays whole: the writer reports
      // only an omitted binary value.
      (void)EscapeJsonStringUtf8(node.string_value(), json_string_);
      return true;
    case Value::Type::BINARY:
      return omit_binary_values_;
    case Value::Type::LIST: {
      const List* list = nullptr;
      (void)node.GetAsList(&list);  // the type is known: the read cannot fail
      bool result = true;
      bool first = true;
      json_string_->push_back('[');
      if (pretty_print_) json_string_->push_back(' ');
      for (size_t i = 0; i < list->size(); ++i) {
        const Value* element = nullptr;
        (void)list->Get(i, &element);  // an index below the size is always there
        if (omit_binary_values_ && element->type() == Value::Type::BINARY) continue;
        if (!first) {
          json_string_->push_back(',');
          if (pretty_print_) json_string_->push_back(' ');
        }
        first = false;
        // Elements stay at the list's own depth.
        if (!BuildJsonString(*element, depth)) result = false;
      }
      if (pretty_print_) json_string_->push_back(' ');
      json_string_->push_back(']');
      return result;
    }
    case Value::Type::DICTIONARY: {
      const Dictionary* dictionary = nullptr;
      (void)node.GetAsDictionary(&dictionary);  // the type is known: the read cannot fail
      bool result = true;
      bool first = true;
      json_string_->push_back('{');
      if (pretty_print_) json_string_->append(kPrettyPrintLineEnding);
      for (Dictionary::Iterator it(*dictionary); !it.IsAtEnd(); it.Advance()) {
        if (omit_binary_values_ && it.value().type() == Value::Type::BINARY) continue;
        if (!first) {
          json_string_->push_back(',');
          if (pretty_print_) json_string_->append(kPrettyPrintLineEnding);
        }
        first = false;
        if (pretty_print_) IndentLine(depth + 1);
        (void)EscapeJsonStringUtf8(it.key(), json_string_);  // as a string value
        json_string_->push_back(':');
        if (pretty_print_) json_string_->push_back(' ');
        if (!BuildJsonString(it.value(), depth + 1)) result = false;
      }
      if (pretty_print_) {
        json_string_->append(kPrettyPrintLineEnding);
        IndentLine(depth);
      }
      json_string_->push_back('}');
      return result;
    }
  }
  return false;
}

void JsonWriter::AppendDouble(double value) {
  // 2^63 is exact as a double; the range check keeps the cast defined.
  if (omit_double_type_preservation_ && std::floor(value) == value &&
      value >= -9223372036854775808.0 && value < 9223372036854775808.0) {
    json_string_->append(Int64ToString(static_cast<int64_t>(value)));
    return;
  }
  char buffer[kShortestDoubleBufferSize];
  FormatDoubleShortest(buffer, value);
  std::string text(buffer);
  // Keep the text a JSON double: "3" -> "3.0", ".5" -> "0.5", "-.5" -> "-0.5".
  if (text.find_first_of(".eE") == std::string::npos) text.append(".0");
  if (text[0] == '.') {
    text.insert(0, 1, '0');
  } else if (text[0] == '-' && text[1] == '.') {
    text.insert(1, 1, '0');
  }
  json_string_->append(text);
}

void JsonWriter::IndentLine(size_t depth) {
  json_string_->append(depth * kIndentWidth, ' ');
}

}  // namespace base

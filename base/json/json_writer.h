// Writes a Value tree as UTF-8 JSON text: compact by default, or pretty-printed with
// three-space indents and CR LF line ends.
#ifndef BASE_JSON_JSON_WRITER_H_
#define BASE_JSON_JSON_WRITER_H_

#include <cstddef>
#include <string>

namespace base {

class Value;

class JsonWriter {
 public:
  // Option bits.
  enum {
    // Binary values are left out, in dictionaries together with their key.
    OPTIONS_OMIT_BINARY_VALUES = 1,
    // A double with an integral value within the 64-bit range is written as an integer.
    OPTIONS_OMIT_DOUBLE_TYPE_PRESERVATION = 2,
    OPTIONS_PRETTY_PRINT = 4,
  };

  [[nodiscard]] static bool Write(const Value& node, std::string* json);
  // Replaces `json` with the text. False only when a binary value was met without
  // OPTIONS_OMIT_BINARY_VALUES; the rest of the text is complete even then.
  [[nodiscard]] static bool WriteWithOptions(const Value& node, int options, std::string* json);

 private:
  JsonWriter(int options, std::string* json);

  [[nodiscard]] bool BuildJsonString(const Value& node, size_t depth);
  void AppendDouble(double value);
  void IndentLine(size_t depth);

  const bool omit_binary_values_;
  const bool omit_double_type_preservation_;
  const bool pretty_print_;
  std::string* json_string_;
};

}  // namespace base

#endif  // BASE_JSON_JSON_WRITER_H_

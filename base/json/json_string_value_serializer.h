// JSON text to and from a Value tree, behind the serializer shapes.
#ifndef BASE_JSON_JSON_STRING_VALUE_SERIALIZER_H_
#define BASE_JSON_JSON_STRING_VALUE_SERIALIZER_H_

#include <memory>
#include <string>

#include "base/json/value_serializer.h"
#include "base/strings/string_piece.h"

namespace base {

class JsonStringSerializer : public ValueSerializer {
 public:
  // `output` is borrowed and may be null (Serialize then fails).
  explicit JsonStringSerializer(std::string* output);
  ~JsonStringSerializer() override;

  void set_pretty_print(bool pretty_print) { pretty_print_ = pretty_print; }

  // Replaces *output with the JSON text; false without an output or when the tree holds
  // a binary value.
  [[nodiscard]] bool Serialize(const Value& root) override;

 private:
  std::string* output_;
  bool pretty_print_;
};

class JsonStringDeserializer : public ValueDeserializer {
 public:
  // `json` is borrowed; `options` are JsonReader's option bits.
  JsonStringDeserializer(StringPiece json, int options);
  ~JsonStringDeserializer() override;

  // JsonReader's codes and messages (with line and column) on failure.
  std::unique_ptr<Value> Deserialize(int* error_code, std::string* error_message) override;

 private:
  StringPiece json_;
  int options_;
};

}  // namespace base

#endif  // BASE_JSON_JSON_STRING_VALUE_SERIALIZER_H_

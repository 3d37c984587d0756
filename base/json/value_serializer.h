// The serializer and deserializer shapes that put a text format behind a Value tree.
#ifndef BASE_JSON_VALUE_SERIALIZER_H_
#define BASE_JSON_VALUE_SERIALIZER_H_

#include <memory>
#include <string>

namespace base {

class Value;

class ValueSerializer {
 public:
  virtual ~ValueSerializer() {}
  [[nodiscard]] virtual bool Serialize(const Value& root) = 0;
};

class ValueDeserializer {
 public:
  virtual ~ValueDeserializer() {}
  // The root value, or null with the optional outs set to an error code and its text.
  virtual std::unique_ptr<Value> Deserialize(int* error_code,
                                             std::string* error_message) = 0;
};

}  // namespace base

#endif  // BASE_JSON_VALUE_SERIALIZER_H_

#include "base/json/json_string_value_serializer.h"

#include "base/json/json_reader.h"
#include "base/json/json_writer.h"
#include "base/values.h"

namespace base {

JsonStringSerializer::JsonStringSerializer(std::string* output)
    : output_(output), pretty_print_(false) {}

JsonStringSerializer::~JsonStringSerializer() {}

bool JsonStringSerializer::Serialize(const Value& root) {
  if (!output_) return false;
  return JsonWriter::WriteWithOptions(
      root, pretty_print_ ? JsonWriter::OPTIONS_PRETTY_PRINT : 0, output_);
}

JsonStringDeserializer::JsonStringDeserializer(StringPiece json, int options)
    : json_(json), options_(options) {}

JsonStringDeserializer::~JsonStringDeserializer() {}

std::unique_ptr<Value> JsonStringDeserializer::Deserialize(int* error_code,
                                                           std::string* error_message) {
  return JsonReader::ReadAndReturnError(json_, options_, error_code, error_message);
}

}  // namespace base

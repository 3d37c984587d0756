#include "base/trace_event/traced_value.h"

#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "base/json/json_writer.h"
#include "base/trace_event/trace_event_memory_overhead.h"
#include "base/values.h"

namespace base {
namespace trace_event {

namespace {

// Record types.
const char kStartDictionary = '{';
const char kEndDictionary = '}';
const char kStartArray = '[';
const char kEndArray = ']';
const char kBool = 'b';
const char kInt = 'i';
const char kDouble = 'd';
const char kString = 's';
// Key kinds.
const char kStaticKey = '*';
const char kCopiedKey = 's';

[[nodiscard]] bool ReadChar(SerialBufferReader* reader, char* out) {
  const char* data = nullptr;
  if (!reader->ReadBytes(&data, 1)) return false;
  *out = *data;
  return true;
}

template <typename T>
[[nodiscard]] bool ReadPlain(SerialBufferReader* reader, T* out) {
  const char* data = nullptr;
  if (!reader->ReadBytes(&data, sizeof(T))) return false;
  std::memcpy(out, data, sizeof(T));
  return true;
}

[[nodiscard]] bool ReadKey(SerialBufferReader* reader, std::string* key) {
  char kind = 0;
  if (!ReadChar(reader, &kind)) return false;
  if (kind == kStaticKey) {
    uint64_t address = 0;
    if (!ReadPlain(reader, &address)) return false;
    key->assign(reinterpret_cast<const char*>(static_cast<uintptr_t>(address)));
    return true;
  }
  return kind == kCopiedKey && reader->ReadString(key);
}

// An open container and the key under which it goes into its parent.
struct OpenContainer {
  std::unique_ptr<Value> value;
  std::string key;
};

// Puts |value| into the innermost open container: appended to a list, or stored
// under the key that follows it in the records.
[[nodiscard]] bool Store(SerialBufferReader* reader, std::vector<OpenContainer>* stack,
                         std::unique_ptr<Value> value, bool is_container) {
  Value* parent = stack->back().value.get();
  std::string key;
  if (!parent->is_list() && !ReadKey(reader, &key)) return false;
  if (is_container) {
    stack->push_back({std::move(value), std::move(key)});
    return true;
  }
  if (parent->is_list())
    static_cast<List*>(parent)->Append(std::move(value));
  else
    static_cast<Dictionary*>(parent)->SetWithoutPathExpansion(key, std::move(value));
  return true;
}

void CloseInnermost(std::vector<OpenContainer>* stack) {
  OpenContainer closed = std::move(stack->back());
  stack->pop_back();
  Value* parent = stack->back().value.get();
  if (parent->is_list())
    static_cast<List*>(parent)->Append(std::move(closed.value));
  else
    static_cast<Dictionary*>(parent)->SetWithoutPathExpansion(closed.key,
                                                              std::move(closed.value));
}

}  // namespace

TracedValue::TracedValue() = default;

TracedValue::~TracedValue() = default;

void TracedValue::WriteType(char type) { *static_cast<char*>(records_.ClaimBytes(1)) = type; }

void TracedValue::WriteStaticKey(const char* name) {
  WriteType(kStaticKey);
  uint64_t address = reinterpret_cast<uintptr_t>(name);
  std::memcpy(records_.ClaimBytes(sizeof(address)), &address, sizeof(address));
}

void TracedValue::WriteCopiedKey(StringPiece name) {
  WriteType(kCopiedKey);
  bool written = records_.WriteString(name);
  (void)written;  // always true: the buffer grows or the process stops
}

void TracedValue::WriteInt(int value) {
  WriteType(kInt);
  bool written = records_.WriteInt(value);
  (void)written;  // always true: the buffer grows or the process stops
}

void TracedValue::WriteDouble(double value) {
  WriteType(kDouble);
  std::memcpy(records_.ClaimBytes(sizeof(value)), &value, sizeof(value));
}

void TracedValue::WriteBool(bool value) {
  WriteType(kBool);
  *static_cast<char*>(records_.ClaimBytes(1)) = value ? 1 : 0;
}

void TracedValue::WriteString(StringPiece value) {
  WriteType(kString);
  bool written = records_.WriteString(value);
  (void)written;
}

void TracedValue::SetInteger(const char* name, int value) {
  WriteInt(value);
  WriteStaticKey(name);
}

void TracedValue::SetDouble(const char* name, double value) {
  WriteDouble(value);
  WriteStaticKey(name);
}

void TracedValue::SetBoolean(const char* name, bool value) {
  WriteBool(value);
  WriteStaticKey(name);
}

void TracedValue::SetString(const char* name, StringPiece value) {
  WriteString(value);
  WriteStaticKey(name);
}

void TracedValue::BeginDictionary(const char* name) {
  WriteType(kStartDictionary);
  WriteStaticKey(name);
}

void TracedValue::BeginArray(const char* name) {
  WriteType(kStartArray);
  WriteStaticKey(name);
}

void TracedValue::SetIntegerWithCopiedName(StringPiece name, int value) {
  WriteInt(value);
  WriteCopiedKey(name);
}

void TracedValue::SetDoubleWithCopiedName(StringPiece name, double value) {
  WriteDouble(value);
  WriteCopiedKey(name);
}

void TracedValue::SetBooleanWithCopiedName(StringPiece name, bool value) {
  WriteBool(value);
  WriteCopiedKey(name);
}

void TracedValue::SetStringWithCopiedName(StringPiece name, StringPiece value) {
  WriteString(value);
  WriteCopiedKey(name);
}

void TracedValue::BeginDictionaryWithCopiedName(StringPiece name) {
  WriteType(kStartDictionary);
  WriteCopiedKey(name);
}

void TracedValue::BeginArrayWithCopiedName(StringPiece name) {
  WriteType(kStartArray);
  WriteCopiedKey(name);
}

void TracedValue::AppendInteger(int value) { WriteInt(value); }
void TracedValue::AppendDouble(double value) { WriteDouble(value); }
void TracedValue::AppendBoolean(bool value) { WriteBool(value); }
void TracedValue::AppendString(StringPiece value) { WriteString(value); }
void TracedValue::BeginDictionary() { WriteType(kStartDictionary); }
void TracedValue::BeginArray() { WriteType(kStartArray); }
void TracedValue::EndDictionary() { WriteType(kEndDictionary); }
void TracedValue::EndArray() { WriteType(kEndArray); }

std::unique_ptr<Value> TracedValue::ToBaseValue() const {
  std::vector<OpenContainer> stack;
  stack.push_back({MakeDictionaryValue(), std::string()});
  SerialBufferReader reader(records_);
  char type = 0;
  bool ok = true;
  while (ok && ReadChar(&reader, &type)) {
    switch (type) {
      case kStartDictionary:
        ok = Store(&reader, &stack, MakeDictionaryValue(), true);
        break;
      case kStartArray:
        ok = Store(&reader, &stack, MakeListValue(), true);
        break;
      case kEndDictionary:
      case kEndArray:
        // An end without its begin would close the root.
        if (stack.size() > 1) CloseInnermost(&stack);
        break;
      case kBool: {
        bool value = false;
        ok = reader.ReadBool(&value) &&
             Store(&reader, &stack, std::unique_ptr<Value>(new Value(value)), false);
        break;
      }
      case kInt: {
        int32_t value = 0;
        ok = reader.ReadInt(&value) &&
             Store(&reader, &stack, std::unique_ptr<Value>(new Value(value)), false);
        break;
      }
      case kDouble: {
        double value = 0;
        ok = ReadPlain(&reader, &value) &&
             Store(&reader, &stack, std::unique_ptr<Value>(new Value(value)), false);
        break;
      }
      case kString: {
        std::string value;
        ok = reader.ReadString(&value) &&
             Store(&reader, &stack, std::unique_ptr<Value>(new Value(std::move(value))), false);
        break;
      }
      default:
        ok = false;
        break;
    }
  }
  // Containers left open are closed where they stand.
  while (stack.size() > 1) CloseInnermost(&stack);
  return std::move(stack.back().value);
}

void TracedValue::AppendAsTraceFormat(std::string* out) const {
  std::string json;
  if (JsonWriter::Write(*ToBaseValue(), &json)) out->append(json);
}

void TracedValue::EstimateTraceMemoryOverhead(TraceEventMemoryOverhead* overhead) {
  static const char kTracedValueName[] = "TracedValue";
  const size_t header = records_.header_size();
  const size_t allocated = header + (records_.is_view() ? 0 : records_.capacity());
  const size_t resident = header + records_.payload_size();
  overhead->Add(kTracedValueName, 1, allocated, resident);
}

}  // namespace trace_event
}  // namespace base

// A nested dictionary/array trace argument, recorded cheaply as it is built and turned
// into JSON only when its event is written.
//
//   std::unique_ptr<TracedValue> value(new TracedValue);
//   value->BeginDictionary("size");
//   value->SetString("units", "bytes");
//   value->EndDictionary();
//
// Keys given as const char* must live for the whole process; the *WithCopiedName forms
// take any text.
#ifndef BASE_TRACE_EVENT_TRACED_VALUE_H_
#define BASE_TRACE_EVENT_TRACED_VALUE_H_

#include <cstddef>
#include <memory>
#include <string>

#include "base/serial_buffer.h"
#include "base/strings/string_piece.h"
#include "base/trace_event/convertable_to_trace_format.h"

namespace base {

class Value;

namespace trace_event {

class TracedValue : public ConvertableToTraceFormat {
 public:
  TracedValue();
  ~TracedValue() override;

  void SetInteger(const char* name, int value);
  void SetDouble(const char* name, double value);
  void SetBoolean(const char* name, bool value);
  void SetString(const char* name, StringPiece value);
  void BeginDictionary(const char* name);
  void BeginArray(const char* name);

  void SetIntegerWithCopiedName(StringPiece name, int value);
  void SetDoubleWithCopiedName(StringPiece name, double value);
  void SetBooleanWithCopiedName(StringPiece name, bool value);
  void SetStringWithCopiedName(StringPiece name, StringPiece value);
  void BeginDictionaryWithCopiedName(StringPiece name);
  void BeginArrayWithCopiedName(StringPiece name);

  void AppendInteger(int value);
  void AppendDouble(double value);
  void AppendBoolean(bool value);
  void AppendString(StringPiece value);
  void BeginDictionary();
  void BeginArray();

  void EndDictionary();
  void EndArray();

  // The records as a dictionary tree; keys are kept whole, dots included.
  std::unique_ptr<Value> ToBaseValue() const;

  void AppendAsTraceFormat(std::string* out) const override;
  void EstimateTraceMemoryOverhead(TraceEventMemoryOverhead* overhead) override;

 private:
  void WriteType(char type);
  void WriteStaticKey(const char* name);
  void WriteCopiedKey(StringPiece name);
  // A value record: its type and the value.
  void WriteInt(int value);
  void WriteDouble(double value);
  void WriteBool(bool value);
  void WriteString(StringPiece value);

  SerialBuffer records_;
};

}  // namespace trace_event
}  // namespace base

#endif  // BASE_TRACE_EVENT_TRACED_VALUE_H_

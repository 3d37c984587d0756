// A trace event argument that writes its own JSON (argument type 8).
#ifndef BASE_TRACE_EVENT_CONVERTABLE_TO_TRACE_FORMAT_H_
#define BASE_TRACE_EVENT_CONVERTABLE_TO_TRACE_FORMAT_H_

#include <string>

namespace base {
namespace trace_event {

class TraceEventMemoryOverhead;

class ConvertableToTraceFormat {
 public:
  ConvertableToTraceFormat() = default;
  virtual ~ConvertableToTraceFormat() = default;
  ConvertableToTraceFormat(const ConvertableToTraceFormat&) = delete;
  ConvertableToTraceFormat& operator=(const ConvertableToTraceFormat&) = delete;

  // Appends this object's JSON to |out|.
  virtual void AppendAsTraceFormat(std::string* out) const = 0;
  virtual void EstimateTraceMemoryOverhead(TraceEventMemoryOverhead* overhead);
};

}  // namespace trace_event
}  // namespace base

#endif  // BASE_TRACE_EVENT_CONVERTABLE_TO_TRACE_FORMAT_H_

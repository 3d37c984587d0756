// Gives each type name seen by the heap profiler a small id, and writes the table of
// ids as the "typeNames" metadata of a trace, each name reduced to its category.
#ifndef BASE_TRACE_EVENT_HEAP_PROFILER_TYPE_NAME_DEDUPLICATOR_H_
#define BASE_TRACE_EVENT_HEAP_PROFILER_TYPE_NAME_DEDUPLICATOR_H_

#include <map>
#include <string>

#include "base/strings/string_piece.h"
#include "base/trace_event/convertable_to_trace_format.h"

namespace base {
namespace trace_event {

class TypeNameDeduplicator : public ConvertableToTraceFormat {
 public:
  TypeNameDeduplicator();
  ~TypeNameDeduplicator() override;

  // The id of |type_name| (told apart by address; null is 0, "[unknown]").
  int Insert(const char* type_name);

  // {"0":"[unknown]","<id>":"<category>",...}
  void AppendAsTraceFormat(std::string* out) const override;
  void EstimateTraceMemoryOverhead(TraceEventMemoryOverhead* overhead) override;

  // A source path gives its folders without leading "../"; other names give the part
  // before the first comma, without "disabled-by-default-".
  static StringPiece ExtractCategory(StringPiece type_name);

 private:
  std::map<const char*, int> type_ids_;
};

}  // namespace trace_event
}  // namespace base

#endif  // BASE_TRACE_EVENT_HEAP_PROFILER_TYPE_NAME_DEDUPLICATOR_H_

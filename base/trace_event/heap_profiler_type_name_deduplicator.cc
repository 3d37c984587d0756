#include "base/trace_event/heap_profiler_type_name_deduplicator.h"

#include "base/json/string_escape.h"
#include "base/strings/stringprintf.h"
#include "base/trace_event/trace_event_memory_overhead.h"

namespace base {
namespace trace_event {

namespace {

const char kTypeNameDeduplicatorName[] = "TypeNameDeduplicator";

}  // namespace

TypeNameDeduplicator::TypeNameDeduplicator() { type_ids_.emplace(nullptr, 0); }

TypeNameDeduplicator::~TypeNameDeduplicator() = default;

int TypeNameDeduplicator::Insert(const char* type_name) {
  auto inserted = type_ids_.emplace(type_name, static_cast<int>(type_ids_.size()));
  return inserted.first->second;
}

StringPiece TypeNameDeduplicator::ExtractCategory(StringPiece type_name) {
  const size_t separator = type_name.find_last_of("\\/");
  if (separator != StringPiece::npos) {
    StringPiece folders = type_name.substr(0, separator);
    while (folders.starts_with("../") || folders.starts_with("..\\")) folders.remove_prefix(3);
    return folders;
  }
  StringPiece category = type_name.substr(0, type_name.find(','));
  if (category.starts_with("disabled-by-default-"))
    category.remove_prefix(sizeof("disabled-by-default-") - 1);
  return category;
}

void TypeNameDeduplicator::AppendAsTraceFormat(std::string* out) const {
  out->append("{\"0\":\"[unknown]\"");
  for (const auto& entry : type_ids_) {
    if (!entry.first) continue;  // written above
    StringAppendF(out, ",\"%d\":", entry.second);
    // Invalid UTF-8 is written as U+FFFD; the table stays well-formed either way.
    static_cast<void>(EscapeJsonStringUtf8(ExtractCategory(entry.first), out));
  }
  out->append("}");
}

void TypeNameDeduplicator::EstimateTraceMemoryOverhead(TraceEventMemoryOverhead* overhead) {
  const uint64_t bytes = 48 * type_ids_.size() + 24;
  overhead->Add(kTypeNameDeduplicatorName, 1, bytes, bytes);
}

}  // namespace trace_event
}  // namespace base

#include "base/trace_event/heap_profiler_stack_frame_deduplicator.h"

#include <cstdint>

#include "base/json/string_escape.h"
#include "base/strings/stringprintf.h"
#include "base/trace_event/trace_event_memory_overhead.h"

namespace base {
namespace trace_event {

namespace {

const char kStackFrameDeduplicatorName[] = "StackFrameDeduplicator";

std::string FrameName(const HeapContextTracker::StackFrame& frame) {
  const char* text = frame.value ? static_cast<const char*>(frame.value) : "";
  switch (frame.type) {
    case HeapContextTracker::StackFrame::TRACE_EVENT_NAME:
      return text;
    case HeapContextTracker::StackFrame::THREAD_NAME:
      return StringPrintf("[Thread: %s]", text);
    case HeapContextTracker::StackFrame::PROGRAM_COUNTER:
      break;
  }
  return StringPrintf("pc:%llx",
                      static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(frame.value)));
}

}  // namespace

StackFrameDeduplicator::StackFrameDeduplicator() = default;

StackFrameDeduplicator::~StackFrameDeduplicator() = default;

int StackFrameDeduplicator::Insert(const StackFrame* begin, const StackFrame* end) {
  int index = -1;
  FrameIndices* nodes = &roots_;
  for (const StackFrame* frame = begin; frame != end; ++frame) {
    auto found = nodes->find(*frame);
    if (found != nodes->end()) {
      index = found->second;
    } else {
      const int parent = index;
      index = static_cast<int>(frames_.size());
      // Before the push_back: it may move the map |nodes| points into.
      nodes->emplace(*frame, index);
      frames_.push_back(FrameNode{*frame, parent, FrameIndices()});
    }
    nodes = &frames_[index].children;
  }
  return index;
}

void StackFrameDeduplicator::AppendAsTraceFormat(std::string* out) const {
  out->append("{");
  for (size_t i = 0; i < frames_.size(); ++i) {
    if (i) out->append(",");
    StringAppendF(out, "\"%d\":{\"name\":", static_cast<int>(i));
    // Invalid UTF-8 is written as U+FFFD; the table stays well-formed either way.
    static_cast<void>(EscapeJsonStringUtf8(FrameName(frames_[i].frame), out));
    if (frames_[i].parent_frame_index >= 0)
      StringAppendF(out, ",\"parent\":\"%d\"", frames_[i].parent_frame_index);
    out->append("}");
  }
  out->append("}");
}

void StackFrameDeduplicator::EstimateTraceMemoryOverhead(TraceEventMemoryOverhead* overhead) {
  size_t map_nodes = roots_.size();
  for (const FrameNode& node : frames_) map_nodes += node.children.size();
  const uint64_t bytes = 56 * map_nodes + 40 * frames_.size() + 48;
  overhead->Add(kStackFrameDeduplicatorName, frames_.size(), bytes, bytes);
}

}  // namespace trace_event
}  // namespace base

// Stores the heap profiler's allocation stacks as a tree of frames, so each stack is one
// node index, and writes the tree as the "stackFrames" metadata of a trace.
//
//   StackFrameDeduplicator frames;
//   int node = frames.Insert(stack.data(), stack.data() + stack.size());
#ifndef BASE_TRACE_EVENT_HEAP_PROFILER_STACK_FRAME_DEDUPLICATOR_H_
#define BASE_TRACE_EVENT_HEAP_PROFILER_STACK_FRAME_DEDUPLICATOR_H_

#include <map>
#include <string>
#include <vector>

#include "base/trace_event/convertable_to_trace_format.h"
#include "base/trace_event/heap_context_tracker.h"

namespace base {
namespace trace_event {

class StackFrameDeduplicator : public ConvertableToTraceFormat {
 public:
  typedef HeapContextTracker::StackFrame StackFrame;

  struct FrameLess {
    bool operator()(const StackFrame& a, const StackFrame& b) const {
      return a.type != b.type ? a.type < b.type : a.value < b.value;
    }
  };
  typedef std::map<StackFrame, int, FrameLess> FrameIndices;

  struct FrameNode {
    StackFrame frame;
    int parent_frame_index;  // -1 for a root
    FrameIndices children;
  };

  StackFrameDeduplicator();
  ~StackFrameDeduplicator() override;

  // The index of the node of the stack |begin|..|end| (outermost frame first), made as
  // needed; -1 for an empty stack.
  int Insert(const StackFrame* begin, const StackFrame* end);

  const std::vector<FrameNode>& frames() const { return frames_; }

  // {"<index>":{"name":"...","parent":"<index>"},...}
  void AppendAsTraceFormat(std::string* out) const override;
  void EstimateTraceMemoryOverhead(TraceEventMemoryOverhead* overhead) override;

 private:
  std::vector<FrameNode> frames_;
  FrameIndices roots_;
};

}  // namespace trace_event
}  // namespace base

#endif  // BASE_TRACE_EVENT_HEAP_PROFILER_STACK_FRAME_DEDUPLICATOR_H_

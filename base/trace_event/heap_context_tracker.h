// The heap profiler's per-thread context: a pseudo stack of trace-event names and a
// stack of task contexts (the posting file of each task being run). Task runners push
// a context only while the capture mode is not DISABLED, which it is unless heap
// profiling was turned on.
//
//   if (HeapContextTracker::capture_mode() != HeapContextTracker::CaptureMode::DISABLED) {
//     if (HeapContextTracker* tracker = HeapContextTracker::ForCurrentThread())
//       tracker->PushTaskContext(task.posted_from.file_name());
//   }
#ifndef BASE_TRACE_EVENT_HEAP_CONTEXT_TRACKER_H_
#define BASE_TRACE_EVENT_HEAP_CONTEXT_TRACKER_H_

#include <cstddef>
#include <cstdint>
#include <vector>

namespace base {
namespace trace_event {

class HeapContextTracker {
 public:
  enum class CaptureMode : int32_t {
    DISABLED = 0,
    PSEUDO_STACK = 1,
    NATIVE_STACK = 2,
  };

  struct StackFrame {
    enum Type { TRACE_EVENT_NAME = 0, THREAD_NAME = 1, PROGRAM_COUNTER = 2 };
    Type type;
    const void* value;
  };

  static constexpr size_t kMaxTaskContexts = 16;
  static constexpr size_t kMaxPseudoStackDepth = 128;

  static CaptureMode capture_mode();
  static void SetCaptureMode(CaptureMode mode);

  // The calling thread's tracker, created on first use; null while it is being
  // created on this thread.
  static HeapContextTracker* ForCurrentThread();

  HeapContextTracker(const HeapContextTracker&) = delete;
  HeapContextTracker& operator=(const HeapContextTracker&) = delete;

  // Further pushes beyond the limits are dropped; pops on an empty stack do nothing.
  void PushTaskContext(const char* context);
  void PopTaskContext();
  void PushPseudoStackFrame(StackFrame frame);
  void PopPseudoStackFrame();

  void set_thread_name(const char* name) { thread_name_ = name; }
  // Open "ignore" scopes of this thread: its allocations meanwhile are the profiler's
  // own bookkeeping.
  uint32_t ignore_depth() const { return ignore_depth_; }
  const char* thread_name() const { return thread_name_; }
  const std::vector<const char*>& task_contexts() const { return task_contexts_; }
  const std::vector<StackFrame>& pseudo_stack() const { return pseudo_stack_; }

 private:
  HeapContextTracker();

  std::vector<StackFrame> pseudo_stack_;
  const char* thread_name_ = nullptr;
  std::vector<const char*> task_contexts_;
  uint32_t ignore_depth_ = 0;

  friend class HeapProfilerScopedIgnore;
};

// Marks the calling thread's allocations in scope as the trace machinery's own, while
// heap profiling is on.
class HeapProfilerScopedIgnore {
 public:
  HeapProfilerScopedIgnore();
  ~HeapProfilerScopedIgnore();
  HeapProfilerScopedIgnore(const HeapProfilerScopedIgnore&) = delete;
  HeapProfilerScopedIgnore& operator=(const HeapProfilerScopedIgnore&) = delete;

 private:
  HeapContextTracker* tracker_ = nullptr;
};

}  // namespace trace_event
}  // namespace base

#endif  // BASE_TRACE_EVENT_HEAP_CONTEXT_TRACKER_H_

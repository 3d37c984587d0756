#include "base/trace_event/heap_context_tracker.h"

#include <atomic>

#include "base/lazy_instance.h"
#include "base/threading/thread_local_storage.h"

namespace base {
namespace trace_event {

namespace {

std::atomic<int32_t> g_capture_mode{0};

// Marks the slot while the tracker is constructed, so allocations made meanwhile do
// not recurse into a second creation.
HeapContextTracker* const kInitializingSentinel = reinterpret_cast<HeapContextTracker*>(-1);

std::atomic<uintptr_t> g_tracker_slot{0};

void DestroyTracker(void* value) {
  if (value != kInitializingSentinel) delete static_cast<HeapContextTracker*>(value);
}

TlsSlot* TrackerSlot() {
  return GetOrCreateLazyPointer<TlsSlot>(
      &g_tracker_slot,
      [] {
        TlsSlot* slot = new TlsSlot;
        slot->Initialize(&DestroyTracker);
        return slot;
      },
      nullptr, nullptr);
}

}  // namespace

HeapContextTracker::CaptureMode HeapContextTracker::capture_mode() {
  return static_cast<CaptureMode>(g_capture_mode.load(std::memory_order_acquire));
}

void HeapContextTracker::SetCaptureMode(CaptureMode mode) {
  g_capture_mode.store(static_cast<int32_t>(mode), std::memory_order_release);
}

HeapContextTracker* HeapContextTracker::ForCurrentThread() {
  TlsSlot* slot = TrackerSlot();
  HeapContextTracker* tracker = static_cast<HeapContextTracker*>(slot->Get());
  if (tracker == kInitializingSentinel) return nullptr;
  if (!tracker) {
    slot->Set(kInitializingSentinel);
    tracker = new HeapContextTracker;
    slot->Set(tracker);
  }
  return tracker;
}

HeapContextTracker::HeapContextTracker() {
  pseudo_stack_.reserve(kMaxPseudoStackDepth);
  task_contexts_.reserve(kMaxTaskContexts);
}

void HeapContextTracker::PushTaskContext(const char* context) {
  if (task_contexts_.size() < kMaxTaskContexts) task_contexts_.push_back(context);
}

void HeapContextTracker::PopTaskContext() {
  if (!task_contexts_.empty()) task_contexts_.pop_back();
}

void HeapContextTracker::PushPseudoStackFrame(StackFrame frame) {
  if (pseudo_stack_.size() < kMaxPseudoStackDepth) pseudo_stack_.push_back(frame);
}

void HeapContextTracker::PopPseudoStackFrame() {
  if (!pseudo_stack_.empty()) pseudo_stack_.pop_back();
}

HeapProfilerScopedIgnore::HeapProfilerScopedIgnore() {
  if (HeapContextTracker::capture_mode() == HeapContextTracker::CaptureMode::DISABLED) return;
  tracker_ = HeapContextTracker::ForCurrentThread();
  if (tracker_) ++tracker_->ignore_depth_;
}

HeapProfilerScopedIgnore::~HeapProfilerScopedIgnore() {
  if (tracker_ && tracker_->ignore_depth_ > 0) --tracker_->ignore_depth_;
}

}  // namespace trace_event
}  // namespace base

#include "base/trace_event/thread_local_event_buffer.h"

#include <windows.h>

#include <utility>

#include "base/strings/stringprintf.h"
#include "base/trace_event/heap_context_tracker.h"
#include "base/trace_event/trace_buffer.h"
#include "base/trace_event/trace_event_memory_overhead.h"
#include "base/trace_event/trace_log.h"

namespace base {
namespace trace_event {

namespace {
thread_local ThreadLocalEventBuffer* t_event_buffer = nullptr;
}  // namespace

// static
ThreadLocalEventBuffer* ThreadLocalEventBuffer::Current() { return t_event_buffer; }

ThreadLocalEventBuffer::ThreadLocalEventBuffer(TraceLog* trace_log)
    : trace_log_(trace_log),
      loop_(MessageLoop::Current()),
      thread_id_(static_cast<int>(GetCurrentThreadId())),
      generation_(trace_log->generation_.load(std::memory_order_acquire)) {
  t_event_buffer = this;
  loop_->AddDestructionObserver(this);
  RegisterDumpProvider(this, "ThreadLocalEventBuffer", loop_->task_runner());
  AutoLock lock(trace_log_->lock_);
  trace_log_->thread_message_loops_.insert(loop_);
}

ThreadLocalEventBuffer::~ThreadLocalEventBuffer() {
  HeapProfilerScopedIgnore ignore;
  // An ending loop drops its observers itself.
  if (!loop_is_ending_) loop_->RemoveDestructionObserver(this);
  UnregisterDumpProvider(this);
  {
    AutoLock lock(trace_log_->lock_);
    FlushWhileLocked();
    trace_log_->thread_message_loops_.erase(loop_);
  }
  t_event_buffer = nullptr;
}

void ThreadLocalEventBuffer::WillDestroyCurrentMessageLoop() {
  loop_is_ending_ = true;
  delete this;
}

void ThreadLocalEventBuffer::FlushWhileLocked() {
  if (!chunk_) return;
  // A chunk of an earlier run has no place in the current buffer.
  if (generation_ == trace_log_->generation_.load(std::memory_order_acquire))
    trace_log_->logged_events_->ReturnChunk(chunk_index_, std::move(chunk_));
  chunk_.reset();
}

TraceEvent* ThreadLocalEventBuffer::AddTraceEvent(TraceEventHandle* handle) {
  if (chunk_ && chunk_->IsFull()) {
    AutoLock lock(trace_log_->lock_);
    FlushWhileLocked();
  }
  if (!chunk_) {
    AutoLock lock(trace_log_->lock_);
    chunk_ = trace_log_->logged_events_->GetChunk(&chunk_index_);
    if (chunk_) trace_log_->CheckIfBufferIsFullWhileLocked();
  }
  if (!chunk_) return nullptr;
  return chunk_->AddTraceEvent(chunk_index_, handle);
}

TraceEvent* ThreadLocalEventBuffer::GetEventByHandle(TraceEventHandle handle) {
  if (!chunk_ || handle.chunk_seq != chunk_->seq() || handle.chunk_index != chunk_index_)
    return nullptr;
  return chunk_->GetEventAt(handle.event_index);
}

bool ThreadLocalEventBuffer::OnMemoryDump(const MemoryDumpArgs&, ProcessMemoryDump* pmd) {
  if (!chunk_) return true;
  HeapProfilerScopedIgnore ignore;
  TraceEventMemoryOverhead overhead;
  chunk_->EstimateTraceMemoryOverhead(&overhead);
  overhead.DumpInto(StringPrintf("tracing/thread_%d", thread_id_).c_str(), pmd);
  return true;
}

}  // namespace trace_event
}  // namespace base

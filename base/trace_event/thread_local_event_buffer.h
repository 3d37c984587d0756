// The chunk that a thread with a message loop fills without the trace log's lock. It
// becomes the thread's buffer at construction, is owned by the thread's loop, and ends
// with the loop or when a new tracing run starts on its thread.
#ifndef BASE_TRACE_EVENT_THREAD_LOCAL_EVENT_BUFFER_H_
#define BASE_TRACE_EVENT_THREAD_LOCAL_EVENT_BUFFER_H_

#include <cstddef>
#include <memory>

#include "base/message_loop/message_loop.h"
#include "base/trace_event/memory_dump_provider.h"
#include "base/trace_event/trace_event.h"

namespace base {
namespace trace_event {

class TraceBufferChunk;
class TraceLog;

class ThreadLocalEventBuffer : public MessageLoop::DestructionObserver,
                               public MemoryDumpProvider {
 public:
  // Must be made on a thread with a message loop.
  explicit ThreadLocalEventBuffer(TraceLog* trace_log);
  ~ThreadLocalEventBuffer() override;
  ThreadLocalEventBuffer(const ThreadLocalEventBuffer&) = delete;
  ThreadLocalEventBuffer& operator=(const ThreadLocalEventBuffer&) = delete;

  // The calling thread's buffer, or null.
  static ThreadLocalEventBuffer* Current();

  // A free slot, trading a full chunk for a new one; null when the central buffer has
  // none.
  TraceEvent* AddTraceEvent(TraceEventHandle* handle);
  // The event when |handle| names this thread's current chunk.
  TraceEvent* GetEventByHandle(TraceEventHandle handle);
  const TraceBufferChunk* chunk() const { return chunk_.get(); }
  int generation() const { return generation_; }

  void WillDestroyCurrentMessageLoop() override;
  // "tracing/thread_<id>" while it holds a chunk.
  [[nodiscard]] bool OnMemoryDump(const MemoryDumpArgs& args, ProcessMemoryDump* pmd) override;

 private:
  void FlushWhileLocked();

  TraceLog* trace_log_;
  MessageLoop* loop_;
  bool loop_is_ending_ = false;
  const int thread_id_;
  std::unique_ptr<TraceBufferChunk> chunk_;
  size_t chunk_index_ = 0;
  const int generation_;
};

}  // namespace trace_event
}  // namespace base

#endif  // BASE_TRACE_EVENT_THREAD_LOCAL_EVENT_BUFFER_H_

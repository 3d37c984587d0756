// Where recorded events live: chunks of 64 reusable event slots, and the trace log's
// central buffer of chunks, either a ring that recycles its oldest chunks or a vector
// that grows up to a limit.
//
//   size_t index;
//   std::unique_ptr<TraceBufferChunk> chunk = buffer->GetChunk(&index);
//   TraceEvent* event = chunk->AddTraceEvent(&event_index);
//   ...
//   buffer->ReturnChunk(index, std::move(chunk));
#ifndef BASE_TRACE_EVENT_TRACE_BUFFER_H_
#define BASE_TRACE_EVENT_TRACE_BUFFER_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "base/trace_event/trace_event.h"
#include "base/trace_event/trace_event_memory_overhead.h"

namespace base {
namespace trace_event {

class TraceBufferChunk {
 public:
  static constexpr size_t kTraceBufferChunkSize = 64;

  explicit TraceBufferChunk(uint32_t seq);
  ~TraceBufferChunk();
  TraceBufferChunk(const TraceBufferChunk&) = delete;
  TraceBufferChunk& operator=(const TraceBufferChunk&) = delete;

  // Empties the chunk for reuse under a new sequence number.
  void Reset(uint32_t new_seq);
  // The next free slot; null, and counted as refused, when the chunk is full.
  TraceEvent* AddTraceEvent(size_t* event_index);
  // The same, filling |handle| for the chunk found at |chunk_index| of its buffer
  // (left as it was when refused).
  TraceEvent* AddTraceEvent(size_t chunk_index, TraceEventHandle* handle);
  bool IsFull() const { return next_free_ == kTraceBufferChunkSize; }

  uint32_t seq() const { return seq_; }
  size_t size() const { return next_free_; }
  // Events refused since the chunk was last reset.
  size_t refused_count() const { return refused_count_; }
  TraceEvent* GetEventAt(size_t index) { return &chunk_[index]; }
  const TraceEvent* GetEventAt(size_t index) const { return &chunk_[index]; }

  void EstimateTraceMemoryOverhead(TraceEventMemoryOverhead* overhead);

 private:
  size_t next_free_ = 0;
  size_t refused_count_ = 0;
  // Kept so that a full chunk is accounted in constant time.
  std::unique_ptr<TraceEventMemoryOverhead> cached_overhead_estimate_;
  TraceEvent chunk_[kTraceBufferChunkSize];
  uint32_t seq_;
};

class TraceBuffer {
 public:
  virtual ~TraceBuffer() = default;

  // A chunk to fill and its index, to be returned later; null when none is free.
  virtual std::unique_ptr<TraceBufferChunk> GetChunk(size_t* index) = 0;
  virtual void ReturnChunk(size_t index, std::unique_ptr<TraceBufferChunk> chunk) = 0;
  virtual bool IsFull() const = 0;
  // In events.
  virtual size_t Size() const = 0;
  virtual size_t Capacity() const = 0;
  // The event, or null when the handle's chunk has been recycled or is out.
  virtual TraceEvent* GetEventByHandle(TraceEventHandle handle) = 0;
  // For reading the buffer from start to end; null at the end.
  virtual const TraceBufferChunk* NextChunk() = 0;
  virtual void EstimateTraceMemoryOverhead(TraceEventMemoryOverhead* overhead) = 0;

  static std::unique_ptr<TraceBuffer> CreateTraceBufferRingBuffer(size_t max_chunks);
  static std::unique_ptr<TraceBuffer> CreateTraceBufferVectorOfSize(size_t max_chunks);
};

}  // namespace trace_event
}  // namespace base

#endif  // BASE_TRACE_EVENT_TRACE_BUFFER_H_

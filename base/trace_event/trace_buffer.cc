#include "base/trace_event/trace_buffer.h"

#include <algorithm>
#include <utility>

#include "base/trace_event/heap_context_tracker.h"

namespace base {
namespace trace_event {

namespace {

const char kRingBufferName[] = "TraceBufferRingBuffer";
const char kVectorBufferName[] = "TraceBufferVector";

// Chunk pointers a vector buffer reserves at once; a larger limit (8000000 chunks for
// "record as much as possible", 64 MB of pointers) is grown into as chunks are taken.
const size_t kVectorInitialChunkSlots = 4000;

// What both kinds keep: a slot per chunk index (empty while its chunk is out) and a
// limit.
class ChunkSlots : public TraceBuffer {
 public:
  ChunkSlots(size_t max_chunks, size_t reserved_slots) : max_chunks_(max_chunks) {
    chunks_.reserve(reserved_slots);
  }

  size_t Size() const override {
    return chunks_.size() * TraceBufferChunk::kTraceBufferChunkSize;
  }
  size_t Capacity() const override {
    return max_chunks_ * TraceBufferChunk::kTraceBufferChunkSize;
  }
  TraceEvent* GetEventByHandle(TraceEventHandle handle) override {
    if (handle.chunk_index >= chunks_.size()) return nullptr;
    TraceBufferChunk* chunk = chunks_[handle.chunk_index].get();
    if (!chunk || chunk->seq() != handle.chunk_seq) return nullptr;
    return chunk->GetEventAt(handle.event_index);
  }

 protected:
  const size_t max_chunks_;
  std::vector<std::unique_ptr<TraceBufferChunk>> chunks_;
};

class TraceBufferRingBuffer : public ChunkSlots {
 public:
  explicit TraceBufferRingBuffer(size_t max_chunks)
      : ChunkSlots(max_chunks, max_chunks), recyclable_chunks_queue_(max_chunks + 1) {
    for (size_t i = 0; i < max_chunks; ++i) recyclable_chunks_queue_[i] = i;
    queue_tail_ = max_chunks;
  }

  std::unique_ptr<TraceBufferChunk> GetChunk(size_t* index) override {
    HeapProfilerScopedIgnore ignore;
    // Every chunk is out: the trace log never holds that many, but refuse rather than
    // hand out a chunk twice.
    if (queue_head_ == queue_tail_) return nullptr;
    *index = recyclable_chunks_queue_[queue_head_];
    queue_head_ = NextQueueIndex(queue_head_);
    current_iteration_index_ = queue_head_;
    if (*index >= chunks_.size()) chunks_.resize(*index + 1);
    std::unique_ptr<TraceBufferChunk> chunk = std::move(chunks_[*index]);
    if (chunk)
      chunk->Reset(current_chunk_seq_++);
    else
      chunk.reset(new TraceBufferChunk(current_chunk_seq_++));
    return chunk;
  }

  void ReturnChunk(size_t index, std::unique_ptr<TraceBufferChunk> chunk) override {
    chunks_[index] = std::move(chunk);
    recyclable_chunks_queue_[queue_tail_] = index;
    queue_tail_ = NextQueueIndex(queue_tail_);
  }

  bool IsFull() const override { return false; }

  const TraceBufferChunk* NextChunk() override {
    if (chunks_.empty()) return nullptr;
    while (current_iteration_index_ != queue_tail_) {
      size_t chunk_index = recyclable_chunks_queue_[current_iteration_index_];
      current_iteration_index_ = NextQueueIndex(current_iteration_index_);
      if (chunk_index >= chunks_.size()) continue;
      if (chunks_[chunk_index]) return chunks_[chunk_index].get();
    }
    return nullptr;
  }

  void EstimateTraceMemoryOverhead(TraceEventMemoryOverhead* overhead) override {
    overhead->Add(kRingBufferName, 1, sizeof(*this), sizeof(*this));
    for (size_t queue_index = queue_head_; queue_index != queue_tail_;
         queue_index = NextQueueIndex(queue_index)) {
      size_t chunk_index = recyclable_chunks_queue_[queue_index];
      if (chunk_index < chunks_.size() && chunks_[chunk_index])
        chunks_[chunk_index]->EstimateTraceMemoryOverhead(overhead);
    }
  }

 private:
  size_t NextQueueIndex(size_t index) const {
    ++index;
    return index >= recyclable_chunks_queue_.size() ? 0 : index;
  }

  std::vector<size_t> recyclable_chunks_queue_;
  size_t queue_head_ = 0;
  size_t queue_tail_;
  size_t current_iteration_index_ = 0;
  uint32_t current_chunk_seq_ = 1;
};

class TraceBufferVector : public ChunkSlots {
 public:
  explicit TraceBufferVector(size_t max_chunks)
      : ChunkSlots(max_chunks, std::min(max_chunks, kVectorInitialChunkSlots)) {}

  // Hands out chunks past the limit too, so that metadata and flushes find room.
  std::unique_ptr<TraceBufferChunk> GetChunk(size_t* index) override {
    HeapProfilerScopedIgnore ignore;
    *index = chunks_.size();
    chunks_.push_back(nullptr);
    ++in_flight_chunk_count_;
    return std::unique_ptr<TraceBufferChunk>(
        new TraceBufferChunk(static_cast<uint32_t>(*index) + 1));
  }

  void ReturnChunk(size_t index, std::unique_ptr<TraceBufferChunk> chunk) override {
    --in_flight_chunk_count_;
    chunks_[index] = std::move(chunk);
  }

  bool IsFull() const override { return chunks_.size() >= max_chunks_; }

  const TraceBufferChunk* NextChunk() override {
    while (current_iteration_index_ < chunks_.size()) {
      const TraceBufferChunk* chunk = chunks_[current_iteration_index_++].get();
      if (chunk) return chunk;
    }
    return nullptr;
  }

  void EstimateTraceMemoryOverhead(TraceEventMemoryOverhead* overhead) override {
    const uint64_t allocated = sizeof(*this) + chunks_.capacity() * sizeof(void*);
    const uint64_t resident = sizeof(*this) + chunks_.size() * sizeof(void*);
    overhead->Add(kVectorBufferName, 1, allocated, resident);
    // Chunks in flight are counted by the thread buffers that hold them.
    for (const auto& chunk : chunks_) {
      if (chunk) chunk->EstimateTraceMemoryOverhead(overhead);
    }
  }

 private:
  size_t in_flight_chunk_count_ = 0;
  size_t current_iteration_index_ = 0;
};

}  // namespace

TraceBufferChunk::TraceBufferChunk(uint32_t seq) : seq_(seq) {}

TraceBufferChunk::~TraceBufferChunk() = default;

void TraceBufferChunk::Reset(uint32_t new_seq) {
  for (size_t i = 0; i < next_free_; ++i) chunk_[i].Reset();
  next_free_ = 0;
  refused_count_ = 0;
  seq_ = new_seq;
  cached_overhead_estimate_.reset();
}

TraceEvent* TraceBufferChunk::AddTraceEvent(size_t* event_index) {
  // A caller that missed the fullness check loses its event, not the process.
  if (IsFull()) {
    ++refused_count_;
    return nullptr;
  }
  *event_index = next_free_++;
  return &chunk_[*event_index];
}

TraceEvent* TraceBufferChunk::AddTraceEvent(size_t chunk_index, TraceEventHandle* handle) {
  size_t event_index = 0;
  TraceEvent* event = AddTraceEvent(&event_index);
  if (!event) return nullptr;
  handle->chunk_seq = seq_;
  handle->chunk_index = static_cast<uint32_t>(chunk_index);
  handle->event_index = static_cast<uint32_t>(event_index);
  return event;
}

void TraceBufferChunk::EstimateTraceMemoryOverhead(TraceEventMemoryOverhead* overhead) {
  HeapProfilerScopedIgnore ignore;
  if (!cached_overhead_estimate_) {
    cached_overhead_estimate_.reset(new TraceEventMemoryOverhead);
    const size_t own_size = sizeof(*this) - sizeof(chunk_);
    cached_overhead_estimate_->Add(kTraceBufferChunkName, 1, own_size, own_size);
  }
  const size_t counted =
      static_cast<size_t>(cached_overhead_estimate_->GetCount(kTraceEventName));
  for (size_t i = counted; i < next_free_; ++i)
    chunk_[i].EstimateTraceMemoryOverhead(cached_overhead_estimate_.get());
  if (IsFull()) {
    if (counted < kTraceBufferChunkSize) cached_overhead_estimate_->AddSelf();
  } else {
    const size_t unused = (kTraceBufferChunkSize - next_free_) * sizeof(TraceEvent);
    overhead->Add(kTraceEventUnusedName, 1, unused, unused);
  }
  overhead->Update(*cached_overhead_estimate_);
}

// static
std::unique_ptr<TraceBuffer> TraceBuffer::CreateTraceBufferRingBuffer(size_t max_chunks) {
  return std::unique_ptr<TraceBuffer>(new TraceBufferRingBuffer(max_chunks));
}

// static
std::unique_ptr<TraceBuffer> TraceBuffer::CreateTraceBufferVectorOfSize(size_t max_chunks) {
  return std::unique_ptr<TraceBuffer>(new TraceBufferVector(max_chunks));
}

}  // namespace trace_event
}  // namespace base

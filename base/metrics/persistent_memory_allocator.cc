#include "base/metrics/persistent_memory_allocator.h"

#include <algorithm>
#include <cstddef>

#include "base/logging.h"
#include "base/metrics/histogram_base.h"

namespace base {

namespace {

constexpr uint32_t kSegmentCookie = 0x564C4D53;  // "SMLV"
constexpr uint32_t kSegmentVersion = 1;
// The largest request: its block size must still fit a 32-bit size field.
constexpr uint64_t kMaxRequest = 0x3FFFFFF1;
// A block needs its header and at least one alignment unit.
constexpr uint32_t kMinFreeRoom = PersistentMemoryAllocator::kBlockHeaderSize + 8;
// Every record takes at least this many bytes; bounds how long a queue can honestly be.
constexpr uint32_t kMinRecordBytes = 24;
constexpr uint32_t kAllocAlignment = 8;

void (*g_after_get_block_for_testing)(void* block_header) = nullptr;

}  // namespace

struct PersistentMemoryAllocator::BlockHeader {
  std::atomic<uint32_t> size;
  std::atomic<uint32_t> cookie;
  std::atomic<uint32_t> type_id;
  std::atomic<uint32_t> next;
};

struct PersistentMemoryAllocator::SharedMetadata {
  // Identification, written once by the segment's creator.
  uint32_t cookie;
  uint32_t version;
  uint32_t size;
  uint32_t page_size;
  uint64_t id;
  uint32_t reserved[3];
  // Shared state, changed only by compare-and-swap.
  std::atomic<uint32_t> flags;
  std::atomic<uint32_t> freeptr;
  std::atomic<uint32_t> tailptr;
  BlockHeader queue;
};

PersistentMemoryAllocator::Iterator::Iterator(const PersistentMemoryAllocator* allocator)
    : allocator_(allocator), last_record_(kReferenceQueue), record_count_(0) {}

PersistentMemoryAllocator::Reference PersistentMemoryAllocator::Iterator::GetNext(
    uint32_t* type_id) {
  uint32_t count = record_count_.load(std::memory_order_relaxed);
  Reference last = last_record_.load(std::memory_order_acquire);
  Reference next;
  for (;;) {
    const BlockHeader* block = allocator_->GetBlock(last, 0, 0, true, false);
    if (!block) return 0;
    next = block->next.load(std::memory_order_acquire);
    if (next == kReferenceQueue) return 0;
    const BlockHeader* next_block = allocator_->GetBlock(next, 0, 0, false, false);
    if (!next_block) {
      allocator_->SetCorrupt();
      return 0;
    }
    // On failure |last| holds where another reader got to; go on from there.
    if (last_record_.compare_exchange_strong(last, next, std::memory_order_acq_rel,
                                             std::memory_order_acquire)) {
      *type_id = next_block->type_id.load(std::memory_order_relaxed);
      break;
    }
  }
  // A queue longer than the segment could hold is a cycle: stop instead of looping.
  uint64_t freeptr = std::min<uint64_t>(
      allocator_->shared()->freeptr.load(std::memory_order_relaxed), allocator_->mem_size_);
  if (count > freeptr / kMinRecordBytes) {
    allocator_->SetCorrupt();
    return 0;
  }
  record_count_.fetch_add(1, std::memory_order_relaxed);
  return next;
}

PersistentMemoryAllocator::Reference PersistentMemoryAllocator::Iterator::GetNextOfType(
    uint32_t type_id) {
  uint32_t found_type;
  for (Reference ref = GetNext(&found_type); ref; ref = GetNext(&found_type)) {
    if (found_type == type_id) return ref;
  }
  return 0;
}

PersistentMemoryAllocator::PersistentMemoryAllocator(void* base, size_t size, size_t page_size,
                                                     uint64_t id, bool read_only)
    : mem_base_(static_cast<char*>(base)), read_only_(read_only), corrupt_(false) {
  static_assert(sizeof(std::atomic<uint32_t>) == 4 && std::atomic<uint32_t>::is_always_lock_free,
                "shared counters are plain 32-bit words");
  static_assert(offsetof(SharedMetadata, flags) == 36, "layout");
  static_assert(offsetof(SharedMetadata, freeptr) == 40, "layout");
  static_assert(offsetof(SharedMetadata, tailptr) == 44, "layout");
  static_assert(offsetof(SharedMetadata, queue) == kReferenceQueue, "layout");
  static_assert(sizeof(SharedMetadata) == kFirstBlockOffset, "layout");
  static_assert(sizeof(BlockHeader) == kBlockHeaderSize, "layout");

  // The bytes this view covers; a segment's own size and page size, once it has them,
  // are what its creator chose.
  uint64_t view = std::min<uint64_t>(size, 0xFFFFFFFFu) & ~uint64_t{kAllocAlignment - 1};
  if (view < kFirstBlockOffset + kMinFreeRoom) {
    // Too small to hold even the header: nothing may touch the bytes.
    mem_size_ = 0;
    mem_page_ = 0;
    corrupt_.store(true, std::memory_order_relaxed);
    return;
  }
  mem_size_ = static_cast<uint32_t>(view);
  mem_page_ = static_cast<uint32_t>(view);

  SharedMetadata* meta = shared();
  if (!read_only && meta->cookie == 0 && meta->freeptr.load(std::memory_order_relaxed) == 0) {
    uint64_t page = page_size == 0 || page_size > view
                        ? view
                        : static_cast<uint64_t>(page_size) & ~uint64_t{kAllocAlignment - 1};
    // A last partial page would let a page-filling block run past the end.
    if (page < kFirstBlockOffset + kMinFreeRoom) page = view;
    view -= view % page;
    mem_size_ = static_cast<uint32_t>(view);
    mem_page_ = static_cast<uint32_t>(page);
    // A fresh segment: only its creator runs this, before anyone else maps it.
    meta->version = kSegmentVersion;
    meta->size = mem_size_;
    meta->page_size = mem_page_;
    meta->id = id;
    meta->tailptr.store(kReferenceQueue, std::memory_order_relaxed);
    meta->queue.size.store(kBlockHeaderSize, std::memory_order_relaxed);
    meta->queue.cookie.store(kBlockCookieAllocated, std::memory_order_relaxed);
    meta->queue.next.store(kReferenceQueue, std::memory_order_relaxed);
    meta->freeptr.store(kFirstBlockOffset, std::memory_order_relaxed);
    meta->cookie = kSegmentCookie;
    std::atomic_thread_fence(std::memory_order_release);
    return;
  }
  std::atomic_thread_fence(std::memory_order_acquire);
  uint32_t segment_size = meta->size;
  uint32_t segment_page = meta->page_size;
  if (meta->cookie != kSegmentCookie || meta->version != kSegmentVersion ||
      segment_size < kFirstBlockOffset + kMinFreeRoom || segment_size > view ||
      segment_size % kAllocAlignment != 0 || segment_page < kFirstBlockOffset + kMinFreeRoom ||
      segment_page % kAllocAlignment != 0 || segment_size % segment_page != 0) {
    SetCorrupt();
    return;
  }
  mem_size_ = segment_size;
  mem_page_ = segment_page;
}

PersistentMemoryAllocator::~PersistentMemoryAllocator() = default;

void PersistentMemoryAllocator::SetAfterGetBlockHookForTesting(void (*hook)(void* block_header)) {
  g_after_get_block_for_testing = hook;
}

PersistentMemoryAllocator::SharedMetadata* PersistentMemoryAllocator::shared() const {
  return reinterpret_cast<SharedMetadata*>(mem_base_);
}

uint64_t PersistentMemoryAllocator::Id() const { return mem_size_ ? shared()->id : 0; }

size_t PersistentMemoryAllocator::used() const {
  if (!mem_size_) return 0;
  return std::min<uint32_t>(shared()->freeptr.load(std::memory_order_relaxed), mem_size_);
}

void PersistentMemoryAllocator::SetTrackingHistograms(HistogramBase* allocations,
                                                      HistogramBase* errors) {
  allocations_histogram_ = allocations;
  errors_histogram_ = errors;
}

PersistentMemoryAllocator::Reference PersistentMemoryAllocator::Allocate(size_t size,
                                                                         uint32_t type_id) {
  Reference ref = AllocateImpl(size, type_id);
  if (allocations_histogram_) {
    allocations_histogram_->Add(
        ref ? static_cast<HistogramBase::Sample>(std::min<size_t>(size, INT32_MAX)) : 0);
  }
  return ref;
}

PersistentMemoryAllocator::Reference PersistentMemoryAllocator::AllocateImpl(size_t request,
                                                                             uint32_t type_id) {
  if (read_only_ || mem_size_ == 0) return 0;
  if (static_cast<uint64_t>(request) >= kMaxRequest) return 0;
  uint64_t size = (static_cast<uint64_t>(request) + kBlockHeaderSize + kAllocAlignment - 1) &
                  ~uint64_t{kAllocAlignment - 1};
  if (size <= kBlockHeaderSize || size > mem_page_) return 0;

  SharedMetadata* meta = shared();
  for (;;) {
    uint32_t freeptr = meta->freeptr.load(std::memory_order_acquire);
    if (IsCorrupt()) return 0;
    if (static_cast<uint64_t>(freeptr) + size > mem_size_) {
      SetFlag(kFlagFull);
      return 0;
    }
    if (freeptr < kFirstBlockOffset || freeptr % kAllocAlignment != 0 ||
        static_cast<uint64_t>(freeptr) + kBlockHeaderSize > mem_size_) {
      SetCorrupt();
      return 0;
    }

    uint32_t page_free = mem_page_ - freeptr % mem_page_;
    if (size > page_free) {
      if (page_free <= kBlockHeaderSize) {
        SetCorrupt();
        return 0;
      }
      uint32_t expected = freeptr;
      if (meta->freeptr.compare_exchange_strong(expected, freeptr + page_free,
                                                std::memory_order_acq_rel,
                                                std::memory_order_acquire)) {
        BlockHeader* waste = reinterpret_cast<BlockHeader*>(mem_base_ + freeptr);
        waste->size.store(page_free, std::memory_order_relaxed);
        waste->cookie.store(kBlockCookieWasted, std::memory_order_release);
      }
      continue;
    }
    // A remainder too small for any block would be lost anyway: give it to this one.
    if (page_free - size < kMinFreeRoom) size = page_free;
    if (static_cast<uint64_t>(freeptr) + size > mem_size_) {
      SetCorrupt();
      return 0;
    }
    uint32_t expected = freeptr;
    if (!meta->freeptr.compare_exchange_strong(expected, static_cast<uint32_t>(freeptr + size),
                                               std::memory_order_acq_rel,
                                               std::memory_order_acquire)) {
      continue;
    }
    BlockHeader* block = reinterpret_cast<BlockHeader*>(mem_base_ + freeptr);
    if (block->size.load(std::memory_order_relaxed) != 0 ||
        block->cookie.load(std::memory_order_relaxed) != 0 ||
        block->type_id.load(std::memory_order_relaxed) != 0 ||
        block->next.load(std::memory_order_relaxed) != 0) {
      SetCorrupt();
      return 0;
    }
    block->size.store(static_cast<uint32_t>(size), std::memory_order_relaxed);
    block->cookie.store(kBlockCookieAllocated, std::memory_order_relaxed);
    block->type_id.store(type_id, std::memory_order_release);
    return freeptr;
  }
}

PersistentMemoryAllocator::BlockHeader* PersistentMemoryAllocator::GetBlock(
    Reference ref, uint32_t type_id, uint64_t size, bool queue_ok, bool free_ok,
    uint32_t* checked_size) const {
  if (mem_size_ == 0) return nullptr;
  if (ref == kReferenceQueue && queue_ok) return &shared()->queue;
  if (ref < kFirstBlockOffset || ref % kAllocAlignment != 0) return nullptr;
  if (static_cast<uint64_t>(ref) + kBlockHeaderSize + size > mem_size_) return nullptr;
  BlockHeader* block = reinterpret_cast<BlockHeader*>(mem_base_ + ref);
  if (!free_ok) {
    if (block->cookie.load(std::memory_order_relaxed) != kBlockCookieAllocated) return nullptr;
    uint32_t block_size = block->size.load(std::memory_order_relaxed);
    if (block_size < kBlockHeaderSize + size) return nullptr;
    if (static_cast<uint64_t>(ref) + block_size > mem_size_) return nullptr;
    if (type_id != 0 && block->type_id.load(std::memory_order_acquire) != type_id) return nullptr;
    if (checked_size) *checked_size = block_size;
  }
  if (g_after_get_block_for_testing) g_after_get_block_for_testing(block);
  return block;
}

uint32_t PersistentMemoryAllocator::GetAllocSize(Reference ref) const {
  const BlockHeader* block = GetBlock(ref, 0, 0, false, true);
  if (!block || block->cookie.load(std::memory_order_relaxed) != kBlockCookieAllocated) return 0;
  uint32_t size = block->size.load(std::memory_order_relaxed);
  if (size <= kBlockHeaderSize || static_cast<uint64_t>(ref) + size > mem_size_) {
    SetCorrupt();
    return 0;
  }
  return size - kBlockHeaderSize;
}

uint32_t PersistentMemoryAllocator::GetType(Reference ref) const {
  const BlockHeader* block = GetBlock(ref, 0, 0, false, false);
  return block ? block->type_id.load(std::memory_order_acquire) : 0;
}

bool PersistentMemoryAllocator::ChangeType(Reference ref, uint32_t to_type, uint32_t from_type,
                                           bool clear) {
  if (read_only_) return false;
  uint32_t block_size = 0;
  BlockHeader* block = GetBlock(ref, 0, 0, false, false, &block_size);
  if (!block) return false;
  if (!clear) {
    return block->type_id.compare_exchange_strong(from_type, to_type, std::memory_order_acq_rel,
                                                  std::memory_order_acquire);
  }
  if (!block->type_id.compare_exchange_strong(
          from_type, kTypeIdTransitioning, std::memory_order_acq_rel, std::memory_order_acquire)) {
    return false;
  }
  // Word by word, so a reader in another process never sees torn words. The size is the
  // one GetBlock checked: a peer may have rewritten the shared field since.
  uint32_t words = (block_size - kBlockHeaderSize) / 4;
  std::atomic<uint32_t>* payload = reinterpret_cast<std::atomic<uint32_t>*>(block + 1);
  for (uint32_t i = 0; i < words; ++i) payload[i].store(0, std::memory_order_relaxed);
  if (to_type == kTypeIdTransitioning) return true;
  uint32_t expected = kTypeIdTransitioning;
  return block->type_id.compare_exchange_strong(expected, to_type, std::memory_order_acq_rel,
                                                std::memory_order_acquire);
}

void PersistentMemoryAllocator::MakeIterable(Reference ref) {
  if (read_only_ || IsCorrupt()) return;
  BlockHeader* block = GetBlock(ref, 0, 0, false, false);
  if (!block) return;
  // Claiming the link with a compare-and-swap keeps two callers from queueing it twice.
  uint32_t unlinked = 0;
  if (!block->next.compare_exchange_strong(unlinked, kReferenceQueue, std::memory_order_acq_rel,
                                           std::memory_order_acquire)) {
    return;
  }
  SharedMetadata* meta = shared();
  // Every failed round moves the tail past one record another thread appended, so an
  // honest queue ends within as many rounds as the segment holds records; a damaged one
  // (a link back into the queue, a block linked to itself) would go round for ever.
  const uint32_t max_rounds = mem_size_ / kMinRecordBytes + 2;
  for (uint32_t round = 0;; ++round) {
    uint32_t tail = meta->tailptr.load(std::memory_order_acquire);
    BlockHeader* tail_block = GetBlock(tail, 0, 0, true, false);
    if (!tail_block || tail == ref || round > max_rounds) {
      SetCorrupt();
      return;
    }
    uint32_t next = kReferenceQueue;
    if (tail_block->next.compare_exchange_strong(next, ref, std::memory_order_acq_rel,
                                                 std::memory_order_acquire)) {
      meta->tailptr.compare_exchange_strong(tail, ref, std::memory_order_acq_rel,
                                            std::memory_order_acquire);
      return;
    }
    // Another thread appended but has not moved the tail yet: move it for them.
    meta->tailptr.compare_exchange_strong(tail, next, std::memory_order_acq_rel,
                                          std::memory_order_acquire);
  }
}

void* PersistentMemoryAllocator::GetBlockData(Reference ref, uint32_t type_id, size_t size) const {
  BlockHeader* block = GetBlock(ref, type_id, size, false, false);
  return block ? block + 1 : nullptr;
}

PersistentMemoryAllocator::Reference PersistentMemoryAllocator::GetAsReference(
    const void* payload, uint32_t type_id) const {
  const char* bytes = static_cast<const char*>(payload);
  if (mem_size_ == 0 || bytes < mem_base_ + kFirstBlockOffset + kBlockHeaderSize ||
      bytes >= mem_base_ + mem_size_) {
    return 0;
  }
  Reference ref = static_cast<Reference>(bytes - mem_base_ - kBlockHeaderSize);
  return GetBlock(ref, type_id, 0, false, false) ? ref : 0;
}

bool PersistentMemoryAllocator::IsCorrupt() const {
  if (corrupt_.load(std::memory_order_relaxed)) return true;
  if (CheckFlag(kFlagCorrupt)) {
    corrupt_.store(true, std::memory_order_relaxed);
    return true;
  }
  return false;
}

bool PersistentMemoryAllocator::IsFull() const { return CheckFlag(kFlagFull); }

void PersistentMemoryAllocator::SetCorrupt() const {
  bool shared_flag = CheckFlag(kFlagCorrupt);
  if (!corrupt_.exchange(true, std::memory_order_relaxed) && !shared_flag) {
    LOG(ERROR) << "Corruption detected in shared-memory segment.";
    if (errors_histogram_) errors_histogram_->Add(kErrorCorrupt);
  }
  if (!read_only_) SetFlag(kFlagCorrupt);
}

void PersistentMemoryAllocator::SetFlag(uint32_t flag) const {
  if (mem_size_ == 0) return;
  shared()->flags.fetch_or(flag, std::memory_order_acq_rel);
}

bool PersistentMemoryAllocator::CheckFlag(uint32_t flag) const {
  return mem_size_ != 0 && (shared()->flags.load(std::memory_order_acquire) & flag) != 0;
}

}  // namespace base

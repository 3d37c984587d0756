// Typed blocks carved out of one contiguous segment (heap, file mapping or shared
// memory) without locks, so that threads and processes mapping the same bytes can
// allocate records and find each other's. Blocks are addressed by 32-bit offsets
// ("references"); the segment only grows, records are retired by changing their type.
//
//   PersistentMemoryAllocator allocator(memory, size, 4096, id, false);
//   Reference ref = allocator.Allocate(sizeof(Record), kRecordType);
//   Record* record = allocator.GetAsObject<Record>(ref, kRecordType);
//   ... fill it ...
//   allocator.MakeIterable(ref);   // now readers walking the queue see it
//
// Layout of the segment (little-endian), which other processes rely on:
//   0  36 bytes identification (cookie, version, size, page size, id)
//   36 u32 flags: 0x1 corrupt, 0x2 full
//   40 u32 free offset
//   44 u32 queue tail
//   48 16 bytes queue head (a block header without payload)
//   64 the first block; each block starts with a 16-byte header
//      (size, cookie, type id, next iterable block).
#ifndef BASE_METRICS_PERSISTENT_MEMORY_ALLOCATOR_H_
#define BASE_METRICS_PERSISTENT_MEMORY_ALLOCATOR_H_

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace base {

class HistogramBase;

class PersistentMemoryAllocator {
 public:
  typedef uint32_t Reference;

  // The queue head's reference: "end of the queue" in a block's next field.
  static constexpr Reference kReferenceQueue = 48;
  static constexpr uint32_t kFirstBlockOffset = 64;
  static constexpr uint32_t kBlockHeaderSize = 16;
  static constexpr uint32_t kBlockCookieAllocated = 0xC8799269;
  static constexpr uint32_t kBlockCookieWasted = 0xFFFFFFFF;
  // The type of a block whose payload is being cleared by ChangeType.
  static constexpr uint32_t kTypeIdTransitioning = 0xFFFFFFFF;
  static constexpr uint32_t kFlagCorrupt = 0x1;
  static constexpr uint32_t kFlagFull = 0x2;
  // Value added to the errors histogram when the segment is found corrupt.
  static constexpr int kErrorCorrupt = 1;

  // Walks the iterable queue. Several threads may share one iterator; each record is
  // returned to exactly one of them.
  class Iterator {
   public:
    explicit Iterator(const PersistentMemoryAllocator* allocator);
    Iterator(const Iterator&) = delete;
    Iterator& operator=(const Iterator&) = delete;

    // The next iterable record and its type, or 0 at the end (or on corruption).
    Reference GetNext(uint32_t* type_id);
    // The next iterable record of |type_id|, or 0.
    Reference GetNextOfType(uint32_t type_id);

   private:
    const PersistentMemoryAllocator* allocator_;
    std::atomic<uint32_t> last_record_;
    std::atomic<uint32_t> record_count_;
  };

  // Works over |size| bytes at |base| (8-byte aligned, not owned). A writable allocator
  // over all-zero bytes creates a segment there with |id|, in which no block crosses a
  // multiple of |page_size| (0, or a page too small for a block: the whole segment is
  // one page) and whose size is cut to a whole number of pages. Over a segment created
  // before, the creator's size and page size hold; other bytes make it corrupt.
  PersistentMemoryAllocator(void* base, size_t size, size_t page_size, uint64_t id, bool read_only);
  PersistentMemoryAllocator(const PersistentMemoryAllocator&) = delete;
  PersistentMemoryAllocator& operator=(const PersistentMemoryAllocator&) = delete;
  virtual ~PersistentMemoryAllocator();

  // A new block with at least |size| payload bytes, or 0.
  Reference Allocate(size_t size, uint32_t type_id);
  // The payload size of an allocated block, or 0.
  uint32_t GetAllocSize(Reference ref) const;
  // The type of an allocated block, or 0.
  uint32_t GetType(Reference ref) const;
  // Changes the type from |from_type| to |to_type|; with |clear| the payload is zeroed
  // in between (the block then reads as kTypeIdTransitioning).
  [[nodiscard]] bool ChangeType(Reference ref, uint32_t to_type, uint32_t from_type, bool clear);
  // Appends the block to the iterable queue; a block already there stays where it is.
  void MakeIterable(Reference ref);

  // The payload of an allocated block of |type_id| (0: any) holding at least |size|
  // bytes, or null.
  void* GetBlockData(Reference ref, uint32_t type_id, size_t size) const;
  template <typename T>
  T* GetAsObject(Reference ref, uint32_t type_id) const {
    return static_cast<T*>(GetBlockData(ref, type_id, sizeof(T)));
  }
  // The reverse of GetBlockData: the reference of a payload, or 0.
  Reference GetAsReference(const void* payload, uint32_t type_id) const;

  // Called with a block's header each time one passed the checks: lets a test play a
  // peer process that rewrites the header between check and use.
  static void SetAfterGetBlockHookForTesting(void (*hook)(void* block_header));

  bool IsCorrupt() const;
  bool IsFull() const;
  // Marks the segment corrupt for good; the first finder logs it.
  void SetCorrupt() const;

  // Optional usage histograms (not owned): request sizes of allocations (0 for a
  // failure) and errors.
  void SetTrackingHistograms(HistogramBase* allocations, HistogramBase* errors);

  uint64_t Id() const;
  size_t size() const { return mem_size_; }
  size_t used() const;
  bool read_only() const { return read_only_; }

 private:
  struct BlockHeader;
  struct SharedMetadata;

  SharedMetadata* shared() const;
  Reference AllocateImpl(size_t size, uint32_t type_id);
  // The header at |ref| when it is a valid block position with room for |size| payload
  // bytes; |queue_ok| accepts the queue head, |free_ok| skips the allocated-block checks.
  // |checked_size|, when given, receives the block size the checks used, so that callers
  // never read the shared field a second time.
  BlockHeader* GetBlock(Reference ref, uint32_t type_id, uint64_t size, bool queue_ok,
                        bool free_ok, uint32_t* checked_size = nullptr) const;
  void SetFlag(uint32_t flag) const;
  bool CheckFlag(uint32_t flag) const;

  char* const mem_base_;
  uint32_t mem_size_;
  uint32_t mem_page_;
  const bool read_only_;
  mutable std::atomic<bool> corrupt_;
  HistogramBase* allocations_histogram_ = nullptr;
  HistogramBase* errors_histogram_ = nullptr;
};

}  // namespace base

#endif  // BASE_METRICS_PERSISTENT_MEMORY_ALLOCATOR_H_

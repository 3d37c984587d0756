#include "base/metrics/persistent_memory_allocator.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "base/logging.h"
#include "base/synchronization/sync_event.h"
#include "base/threading/plain_thread.h"
#include "base/time/time.h"

namespace base {
namespace {

typedef PersistentMemoryAllocator::Reference Reference;

constexpr uint32_t kTestType = 0x12345678;
const char kCorruptionLine[] = "Corruption detected in shared-memory segment.";

std::atomic<int> g_corruption_lines{0};

bool CountCorruptionLines(int, const char*, int, size_t start, const std::string& text) {
  if (text.find(kCorruptionLine, start) != std::string::npos) ++g_corruption_lines;
  return true;
}

// Counts the corruption lines logged while it lives.
class CorruptionLogCounter {
 public:
  CorruptionLogCounter() {
    g_corruption_lines = 0;
    SetLogMessageHandler(&CountCorruptionLines);
  }
  ~CorruptionLogCounter() { SetLogMessageHandler(nullptr); }
  int count() const { return g_corruption_lines.load(); }
};

// Zeroed, 8-byte aligned segment memory.
class Segment {
 public:
  explicit Segment(size_t bytes) : words_(bytes / 8, 0) {}
  void* data() { return words_.data(); }
  size_t size() const { return words_.size() * 8; }
  uint32_t Word(size_t offset) const {
    uint32_t value;
    memcpy(&value, reinterpret_cast<const char*>(words_.data()) + offset, 4);
    return value;
  }
  void SetWord(size_t offset, uint32_t value) {
    memcpy(reinterpret_cast<char*>(words_.data()) + offset, &value, 4);
  }

 private:
  std::vector<uint64_t> words_;
};

TEST(PersistentMemoryAllocatorTest, FreshSegmentLayout) {
  Segment segment(1024);
  PersistentMemoryAllocator allocator(segment.data(), segment.size(), 0, 42, false);
  EXPECT_FALSE(allocator.IsCorrupt());
  EXPECT_EQ(42u, allocator.Id());
  EXPECT_EQ(0u, segment.Word(36)) << "flags";
  EXPECT_EQ(64u, segment.Word(40)) << "free offset";
  EXPECT_EQ(48u, segment.Word(44)) << "queue tail";
  EXPECT_EQ(48u, segment.Word(48 + 12)) << "queue head's next: empty queue";

  Reference first = allocator.Allocate(1, kTestType);
  EXPECT_EQ(64u, first);
  EXPECT_EQ(24u, segment.Word(64)) << "block size";
  EXPECT_EQ(0xC8799269u, segment.Word(68)) << "cookie";
  EXPECT_EQ(kTestType, segment.Word(72)) << "type";
  EXPECT_EQ(0u, segment.Word(76)) << "not iterable";
  EXPECT_EQ(88u, segment.Word(40));

  // A second allocator over the same bytes sees the same segment, with the creator's
  // page size.
  PersistentMemoryAllocator reader(segment.data(), segment.size(), 256, 0, true);
  EXPECT_FALSE(reader.IsCorrupt());
  EXPECT_EQ(42u, reader.Id());
  EXPECT_EQ(1024u, reader.size());
  EXPECT_EQ(8u, reader.GetAllocSize(first));
  EXPECT_EQ(0u, reader.Allocate(8, kTestType)) << "read-only";
}

TEST(PersistentMemoryAllocatorTest, BlockSizes) {
  struct Case {
    size_t request;
    uint32_t payload;  // 0: refused
  } cases[] = {
      {0, 0},          {1, 8},
      {8, 8},          {9, 16},
      {100, 104},      {1024 - 16, 1024 - 16},
      {1024 - 15, 0},  {0x3FFFFFF0, 0},
      {0x3FFFFFF1, 0}, {static_cast<size_t>(-1), 0},
  };
  for (const Case& c : cases) {
    Segment segment(8192);
    PersistentMemoryAllocator allocator(segment.data(), segment.size(), 1024, 0, false);
    Reference ref = allocator.Allocate(c.request, kTestType);
    EXPECT_EQ(c.payload, ref ? allocator.GetAllocSize(ref) : 0u) << c.request;
    EXPECT_FALSE(allocator.IsCorrupt()) << c.request;
    EXPECT_FALSE(allocator.IsFull()) << c.request;
  }
}

TEST(PersistentMemoryAllocatorTest, PageBoundaries) {
  Segment segment(1024);
  PersistentMemoryAllocator allocator(segment.data(), segment.size(), 256, 0, false);
  EXPECT_EQ(64u, allocator.Allocate(100, kTestType));  // 120 bytes: 64 .. 184
  // 120 more bytes do not fit the 72 left in the page: those become a wasted block.
  EXPECT_EQ(256u, allocator.Allocate(100, kTestType));
  EXPECT_EQ(72u, segment.Word(184));
  EXPECT_EQ(0xFFFFFFFFu, segment.Word(188));
  EXPECT_EQ(0u, allocator.GetAllocSize(184));

  // 120 bytes at 376 would leave 16 bytes of the page: the block takes them.
  Reference filling = allocator.Allocate(104, kTestType);
  EXPECT_EQ(376u, filling);
  EXPECT_EQ(136u - 16u, allocator.GetAllocSize(filling));
  EXPECT_EQ(512u, allocator.Allocate(1, kTestType));
  EXPECT_FALSE(allocator.IsCorrupt());
}

TEST(PersistentMemoryAllocatorTest, FullSegmentIsNotCorrupt) {
  CorruptionLogCounter log;
  Segment segment(1024);
  PersistentMemoryAllocator allocator(segment.data(), segment.size(), 0, 0, false);
  int allocated = 0;
  while (allocator.Allocate(100, kTestType)) ++allocated;
  EXPECT_EQ(8, allocated);  // 64 + 8 x 120 = 1024
  EXPECT_TRUE(allocator.IsFull());
  EXPECT_FALSE(allocator.IsCorrupt());
  EXPECT_EQ(2u, segment.Word(36));
  EXPECT_EQ(0u, allocator.Allocate(1, kTestType));
  EXPECT_FALSE(allocator.IsCorrupt());

  // A segment ending just short of a page boundary: a block taking the rest of its
  // page would run past the end, so the partial page is not used at all.
  Segment short_page(1016);
  PersistentMemoryAllocator paged(short_page.data(), short_page.size(), 256, 0, false);
  EXPECT_EQ(768u, paged.size());
  EXPECT_EQ(768u, PersistentMemoryAllocator(short_page.data(), 1016, 0, 0, true).size());
  while (paged.Allocate(24, kTestType)) {
  }
  EXPECT_TRUE(paged.IsFull());
  EXPECT_FALSE(paged.IsCorrupt());
  EXPECT_EQ(0, log.count());
}

TEST(PersistentMemoryAllocatorTest, ChangeTypeAndReverseLookup) {
  Segment segment(1024);
  PersistentMemoryAllocator allocator(segment.data(), segment.size(), 0, 0, false);
  Reference ref = allocator.Allocate(16, kTestType);
  uint32_t* payload = static_cast<uint32_t*>(allocator.GetBlockData(ref, kTestType, 16));
  ASSERT_NE(nullptr, payload);
  payload[0] = 7;
  payload[3] = 9;
  EXPECT_EQ(nullptr, allocator.GetBlockData(ref, kTestType + 1, 16));
  EXPECT_EQ(nullptr, allocator.GetBlockData(ref, kTestType, 17));
  EXPECT_EQ(ref, allocator.GetAsReference(payload, kTestType));
  EXPECT_EQ(0u, allocator.GetAsReference(payload, kTestType + 1));
  EXPECT_EQ(0u, allocator.GetAsReference(payload + 1, 0)) << "not a payload start";

  EXPECT_FALSE(allocator.ChangeType(ref, 5, kTestType + 1, false));
  EXPECT_TRUE(allocator.ChangeType(ref, 5, kTestType, false));
  EXPECT_EQ(7u, payload[0]);
  EXPECT_TRUE(allocator.ChangeType(ref, 6, 5, true));
  EXPECT_EQ(6u, allocator.GetType(ref));
  EXPECT_EQ(0u, payload[0]);
  EXPECT_EQ(0u, payload[3]);
}

Reference AllocateIterable(PersistentMemoryAllocator* allocator, uint32_t type) {
  Reference ref = allocator->Allocate(8, type);
  allocator->MakeIterable(ref);
  return ref;
}

TEST(PersistentMemoryAllocatorTest, IterationInQueueOrder) {
  Segment segment(4096);
  PersistentMemoryAllocator allocator(segment.data(), segment.size(), 0, 0, false);
  Reference a = AllocateIterable(&allocator, 1);
  Reference hidden = allocator.Allocate(8, 1);
  Reference b = AllocateIterable(&allocator, 2);
  allocator.MakeIterable(a);  // already queued: stays where it is
  Reference c = AllocateIterable(&allocator, 1);

  PersistentMemoryAllocator::Iterator iterator(&allocator);
  uint32_t type = 0;
  EXPECT_EQ(a, iterator.GetNext(&type));
  EXPECT_EQ(1u, type);
  EXPECT_EQ(b, iterator.GetNext(&type));
  EXPECT_EQ(2u, type);
  EXPECT_EQ(c, iterator.GetNext(&type));
  EXPECT_EQ(0u, iterator.GetNext(&type));
  // Records queued later are found by the same iterator.
  allocator.MakeIterable(hidden);
  EXPECT_EQ(hidden, iterator.GetNext(&type));

  PersistentMemoryAllocator::Iterator of_type(&allocator);
  EXPECT_EQ(a, of_type.GetNextOfType(1));
  EXPECT_EQ(c, of_type.GetNextOfType(1));
  EXPECT_EQ(hidden, of_type.GetNextOfType(1));
  EXPECT_EQ(0u, of_type.GetNextOfType(1));
  EXPECT_FALSE(allocator.IsCorrupt());
}

TEST(PersistentMemoryAllocatorTest, CycleInQueueStopsIterationAndIsLoggedOnce) {
  CorruptionLogCounter log;
  Segment segment(4096);
  PersistentMemoryAllocator allocator(segment.data(), segment.size(), 0, 0, false);
  Reference first = AllocateIterable(&allocator, 1);
  AllocateIterable(&allocator, 1);
  Reference last = AllocateIterable(&allocator, 1);
  segment.SetWord(last + 12, first);  // the last record links back to the first

  PersistentMemoryAllocator::Iterator iterator(&allocator);
  uint32_t type;
  uint32_t returned = 0;
  while (iterator.GetNext(&type) && returned < 1000) ++returned;
  EXPECT_LE(returned, segment.Word(40) / 24 + 1);
  EXPECT_TRUE(allocator.IsCorrupt());
  EXPECT_EQ(1u, segment.Word(36) & 1);
  EXPECT_EQ(0u, allocator.Allocate(8, 1)) << "nothing more after corruption";
  EXPECT_EQ(1, log.count());

  // Another allocator over the bytes learns it from the shared flag, silently.
  PersistentMemoryAllocator other(segment.data(), segment.size(), 0, 0, false);
  EXPECT_TRUE(other.IsCorrupt());
  other.SetCorrupt();
  EXPECT_EQ(1, log.count());
}

// Runs |append| on a thread of its own: a damaged queue must make it return, and a
// call that never returns would otherwise hang the whole test executable. Base's thread
// and a Windows event: a detached std::thread with a timed std::future wait stalled the
// whole process on a loaded machine, the time-out never coming.
class AppendThread : public PlainThread {
 public:
  explicit AppendThread(std::function<void()> append)
      : PlainThread("DamagedQueueAppend"), append_(std::move(append)) {}
  SyncEvent& done() { return done_; }

 private:
  void Run() override {
    append_();
    done_.Signal();
  }

  std::function<void()> append_;
  SyncEvent done_{SyncEvent::MANUAL, SyncEvent::NOT_SIGNALED};
};

void ExpectReturns(const char* what, std::function<void()> append) {
  AppendThread thread(std::move(append));
  ASSERT_TRUE(thread.Start());
  if (!thread.done().TimedWait(TimeDelta::FromSeconds(60))) {
    fprintf(stderr, "%s: appending to the damaged queue never returned\n", what);
    fflush(stderr);
    _Exit(1);
  }
  thread.Join();
}

TEST(PersistentMemoryAllocatorTest, AppendingToADamagedQueueEnds) {
  struct Case {
    const char* what;
    bool tail_to_free_offset;  // else the last record links back to the first
  } cases[] = {{"link back to the first record", false}, {"tail at the free offset", true}};
  for (const Case& c : cases) {
    CorruptionLogCounter log;
    Segment segment(4096);
    PersistentMemoryAllocator allocator(segment.data(), segment.size(), 0, 0, false);
    Reference first = AllocateIterable(&allocator, 1);
    Reference last = AllocateIterable(&allocator, 1);
    if (c.tail_to_free_offset) {
      segment.SetWord(44, segment.Word(40));
    } else {
      segment.SetWord(last + 12, first);
    }
    ExpectReturns(c.what, [&allocator] {
      for (int i = 0; i < 3 && !allocator.IsCorrupt(); ++i) AllocateIterable(&allocator, 2);
    });
    EXPECT_TRUE(allocator.IsCorrupt()) << c.what;
    EXPECT_EQ(1, log.count()) << c.what;
  }
}

TEST(PersistentMemoryAllocatorTest, ClearingUsesTheCheckedSize) {
  Segment segment(4096);
  PersistentMemoryAllocator allocator(segment.data(), segment.size(), 0, 0, false);
  Reference ref = allocator.Allocate(16, kTestType);
  Reference after = allocator.Allocate(16, kTestType);
  uint32_t* next_payload = static_cast<uint32_t*>(allocator.GetBlockData(after, kTestType, 16));
  ASSERT_NE(nullptr, next_payload);
  next_payload[0] = 0xAAAAAAAA;
  // A peer shrinks the size field below the header's between the check and the clearing:
  // an unsigned "size - header" would then clear about a billion words.
  static uint32_t* size_field;
  size_field = reinterpret_cast<uint32_t*>(static_cast<char*>(segment.data()) + ref);
  PersistentMemoryAllocator::SetAfterGetBlockHookForTesting(
      [](void*) { *size_field = 8; });
  bool changed = allocator.ChangeType(ref, 5, kTestType, true);
  PersistentMemoryAllocator::SetAfterGetBlockHookForTesting(nullptr);
  EXPECT_TRUE(changed);
  EXPECT_EQ(0xAAAAAAAAu, next_payload[0]) << "the next block was cleared";
  EXPECT_EQ(32u, segment.Word(after)) << "the next block's header was cleared";
}

// One word of a segment changed behind the allocators' backs.
struct DamagedWord {
  const char* what;
  size_t offset;
  uint32_t value;
};

TEST(PersistentMemoryAllocatorTest, DamageIsDetected) {
  const DamagedWord cases[] = {
      {"free offset not aligned", 40, 100},
      {"free offset inside the header", 40, 24},
      {"queue tail outside every block", 44, 4},
      {"claimed space not empty", 112 + 4, 0xC8799269},
  };
  for (const DamagedWord& c : cases) {
    CorruptionLogCounter log;
    Segment segment(4096);
    PersistentMemoryAllocator allocator(segment.data(), segment.size(), 0, 0, false);
    AllocateIterable(&allocator, 1);
    AllocateIterable(&allocator, 1);  // 64 and 88; free offset 112
    segment.SetWord(c.offset, c.value);
    Reference ref = allocator.Allocate(8, 1);
    allocator.MakeIterable(ref);
    allocator.MakeIterable(allocator.Allocate(8, 1));
    EXPECT_TRUE(allocator.IsCorrupt()) << c.what;
    EXPECT_EQ(1, log.count()) << c.what;
  }

  // A damaged cookie makes the block unreadable, and the queue walk through it corrupt.
  CorruptionLogCounter log;
  Segment segment(4096);
  PersistentMemoryAllocator allocator(segment.data(), segment.size(), 0, 0, false);
  Reference first = AllocateIterable(&allocator, 1);
  Reference second = AllocateIterable(&allocator, 1);
  segment.SetWord(second + 4, 0x12345678);
  EXPECT_EQ(0u, allocator.GetAllocSize(second));
  EXPECT_EQ(nullptr, allocator.GetBlockData(second, 1, 1));
  PersistentMemoryAllocator::Iterator iterator(&allocator);
  uint32_t type;
  EXPECT_EQ(first, iterator.GetNext(&type));
  EXPECT_EQ(0u, iterator.GetNext(&type));
  EXPECT_TRUE(allocator.IsCorrupt());
  EXPECT_EQ(1, log.count());
}

// A segment sound in every other field is refused when its identification is not this
// allocator's, and is not made over as a fresh one either.
TEST(PersistentMemoryAllocatorTest, SegmentWithAForeignIdentificationIsCorrupt) {
  const DamagedWord cases[] = {
      {"cookie one bit off", 0, 0x564C4D53 ^ 0x100},
      {"cookie cleared in a used segment", 0, 0},
      {"version", 4, 2},
  };
  for (const DamagedWord& c : cases) {
    for (bool read_only : {false, true}) {
      SCOPED_TRACE(std::string(c.what) + (read_only ? ", read-only" : ", writable"));
      Segment segment(1024);
      PersistentMemoryAllocator creator(segment.data(), segment.size(), 0, 7, false);
      AllocateIterable(&creator, 1);
      segment.SetWord(c.offset, c.value);

      CorruptionLogCounter log;
      PersistentMemoryAllocator allocator(segment.data(), segment.size(), 0, 7, read_only);
      EXPECT_TRUE(allocator.IsCorrupt());
      EXPECT_EQ(1, log.count());
      EXPECT_EQ(0u, allocator.Allocate(8, 1));
      EXPECT_EQ(c.value, segment.Word(c.offset)) << "not made over as a fresh segment";
    }
  }
}

TEST(PersistentMemoryAllocatorTest, ForeignBytesAreNotASegment) {
  CorruptionLogCounter log;
  Segment segment(1024);
  memset(segment.data(), 0x5A, segment.size());
  {
    PersistentMemoryAllocator allocator(segment.data(), segment.size(), 0, 0, true);
    EXPECT_TRUE(allocator.IsCorrupt());
    PersistentMemoryAllocator::Iterator iterator(&allocator);
    uint32_t type;
    EXPECT_EQ(0u, iterator.GetNext(&type));
  }
  EXPECT_EQ(0x5A5A5A5Au, segment.Word(36)) << "a read-only allocator writes nothing";

  // A segment too small for its header is never touched.
  Segment tiny(64);
  PersistentMemoryAllocator allocator(tiny.data(), tiny.size(), 0, 0, false);
  EXPECT_TRUE(allocator.IsCorrupt());
  EXPECT_EQ(0u, allocator.Allocate(1, 1));
  EXPECT_EQ(0u, tiny.Word(40));
}

// Four threads allocate and queue records while two more walk the queue with one
// shared iterator: every record must be returned exactly once.
TEST(PersistentMemoryAllocatorTest, ConcurrentAllocationAndIteration) {
  constexpr int kWriters = 4;
  constexpr uint32_t kRecordsPerWriter = 10000;
  Segment segment(4 << 20);
  PersistentMemoryAllocator allocator(segment.data(), segment.size(), 4096, 0, false);
  PersistentMemoryAllocator::Iterator shared_iterator(&allocator);
  std::atomic<bool> writers_done{false};

  auto writer = [&allocator](uint32_t index) {
    for (uint32_t i = 0; i < kRecordsPerWriter; ++i) {
      Reference ref = allocator.Allocate(16 + (i % 5) * 8, kTestType);
      uint32_t* payload = static_cast<uint32_t*>(allocator.GetBlockData(ref, kTestType, 8));
      if (!payload) return;
      payload[0] = index;
      payload[1] = i;
      allocator.MakeIterable(ref);
    }
  };
  std::vector<std::vector<Reference>> seen(2);
  auto reader = [&](size_t index) {
    bool finishing = false;
    for (;;) {
      uint32_t type;
      Reference ref = shared_iterator.GetNext(&type);
      if (ref) {
        seen[index].push_back(ref);
        continue;
      }
      if (finishing) return;
      // One more pass after the writers ended finds whatever they queued last.
      finishing = writers_done.load();
      std::this_thread::yield();
    }
  };

  std::vector<std::thread> threads;
  for (size_t i = 0; i < 2; ++i) threads.emplace_back(reader, i);
  std::vector<std::thread> writers;
  for (uint32_t i = 0; i < kWriters; ++i) writers.emplace_back(writer, i);
  for (std::thread& thread : writers) thread.join();
  writers_done = true;
  for (std::thread& thread : threads) thread.join();

  ASSERT_FALSE(allocator.IsCorrupt());
  std::set<std::pair<uint32_t, uint32_t>> records;
  size_t total = 0;
  for (const std::vector<Reference>& refs : seen) {
    for (Reference ref : refs) {
      const uint32_t* payload =
          static_cast<const uint32_t*>(allocator.GetBlockData(ref, kTestType, 8));
      ASSERT_NE(nullptr, payload);
      EXPECT_TRUE(records.emplace(payload[0], payload[1]).second)
          << "returned twice: " << payload[0] << "/" << payload[1];
      ++total;
    }
  }
  EXPECT_EQ(kWriters * kRecordsPerWriter, total);
  EXPECT_EQ(kWriters * kRecordsPerWriter, records.size());

  // A fresh walk finds them all again, in one queue.
  PersistentMemoryAllocator::Iterator again(&allocator);
  uint32_t type;
  size_t walked = 0;
  while (again.GetNext(&type)) ++walked;
  EXPECT_EQ(total, walked);
}

}  // namespace
}  // namespace base

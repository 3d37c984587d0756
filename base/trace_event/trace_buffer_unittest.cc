#include "base/trace_event/trace_buffer.h"

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/trace_event/memory_dump_provider.h"
#include "base/trace_event/trace_event_memory_overhead.h"

namespace base {
namespace trace_event {
namespace {

TEST(TraceBufferTest, RingRecyclingInvalidatesOldHandles) {
  std::unique_ptr<TraceBuffer> ring = TraceBuffer::CreateTraceBufferRingBuffer(2);
  EXPECT_EQ(128u, ring->Capacity());
  EXPECT_FALSE(ring->IsFull());

  size_t first_index = 0;
  std::unique_ptr<TraceBufferChunk> first = ring->GetChunk(&first_index);
  ASSERT_TRUE(first);
  EXPECT_EQ(1u, first->seq());
  TraceEventHandle old_handle;
  first->AddTraceEvent(first_index, &old_handle)->UpdateDuration(5, 0);
  EXPECT_EQ(1u, old_handle.chunk_seq);
  EXPECT_EQ(nullptr, ring->GetEventByHandle(old_handle)) << "the chunk is still out";
  ring->ReturnChunk(first_index, std::move(first));
  ASSERT_NE(nullptr, ring->GetEventByHandle(old_handle));

  size_t index = 0;
  std::unique_ptr<TraceBufferChunk> second = ring->GetChunk(&index);
  EXPECT_EQ(2u, second->seq());
  ring->ReturnChunk(index, std::move(second));
  // The queue now gives the first slot again: its chunk is reset under a new number.
  std::unique_ptr<TraceBufferChunk> recycled = ring->GetChunk(&index);
  EXPECT_EQ(first_index, index);
  EXPECT_EQ(3u, recycled->seq());
  EXPECT_EQ(0u, recycled->size());
  EXPECT_EQ(-1, recycled->GetEventAt(0)->duration());
  ring->ReturnChunk(index, std::move(recycled));
  EXPECT_EQ(nullptr, ring->GetEventByHandle(old_handle));

  TraceEventHandle out_of_range;
  out_of_range.chunk_seq = 3;
  out_of_range.chunk_index = 5;
  EXPECT_EQ(nullptr, ring->GetEventByHandle(out_of_range));
}

TEST(TraceBufferTest, RingWithEveryChunkOutRefuses) {
  std::unique_ptr<TraceBuffer> ring = TraceBuffer::CreateTraceBufferRingBuffer(1);
  size_t index = 0;
  std::unique_ptr<TraceBufferChunk> only = ring->GetChunk(&index);
  ASSERT_TRUE(only);
  EXPECT_EQ(nullptr, ring->GetChunk(&index));
  ring->ReturnChunk(0, std::move(only));
  EXPECT_TRUE(ring->GetChunk(&index));
}

TEST(TraceBufferTest, VectorNumbersFromOneAndHandsOutPastFull) {
  std::unique_ptr<TraceBuffer> vector = TraceBuffer::CreateTraceBufferVectorOfSize(3);
  std::vector<std::unique_ptr<TraceBufferChunk>> chunks;
  for (size_t i = 0; i < 4; ++i) {
    size_t index = 99;
    chunks.push_back(vector->GetChunk(&index));
    ASSERT_TRUE(chunks.back());
    EXPECT_EQ(i, index);
    EXPECT_EQ(i + 1, chunks.back()->seq()) << "never 0";
    EXPECT_EQ(i + 1 >= 3, vector->IsFull()) << "after chunk " << i + 1;
  }
  EXPECT_EQ(4u * 64, vector->Size());
  EXPECT_EQ(3u * 64, vector->Capacity());

  TraceEventHandle handle;
  chunks[1]->AddTraceEvent(1, &handle);
  vector->ReturnChunk(1, std::move(chunks[1]));
  vector->ReturnChunk(3, std::move(chunks[3]));
  EXPECT_NE(nullptr, vector->GetEventByHandle(handle));
  handle.chunk_seq = 1;
  EXPECT_EQ(nullptr, vector->GetEventByHandle(handle)) << "sequence number differs";

  // Reading skips the slots whose chunks are out.
  EXPECT_EQ(2u, vector->NextChunk()->seq());
  EXPECT_EQ(4u, vector->NextChunk()->seq());
  EXPECT_EQ(nullptr, vector->NextChunk());
}

TEST(TraceEventMemoryOverheadTest, TypesAreToldApartByAddress) {
  static const char kA[] = "Type";
  static const char kB[] = "Type";
  TraceEventMemoryOverhead overhead;
  overhead.Add(kA, 1, 10, 5);
  overhead.Add(kB, 2, 20, 10);
  overhead.Add(kA, 1, 10, 5);
  EXPECT_EQ(2u, overhead.GetCount(kA));
  EXPECT_EQ(2u, overhead.GetCount(kB));
  EXPECT_EQ(0u, overhead.GetCount("Type"));
}

// Collects what DumpInto writes.
std::vector<std::string>* g_scalars = nullptr;

void RecordScalar(ProcessMemoryDump*, const std::string& dump_name, const char* entry,
                  const char* units, uint64_t value) {
  g_scalars->push_back(dump_name + " " + entry + " " + units + " " + std::to_string(value));
}

// "<dump> <entry> <units> <value>" for every scalar |overhead| dumps under |base_name|.
std::vector<std::string> DumpedScalars(const TraceEventMemoryOverhead& overhead,
                                       const char* base_name) {
  std::vector<std::string> scalars;
  g_scalars = &scalars;
  const MemoryDumpManagerFunctions fake = {nullptr, nullptr, &RecordScalar};
  SetMemoryDumpManagerFunctions(&fake);
  overhead.DumpInto(base_name, nullptr);
  SetMemoryDumpManagerFunctions(nullptr);
  g_scalars = nullptr;
  return scalars;
}

TEST(TraceEventMemoryOverheadTest, SpillsPastSixteenTypesAndDumpsEveryEntry) {
  static const char kNames[20][8] = {"t0",  "t1",  "t2",  "t3",  "t4",  "t5",  "t6",
                                     "t7",  "t8",  "t9",  "t10", "t11", "t12", "t13",
                                     "t14", "t15", "t16", "t17", "t18", "t19"};
  TraceEventMemoryOverhead overhead;
  for (const char* name : kNames) overhead.Add(name, 1, 8, 4);
  overhead.Add(kNames[0], 1, 8, 4);
  EXPECT_EQ(2u, overhead.GetCount(kNames[0])) << "kept across the move to the hash map";
  EXPECT_EQ(1u, overhead.GetCount(kNames[19]));

  TraceEventMemoryOverhead merged;
  merged.Update(overhead);
  EXPECT_EQ(2u, merged.GetCount(kNames[0]));

  TraceEventMemoryOverhead small;
  small.Add(kNames[3], 3, 300, 200);
  const std::vector<std::string> scalars = DumpedScalars(small, "tracing/x");
  const std::vector<std::string> expected = {"tracing/x/t3 size bytes 300",
                                             "tracing/x/t3 resident_size bytes 200",
                                             "tracing/x/t3 object_count objects 3"};
  EXPECT_EQ(expected, scalars);
}

TEST(TraceBufferTest, LargeVectorReservesAsItGrows) {
  std::unique_ptr<TraceBuffer> large = TraceBuffer::CreateTraceBufferVectorOfSize(8000000);
  EXPECT_EQ(8000000u * 64, large->Capacity());
  size_t index = 0;
  large->ReturnChunk(0, large->GetChunk(&index));
  TraceEventMemoryOverhead overhead;
  large->EstimateTraceMemoryOverhead(&overhead);
  const std::string prefix = "t/TraceBufferVector size bytes ";
  uint64_t allocated = 0;
  for (const std::string& scalar : DumpedScalars(overhead, "t")) {
    if (scalar.compare(0, prefix.size(), prefix) == 0)
      allocated = std::stoull(scalar.substr(prefix.size()));
  }
  EXPECT_NE(0u, allocated);
  EXPECT_GT(1024u * 1024, allocated) << "not 64 MB of chunk pointers up front";
}

TEST(TraceBufferChunkTest, FullChunkRefusesAndCountsFurtherEvents) {
  TraceBufferChunk chunk(7);
  TraceEventHandle handle;
  for (size_t i = 0; i < TraceBufferChunk::kTraceBufferChunkSize; ++i)
    ASSERT_NE(nullptr, chunk.AddTraceEvent(3, &handle)) << i;
  EXPECT_EQ(63u, handle.event_index);
  EXPECT_TRUE(chunk.IsFull());
  TraceEventHandle refused;
  EXPECT_EQ(nullptr, chunk.AddTraceEvent(3, &refused));
  EXPECT_EQ(0u, refused.chunk_seq) << "no handle for a refused event";
  size_t index = 99;
  EXPECT_EQ(nullptr, chunk.AddTraceEvent(&index));
  EXPECT_EQ(2u, chunk.refused_count());
  EXPECT_EQ(64u, chunk.size());
  chunk.Reset(8);
  EXPECT_EQ(0u, chunk.refused_count());
  EXPECT_NE(nullptr, chunk.AddTraceEvent(&index));
}

TEST(TraceBufferChunkTest, OverheadCountsUnusedSlotsUntilFull) {
  TraceBufferChunk chunk(1);
  size_t index = 0;
  chunk.AddTraceEvent(&index);
  TraceEventMemoryOverhead partial;
  chunk.EstimateTraceMemoryOverhead(&partial);
  EXPECT_EQ(1u, partial.GetCount(kTraceEventName));
  EXPECT_EQ(1u, partial.GetCount(kTraceEventUnusedName));
  EXPECT_EQ(1u, partial.GetCount(kTraceBufferChunkName));

  while (!chunk.IsFull()) chunk.AddTraceEvent(&index);
  for (int round = 0; round < 2; ++round) {
    TraceEventMemoryOverhead full;
    chunk.EstimateTraceMemoryOverhead(&full);
    EXPECT_EQ(64u, full.GetCount(kTraceEventName)) << "round " << round;
    EXPECT_EQ(0u, full.GetCount(kTraceEventUnusedName));
  }
}

}  // namespace
}  // namespace trace_event
}  // namespace base

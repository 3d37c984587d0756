#include "base/metrics/persistent_histogram_allocator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/metrics/bucket_ranges.h"
#include "base/metrics/histogram.h"
#include "base/metrics/histogram_samples.h"
#include "base/metrics/persistent_sample_map.h"
#include "base/metrics/sample_map.h"
#include "base/metrics/sparse_histogram.h"
#include "base/metrics/statistics_recorder.h"

namespace base {
namespace {

typedef PersistentHistogramAllocator::Reference Reference;

constexpr size_t kSegmentSize = 64 * 1024;

// Two allocators over one segment stand for two processes mapping the same bytes.
class PersistentHistogramAllocatorTest : public testing::Test {
 public:
  PersistentHistogramAllocatorTest() : memory_(kSegmentSize / 8, 0) {}

  std::unique_ptr<PersistentHistogramAllocator> MakeAllocator(size_t size = kSegmentSize,
                                                              bool read_only = false) {
    return std::unique_ptr<PersistentHistogramAllocator>(
        new PersistentHistogramAllocator(std::unique_ptr<PersistentMemoryAllocator>(
            new PersistentMemoryAllocator(memory_.data(), size, 0, 1, read_only))));
  }

  char* bytes() { return reinterpret_cast<char*>(memory_.data()); }

  // The histogram records that a fresh walk of the segment finds.
  std::vector<Reference> HistogramRecords(PersistentHistogramAllocator* allocator) {
    std::vector<Reference> refs;
    PersistentMemoryAllocator::Iterator iterator(allocator->memory_allocator());
    while (Reference ref = iterator.GetNextOfType(PersistentHistogramAllocator::kTypeIdHistogram)) {
      refs.push_back(ref);
    }
    return refs;
  }

  std::vector<uint64_t> memory_;
};

// How often "UMA.CreatePersistentHistogram.Result" recorded |code|.
HistogramBase::Count ResultCount(int code) {
  HistogramBase* histogram =
      StatisticsRecorder::FindHistogram("UMA.CreatePersistentHistogram.Result");
  return histogram ? histogram->SnapshotSamples()->GetCount(code) : 0;
}

HistogramBase::Count NegativeSampleCount(int reason) {
  HistogramBase* histogram = StatisticsRecorder::FindHistogram("UMA.NegativeSamples.Reason");
  return histogram ? histogram->SnapshotSamples()->GetCount(reason) : 0;
}

const BucketRanges* ExponentialRanges(HistogramBase::Sample minimum, HistogramBase::Sample maximum,
                                      uint32_t bucket_count) {
  BucketRanges* ranges = new BucketRanges(bucket_count + 1);
  Histogram::InitializeBucketRanges(minimum, maximum, ranges);
  return StatisticsRecorder::RegisterOrDeleteDuplicateRanges(ranges);
}

void ExpectSameSamples(const HistogramSamples& expected, const HistogramSamples& actual) {
  EXPECT_EQ(expected.sum(), actual.sum());
  EXPECT_EQ(expected.redundant_count(), actual.redundant_count());
  EXPECT_EQ(expected.TotalCount(), actual.TotalCount());
  std::unique_ptr<SampleCountIterator> a = expected.Iterator();
  std::unique_ptr<SampleCountIterator> b = actual.Iterator();
  for (; !a->Done() && !b->Done(); a->Next(), b->Next()) {
    HistogramBase::Sample min_a, min_b;
    HistogramBase::Count count_a, count_b;
    a->Get(&min_a, nullptr, &count_a);
    b->Get(&min_b, nullptr, &count_b);
    EXPECT_EQ(min_a, min_b);
    EXPECT_EQ(count_a, count_b);
  }
  EXPECT_TRUE(a->Done() && b->Done());
}

TEST_F(PersistentHistogramAllocatorTest, BucketedHistogramIsImportedBySecondAllocator) {
  std::unique_ptr<PersistentHistogramAllocator> writer = MakeAllocator();
  Reference ref = 0;
  std::unique_ptr<HistogramBase> histogram = writer->AllocateHistogram(
      HISTOGRAM, "Test.Persistent.Exponential", 1, 1000, ExponentialRanges(1, 1000, 10), 1, &ref);
  ASSERT_NE(nullptr, histogram);
  ASSERT_NE(0u, ref);
  EXPECT_EQ(HistogramBase::kIsPersistent | 1, histogram->flags());
  for (int value : {0, 3, 3, 700, 5000}) histogram->Add(value);
  EXPECT_TRUE(HistogramRecords(writer.get()).empty()) << "not published before finalizing";
  writer->FinalizeHistogram(ref, true);

  std::unique_ptr<PersistentHistogramAllocator> reader = MakeAllocator();
  std::vector<Reference> records = HistogramRecords(reader.get());
  ASSERT_EQ(std::vector<Reference>{ref}, records);
  std::unique_ptr<HistogramBase> imported = reader->GetHistogram(records[0]);
  ASSERT_NE(nullptr, imported);
  EXPECT_EQ("Test.Persistent.Exponential", imported->histogram_name());
  EXPECT_EQ(HISTOGRAM, imported->GetHistogramType());
  EXPECT_EQ(histogram->flags(), imported->flags());
  EXPECT_EQ(histogram->name_hash(), imported->name_hash());
  EXPECT_TRUE(imported->HasConstructionArguments(1, 1000, 10));
  ExpectSameSamples(*histogram->SnapshotSamples(), *imported->SnapshotSamples());

  // Both objects count into the same memory.
  imported->Add(3);
  EXPECT_EQ(3, histogram->SnapshotSamples()->GetCount(3));
  EXPECT_EQ(6, histogram->SnapshotDelta()->TotalCount());
  EXPECT_EQ(0, imported->SnapshotDelta()->TotalCount()) << "the logged samples are shared too";
}

TEST_F(PersistentHistogramAllocatorTest, EveryBucketedKindRoundTrips) {
  std::unique_ptr<PersistentHistogramAllocator> writer = MakeAllocator();
  std::unique_ptr<PersistentHistogramAllocator> reader = MakeAllocator();
  BucketRanges* linear = new BucketRanges(6);
  LinearHistogram::InitializeBucketRanges(1, 4, linear);
  BucketRanges* boolean = new BucketRanges(4);
  LinearHistogram::InitializeBucketRanges(1, 2, boolean);
  BucketRanges* custom = new BucketRanges(4);
  custom->set_range(1, 10);
  custom->set_range(2, 20);
  custom->set_range(3, 2147483647);
  custom->ResetChecksum();
  struct Case {
    HistogramType type;
    const char* name;
    HistogramBase::Sample minimum, maximum;
    const BucketRanges* ranges;
  } cases[] = {
      {LINEAR_HISTOGRAM, "Test.Persistent.Linear", 1, 4,
       StatisticsRecorder::RegisterOrDeleteDuplicateRanges(linear)},
      {BOOLEAN_HISTOGRAM, "Test.Persistent.Boolean", 1, 2,
       StatisticsRecorder::RegisterOrDeleteDuplicateRanges(boolean)},
      {CUSTOM_HISTOGRAM, "Test.Persistent.Custom", 10, 20,
       StatisticsRecorder::RegisterOrDeleteDuplicateRanges(custom)},
  };
  for (const Case& c : cases) {
    Reference ref = 0;
    std::unique_ptr<HistogramBase> histogram =
        writer->AllocateHistogram(c.type, c.name, c.minimum, c.maximum, c.ranges, 1, &ref);
    ASSERT_NE(nullptr, histogram) << c.name;
    histogram->Add(1);
    histogram->Add(15);
    std::unique_ptr<HistogramBase> imported = reader->GetHistogram(ref);
    ASSERT_NE(nullptr, imported) << c.name;
    EXPECT_EQ(c.type, imported->GetHistogramType()) << c.name;
    EXPECT_EQ(c.ranges, static_cast<Histogram*>(imported.get())->bucket_ranges())
        << "equal ranges are shared";
    ExpectSameSamples(*histogram->SnapshotSamples(), *imported->SnapshotSamples());
  }
}

TEST_F(PersistentHistogramAllocatorTest, SparseHistogramIsImportedBySecondAllocator) {
  std::unique_ptr<PersistentHistogramAllocator> writer = MakeAllocator();
  Reference ref = 0;
  std::unique_ptr<HistogramBase> sparse =
      writer->AllocateHistogram(SPARSE_HISTOGRAM, "Test.Persistent.Sparse", 0, 0, nullptr, 1, &ref);
  ASSERT_NE(nullptr, sparse);
  EXPECT_EQ(0x41, sparse->flags());
  for (int value : {1450, -7, 1450, 5, 2147483647}) sparse->Add(value);
  EXPECT_EQ(1, sparse->SnapshotDelta()->GetCount(-7));
  sparse->Add(-7);
  writer->FinalizeHistogram(ref, true);

  std::unique_ptr<PersistentHistogramAllocator> reader = MakeAllocator();
  std::unique_ptr<HistogramBase> imported = reader->GetHistogram(ref);
  ASSERT_NE(nullptr, imported);
  EXPECT_EQ(SPARSE_HISTOGRAM, imported->GetHistogramType());
  ExpectSameSamples(*sparse->SnapshotSamples(), *imported->SnapshotSamples());
  EXPECT_EQ(2, imported->SnapshotSamples()->GetCount(-7));
  // What the writer already reported is not reported again.
  std::unique_ptr<HistogramSamples> delta = imported->SnapshotDelta();
  EXPECT_EQ(1, delta->TotalCount());
  EXPECT_EQ(1, delta->GetCount(-7));
}

TEST_F(PersistentHistogramAllocatorTest, SampleRecordsAreSortedByMap) {
  std::unique_ptr<PersistentHistogramAllocator> writer = MakeAllocator();
  PersistentSampleMapRecords* a = writer->GetSampleMapRecords(100);
  PersistentSampleMapRecords* b = writer->GetSampleMapRecords(200);
  std::vector<Reference> b_refs;
  for (int value = 0; value < 3; ++value) b_refs.push_back(b->CreateNew(value));
  Reference a_ref = a->CreateNew(9);

  std::unique_ptr<PersistentHistogramAllocator> reader = MakeAllocator();
  EXPECT_EQ(a_ref, reader->GetSampleMapRecords(100)->GetNext());
  EXPECT_EQ(0u, reader->GetSampleMapRecords(100)->GetNext());
  // The segment's records were all read for map 100; map 200 gets its own from the
  // list filed then.
  PersistentSampleMapRecords* reader_b = reader->GetSampleMapRecords(200);
  std::vector<Reference> found;
  while (Reference ref = reader_b->GetNext()) found.push_back(ref);
  EXPECT_EQ(b_refs, found);
}

TEST_F(PersistentHistogramAllocatorTest, PersistentSampleMapSubtractsSafely) {
  std::unique_ptr<PersistentHistogramAllocator> allocator = MakeAllocator();
  HistogramSamples::Metadata meta = {};
  PersistentSampleMap map(55, allocator.get(), &meta);
  EXPECT_EQ(55u, meta.id.load()) << "an unset id is written";
  map.Accumulate(3, 2);

  HistogramBase::Count not_present = NegativeSampleCount(0);
  HistogramBase::Count too_many = NegativeSampleCount(1);
  SampleMap absent(55);
  absent.Accumulate(9, 1);
  EXPECT_TRUE(map.Subtract(absent));
  EXPECT_EQ(0, map.GetCount(9));
  EXPECT_EQ(not_present + 1, NegativeSampleCount(0));

  SampleMap more(55);
  more.Accumulate(3, 5);
  EXPECT_TRUE(map.Subtract(more));
  EXPECT_EQ(0, map.GetCount(3));
  EXPECT_EQ(too_many + 1, NegativeSampleCount(1));

  SampleMap fits(55);
  map.Accumulate(3, 4);
  fits.Accumulate(3, 3);
  EXPECT_TRUE(map.Subtract(fits));
  EXPECT_EQ(1, map.GetCount(3));
}

TEST_F(PersistentHistogramAllocatorTest, SampleMapFallsBackToHeapWhenFull) {
  // Room for the histogram record (128 bytes) and two sample records (32 bytes each).
  constexpr size_t kSmall = 64 + 128 + 2 * 32;
  std::unique_ptr<PersistentHistogramAllocator> allocator = MakeAllocator(kSmall);
  Reference ref = 0;
  std::unique_ptr<HistogramBase> sparse = allocator->AllocateHistogram(
      SPARSE_HISTOGRAM, "Test.Persistent.SmallSparse", 0, 0, nullptr, 1, &ref);
  ASSERT_NE(nullptr, sparse);
  for (int value = 0; value < 10; ++value) sparse->AddCount(value, value + 1);
  EXPECT_TRUE(allocator->memory_allocator()->IsFull());
  std::unique_ptr<HistogramSamples> samples = sparse->SnapshotSamples();
  EXPECT_EQ(55, samples->TotalCount());
  for (int value = 0; value < 10; ++value) EXPECT_EQ(value + 1, samples->GetCount(value));
}

TEST_F(PersistentHistogramAllocatorTest, DroppedRecordIsNeverImported) {
  std::unique_ptr<PersistentHistogramAllocator> writer = MakeAllocator();
  const BucketRanges* ranges = ExponentialRanges(1, 100, 8);
  Reference kept = 0, dropped = 0;
  std::unique_ptr<HistogramBase> histogram =
      writer->AllocateHistogram(HISTOGRAM, "Test.Persistent.Kept", 1, 100, ranges, 1, &kept);
  std::unique_ptr<HistogramBase> duplicate =
      writer->AllocateHistogram(HISTOGRAM, "Test.Persistent.Kept", 1, 100, ranges, 1, &dropped);
  ASSERT_TRUE(histogram && duplicate);
  EXPECT_EQ(ranges->persistent_reference(),
            *reinterpret_cast<uint32_t*>(bytes() + dropped + 16 + 20))
      << "both records share one copy of the ranges";
  writer->FinalizeHistogram(kept, true);
  writer->FinalizeHistogram(dropped, false);
  EXPECT_EQ(0u, writer->memory_allocator()->GetType(dropped));

  std::unique_ptr<PersistentHistogramAllocator> reader = MakeAllocator();
  EXPECT_EQ(std::vector<Reference>{kept}, HistogramRecords(reader.get()));
}

TEST_F(PersistentHistogramAllocatorTest, RangesCopiedIntoEverySegment) {
  const BucketRanges* ranges = ExponentialRanges(1, 500, 12);
  std::vector<uint64_t> other_memory(kSegmentSize / 8, 0);
  PersistentHistogramAllocator other(std::unique_ptr<PersistentMemoryAllocator>(
      new PersistentMemoryAllocator(other_memory.data(), kSegmentSize, 0, 3, false)));
  Reference other_ref = 0;
  ASSERT_NE(nullptr, other.AllocateHistogram(HISTOGRAM, "Test.Persistent.OtherSegment", 1, 500,
                                             ranges, 1, &other_ref));

  // In this segment the offset the ranges remember holds something else.
  std::unique_ptr<PersistentHistogramAllocator> writer = MakeAllocator();
  ASSERT_NE(0u, writer->memory_allocator()->Allocate(200, 1));
  Reference ref = 0;
  std::unique_ptr<HistogramBase> histogram =
      writer->AllocateHistogram(HISTOGRAM, "Test.Persistent.ThisSegment", 1, 500, ranges, 1, &ref);
  ASSERT_NE(nullptr, histogram);
  histogram->Add(77);
  std::unique_ptr<HistogramBase> imported = MakeAllocator()->GetHistogram(ref);
  ASSERT_NE(nullptr, imported);
  EXPECT_EQ(1, imported->SnapshotSamples()->GetCount(77));
  EXPECT_NE(nullptr, other.GetHistogram(other_ref)) << "the first segment's copy stays valid";
}

TEST_F(PersistentHistogramAllocatorTest, BadRecordsAreRejectedWithTheirCode) {
  // Offsets in the histogram record's payload (after the 16-byte block header).
  struct Case {
    const char* what;
    size_t offset;
    uint32_t value;
    int code;
  } cases[] = {
      {"unknown kind", 0, 7, PersistentHistogramAllocator::CREATE_HISTOGRAM_UNKNOWN_TYPE},
      {"bucket count below 2", 16, 1,
       PersistentHistogramAllocator::CREATE_HISTOGRAM_INVALID_RANGES_ARRAY},
      {"bucket count past the ranges", 16, 9,
       PersistentHistogramAllocator::CREATE_HISTOGRAM_INVALID_RANGES_ARRAY},
      {"ranges reference", 20, 8,
       PersistentHistogramAllocator::CREATE_HISTOGRAM_INVALID_RANGES_ARRAY},
      {"ranges checksum", 24, 1234,
       PersistentHistogramAllocator::CREATE_HISTOGRAM_INVALID_RANGES_ARRAY},
      {"counts reference", 28, 0,
       PersistentHistogramAllocator::CREATE_HISTOGRAM_INVALID_COUNTS_ARRAY},
      {"live id", 32, 0, PersistentHistogramAllocator::CREATE_HISTOGRAM_INVALID_METADATA},
      {"logged id", 56, 0, PersistentHistogramAllocator::CREATE_HISTOGRAM_INVALID_METADATA},
      {"empty name", 80, 0, PersistentHistogramAllocator::CREATE_HISTOGRAM_INVALID_METADATA},
  };
  for (const Case& c : cases) {
    memset(memory_.data(), 0, kSegmentSize);
    std::unique_ptr<PersistentHistogramAllocator> writer = MakeAllocator();
    Reference ref = 0;
    ASSERT_NE(nullptr, writer->AllocateHistogram(HISTOGRAM, "Test.Persistent.Damaged", 1, 100,
                                                 ExponentialRanges(1, 100, 8), 1, &ref));
    char* field = bytes() + ref + 16 + c.offset;
    if (c.offset == 32 || c.offset == 56) {
      memset(field, 0, 8);
    } else {
      memcpy(field, &c.value, 4);
    }
    HistogramBase::Count before = ResultCount(c.code);
    EXPECT_EQ(nullptr, MakeAllocator()->GetHistogram(ref)) << c.what;
    EXPECT_EQ(before + 1, ResultCount(c.code)) << c.what;
  }

  // Ranges with a checksum that matches them but that leave samples without a bucket
  // (a sample would then stop the process) or are not ascending.
  struct RangesCase {
    const char* what;
    void (*damage)(HistogramBase::Sample* values);  // 9 values
  } ranges_cases[] = {
      {"not ascending", [](HistogramBase::Sample* v) { std::swap(v[2], v[3]); }},
      {"starting at 1",
       [](HistogramBase::Sample* v) {
         for (int i = 0; i < 8; ++i) ++v[i];
       }},
      {"ending below the largest sample", [](HistogramBase::Sample* v) { --v[8]; }},
  };
  std::unique_ptr<PersistentHistogramAllocator> writer;
  Reference ranges_ref = 0;
  for (const RangesCase& c : ranges_cases) {
    memset(memory_.data(), 0, kSegmentSize);
    writer = MakeAllocator();
    Reference ref = 0;
    ASSERT_NE(nullptr, writer->AllocateHistogram(HISTOGRAM, "Test.Persistent.BadRanges", 1, 100,
                                                 ExponentialRanges(1, 100, 8), 1, &ref));
    memcpy(&ranges_ref, bytes() + ref + 16 + 20, 4);
    HistogramBase::Sample* values =
        reinterpret_cast<HistogramBase::Sample*>(bytes() + ranges_ref + 16);
    c.damage(values);
    BucketRanges damaged(9);
    for (size_t i = 0; i < 9; ++i) damaged.set_range(i, values[i]);
    uint32_t checksum = damaged.CalculateChecksum();
    memcpy(bytes() + ref + 16 + 24, &checksum, 4);
    HistogramBase::Count before = ResultCount(3);
    EXPECT_EQ(nullptr, MakeAllocator()->GetHistogram(ref)) << c.what;
    EXPECT_EQ(before + 1, ResultCount(3)) << c.what;
  }

  HistogramBase::Count before =
      ResultCount(PersistentHistogramAllocator::CREATE_HISTOGRAM_INVALID_METADATA);
  EXPECT_EQ(nullptr, writer->GetHistogram(ranges_ref)) << "not a histogram record";
  EXPECT_EQ(before + 1,
            ResultCount(PersistentHistogramAllocator::CREATE_HISTOGRAM_INVALID_METADATA));
}

TEST_F(PersistentHistogramAllocatorTest, AllocationFailuresAreCounted) {
  struct Case {
    const char* what;
    std::function<std::unique_ptr<PersistentHistogramAllocator>(PersistentHistogramAllocatorTest*)>
        make;
    std::vector<int> codes;
  } cases[] = {
      {"full",
       [](PersistentHistogramAllocatorTest* test) { return test->MakeAllocator(512); },
       {PersistentHistogramAllocator::CREATE_HISTOGRAM_ALLOCATOR_FULL}},
      {"corrupt",
       [](PersistentHistogramAllocatorTest* test) {
         std::unique_ptr<PersistentHistogramAllocator> allocator = test->MakeAllocator();
         allocator->memory_allocator()->SetCorrupt();
         return allocator;
       },
       {PersistentHistogramAllocator::CREATE_HISTOGRAM_ALLOCATOR_CORRUPT}},
      {"read only",
       [](PersistentHistogramAllocatorTest* test) {
         test->MakeAllocator();  // initialises the segment
         return test->MakeAllocator(kSegmentSize, true);
       },
       {PersistentHistogramAllocator::CREATE_HISTOGRAM_ALLOCATOR_ERROR}},
      {"damaged free offset",
       [](PersistentHistogramAllocatorTest* test) {
         std::unique_ptr<PersistentHistogramAllocator> allocator = test->MakeAllocator();
         uint32_t unaligned = 100;
         memcpy(test->bytes() + 40, &unaligned, 4);
         return allocator;
       },
       {PersistentHistogramAllocator::CREATE_HISTOGRAM_ALLOCATOR_NEWLY_CORRUPT,
        PersistentHistogramAllocator::CREATE_HISTOGRAM_ALLOCATOR_CORRUPT}},
  };
  for (const Case& c : cases) {
    memset(memory_.data(), 0, kSegmentSize);
    std::unique_ptr<PersistentHistogramAllocator> allocator = c.make(this);
    std::vector<HistogramBase::Count> before;
    for (int code : c.codes) before.push_back(ResultCount(code));
    Reference ref = 0;
    EXPECT_EQ(nullptr, allocator->AllocateHistogram(HISTOGRAM, "Test.Persistent.Failing", 1, 1000,
                                                    ExponentialRanges(1, 1000, 50), 1, &ref))
        << c.what;
    EXPECT_EQ(0u, ref) << c.what;
    for (size_t i = 0; i < c.codes.size(); ++i)
      EXPECT_EQ(before[i] + 1, ResultCount(c.codes[i])) << c.what;
  }
}

// The global allocator's segment stays mapped for the process: its histograms remain
// registered after the test.
TEST_F(PersistentHistogramAllocatorTest, FactoriesUseTheGlobalAllocator) {
  static uint64_t global_memory[kSegmentSize / 8];
  GlobalHistogramAllocator::CreateWithPersistentMemory(std::unique_ptr<PersistentMemoryAllocator>(
      new PersistentMemoryAllocator(global_memory, sizeof(global_memory), 0, 2, false)));
  // Taken away however the test ends, so that later tests build heap histograms. The
  // histograms it made keep using its records source: it lives as long as they do.
  struct ReleaseGlobal {
    ~ReleaseGlobal() { (void)GlobalHistogramAllocator::ReleaseForTesting().release(); }
  } release_global;
  HistogramBase* histogram = Histogram::FactoryGet("Test.Global.Exponential", 1, 1000, 10, 1);
  HistogramBase* sparse = SparseHistogram::FactoryGet("Test.Global.Sparse", 0);
  ASSERT_TRUE(histogram && sparse);
  EXPECT_EQ(HistogramBase::kIsPersistent | 1, histogram->flags());
  EXPECT_EQ(0x41, sparse->flags());
  EXPECT_EQ(histogram, Histogram::FactoryGet("Test.Global.Exponential", 1, 1000, 10, 1));
  histogram->Add(20);
  sparse->Add(-1);

  // Another process publishes a histogram in the same segment; a lookup imports it.
  PersistentHistogramAllocator other(std::unique_ptr<PersistentMemoryAllocator>(
      new PersistentMemoryAllocator(global_memory, sizeof(global_memory), 0, 0, false)));
  Reference ref = 0;
  std::unique_ptr<HistogramBase> made = other.AllocateHistogram(
      HISTOGRAM, "Test.Global.FromOtherProcess", 1, 100, ExponentialRanges(1, 100, 8), 1, &ref);
  ASSERT_NE(nullptr, made);
  made->Add(50);
  other.FinalizeHistogram(ref, true);
  HistogramBase* found = StatisticsRecorder::FindHistogram("Test.Global.FromOtherProcess");
  ASSERT_NE(nullptr, found);
  EXPECT_NE(made.get(), found);
  EXPECT_EQ(1, found->SnapshotSamples()->GetCount(50));

  // The factories' histograms are published for the other process too.
  std::vector<std::string> names;
  PersistentMemoryAllocator::Iterator iterator(other.memory_allocator());
  while (Reference record =
             iterator.GetNextOfType(PersistentHistogramAllocator::kTypeIdHistogram)) {
    std::unique_ptr<HistogramBase> seen = other.GetHistogram(record);
    ASSERT_NE(nullptr, seen);
    names.push_back(seen->histogram_name());
    if (seen->histogram_name() == "Test.Global.Sparse") {
      EXPECT_EQ(1, seen->SnapshotSamples()->GetCount(-1));
    }
  }
  EXPECT_NE(names.end(), std::find(names.begin(), names.end(), "Test.Global.Exponential"));
  EXPECT_NE(names.end(), std::find(names.begin(), names.end(), "Test.Global.Sparse"));
}

}  // namespace
}  // namespace base

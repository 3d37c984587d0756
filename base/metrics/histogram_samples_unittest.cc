#include "base/metrics/histogram_samples.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "base/metrics/bucket_ranges.h"
#include "base/metrics/histogram.h"
#include "base/metrics/sample_map.h"
#include "base/metrics/sample_vector.h"
#include "base/serial_buffer.h"

namespace base {
namespace {

typedef std::vector<HistogramBase::Sample> Ranges;

std::unique_ptr<BucketRanges> MakeRanges(const Ranges& values) {
  std::unique_ptr<BucketRanges> ranges(new BucketRanges(values.size()));
  for (size_t i = 0; i < values.size(); ++i) ranges->set_range(i, values[i]);
  ranges->ResetChecksum();
  return ranges;
}

// CRC-32 (reflected 0xEDB88320) bit by bit, seeded with the entry count, no inversion.
uint32_t ReferenceChecksum(const Ranges& values) {
  if (values.empty()) return 0;
  uint32_t crc = static_cast<uint32_t>(values.size());
  for (HistogramBase::Sample value : values) {
    for (int byte = 0; byte < 4; ++byte) {
      crc ^= (static_cast<uint32_t>(value) >> (8 * byte)) & 0xFF;
      for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
  }
  return crc;
}

// The (min, max, count) triples an iterator walks.
std::vector<std::vector<int64_t>> Triples(const HistogramSamples& samples) {
  std::vector<std::vector<int64_t>> triples;
  for (std::unique_ptr<SampleCountIterator> it = samples.Iterator(); !it->Done(); it->Next()) {
    HistogramBase::Sample min;
    int64_t max;
    HistogramBase::Count count;
    it->Get(&min, &max, &count);
    triples.push_back({min, max, count});
  }
  return triples;
}

const Ranges kExponential = {0, 1, 2, 5, 12, 29, 70, 170, 412, 1000, 2147483647};

TEST(BucketRangesTest, Checksum) {
  for (const Ranges& values : {Ranges{0}, Ranges{0, 1, 2, 2147483647}, kExponential,
                               Ranges{0, -5, 0x12345678, 2147483647}}) {
    EXPECT_EQ(ReferenceChecksum(values), MakeRanges(values)->checksum());
  }
  EXPECT_EQ(0u, BucketRanges(0).CalculateChecksum());
  EXPECT_NE(0u, MakeRanges({0})->checksum()) << "four zero bytes from seed 1";

  std::unique_ptr<BucketRanges> a = MakeRanges(kExponential);
  std::unique_ptr<BucketRanges> b = MakeRanges(kExponential);
  EXPECT_TRUE(a->Equals(b.get()));
  b->set_range(3, 6);
  EXPECT_FALSE(b->HasValidChecksum());
  EXPECT_FALSE(a->Equals(b.get()));
  b->ResetChecksum();
  EXPECT_FALSE(a->Equals(b.get()));
}

TEST(SampleVectorTest, BucketIndex) {
  std::unique_ptr<BucketRanges> boolean = MakeRanges({0, 1, 2, 2147483647});
  std::unique_ptr<BucketRanges> exponential = MakeRanges(kExponential);
  struct Case {
    const BucketRanges* ranges;
    HistogramBase::Sample value;
    size_t bucket;
  } cases[] = {
      {boolean.get(), 0, 0},
      {boolean.get(), 1, 1},
      {boolean.get(), 2, 2},
      {boolean.get(), 100000, 2},
      {exponential.get(), 4, 2},
      {exponential.get(), 5, 3},
      {exponential.get(), 411, 7},
      {exponential.get(), 412, 8},
      {exponential.get(), 999, 8},
      {exponential.get(), 1000, 9},
      {exponential.get(), 2147483646, 9},
  };
  for (const Case& c : cases) {
    SampleVector samples(1, c.ranges);
    EXPECT_EQ(c.bucket, samples.GetBucketIndex(c.value)) << c.value;
  }
  SampleVector samples(1, boolean.get());
  EXPECT_DEATH(samples.GetBucketIndex(-1), "");
  EXPECT_DEATH(samples.GetBucketIndex(2147483647), "");
}

TEST(SampleVectorTest, AddAndSubtract) {
  std::unique_ptr<BucketRanges> ranges = MakeRanges(kExponential);
  SampleVector a(1, ranges.get());
  SampleVector b(1, ranges.get());
  a.Accumulate(1, 2);
  a.Accumulate(500, 1);
  b.Accumulate(3, 4);
  b.Accumulate(500, 2);
  EXPECT_TRUE(a.Add(b));
  EXPECT_EQ((std::vector<std::vector<int64_t>>{{1, 2, 2}, {2, 5, 4}, {412, 1000, 3}}), Triples(a));
  EXPECT_EQ(9, a.TotalCount());
  EXPECT_EQ(9, a.redundant_count());
  EXPECT_EQ(2 + 500 + 12 + 1000, a.sum());
  EXPECT_TRUE(a.Subtract(b));
  EXPECT_EQ((std::vector<std::vector<int64_t>>{{1, 2, 2}, {412, 1000, 1}}), Triples(a));
  EXPECT_EQ(502, a.sum());
  EXPECT_EQ(3, a.redundant_count());

  // A container with other buckets adds what matches before the mismatch.
  std::unique_ptr<BucketRanges> other = MakeRanges({0, 1, 2147483647});
  SampleVector foreign(1, other.get());
  foreign.Accumulate(0, 2);
  foreign.Accumulate(5, 1);
  EXPECT_FALSE(a.Add(foreign));
  EXPECT_EQ(2, a.GetCount(0));

  SampleMap values(1);
  values.Accumulate(1, 1);
  EXPECT_TRUE(a.Add(values)) << "[1, 2) is a bucket here too";
  values.Accumulate(3, 1);
  EXPECT_FALSE(a.Add(values)) << "[3, 4) is not";
}

TEST(SampleMapTest, AddAndSubtract) {
  SampleMap a(7);
  SampleMap b(7);
  a.Accumulate(-4, 3);
  a.Accumulate(1450, 1);
  b.Accumulate(1450, 2);
  b.Accumulate(9, 1);
  EXPECT_TRUE(a.Add(b));
  EXPECT_EQ((std::vector<std::vector<int64_t>>{{-4, -3, 3}, {9, 10, 1}, {1450, 1451, 3}}),
            Triples(a));
  EXPECT_TRUE(a.Subtract(b));
  EXPECT_EQ((std::vector<std::vector<int64_t>>{{-4, -3, 3}, {1450, 1451, 1}}), Triples(a));
  EXPECT_EQ(-12 + 1450, a.sum());
  EXPECT_EQ(4, a.TotalCount());

  std::unique_ptr<BucketRanges> ranges = MakeRanges(kExponential);
  SampleVector buckets(7, ranges.get());
  buckets.Accumulate(3, 1);
  EXPECT_FALSE(a.Add(buckets)) << "[2, 5) is not a single value";
}

TEST(HistogramSamplesTest, SerializeRoundTrips) {
  std::unique_ptr<BucketRanges> ranges = MakeRanges(kExponential);
  SampleVector vector(1, ranges.get());
  vector.Accumulate(0, 1);
  vector.Accumulate(7, 2);
  vector.Accumulate(2147483646, 3);
  SampleMap map(2);
  map.Accumulate(-2147483647 - 1, 1);
  map.Accumulate(5, 2);
  map.Accumulate(2147483647, 3);

  std::unique_ptr<HistogramSamples> copies[] = {
      std::unique_ptr<HistogramSamples>(new SampleVector(1, ranges.get())),
      std::unique_ptr<HistogramSamples>(new SampleMap(2))};
  const HistogramSamples* originals[] = {&vector, &map};
  for (size_t i = 0; i < 2; ++i) {
    SerialBuffer buffer;
    ASSERT_TRUE(originals[i]->Serialize(&buffer));
    SerialBuffer received(buffer.data(), buffer.size());
    SerialBufferReader reader(received);
    EXPECT_TRUE(copies[i]->AddFromBuffer(&reader));
    EXPECT_EQ(Triples(*originals[i]), Triples(*copies[i]));
    EXPECT_EQ(originals[i]->sum(), copies[i]->sum());
    EXPECT_EQ(originals[i]->redundant_count(), copies[i]->redundant_count());
  }
  EXPECT_EQ(3ll * 2147483646 + 14, vector.sum()) << "the sum is 64 bits wide";
}

TEST(HistogramSamplesTest, AddFromBufferStopsAtAShortTriple) {
  std::unique_ptr<BucketRanges> ranges = MakeRanges(kExponential);
  struct Case {
    std::vector<int32_t> fields;  // after the 64-bit sum 10
    bool result;
    HistogramBase::Count total;
    HistogramBase::Count redundant_count;
  } cases[] = {
      {{3, 2, 5, 3, 12, 29}, true, 3, 3},  // the last triple lacks its count
      {{3, 2, 5, 3, 12}, true, 3, 3},
      {{3, 2, 5, 3}, true, 3, 3},
      {{3}, true, 0, 3},
      {{}, false, 0, 0},  // no redundant count
  };
  for (const Case& c : cases) {
    SerialBuffer buffer;
    ASSERT_TRUE(WriteInt64ToBuffer(&buffer, 10));
    for (int32_t field : c.fields) ASSERT_TRUE(buffer.WriteInt(field));
    SampleVector samples(1, ranges.get());
    SerialBufferReader reader(buffer);
    EXPECT_EQ(c.result, samples.AddFromBuffer(&reader)) << c.fields.size();
    EXPECT_EQ(c.total, samples.TotalCount()) << c.fields.size();
    EXPECT_EQ(c.redundant_count, samples.redundant_count()) << c.fields.size();
    EXPECT_EQ(c.result ? 10 : 0, samples.sum()) << c.fields.size();
  }

  SerialBuffer short_sum;
  ASSERT_TRUE(short_sum.WriteInt(10));  // half of the sum
  SerialBufferReader reader(short_sum);
  SampleMap map(1);
  EXPECT_FALSE(map.AddFromBuffer(&reader));
  EXPECT_EQ(0, map.sum());
}

}  // namespace
}  // namespace base

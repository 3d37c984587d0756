#include "base/metrics/histogram.h"

#include <vector>

#include <gtest/gtest.h>

#include "base/metrics/bucket_ranges.h"
#include "base/metrics/histogram_samples.h"
#include "base/metrics/sample_vector.h"
#include "base/metrics/sparse_histogram.h"

namespace base {
namespace {

std::vector<HistogramBase::Sample> RangesOf(HistogramBase* histogram) {
  const BucketRanges* ranges = static_cast<Histogram*>(histogram)->bucket_ranges();
  std::vector<HistogramBase::Sample> result;
  for (size_t i = 0; i < ranges->size(); ++i) result.push_back(ranges->range(i));
  return result;
}

TEST(HistogramTest, FactoriesReturnOneObjectPerName) {
  HistogramBase* first = LinearHistogram::FactoryGet("Test.SameName", 4, 5);
  HistogramBase* second = LinearHistogram::FactoryGet("Test.SameName", 4, 5);
  ASSERT_NE(nullptr, first);
  EXPECT_EQ(first, second);
  EXPECT_EQ(LINEAR_HISTOGRAM, first->GetHistogramType());
  EXPECT_EQ(HistogramBase::kUmaTargetedHistogramFlag, first->flags());
  // Other construction arguments under the same name give no histogram.
  EXPECT_EQ(nullptr, LinearHistogram::FactoryGet("Test.SameName", 6, 7));

  HistogramBase* sparse = SparseHistogram::FactoryGet("Test.SparseName", 0);
  EXPECT_EQ(sparse, SparseHistogram::FactoryGet("Test.SparseName", 0));
  EXPECT_EQ(HistogramBase::kUmaTargetedHistogramFlag, sparse->flags());

  HistogramBase* timing = Histogram::FactoryTimeGet(
      "Test.Timing", TimeDelta::FromMilliseconds(1), TimeDelta::FromMilliseconds(10000));
  EXPECT_EQ(timing, Histogram::FactoryTimeGet("Test.Timing", TimeDelta::FromMilliseconds(1),
                                              TimeDelta::FromMilliseconds(10000)));
  EXPECT_EQ(50u, static_cast<Histogram*>(timing)->bucket_count());
  static_cast<Histogram*>(timing)->AddTime(TimeDelta::Max());
  EXPECT_EQ(1, timing->SnapshotSamples()->GetCount(20000)) << "the maximal duration: last bucket";
}

TEST(HistogramTest, RecordedSamplesCanBeReadBack) {
  HistogramBase* histogram = LinearHistogram::FactoryGet("Test.Enumeration", 4, 5);
  histogram->Add(2);
  histogram->Add(2);
  histogram->Add(-5);                   // clamped into bucket 0
  histogram->Add(2147483647);           // clamped to the last bucket
  histogram->AddCount(3, 0);            // ignored
  histogram->AddCount(3, -3);           // ignored
  std::unique_ptr<HistogramSamples> samples = histogram->SnapshotSamples();
  EXPECT_EQ(4, samples->TotalCount());
  EXPECT_EQ(4, samples->redundant_count());
  EXPECT_EQ(2, samples->GetCount(2));
  EXPECT_EQ(1, samples->GetCount(0));
  EXPECT_EQ(1, samples->GetCount(4000));
  EXPECT_EQ(0, samples->GetCount(3));
  EXPECT_EQ(4 + 2147483646ll, samples->sum());
}

TEST(HistogramTest, SnapshotDeltaReportsOnlyNewSamples) {
  HistogramBase* histogram = Histogram::FactoryGet("Test.Delta", 1, 1000, 10, 1);
  histogram->Add(7);
  EXPECT_EQ(1, histogram->SnapshotDelta()->TotalCount());
  histogram->Add(7);
  histogram->Add(500);
  std::unique_ptr<HistogramSamples> delta = histogram->SnapshotDelta();
  EXPECT_EQ(2, delta->TotalCount());
  EXPECT_EQ(1, delta->GetCount(7));
  EXPECT_EQ(0, histogram->SnapshotDelta()->TotalCount());
  EXPECT_EQ(3, histogram->SnapshotSamples()->TotalCount());
}

TEST(HistogramTest, BucketLayouts) {
  EXPECT_EQ((std::vector<HistogramBase::Sample>{0, 1, 2, 5, 12, 29, 70, 170, 412, 1000,
                                                2147483647}),
            RangesOf(Histogram::FactoryGet("Test.Exp10", 1, 1000, 10, 1)));
  EXPECT_EQ((std::vector<HistogramBase::Sample>{0, 1, 2, 4, 9, 20, 45, 100, 2147483647}),
            RangesOf(Histogram::FactoryGet("Test.Exp8", 1, 100, 8, 1)));
  EXPECT_EQ((std::vector<HistogramBase::Sample>{0, 1, 2, 3, 4, 2147483647}),
            RangesOf(LinearHistogram::FactoryGet("Test.Lin5", 4, 5)));

  Histogram* clamped = static_cast<Histogram*>(
      Histogram::FactoryGet("Test.Clamped", 0, 2147483647, 20000, 1));
  EXPECT_EQ(1, clamped->declared_min());
  EXPECT_EQ(2147483646, clamped->declared_max());
  EXPECT_EQ(16383u, clamped->bucket_count());
  EXPECT_EQ(0, clamped->ranges(0));
  EXPECT_EQ(1, clamped->ranges(1));
  EXPECT_TRUE(clamped->bucket_ranges()->HasValidChecksum());
}

TEST(HistogramTest, SparseKeepsEveryValue) {
  HistogramBase* sparse = SparseHistogram::FactoryGet("Test.Errors", 0);
  sparse->Add(-7);  // not clamped
  sparse->Add(1450);
  sparse->AddCount(1450, 2);
  sparse->AddCount(5, 0);
  std::unique_ptr<HistogramSamples> samples = sparse->SnapshotSamples();
  EXPECT_EQ(4, samples->TotalCount());
  EXPECT_EQ(1, samples->GetCount(-7));
  EXPECT_EQ(3, samples->GetCount(1450));
  EXPECT_EQ(0, samples->GetCount(5));
  EXPECT_EQ(4, sparse->SnapshotDelta()->TotalCount());
  sparse->Add(1);
  EXPECT_EQ(1, sparse->SnapshotDelta()->TotalCount());
}

TEST(HistogramTest, KindMismatchUnderOneNameStops) {
  LinearHistogram::FactoryGet("Test.Kind", 4, 5);
  EXPECT_DEATH(SparseHistogram::FactoryGet("Test.Kind", 0), "");
}

TEST(BucketRangesTest, ChecksumAndBucketIndex) {
  BucketRanges empty(0);
  EXPECT_EQ(0u, empty.CalculateChecksum());

  BucketRanges boolean(4);
  boolean.set_range(1, 1);
  boolean.set_range(2, 2);
  boolean.set_range(3, 2147483647);
  boolean.ResetChecksum();
  SampleVector samples(1, &boolean);
  EXPECT_EQ(0u, samples.GetBucketIndex(0));
  EXPECT_EQ(1u, samples.GetBucketIndex(1));
  EXPECT_EQ(2u, samples.GetBucketIndex(2));
  EXPECT_EQ(2u, samples.GetBucketIndex(100000));

  // A container with other buckets adds what matches before the mismatch.
  BucketRanges other(3);
  other.set_range(1, 1);
  other.set_range(2, 2147483647);
  SampleVector foreign(1, &other);
  foreign.Accumulate(0, 2);
  foreign.Accumulate(5, 1);
  EXPECT_FALSE(samples.Add(foreign));
  EXPECT_EQ(2, samples.GetCount(0));
}

}  // namespace
}  // namespace base

// Counts per bucket of a bucketed histogram; lock-free (every update is an atomic add).
#ifndef BASE_METRICS_SAMPLE_VECTOR_H_
#define BASE_METRICS_SAMPLE_VECTOR_H_

#include <atomic>
#include <memory>

#include "base/metrics/histogram_samples.h"

namespace base {

class BucketRanges;

class SampleVector : public HistogramSamples {
 public:
  // |bucket_ranges| (at least 2 entries) must outlive this.
  SampleVector(uint64_t id, const BucketRanges* bucket_ranges);
  // Counts in |counts| (|counts_size| counters, at least one per bucket) and metadata in
  // |meta|, both not owned (e.g. inside a persistent segment).
  SampleVector(uint64_t id, Metadata* meta, std::atomic<HistogramBase::Count>* counts,
               size_t counts_size, const BucketRanges* bucket_ranges);
  ~SampleVector() override;

  void Accumulate(HistogramBase::Sample value, HistogramBase::Count count) override;
  HistogramBase::Count GetCount(HistogramBase::Sample value) const override;
  HistogramBase::Count TotalCount() const override;
  std::unique_ptr<SampleCountIterator> Iterator() const override;

  HistogramBase::Count GetCountAtIndex(size_t index) const;
  // The bucket of |value|, which must lie within the ranges.
  size_t GetBucketIndex(HistogramBase::Sample value) const;

 protected:
  [[nodiscard]] bool AddSubtractImpl(SampleCountIterator* iterator, Operator op) override;

 private:
  const BucketRanges* const bucket_ranges_;
  const size_t counts_size_;
  std::unique_ptr<std::atomic<HistogramBase::Count>[]> owned_counts_;
  std::atomic<HistogramBase::Count>* const counts_;
};

}  // namespace base

#endif  // BASE_METRICS_SAMPLE_VECTOR_H_

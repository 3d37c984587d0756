// Sample containers of histograms: the counts per bucket or per value, with the sum of
// all samples and a redundant count kept for corruption checks.
#ifndef BASE_METRICS_HISTOGRAM_SAMPLES_H_
#define BASE_METRICS_HISTOGRAM_SAMPLES_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "base/metrics/histogram_base.h"

namespace base {

// Walks the non-empty buckets (or values) of a container: [min, max) and the count.
class SampleCountIterator {
 public:
  virtual ~SampleCountIterator();
  virtual bool Done() const = 0;
  virtual void Next() = 0;
  // Each output is optional.
  virtual void Get(HistogramBase::Sample* min, int64_t* max, HistogramBase::Count* count) const = 0;
  // False unless the iterator walks buckets.
  virtual bool GetBucketIndex(size_t* index) const;
};

class HistogramSamples {
 public:
  explicit HistogramSamples(uint64_t id);
  virtual ~HistogramSamples();
  HistogramSamples(const HistogramSamples&) = delete;
  HistogramSamples& operator=(const HistogramSamples&) = delete;

  virtual void Accumulate(HistogramBase::Sample value, HistogramBase::Count count) = 0;
  virtual HistogramBase::Count GetCount(HistogramBase::Sample value) const = 0;
  virtual HistogramBase::Count TotalCount() const = 0;
  virtual std::unique_ptr<SampleCountIterator> Iterator() const = 0;

  // False when |other|'s buckets do not fit these (the matching ones before are added).
  bool Add(const HistogramSamples& other);
  bool Subtract(const HistogramSamples& other);

  uint64_t id() const { return id_; }
  int64_t sum() const { return sum_.load(std::memory_order_relaxed); }
  HistogramBase::Count redundant_count() const {
    return redundant_count_.load(std::memory_order_relaxed);
  }

 protected:
  enum Operator { ADD, SUBTRACT };
  virtual bool AddSubtractImpl(SampleCountIterator* iterator, Operator op) = 0;
  void IncreaseSumAndCount(int64_t sum, HistogramBase::Count count);

 private:
  const uint64_t id_;
  std::atomic<int64_t> sum_;
  std::atomic<HistogramBase::Count> redundant_count_;
};

}  // namespace base

#endif  // BASE_METRICS_HISTOGRAM_SAMPLES_H_

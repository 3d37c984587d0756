#include "base/metrics/histogram_samples.h"

namespace base {

SampleCountIterator::~SampleCountIterator() = default;

bool SampleCountIterator::GetBucketIndex(size_t*) const { return false; }

HistogramSamples::HistogramSamples(uint64_t id) : id_(id), sum_(0), redundant_count_(0) {}

HistogramSamples::~HistogramSamples() = default;

bool HistogramSamples::Add(const HistogramSamples& other) {
  IncreaseSumAndCount(other.sum(), other.redundant_count());
  std::unique_ptr<SampleCountIterator> iterator = other.Iterator();
  return AddSubtractImpl(iterator.get(), ADD);
}

bool HistogramSamples::Subtract(const HistogramSamples& other) {
  IncreaseSumAndCount(-other.sum(), -other.redundant_count());
  std::unique_ptr<SampleCountIterator> iterator = other.Iterator();
  return AddSubtractImpl(iterator.get(), SUBTRACT);
}

void HistogramSamples::IncreaseSumAndCount(int64_t sum, HistogramBase::Count count) {
  sum_.fetch_add(sum, std::memory_order_relaxed);
  redundant_count_.fetch_add(count, std::memory_order_relaxed);
}

}  // namespace base

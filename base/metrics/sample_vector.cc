#include "base/metrics/sample_vector.h"

#include "base/logging.h"
#include "base/metrics/bucket_ranges.h"

namespace base {

namespace {

class SampleVectorIterator : public SampleCountIterator {
 public:
  SampleVectorIterator(const std::atomic<HistogramBase::Count>* counts, size_t size,
                       const BucketRanges* ranges)
      : counts_(counts), size_(size), ranges_(ranges) {
    SkipEmpty();
  }

  bool Done() const override { return index_ >= size_; }
  void Next() override {
    ++index_;
    SkipEmpty();
  }
  void Get(HistogramBase::Sample* min, int64_t* max, HistogramBase::Count* count) const override {
    if (min) *min = ranges_->range(index_);
    if (max) *max = ranges_->range(index_ + 1);
    if (count) *count = counts_[index_].load(std::memory_order_relaxed);
  }
  bool GetBucketIndex(size_t* index) const override {
    *index = index_;
    return true;
  }

 private:
  void SkipEmpty() {
    while (index_ < size_ && counts_[index_].load(std::memory_order_relaxed) == 0) ++index_;
  }

  const std::atomic<HistogramBase::Count>* counts_;
  size_t size_;
  const BucketRanges* ranges_;
  size_t index_ = 0;
};

size_t BucketCountOf(const BucketRanges* ranges) {
  CHECK(ranges->size() >= 2) << "a sample vector needs at least one bucket";
  return ranges->bucket_count();
}

}  // namespace

SampleVector::SampleVector(uint64_t id, const BucketRanges* bucket_ranges)
    : HistogramSamples(id),
      bucket_ranges_(bucket_ranges),
      counts_size_(BucketCountOf(bucket_ranges)),
      owned_counts_(new std::atomic<HistogramBase::Count>[counts_size_]),
      counts_(owned_counts_.get()) {
  for (size_t i = 0; i < counts_size_; ++i) counts_[i].store(0, std::memory_order_relaxed);
}

SampleVector::SampleVector(uint64_t id, Metadata* meta, std::atomic<HistogramBase::Count>* counts,
                           size_t counts_size, const BucketRanges* bucket_ranges)
    : HistogramSamples(id, meta),
      bucket_ranges_(bucket_ranges),
      counts_size_(BucketCountOf(bucket_ranges)),
      counts_(counts) {
  CHECK(counts_size >= counts_size_) << "too few external counters";
}

SampleVector::~SampleVector() = default;

void SampleVector::Accumulate(HistogramBase::Sample value, HistogramBase::Count count) {
  size_t index = GetBucketIndex(value);
  counts_[index].fetch_add(count, std::memory_order_relaxed);
  IncreaseSumAndCount(static_cast<int64_t>(value) * count, count);
}

HistogramBase::Count SampleVector::GetCount(HistogramBase::Sample value) const {
  return GetCountAtIndex(GetBucketIndex(value));
}

HistogramBase::Count SampleVector::GetCountAtIndex(size_t index) const {
  return counts_[index].load(std::memory_order_relaxed);
}

HistogramBase::Count SampleVector::TotalCount() const {
  HistogramBase::Count total = 0;
  for (size_t i = 0; i < counts_size_; ++i) total += counts_[i].load(std::memory_order_relaxed);
  return total;
}

std::unique_ptr<SampleCountIterator> SampleVector::Iterator() const {
  return std::unique_ptr<SampleCountIterator>(
      new SampleVectorIterator(counts_, counts_size_, bucket_ranges_));
}

size_t SampleVector::GetBucketIndex(HistogramBase::Sample value) const {
  size_t bucket_count = bucket_ranges_->bucket_count();
  CHECK(value >= bucket_ranges_->range(0));
  CHECK(value < bucket_ranges_->range(bucket_count));
  size_t under = 0;
  size_t over = bucket_count;
  size_t mid;
  for (;;) {
    mid = under + (over - under) / 2;
    if (mid == under) break;
    if (bucket_ranges_->range(mid) <= value) {
      under = mid;
    } else {
      over = mid;
    }
  }
  CHECK(bucket_ranges_->range(mid + 1) > value);
  return mid;
}

bool SampleVector::AddSubtractImpl(SampleCountIterator* iterator, Operator op) {
  size_t index = 0;
  while (index < counts_size_ && !iterator->Done()) {
    HistogramBase::Sample min;
    int64_t max;
    HistogramBase::Count count;
    iterator->Get(&min, &max, &count);
    if (min == bucket_ranges_->range(index) && max == bucket_ranges_->range(index + 1)) {
      counts_[index].fetch_add(op == ADD ? count : -count, std::memory_order_relaxed);
      iterator->Next();
    } else if (min > bucket_ranges_->range(index)) {
      ++index;
    } else {
      return false;
    }
  }
  return iterator->Done();
}

}  // namespace base

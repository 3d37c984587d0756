// Counts per distinct value, for sparse histograms. The map itself relies on the
// owning histogram's lock; sum and redundant count are atomic.
#ifndef BASE_METRICS_SAMPLE_MAP_H_
#define BASE_METRICS_SAMPLE_MAP_H_

#include <map>
#include <memory>

#include "base/metrics/histogram_samples.h"

namespace base {

class SampleMap : public HistogramSamples {
 public:
  explicit SampleMap(uint64_t id);
  ~SampleMap() override;

  void Accumulate(HistogramBase::Sample value, HistogramBase::Count count) override;
  HistogramBase::Count GetCount(HistogramBase::Sample value) const override;
  HistogramBase::Count TotalCount() const override;
  std::unique_ptr<SampleCountIterator> Iterator() const override;

 protected:
  [[nodiscard]] bool AddSubtractImpl(SampleCountIterator* iterator, Operator op) override;

 private:
  std::map<HistogramBase::Sample, HistogramBase::Count> sample_counts_;
};

namespace internal {

inline HistogramBase::Count CountOf(HistogramBase::Count count) { return count; }
inline HistogramBase::Count CountOf(const HistogramBase::Count* count) { return *count; }

// Walks a map from value to count (or to a pointer to the count) in ascending order,
// skipping values whose count is 0; each value is the bucket [value, value + 1).
template <typename Map>
class SampleMapIterator : public SampleCountIterator {
 public:
  explicit SampleMapIterator(const Map& map) : position_(map.begin()), end_(map.end()) {
    SkipEmpty();
  }

  bool Done() const override { return position_ == end_; }
  void Next() override {
    ++position_;
    SkipEmpty();
  }
  void Get(HistogramBase::Sample* min, int64_t* max, HistogramBase::Count* count) const override {
    if (min) *min = position_->first;
    if (max) *max = static_cast<int64_t>(position_->first) + 1;
    if (count) *count = CountOf(position_->second);
  }

 private:
  void SkipEmpty() {
    while (position_ != end_ && CountOf(position_->second) == 0) ++position_;
  }

  typename Map::const_iterator position_;
  typename Map::const_iterator end_;
};

}  // namespace internal

}  // namespace base

#endif  // BASE_METRICS_SAMPLE_MAP_H_

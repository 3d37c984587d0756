#include "base/metrics/sample_map.h"

namespace base {

namespace {

class SampleMapIterator : public SampleCountIterator {
 public:
  typedef std::map<HistogramBase::Sample, HistogramBase::Count> Map;

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
    if (count) *count = position_->second;
  }

 private:
  void SkipEmpty() {
    while (position_ != end_ && position_->second == 0) ++position_;
  }

  Map::const_iterator position_;
  Map::const_iterator end_;
};

}  // namespace

SampleMap::SampleMap(uint64_t id) : HistogramSamples(id) {}

SampleMap::~SampleMap() = default;

void SampleMap::Accumulate(HistogramBase::Sample value, HistogramBase::Count count) {
  sample_counts_[value] += count;
  IncreaseSumAndCount(static_cast<int64_t>(value) * count, count);
}

HistogramBase::Count SampleMap::GetCount(HistogramBase::Sample value) const {
  auto found = sample_counts_.find(value);
  return found == sample_counts_.end() ? 0 : found->second;
}

HistogramBase::Count SampleMap::TotalCount() const {
  HistogramBase::Count total = 0;
  for (const auto& entry : sample_counts_) total += entry.second;
  return total;
}

std::unique_ptr<SampleCountIterator> SampleMap::Iterator() const {
  return std::unique_ptr<SampleCountIterator>(new SampleMapIterator(sample_counts_));
}

bool SampleMap::AddSubtractImpl(SampleCountIterator* iterator, Operator op) {
  for (; !iterator->Done(); iterator->Next()) {
    HistogramBase::Sample min;
    int64_t max;
    HistogramBase::Count count;
    iterator->Get(&min, &max, &count);
    if (max != static_cast<int64_t>(min) + 1) return false;
    sample_counts_[min] += op == ADD ? count : -count;
  }
  return true;
}

}  // namespace base

#include "base/metrics/sample_map.h"

namespace base {

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
  return std::unique_ptr<SampleCountIterator>(
      new internal::SampleMapIterator<std::map<HistogramBase::Sample, HistogramBase::Count>>(
          sample_counts_));
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

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
  bool AddSubtractImpl(SampleCountIterator* iterator, Operator op) override;

 private:
  std::map<HistogramBase::Sample, HistogramBase::Count> sample_counts_;
};

}  // namespace base

#endif  // BASE_METRICS_SAMPLE_MAP_H_

// A histogram with one counter per distinct value (for example Windows error codes).
#ifndef BASE_METRICS_SPARSE_HISTOGRAM_H_
#define BASE_METRICS_SPARSE_HISTOGRAM_H_

#include <memory>
#include <string>

#include "base/metrics/histogram_base.h"
#include "base/synchronization/lock.h"

namespace base {

class SampleMap;

class SparseHistogram : public HistogramBase {
 public:
  // The sparse histogram of |name|, created and registered on first use; it always
  // carries the upload flag.
  static HistogramBase* FactoryGet(const std::string& name, int32_t flags);

  ~SparseHistogram() override;

  uint64_t name_hash() const override;
  HistogramType GetHistogramType() const override;
  bool HasConstructionArguments(Sample minimum, Sample maximum,
                                uint32_t bucket_count) const override;
  // Values are not clamped.
  void Add(Sample value) override;
  void AddCount(Sample value, int count) override;
  void AddSamples(const HistogramSamples& samples) override;
  std::unique_ptr<HistogramSamples> SnapshotSamples() const override;
  std::unique_ptr<HistogramSamples> SnapshotDelta() override;

 private:
  explicit SparseHistogram(const std::string& name);

  // Guards both containers' maps.
  mutable Lock lock_;
  std::unique_ptr<SampleMap> samples_;
  std::unique_ptr<SampleMap> logged_samples_;
};

}  // namespace base

#endif  // BASE_METRICS_SPARSE_HISTOGRAM_H_

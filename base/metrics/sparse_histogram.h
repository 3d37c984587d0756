// A histogram with one counter per distinct value (for example Windows error codes).
#ifndef BASE_METRICS_SPARSE_HISTOGRAM_H_
#define BASE_METRICS_SPARSE_HISTOGRAM_H_

#include <memory>
#include <string>

#include "base/metrics/histogram_base.h"
#include "base/metrics/histogram_samples.h"
#include "base/synchronization/lock.h"

namespace base {

class PersistentHistogramAllocator;
class SampleMap;

class SparseHistogram : public HistogramBase {
 public:
  // The sparse histogram of |name|, created and registered on first use; it always
  // carries the upload flag.
  static HistogramBase* FactoryGet(const std::string& name, int32_t flags);

  // A sparse histogram whose values live in |allocator|'s segment, with its metadata
  // in |meta| and that of the reported samples in |logged_meta| (not owned).
  static std::unique_ptr<HistogramBase> PersistentCreate(PersistentHistogramAllocator* allocator,
                                                         const std::string& name,
                                                         HistogramSamples::Metadata* meta,
                                                         HistogramSamples::Metadata* logged_meta);

  ~SparseHistogram() override;

  uint64_t name_hash() const override;
  HistogramType GetHistogramType() const override;
  bool HasConstructionArguments(Sample minimum, Sample maximum,
                                uint32_t bucket_count) const override;
  // Values are not clamped.
  void Add(Sample value) override;
  void AddCount(Sample value, int count) override;
  void AddSamples(const HistogramSamples& samples) override;
  [[nodiscard]] bool AddSamplesFromBuffer(SerialBufferReader* reader) override;
  std::unique_ptr<HistogramSamples> SnapshotSamples() const override;
  std::unique_ptr<HistogramSamples> SnapshotDelta() override;
  std::unique_ptr<HistogramSamples> SnapshotFinalDelta() override;
  [[nodiscard]] bool SerializeInfoImpl(SerialBuffer* buffer) const override;
  void GetParameters(Dictionary* params) const override;
  void GetCountAndBucketData(Count* count, int64_t* sum, List* buckets) const override;

 private:
  explicit SparseHistogram(const std::string& name);
  SparseHistogram(PersistentHistogramAllocator* allocator, const std::string& name,
                  HistogramSamples::Metadata* meta, HistogramSamples::Metadata* logged_meta);

  // A copy of the live samples; the lock must be held.
  std::unique_ptr<SampleMap> SnapshotWhileLocked() const;
  void WriteAsciiImpl(const char* newline, std::string* output) const override;

  // Guards both containers' maps.
  mutable Lock lock_;
  bool final_delta_created_ = false;
  std::unique_ptr<HistogramSamples> samples_;
  std::unique_ptr<HistogramSamples> logged_samples_;
};

}  // namespace base

#endif  // BASE_METRICS_SPARSE_HISTOGRAM_H_

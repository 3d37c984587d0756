#include "base/metrics/sparse_histogram.h"

#include "base/logging.h"
#include "base/metrics/sample_map.h"
#include "base/metrics/statistics_recorder.h"

namespace base {

HistogramBase* SparseHistogram::FactoryGet(const std::string& name, int32_t flags) {
  HistogramBase* histogram = StatisticsRecorder::FindHistogram(name);
  if (!histogram) {
    SparseHistogram* created = new SparseHistogram(name);
    created->SetFlags((flags & ~kIsPersistent) | kUmaTargetedHistogramFlag);
    histogram = StatisticsRecorder::RegisterOrDeleteDuplicate(created);
  }
  CHECK(histogram->GetHistogramType() == SPARSE_HISTOGRAM) << "histogram kind mismatch: "
                                                           << name;
  return histogram;
}

SparseHistogram::SparseHistogram(const std::string& name)
    : HistogramBase(name),
      samples_(new SampleMap(HashMetricName(name))),
      logged_samples_(new SampleMap(samples_->id())) {}

SparseHistogram::~SparseHistogram() = default;

uint64_t SparseHistogram::name_hash() const { return samples_->id(); }

HistogramType SparseHistogram::GetHistogramType() const { return SPARSE_HISTOGRAM; }

bool SparseHistogram::HasConstructionArguments(Sample, Sample, uint32_t) const { return false; }

void SparseHistogram::Add(Sample value) {
  AutoLock lock(lock_);
  samples_->Accumulate(value, 1);
}

void SparseHistogram::AddCount(Sample value, int count) {
  if (count <= 0) return;
  AutoLock lock(lock_);
  samples_->Accumulate(value, count);
}

void SparseHistogram::AddSamples(const HistogramSamples& samples) {
  AutoLock lock(lock_);
  samples_->Add(samples);
}

std::unique_ptr<HistogramSamples> SparseHistogram::SnapshotSamples() const {
  std::unique_ptr<SampleMap> snapshot(new SampleMap(samples_->id()));
  AutoLock lock(lock_);
  snapshot->Add(*samples_);
  return snapshot;
}

std::unique_ptr<HistogramSamples> SparseHistogram::SnapshotDelta() {
  std::unique_ptr<SampleMap> snapshot(new SampleMap(samples_->id()));
  AutoLock lock(lock_);
  snapshot->Add(*samples_);
  snapshot->Subtract(*logged_samples_);
  logged_samples_->Add(*snapshot);
  return snapshot;
}

}  // namespace base

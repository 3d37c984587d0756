#include "base/metrics/histogram.h"

#include <cmath>

#include "base/logging.h"
#include "base/metrics/bucket_ranges.h"
#include "base/metrics/sample_vector.h"
#include "base/metrics/statistics_recorder.h"

namespace base {

namespace {

constexpr uint32_t kTimeBucketCount = 50;
// Fewer would leave no room between the underflow and overflow buckets.
constexpr uint32_t kMinBucketCount = 3;

HistogramBase::Sample ClampMaximum(int64_t maximum) {
  return maximum >= HistogramBase::kSampleType_MAX ? HistogramBase::kSampleType_MAX - 1
                                                   : static_cast<HistogramBase::Sample>(maximum);
}

uint32_t ClampBucketCount(uint32_t bucket_count) {
  if (bucket_count >= HistogramBase::kBucketCount_MAX) return HistogramBase::kBucketCount_MAX - 1;
  return bucket_count < kMinBucketCount ? kMinBucketCount : bucket_count;
}

}  // namespace

HistogramBase* Histogram::FactoryGet(const std::string& name, Sample minimum, Sample maximum,
                                     uint32_t bucket_count, int32_t flags) {
  return Build(name, HISTOGRAM, minimum < 1 ? 1 : minimum, ClampMaximum(maximum),
               ClampBucketCount(bucket_count), flags);
}

HistogramBase* Histogram::FactoryTimeGet(const std::string& name, TimeDelta minimum,
                                         TimeDelta maximum) {
  int64_t minimum_ms = minimum.InMicroseconds() / 1000;
  int64_t maximum_ms = maximum.InMicroseconds() / 1000;
  return Build(name, HISTOGRAM, minimum_ms < 1 ? 1 : static_cast<Sample>(minimum_ms),
               ClampMaximum(maximum_ms), kTimeBucketCount, kUmaTargetedHistogramFlag);
}

HistogramBase* Histogram::FactoryTimeGet(const char* name, TimeDelta minimum,
                                         TimeDelta maximum) {
  return FactoryTimeGet(std::string(name), minimum, maximum);
}

HistogramBase* Histogram::Build(const std::string& name, HistogramType type, Sample minimum,
                                Sample maximum, uint32_t bucket_count, int32_t flags) {
  HistogramBase* histogram = StatisticsRecorder::FindHistogram(name);
  if (!histogram) {
    BucketRanges* ranges = new BucketRanges(bucket_count + 1);
    if (type == LINEAR_HISTOGRAM) {
      LinearHistogram::InitializeBucketRanges(minimum, maximum, ranges);
    } else {
      InitializeBucketRanges(minimum, maximum, ranges);
    }
    const BucketRanges* registered_ranges =
        StatisticsRecorder::RegisterOrDeleteDuplicateRanges(ranges);
    Histogram* created = type == LINEAR_HISTOGRAM
                             ? new LinearHistogram(name, minimum, maximum, registered_ranges)
                             : new Histogram(name, minimum, maximum, registered_ranges);
    created->SetFlags(flags & ~kIsPersistent);
    histogram = StatisticsRecorder::RegisterOrDeleteDuplicate(created);
  }
  CHECK(histogram->GetHistogramType() == type) << "histogram kind mismatch: " << name;
  if (!histogram->HasConstructionArguments(minimum, maximum, bucket_count)) return nullptr;
  return histogram;
}

Histogram::Histogram(const std::string& name, Sample minimum, Sample maximum,
                     const BucketRanges* ranges)
    : HistogramBase(name),
      bucket_ranges_(ranges),
      declared_min_(minimum),
      declared_max_(maximum),
      samples_(new SampleVector(HashMetricName(name), ranges)) {}

Histogram::~Histogram() = default;

void Histogram::InitializeBucketRanges(Sample minimum, Sample maximum, BucketRanges* ranges) {
  size_t bucket_count = ranges->bucket_count();
  double log_max = std::log(static_cast<double>(maximum));
  ranges->set_range(0, 0);
  ranges->set_range(1, minimum);
  Sample current = minimum;
  for (size_t i = 2; i < bucket_count; ++i) {
    double log_current = std::log(static_cast<double>(current));
    double log_next = log_current + (log_max - log_current) / static_cast<double>(bucket_count - i);
    Sample next = static_cast<Sample>(std::floor(std::exp(log_next) + 0.5));
    current = next > current ? next : current + 1;
    CHECK(current >= 0);
    ranges->set_range(i, current);
  }
  ranges->set_range(bucket_count, kSampleType_MAX);
  ranges->ResetChecksum();
}

uint64_t Histogram::name_hash() const { return samples_->id(); }

HistogramType Histogram::GetHistogramType() const { return HISTOGRAM; }

bool Histogram::HasConstructionArguments(Sample minimum, Sample maximum,
                                         uint32_t bucket_count) const {
  return declared_min_ == minimum && declared_max_ == maximum &&
         this->bucket_count() == bucket_count;
}

void Histogram::Add(Sample value) { AddCount(value, 1); }

void Histogram::AddCount(Sample value, int count) {
  if (count <= 0) return;
  if (value > kSampleType_MAX - 1) value = kSampleType_MAX - 1;
  if (value < 0) value = 0;
  samples_->Accumulate(value, count);
}

void Histogram::AddTime(TimeDelta time) {
  int64_t ms = time.InMilliseconds();
  Add(ms > kSampleType_MAX ? kSampleType_MAX : static_cast<Sample>(ms < 0 ? 0 : ms));
}

void Histogram::AddSamples(const HistogramSamples& samples) { samples_->Add(samples); }

std::unique_ptr<SampleVector> Histogram::SnapshotSampleVector() const {
  std::unique_ptr<SampleVector> snapshot(new SampleVector(samples_->id(), bucket_ranges_));
  snapshot->Add(*samples_);
  return snapshot;
}

std::unique_ptr<HistogramSamples> Histogram::SnapshotSamples() const {
  return SnapshotSampleVector();
}

std::unique_ptr<HistogramSamples> Histogram::SnapshotDelta() {
  std::unique_ptr<SampleVector> snapshot = SnapshotSampleVector();
  if (!logged_samples_) {
    logged_samples_ = std::move(snapshot);
    return SnapshotSampleVector();
  }
  snapshot->Subtract(*logged_samples_);
  logged_samples_->Add(*snapshot);
  return snapshot;
}

Histogram::Sample Histogram::ranges(size_t i) const { return bucket_ranges_->range(i); }

uint32_t Histogram::bucket_count() const {
  return static_cast<uint32_t>(bucket_ranges_->bucket_count());
}

HistogramBase* LinearHistogram::FactoryGet(const std::string& name, Sample boundary,
                                           uint32_t bucket_count) {
  return Build(name, LINEAR_HISTOGRAM, 1, ClampMaximum(boundary), ClampBucketCount(bucket_count),
               kUmaTargetedHistogramFlag);
}

LinearHistogram::LinearHistogram(const std::string& name, Sample minimum, Sample maximum,
                                 const BucketRanges* ranges)
    : Histogram(name, minimum, maximum, ranges) {}

LinearHistogram::~LinearHistogram() = default;

void LinearHistogram::InitializeBucketRanges(Sample minimum, Sample maximum,
                                             BucketRanges* ranges) {
  size_t bucket_count = ranges->bucket_count();
  ranges->set_range(0, 0);
  for (size_t i = 1; i < bucket_count; ++i) {
    double value = (static_cast<double>(minimum) * static_cast<double>(bucket_count - 1 - i) +
                    static_cast<double>(maximum) * static_cast<double>(i - 1)) /
                   static_cast<double>(bucket_count - 2);
    ranges->set_range(i, static_cast<Sample>(value + 0.5));
  }
  ranges->set_range(bucket_count, kSampleType_MAX);
  ranges->ResetChecksum();
}

HistogramType LinearHistogram::GetHistogramType() const { return LINEAR_HISTOGRAM; }

}  // namespace base

#include "base/metrics/histogram.h"

#include <algorithm>
#include <cmath>

#include "base/logging.h"
#include "base/metrics/bucket_ranges.h"
#include "base/metrics/persistent_histogram_allocator.h"
#include "base/metrics/sample_vector.h"
#include "base/metrics/statistics_recorder.h"
#include "base/serial_buffer.h"
#include "base/strings/stringprintf.h"
#include "base/values.h"

namespace base {

namespace {

constexpr uint32_t kDefaultBucketCount = 50;
// Fewer would leave no room between the underflow and overflow buckets.
constexpr uint32_t kMinBucketCount = 3;
// A snapshot may see the sum and the counters of concurrent samples apart by this much.
constexpr int64_t kCommonRaceBasedCountMismatch = 5;
// The exponential graph scales a bucket down by its width, but no further than this.
constexpr double kExponentialMaxWidthDivisor = 5;

HistogramBase::Sample ClampMaximum(int64_t maximum) {
  return maximum >= HistogramBase::kSampleType_MAX ? HistogramBase::kSampleType_MAX - 1
                                                   : static_cast<HistogramBase::Sample>(maximum);
}

uint32_t ClampBucketCount(uint32_t bucket_count) {
  if (bucket_count >= HistogramBase::kBucketCount_MAX) return HistogramBase::kBucketCount_MAX - 1;
  return bucket_count < kMinBucketCount ? kMinBucketCount : bucket_count;
}

HistogramBase::Sample ToSample(int64_t value) {
  if (value > HistogramBase::kSampleType_MAX) return HistogramBase::kSampleType_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<HistogramBase::Sample>(value);
}

double BucketWidth(const Histogram& histogram, uint32_t index) {
  return static_cast<double>(histogram.ranges(index + 1)) -
         static_cast<double>(histogram.ranges(index));
}

}  // namespace

// ---------------------------------------------------------------------- factory

Histogram::Factory::Factory(const std::string& name, HistogramType type, Sample minimum,
                            Sample maximum, uint32_t bucket_count, int32_t flags)
    : name_(name),
      type_(type),
      minimum_(minimum),
      maximum_(maximum),
      bucket_count_(bucket_count),
      flags_(flags) {}

Histogram::Factory::~Factory() = default;

HistogramBase* Histogram::Factory::Build() {
  HistogramBase* histogram = StatisticsRecorder::FindHistogram(name_);
  if (histogram) {
    ReportHistogramActivity(*histogram, HISTOGRAM_LOOKUP);
  } else {
    BucketRanges* created_ranges = CreateRanges();
    if (!created_ranges) return nullptr;
    const BucketRanges* ranges =
        StatisticsRecorder::RegisterOrDeleteDuplicateRanges(created_ranges);
    if (bucket_count_ == 0) {
      bucket_count_ = static_cast<uint32_t>(ranges->bucket_count());
      minimum_ = ranges->range(1);
      maximum_ = ranges->range(bucket_count_ - 1);
    }

    std::unique_ptr<HistogramBase> created;
    PersistentHistogramAllocator::Reference record = 0;
    GlobalHistogramAllocator* allocator = GlobalHistogramAllocator::Get();
    if (allocator) {
      created =
          allocator->AllocateHistogram(type_, name_, minimum_, maximum_, ranges, flags_, &record);
    }
    if (!created) {
      flags_ &= ~kIsPersistent;
      created = HeapAlloc(ranges);
      created->SetFlags(flags_);
    }
    FillHistogram(created.get());

    HistogramBase* made = created.release();
    uintptr_t made_address = reinterpret_cast<uintptr_t>(made);  // |made| may be deleted
    histogram = StatisticsRecorder::RegisterOrDeleteDuplicate(made);
    if (record)
      allocator->FinalizeHistogram(record, reinterpret_cast<uintptr_t>(histogram) == made_address);
    ReportHistogramActivity(*histogram, HISTOGRAM_CREATED);
  }
  CHECK(histogram->GetHistogramType() == type_) << "histogram kind mismatch: " << name_;
  if (bucket_count_ != 0 &&
      !histogram->HasConstructionArguments(minimum_, maximum_, bucket_count_)) {
    return nullptr;
  }
  return histogram;
}

BucketRanges* Histogram::Factory::CreateRanges() {
  BucketRanges* ranges = new BucketRanges(bucket_count_ + 1);
  Histogram::InitializeBucketRanges(minimum_, maximum_, ranges);
  return ranges;
}

std::unique_ptr<HistogramBase> Histogram::Factory::HeapAlloc(const BucketRanges* ranges) {
  return std::unique_ptr<HistogramBase>(new Histogram(name_, minimum_, maximum_, ranges));
}

void Histogram::Factory::FillHistogram(HistogramBase*) {}

// -------------------------------------------------------------------- Histogram

HistogramBase* Histogram::FactoryGet(const std::string& name, Sample minimum, Sample maximum,
                                     uint32_t bucket_count, int32_t flags) {
  return Factory(name, HISTOGRAM, minimum < 1 ? 1 : minimum, ClampMaximum(maximum),
                 ClampBucketCount(bucket_count), flags)
      .Build();
}

HistogramBase* Histogram::FactoryCountsGet(const std::string& name, Sample maximum) {
  return FactoryGet(name, 1, maximum, kDefaultBucketCount, kUmaTargetedHistogramFlag);
}

HistogramBase* Histogram::FactoryTimeGet(const std::string& name, TimeDelta minimum,
                                         TimeDelta maximum) {
  int64_t minimum_ms = minimum.InMicroseconds() / 1000;
  int64_t maximum_ms = maximum.InMicroseconds() / 1000;
  return Factory(name, HISTOGRAM, minimum_ms < 1 ? 1 : static_cast<Sample>(minimum_ms),
                 ClampMaximum(maximum_ms), kDefaultBucketCount, kUmaTargetedHistogramFlag)
      .Build();
}

HistogramBase* Histogram::FactoryTimeGet(const char* name, TimeDelta minimum, TimeDelta maximum) {
  return FactoryTimeGet(std::string(name), minimum, maximum);
}

std::unique_ptr<HistogramBase> Histogram::PersistentCreate(HistogramType type,
                                                           const std::string& name, Sample minimum,
                                                           Sample maximum,
                                                           const BucketRanges* ranges,
                                                           const ExternalStorage& storage) {
  HistogramBase* histogram = nullptr;
  switch (type) {
    case HISTOGRAM:
      histogram = new Histogram(name, minimum, maximum, ranges, &storage);
      break;
    case LINEAR_HISTOGRAM:
      histogram = new LinearHistogram(name, minimum, maximum, ranges, &storage);
      break;
    case BOOLEAN_HISTOGRAM:
      histogram = new BooleanHistogram(name, ranges, &storage);
      break;
    case CUSTOM_HISTOGRAM:
      histogram = new CustomHistogram(name, ranges, &storage);
      break;
    case SPARSE_HISTOGRAM:
      break;
  }
  return std::unique_ptr<HistogramBase>(histogram);
}

Histogram::Histogram(const std::string& name, Sample minimum, Sample maximum,
                     const BucketRanges* ranges, const ExternalStorage* storage)
    : HistogramBase(name), bucket_ranges_(ranges), declared_min_(minimum), declared_max_(maximum) {
  uint64_t id = HashMetricName(name);
  if (!storage) {
    samples_.reset(new SampleVector(id, ranges));
    return;
  }
  samples_.reset(
      new SampleVector(id, storage->meta, storage->counts, storage->counts_size, ranges));
  logged_samples_.reset(new SampleVector(id, storage->logged_meta, storage->logged_counts,
                                         storage->counts_size, ranges));
}

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
  FindAndRunCallback(value);
}

void Histogram::AddTime(TimeDelta time) {
  int64_t ms = time.InMilliseconds();
  Add(ms > kSampleType_MAX ? kSampleType_MAX : static_cast<Sample>(ms < 0 ? 0 : ms));
}

void Histogram::AddSamples(const HistogramSamples& samples) {
  // Samples of other buckets cannot be told apart from a programming error upstream.
  if (!samples_->Add(samples))
    LOG(WARNING) << "Samples added to " << histogram_name() << " do not fit its buckets";
}

bool Histogram::AddSamplesFromBuffer(SerialBufferReader* reader) {
  return samples_->AddFromBuffer(reader);
}

uint32_t Histogram::FindCorruption(const HistogramSamples& samples) const {
  uint32_t inconsistencies = NO_INCONSISTENCIES;
  int64_t previous = -1;
  for (size_t i = 0; i < bucket_ranges_->size(); ++i) {
    if (bucket_ranges_->range(i) <= previous) inconsistencies |= BUCKET_ORDER_ERROR;
    previous = bucket_ranges_->range(i);
  }
  if (!bucket_ranges_->HasValidChecksum()) inconsistencies |= RANGE_CHECKSUM_ERROR;

  int64_t delta = static_cast<int64_t>(samples.redundant_count()) - samples.TotalCount();
  if (delta > 0) {
    static HistogramBase* const high = FactoryCountsGet("Histogram.InconsistentCountHigh", 1000000);
    high->Add(ToSample(delta));
    if (delta > kCommonRaceBasedCountMismatch) inconsistencies |= COUNT_HIGH_ERROR;
  } else if (delta < 0) {
    static HistogramBase* const low = FactoryCountsGet("Histogram.InconsistentCountLow", 1000000);
    low->Add(ToSample(-delta));
    if (-delta > kCommonRaceBasedCountMismatch) inconsistencies |= COUNT_LOW_ERROR;
  }
  return inconsistencies;
}

std::unique_ptr<SampleVector> Histogram::SnapshotSampleVector() const {
  std::unique_ptr<SampleVector> snapshot(new SampleVector(samples_->id(), bucket_ranges_));
  // A snapshot has the histogram's own buckets, so the samples always fit.
  (void)snapshot->Add(*samples_);
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
  // Both snapshots have the histogram's own buckets, so the samples always fit.
  (void)snapshot->Subtract(*logged_samples_);
  (void)logged_samples_->Add(*snapshot);
  return snapshot;
}

std::unique_ptr<HistogramSamples> Histogram::SnapshotFinalDelta() {
  final_delta_created_ = true;
  std::unique_ptr<SampleVector> snapshot = SnapshotSampleVector();
  if (logged_samples_) (void)snapshot->Subtract(*logged_samples_);  // the same buckets
  return snapshot;
}

Histogram::Sample Histogram::ranges(size_t i) const { return bucket_ranges_->range(i); }

uint32_t Histogram::bucket_count() const {
  return static_cast<uint32_t>(bucket_ranges_->bucket_count());
}

bool Histogram::PrintEmptyBucket(uint32_t) const { return true; }

double Histogram::GetBucketSize(Count current, uint32_t index) const {
  return current / std::min(BucketWidth(*this, index), kExponentialMaxWidthDivisor);
}

std::string Histogram::GetAsciiBucketRange(uint32_t index) const {
  return StringPrintf("%d", ranges(index));
}

void Histogram::WriteAsciiImpl(const char* newline, std::string* output) const {
  std::unique_ptr<SampleVector> snapshot = SnapshotSampleVector();
  Count total = snapshot->TotalCount();
  WriteAsciiHeaderStart(total, output);
  if (total != 0) {
    StringAppendF(output, ", mean = %.1f",
                  static_cast<double>(static_cast<float>(snapshot->sum()) / total));
  }
  if (flags() != 0) StringAppendF(output, " (flags = 0x%x)", static_cast<unsigned>(flags()));
  output->append(newline);

  const uint32_t buckets = bucket_count();
  double peak = 0;
  size_t print_width = 1;
  for (uint32_t i = 0; i < buckets; ++i) {
    Count current = snapshot->GetCountAtIndex(i);
    peak = std::max(peak, GetBucketSize(current, i));
    if (current) print_width = std::max(print_width, GetAsciiBucketRange(i).size() + 1);
  }

  Count past = 0;
  for (uint32_t i = 0; i < buckets; ++i) {
    Count current = snapshot->GetCountAtIndex(i);
    if (!current && !PrintEmptyBucket(i)) continue;
    std::string range = GetAsciiBucketRange(i);
    output->append(range);
    if (range.size() < print_width + 1) output->append(print_width + 1 - range.size(), ' ');
    if (current == 0 && i + 1 < buckets && snapshot->GetCountAtIndex(i + 1) == 0) {
      while (i + 1 < buckets && snapshot->GetCountAtIndex(i + 1) == 0) ++i;
      output->append("... ");
      output->append(newline);
      continue;
    }
    WriteAsciiBucketGraph(GetBucketSize(current, i), peak, output);
    WriteAsciiBucketValue(current, total, output);
    if (i != 0) StringAppendF(output, " {%3.1f%%}", past / (total / 100.0));
    output->append(newline);
    past += current;
  }
}

bool Histogram::SerializeInfoImpl(SerialBuffer* buffer) const {
  return buffer->WriteString(histogram_name()) && buffer->WriteInt(flags()) &&
         buffer->WriteInt(declared_min_) && buffer->WriteInt(declared_max_) &&
         buffer->WriteInt(static_cast<int32_t>(bucket_count())) &&
         buffer->WriteInt(static_cast<int32_t>(bucket_ranges_->checksum()));
}

void Histogram::GetParameters(Dictionary* params) const {
  params->SetString("type", HistogramTypeToString(GetHistogramType()));
  params->SetInteger("min", declared_min_);
  params->SetInteger("max", declared_max_);
  params->SetInteger("bucket_count", static_cast<int>(bucket_count()));
}

void Histogram::GetCountAndBucketData(Count* count, int64_t* sum, List* buckets) const {
  std::unique_ptr<SampleVector> snapshot = SnapshotSampleVector();
  *count = snapshot->TotalCount();
  *sum = snapshot->sum();
  const uint32_t last = bucket_count() - 1;
  for (uint32_t i = 0; i <= last; ++i) {
    Count bucket_count = snapshot->GetCountAtIndex(i);
    if (bucket_count <= 0) continue;
    std::unique_ptr<Dictionary> bucket = MakeDictionaryValue();
    bucket->SetInteger("low", ranges(i));
    if (i != last) bucket->SetInteger("high", ranges(i + 1));
    bucket->SetInteger("count", bucket_count);
    buckets->Append(std::move(bucket));
  }
}

// -------------------------------------------------------------- LinearHistogram

LinearHistogram::Factory::Factory(const std::string& name, HistogramType type, Sample minimum,
                                  Sample maximum, uint32_t bucket_count, int32_t flags,
                                  const DescriptionPair* descriptions)
    : Histogram::Factory(name, type, minimum, maximum, bucket_count, flags),
      descriptions_(descriptions) {}

BucketRanges* LinearHistogram::Factory::CreateRanges() {
  BucketRanges* ranges = new BucketRanges(bucket_count_ + 1);
  LinearHistogram::InitializeBucketRanges(minimum_, maximum_, ranges);
  return ranges;
}

std::unique_ptr<HistogramBase> LinearHistogram::Factory::HeapAlloc(const BucketRanges* ranges) {
  return std::unique_ptr<HistogramBase>(new LinearHistogram(name_, minimum_, maximum_, ranges));
}

void LinearHistogram::Factory::FillHistogram(HistogramBase* histogram) {
  if (!descriptions_) return;
  LinearHistogram* linear = static_cast<LinearHistogram*>(histogram);
  for (const DescriptionPair* pair = descriptions_; pair->description; ++pair)
    linear->bucket_description_[pair->sample] = pair->description;
}

HistogramBase* LinearHistogram::FactoryGet(const std::string& name, Sample boundary,
                                           uint32_t bucket_count,
                                           const DescriptionPair* descriptions) {
  return Factory(name, LINEAR_HISTOGRAM, 1, ClampMaximum(boundary), ClampBucketCount(bucket_count),
                 kUmaTargetedHistogramFlag, descriptions)
      .Build();
}

LinearHistogram::LinearHistogram(const std::string& name, Sample minimum, Sample maximum,
                                 const BucketRanges* ranges, const ExternalStorage* storage)
    : Histogram(name, minimum, maximum, ranges, storage) {}

LinearHistogram::~LinearHistogram() = default;

void LinearHistogram::InitializeBucketRanges(Sample minimum, Sample maximum, BucketRanges* ranges) {
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

bool LinearHistogram::PrintEmptyBucket(uint32_t index) const {
  return bucket_description_.find(ranges(index)) == bucket_description_.end();
}

double LinearHistogram::GetBucketSize(Count current, uint32_t index) const {
  return current / BucketWidth(*this, index);
}

std::string LinearHistogram::GetAsciiBucketRange(uint32_t index) const {
  auto description = bucket_description_.find(ranges(index));
  if (description == bucket_description_.end()) return Histogram::GetAsciiBucketRange(index);
  return description->second;
}

// ------------------------------------------------------------- BooleanHistogram

class BooleanHistogram::Factory : public LinearHistogram::Factory {
 public:
  Factory(const std::string& name, int32_t flags)
      : LinearHistogram::Factory(name, BOOLEAN_HISTOGRAM, 1, 2, 3, flags, nullptr) {}

 protected:
  std::unique_ptr<HistogramBase> HeapAlloc(const BucketRanges* ranges) override {
    return std::unique_ptr<HistogramBase>(new BooleanHistogram(name_, ranges));
  }
};

HistogramBase* BooleanHistogram::FactoryGet(const std::string& name, int32_t flags) {
  return Factory(name, flags).Build();
}

BooleanHistogram::BooleanHistogram(const std::string& name, const BucketRanges* ranges,
                                   const ExternalStorage* storage)
    : LinearHistogram(name, 1, 2, ranges, storage) {}

HistogramType BooleanHistogram::GetHistogramType() const { return BOOLEAN_HISTOGRAM; }

// -------------------------------------------------------------- CustomHistogram

class CustomHistogram::Factory : public Histogram::Factory {
 public:
  Factory(const std::string& name, const std::vector<Sample>* custom_ranges, int32_t flags)
      : Histogram::Factory(name, CUSTOM_HISTOGRAM, 0, 0, 0, flags), custom_ranges_(custom_ranges) {}

 protected:
  // Null for a list that gives no usable buckets.
  BucketRanges* CreateRanges() override {
    std::vector<Sample> bounds(*custom_ranges_);
    for (Sample bound : bounds) {
      if (bound < 0 || bound >= kSampleType_MAX) return nullptr;
    }
    bounds.push_back(0);
    bounds.push_back(kSampleType_MAX);
    std::sort(bounds.begin(), bounds.end());
    bounds.erase(std::unique(bounds.begin(), bounds.end()), bounds.end());
    if (bounds.size() < 3 || bounds.size() > kBucketCount_MAX) return nullptr;
    BucketRanges* ranges = new BucketRanges(bounds.size());
    for (size_t i = 0; i < bounds.size(); ++i) ranges->set_range(i, bounds[i]);
    ranges->ResetChecksum();
    return ranges;
  }

  std::unique_ptr<HistogramBase> HeapAlloc(const BucketRanges* ranges) override {
    return std::unique_ptr<HistogramBase>(new CustomHistogram(name_, ranges));
  }

 private:
  const std::vector<Sample>* custom_ranges_;
};

HistogramBase* CustomHistogram::FactoryGet(const std::string& name,
                                           const std::vector<Sample>& custom_ranges,
                                           int32_t flags) {
  return Factory(name, &custom_ranges, flags).Build();
}

CustomHistogram::CustomHistogram(const std::string& name, const BucketRanges* ranges,
                                 const ExternalStorage* storage)
    : Histogram(name, ranges->range(1), ranges->range(ranges->bucket_count() - 1), ranges,
                storage) {}

HistogramType CustomHistogram::GetHistogramType() const { return CUSTOM_HISTOGRAM; }

bool CustomHistogram::SerializeInfoImpl(SerialBuffer* buffer) const {
  if (!Histogram::SerializeInfoImpl(buffer)) return false;
  for (uint32_t i = 1; i < bucket_count(); ++i) {
    if (!buffer->WriteInt(ranges(i))) return false;
  }
  return true;
}

double CustomHistogram::GetBucketSize(Count current, uint32_t) const { return current; }

}  // namespace base

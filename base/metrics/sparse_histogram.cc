#include "base/metrics/sparse_histogram.h"

#include <algorithm>

#include "base/logging.h"
#include "base/metrics/persistent_histogram_allocator.h"
#include "base/metrics/persistent_sample_map.h"
#include "base/metrics/sample_map.h"
#include "base/metrics/statistics_recorder.h"
#include "base/serial_buffer.h"
#include "base/strings/stringprintf.h"
#include "base/values.h"

namespace base {

HistogramBase* SparseHistogram::FactoryGet(const std::string& name, int32_t flags) {
  HistogramBase* histogram = StatisticsRecorder::FindHistogram(name);
  if (histogram) {
    ReportHistogramActivity(*histogram, HISTOGRAM_LOOKUP);
  } else {
    std::unique_ptr<HistogramBase> created;
    PersistentHistogramAllocator::Reference record = 0;
    GlobalHistogramAllocator* allocator = GlobalHistogramAllocator::Get();
    if (allocator) {
      created = allocator->AllocateHistogram(SPARSE_HISTOGRAM, name, 0, 0, nullptr,
                                             kUmaTargetedHistogramFlag, &record);
    }
    if (!created) {
      created.reset(new SparseHistogram(name));
      created->SetFlags((flags & ~kIsPersistent) | kUmaTargetedHistogramFlag);
    }
    HistogramBase* made = created.release();
    uintptr_t made_address = reinterpret_cast<uintptr_t>(made);  // |made| may be deleted
    histogram = StatisticsRecorder::RegisterOrDeleteDuplicate(made);
    if (record)
      allocator->FinalizeHistogram(record, reinterpret_cast<uintptr_t>(histogram) == made_address);
    ReportHistogramActivity(*histogram, HISTOGRAM_CREATED);
  }
  CHECK(histogram->GetHistogramType() == SPARSE_HISTOGRAM) << "histogram kind mismatch: " << name;
  return histogram;
}

std::unique_ptr<HistogramBase> SparseHistogram::PersistentCreate(
    PersistentHistogramAllocator* allocator, const std::string& name,
    HistogramSamples::Metadata* meta, HistogramSamples::Metadata* logged_meta) {
  return std::unique_ptr<HistogramBase>(new SparseHistogram(allocator, name, meta, logged_meta));
}

SparseHistogram::SparseHistogram(const std::string& name)
    : HistogramBase(name),
      samples_(new SampleMap(HashMetricName(name))),
      logged_samples_(new SampleMap(samples_->id())) {}

SparseHistogram::SparseHistogram(PersistentHistogramAllocator* allocator, const std::string& name,
                                 HistogramSamples::Metadata* meta,
                                 HistogramSamples::Metadata* logged_meta)
    : HistogramBase(name),
      samples_(new PersistentSampleMap(HashMetricName(name), allocator, meta)),
      // Its own id keeps the reported values' records apart from the live ones.
      logged_samples_(new PersistentSampleMap(samples_->id() + 1, allocator, logged_meta)) {}

SparseHistogram::~SparseHistogram() = default;

uint64_t SparseHistogram::name_hash() const { return samples_->id(); }

HistogramType SparseHistogram::GetHistogramType() const { return SPARSE_HISTOGRAM; }

bool SparseHistogram::HasConstructionArguments(Sample, Sample, uint32_t) const { return false; }

void SparseHistogram::Add(Sample value) {
  {
    AutoLock lock(lock_);
    samples_->Accumulate(value, 1);
  }
  FindAndRunCallback(value);
}

void SparseHistogram::AddCount(Sample value, int count) {
  if (count <= 0) return;
  {
    AutoLock lock(lock_);
    samples_->Accumulate(value, count);
  }
  FindAndRunCallback(value);
}

void SparseHistogram::AddSamples(const HistogramSamples& samples) {
  AutoLock lock(lock_);
  if (!samples_->Add(samples))
    LOG(WARNING) << "Samples added to " << histogram_name() << " are not single values";
}

bool SparseHistogram::AddSamplesFromBuffer(SerialBufferReader* reader) {
  AutoLock lock(lock_);
  return samples_->AddFromBuffer(reader);
}

std::unique_ptr<SampleMap> SparseHistogram::SnapshotWhileLocked() const {
  std::unique_ptr<SampleMap> snapshot(new SampleMap(samples_->id()));
  (void)snapshot->Add(*samples_);  // a sample map takes every sample
  return snapshot;
}

std::unique_ptr<HistogramSamples> SparseHistogram::SnapshotSamples() const {
  AutoLock lock(lock_);
  return SnapshotWhileLocked();
}

std::unique_ptr<HistogramSamples> SparseHistogram::SnapshotDelta() {
  AutoLock lock(lock_);
  std::unique_ptr<SampleMap> snapshot = SnapshotWhileLocked();
  // A sample map takes every sample.
  (void)snapshot->Subtract(*logged_samples_);
  (void)logged_samples_->Add(*snapshot);
  return snapshot;
}

std::unique_ptr<HistogramSamples> SparseHistogram::SnapshotFinalDelta() {
  AutoLock lock(lock_);
  final_delta_created_ = true;
  std::unique_ptr<SampleMap> snapshot = SnapshotWhileLocked();
  (void)snapshot->Subtract(*logged_samples_);  // a sample map takes every sample
  return snapshot;
}

void SparseHistogram::WriteAsciiImpl(const char* newline, std::string* output) const {
  std::unique_ptr<HistogramSamples> snapshot = SnapshotSamples();
  Count total = snapshot->TotalCount();
  WriteAsciiHeaderStart(total, output);
  if (flags() != 0) StringAppendF(output, " (flags = 0x%x)", static_cast<unsigned>(flags()));
  output->append(newline);

  Count largest_count = 0;
  Sample largest_value = 0;
  for (std::unique_ptr<SampleCountIterator> it = snapshot->Iterator(); !it->Done(); it->Next()) {
    Sample value;
    Count count;
    it->Get(&value, nullptr, &count);
    largest_count = std::max(largest_count, count);
    largest_value = value;  // ascending: the last one is the largest
  }
  size_t print_width = StringPrintf("%d", largest_value).size() + 2;
  for (std::unique_ptr<SampleCountIterator> it = snapshot->Iterator(); !it->Done(); it->Next()) {
    Sample value;
    Count count;
    it->Get(&value, nullptr, &count);
    std::string text = StringPrintf("%d", value);
    output->append(text);
    if (text.size() < print_width) output->append(print_width - text.size(), ' ');
    WriteAsciiBucketGraph(count, largest_count, output);
    WriteAsciiBucketValue(count, total, output);
    output->append(newline);
  }
}

bool SparseHistogram::SerializeInfoImpl(SerialBuffer* buffer) const {
  return buffer->WriteString(histogram_name()) && buffer->WriteInt(flags());
}

void SparseHistogram::GetParameters(Dictionary* params) const {
  params->SetString("type", HistogramTypeToString(GetHistogramType()));
}

// Values are not buckets: nothing to report in bucket form.
void SparseHistogram::GetCountAndBucketData(Count*, int64_t*, List*) const {}

}  // namespace base

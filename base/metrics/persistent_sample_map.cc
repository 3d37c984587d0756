#include "base/metrics/persistent_sample_map.h"

#include "base/metrics/histogram.h"
#include "base/metrics/persistent_histogram_allocator.h"
#include "base/metrics/persistent_memory_allocator.h"
#include "base/metrics/sample_map.h"

namespace base {

namespace {

// Values of "UMA.NegativeSamples.Reason".
enum NegativeSampleReason {
  kSubtractedValueNotPresent = 0,
  kSubtractedMoreThanPresent = 1,
  kNegativeSampleReasonBoundary = 2,
};

void RecordNegativeSample(NegativeSampleReason reason) {
  static HistogramBase* const histogram =
      LinearHistogram::FactoryGet("UMA.NegativeSamples.Reason", kNegativeSampleReasonBoundary,
                                  kNegativeSampleReasonBoundary + 1);
  if (histogram) histogram->Add(reason);
}

}  // namespace

PersistentSampleMap::PersistentSampleMap(uint64_t id, PersistentHistogramAllocator* allocator,
                                         Metadata* meta)
    : HistogramSamples(id, meta), allocator_(allocator) {}

PersistentSampleMap::~PersistentSampleMap() = default;

void PersistentSampleMap::Accumulate(HistogramBase::Sample value, HistogramBase::Count count) {
  *GetOrCreateSampleCountStorage(value) += count;
  IncreaseSumAndCount(static_cast<int64_t>(value) * count, count);
}

HistogramBase::Count PersistentSampleMap::GetCount(HistogramBase::Sample value) const {
  const HistogramBase::Count* count = GetSampleCountStorage(value);
  return count ? *count : 0;
}

HistogramBase::Count PersistentSampleMap::TotalCount() const {
  ImportSamples(0, true);
  HistogramBase::Count total = 0;
  for (const auto& entry : sample_counts_) total += *entry.second;
  return total;
}

std::unique_ptr<SampleCountIterator> PersistentSampleMap::Iterator() const {
  ImportSamples(0, true);
  return std::unique_ptr<SampleCountIterator>(
      new internal::SampleMapIterator<CountMap>(sample_counts_));
}

bool PersistentSampleMap::AddSubtractImpl(SampleCountIterator* iterator, Operator op) {
  for (; !iterator->Done(); iterator->Next()) {
    HistogramBase::Sample min;
    int64_t max;
    HistogramBase::Count count;
    iterator->Get(&min, &max, &count);
    if (count == 0) continue;
    if (max != static_cast<int64_t>(min) + 1) return false;
    if (op == ADD) {
      *GetOrCreateSampleCountStorage(min) += count;
      continue;
    }
    HistogramBase::Count* stored = GetSampleCountStorage(min);
    if (!stored) {
      RecordNegativeSample(kSubtractedValueNotPresent);
    } else if (*stored < count) {
      *stored = 0;
      RecordNegativeSample(kSubtractedMoreThanPresent);
    } else {
      *stored -= count;
    }
  }
  return true;
}

HistogramBase::Count* PersistentSampleMap::GetSampleCountStorage(
    HistogramBase::Sample value) const {
  auto found = sample_counts_.find(value);
  if (found != sample_counts_.end()) return found->second;
  return ImportSamples(value, false);
}

HistogramBase::Count* PersistentSampleMap::GetOrCreateSampleCountStorage(
    HistogramBase::Sample value) {
  HistogramBase::Count* count = GetSampleCountStorage(value);
  if (count) return count;
  // The new record is picked up the way another process's would be.
  if (GetRecords()->CreateNew(value)) count = ImportSamples(value, false);
  if (!count) {
    heap_counts_.push_back(0);
    count = &heap_counts_.back();
    sample_counts_[value] = count;
  }
  return count;
}

HistogramBase::Count* PersistentSampleMap::ImportSamples(HistogramBase::Sample until_value,
                                                         bool import_everything) const {
  PersistentSampleMapRecords* records = GetRecords();
  const PersistentMemoryAllocator* memory = allocator_->memory_allocator();
  HistogramBase::Count* found = nullptr;
  for (PersistentMemoryAllocator::Reference ref = records->GetNext(); ref;
       ref = records->GetNext()) {
    PersistentSampleRecord* record =
        memory->GetAsObject<PersistentSampleRecord>(ref, PersistentSampleRecord::kPersistentTypeId);
    if (!record || record->id != id()) continue;
    // A second record of one value (two processes raced to create it) stays unused.
    auto inserted = sample_counts_.emplace(record->value, &record->count);
    if (record->value == until_value && !found) found = inserted.first->second;
    if (found && !import_everything) break;
  }
  return found;
}

PersistentSampleMapRecords* PersistentSampleMap::GetRecords() const {
  if (!records_) records_ = allocator_->GetSampleMapRecords(id());
  return records_;
}

}  // namespace base

#include "base/metrics/persistent_histogram_allocator.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "base/logging.h"
#include "base/metrics/bucket_ranges.h"
#include "base/metrics/histogram.h"
#include "base/metrics/histogram_samples.h"
#include "base/metrics/persistent_sample_map.h"
#include "base/metrics/sparse_histogram.h"
#include "base/metrics/statistics_recorder.h"

namespace base {

namespace {

// Sample records read per load beyond the first one found, so that records of other
// maps get sorted ahead of their own loads.
constexpr int kMinRecordsPerLoad = 10;
constexpr uint32_t kMaxPersistentBucketCount = 0x3FFFFFFF;

std::atomic<GlobalHistogramAllocator*> g_histogram_allocator{nullptr};

// The result histogram's own creation runs through the allocator again; that nested
// call (and any racing it) records nothing.
void RecordCreateHistogramResult(PersistentHistogramAllocator::CreateHistogramResultType result) {
  enum { kNotCreated, kCreating, kCreated };
  static std::atomic<int> state{kNotCreated};
  static HistogramBase* histogram = nullptr;
  int expected = kNotCreated;
  if (state.compare_exchange_strong(expected, kCreating, std::memory_order_acq_rel)) {
    histogram = LinearHistogram::FactoryGet("UMA.CreatePersistentHistogram.Result",
                                            PersistentHistogramAllocator::CREATE_HISTOGRAM_MAX,
                                            PersistentHistogramAllocator::CREATE_HISTOGRAM_MAX + 1);
    state.store(kCreated, std::memory_order_release);
  } else if (expected == kCreating) {
    return;
  }
  if (histogram) histogram->Add(result);
}

}  // namespace

// The histogram record; the name follows at |name| (at least 88 bytes in all).
struct PersistentHistogramAllocator::PersistentHistogramData {
  int32_t histogram_type;
  int32_t flags;
  int32_t minimum;
  int32_t maximum;
  uint32_t bucket_count;
  Reference ranges_ref;
  uint32_t ranges_checksum;
  Reference counts_ref;
  HistogramSamples::Metadata samples_metadata;
  HistogramSamples::Metadata logged_metadata;
  char name[8];
};

// ------------------------------------------------------------------ records source

PersistentSampleMapRecords::PersistentSampleMapRecords(
    PersistentSparseHistogramDataManager* data_manager, uint64_t sample_map_id)
    : data_manager_(data_manager), sample_map_id_(sample_map_id) {}

PersistentSampleMapRecords::Reference PersistentSampleMapRecords::GetNext() {
  for (;;) {
    {
      AutoLock lock(data_manager_->lock_);
      if (seen_ < records_.size()) return records_[seen_++];
    }
    if (!data_manager_->LoadRecords(this)) return 0;
  }
}

PersistentSampleMapRecords::Reference PersistentSampleMapRecords::CreateNew(
    HistogramBase::Sample value) {
  PersistentMemoryAllocator* memory = data_manager_->allocator();
  Reference ref =
      memory->Allocate(sizeof(PersistentSampleRecord), PersistentSampleRecord::kPersistentTypeId);
  PersistentSampleRecord* record =
      memory->GetAsObject<PersistentSampleRecord>(ref, PersistentSampleRecord::kPersistentTypeId);
  if (!record) return 0;
  record->id = sample_map_id_;
  record->value = value;
  record->count = 0;
  memory->MakeIterable(ref);
  return ref;
}

PersistentSparseHistogramDataManager::PersistentSparseHistogramDataManager(
    PersistentMemoryAllocator* allocator)
    : allocator_(allocator), record_iterator_(allocator) {}

PersistentSparseHistogramDataManager::~PersistentSparseHistogramDataManager() = default;

PersistentSampleMapRecords* PersistentSparseHistogramDataManager::GetSampleMapRecords(uint64_t id) {
  AutoLock lock(lock_);
  return GetSampleMapRecordsWhileLocked(id);
}

PersistentSampleMapRecords* PersistentSparseHistogramDataManager::GetSampleMapRecordsWhileLocked(
    uint64_t id) {
  std::unique_ptr<PersistentSampleMapRecords>& records = sample_records_[id];
  if (!records) records.reset(new PersistentSampleMapRecords(this, id));
  return records.get();
}

bool PersistentSparseHistogramDataManager::LoadRecords(PersistentSampleMapRecords* records) {
  AutoLock lock(lock_);
  bool found = !records->found_.empty();
  records->records_.insert(records->records_.end(), records->found_.begin(), records->found_.end());
  records->found_.clear();

  int read = 0;
  while (!found || read < kMinRecordsPerLoad) {
    PersistentMemoryAllocator::Reference ref =
        record_iterator_.GetNextOfType(PersistentSampleRecord::kPersistentTypeId);
    if (!ref) break;
    ++read;
    const PersistentSampleRecord* record = allocator_->GetAsObject<PersistentSampleRecord>(
        ref, PersistentSampleRecord::kPersistentTypeId);
    if (!record) continue;
    if (record->id == records->sample_map_id_) {
      records->records_.push_back(ref);
      found = true;
    } else {
      GetSampleMapRecordsWhileLocked(record->id)->found_.push_back(ref);
    }
  }
  return found;
}

// ---------------------------------------------------------------------- allocator

PersistentHistogramAllocator::PersistentHistogramAllocator(
    std::unique_ptr<PersistentMemoryAllocator> memory)
    : memory_allocator_(std::move(memory)),
      sparse_histogram_data_manager_(memory_allocator_.get()),
      last_created_(0),
      import_iterator_(memory_allocator_.get()) {
  static_assert(offsetof(PersistentHistogramData, samples_metadata) == 32, "record layout");
  static_assert(offsetof(PersistentHistogramData, logged_metadata) == 56, "record layout");
  static_assert(offsetof(PersistentHistogramData, name) == 80, "record layout");
  static_assert(sizeof(PersistentHistogramData) == 88, "record layout");
}

PersistentHistogramAllocator::~PersistentHistogramAllocator() = default;

PersistentSampleMapRecords* PersistentHistogramAllocator::GetSampleMapRecords(uint64_t id) {
  return sparse_histogram_data_manager_.GetSampleMapRecords(id);
}

PersistentHistogramAllocator::Reference PersistentHistogramAllocator::GetOrCreateRangesArray(
    const BucketRanges* ranges) {
  PersistentMemoryAllocator* memory = memory_allocator_.get();
  size_t bytes = ranges->size() * sizeof(HistogramBase::Sample);
  // The ranges may have been copied into another segment first: use the reference only
  // when it holds these values here.
  Reference ref = ranges->persistent_reference();
  const HistogramBase::Sample* copy = static_cast<const HistogramBase::Sample*>(
      memory->GetBlockData(ref, kTypeIdRangesArray, bytes));
  if (copy) {
    size_t i = 0;
    while (i < ranges->size() && copy[i] == ranges->range(i)) ++i;
    if (i == ranges->size()) return ref;
  }
  ref = memory->Allocate(bytes, kTypeIdRangesArray);
  HistogramBase::Sample* values =
      static_cast<HistogramBase::Sample*>(memory->GetBlockData(ref, kTypeIdRangesArray, bytes));
  if (!values) return 0;
  for (size_t i = 0; i < ranges->size(); ++i) values[i] = ranges->range(i);
  ranges->set_persistent_reference(ref);
  return ref;
}

std::unique_ptr<HistogramBase> PersistentHistogramAllocator::AllocateHistogram(
    HistogramType type, const std::string& name, HistogramBase::Sample minimum,
    HistogramBase::Sample maximum, const BucketRanges* ranges, int32_t flags, Reference* ref_out) {
  PersistentMemoryAllocator* memory = memory_allocator_.get();
  if (memory->IsCorrupt()) {
    RecordCreateHistogramResult(CREATE_HISTOGRAM_ALLOCATOR_CORRUPT);
    return nullptr;
  }

  uint64_t record_size = std::max<uint64_t>(
      offsetof(PersistentHistogramData, name) + static_cast<uint64_t>(name.size()) + 1,
      sizeof(PersistentHistogramData));
  PersistentHistogramData* data = nullptr;
  Reference histogram_ref = 0;
  if (record_size < 0xFFFFFFFFu) {
    histogram_ref = memory->Allocate(static_cast<size_t>(record_size), kTypeIdHistogram);
    data = memory->GetAsObject<PersistentHistogramData>(histogram_ref, kTypeIdHistogram);
  }
  if (data) {
    memset(static_cast<void*>(data), 0, sizeof(PersistentHistogramData));
    memcpy(reinterpret_cast<char*>(data) + offsetof(PersistentHistogramData, name), name.c_str(),
           name.size() + 1);
    data->histogram_type = type;
    data->flags = flags | HistogramBase::kIsPersistent;
  }

  if (type != SPARSE_HISTOGRAM) {
    uint64_t bucket_count = ranges->bucket_count();
    uint64_t counts_bytes = bucket_count * 2 * sizeof(HistogramBase::Count);
    if (counts_bytes == 0) return nullptr;
    Reference ranges_ref = GetOrCreateRangesArray(ranges);
    Reference counts_ref = memory->Allocate(static_cast<size_t>(counts_bytes), kTypeIdCountsArray);
    if (data && ranges_ref && counts_ref) {
      data->minimum = minimum;
      data->maximum = maximum;
      data->bucket_count = static_cast<uint32_t>(bucket_count);
      data->ranges_ref = ranges_ref;
      data->ranges_checksum = ranges->checksum();
      data->counts_ref = counts_ref;
    } else {
      data = nullptr;
    }
  }

  if (data) {
    std::unique_ptr<HistogramBase> histogram = CreateHistogram(data);
    if (histogram) {
      if (ref_out) *ref_out = histogram_ref;
      last_created_.store(histogram_ref, std::memory_order_relaxed);
    }
    return histogram;
  }

  if (memory->IsCorrupt()) {
    RecordCreateHistogramResult(CREATE_HISTOGRAM_ALLOCATOR_NEWLY_CORRUPT);
    RecordCreateHistogramResult(CREATE_HISTOGRAM_ALLOCATOR_CORRUPT);
  } else if (memory->IsFull()) {
    RecordCreateHistogramResult(CREATE_HISTOGRAM_ALLOCATOR_FULL);
  } else {
    RecordCreateHistogramResult(CREATE_HISTOGRAM_ALLOCATOR_ERROR);
  }
  return nullptr;
}

std::unique_ptr<HistogramBase> PersistentHistogramAllocator::CreateHistogram(
    PersistentHistogramData* data) {
  if (!data) {
    RecordCreateHistogramResult(CREATE_HISTOGRAM_INVALID_METADATA_POINTER);
    return nullptr;
  }
  // The terminator was checked, but another process may overwrite it since: never read
  // past the block.
  const char* name_start = reinterpret_cast<const char*>(data) + offsetof(PersistentHistogramData, name);
  uint32_t alloc_size = memory_allocator_->GetAllocSize(memory_allocator_->GetAsReference(data, 0));
  size_t name_room = alloc_size > offsetof(PersistentHistogramData, name)
                         ? alloc_size - offsetof(PersistentHistogramData, name)
                         : 0;
  std::string name(name_start, strnlen(name_start, name_room));

  std::unique_ptr<HistogramBase> histogram;
  if (data->histogram_type == SPARSE_HISTOGRAM) {
    histogram = SparseHistogram::PersistentCreate(this, name, &data->samples_metadata,
                                                  &data->logged_metadata);
    histogram->SetFlags(data->flags);
    RecordCreateHistogramResult(CREATE_HISTOGRAM_SUCCESS);
    return histogram;
  }

  // Everything below comes from shared memory another process may have damaged.
  PersistentMemoryAllocator* memory = memory_allocator_.get();
  uint32_t bucket_count = data->bucket_count;
  uint64_t ranges_bytes = (static_cast<uint64_t>(bucket_count) + 1) * sizeof(HistogramBase::Sample);
  const HistogramBase::Sample* ranges_data =
      bucket_count < 2 || bucket_count >= kMaxPersistentBucketCount
          ? nullptr
          : static_cast<const HistogramBase::Sample*>(
                memory->GetBlockData(data->ranges_ref, kTypeIdRangesArray, ranges_bytes));
  if (!ranges_data) {
    RecordCreateHistogramResult(CREATE_HISTOGRAM_INVALID_RANGES_ARRAY);
    return nullptr;
  }
  std::unique_ptr<BucketRanges> created_ranges(new BucketRanges(bucket_count + 1));
  int64_t previous = -1;
  for (uint32_t i = 0; i <= bucket_count; ++i) {
    HistogramBase::Sample value = ranges_data[i];
    // Every sample must land in a bucket: the ranges cover 0 to the largest sample.
    bool bad_end = (i == 0 && value != 0) ||
                   (i == bucket_count && value != HistogramBase::kSampleType_MAX);
    if (value < 0 || value <= previous || bad_end) {
      RecordCreateHistogramResult(CREATE_HISTOGRAM_INVALID_RANGES_ARRAY);
      return nullptr;
    }
    created_ranges->set_range(i, value);
    previous = value;
  }
  created_ranges->ResetChecksum();
  if (created_ranges->checksum() != data->ranges_checksum) {
    RecordCreateHistogramResult(CREATE_HISTOGRAM_INVALID_RANGES_ARRAY);
    return nullptr;
  }
  const BucketRanges* ranges =
      StatisticsRecorder::RegisterOrDeleteDuplicateRanges(created_ranges.release());

  uint64_t counts_bytes = static_cast<uint64_t>(bucket_count) * 2 * sizeof(HistogramBase::Count);
  std::atomic<HistogramBase::Count>* counts = static_cast<std::atomic<HistogramBase::Count>*>(
      memory->GetBlockData(data->counts_ref, kTypeIdCountsArray, counts_bytes));
  if (!counts) {
    RecordCreateHistogramResult(CREATE_HISTOGRAM_INVALID_COUNTS_ARRAY);
    return nullptr;
  }

  Histogram::ExternalStorage storage = {counts, counts + bucket_count, bucket_count,
                                        &data->samples_metadata, &data->logged_metadata};
  if (data->histogram_type >= HISTOGRAM && data->histogram_type <= CUSTOM_HISTOGRAM) {
    histogram = Histogram::PersistentCreate(static_cast<HistogramType>(data->histogram_type),
                                            name, data->minimum, data->maximum, ranges, storage);
  }
  if (!histogram) {
    RecordCreateHistogramResult(CREATE_HISTOGRAM_UNKNOWN_TYPE);
    return nullptr;
  }
  histogram->SetFlags(data->flags);
  RecordCreateHistogramResult(CREATE_HISTOGRAM_SUCCESS);
  return histogram;
}

std::unique_ptr<HistogramBase> PersistentHistogramAllocator::GetHistogram(Reference ref) {
  PersistentMemoryAllocator* memory = memory_allocator_.get();
  PersistentHistogramData* data =
      memory->GetAsObject<PersistentHistogramData>(ref, kTypeIdHistogram);
  uint32_t length = data ? memory->GetAllocSize(ref) : 0;
  if (length < sizeof(PersistentHistogramData) ||
      reinterpret_cast<const char*>(data)[length - 1] != '\0' || data->name[0] == '\0' ||
      data->samples_metadata.id.load(std::memory_order_relaxed) == 0 ||
      data->logged_metadata.id.load(std::memory_order_relaxed) == 0) {
    RecordCreateHistogramResult(CREATE_HISTOGRAM_INVALID_METADATA);
    return nullptr;
  }
  return CreateHistogram(data);
}

void PersistentHistogramAllocator::FinalizeHistogram(Reference ref, bool registered) {
  if (registered) {
    memory_allocator_->MakeIterable(ref);
    return;
  }
  // A record that cannot be retyped (damaged, or retyped already) is not queued either,
  // so no importer sees it: nothing more to do then.
  if (!memory_allocator_->ChangeType(ref, 0, kTypeIdHistogram, false)) return;
}

void PersistentHistogramAllocator::ImportHistogramsToStatisticsRecorder() {
  Reference skip = last_created_.load(std::memory_order_relaxed);
  for (;;) {
    Reference ref = import_iterator_.GetNextOfType(kTypeIdHistogram);
    if (!ref) return;
    if (ref == skip) continue;
    std::unique_ptr<HistogramBase> histogram = GetHistogram(ref);
    if (!histogram) return;
    StatisticsRecorder::RegisterOrDeleteDuplicate(histogram.release());
  }
}

// ----------------------------------------------------------------- global instance

GlobalHistogramAllocator::GlobalHistogramAllocator(
    std::unique_ptr<PersistentMemoryAllocator> memory)
    : PersistentHistogramAllocator(std::move(memory)) {}

void GlobalHistogramAllocator::CreateWithPersistentMemory(
    std::unique_ptr<PersistentMemoryAllocator> memory) {
  GlobalHistogramAllocator* allocator = new GlobalHistogramAllocator(std::move(memory));
  GlobalHistogramAllocator* expected = nullptr;
  CHECK(
      g_histogram_allocator.compare_exchange_strong(expected, allocator, std::memory_order_acq_rel))
      << "there is already a global histogram allocator";
}

GlobalHistogramAllocator* GlobalHistogramAllocator::Get() {
  return g_histogram_allocator.load(std::memory_order_acquire);
}

std::unique_ptr<GlobalHistogramAllocator> GlobalHistogramAllocator::ReleaseForTesting() {
  return std::unique_ptr<GlobalHistogramAllocator>(
      g_histogram_allocator.exchange(nullptr, std::memory_order_acq_rel));
}

}  // namespace base

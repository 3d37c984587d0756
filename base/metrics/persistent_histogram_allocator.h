// Histograms whose definitions and counts live in a persistent segment, so that they
// survive the process or can be read by another process mapping the same bytes, and
// the rebuilding of histogram objects from the records found there.
//
// Record types in the segment: a histogram record (kind, flags, declared minimum and
// maximum, bucket count, references of its ranges and counts arrays, the ranges
// checksum, two 24-byte sample metadata blocks and the NUL-terminated name at offset
// 80), a ranges array (bucket count + 1 values), a counts array (the live counts, then
// those already reported by deltas) and one 16-byte record per value of a sparse
// histogram.
#ifndef BASE_METRICS_PERSISTENT_HISTOGRAM_ALLOCATOR_H_
#define BASE_METRICS_PERSISTENT_HISTOGRAM_ALLOCATOR_H_

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/metrics/histogram_base.h"
#include "base/metrics/persistent_memory_allocator.h"
#include "base/synchronization/lock.h"

namespace base {

class BucketRanges;
class PersistentSparseHistogramDataManager;

// The sample records of one sparse sample map: those handed to the map so far and
// those found while another map's records were being looked for.
class PersistentSampleMapRecords {
 public:
  typedef PersistentMemoryAllocator::Reference Reference;

  PersistentSampleMapRecords(PersistentSparseHistogramDataManager* data_manager,
                             uint64_t sample_map_id);
  PersistentSampleMapRecords(const PersistentSampleMapRecords&) = delete;
  PersistentSampleMapRecords& operator=(const PersistentSampleMapRecords&) = delete;

  // The next record of this map not handed out yet, reading more of the segment when
  // needed; 0 when there is none.
  Reference GetNext();
  // A new iterable record of |value| with count 0, or 0 when the segment has no room.
  Reference CreateNew(HistogramBase::Sample value);

  uint64_t sample_map_id() const { return sample_map_id_; }

 private:
  friend class PersistentSparseHistogramDataManager;

  PersistentSparseHistogramDataManager* const data_manager_;
  const uint64_t sample_map_id_;
  size_t seen_ = 0;
  std::vector<Reference> records_;
  // Guarded by the data manager's lock.
  std::vector<Reference> found_;
};

// Sorts the sample records of all sparse histograms of one segment by map id, reading
// the segment once for all of them.
class PersistentSparseHistogramDataManager {
 public:
  explicit PersistentSparseHistogramDataManager(PersistentMemoryAllocator* allocator);
  PersistentSparseHistogramDataManager(const PersistentSparseHistogramDataManager&) = delete;
  PersistentSparseHistogramDataManager& operator=(const PersistentSparseHistogramDataManager&) =
      delete;
  ~PersistentSparseHistogramDataManager();

  // The records of map |id|; lives as long as this manager.
  PersistentSampleMapRecords* GetSampleMapRecords(uint64_t id);
  // Moves records found earlier for |records| to its handed-out list, then reads more
  // sample records (filing other maps' under theirs) until some of its own were found
  // and at least 10 were read. True when any were found.
  [[nodiscard]] bool LoadRecords(PersistentSampleMapRecords* records);

  PersistentMemoryAllocator* allocator() const { return allocator_; }

 private:
  friend class PersistentSampleMapRecords;

  PersistentSampleMapRecords* GetSampleMapRecordsWhileLocked(uint64_t id);

  PersistentMemoryAllocator* const allocator_;
  Lock lock_;
  std::map<uint64_t, std::unique_ptr<PersistentSampleMapRecords>> sample_records_;
  PersistentMemoryAllocator::Iterator record_iterator_;
};

class PersistentHistogramAllocator {
 public:
  typedef PersistentMemoryAllocator::Reference Reference;

  static constexpr uint32_t kTypeIdHistogram = 0xF1645913;
  static constexpr uint32_t kTypeIdRangesArray = 0xBCEA225B;
  static constexpr uint32_t kTypeIdCountsArray = 0x53215531;

  // Values of "UMA.CreatePersistentHistogram.Result".
  enum CreateHistogramResultType {
    CREATE_HISTOGRAM_SUCCESS = 0,
    CREATE_HISTOGRAM_INVALID_METADATA_POINTER = 1,
    CREATE_HISTOGRAM_INVALID_METADATA = 2,
    CREATE_HISTOGRAM_INVALID_RANGES_ARRAY = 3,
    CREATE_HISTOGRAM_INVALID_COUNTS_ARRAY = 4,
    CREATE_HISTOGRAM_ALLOCATOR_CORRUPT = 5,
    CREATE_HISTOGRAM_ALLOCATOR_FULL = 6,
    CREATE_HISTOGRAM_ALLOCATOR_ERROR = 7,
    CREATE_HISTOGRAM_UNKNOWN_TYPE = 8,
    CREATE_HISTOGRAM_ALLOCATOR_NEWLY_CORRUPT = 9,
    CREATE_HISTOGRAM_MAX = 10,
  };

  explicit PersistentHistogramAllocator(std::unique_ptr<PersistentMemoryAllocator> memory);
  PersistentHistogramAllocator(const PersistentHistogramAllocator&) = delete;
  PersistentHistogramAllocator& operator=(const PersistentHistogramAllocator&) = delete;
  virtual ~PersistentHistogramAllocator();

  PersistentMemoryAllocator* memory_allocator() const { return memory_allocator_.get(); }

  // A new histogram of |type| stored in the segment (|ranges| is ignored for sparse
  // histograms), and the reference of its record in |ref_out|; null on failure. Call
  // FinalizeHistogram once it is registered or dropped.
  std::unique_ptr<HistogramBase> AllocateHistogram(HistogramType type, const std::string& name,
                                                   HistogramBase::Sample minimum,
                                                   HistogramBase::Sample maximum,
                                                   const BucketRanges* ranges, int32_t flags,
                                                   Reference* ref_out);
  // Publishes the record for other processes when the registry kept its histogram;
  // otherwise retires it.
  void FinalizeHistogram(Reference ref, bool registered);
  // A histogram over the record at |ref| (e.g. one another process made), or null.
  std::unique_ptr<HistogramBase> GetHistogram(Reference ref);
  // Registers the histograms published in the segment since the previous call.
  void ImportHistogramsToStatisticsRecorder();

  PersistentSampleMapRecords* GetSampleMapRecords(uint64_t id);

 private:
  struct PersistentHistogramData;

  std::unique_ptr<HistogramBase> CreateHistogram(PersistentHistogramData* data);
  // The reference of a copy of |ranges| in this segment, making one when needed; 0 when
  // there is no room.
  Reference GetOrCreateRangesArray(const BucketRanges* ranges);

  std::unique_ptr<PersistentMemoryAllocator> memory_allocator_;
  PersistentSparseHistogramDataManager sparse_histogram_data_manager_;
  // Skipped by imports: the factory registers it itself.
  std::atomic<Reference> last_created_;
  PersistentMemoryAllocator::Iterator import_iterator_;
};

// The process-wide histogram allocator: when set, histogram factories store new
// histograms in its segment and registry lookups import those of other processes.
class GlobalHistogramAllocator : public PersistentHistogramAllocator {
 public:
  // Makes an allocator over |memory| the global one; there can be only one.
  static void CreateWithPersistentMemory(std::unique_ptr<PersistentMemoryAllocator> memory);
  // The global allocator, or null.
  static GlobalHistogramAllocator* Get();
  // Takes the global allocator away. Histograms it made stay registered and keep
  // using its segment, which must therefore outlive them.
  static std::unique_ptr<GlobalHistogramAllocator> ReleaseForTesting();

 private:
  explicit GlobalHistogramAllocator(std::unique_ptr<PersistentMemoryAllocator> memory);
};

}  // namespace base

#endif  // BASE_METRICS_PERSISTENT_HISTOGRAM_ALLOCATOR_H_

// Counts per distinct value kept as records in a persistent segment, for sparse
// histograms whose samples other processes may read. Records of one map are found
// through the allocator's records source; a value whose record cannot be allocated is
// counted on the heap instead. The map relies on the owning histogram's lock.
#ifndef BASE_METRICS_PERSISTENT_SAMPLE_MAP_H_
#define BASE_METRICS_PERSISTENT_SAMPLE_MAP_H_

#include <deque>
#include <map>
#include <memory>

#include "base/metrics/histogram_samples.h"

namespace base {

class PersistentHistogramAllocator;
class PersistentSampleMapRecords;

// One value's record in the segment (16-byte payload).
struct PersistentSampleRecord {
  static constexpr uint32_t kPersistentTypeId = 0x8FE6A6A0;

  uint64_t id;  // of the sample map
  HistogramBase::Sample value;
  HistogramBase::Count count;
};
static_assert(sizeof(PersistentSampleRecord) == 16, "persistent record layout");

class PersistentSampleMap : public HistogramSamples {
 public:
  // |allocator| must outlive this; |meta| is inside its segment.
  PersistentSampleMap(uint64_t id, PersistentHistogramAllocator* allocator, Metadata* meta);
  ~PersistentSampleMap() override;

  void Accumulate(HistogramBase::Sample value, HistogramBase::Count count) override;
  HistogramBase::Count GetCount(HistogramBase::Sample value) const override;
  HistogramBase::Count TotalCount() const override;
  std::unique_ptr<SampleCountIterator> Iterator() const override;

 protected:
  [[nodiscard]] bool AddSubtractImpl(SampleCountIterator* iterator, Operator op) override;

 private:
  typedef std::map<HistogramBase::Sample, HistogramBase::Count*> CountMap;

  // The counter of |value| or null, importing records until it is found.
  HistogramBase::Count* GetSampleCountStorage(HistogramBase::Sample value) const;
  HistogramBase::Count* GetOrCreateSampleCountStorage(HistogramBase::Sample value);
  // Enters the records not seen yet; stops at the first one for |until_value| unless
  // |import_everything|. Returns the counter of |until_value| when it was found.
  HistogramBase::Count* ImportSamples(HistogramBase::Sample until_value,
                                      bool import_everything) const;
  PersistentSampleMapRecords* GetRecords() const;

  PersistentHistogramAllocator* const allocator_;
  mutable PersistentSampleMapRecords* records_ = nullptr;
  mutable CountMap sample_counts_;
  // Counters of values the segment could not hold; a deque keeps their addresses.
  std::deque<HistogramBase::Count> heap_counts_;
};

}  // namespace base

#endif  // BASE_METRICS_PERSISTENT_SAMPLE_MAP_H_

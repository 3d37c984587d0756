// The bucket boundaries of a histogram: entry i is the inclusive lower bound of bucket
// i and the exclusive upper bound of bucket i - 1; the last entry is INT32_MAX.
#ifndef BASE_METRICS_BUCKET_RANGES_H_
#define BASE_METRICS_BUCKET_RANGES_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/metrics/histogram_base.h"

namespace base {

class BucketRanges {
 public:
  typedef std::vector<HistogramBase::Sample> Ranges;

  // |num_ranges| slots, all 0.
  explicit BucketRanges(size_t num_ranges);
  BucketRanges(const BucketRanges&) = delete;
  BucketRanges& operator=(const BucketRanges&) = delete;

  size_t size() const { return ranges_.size(); }
  HistogramBase::Sample range(size_t i) const { return ranges_[i]; }
  void set_range(size_t i, HistogramBase::Sample value) { ranges_[i] = value; }
  size_t bucket_count() const { return ranges_.size() - 1; }

  uint32_t checksum() const { return checksum_; }
  // CRC-32 (IEEE, reflected) over the entries' bytes, seeded with the entry count.
  uint32_t CalculateChecksum() const;
  bool HasValidChecksum() const { return CalculateChecksum() == checksum_; }
  void ResetChecksum() { checksum_ = CalculateChecksum(); }

  // Same checksum, length and values.
  bool Equals(const BucketRanges* other) const;

  // The reference of a copy of these ranges in a persistent segment (0: none). Written
  // once by whoever copies them first; readers check the copy before using it.
  uint32_t persistent_reference() const {
    return persistent_reference_.load(std::memory_order_acquire);
  }
  void set_persistent_reference(uint32_t ref) const {
    persistent_reference_.store(ref, std::memory_order_release);
  }

 private:
  Ranges ranges_;
  uint32_t checksum_ = 0;
  mutable std::atomic<uint32_t> persistent_reference_{0};
};

}  // namespace base

#endif  // BASE_METRICS_BUCKET_RANGES_H_

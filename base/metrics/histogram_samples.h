// Sample containers of histograms: the counts per bucket or per value, with the sum of
// all samples and a redundant count kept for corruption checks.
#ifndef BASE_METRICS_HISTOGRAM_SAMPLES_H_
#define BASE_METRICS_HISTOGRAM_SAMPLES_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "base/metrics/histogram_base.h"

namespace base {

class SerialBuffer;
class SerialBufferReader;

// Walks the non-empty buckets (or values) of a container: [min, max) and the count.
class SampleCountIterator {
 public:
  virtual ~SampleCountIterator();
  virtual bool Done() const = 0;
  virtual void Next() = 0;
  // Each output is optional.
  virtual void Get(HistogramBase::Sample* min, int64_t* max, HistogramBase::Count* count) const = 0;
  // False unless the iterator walks buckets.
  [[nodiscard]] virtual bool GetBucketIndex(size_t* index) const;
};

class HistogramSamples {
 public:
  // The id, sum and redundant count; this layout (24 bytes) is also the one stored in
  // persistent histogram records.
  struct Metadata {
    std::atomic<uint64_t> id;
    std::atomic<int64_t> sum;
    std::atomic<HistogramBase::Count> redundant_count;
    int32_t padding;
  };

  // Keeps its metadata itself.
  explicit HistogramSamples(uint64_t id);
  // Keeps its metadata in |meta| (not owned, e.g. inside a persistent segment); an id of
  // 0 there is replaced by |id|.
  HistogramSamples(uint64_t id, Metadata* meta);
  virtual ~HistogramSamples();
  HistogramSamples(const HistogramSamples&) = delete;
  HistogramSamples& operator=(const HistogramSamples&) = delete;

  virtual void Accumulate(HistogramBase::Sample value, HistogramBase::Count count) = 0;
  virtual HistogramBase::Count GetCount(HistogramBase::Sample value) const = 0;
  virtual HistogramBase::Count TotalCount() const = 0;
  virtual std::unique_ptr<SampleCountIterator> Iterator() const = 0;

  // False when |other|'s buckets do not fit these (the matching ones before are added).
  [[nodiscard]] bool Add(const HistogramSamples& other);
  // Adds what Serialize wrote; a short last triple ends the input. False when the sum
  // or the redundant count cannot be read or the buckets do not fit.
  [[nodiscard]] bool AddFromBuffer(SerialBufferReader* reader);
  [[nodiscard]] bool Subtract(const HistogramSamples& other);
  // Sum (64-bit), redundant count, then min, max and count (32-bit each) per non-empty
  // bucket in iterator order.
  [[nodiscard]] bool Serialize(SerialBuffer* buffer) const;

  uint64_t id() const { return meta_->id.load(std::memory_order_relaxed); }
  int64_t sum() const { return meta_->sum.load(std::memory_order_relaxed); }
  HistogramBase::Count redundant_count() const {
    return meta_->redundant_count.load(std::memory_order_relaxed);
  }

 protected:
  enum Operator { ADD, SUBTRACT };
  [[nodiscard]] virtual bool AddSubtractImpl(SampleCountIterator* iterator, Operator op) = 0;
  void IncreaseSumAndCount(int64_t sum, HistogramBase::Count count);

 private:
  Metadata local_meta_;
  Metadata* const meta_;
};

static_assert(sizeof(HistogramSamples::Metadata) == 24, "persistent record layout");

// 64-bit fields in a serial buffer: the low 32 bits, then the high ones.
[[nodiscard]] bool WriteInt64ToBuffer(SerialBuffer* buffer, int64_t value);
[[nodiscard]] bool ReadInt64FromBuffer(SerialBufferReader* reader, int64_t* value);

}  // namespace base

#endif  // BASE_METRICS_HISTOGRAM_SAMPLES_H_

#include "base/metrics/histogram_samples.h"

#include "base/serial_buffer.h"

namespace base {

namespace {

// Reads back the triples HistogramSamples::Serialize wrote; the first failed read ends it.
class SerializedSampleCountIterator : public SampleCountIterator {
 public:
  explicit SerializedSampleCountIterator(SerialBufferReader* reader) : reader_(reader) { Next(); }

  bool Done() const override { return done_; }
  void Next() override {
    int32_t max;
    if (!reader_->ReadInt(&min_) || !reader_->ReadInt(&max) || !reader_->ReadInt(&count_)) {
      done_ = true;
      return;
    }
    // The bound above the largest sample wraps when written as 32 bits.
    max_ = max < min_ ? static_cast<int64_t>(static_cast<uint32_t>(max)) : max;
  }
  void Get(HistogramBase::Sample* min, int64_t* max, HistogramBase::Count* count) const override {
    if (min) *min = min_;
    if (max) *max = max_;
    if (count) *count = count_;
  }

 private:
  SerialBufferReader* reader_;
  bool done_ = false;
  HistogramBase::Sample min_ = 0;
  int64_t max_ = 0;
  HistogramBase::Count count_ = 0;
};

}  // namespace

SampleCountIterator::~SampleCountIterator() = default;

bool SampleCountIterator::GetBucketIndex(size_t*) const { return false; }

HistogramSamples::HistogramSamples(uint64_t id) : HistogramSamples(id, nullptr) {}

HistogramSamples::HistogramSamples(uint64_t id, Metadata* meta)
    : meta_(meta ? meta : &local_meta_) {
  local_meta_.id.store(id, std::memory_order_relaxed);
  local_meta_.sum.store(0, std::memory_order_relaxed);
  local_meta_.redundant_count.store(0, std::memory_order_relaxed);
  local_meta_.padding = 0;
  uint64_t unset = 0;
  meta_->id.compare_exchange_strong(unset, id, std::memory_order_relaxed);
}

HistogramSamples::~HistogramSamples() = default;

bool HistogramSamples::Add(const HistogramSamples& other) {
  IncreaseSumAndCount(other.sum(), other.redundant_count());
  std::unique_ptr<SampleCountIterator> iterator = other.Iterator();
  return AddSubtractImpl(iterator.get(), ADD);
}

bool HistogramSamples::AddFromBuffer(SerialBufferReader* reader) {
  int64_t sum;
  HistogramBase::Count redundant_count;
  if (!ReadInt64FromBuffer(reader, &sum) || !reader->ReadInt(&redundant_count)) return false;
  IncreaseSumAndCount(sum, redundant_count);
  SerializedSampleCountIterator iterator(reader);
  return AddSubtractImpl(&iterator, ADD);
}

bool HistogramSamples::Subtract(const HistogramSamples& other) {
  IncreaseSumAndCount(-other.sum(), -other.redundant_count());
  std::unique_ptr<SampleCountIterator> iterator = other.Iterator();
  return AddSubtractImpl(iterator.get(), SUBTRACT);
}

bool HistogramSamples::Serialize(SerialBuffer* buffer) const {
  if (!WriteInt64ToBuffer(buffer, sum()) || !buffer->WriteInt(redundant_count())) return false;
  for (std::unique_ptr<SampleCountIterator> it = Iterator(); !it->Done(); it->Next()) {
    HistogramBase::Sample min;
    int64_t max;
    HistogramBase::Count count;
    it->Get(&min, &max, &count);
    if (!buffer->WriteInt(min) ||
        !buffer->WriteInt(static_cast<int32_t>(static_cast<uint32_t>(max))) ||
        !buffer->WriteInt(count)) {
      return false;
    }
  }
  return true;
}

void HistogramSamples::IncreaseSumAndCount(int64_t sum, HistogramBase::Count count) {
  meta_->sum.fetch_add(sum, std::memory_order_relaxed);
  meta_->redundant_count.fetch_add(count, std::memory_order_relaxed);
}

bool WriteInt64ToBuffer(SerialBuffer* buffer, int64_t value) {
  uint64_t bits = static_cast<uint64_t>(value);
  return buffer->WriteInt(static_cast<int32_t>(static_cast<uint32_t>(bits))) &&
         buffer->WriteInt(static_cast<int32_t>(static_cast<uint32_t>(bits >> 32)));
}

bool ReadInt64FromBuffer(SerialBufferReader* reader, int64_t* value) {
  int32_t low, high;
  if (!reader->ReadInt(&low) || !reader->ReadInt(&high)) return false;
  *value = static_cast<int64_t>(static_cast<uint64_t>(static_cast<uint32_t>(high)) << 32 |
                                static_cast<uint32_t>(low));
  return true;
}

}  // namespace base

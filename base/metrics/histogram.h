// Bucketed histograms: exponential buckets (Histogram), linear ones (LinearHistogram),
// two buckets for booleans (BooleanHistogram) and caller-given ranges
// (CustomHistogram). Factories return the one histogram registered under a name,
// creating it on first use; call sites keep the pointer in a function-local static.
//
//   static HistogramBase* histogram = LinearHistogram::FactoryGet(
//       "ImportantFile.TempFileFailures", 6, 7);
//   histogram->Add(failure_step);
#ifndef BASE_METRICS_HISTOGRAM_H_
#define BASE_METRICS_HISTOGRAM_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/metrics/histogram_base.h"
#include "base/metrics/histogram_samples.h"
#include "base/time/time.h"

namespace base {

class BucketRanges;
class SampleVector;

class Histogram : public HistogramBase {
 public:
  // Counters and metadata kept outside the histogram (in a persistent segment): the
  // live ones and those of the samples already reported by deltas.
  struct ExternalStorage {
    std::atomic<Count>* counts;
    std::atomic<Count>* logged_counts;
    size_t counts_size;
    HistogramSamples::Metadata* meta;
    HistogramSamples::Metadata* logged_meta;
  };

  // Exponential buckets; a minimum below 1 becomes 1, a maximum of INT32_MAX becomes
  // INT32_MAX - 1 and a bucket count of 16384 or more becomes 16383. Null when the name
  // is already registered with other arguments.
  static HistogramBase* FactoryGet(const std::string& name, Sample minimum, Sample maximum,
                                   uint32_t bucket_count, int32_t flags);
  // Counts from 1 to |maximum| in 50 exponential buckets, with the upload flag.
  static HistogramBase* FactoryCountsGet(const std::string& name, Sample maximum);
  // Timing in whole milliseconds with 50 buckets and the upload flag.
  static HistogramBase* FactoryTimeGet(const std::string& name, TimeDelta minimum,
                                       TimeDelta maximum);
  static HistogramBase* FactoryTimeGet(const char* name, TimeDelta minimum, TimeDelta maximum);

  // A histogram of |type| (any bucketed kind) over |storage|; |ranges| must live forever.
  static std::unique_ptr<HistogramBase> PersistentCreate(HistogramType type,
                                                         const std::string& name, Sample minimum,
                                                         Sample maximum, const BucketRanges* ranges,
                                                         const ExternalStorage& storage);

  ~Histogram() override;

  // Exponentially growing ranges from |minimum| to |maximum|.
  static void InitializeBucketRanges(Sample minimum, Sample maximum, BucketRanges* ranges);

  uint64_t name_hash() const override;
  HistogramType GetHistogramType() const override;
  bool HasConstructionArguments(Sample minimum, Sample maximum,
                                uint32_t bucket_count) const override;
  void Add(Sample value) override;
  void AddCount(Sample value, int count) override;
  void AddSamples(const HistogramSamples& samples) override;
  [[nodiscard]] bool AddSamplesFromBuffer(SerialBufferReader* reader) override;
  uint32_t FindCorruption(const HistogramSamples& samples) const override;
  std::unique_ptr<HistogramSamples> SnapshotSamples() const override;
  std::unique_ptr<HistogramSamples> SnapshotDelta() override;
  std::unique_ptr<HistogramSamples> SnapshotFinalDelta() override;
  [[nodiscard]] bool SerializeInfoImpl(SerialBuffer* buffer) const override;
  void GetParameters(Dictionary* params) const override;
  void GetCountAndBucketData(Count* count, int64_t* sum, List* buckets) const override;

  // A duration in milliseconds, saturated to the largest sample, so that a maximal
  // duration lands in the last bucket instead of wrapping to a negative value.
  void AddTime(TimeDelta time);

  Sample declared_min() const { return declared_min_; }
  Sample declared_max() const { return declared_max_; }
  virtual Sample ranges(size_t i) const;
  virtual uint32_t bucket_count() const;
  const BucketRanges* bucket_ranges() const { return bucket_ranges_; }

 protected:
  // The per-call factory of the bucketed kinds: each kind supplies its ranges and
  // its object; Build does the rest.
  class Factory {
   public:
    Factory(const std::string& name, HistogramType type, Sample minimum, Sample maximum,
            uint32_t bucket_count, int32_t flags);
    virtual ~Factory();
    // The registered histogram of the name, made on first use; null when the name is
    // registered with other construction arguments. Stops the process when it is
    // registered as another kind.
    HistogramBase* Build();

   protected:
    virtual BucketRanges* CreateRanges();
    virtual std::unique_ptr<HistogramBase> HeapAlloc(const BucketRanges* ranges);
    virtual void FillHistogram(HistogramBase* histogram);

    const std::string& name_;
    const HistogramType type_;
    Sample minimum_;
    Sample maximum_;
    uint32_t bucket_count_;  // 0 for custom ranges until they are known
    int32_t flags_;
  };

  // Kinds differ only in their ranges; |ranges| is shared and must live forever.
  // |storage| null: the counters live on the heap.
  Histogram(const std::string& name, Sample minimum, Sample maximum, const BucketRanges* ranges,
            const ExternalStorage* storage = nullptr);

  virtual bool PrintEmptyBucket(uint32_t index) const;
  // The count scaled for the graph.
  virtual double GetBucketSize(Count current, uint32_t index) const;
  virtual std::string GetAsciiBucketRange(uint32_t index) const;

 private:
  std::unique_ptr<SampleVector> SnapshotSampleVector() const;
  void WriteAsciiImpl(const char* newline, std::string* output) const override;

  const BucketRanges* bucket_ranges_;
  Sample declared_min_;
  Sample declared_max_;
  std::unique_ptr<SampleVector> samples_;
  std::unique_ptr<SampleVector> logged_samples_;
  bool final_delta_created_ = false;
};

class LinearHistogram : public Histogram {
 public:
  // A display text for the bucket starting at |sample|; a table ends with a null text.
  struct DescriptionPair {
    Sample sample;
    const char* description;
  };

  // The enumeration form: values 0 .. |boundary| - 1 go to their own buckets when
  // |bucket_count| is |boundary| + 1. |descriptions| (optional) name buckets in the graph.
  static HistogramBase* FactoryGet(const std::string& name, Sample boundary, uint32_t bucket_count,
                                   const DescriptionPair* descriptions = nullptr);

  ~LinearHistogram() override;

  // Evenly spaced ranges from |minimum| to |maximum|.
  static void InitializeBucketRanges(Sample minimum, Sample maximum, BucketRanges* ranges);

  HistogramType GetHistogramType() const override;

 protected:
  class Factory : public Histogram::Factory {
   public:
    Factory(const std::string& name, HistogramType type, Sample minimum, Sample maximum,
            uint32_t bucket_count, int32_t flags, const DescriptionPair* descriptions);

   protected:
    BucketRanges* CreateRanges() override;
    std::unique_ptr<HistogramBase> HeapAlloc(const BucketRanges* ranges) override;
    void FillHistogram(HistogramBase* histogram) override;

   private:
    const DescriptionPair* descriptions_;
  };

  LinearHistogram(const std::string& name, Sample minimum, Sample maximum,
                  const BucketRanges* ranges, const ExternalStorage* storage = nullptr);

  bool PrintEmptyBucket(uint32_t index) const override;
  double GetBucketSize(Count current, uint32_t index) const override;
  std::string GetAsciiBucketRange(uint32_t index) const override;

 private:
  friend class Histogram;
  std::map<Sample, std::string> bucket_description_;
};

// Two buckets: false (0) and true (1).
class BooleanHistogram : public LinearHistogram {
 public:
  static HistogramBase* FactoryGet(const std::string& name, int32_t flags);

  HistogramType GetHistogramType() const override;

 private:
  friend class Histogram;
  class Factory;
  BooleanHistogram(const std::string& name, const BucketRanges* ranges,
                   const ExternalStorage* storage = nullptr);
};

// Buckets from a caller's list of lower bounds.
class CustomHistogram : public Histogram {
 public:
  // |custom_ranges| holds the lower bounds (any order, repeats allowed) within
  // 0 .. INT32_MAX - 1; 0 and INT32_MAX are added. Null for a list that gives no bucket
  // besides the first and the last, or holds a value out of range.
  static HistogramBase* FactoryGet(const std::string& name,
                                   const std::vector<Sample>& custom_ranges, int32_t flags);

  HistogramType GetHistogramType() const override;
  [[nodiscard]] bool SerializeInfoImpl(SerialBuffer* buffer) const override;

 protected:
  double GetBucketSize(Count current, uint32_t index) const override;

 private:
  friend class Histogram;
  class Factory;
  CustomHistogram(const std::string& name, const BucketRanges* ranges,
                  const ExternalStorage* storage = nullptr);
};

}  // namespace base

#endif  // BASE_METRICS_HISTOGRAM_H_

// Bucketed histograms: exponential buckets (Histogram) and linear ones
// (LinearHistogram). Factories return the one histogram registered under a name,
// creating it on first use; call sites keep the pointer in a function-local static.
//
//   static HistogramBase* histogram = LinearHistogram::FactoryGet(
//       "ImportantFile.TempFileFailures", 6, 7);
//   histogram->Add(failure_step);
#ifndef BASE_METRICS_HISTOGRAM_H_
#define BASE_METRICS_HISTOGRAM_H_

#include <cstdint>
#include <memory>
#include <string>

#include "base/metrics/histogram_base.h"
#include "base/time/time.h"

namespace base {

class BucketRanges;
class SampleVector;

class Histogram : public HistogramBase {
 public:
  // Exponential buckets; a minimum below 1 becomes 1, a maximum of INT32_MAX becomes
  // INT32_MAX - 1 and a bucket count of 16384 or more becomes 16383. Null when the name
  // is already registered with other arguments.
  static HistogramBase* FactoryGet(const std::string& name, Sample minimum, Sample maximum,
                                   uint32_t bucket_count, int32_t flags);
  // Timing in whole milliseconds with 50 buckets and the upload flag.
  static HistogramBase* FactoryTimeGet(const std::string& name, TimeDelta minimum,
                                       TimeDelta maximum);
  static HistogramBase* FactoryTimeGet(const char* name, TimeDelta minimum, TimeDelta maximum);

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
  std::unique_ptr<HistogramSamples> SnapshotSamples() const override;
  std::unique_ptr<HistogramSamples> SnapshotDelta() override;

  // A duration in milliseconds, saturated to the largest sample, so that a maximal
  // duration lands in the last bucket instead of wrapping to a negative value.
  void AddTime(TimeDelta time);

  Sample declared_min() const { return declared_min_; }
  Sample declared_max() const { return declared_max_; }
  Sample ranges(size_t i) const;
  uint32_t bucket_count() const;
  const BucketRanges* bucket_ranges() const { return bucket_ranges_; }

 protected:
  // Kinds differ only in their ranges; |ranges| is shared and must live forever.
  Histogram(const std::string& name, Sample minimum, Sample maximum, const BucketRanges* ranges);

  // Builds or finds the histogram of |name| for one of the bucketed kinds.
  static HistogramBase* Build(const std::string& name, HistogramType type, Sample minimum,
                              Sample maximum, uint32_t bucket_count, int32_t flags);

 private:
  std::unique_ptr<SampleVector> SnapshotSampleVector() const;

  const BucketRanges* bucket_ranges_;
  Sample declared_min_;
  Sample declared_max_;
  std::unique_ptr<SampleVector> samples_;
  std::unique_ptr<SampleVector> logged_samples_;
};

class LinearHistogram : public Histogram {
 public:
  // The enumeration form: values 0 .. |boundary| - 1 go to their own buckets when
  // |bucket_count| is |boundary| + 1.
  static HistogramBase* FactoryGet(const std::string& name, Sample boundary,
                                   uint32_t bucket_count);

  ~LinearHistogram() override;

  // Evenly spaced ranges from |minimum| to |maximum|.
  static void InitializeBucketRanges(Sample minimum, Sample maximum, BucketRanges* ranges);

  HistogramType GetHistogramType() const override;

 private:
  friend class Histogram;
  LinearHistogram(const std::string& name, Sample minimum, Sample maximum,
                  const BucketRanges* ranges);
};

}  // namespace base

#endif  // BASE_METRICS_HISTOGRAM_H_

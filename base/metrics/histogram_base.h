// The common interface of all histograms: a name, flags and the recording and snapshot
// operations, the text, dictionary and serialized forms. Histograms come from the
// factories of Histogram, LinearHistogram, BooleanHistogram, CustomHistogram and
// SparseHistogram and live for the whole process.
#ifndef BASE_METRICS_HISTOGRAM_BASE_H_
#define BASE_METRICS_HISTOGRAM_BASE_H_

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "base/strings/string_piece.h"

namespace base {

class Dictionary;
class HistogramSamples;
class List;
class SerialBuffer;
class SerialBufferReader;

enum HistogramType {
  HISTOGRAM = 0,
  LINEAR_HISTOGRAM = 1,
  BOOLEAN_HISTOGRAM = 2,
  CUSTOM_HISTOGRAM = 3,
  SPARSE_HISTOGRAM = 4,
};

// "HISTOGRAM", "LINEAR_HISTOGRAM", ... and "UNKNOWN" for other codes.
std::string HistogramTypeToString(HistogramType type);

// The first 8 bytes of the name's MD5 digest, big-endian.
uint64_t HashMetricName(StringPiece name);

class HistogramBase {
 public:
  typedef int32_t Sample;
  typedef int32_t Count;

  static constexpr Sample kSampleType_MAX = INT32_MAX;
  // Factories clamp bucket counts to stay below this.
  static constexpr uint32_t kBucketCount_MAX = 16384;

  enum Flags : int32_t {
    kNoFlags = 0,
    kUmaTargetedHistogramFlag = 0x1,
    kUmaStabilityHistogramFlag = 0x3,
    kCallbackExists = 0x20,
    kIsPersistent = 0x40,
  };

  // Bits of FindCorruption's result.
  enum Inconsistency : uint32_t {
    NO_INCONSISTENCIES = 0x0,
    RANGE_CHECKSUM_ERROR = 0x1,
    BUCKET_ORDER_ERROR = 0x2,
    COUNT_HIGH_ERROR = 0x4,
    COUNT_LOW_ERROR = 0x8,
  };

  // What the factories report to the activity report histogram.
  enum ReportActivity { HISTOGRAM_CREATED, HISTOGRAM_LOOKUP };

  // Makes factories report every creation and lookup into |histogram| (not owned; null
  // stops the reports).
  static void SetActivityReportHistogram(HistogramBase* histogram);
  // Adds the codes of |activity| on |histogram| to the report histogram, when one is set.
  static void ReportHistogramActivity(const HistogramBase& histogram, ReportActivity activity);

  explicit HistogramBase(const std::string& name);
  virtual ~HistogramBase();
  HistogramBase(const HistogramBase&) = delete;
  HistogramBase& operator=(const HistogramBase&) = delete;

  const std::string& histogram_name() const { return histogram_name_; }
  int32_t flags() const { return flags_.load(std::memory_order_relaxed); }
  void SetFlags(int32_t flags) { flags_.fetch_or(flags, std::memory_order_relaxed); }
  void ClearFlags(int32_t flags) { flags_.fetch_and(~flags, std::memory_order_relaxed); }

  virtual uint64_t name_hash() const = 0;
  virtual HistogramType GetHistogramType() const = 0;
  virtual bool HasConstructionArguments(Sample minimum, Sample maximum,
                                        uint32_t bucket_count) const = 0;
  virtual void Add(Sample value) = 0;
  // A count of 0 or less is ignored.
  virtual void AddCount(Sample value, int count) = 0;
  virtual void AddSamples(const HistogramSamples& samples) = 0;
  // Adds samples that HistogramSamples::Serialize wrote; false when they do not fit.
  [[nodiscard]] virtual bool AddSamplesFromBuffer(SerialBufferReader* reader) = 0;
  // Inconsistency bits of |samples| (a snapshot of this histogram).
  virtual uint32_t FindCorruption(const HistogramSamples& samples) const;
  // A copy of everything recorded so far.
  virtual std::unique_ptr<HistogramSamples> SnapshotSamples() const = 0;
  // What was recorded since the previous delta.
  virtual std::unique_ptr<HistogramSamples> SnapshotDelta() = 0;
  // The last delta, taken once when the process's metrics are closed.
  virtual std::unique_ptr<HistogramSamples> SnapshotFinalDelta() = 0;

  // The samples as a text graph: lines end with "<br>" inside "<PRE>" ... "</PRE>" in
  // HTML, with "\n" in plain text.
  virtual void WriteHTMLGraph(std::string* output) const;
  virtual void WriteAscii(std::string* output) const;
  // Name, flags and the construction arguments into |buffer|.
  [[nodiscard]] virtual bool SerializeInfoImpl(SerialBuffer* buffer) const = 0;
  // "type" and, for bucketed kinds, "min", "max" and "bucket_count".
  virtual void GetParameters(Dictionary* params) const = 0;
  // Total count, sum and one {"low", "high", "count"} dictionary per non-empty bucket
  // ("high" left out for the last bucket). Sparse histograms have no buckets and write
  // nothing.
  virtual void GetCountAndBucketData(Count* count, int64_t* sum, List* buckets) const = 0;

 protected:
  // The text graph with lines ending in |newline|.
  virtual void WriteAsciiImpl(const char* newline, std::string* output) const = 0;
  // Runs the registered callback of this name with |value| when the flag says one exists.
  void FindAndRunCallback(Sample value) const;
  // "Histogram: <name> recorded <total> samples"; the kinds go on from there.
  void WriteAsciiHeaderStart(Count total, std::string* output) const;
  // A bar of 72 columns: |current| against |max| as dashes, then "O".
  static void WriteAsciiBucketGraph(double current, double max, std::string* output);
  // |count| and its share of |total| as " (%d = %3.1f%%)".
  static void WriteAsciiBucketValue(Count count, double total, std::string* output);

 private:
  const std::string histogram_name_;
  std::atomic<int32_t> flags_;
};

}  // namespace base

#endif  // BASE_METRICS_HISTOGRAM_BASE_H_

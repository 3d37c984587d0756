// The process-wide registry that makes histogram factories return one object per name,
// lets equal bucket-range arrays be shared and holds per-name sample callbacks.
// Registered objects live forever. The tables are created on first use, so even a
// process that never sets up metrics keeps one histogram per name instead of a new one
// for every sample.
#ifndef BASE_METRICS_STATISTICS_RECORDER_H_
#define BASE_METRICS_STATISTICS_RECORDER_H_

#include "base/callback.h"
#include "base/metrics/histogram_base.h"
#include "base/strings/string_piece.h"

namespace base {

class BucketRanges;

class StatisticsRecorder {
 public:
  typedef Callback<void(HistogramBase::Sample)> OnSampleCallback;

  StatisticsRecorder() = delete;

  // Returns the histogram registered under |histogram|'s name; when that is an
  // earlier one, |histogram| is deleted.
  static HistogramBase* RegisterOrDeleteDuplicate(HistogramBase* histogram);

  // Returns an equal registered array, deleting |ranges| when it is a different
  // object; otherwise registers |ranges|.
  static const BucketRanges* RegisterOrDeleteDuplicateRanges(const BucketRanges* ranges);

  // The histogram of that name, or null. With a global persistent histogram allocator,
  // histograms other processes made there are imported first.
  static HistogramBase* FindHistogram(StringPiece name);

  // Runs |callback| with every sample recorded under |name| from now on (also for a
  // histogram made later). An empty callback stands for none.
  static void SetCallback(StringPiece name, const OnSampleCallback& callback);
  static void ClearCallback(StringPiece name);
  // A new reference to the callback of |name|; empty when there is none.
  static OnSampleCallback FindCallback(StringPiece name);
};

}  // namespace base

#endif  // BASE_METRICS_STATISTICS_RECORDER_H_

// The process-wide registry that makes histogram factories return one object per name
// and lets equal bucket-range arrays be shared. Registered objects live forever.
#ifndef BASE_METRICS_STATISTICS_RECORDER_H_
#define BASE_METRICS_STATISTICS_RECORDER_H_

#include "base/strings/string_piece.h"

namespace base {

class BucketRanges;
class HistogramBase;

class StatisticsRecorder {
 public:
  StatisticsRecorder() = delete;

  // Returns the histogram registered under |histogram|'s name; when that is an
  // earlier one, |histogram| is deleted.
  static HistogramBase* RegisterOrDeleteDuplicate(HistogramBase* histogram);

  // Returns an equal registered array, deleting |ranges| when it is a different
  // object; otherwise registers |ranges|.
  static const BucketRanges* RegisterOrDeleteDuplicateRanges(const BucketRanges* ranges);

  // The histogram of that name, or null.
  static HistogramBase* FindHistogram(StringPiece name);
};

}  // namespace base

#endif  // BASE_METRICS_STATISTICS_RECORDER_H_

#include "base/metrics/statistics_recorder.h"

#include <map>
#include <string>
#include <vector>

#include "base/metrics/bucket_ranges.h"
#include "base/metrics/histogram_base.h"
#include "base/synchronization/lock.h"

namespace base {

namespace {

// Names order by length first, then bytes; keys view the name inside the histogram.
struct NameLess {
  bool operator()(StringPiece a, StringPiece b) const {
    if (a.size() != b.size()) return a.size() < b.size();
    return a < b;
  }
};

struct Registry {
  std::map<StringPiece, HistogramBase*, NameLess> histograms;
  std::map<uint32_t, std::vector<const BucketRanges*>> ranges;
};

Lock g_lock;

// Created on first use under g_lock and never destroyed: registered histograms are
// used by call sites until the process ends.
Registry* GetRegistryWhileLocked() {
  static Registry* registry = new Registry;
  return registry;
}

}  // namespace

HistogramBase* StatisticsRecorder::RegisterOrDeleteDuplicate(HistogramBase* histogram) {
  HistogramBase* registered;
  {
    AutoLock lock(g_lock);
    Registry* registry = GetRegistryWhileLocked();
    auto inserted = registry->histograms.emplace(StringPiece(histogram->histogram_name()),
                                                 histogram);
    registered = inserted.first->second;
  }
  if (registered != histogram) delete histogram;
  return registered;
}

const BucketRanges* StatisticsRecorder::RegisterOrDeleteDuplicateRanges(
    const BucketRanges* ranges) {
  const BucketRanges* registered = nullptr;
  {
    AutoLock lock(g_lock);
    std::vector<const BucketRanges*>& list = GetRegistryWhileLocked()->ranges[ranges->checksum()];
    for (const BucketRanges* candidate : list) {
      if (candidate->Equals(ranges)) {
        registered = candidate;
        break;
      }
    }
    if (!registered) {
      list.push_back(ranges);
      return ranges;
    }
  }
  if (registered != ranges) delete ranges;
  return registered;
}

HistogramBase* StatisticsRecorder::FindHistogram(StringPiece name) {
  AutoLock lock(g_lock);
  Registry* registry = GetRegistryWhileLocked();
  auto found = registry->histograms.find(name);
  return found == registry->histograms.end() ? nullptr : found->second;
}

}  // namespace base

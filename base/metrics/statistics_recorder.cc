#include "base/metrics/statistics_recorder.h"

#include <map>
#include <string>
#include <vector>

#include "base/lazy_instance.h"
#include "base/metrics/bucket_ranges.h"
#include "base/metrics/persistent_histogram_allocator.h"
#include "base/synchronization/lock.h"

namespace base {

namespace {

// Names order by length first, then bytes.
struct NameLess {
  bool operator()(StringPiece a, StringPiece b) const {
    if (a.size() != b.size()) return a.size() < b.size();
    return a < b;
  }
};

struct Registry {
  // Keys view the name inside the histogram.
  std::map<StringPiece, HistogramBase*, NameLess> histograms;
  std::map<uint32_t, std::vector<const BucketRanges*>> ranges;
  std::map<std::string, StatisticsRecorder::OnSampleCallback, NameLess> callbacks;
};

// Installed by the first thread that needs it; never destroyed, since histograms are
// recorded into until the process ends.
LeakyLazyInstance<Lock> g_lock;

Registry* GetRegistryWhileLocked() {
  static Registry* registry = new Registry;
  return registry;
}

void ApplyCallbackFlag(HistogramBase* histogram, const StatisticsRecorder::OnSampleCallback& cb) {
  if (cb) {
    histogram->SetFlags(HistogramBase::kCallbackExists);
  } else {
    histogram->ClearFlags(HistogramBase::kCallbackExists);
  }
}

}  // namespace

HistogramBase* StatisticsRecorder::RegisterOrDeleteDuplicate(HistogramBase* histogram) {
  HistogramBase* registered;
  {
    AutoLock lock(g_lock.Get());
    Registry* registry = GetRegistryWhileLocked();
    auto inserted =
        registry->histograms.emplace(StringPiece(histogram->histogram_name()), histogram);
    registered = inserted.first->second;
    if (inserted.second) {
      auto callback = registry->callbacks.find(histogram->histogram_name());
      if (callback != registry->callbacks.end()) ApplyCallbackFlag(histogram, callback->second);
    }
  }
  if (registered != histogram) delete histogram;
  return registered;
}

const BucketRanges* StatisticsRecorder::RegisterOrDeleteDuplicateRanges(
    const BucketRanges* ranges) {
  const BucketRanges* registered = nullptr;
  {
    AutoLock lock(g_lock.Get());
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
  if (GlobalHistogramAllocator* allocator = GlobalHistogramAllocator::Get())
    allocator->ImportHistogramsToStatisticsRecorder();
  AutoLock lock(g_lock.Get());
  Registry* registry = GetRegistryWhileLocked();
  auto found = registry->histograms.find(name);
  return found == registry->histograms.end() ? nullptr : found->second;
}

void StatisticsRecorder::SetCallback(StringPiece name, const OnSampleCallback& callback) {
  OnSampleCallback replaced;
  {
    AutoLock lock(g_lock.Get());
    Registry* registry = GetRegistryWhileLocked();
    OnSampleCallback& stored = registry->callbacks[name.as_string()];
    replaced = stored;  // released after the lock: its bound values may do anything
    stored = callback;
    auto histogram = registry->histograms.find(name);
    if (histogram != registry->histograms.end()) ApplyCallbackFlag(histogram->second, callback);
  }
}

void StatisticsRecorder::ClearCallback(StringPiece name) { SetCallback(name, OnSampleCallback()); }

StatisticsRecorder::OnSampleCallback StatisticsRecorder::FindCallback(StringPiece name) {
  AutoLock lock(g_lock.Get());
  Registry* registry = GetRegistryWhileLocked();
  auto found = registry->callbacks.find(name.as_string());
  return found == registry->callbacks.end() ? OnSampleCallback() : found->second;
}

}  // namespace base

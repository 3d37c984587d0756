#include "base/metrics/histogram_base.h"

#include "base/hash/md5.h"

namespace base {

std::string HistogramTypeToString(HistogramType type) {
  switch (type) {
    case HISTOGRAM:
      return "HISTOGRAM";
    case LINEAR_HISTOGRAM:
      return "LINEAR_HISTOGRAM";
    case BOOLEAN_HISTOGRAM:
      return "BOOLEAN_HISTOGRAM";
    case CUSTOM_HISTOGRAM:
      return "CUSTOM_HISTOGRAM";
    case SPARSE_HISTOGRAM:
      return "SPARSE_HISTOGRAM";
  }
  return "UNKNOWN";
}

uint64_t HashMetricName(StringPiece name) {
  Md5Context context;
  Md5Init(&context);
  Md5Update(&context, name);
  Md5Digest digest;
  Md5Final(&digest, &context);
  uint64_t hash = 0;
  for (int i = 0; i < 8; ++i) hash = hash << 8 | digest.a[i];
  return hash;
}

HistogramBase::HistogramBase(const std::string& name) : histogram_name_(name), flags_(kNoFlags) {}

HistogramBase::~HistogramBase() = default;

}  // namespace base

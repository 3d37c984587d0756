#include "base/metrics/histogram_base.h"

#include "base/hash/md5.h"
#include "base/metrics/statistics_recorder.h"
#include "base/strings/stringprintf.h"

namespace base {

namespace {

std::atomic<HistogramBase*> g_report_histogram{nullptr};

// Values of the activity report histogram.
enum ReportCode {
  kReportCreated = 1,
  kReportLookup = 2,
  kReportFirstKind = 3,  // + the kind: 3 exponential ... 7 sparse
  kReportUploadFlag = 8,
  kReportStabilityFlag = 9,
  kReportPersistent = 10,
};

}  // namespace

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

void HistogramBase::SetActivityReportHistogram(HistogramBase* histogram) {
  g_report_histogram.store(histogram, std::memory_order_release);
}

void HistogramBase::ReportHistogramActivity(const HistogramBase& histogram,
                                            ReportActivity activity) {
  HistogramBase* report = g_report_histogram.load(std::memory_order_acquire);
  if (!report) return;
  if (activity == HISTOGRAM_LOOKUP) {
    report->Add(kReportLookup);
    return;
  }
  report->Add(kReportCreated);
  report->Add(kReportFirstKind + histogram.GetHistogramType());
  int32_t flags = histogram.flags();
  if (flags & kIsPersistent) report->Add(kReportPersistent);
  if ((flags & kUmaStabilityHistogramFlag) == kUmaStabilityHistogramFlag) {
    report->Add(kReportStabilityFlag);
  } else if (flags & kUmaTargetedHistogramFlag) {
    report->Add(kReportUploadFlag);
  }
}

HistogramBase::HistogramBase(const std::string& name) : histogram_name_(name), flags_(kNoFlags) {}

HistogramBase::~HistogramBase() = default;

uint32_t HistogramBase::FindCorruption(const HistogramSamples&) const { return NO_INCONSISTENCIES; }

void HistogramBase::WriteHTMLGraph(std::string* output) const {
  output->append("<PRE>");
  WriteAsciiImpl("<br>", output);
  output->append("</PRE>");
}

void HistogramBase::WriteAscii(std::string* output) const { WriteAsciiImpl("\n", output); }

void HistogramBase::FindAndRunCallback(Sample value) const {
  if ((flags() & kCallbackExists) == 0) return;
  StatisticsRecorder::OnSampleCallback callback =
      StatisticsRecorder::FindCallback(histogram_name());
  if (callback) callback.Run(value);
}

void HistogramBase::WriteAsciiHeaderStart(Count total, std::string* output) const {
  StringAppendF(output, "Histogram: %s recorded %d samples", histogram_name().c_str(), total);
}

void HistogramBase::WriteAsciiBucketGraph(double current, double max, std::string* output) {
  constexpr int kLineLength = 72;
  int x = 0;
  if (max > 0 && current > 0) {
    double scaled = kLineLength * current / max + 0.5;
    x = scaled >= kLineLength ? kLineLength : static_cast<int>(scaled);
  }
  output->append(static_cast<size_t>(x), '-');
  output->append("O");
  output->append(static_cast<size_t>(kLineLength - x), ' ');
}

void HistogramBase::WriteAsciiBucketValue(Count count, double total, std::string* output) {
  StringAppendF(output, " (%d = %3.1f%%)", count, count / (total / 100.0));
}

}  // namespace base

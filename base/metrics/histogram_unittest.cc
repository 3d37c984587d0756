#include "base/metrics/histogram.h"

#include <atomic>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/bind.h"
#include "base/json/json_writer.h"
#include "base/metrics/bucket_ranges.h"
#include "base/metrics/histogram_samples.h"
#include "base/metrics/sample_vector.h"
#include "base/metrics/sparse_histogram.h"
#include "base/metrics/statistics_recorder.h"
#include "base/serial_buffer.h"
#include "base/values.h"

namespace base {
namespace {

std::vector<HistogramBase::Sample> RangesOf(HistogramBase* histogram) {
  const BucketRanges* ranges = static_cast<Histogram*>(histogram)->bucket_ranges();
  std::vector<HistogramBase::Sample> result;
  for (size_t i = 0; i < ranges->size(); ++i) result.push_back(ranges->range(i));
  return result;
}

TEST(HistogramTest, FactoriesReturnOneObjectPerName) {
  HistogramBase* first = LinearHistogram::FactoryGet("Test.SameName", 4, 5);
  HistogramBase* second = LinearHistogram::FactoryGet("Test.SameName", 4, 5);
  ASSERT_NE(nullptr, first);
  EXPECT_EQ(first, second);
  EXPECT_EQ(LINEAR_HISTOGRAM, first->GetHistogramType());
  EXPECT_EQ(HistogramBase::kUmaTargetedHistogramFlag, first->flags());
  // Other construction arguments under the same name give no histogram.
  EXPECT_EQ(nullptr, LinearHistogram::FactoryGet("Test.SameName", 6, 7));

  HistogramBase* sparse = SparseHistogram::FactoryGet("Test.SparseName", 0);
  EXPECT_EQ(sparse, SparseHistogram::FactoryGet("Test.SparseName", 0));
  EXPECT_EQ(HistogramBase::kUmaTargetedHistogramFlag, sparse->flags());

  HistogramBase* timing = Histogram::FactoryTimeGet(
      "Test.Timing", TimeDelta::FromMilliseconds(1), TimeDelta::FromMilliseconds(10000));
  EXPECT_EQ(timing, Histogram::FactoryTimeGet("Test.Timing", TimeDelta::FromMilliseconds(1),
                                              TimeDelta::FromMilliseconds(10000)));
  EXPECT_EQ(50u, static_cast<Histogram*>(timing)->bucket_count());
  static_cast<Histogram*>(timing)->AddTime(TimeDelta::Max());
  EXPECT_EQ(1, timing->SnapshotSamples()->GetCount(20000)) << "the maximal duration: last bucket";
}

TEST(HistogramTest, RecordedSamplesCanBeReadBack) {
  HistogramBase* histogram = LinearHistogram::FactoryGet("Test.Enumeration", 4, 5);
  histogram->Add(2);
  histogram->Add(2);
  histogram->Add(-5);                   // clamped into bucket 0
  histogram->Add(2147483647);           // clamped to the last bucket
  histogram->AddCount(3, 0);            // ignored
  histogram->AddCount(3, -3);           // ignored
  std::unique_ptr<HistogramSamples> samples = histogram->SnapshotSamples();
  EXPECT_EQ(4, samples->TotalCount());
  EXPECT_EQ(4, samples->redundant_count());
  EXPECT_EQ(2, samples->GetCount(2));
  EXPECT_EQ(1, samples->GetCount(0));
  EXPECT_EQ(1, samples->GetCount(4000));
  EXPECT_EQ(0, samples->GetCount(3));
  EXPECT_EQ(4 + 2147483646ll, samples->sum());
}

TEST(HistogramTest, SnapshotDeltaReportsOnlyNewSamples) {
  HistogramBase* histogram = Histogram::FactoryGet("Test.Delta", 1, 1000, 10, 1);
  histogram->Add(7);
  EXPECT_EQ(1, histogram->SnapshotDelta()->TotalCount());
  histogram->Add(7);
  histogram->Add(500);
  std::unique_ptr<HistogramSamples> delta = histogram->SnapshotDelta();
  EXPECT_EQ(2, delta->TotalCount());
  EXPECT_EQ(1, delta->GetCount(7));
  EXPECT_EQ(0, histogram->SnapshotDelta()->TotalCount());
  EXPECT_EQ(3, histogram->SnapshotSamples()->TotalCount());
}

TEST(HistogramTest, BucketLayouts) {
  EXPECT_EQ((std::vector<HistogramBase::Sample>{0, 1, 2, 5, 12, 29, 70, 170, 412, 1000,
                                                2147483647}),
            RangesOf(Histogram::FactoryGet("Test.Exp10", 1, 1000, 10, 1)));
  EXPECT_EQ((std::vector<HistogramBase::Sample>{0, 1, 2, 4, 9, 20, 45, 100, 2147483647}),
            RangesOf(Histogram::FactoryGet("Test.Exp8", 1, 100, 8, 1)));
  EXPECT_EQ((std::vector<HistogramBase::Sample>{0, 1, 2, 3, 4, 2147483647}),
            RangesOf(LinearHistogram::FactoryGet("Test.Lin5", 4, 5)));

  Histogram* clamped = static_cast<Histogram*>(
      Histogram::FactoryGet("Test.Clamped", 0, 2147483647, 20000, 1));
  EXPECT_EQ(1, clamped->declared_min());
  EXPECT_EQ(2147483646, clamped->declared_max());
  EXPECT_EQ(16383u, clamped->bucket_count());
  EXPECT_EQ(0, clamped->ranges(0));
  EXPECT_EQ(1, clamped->ranges(1));
  EXPECT_TRUE(clamped->bucket_ranges()->HasValidChecksum());
}

TEST(HistogramTest, SparseKeepsEveryValue) {
  HistogramBase* sparse = SparseHistogram::FactoryGet("Test.Errors", 0);
  sparse->Add(-7);  // not clamped
  sparse->Add(1450);
  sparse->AddCount(1450, 2);
  sparse->AddCount(5, 0);
  std::unique_ptr<HistogramSamples> samples = sparse->SnapshotSamples();
  EXPECT_EQ(4, samples->TotalCount());
  EXPECT_EQ(1, samples->GetCount(-7));
  EXPECT_EQ(3, samples->GetCount(1450));
  EXPECT_EQ(0, samples->GetCount(5));
  EXPECT_EQ(4, sparse->SnapshotDelta()->TotalCount());
  sparse->Add(1);
  EXPECT_EQ(1, sparse->SnapshotDelta()->TotalCount());
}

TEST(HistogramTest, KindMismatchUnderOneNameStops) {
  LinearHistogram::FactoryGet("Test.Kind", 4, 5);
  EXPECT_DEATH(SparseHistogram::FactoryGet("Test.Kind", 0), "");
}

TEST(HistogramTest, FactoryCalledPerSampleKeepsOneHistogram) {
  // Sites that look their histogram up for every sample must not make one each time.
  HistogramBase* first = nullptr;
  for (int i = 0; i < 1000; ++i) {
    HistogramBase* histogram =
        Histogram::FactoryGet("Test.PerSampleLookup.Suffix", 1, 10000, 50, 1);
    if (!first) first = histogram;
    ASSERT_EQ(first, histogram);
    histogram->Add(i);
    SparseHistogram::FactoryGet("Test.PerSampleSparse", 0)->Add(i % 3);
  }
  EXPECT_EQ(1000, first->SnapshotSamples()->TotalCount());
  EXPECT_EQ(334, SparseHistogram::FactoryGet("Test.PerSampleSparse", 0)
                     ->SnapshotSamples()
                     ->GetCount(0));
}

TEST(HistogramTest, BooleanAndCustomKinds) {
  HistogramBase* boolean = BooleanHistogram::FactoryGet("Test.Boolean", 1);
  EXPECT_EQ(BOOLEAN_HISTOGRAM, boolean->GetHistogramType());
  EXPECT_EQ((std::vector<HistogramBase::Sample>{0, 1, 2, 2147483647}), RangesOf(boolean));
  EXPECT_EQ(boolean, BooleanHistogram::FactoryGet("Test.Boolean", 1));

  HistogramBase* custom = CustomHistogram::FactoryGet("Test.Custom", {100, 5, 10, 5}, 1);
  ASSERT_NE(nullptr, custom);
  EXPECT_EQ(CUSTOM_HISTOGRAM, custom->GetHistogramType());
  EXPECT_EQ((std::vector<HistogramBase::Sample>{0, 5, 10, 100, 2147483647}), RangesOf(custom));
  EXPECT_TRUE(custom->HasConstructionArguments(5, 100, 4));
  EXPECT_EQ(custom, CustomHistogram::FactoryGet("Test.Custom", {7}, 1));
  custom->Add(7);
  EXPECT_EQ(1, custom->SnapshotSamples()->GetCount(5));

  for (const std::vector<HistogramBase::Sample>& invalid :
       {std::vector<HistogramBase::Sample>{}, {0}, {-1, 5}, {2147483647}}) {
    EXPECT_EQ(nullptr, CustomHistogram::FactoryGet("Test.CustomInvalid", invalid, 1));
  }
  EXPECT_EQ(nullptr, StatisticsRecorder::FindHistogram("Test.CustomInvalid"));
}

TEST(HistogramTest, AsciiGraph) {
  HistogramBase* histogram = Histogram::FactoryGet("Test.AsciiGraph", 1, 1000, 10, 1);
  for (int value : {1, 1, 4, 500}) histogram->Add(value);
  std::string bar72(72, '-');
  std::string expected =
      "Histogram: Test.AsciiGraph recorded 4 samples, mean = 126.5 (flags = 0x1)\n"
      "0    O" + std::string(72, ' ') + " (0 = 0.0%)\n"
      "1    " + bar72 + "O (2 = 50.0%) {0.0%}\n"
      "2    " + std::string(12, '-') + "O" + std::string(60, ' ') + " (1 = 25.0%) {50.0%}\n"
      "5    ... \n"
      "412  " + std::string(7, '-') + "O" + std::string(65, ' ') + " (1 = 25.0%) {75.0%}\n"
      "1000 O" + std::string(72, ' ') + " (0 = 0.0%) {100.0%}\n";
  std::string ascii;
  histogram->WriteAscii(&ascii);
  EXPECT_EQ(expected, ascii);

  std::string html;
  histogram->WriteHTMLGraph(&html);
  std::string expected_html = expected;
  for (size_t at = expected_html.find('\n'); at != std::string::npos;
       at = expected_html.find('\n', at)) {
    expected_html.replace(at, 1, "<br>");
  }
  EXPECT_EQ("<PRE>" + expected_html + "</PRE>", html);

  std::string empty;
  Histogram::FactoryGet("Test.AsciiEmpty", 1, 100, 8, 0)->WriteAscii(&empty);
  EXPECT_EQ("Histogram: Test.AsciiEmpty recorded 0 samples\n0 ... \n", empty);

  static const LinearHistogram::DescriptionPair kDescriptions[] = {
      {1, "one"}, {2, "two"}, {0, nullptr}};
  HistogramBase* described =
      LinearHistogram::FactoryGet("Test.AsciiDescribed", 4, 5, kDescriptions);
  described->Add(1);
  described->Add(4);
  std::string text;
  described->WriteAscii(&text);
  EXPECT_NE(std::string::npos, text.find("\none  " + bar72 + "O (1 = 50.0%) {0.0%}\n3    O"))
      << text;
  EXPECT_EQ(std::string::npos, text.find("two")) << "a described empty bucket is left out";

  HistogramBase* sparse = SparseHistogram::FactoryGet("Test.AsciiSparse", 0);
  for (int value : {1450, 5, 1450, 1450}) sparse->Add(value);
  std::string sparse_text;
  sparse->WriteAscii(&sparse_text);
  EXPECT_EQ("Histogram: Test.AsciiSparse recorded 4 samples (flags = 0x1)\n"
            "5     " + std::string(24, '-') + "O" + std::string(48, ' ') + " (1 = 25.0%)\n"
            "1450  " + bar72 + "O (3 = 75.0%)\n",
            sparse_text);
}

TEST(HistogramTest, ParametersAndBucketData) {
  HistogramBase* histogram = LinearHistogram::FactoryGet("Test.BucketData", 4, 5);
  histogram->Add(1000);  // the last bucket
  histogram->Add(1000);
  histogram->Add(2);

  std::unique_ptr<Dictionary> params = MakeDictionaryValue();
  histogram->GetParameters(params.get());
  std::string json;
  ASSERT_TRUE(JsonWriter::Write(*params, &json));
  EXPECT_EQ(R"({"bucket_count":5,"max":4,"min":1,"type":"LINEAR_HISTOGRAM"})", json);

  HistogramBase::Count count = 0;
  int64_t sum = 0;
  std::unique_ptr<List> buckets = MakeListValue();
  histogram->GetCountAndBucketData(&count, &sum, buckets.get());
  EXPECT_EQ(3, count);
  EXPECT_EQ(2002, sum);
  ASSERT_TRUE(JsonWriter::Write(*buckets, &json));
  EXPECT_EQ(R"([{"count":1,"high":3,"low":2},{"count":2,"low":4}])", json);

  std::unique_ptr<Dictionary> sparse_params = MakeDictionaryValue();
  SparseHistogram::FactoryGet("Test.SparseParams", 0)->GetParameters(sparse_params.get());
  ASSERT_TRUE(JsonWriter::Write(*sparse_params, &json));
  EXPECT_EQ(R"({"type":"SPARSE_HISTOGRAM"})", json);
}

TEST(HistogramTest, SerializeInfo) {
  struct Expected {
    HistogramBase* histogram;
    std::vector<int32_t> fields;  // after the name
  };
  HistogramBase* exponential = Histogram::FactoryGet("Test.Info", 1, 1000, 10, 1);
  HistogramBase* custom = CustomHistogram::FactoryGet("Test.InfoCustom", {3, 9}, 1);
  const Expected cases[] = {
      {exponential,
       {1, 1, 1000, 10,
        static_cast<int32_t>(static_cast<Histogram*>(exponential)->bucket_ranges()->checksum())}},
      {custom,
       {1, 3, 9, 3,
        static_cast<int32_t>(static_cast<Histogram*>(custom)->bucket_ranges()->checksum()), 3,
        9}},
      {SparseHistogram::FactoryGet("Test.InfoSparse", 0), {1}},
  };
  for (const Expected& c : cases) {
    SerialBuffer buffer;
    ASSERT_TRUE(c.histogram->SerializeInfoImpl(&buffer));
    SerialBufferReader reader(buffer);
    std::string name;
    ASSERT_TRUE(reader.ReadString(&name));
    EXPECT_EQ(c.histogram->histogram_name(), name);
    std::vector<int32_t> fields;
    int32_t field;
    while (reader.ReadInt(&field)) fields.push_back(field);
    EXPECT_EQ(c.fields, fields) << name;
  }
}

TEST(HistogramTest, SamplesTravelThroughBuffers) {
  HistogramBase* source = Histogram::FactoryGet("Test.BufferSource", 1, 1000, 10, 1);
  HistogramBase* target = Histogram::FactoryGet("Test.BufferTarget", 1, 1000, 10, 1);
  for (int value : {0, 3, 3, 999, 5000}) source->Add(value);
  SerialBuffer buffer;
  ASSERT_TRUE(source->SnapshotSamples()->Serialize(&buffer));
  SerialBufferReader reader(buffer);
  EXPECT_TRUE(target->AddSamplesFromBuffer(&reader));
  std::unique_ptr<HistogramSamples> samples = target->SnapshotSamples();
  EXPECT_EQ(5, samples->TotalCount());
  EXPECT_EQ(2, samples->GetCount(4));
  EXPECT_EQ(source->SnapshotSamples()->sum(), samples->sum());

  // A sparse histogram takes its own serialized values, extremes included.
  HistogramBase* sparse = SparseHistogram::FactoryGet("Test.BufferSparse", 0);
  sparse->Add(2147483647);
  sparse->Add(-2147483647 - 1);
  SerialBuffer sparse_buffer;
  ASSERT_TRUE(sparse->SnapshotDelta()->Serialize(&sparse_buffer));
  SerialBufferReader sparse_reader(sparse_buffer);
  EXPECT_TRUE(sparse->AddSamplesFromBuffer(&sparse_reader));
  EXPECT_EQ(2, sparse->SnapshotSamples()->GetCount(2147483647));
  EXPECT_EQ(2, sparse->SnapshotSamples()->GetCount(-2147483647 - 1));

  // Bucket samples do not fit a sparse histogram.
  SerialBuffer bucketed;
  ASSERT_TRUE(source->SnapshotSamples()->Serialize(&bucketed));
  SerialBufferReader bucketed_reader(bucketed);
  EXPECT_FALSE(sparse->AddSamplesFromBuffer(&bucketed_reader));
}

TEST(HistogramTest, FinalDeltaAfterDeltas) {
  HistogramBase* histogram = LinearHistogram::FactoryGet("Test.FinalDelta", 4, 5);
  HistogramBase* sparse = SparseHistogram::FactoryGet("Test.FinalDeltaSparse", 0);
  for (HistogramBase* h : {histogram, sparse}) {
    h->Add(1);
    EXPECT_EQ(1, h->SnapshotDelta()->TotalCount());
    h->Add(2);
    h->Add(2);
    std::unique_ptr<HistogramSamples> final_delta = h->SnapshotFinalDelta();
    EXPECT_EQ(2, final_delta->TotalCount());
    EXPECT_EQ(2, final_delta->GetCount(2));
    EXPECT_EQ(4, final_delta->sum());
  }
}

TEST(HistogramTest, FindCorruption) {
  HistogramBase* histogram = Histogram::FactoryGet("Test.Corruption", 1, 1000, 10, 1);
  histogram->Add(3);
  EXPECT_EQ(HistogramBase::NO_INCONSISTENCIES,
            histogram->FindCorruption(*histogram->SnapshotSamples()));

  struct Case {
    int32_t redundant_count;
    uint32_t expected;
  } cases[] = {
      {1 + 5, HistogramBase::NO_INCONSISTENCIES},  // within what races explain
      {1 + 6, HistogramBase::COUNT_HIGH_ERROR},
      {1 - 6, HistogramBase::COUNT_LOW_ERROR},
  };
  for (const Case& c : cases) {
    // Samples whose redundant count disagrees with the counters.
    SerialBuffer buffer;
    ASSERT_TRUE(WriteInt64ToBuffer(&buffer, 3));
    ASSERT_TRUE(buffer.WriteInt(c.redundant_count));
    for (int32_t field : {2, 5, 1}) ASSERT_TRUE(buffer.WriteInt(field));
    SampleVector samples(1, static_cast<Histogram*>(histogram)->bucket_ranges());
    SerialBufferReader reader(buffer);
    ASSERT_TRUE(samples.AddFromBuffer(&reader));
    EXPECT_EQ(c.expected, histogram->FindCorruption(samples)) << c.redundant_count;
  }
  HistogramBase* high = StatisticsRecorder::FindHistogram("Histogram.InconsistentCountHigh");
  ASSERT_NE(nullptr, high);
  EXPECT_EQ(5 + 6, high->SnapshotSamples()->sum()) << "every excess is recorded";

  // Ranges out of order, with a stale checksum.
  BucketRanges* bad = new BucketRanges(4);
  bad->set_range(1, 5);
  bad->set_range(2, 5);
  bad->set_range(3, 2147483647);
  std::atomic<HistogramBase::Count> counts[6] = {};
  HistogramSamples::Metadata meta = {}, logged_meta = {};
  std::unique_ptr<HistogramBase> broken = Histogram::PersistentCreate(
      HISTOGRAM, "Test.BrokenRanges", 5, 5, bad, {counts, counts + 3, 3, &meta, &logged_meta});
  EXPECT_EQ(HistogramBase::BUCKET_ORDER_ERROR | HistogramBase::RANGE_CHECKSUM_ERROR,
            broken->FindCorruption(*broken->SnapshotSamples()));
  broken.reset();
  delete bad;
}

std::vector<HistogramBase::Sample>* g_callback_values = nullptr;

void RecordCallbackValue(HistogramBase::Sample value) { g_callback_values->push_back(value); }

TEST(HistogramTest, SampleCallbacks) {
  std::vector<HistogramBase::Sample> values;
  g_callback_values = &values;
  // Set before the histogram exists, and for one that exists already.
  StatisticsRecorder::SetCallback("Test.Callback", Bind(&RecordCallbackValue));
  HistogramBase* histogram = LinearHistogram::FactoryGet("Test.Callback", 4, 5);
  HistogramBase* sparse = SparseHistogram::FactoryGet("Test.CallbackSparse", 0);
  StatisticsRecorder::SetCallback("Test.CallbackSparse", Bind(&RecordCallbackValue));
  EXPECT_TRUE(histogram->flags() & HistogramBase::kCallbackExists);
  EXPECT_TRUE(sparse->flags() & HistogramBase::kCallbackExists);

  histogram->Add(-3);
  histogram->AddCount(2, 0);  // ignored: no callback either
  sparse->Add(-3);
  EXPECT_EQ((std::vector<HistogramBase::Sample>{0, -3}), values);

  StatisticsRecorder::ClearCallback("Test.Callback");
  EXPECT_FALSE(histogram->flags() & HistogramBase::kCallbackExists);
  histogram->Add(1);
  EXPECT_EQ(2u, values.size());
  StatisticsRecorder::ClearCallback("Test.CallbackSparse");
  g_callback_values = nullptr;
}

TEST(HistogramTest, ActivityReport) {
  HistogramBase* report = LinearHistogram::FactoryGet("Test.ActivityReport", 11, 12);
  HistogramBase::SetActivityReportHistogram(report);
  Histogram::FactoryGet("Test.Reported", 1, 100, 8, HistogramBase::kUmaStabilityHistogramFlag);
  Histogram::FactoryGet("Test.Reported", 1, 100, 8, HistogramBase::kUmaStabilityHistogramFlag);
  SparseHistogram::FactoryGet("Test.ReportedSparse", 0);
  HistogramBase::SetActivityReportHistogram(nullptr);
  BooleanHistogram::FactoryGet("Test.NotReported", 0);

  std::unique_ptr<HistogramSamples> samples = report->SnapshotSamples();
  const HistogramBase::Count expected[11] = {
      0, 2 /* created */, 1 /* lookup */, 1 /* exponential */, 0, 0, 0, 1 /* sparse */,
      1 /* upload flag */, 1 /* stability flags */, 0 /* persistent */};
  for (int code = 0; code < 11; ++code) EXPECT_EQ(expected[code], samples->GetCount(code)) << code;
}

TEST(StatisticsRecorderTest, DuplicatesGiveWayToTheRegisteredOnes) {
  BucketRanges* first_ranges = new BucketRanges(3);
  first_ranges->set_range(1, 1);
  first_ranges->set_range(2, 2147483647);
  first_ranges->ResetChecksum();
  BucketRanges* second_ranges = new BucketRanges(3);
  second_ranges->set_range(1, 1);
  second_ranges->set_range(2, 2147483647);
  second_ranges->ResetChecksum();
  const BucketRanges* registered = StatisticsRecorder::RegisterOrDeleteDuplicateRanges(first_ranges);
  EXPECT_EQ(first_ranges, registered);
  EXPECT_EQ(first_ranges, StatisticsRecorder::RegisterOrDeleteDuplicateRanges(second_ranges));
  EXPECT_EQ(first_ranges, StatisticsRecorder::RegisterOrDeleteDuplicateRanges(first_ranges));

  // The registered one lives on after the test.
  static std::atomic<HistogramBase::Count> counts[2][4];
  static HistogramSamples::Metadata meta[4];
  HistogramBase* first = Histogram::PersistentCreate(HISTOGRAM, "Test.Duplicate", 1, 1,
                                                     registered,
                                                     {counts[0], counts[0] + 2, 2, &meta[0],
                                                      &meta[1]})
                             .release();
  HistogramBase* second = Histogram::PersistentCreate(HISTOGRAM, "Test.Duplicate", 1, 1,
                                                      registered,
                                                      {counts[1], counts[1] + 2, 2, &meta[2],
                                                       &meta[3]})
                              .release();
  EXPECT_EQ(first, StatisticsRecorder::RegisterOrDeleteDuplicate(first));
  EXPECT_EQ(first, StatisticsRecorder::RegisterOrDeleteDuplicate(second));  // second deleted
  EXPECT_EQ(first, StatisticsRecorder::FindHistogram("Test.Duplicate"));
  EXPECT_EQ(nullptr, StatisticsRecorder::FindHistogram("Test.Duplicat"));
}
}  // namespace
}  // namespace base

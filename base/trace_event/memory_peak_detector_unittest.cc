#include "base/trace_event/memory_peak_detector.h"

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "base/bind.h"
#include "base/trace_event/memory_dump_provider.h"
#include "base/trace_event/mock_time_task_runner_test_util.h"
#include "gtest/gtest.h"

namespace base {
namespace trace_event {
namespace {

constexpr uint64_t kMiB = 1024 * 1024;

// Answers polls from a script; the last value repeats.
class ScriptedProvider : public MemoryDumpProvider {
 public:
  explicit ScriptedProvider(std::vector<uint64_t> totals_mib) : totals_mib_(totals_mib) {}
  bool OnMemoryDump(const MemoryDumpArgs&, ProcessMemoryDump*) override { return true; }
  void PollFastMemoryTotal(uint64_t* total) override {
    *total = totals_mib_[next_ < totals_mib_.size() ? next_++ : totals_mib_.size() - 1] * kMiB;
  }
  void SuspendFastMemoryPolling() override { ++suspends; }

  int suspends = 0;

 private:
  std::vector<uint64_t> totals_mib_;
  size_t next_ = 0;
};

void ListProviders(std::vector<MemoryDumpProvider*>* source,
                   MemoryPeakDetector::DumpProvidersList* out) {
  *out = *source;
}

void CountPeak(MemoryPeakDetector* detector, std::vector<uint32_t>* peak_polls) {
  peak_polls->push_back(detector->poll_count_for_testing());
}

// Fills the window with |samples| (cycled) up to one short of full, then tests |total|.
bool DetectAfterWindow(std::vector<uint64_t> samples, uint64_t total) {
  MemoryPeakDetector detector;
  for (uint32_t i = 0; i + 1 < MemoryPeakDetector::kSlidingWindowNumSamples; ++i) {
    EXPECT_FALSE(detector.DetectPeakUsingSlidingWindowStdDev(samples[i % samples.size()]));
  }
  return detector.DetectPeakUsingSlidingWindowStdDev(total);
}

TEST(MemoryPeakDetectorWindowTest, PeakOnlyForAnUnusualRiseInAFullBusyWindow) {
  const uint64_t base = 100 * kMiB;
  struct Case {
    const char* name;
    std::vector<uint64_t> window;
    uint64_t total;
    bool peak;
  };
  // One jump d from a flat window: mean moves by d/50, the deviation is 0.14 d, and
  // the idle cut-off (0.2 % of 100 MiB) lies near d = 1.5 MB.
  const Case cases[] = {
      {"flat window, rise below the idle cut-off", {base}, base + kMiB, false},
      {"flat window, rise above the idle cut-off", {base}, base + 2 * kMiB, true},
      {"flat window, sharp drop", {base}, base - 2 * kMiB, false},
      {"noisy window, rise within the noise", {base - kMiB, base + kMiB}, base + 2 * kMiB,
       false},
      {"noisy window, rise far above the noise", {base - kMiB, base + kMiB}, base + 6 * kMiB,
       true},
      {"noisy window, drop far below the noise", {base - kMiB, base + kMiB}, base - 6 * kMiB,
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.peak, DetectAfterWindow(c.window, c.total));
  }
}

TEST(MemoryPeakDetectorWindowTest, NoPeakUntilTheWindowIsFull) {
  MemoryPeakDetector detector;
  for (uint32_t i = 0; i < MemoryPeakDetector::kSlidingWindowNumSamples - 1; ++i)
    EXPECT_FALSE(detector.DetectPeakUsingSlidingWindowStdDev(i % 2 ? kMiB : 1000 * kMiB));
}

class MemoryPeakDetectorTest : public testing::Test {
 protected:
  MemoryPeakDetectorTest() : runner_(MakeRefCounted<MockTimeTaskRunner>()) {
    detector_.Setup(Bind(&ListProviders, &providers_), runner_,
                    Bind(&CountPeak, &detector_, &peak_polls_));
    detector_.set_static_threshold_for_testing(10 * kMiB);
  }
  ~MemoryPeakDetectorTest() override {
    detector_.TearDown();
    runner_->RunUntilIdle();
  }

  // Listed, and kept until the detector has torn down.
  ScriptedProvider* AddProvider(std::vector<uint64_t> totals_mib) {
    owned_providers_.push_back(std::make_unique<ScriptedProvider>(std::move(totals_mib)));
    providers_.push_back(owned_providers_.back().get());
    return owned_providers_.back().get();
  }

  scoped_refptr<MockTimeTaskRunner> runner_;
  MemoryPeakDetector detector_;
  std::vector<std::unique_ptr<ScriptedProvider>> owned_providers_;
  std::vector<MemoryDumpProvider*> providers_;
  std::vector<uint32_t> peak_polls_;
};

TEST_F(MemoryPeakDetectorTest, StaticThresholdPeaksAfterTheSkippedPolls) {
  EXPECT_GE(detector_.static_threshold_for_testing(), 10 * kMiB);
  AddProvider({100, 100, 100, 100, 130, 130, 130, 200, 200});
  // Interval 10 ms, 20 ms between peaks: two polls are skipped after every peak.
  detector_.Start({10, 20, false});
  runner_->FastForwardBy(80);
  EXPECT_EQ(MemoryPeakDetector::RUNNING, detector_.state_for_testing());
  EXPECT_EQ(9u, detector_.poll_count_for_testing());
  // Polls 1-2 skipped, 3 sets the base, 5 rises by 30 MiB, 6-7 skipped, 8 rises by 70.
  EXPECT_EQ(std::vector<uint32_t>({5, 8}), peak_polls_);
}

TEST_F(MemoryPeakDetectorTest, ADropBelowTheLastDumpIsNoPeak) {
  // The window stays flat between the drops (no sliding-window peak either).
  AddProvider({100, 50, 50, 100, 20});
  detector_.Start({10, 0, false});
  runner_->FastForwardBy(60);
  EXPECT_GE(detector_.poll_count_for_testing(), 5u);
  EXPECT_TRUE(peak_polls_.empty());
}

TEST_F(MemoryPeakDetectorTest, StopAndStartLeaveOnePollChain) {
  AddProvider({100});
  detector_.Start({10, 0, false});
  runner_->FastForwardBy(15);
  const uint32_t before = detector_.poll_count_for_testing();
  detector_.Stop();
  detector_.Start({10, 0, false});
  runner_->FastForwardBy(95);
  // One poll at the restart and one each 10 ms after it, not two chains side by side.
  EXPECT_EQ(before + 10, detector_.poll_count_for_testing());
  EXPECT_EQ(1u, runner_->pending_task_count());
}

TEST_F(MemoryPeakDetectorTest, PollsOnlyWhileThereIsAProvider) {
  detector_.Start({10, 0, false});
  runner_->FastForwardBy(100);
  EXPECT_EQ(MemoryPeakDetector::ENABLED, detector_.state_for_testing());
  EXPECT_EQ(0u, detector_.poll_count_for_testing());

  AddProvider({100});
  detector_.NotifyMemoryDumpProvidersChanged();
  runner_->FastForwardBy(25);
  EXPECT_EQ(MemoryPeakDetector::RUNNING, detector_.state_for_testing());
  EXPECT_EQ(3u, detector_.poll_count_for_testing());

  providers_.clear();
  detector_.NotifyMemoryDumpProvidersChanged();
  runner_->FastForwardBy(100);
  EXPECT_EQ(MemoryPeakDetector::ENABLED, detector_.state_for_testing());
  EXPECT_EQ(3u, detector_.poll_count_for_testing());
  EXPECT_TRUE(peak_polls_.empty());
}

TEST_F(MemoryPeakDetectorTest, TearDownSuspendsProvidersAndEndsPolling) {
  ScriptedProvider* provider = AddProvider({100});
  detector_.Start({10, 0, false});
  runner_->FastForwardBy(15);
  detector_.TearDown();
  runner_->FastForwardBy(100);
  EXPECT_EQ(MemoryPeakDetector::NOT_INITIALIZED, detector_.state_for_testing());
  EXPECT_EQ(1, provider->suspends);
  EXPECT_EQ(2u, detector_.poll_count_for_testing());
  EXPECT_EQ(0u, runner_->pending_task_count());
}

TEST_F(MemoryPeakDetectorTest, ZeroIntervalDoesNotStart) {
  AddProvider({100});
  detector_.Start({0, 0, false});
  runner_->FastForwardBy(100);
  EXPECT_EQ(MemoryPeakDetector::DISABLED, detector_.state_for_testing());
  EXPECT_EQ(0u, detector_.poll_count_for_testing());
}

}  // namespace
}  // namespace trace_event
}  // namespace base

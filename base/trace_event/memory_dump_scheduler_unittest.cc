#include "base/trace_event/memory_dump_scheduler.h"

#include <string>
#include <vector>

#include "base/bind.h"
#include "base/trace_event/mock_time_task_runner_test_util.h"
#include "base/trace_event/trace_config.h"
#include "gtest/gtest.h"

namespace base {
namespace trace_event {
namespace {

constexpr uint32_t B = MemoryDumpConfig::BACKGROUND;
constexpr uint32_t L = MemoryDumpConfig::LIGHT;
constexpr uint32_t D = MemoryDumpConfig::DETAILED;

void RecordLevel(std::vector<uint32_t>* levels, uint32_t level) { levels->push_back(level); }

class MemoryDumpSchedulerTest : public testing::Test {
 protected:
  MemoryDumpSchedulerTest() : runner_(MakeRefCounted<MockTimeTaskRunner>()) {}
  ~MemoryDumpSchedulerTest() override {
    scheduler_.Stop();
    runner_->RunUntilIdle();
  }

  MemoryDumpScheduler::Config ConfigOf(std::vector<MemoryDumpScheduler::Trigger> triggers) {
    MemoryDumpScheduler::Config config;
    config.triggers = std::move(triggers);
    config.callback = Bind(&RecordLevel, &levels_);
    return config;
  }

  scoped_refptr<MockTimeTaskRunner> runner_;
  MemoryDumpScheduler scheduler_;
  std::vector<uint32_t> levels_;
};

TEST_F(MemoryDumpSchedulerTest, LevelsFollowTheTriggerRates) {
  struct Case {
    const char* name;
    std::vector<MemoryDumpScheduler::Trigger> triggers;
    int64_t run_ms;
    std::vector<uint32_t> expected;
  };
  const Case cases[] = {
      {"light 250, detailed 2000", {{L, 250}, {D, 2000}}, 2250,
       {D, L, L, L, L, L, L, L, D}},
      {"background only", {{B, 1000}}, 3000, {B, B, B}},
      {"the last light trigger counts", {{L, 100}, {L, 200}, {D, 300}}, 600,
       {D, B, L, D, L, B}},
      {"a period of 0 is ignored", {{L, 0}, {D, 500}}, 1000, {D, D}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    levels_.clear();
    scheduler_.Start(ConfigOf(c.triggers), runner_);
    runner_->FastForwardBy(c.run_ms);
    EXPECT_EQ(c.expected, levels_);
    scheduler_.Stop();
    runner_->RunUntilIdle();
  }
}

TEST_F(MemoryDumpSchedulerTest, TasksArePostedFromTheirOwnSites) {
  scheduler_.Start(ConfigOf({{L, 100}}), runner_);
  runner_->FastForwardBy(200);
  scheduler_.Stop();
  EXPECT_EQ(std::vector<std::string>({"Start", "StartInternal", "Tick", "Tick", "Stop"}),
            runner_->posting_sites());
}

TEST_F(MemoryDumpSchedulerTest, FirstTickComesAfterOnePeriod) {
  scheduler_.Start(ConfigOf({{L, 250}}), runner_);
  runner_->FastForwardBy(249);
  EXPECT_TRUE(levels_.empty());
  runner_->FastForwardBy(1);
  EXPECT_EQ(std::vector<uint32_t>({L}), levels_);
}

TEST_F(MemoryDumpSchedulerTest, NoTriggersOrOnlyZeroPeriodsNeitherTickNorSpin) {
  for (const std::vector<MemoryDumpScheduler::Trigger>& triggers :
       {std::vector<MemoryDumpScheduler::Trigger>{},
        std::vector<MemoryDumpScheduler::Trigger>{{D, 0}, {L, 0}}}) {
    scheduler_.Start(ConfigOf(triggers), runner_);
    runner_->FastForwardBy(10000);
    EXPECT_TRUE(levels_.empty());
    EXPECT_EQ(0u, scheduler_.period_ms_for_testing());
    // Nothing is left to run: no tick re-posts itself.
    EXPECT_EQ(0u, runner_->pending_task_count());
  }
}

TEST_F(MemoryDumpSchedulerTest, StaleTicksOfAnEarlierRunEndThemselves) {
  scheduler_.Start(ConfigOf({{L, 100}}), runner_);
  runner_->RunUntilIdle();
  scheduler_.Stop();
  scheduler_.Start(ConfigOf({{D, 300}}), runner_);
  runner_->FastForwardBy(300);
  // The old run's tick at 100 ms found a newer generation.
  EXPECT_EQ(std::vector<uint32_t>({D}), levels_);
  scheduler_.Stop();
  runner_->FastForwardBy(1000);
  EXPECT_EQ(std::vector<uint32_t>({D}), levels_);
  EXPECT_EQ(0u, runner_->pending_task_count());
}

}  // namespace
}  // namespace trace_event
}  // namespace base

#include "base/time/time.h"

#include <limits>
#include <vector>

#include "gtest/gtest.h"

namespace base {
namespace {

constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
// 2000-01-01 00:00:00 UTC (a Saturday) in microseconds since 1601.
constexpr int64_t kY2k = Time::kTimeTToMicrosecondsOffset + 946684800LL * 1000000;

TEST(TimeDeltaTest, FromMillisecondsSaturatesInsteadOfWrapping) {
  struct Case {
    int64_t ms;
    int64_t us;
  } cases[] = {
      {0, 0},
      {-1, -1000},
      {9223372036854775LL, 9223372036854775000LL},
      {9223372036854776LL, kMax},
      {-9223372036854775LL, -9223372036854775000LL},
      {-9223372036854776LL, -kMax},
      {kMin, -kMax},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.us, TimeDelta::FromMilliseconds(c.ms).InMicroseconds()) << c.ms;
  EXPECT_TRUE(TimeDelta::FromSeconds(kMax / 1000).is_max());
  EXPECT_EQ(-kMax, TimeDelta::FromSeconds(kMin / 1000000 - 1).InMicroseconds());
}

TEST(TimeDeltaTest, MillisecondConversions) {
  struct Case {
    int64_t us;
    int64_t truncated;
    int64_t rounded_up;
  } cases[] = {
      {0, 0, 0},           {999, 0, 1},         {1000, 1, 1},
      {1001, 1, 2},        {-1500, -1, -1},     {-999, 0, 0},
      {kMax, kMax, kMax},  {kMax - 1, kMax / 1000, kMax / 1000 + 1},
  };
  for (const Case& c : cases) {
    TimeDelta delta = TimeDelta::FromMicroseconds(c.us);
    EXPECT_EQ(c.truncated, delta.InMilliseconds()) << c.us;
    EXPECT_EQ(c.rounded_up, delta.InMillisecondsRoundedUp()) << c.us;
  }
}

TEST(TimeDeltaTest, MultiplicationSaturatesBySign) {
  const struct {
    int64_t us;
    int64_t multiplier;
    int64_t product;
  } cases[] = {
      {3, -4, -12},
      {kMax, 1, kMax},
      {kMax, 2, kMax},
      {kMax, -2, -kMax},
      {-1, kMax, -kMax},
      {-2, kMax, -kMax},
      {-2, -kMax, kMax},
      {0, kMin, 0},
      {kMin, -1, kMax},
      {1 << 20, int64_t{1} << 43, kMax},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.product, (TimeDelta::FromMicroseconds(c.us) * c.multiplier).InMicroseconds())
        << c.us << " * " << c.multiplier;
  }
}

// Only an overflow saturates: an exact result of the smallest value is kept.
TEST(TimeDeltaTest, SaturatedArithmeticStopsAtPlusOrMinusMaxOnOverflowOnly) {
  struct Case {
    int64_t value;
    int64_t delta;
    int64_t sum;
    int64_t difference;
  } cases[] = {
      {1, 2, 3, -1},
      {kMax - 1, 5, kMax, kMax - 6},
      {kMax, 1, kMax, kMax - 1},
      {-kMax, -1, kMin, -kMax + 1},
      {-kMax, 1, -kMax + 1, kMin},
      {kMin, -1, -kMax, kMin + 1},
      {-kMax, kMax, 0, -kMax},
      {kMax, -kMax, 0, kMax},
      {0, kMin, kMin, kMax},
      {-6, kMin + 5, -kMax, kMax - 10},
      {-1, kMin + 1, kMin, kMax - 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.sum, TimeDelta::SaturatedAdd(c.value, c.delta)) << c.value << "+" << c.delta;
    EXPECT_EQ(c.difference, TimeDelta::SaturatedSub(c.value, c.delta))
        << c.value << "-" << c.delta;
  }
  EXPECT_TRUE((TimeDelta::Max() + TimeDelta::FromMicroseconds(1)).is_max());
  EXPECT_TRUE((-TimeDelta::FromMicroseconds(kMin)).is_max());
  EXPECT_TRUE((Time::FromInternalValue(5) + TimeDelta::Max()).is_max());
  EXPECT_TRUE((TimeTicks::FromInternalValue(1) + TimeDelta::Max()).is_max());
  EXPECT_EQ(-kMax, (TimeTicks::FromInternalValue(-5) - TimeTicks::FromInternalValue(kMax))
                       .InMicroseconds());
}

TEST(TimeTest, FromFileTime) {
  EXPECT_TRUE(Time::FromFileTime(uint64_t{0}).is_null());
  EXPECT_TRUE(Time::FromFileTime(~uint64_t{0}).is_max());
  EXPECT_EQ(1, Time::FromFileTime(uint64_t{19}).ToInternalValue());
  FILETIME all_ones = {0xFFFFFFFF, 0xFFFFFFFF};
  EXPECT_TRUE(Time::FromFileTime(all_ones).is_max());
  FILETIME high_only = {0, 1};
  EXPECT_EQ(429496729, Time::FromFileTime(high_only).ToInternalValue());
}

TEST(TimeTest, ToTimeTAndUnixMilliseconds) {
  struct Case {
    int64_t us;
    int64_t time_t_value;
    int64_t unix_ms;
  } cases[] = {
      {0, 0, 0},
      {Time::kTimeTToMicrosecondsOffset, 0, 0},
      {Time::kTimeTToMicrosecondsOffset + 1500000, 1, 1500},
      {Time::kTimeTToMicrosecondsOffset - 1500000, -1, -1500},
      {kY2k, 946684800, 946684800000},
      {kMax, kMax, kMax},
      {kMax - Time::kTimeTToMicrosecondsOffset, kMax,
       (kMax - 2 * Time::kTimeTToMicrosecondsOffset) / 1000},
  };
  for (const Case& c : cases) {
    Time t = Time::FromInternalValue(c.us);
    EXPECT_EQ(c.time_t_value, t.ToTimeT()) << c.us;
    EXPECT_EQ(c.unix_ms, t.ToUnixEpochMilliseconds()) << c.us;
  }
}

std::vector<int> Fields(const Time::Exploded& e) {
  return {e.year,   e.month,  e.day_of_week, e.day_of_month,
          e.hour,   e.minute, e.second,      e.millisecond};
}

TEST(TimeTest, UtcExplode) {
  Time::Exploded e;
  Time::FromInternalValue(kY2k + 3723LL * 1000000 + 123456).UTCExplode(&e);
  EXPECT_EQ((std::vector<int>{2000, 1, 6, 1, 1, 2, 3, 123}), Fields(e));
}

TEST(TimeTest, ExplodeOfUnrepresentableTimesIsAllZero) {
  // Max() would wrap when scaled to 100-ns units; it must not come out as some date.
  for (int64_t us : {int64_t{-1}, kMin, kMax, kMax / 10 + 1}) {
    for (bool local : {false, true}) {
      Time::Exploded e;
      Time::FromInternalValue(us).Explode(local, &e);
      EXPECT_EQ(std::vector<int>(8, 0), Fields(e)) << us;
    }
  }
}

TEST(TimeTest, LocalExplodeRoundTripsThroughFromExploded) {
  // Noon avoids daylight-saving transitions in any time zone.
  Time::Exploded noon = {2020, 1, 0, 15, 12, 34, 56, 789};
  Time t;
  ASSERT_TRUE(Time::FromExploded(noon, &t));
  Time::Exploded back;
  t.LocalExplode(&back);
  EXPECT_EQ((std::vector<int>{2020, 1, 3, 15, 12, 34, 56, 789}), Fields(back));  // a Wednesday
  EXPECT_EQ(0, t.ToInternalValue() % 1000);
}

TEST(TimeTest, FromExplodedRejectsOutOfRangeFields) {
  const Time::Exploded good = {2020, 6, 1, 15, 12, 30, 30, 500};
  struct Case {
    const char* what;
    int Time::Exploded::*field;
    int value;
  } cases[] = {
      {"year above 65535", &Time::Exploded::year, 65536},
      {"negative year", &Time::Exploded::year, -1},
      {"month 0", &Time::Exploded::month, 0},
      {"month 13", &Time::Exploded::month, 13},
      {"day 0", &Time::Exploded::day_of_month, 0},
      {"day 31 of June", &Time::Exploded::day_of_month, 31},
      {"hour 24", &Time::Exploded::hour, 24},
      {"minute 60", &Time::Exploded::minute, 60},
      {"second 60", &Time::Exploded::second, 60},
      {"millisecond 1000", &Time::Exploded::millisecond, 1000},
      {"negative day of week", &Time::Exploded::day_of_week, -1},
      {"day of week above 65535", &Time::Exploded::day_of_week, 70000},
  };
  Time t;
  ASSERT_TRUE(Time::FromExploded(good, &t));
  for (const Case& c : cases) {
    Time::Exploded bad = good;
    bad.*c.field = c.value;
    t = Time::FromInternalValue(42);
    EXPECT_FALSE(Time::FromExploded(bad, &t)) << c.what;
    EXPECT_TRUE(t.is_null()) << c.what;
  }
}

TEST(TimeTest, ClocksMoveForward) {
  TimeTicks ticks = TimeTicks::Now();
  Time now = Time::Now();
  EXPECT_FALSE(ticks.is_null());
  EXPECT_GE(TimeTicks::Now(), ticks);
  EXPECT_GT(now.ToTimeT(), 1577836800);  // after 2020-01-01
  EXPECT_GT(Time::NowFromSystemTime().ToTimeT(), 1577836800);
}

// The injected timeGetTime returns these values in turn.
const DWORD* g_fake_ticks = nullptr;
DWORD WINAPI FakeTimeGetTime() { return *g_fake_ticks++; }

TEST(RolloverTest, WrapAdvancesByTheRemainderAndARisingTopByteIsNoRollover) {
  time_internal::SetTimeGetTimeFunctionForTesting(&FakeTimeGetTime);
  static const DWORD ticks[] = {0xFFFFFFF0u, 0x10u, 0x20u};
  g_fake_ticks = ticks;
  TimeTicks before = time_internal::RolloverProtectedNow();
  TimeTicks after = time_internal::RolloverProtectedNow();
  EXPECT_EQ(0xFFFFFFF0LL * 1000, before.ToInternalValue());
  EXPECT_EQ(32000, (after - before).InMicroseconds());
  // The rollover is counted once, not again for a later reading.
  EXPECT_EQ(48000, (time_internal::RolloverProtectedNow() - before).InMicroseconds());

  time_internal::SetTimeGetTimeFunctionForTesting(&FakeTimeGetTime);  // a fresh clock
  static const DWORD rising[] = {0x10u, 0x7F000000u, 0xFF000000u, 0x01000000u, 0x80000000u};
  g_fake_ticks = rising;
  int64_t expected[] = {0x10LL, 0x7F000000LL, 0xFF000000LL, 0x101000000LL, 0x180000000LL};
  for (int64_t ms : expected)
    EXPECT_EQ(ms * 1000, time_internal::RolloverProtectedNow().ToInternalValue());
  time_internal::SetTimeGetTimeFunctionForTesting(nullptr);
}

int g_begin_calls = 0;
int g_end_calls = 0;
UINT g_last_period = 0;
UINT WINAPI FakeTimeBeginPeriod(UINT period) {
  ++g_begin_calls;
  g_last_period = period;
  return 0;
}
UINT WINAPI FakeTimeEndPeriod(UINT period) {
  ++g_end_calls;
  g_last_period = period;
  return 0;
}

TEST(HighResolutionTimerTest, PeriodHeldUntilLastDeactivation) {
  g_begin_calls = g_end_calls = 0;
  time_internal::SetTimerPeriodFunctionsForTesting(&FakeTimeBeginPeriod, &FakeTimeEndPeriod);
  Time::ActivateHighResolutionTimer(true);
  Time::ActivateHighResolutionTimer(true);
  Time::ActivateHighResolutionTimer(false);
  EXPECT_EQ(1, g_begin_calls);
  EXPECT_EQ(0, g_end_calls);
  EXPECT_EQ(4u, g_last_period);
  EXPECT_TRUE(Time::IsHighResolutionTimerInUse());
  Time::ActivateHighResolutionTimer(false);
  EXPECT_EQ(1, g_end_calls);
  EXPECT_EQ(4u, g_last_period);
  EXPECT_FALSE(Time::IsHighResolutionTimerInUse());

  // A stray deactivation must not wrap the count and swallow the next activation.
  Time::ActivateHighResolutionTimer(false);
  EXPECT_EQ(1, g_end_calls);
  Time::ActivateHighResolutionTimer(true);
  EXPECT_EQ(2, g_begin_calls);
  Time::ActivateHighResolutionTimer(false);
  EXPECT_EQ(2, g_end_calls);
  time_internal::SetTimerPeriodFunctionsForTesting(nullptr, nullptr);
}

}  // namespace
}  // namespace base

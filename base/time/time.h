// Time values: wall-clock Time, monotonic TimeTicks and signed TimeDelta durations, all
// signed 64-bit microseconds with saturating arithmetic.
#ifndef BASE_TIME_TIME_H_
#define BASE_TIME_TIME_H_

#include <windows.h>

#include <stdint.h>

#include <limits>

namespace base {

class CpuInfo;

// A signed duration in microseconds. The largest value stands for "forever"; arithmetic
// that overflows sticks at it, or at its negation when the overflow is downwards.
class TimeDelta {
 public:
  constexpr TimeDelta() : delta_(0) {}

  static constexpr TimeDelta FromMicroseconds(int64_t us) { return TimeDelta(us); }
  static TimeDelta FromMilliseconds(int64_t ms);
  static TimeDelta FromSeconds(int64_t seconds);
  static constexpr TimeDelta Max() { return TimeDelta(std::numeric_limits<int64_t>::max()); }

  // value + delta and value - delta; a result that overflows becomes +/- the largest
  // value (an exact result of the smallest value stands). Shared by Time, TimeTicks and
  // TimeDelta.
  static int64_t SaturatedAdd(int64_t value, int64_t delta);
  static int64_t SaturatedSub(int64_t value, int64_t delta);

  constexpr bool is_zero() const { return delta_ == 0; }
  constexpr bool is_max() const { return delta_ == std::numeric_limits<int64_t>::max(); }

  constexpr int64_t InMicroseconds() const { return delta_; }
  // Truncated toward zero; the largest value stays the largest.
  int64_t InMilliseconds() const;
  // Rounded up to the next whole millisecond; the largest value stays the largest.
  int64_t InMillisecondsRoundedUp() const;
  double InMillisecondsF() const { return static_cast<double>(delta_) / 1000.0; }
  double InSecondsF() const { return static_cast<double>(delta_) / 1000000.0; }

  TimeDelta operator+(TimeDelta other) const {
    return TimeDelta(SaturatedAdd(delta_, other.delta_));
  }
  TimeDelta operator-(TimeDelta other) const {
    return TimeDelta(SaturatedSub(delta_, other.delta_));
  }
  TimeDelta operator-() const { return TimeDelta(SaturatedSub(0, delta_)); }
  // On overflow: the largest value when both signs agree (zero counts as positive),
  // else its negation.
  TimeDelta operator*(int64_t multiplier) const;
  TimeDelta& operator+=(TimeDelta other) { return *this = *this + other; }
  TimeDelta& operator-=(TimeDelta other) { return *this = *this - other; }

  constexpr bool operator==(TimeDelta other) const { return delta_ == other.delta_; }
  constexpr bool operator!=(TimeDelta other) const { return delta_ != other.delta_; }
  constexpr bool operator<(TimeDelta other) const { return delta_ < other.delta_; }
  constexpr bool operator<=(TimeDelta other) const { return delta_ <= other.delta_; }
  constexpr bool operator>(TimeDelta other) const { return delta_ > other.delta_; }
  constexpr bool operator>=(TimeDelta other) const { return delta_ >= other.delta_; }

 private:
  constexpr explicit TimeDelta(int64_t us) : delta_(us) {}

  int64_t delta_;
};

namespace time_internal {

// What Time and TimeTicks share: a microsecond count with saturating arithmetic.
template <class T>
class TimeBase {
 public:
  static constexpr T FromInternalValue(int64_t us) { return T(us); }

  constexpr bool is_null() const { return us_ == 0; }
  constexpr bool is_max() const { return us_ == std::numeric_limits<int64_t>::max(); }
  constexpr int64_t ToInternalValue() const { return us_; }

  T operator+(TimeDelta delta) const {
    return T(TimeDelta::SaturatedAdd(us_, delta.InMicroseconds()));
  }
  T operator-(TimeDelta delta) const {
    return T(TimeDelta::SaturatedSub(us_, delta.InMicroseconds()));
  }
  TimeDelta operator-(T other) const {
    return TimeDelta::FromMicroseconds(TimeDelta::SaturatedSub(us_, other.us_));
  }
  T& operator+=(TimeDelta delta) { return self() = self() + delta; }
  T& operator-=(TimeDelta delta) { return self() = self() - delta; }

  constexpr bool operator==(T other) const { return us_ == other.us_; }
  constexpr bool operator!=(T other) const { return us_ != other.us_; }
  constexpr bool operator<(T other) const { return us_ < other.us_; }
  constexpr bool operator<=(T other) const { return us_ <= other.us_; }
  constexpr bool operator>(T other) const { return us_ > other.us_; }
  constexpr bool operator>=(T other) const { return us_ >= other.us_; }

 protected:
  constexpr explicit TimeBase(int64_t us) : us_(us) {}

  int64_t us_;

 private:
  T& self() { return static_cast<T&>(*this); }
};

}  // namespace time_internal

// Wall-clock time: microseconds since 1601-01-01 00:00 UTC (the FILETIME epoch). 0 is the
// null time, the largest value stands for "never"/infinity.
class Time : public time_internal::TimeBase<Time> {
 public:
  // Microseconds from 1601-01-01 to 1970-01-01.
  static constexpr int64_t kTimeTToMicrosecondsOffset = 11644473600000000LL;

  // Broken-down time; the field order matches SYSTEMTIME.
  struct Exploded {
    int year;
    int month;         // 1-12
    int day_of_week;   // 0 = Sunday
    int day_of_month;  // 1-31
    int hour;
    int minute;
    int second;
    int millisecond;
  };

  constexpr Time() : TimeBase(0) {}

  static Time Now();
  // Re-reads the system clock (Now() does so at most once a minute).
  static Time NowFromSystemTime();
  static constexpr Time Max() { return Time(std::numeric_limits<int64_t>::max()); }
  // 100-ns units since 1601; all ones means "never" and gives Max().
  static Time FromFileTime(uint64_t file_time);
  static Time FromFileTime(FILETIME file_time);
  // Takes |exploded| as local time. Fields outside 0..65535 or a date the system rejects
  // give false and a null |time|.
  [[nodiscard]] static bool FromExploded(const Exploded& exploded, Time* time);

  // Seconds since 1970; null stays 0, times at or near Max() give the largest value.
  int64_t ToTimeT() const;
  int64_t ToUnixEpochMilliseconds() const;
  // Local or UTC broken-down time; all fields 0 when the time cannot be converted.
  void Explode(bool is_local, Exploded* exploded) const;
  void LocalExplode(Exploded* exploded) const { Explode(true, exploded); }
  void UTCExplode(Exploded* exploded) const { Explode(false, exploded); }

  // Counts message loops that want the 4 ms system timer period for short delays; the
  // period is requested on the first activation and given back with the last.
  static void ActivateHighResolutionTimer(bool activating);
  static bool IsHighResolutionTimerInUse();

 private:
  friend class time_internal::TimeBase<Time>;
  constexpr explicit Time(int64_t us) : TimeBase(us) {}
};

// Monotonic time in microseconds from an arbitrary origin; 0 is the null tick.
class TimeTicks : public time_internal::TimeBase<TimeTicks> {
 public:
  constexpr TimeTicks() : TimeBase(0) {}

  static TimeTicks Now();

 private:
  friend class time_internal::TimeBase<TimeTicks>;
  constexpr explicit TimeTicks(int64_t us) : TimeBase(us) {}
};

// Support for per-thread CPU time measured with the time-stamp counter.
class ThreadTicks {
 public:
  // The CPU has an invariant time-stamp counter that is usable as a clock.
  static bool IsSupported();
  // Time-stamp counter ticks per second, measured against the performance counter; 0
  // while less than 50 ms have passed since the first call (call again later).
  static double TscTicksPerSecond();
};

namespace time_internal {

using TimeGetTimeFunction = DWORD(WINAPI*)();
using TimerPeriodFunction = UINT(WINAPI*)(UINT);  // MMRESULT (UINT)

// The millisecond clock behind TimeTicks on machines without a usable performance
// counter: timeGetTime extended past its 49.7-day wrap.
TimeTicks RolloverProtectedNow();

// Whether |cpu|'s time-stamp counter can back the high-resolution clocks: invariant, and
// not the AMD family-15 (K8) counter that drifts between cores.
bool CpuHasUsableTsc(const CpuInfo& cpu);

// Test hooks: replace timeGetTime (and reset the rollover state), or timeBeginPeriod and
// timeEndPeriod. Null restores the system functions.
void SetTimeGetTimeFunctionForTesting(TimeGetTimeFunction function);
void SetTimerPeriodFunctionsForTesting(TimerPeriodFunction begin, TimerPeriodFunction end);

}  // namespace time_internal

}  // namespace base

#endif  // BASE_TIME_TIME_H_

#include "base/time/time.h"

#include <windows.h>

#include <mmsystem.h>
#include <x86intrin.h>

#include <atomic>
#include <cstring>

#include "base/cpu.h"
#include "base/numerics/checked_math.h"
#include "base/synchronization/lock.h"

namespace base {

namespace {

constexpr int64_t kMax = std::numeric_limits<int64_t>::max();

// value * unit, sticking at +/- the largest value instead of wrapping.
int64_t SaturatedProduct(int64_t value, int64_t unit) {
  if (value > kMax / unit)
    return kMax;
  if (value < -(kMax / unit))
    return -kMax;
  return value * unit;
}

// ---------------------------------------------------------------- CPU facts
bool CpuHasUsableTsc() {
  static const CpuInfo cpu;
  return time_internal::CpuHasUsableTsc(cpu);
}

// ---------------------------------------------------------------- tick clocks
std::atomic<time_internal::TimeGetTimeFunction> g_time_get_time{&timeGetTime};
// Low byte: top 8 bits of the last timeGetTime reading; high half: rollovers seen.
std::atomic<uint32_t> g_rollover_state{0};

std::atomic<int64_t> g_qpc_frequency{0};

TimeTicks QpcNow() {
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  const int64_t c = counter.QuadPart;
  const int64_t frequency = g_qpc_frequency.load(std::memory_order_relaxed);
  // Split the conversion where c * 1000000 could overflow.
  if (c >= 9223372036855LL)
    return TimeTicks::FromInternalValue((c / frequency) * 1000000 +
                                        (c % frequency) * 1000000 / frequency);
  return TimeTicks::FromInternalValue(c * 1000000 / frequency);
}

using TicksNowFunction = TimeTicks (*)();
TimeTicks InitializeTicksNow();
std::atomic<TicksNowFunction> g_ticks_now{&InitializeTicksNow};

// Racing first callers reach the same choice, so no lock is needed.
TimeTicks InitializeTicksNow() {
  LARGE_INTEGER frequency;
  int64_t f = QueryPerformanceFrequency(&frequency) ? frequency.QuadPart : 0;
  g_qpc_frequency.store(f, std::memory_order_relaxed);
  TicksNowFunction chosen =
      (f >= 1 && CpuHasUsableTsc()) ? &QpcNow : &time_internal::RolloverProtectedNow;
  g_ticks_now.store(chosen);
  return chosen();
}

// ---------------------------------------------------------------- wall clock
std::atomic<int64_t> g_base_time{0};
std::atomic<int64_t> g_base_ticks{0};

int64_t FileTimeToMicroseconds(const FILETIME& ft) {
  uint64_t value = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  return static_cast<int64_t>(value / 10);
}

void InitializeClock() {
  g_base_ticks.store(TimeTicks::Now().ToInternalValue(), std::memory_order_relaxed);
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  g_base_time.store(FileTimeToMicroseconds(ft), std::memory_order_relaxed);
}

// ---------------------------------------------------------------- timer period
constexpr UINT kHighResolutionPeriodMs = 4;
Lock g_high_resolution_lock;  // constexpr-constructed: ready before any caller
uint32_t g_high_resolution_count = 0;
time_internal::TimerPeriodFunction g_time_begin_period = &timeBeginPeriod;
time_internal::TimerPeriodFunction g_time_end_period = &timeEndPeriod;

}  // namespace

// ---------------------------------------------------------------- TimeDelta
TimeDelta TimeDelta::FromMilliseconds(int64_t ms) {
  return TimeDelta(SaturatedProduct(ms, 1000));
}

TimeDelta TimeDelta::FromSeconds(int64_t seconds) {
  return TimeDelta(SaturatedProduct(seconds, 1000000));
}

TimeDelta TimeDelta::operator*(int64_t multiplier) const {
  int64_t product;
  if (CheckedMultiply(delta_, multiplier, &product)) return TimeDelta(product);
  return TimeDelta((delta_ < 0) == (multiplier < 0) ? kMax : -kMax);
}

int64_t TimeDelta::SaturatedAdd(int64_t value, int64_t delta) {
  int64_t result;
  if (__builtin_add_overflow(value, delta, &result))
    return delta > 0 ? kMax : -kMax;
  return result;
}

int64_t TimeDelta::SaturatedSub(int64_t value, int64_t delta) {
  int64_t result;
  if (__builtin_sub_overflow(value, delta, &result))
    return delta < 0 ? kMax : -kMax;
  return result;
}

int64_t TimeDelta::InMilliseconds() const {
  if (is_max())
    return kMax;
  return delta_ / 1000;
}

int64_t TimeDelta::InMillisecondsRoundedUp() const {
  if (is_max())
    return kMax;
  int64_t ms = delta_ / 1000;
  return (delta_ % 1000 > 0) ? ms + 1 : ms;
}

// ---------------------------------------------------------------- Time
Time Time::Now() {
  if (g_base_time.load(std::memory_order_relaxed) == 0)
    InitializeClock();
  for (;;) {
    TimeDelta elapsed =
        TimeTicks::Now() -
        TimeTicks::FromInternalValue(g_base_ticks.load(std::memory_order_relaxed));
    // Re-read the system clock once a minute so that clock changes show up.
    if (elapsed.is_max() || elapsed.InMilliseconds() > 60000) {
      InitializeClock();
      continue;
    }
    return Time(g_base_time.load(std::memory_order_relaxed)) + elapsed;
  }
}

Time Time::NowFromSystemTime() {
  InitializeClock();
  return Time(g_base_time.load(std::memory_order_relaxed));
}

Time Time::FromFileTime(uint64_t file_time) {
  if (file_time == 0)
    return Time();
  if (file_time == ~uint64_t{0})
    return Max();
  return Time(static_cast<int64_t>(file_time / 10));
}

Time Time::FromFileTime(FILETIME file_time) {
  return FromFileTime((static_cast<uint64_t>(file_time.dwHighDateTime) << 32) |
                      file_time.dwLowDateTime);
}

int64_t Time::ToTimeT() const {
  if (is_null())
    return 0;
  if (us_ >= kMax - kTimeTToMicrosecondsOffset)
    return kMax;
  return TimeDelta::SaturatedSub(us_, kTimeTToMicrosecondsOffset) / 1000000;
}

int64_t Time::ToUnixEpochMilliseconds() const {
  if (is_null())
    return 0;
  if (is_max())
    return kMax;
  return TimeDelta::SaturatedSub(us_, kTimeTToMicrosecondsOffset) / 1000;
}

void Time::Explode(bool is_local, Exploded* exploded) const {
  std::memset(exploded, 0, sizeof(*exploded));
  // Beyond this the 100-ns count no longer fits a FILETIME and would wrap to a wrong date.
  if (us_ < 0 || us_ > kMax / 10)
    return;
  uint64_t ticks = static_cast<uint64_t>(us_) * 10;
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(ticks);
  ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  SYSTEMTIME utc, st;
  if (!FileTimeToSystemTime(&ft, &utc))
    return;
  if (!is_local)
    st = utc;
  else if (!SystemTimeToTzSpecificLocalTime(nullptr, &utc, &st))
    return;
  exploded->year = st.wYear;
  exploded->month = st.wMonth;
  exploded->day_of_week = st.wDayOfWeek;
  exploded->day_of_month = st.wDay;
  exploded->hour = st.wHour;
  exploded->minute = st.wMinute;
  exploded->second = st.wSecond;
  exploded->millisecond = st.wMilliseconds;
}

bool Time::FromExploded(const Exploded& exploded, Time* time) {
  *time = Time();
  const int fields[] = {exploded.year,   exploded.month,  exploded.day_of_week,
                        exploded.day_of_month, exploded.hour, exploded.minute,
                        exploded.second, exploded.millisecond};
  for (int field : fields) {
    if (field < 0 || field > 0xFFFF)
      return false;
  }
  SYSTEMTIME st;
  st.wYear = static_cast<WORD>(exploded.year);
  st.wMonth = static_cast<WORD>(exploded.month);
  st.wDayOfWeek = static_cast<WORD>(exploded.day_of_week);
  st.wDay = static_cast<WORD>(exploded.day_of_month);
  st.wHour = static_cast<WORD>(exploded.hour);
  st.wMinute = static_cast<WORD>(exploded.minute);
  st.wSecond = static_cast<WORD>(exploded.second);
  st.wMilliseconds = static_cast<WORD>(exploded.millisecond);
  SYSTEMTIME utc;
  FILETIME ft;
  if (!TzSpecificLocalTimeToSystemTime(nullptr, &st, &utc) || !SystemTimeToFileTime(&utc, &ft))
    return false;
  *time = Time(FileTimeToMicroseconds(ft));
  return true;
}

void Time::ActivateHighResolutionTimer(bool activating) {
  AutoLock lock(g_high_resolution_lock);
  if (activating) {
    if (++g_high_resolution_count == 1)
      g_time_begin_period(kHighResolutionPeriodMs);
  } else if (g_high_resolution_count > 0) {
    // An unmatched deactivation is ignored: wrapping the count would end the period of
    // others or leave it on for good.
    if (--g_high_resolution_count == 0)
      g_time_end_period(kHighResolutionPeriodMs);
  }
}

bool Time::IsHighResolutionTimerInUse() {
  AutoLock lock(g_high_resolution_lock);
  return g_high_resolution_count > 0;
}

// ---------------------------------------------------------------- TimeTicks
TimeTicks TimeTicks::Now() {
  return g_ticks_now.load(std::memory_order_relaxed)();
}

// ---------------------------------------------------------------- ThreadTicks
bool ThreadTicks::IsSupported() {
  return CpuHasUsableTsc();
}

double ThreadTicks::TscTicksPerSecond() {
  static std::atomic<double> cached{0.0};
  double frequency = cached.load(std::memory_order_relaxed);
  if (frequency != 0.0)
    return frequency;

  // Read both counters close together: a preemption between them skews the result.
  HANDLE thread = GetCurrentThread();
  int previous_priority = GetThreadPriority(thread);
  SetThreadPriority(thread, THREAD_PRIORITY_HIGHEST);
  static const uint64_t tsc_initial = __rdtsc();
  static const int64_t qpc_initial = [] {
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return counter.QuadPart;
  }();
  uint64_t tsc_now = __rdtsc();
  LARGE_INTEGER qpc_now;
  QueryPerformanceCounter(&qpc_now);
  SetThreadPriority(thread, previous_priority);

  LARGE_INTEGER qpc_frequency;
  if (!QueryPerformanceFrequency(&qpc_frequency) || qpc_frequency.QuadPart <= 0)
    return 0.0;
  double elapsed = static_cast<double>(qpc_now.QuadPart - qpc_initial) /
                   static_cast<double>(qpc_frequency.QuadPart);
  // Too short a span gives a poor estimate; measure again on a later call.
  if (elapsed < 0.05)
    return 0.0;
  frequency = static_cast<double>(tsc_now - tsc_initial) / elapsed;
  cached.store(frequency, std::memory_order_relaxed);
  return frequency;
}

// ---------------------------------------------------------------- internals
namespace time_internal {

bool CpuHasUsableTsc(const CpuInfo& cpu) {
  return cpu.has_non_stop_time_stamp_counter() &&
         !(cpu.vendor_name() == "AuthenticAMD" && cpu.family() == 15);
}

TimeTicks RolloverProtectedNow() {
  for (;;) {
    uint32_t state = g_rollover_state.load();
    DWORD now = g_time_get_time.load(std::memory_order_relaxed)();
    uint32_t top = now >> 24;
    uint32_t rollovers = state >> 16;
    if (top < (state & 0xFF))
      rollovers = (rollovers + 1) & 0xFFFF;
    uint32_t new_state = top | (rollovers << 16);
    // Another thread may have recorded a later reading meanwhile: start again.
    if (new_state != state && !g_rollover_state.compare_exchange_strong(state, new_state))
      continue;
    return TimeTicks::FromInternalValue(
        static_cast<int64_t>((static_cast<uint64_t>(rollovers) << 32) + now) * 1000);
  }
}

void SetTimeGetTimeFunctionForTesting(TimeGetTimeFunction function) {
  g_time_get_time.store(function ? function : &timeGetTime);
  g_rollover_state.store(0);
}

void SetTimerPeriodFunctionsForTesting(TimerPeriodFunction begin, TimerPeriodFunction end) {
  AutoLock lock(g_high_resolution_lock);
  g_time_begin_period = begin ? begin : &timeBeginPeriod;
  g_time_end_period = end ? end : &timeEndPeriod;
}

}  // namespace time_internal

}  // namespace base

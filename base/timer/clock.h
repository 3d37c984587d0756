// Clock: a wall-clock source that tests can replace.
#ifndef BASE_TIMER_CLOCK_H_
#define BASE_TIMER_CLOCK_H_

#include "base/time/time.h"

namespace base {

class Clock {
 public:
  virtual ~Clock() = default;
  // Time::Now unless overridden.
  virtual Time Now() { return Time::Now(); }
};

}  // namespace base

#endif  // BASE_TIMER_CLOCK_H_

// The waiting half of a MessageLoop: a pump runs the loop's work, delayed work and idle
// work, and sleeps in between until it is woken or the next delayed task is due.
#ifndef BASE_MESSAGE_LOOP_MESSAGE_PUMP_H_
#define BASE_MESSAGE_LOOP_MESSAGE_PUMP_H_

#include "base/time/time.h"

namespace base {

class MessagePump {
 public:
  // Implemented by MessageLoop. Each method returns whether it did work.
  class Delegate {
   public:
    virtual ~Delegate() = default;
    virtual bool DoWork() = 0;
    // Runs a due delayed task; stores the next delayed run time (0 = none) in
    // |next_delayed_work_time|.
    virtual bool DoDelayedWork(TimeTicks* next_delayed_work_time) = 0;
    virtual bool DoIdleWork() = 0;
    // Whether DoWork or DoDelayedWork would run a task now (queued work, or delayed work
    // that is due); a post after a false answer wakes the pump again.
    virtual bool HasWaitingWork() = 0;
  };

  MessagePump() = default;
  virtual ~MessagePump() = default;
  MessagePump(const MessagePump&) = delete;
  MessagePump& operator=(const MessagePump&) = delete;

  // Runs until Quit is called for this run. Runs nest.
  virtual void Run(Delegate* delegate) = 0;
  // Ends the innermost Run. Loop thread only.
  virtual void Quit() = 0;
  // Wakes the pump so that it calls DoWork. The one method any thread may call.
  virtual void ScheduleWork() = 0;
  // Asks for DoDelayedWork at |delayed_work_time|. Loop thread only.
  virtual void ScheduleDelayedWork(const TimeTicks& delayed_work_time) = 0;
  virtual void SetTimerSlack(unsigned /*value*/) {}
};

}  // namespace base

#endif  // BASE_MESSAGE_LOOP_MESSAGE_PUMP_H_

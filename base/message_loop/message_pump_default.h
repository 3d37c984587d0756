// The pump of default loops: sleeps on one auto-reset event until woken or until the
// next delayed task is due.
#ifndef BASE_MESSAGE_LOOP_MESSAGE_PUMP_DEFAULT_H_
#define BASE_MESSAGE_LOOP_MESSAGE_PUMP_DEFAULT_H_

#include "base/message_loop/message_pump.h"
#include "base/time/time.h"
#include "base/win/scoped_handle.h"

namespace base {

class DefaultMessagePump : public MessagePump {
 public:
  DefaultMessagePump();
  ~DefaultMessagePump() override;

  void Run(Delegate* delegate) override;
  void Quit() override;
  void ScheduleWork() override;
  void ScheduleDelayedWork(const TimeTicks& delayed_work_time) override;

 private:
  // Waits for the event, at most until the delayed work time.
  void WaitForWork();

  bool keep_running_ = true;
  ScopedHandle event_;
  TimeTicks delayed_work_time_;
};

}  // namespace base

#endif  // BASE_MESSAGE_LOOP_MESSAGE_PUMP_DEFAULT_H_

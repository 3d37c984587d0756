// The Win32 pumps. MessagePumpWin holds what the UI and I/O pumps share: the nested run
// states, the delayed work time and the one-outstanding-wake-up flag. MessagePumpForUI
// interleaves Windows messages with the loop's tasks and keeps delayed tasks running
// inside modal loops of Windows (message boxes, dialogs) through a window timer.
#ifndef BASE_MESSAGE_LOOP_MESSAGE_PUMP_WIN_H_
#define BASE_MESSAGE_LOOP_MESSAGE_PUMP_WIN_H_

#include <windows.h>

#include "base/message_loop/message_pump.h"
#include "base/message_loop/message_pump_dispatcher.h"
#include "base/time/time.h"
#include "base/win/message_window.h"

namespace base {

// Values of the "Base.MessageLoopProblem" histogram.
enum MessageLoopProblem {
  MESSAGE_POST_ERROR = 0,
  COMPLETION_POST_ERROR = 1,
  SET_TIMER_ERROR = 2,
  RECEIVED_WM_QUIT_ERROR = 3,
  MESSAGE_LOOP_PROBLEM_MAX = 4,
};

class MessagePumpWin : public MessagePump {
 public:
  MessagePumpWin();
  ~MessagePumpWin() override;

  void Run(Delegate* delegate) override;
  void Quit() override;

  // Adds one sample to "Base.MessageLoopProblem".
  static void RecordProblem(MessageLoopProblem problem);

 protected:
  struct RunState {
    Delegate* delegate;
    MessagePumpDispatcher* dispatcher;
    bool should_quit;
    int run_depth;
    int schedule_work_error_count;
    Time last_schedule_work_error_time;
  };

  // Pushes a run state, runs DoRunLoop and pops the state again.
  void RunWithDispatcherImpl(Delegate* delegate, MessagePumpDispatcher* dispatcher);
  virtual void DoRunLoop() = 0;

  // Milliseconds until the delayed work time, rounded up; -1 without delayed work.
  int GetCurrentDelay() const;

  // Counts a failed wake-up post on the run in progress. Only the pump's own thread
  // touches the run state: another thread's post could race with the run's end and
  // write into a finished run's stack frame.
  void NoteScheduleWorkError();

  TimeTicks delayed_work_time_;
  // 1 while a wake-up is outstanding; changed only by InterlockedExchange.
  volatile LONG have_work_ = 0;
  RunState* state_ = nullptr;
  // The thread that runs the pump (the one that created it).
  const DWORD thread_id_;
};

class MessagePumpForUI : public MessagePumpWin {
 public:
  // The private message that wakes the pump.
  static const UINT kMsgHaveWork = WM_USER + 1;

  MessagePumpForUI();
  ~MessagePumpForUI() override;

  void ScheduleWork() override;
  void ScheduleDelayedWork(const TimeTicks& delayed_work_time) override;

  // Runs with |dispatcher| deciding what happens to each Windows message.
  void RunWithDispatcher(Delegate* delegate, MessagePumpDispatcher* dispatcher);

  // The pump's message-only window, for tests.
  HWND message_hwnd() const { return message_window_.hwnd(); }

 private:
  bool MessageCallback(UINT message, WPARAM wparam, LPARAM lparam, LRESULT* result);
  void DoRunLoop() override;
  void WaitForWork();
  void HandleWorkMessage();
  void HandleTimerMessage();
  void RescheduleTimer();
  bool ProcessNextWindowsMessage();
  bool ProcessMessageHelper(const MSG& msg);
  bool ProcessPumpReplacementMessage();

  MessageWindow message_window_;
};

}  // namespace base

#endif  // BASE_MESSAGE_LOOP_MESSAGE_PUMP_WIN_H_

#include "base/message_loop/message_pump_win.h"

#include <limits.h>
#include <math.h>

#include "base/logging.h"
#include "base/bind.h"
#include "base/message_loop/scoped_trace_event.h"
#include "base/metrics/histogram.h"
#include "base/trace_event/trace_log.h"

namespace base {

namespace {

// QS_ALLINPUT including touch and pointer input.
const DWORD kAllInputWakeMask = 0x1CFF;

// The timer's identifier is the pump itself, so that it never collides with another
// timer of the message window.
UINT_PTR TimerId(const MessagePumpForUI* pump) {
  return reinterpret_cast<UINT_PTR>(pump);
}

}  // namespace

// ---------------------------------------------------------------- MessagePumpWin

MessagePumpWin::MessagePumpWin() : thread_id_(GetCurrentThreadId()) {}
MessagePumpWin::~MessagePumpWin() = default;

// static
void MessagePumpWin::RecordProblem(MessageLoopProblem problem) {
  static HistogramBase* histogram = LinearHistogram::FactoryGet(
      "Base.MessageLoopProblem", MESSAGE_LOOP_PROBLEM_MAX, MESSAGE_LOOP_PROBLEM_MAX + 1);
  histogram->Add(problem);
}

void MessagePumpWin::Run(Delegate* delegate) {
  RunWithDispatcherImpl(delegate, nullptr);
}

void MessagePumpWin::RunWithDispatcherImpl(Delegate* delegate,
                                           MessagePumpDispatcher* dispatcher) {
  RunState state;
  state.delegate = delegate;
  state.dispatcher = dispatcher;
  state.should_quit = false;
  state.run_depth = state_ ? state_->run_depth + 1 : 1;
  state.schedule_work_error_count = 0;
  state.last_schedule_work_error_time = Time();

  RunState* previous_state = state_;
  state_ = &state;
  DoRunLoop();
  state_ = previous_state;
}

void MessagePumpWin::Quit() {
  DCHECK(state_);
  if (state_)
    state_->should_quit = true;
}

int MessagePumpWin::GetCurrentDelay() const {
  if (delayed_work_time_.is_null())
    return -1;
  double delay = ceil((delayed_work_time_ - TimeTicks::Now()).InMillisecondsF());
  if (delay < 0)
    return 0;
  if (delay > INT_MAX)
    return INT_MAX;
  return static_cast<int>(delay);
}

void MessagePumpWin::NoteScheduleWorkError() {
  if (GetCurrentThreadId() != thread_id_ || !state_)
    return;
  state_->schedule_work_error_count++;
  state_->last_schedule_work_error_time = Time::Now();
}

// ---------------------------------------------------------------- MessagePumpForUI

MessagePumpForUI::MessagePumpForUI() {
  if (!message_window_.Create(Bind(&MessagePumpForUI::MessageCallback, this)))
    LOG(ERROR) << "Work posted to this UI pump cannot wake it";
}

MessagePumpForUI::~MessagePumpForUI() {
  message_window_.Destroy();
}

void MessagePumpForUI::ScheduleWork() {
  // At most one work message is ever in the window's queue.
  if (InterlockedExchange(&have_work_, 1))
    return;
  if (PostMessageW(message_window_.hwnd(), kMsgHaveWork, 0, 0))
    return;
  // A full queue, for example: the next post tries again.
  InterlockedExchange(&have_work_, 0);
  RecordProblem(MESSAGE_POST_ERROR);
  NoteScheduleWorkError();
}

void MessagePumpForUI::ScheduleDelayedWork(const TimeTicks& delayed_work_time) {
  delayed_work_time_ = delayed_work_time;
  RescheduleTimer();
}

void MessagePumpForUI::RunWithDispatcher(Delegate* delegate,
                                         MessagePumpDispatcher* dispatcher) {
  RunWithDispatcherImpl(delegate, dispatcher);
}

bool MessagePumpForUI::MessageCallback(UINT message, WPARAM /*wparam*/, LPARAM /*lparam*/,
                                       LRESULT* /*result*/) {
  switch (message) {
    case kMsgHaveWork:
      HandleWorkMessage();
      break;
    case WM_TIMER:
      HandleTimerMessage();
      break;
  }
  return false;
}

void MessagePumpForUI::DoRunLoop() {
  for (;;) {
    bool more_work_is_plausible = ProcessNextWindowsMessage();
    if (state_->should_quit)
      break;

    more_work_is_plausible |= state_->delegate->DoWork();
    if (state_->should_quit)
      break;

    more_work_is_plausible |= state_->delegate->DoDelayedWork(&delayed_work_time_);
    // No delayed work left: the timer is only a leftover.
    if (more_work_is_plausible && delayed_work_time_.is_null())
      KillTimer(message_window_.hwnd(), TimerId(this));
    if (state_->should_quit)
      break;

    if (more_work_is_plausible)
      continue;

    more_work_is_plausible = state_->delegate->DoIdleWork();
    if (state_->should_quit)
      break;

    if (more_work_is_plausible)
      continue;

    WaitForWork();
    if (state_->should_quit)
      break;
  }
}

void MessagePumpForUI::WaitForWork() {
  DWORD wait_flags = MWMO_INPUTAVAILABLE;
  int delay;
  while ((delay = GetCurrentDelay()) != 0) {
    DWORD timeout = delay < 0 ? INFINITE : static_cast<DWORD>(delay);
    DWORD result = MsgWaitForMultipleObjectsEx(0, nullptr, timeout, kAllInputWakeMask,
                                               wait_flags);
    if (result == WAIT_OBJECT_0) {
      // Input that was already seen wakes MWMO_INPUTAVAILABLE at once; when there is no
      // message after all, wait for new input only.
      MSG msg = {};
      bool has_sent_message = (HIWORD(GetQueueStatus(QS_SENDMESSAGE)) & QS_SENDMESSAGE) != 0;
      if (has_sent_message || PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE))
        return;
      wait_flags = 0;
    }
    // A time-out or another result: recompute the delay.
  }
}

void MessagePumpForUI::HandleWorkMessage() {
  // Work message dispatched by a loop other than ours (a modal loop, or after our run
  // returned).
  // The message is not replaced with the next one, as in our own loop: a modal loop (a
  // message box) handles its messages itself, its keys among them.
  InterlockedExchange(&have_work_, 0);
  if (!state_)
    return;
  if (state_->delegate->DoWork())
    ScheduleWork();
  state_->delegate->DoDelayedWork(&delayed_work_time_);
  RescheduleTimer();
}

void MessagePumpForUI::HandleTimerMessage() {
  KillTimer(message_window_.hwnd(), TimerId(this));
  if (!state_)
    return;
  state_->delegate->DoDelayedWork(&delayed_work_time_);
  RescheduleTimer();
}

void MessagePumpForUI::RescheduleTimer() {
  if (delayed_work_time_.is_null())
    return;
  int delay_msec = GetCurrentDelay();
  if (delay_msec == 0) {
    ScheduleWork();
    return;
  }
  if (delay_msec < USER_TIMER_MINIMUM)
    delay_msec = USER_TIMER_MINIMUM;
  if (!SetTimer(message_window_.hwnd(), TimerId(this), static_cast<UINT>(delay_msec), nullptr))
    RecordProblem(SET_TIMER_ERROR);
}

bool MessagePumpForUI::ProcessNextWindowsMessage() {
  // A sent message is delivered inside PeekMessageW without being returned, so it
  // counts as work even when no posted message comes back.
  bool sent_messages_in_queue = (HIWORD(GetQueueStatus(QS_SENDMESSAGE)) & QS_SENDMESSAGE) != 0;
  MSG msg;
  if (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
    return ProcessMessageHelper(msg);
  return sent_messages_in_queue;
}

bool MessagePumpForUI::ProcessMessageHelper(const MSG& msg) {
  static const uint8_t* category = trace_event::TraceLog::GetCategoryGroupEnabled("base");
  internal::ScopedTraceEvent event(category, "MessagePumpForUI::ProcessMessageHelper", 0, 0,
                                   {internal::TraceArg::Uint("message", msg.message)});
  if (msg.message == kMsgHaveWork && msg.hwnd == message_window_.hwnd())
    return ProcessPumpReplacementMessage();

  // Handling the message may enter a modal loop (a message box) that only a work message
  // reaches; tasks already waiting would wake nothing else, and new posts do not wake a
  // loop that is known to have work. At most one work message is queued, and none while no
  // task waits (the common case): the next post then wakes the pump itself.
  if (state_->delegate->HasWaitingWork())
    ScheduleWork();

  if (msg.message == WM_QUIT) {
    RecordProblem(RECEIVED_WM_QUIT_ERROR);
    state_->should_quit = true;
    // Outer runs and the code that runs them see it too.
    PostQuitMessage(static_cast<int>(msg.wParam));
    return false;
  }

  uint32_t action = MessagePumpDispatcher::POST_DISPATCH_PERFORM_DEFAULT;
  if (state_->dispatcher)
    action = state_->dispatcher->Dispatch(msg);
  if (action & MessagePumpDispatcher::POST_DISPATCH_QUIT_LOOP)
    state_->should_quit = true;
  if (action & MessagePumpDispatcher::POST_DISPATCH_PERFORM_DEFAULT) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return true;
}

bool MessagePumpForUI::ProcessPumpReplacementMessage() {
  // The work message was just removed. Handle one other message in its place, so that a
  // stream of posted tasks cannot starve the window's input.
  MSG msg;
  bool have_message = PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE) != FALSE;
  // From here a new work message may be posted; the helper posts one if work waits.
  InterlockedExchange(&have_work_, 0);
  if (!have_message)
    return false;
  return ProcessMessageHelper(msg);
}

}  // namespace base

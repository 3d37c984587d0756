#include "base/run_loop.h"

#include "base/bind.h"
#include "base/logging.h"
#include "base/message_loop/message_loop.h"
#include "base/message_loop/message_pump_win.h"
#include "base/tracked_objects.h"

namespace base {

RunLoop::RunLoop() : RunLoop(nullptr) {}

RunLoop::RunLoop(MessagePumpDispatcher* dispatcher)
    : loop_(MessageLoop::Current()), dispatcher_(dispatcher), weak_factory_(this) {}

RunLoop::~RunLoop() = default;

void RunLoop::Run() {
  CHECK(loop_) << "a RunLoop needs a MessageLoop on its thread";
  DCHECK(!run_called_);
  run_called_ = true;
  // A quit before the run is honoured.
  if (quit_called_)
    return;

  previous_run_loop_ = loop_->current_run_loop_;
  run_depth_ = previous_run_loop_ ? previous_run_loop_->run_depth_ + 1 : 1;
  loop_->current_run_loop_ = this;
  if (run_depth_ > 1)
    loop_->nesting_observers_.Notify(&MessageLoop::NestingObserver::OnBeginNestedRunLoop);

  running_ = true;
  TaskStopwatch stopwatch;
  stopwatch.Start();
  if (dispatcher_ && loop_->IsType(MessageLoop::TYPE_UI)) {
    static_cast<MessagePumpForUI*>(loop_->pump_.get())->RunWithDispatcher(loop_, dispatcher_);
  } else {
    loop_->pump_->Run(loop_);
  }
  stopwatch.Stop();
  running_ = false;
  loop_->current_run_loop_ = previous_run_loop_;

  // An outer run that was asked to quit while this one ran stops now.
  if (previous_run_loop_ && previous_run_loop_->quit_called_)
    loop_->QuitNow();
}

void RunLoop::Quit() {
  quit_called_ = true;
  if (running_ && loop_->current_run_loop_ == this)
    loop_->QuitNow();
}

void RunLoop::QuitWhenIdle() {
  quit_when_idle_received_ = true;
}

Closure RunLoop::QuitClosure() {
  return Bind(&RunLoop::Quit, weak_factory_.GetWeakPtr());
}

}  // namespace base

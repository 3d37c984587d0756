// RunLoop: runs the current thread's MessageLoop until told to quit. Run loops nest; a
// quit may come before, during or after the run.
//
//   base::RunLoop run_loop;
//   controller.Start(run_loop.QuitClosure());   // the controller quits when done
//   run_loop.Run();
#ifndef BASE_RUN_LOOP_H_
#define BASE_RUN_LOOP_H_

#include "base/callback.h"
#include "base/memory/weak_ptr.h"

namespace base {

class MessageLoop;
class MessagePumpDispatcher;

class RunLoop {
 public:
  // Binds to the calling thread's MessageLoop.
  RunLoop();
  // Lets |dispatcher| decide what happens to each Windows message (UI loops only).
  explicit RunLoop(MessagePumpDispatcher* dispatcher);
  // Callbacks from QuitClosure become no-ops.
  ~RunLoop();
  RunLoop(const RunLoop&) = delete;
  RunLoop& operator=(const RunLoop&) = delete;

  // Runs until quit; returns at once when Quit came first. Runs at most once.
  void Run();

  // Ends the run now if it is the innermost one, else as soon as it becomes so again.
  void Quit();
  // Ends the run the next time the loop finds no work while this run is innermost.
  void QuitWhenIdle();
  // A callback that calls Quit and does nothing once this run loop is destroyed.
  Closure QuitClosure();

  bool running() const { return running_; }

 private:
  friend class MessageLoop;

  MessageLoop* loop_;
  RunLoop* previous_run_loop_ = nullptr;
  MessagePumpDispatcher* dispatcher_;
  int run_depth_ = 0;
  bool run_called_ = false;
  bool quit_called_ = false;
  bool running_ = false;
  bool quit_when_idle_received_ = false;
  WeakPtrFactory<RunLoop> weak_factory_;
};

}  // namespace base

#endif  // BASE_RUN_LOOP_H_

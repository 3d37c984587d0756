// ExitCallbackStack: process-wide clean-ups that run, newest first, when the stack is
// destroyed. Stacks nest; a new one shadows the current one until it is destroyed.
//
//   int RunSomething() {
//     base::ExitCallbackStack exit_callbacks;   // before any singleton is created
//     ...                                       // singletons Register their clean-ups
//   }                                           // clean-ups run here
#ifndef BASE_AT_EXIT_H_
#define BASE_AT_EXIT_H_

#include <deque>

#include "base/callback.h"
#include "base/synchronization/lock.h"

namespace base {

class ExitCallbackStack {
 public:
  typedef void (*Function)(void* argument);

  ExitCallbackStack();
  ~ExitCallbackStack();
  ExitCallbackStack(const ExitCallbackStack&) = delete;
  ExitCallbackStack& operator=(const ExitCallbackStack&) = delete;

  // Pushes function(argument) on the current stack, from any thread. Without a stack the
  // function never runs.
  static void Register(Function function, void* argument);

 private:
  Lock lock_;
  std::deque<Closure> stack_;
  ExitCallbackStack* previous_;
};

}  // namespace base

#endif  // BASE_AT_EXIT_H_

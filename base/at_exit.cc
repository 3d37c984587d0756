#include "base/at_exit.h"

#include <atomic>

#include "base/bind.h"
#include "base/logging.h"

namespace base {
namespace {

std::atomic<ExitCallbackStack*> g_current_stack{nullptr};

}  // namespace

ExitCallbackStack::ExitCallbackStack() : previous_(g_current_stack.load()) {
  g_current_stack.store(this);
}

ExitCallbackStack::~ExitCallbackStack() {
  ExitCallbackStack* current = g_current_stack.load();
  if (current) {
    DCHECK_EQ(current, this) << "exit-callback stacks must end in reverse order";
    std::deque<Closure> callbacks;
    {
      AutoLock lock(current->lock_);
      callbacks.swap(current->stack_);
    }
    // Without the lock, so that a callback may register (the newcomer never runs).
    while (!callbacks.empty()) {
      const Closure callback = std::move(callbacks.back());
      callbacks.pop_back();
      callback.Run();
    }
    g_current_stack.store(previous_);
  }
}

// static
void ExitCallbackStack::Register(Function function, void* argument) {
  Closure callback = Bind(function, argument);
  ExitCallbackStack* current = g_current_stack.load();
  if (!current) return;  // released without ever running
  AutoLock lock(current->lock_);
  current->stack_.push_back(std::move(callback));
}

}  // namespace base

#include "base/threading/thread_task_runner_handle.h"

#include <atomic>
#include <utility>

#include "base/logging.h"
#include "base/threading/thread_local_storage.h"

namespace base {

namespace {

std::atomic<uintptr_t> g_thread_task_runner_slot{0};

TlsSlot* GetThreadTaskRunnerTlsSlot() {
  return GetLazyTlsSlot(&g_thread_task_runner_slot);
}

}  // namespace

CurrentThreadTaskRunner::CurrentThreadTaskRunner(
    scoped_refptr<SequencedTaskRunner> task_runner)
    : task_runner_(std::move(task_runner)) {
  GetThreadTaskRunnerTlsSlot()->Set(this);
}

CurrentThreadTaskRunner::~CurrentThreadTaskRunner() {
  TlsSlot* slot = GetThreadTaskRunnerTlsSlot();
  // A newer handle of the same thread stays published.
  if (slot->Get() == this)
    slot->Set(nullptr);
}

// static
scoped_refptr<SequencedTaskRunner> CurrentThreadTaskRunner::Get() {
  CurrentThreadTaskRunner* current =
      static_cast<CurrentThreadTaskRunner*>(GetThreadTaskRunnerTlsSlot()->Get());
  CHECK(current) << "the thread has no MessageLoop";
  return current->task_runner_;
}

// static
bool CurrentThreadTaskRunner::IsSet() {
  return GetThreadTaskRunnerTlsSlot()->Get() != nullptr;
}

}  // namespace base

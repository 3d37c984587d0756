#include "base/win/object_watcher.h"

#include "base/bind.h"
#include "base/location.h"
#include "base/threading/sequenced_task_runner_handle.h"

namespace base {

ObjectWatcher::ObjectWatcher() : weak_factory_(this) {}

ObjectWatcher::~ObjectWatcher() {
  StopWatching();
}

bool ObjectWatcher::StartWatching(HANDLE object, Delegate* delegate) {
  // A second watch would otherwise leave the first wait registered, firing into a
  // watcher that no longer expects it.
  if (wait_handle_.IsValid() && !StopWatching())
    return false;

  task_runner_ = CurrentSequenceTaskRunner::Get();
  run_once_ = true;
  callback_ = Bind(&ObjectWatcher::Signal, weak_factory_.GetWeakPtr(), delegate);
  object_ = object;

  // Everything the wait callback reads is set first: it may run at once.
  HANDLE wait = nullptr;
  if (!RegisterWaitForSingleObject(&wait, object, &ObjectWatcher::DoneWaiting, this, INFINITE,
                                   WT_EXECUTEINWAITTHREAD | WT_EXECUTEONLYONCE)) {
    Reset();
    return false;
  }
  wait_handle_.Reset(wait);
  return true;
}

bool ObjectWatcher::StopWatching() {
  if (!wait_handle_.IsValid())
    return false;
  // Blocks until a wait callback already running has finished.
  if (!wait_handle_.Unregister()) {
    PLOG(ERROR) << "Cannot unregister an object wait";
    return false;
  }
  Reset();
  return true;
}

// static
void CALLBACK ObjectWatcher::DoneWaiting(void* param, BOOLEAN /*timed_out*/) {
  ObjectWatcher* watcher = static_cast<ObjectWatcher*>(param);
  watcher->task_runner_->PostTask(
      Location("DoneWaiting", __FILE__, __LINE__, GetCallerAddress()), watcher->callback_);
  // The posted copy keeps the callback alive.
  if (watcher->run_once_)
    watcher->callback_.Reset();
}

void ObjectWatcher::Signal(Delegate* delegate) {
  // Cleared before the delegate runs, which may destroy the watcher or watch again.
  HANDLE object = object_;
  if (run_once_)
    StopWatching();
  delegate->OnObjectSignaled(object);
}

void ObjectWatcher::Reset() {
  callback_.Reset();
  object_ = nullptr;
  wait_handle_.Reset();
  task_runner_ = nullptr;
  run_once_ = true;
  weak_factory_.InvalidateWeakPtrs();
}

}  // namespace base

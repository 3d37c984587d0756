#include "crash/reporter/parent_process_watcher.h"

#include "base/logging.h"
#include "crash/reporter/pending_work_counter.h"

namespace crash_reporter {

ParentProcessWatcher::ParentProcessWatcher(PendingWorkCounter* counter) : counter_(counter) {}

ParentProcessWatcher::~ParentProcessWatcher() { Stop(); }

bool ParentProcessWatcher::Start(uint32_t parent_id) {
  parent_.Set(OpenProcess(SYNCHRONIZE, FALSE, parent_id));
  if (!parent_.IsValid()) return false;
  // Some systems still open a process that has ended.
  if (WaitForSingleObject(parent_.Get(), 0) != WAIT_TIMEOUT) {
    parent_.Set(nullptr);
    return false;
  }
  counter_->AddRef();
  InterlockedExchange(&watching_, 1);
  HANDLE wait = nullptr;
  if (!RegisterWaitForSingleObject(&wait, parent_.Get(), &OnParentExited, this, INFINITE,
                                   WT_EXECUTEONLYONCE)) {
    PLOG(ERROR) << "Cannot watch the parent process";
    Stop();
    return false;
  }
  wait_.Reset(wait);
  return true;
}

void ParentProcessWatcher::Stop() {
  ReleaseOnce();
  // Waits for a running callback, which touches |this|.
  wait_.Reset();
  parent_.Set(nullptr);
}

void CALLBACK ParentProcessWatcher::OnParentExited(void* context, BOOLEAN) {
  static_cast<ParentProcessWatcher*>(context)->ReleaseOnce();
}

void ParentProcessWatcher::ReleaseOnce() {
  if (InterlockedExchange(&watching_, 0) == 1) counter_->Release();
}

}  // namespace crash_reporter

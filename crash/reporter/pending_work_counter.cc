#include "crash/reporter/pending_work_counter.h"

namespace crash_reporter {

PendingWorkCounter::PendingWorkCounter() = default;
PendingWorkCounter::~PendingWorkCounter() = default;

bool PendingWorkCounter::Initialize() {
  if (!event_.IsValid()) event_.Set(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  return event_.IsValid();
}

void PendingWorkCounter::AddRef() { InterlockedIncrement(&count_); }

void PendingWorkCounter::Release() {
  if (InterlockedDecrement(&count_) == 0 && event_.IsValid()) SetEvent(event_.Get());
}

bool PendingWorkCounter::Wait() {
  return event_.IsValid() && WaitForSingleObject(event_.Get(), INFINITE) == WAIT_OBJECT_0;
}

PendingWorkCounter* GetPendingWorkCounter() {
  // Never destroyed: worker threads may still release while the process ends.
  static PendingWorkCounter* const counter = new PendingWorkCounter;
  return counter;
}

}  // namespace crash_reporter

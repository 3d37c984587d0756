#include "base/message_loop/message_pump_io.h"

#include <string.h>

namespace base {

MessagePumpForIO::IOContext::IOContext() {
  memset(&overlapped, 0, sizeof(overlapped));
}

MessagePumpForIO::MessagePumpForIO() {
  DWORD last_error = GetLastError();
  port_.Set(CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1));
  SetLastError(last_error);
}

MessagePumpForIO::~MessagePumpForIO() = default;

void MessagePumpForIO::ScheduleWork() {
  // One wake-up packet at a time, however many threads post.
  if (InterlockedExchange(&have_work_, 1))
    return;
  ULONG_PTR self = reinterpret_cast<ULONG_PTR>(this);
  if (PostQueuedCompletionStatus(port_.Get(), 0, self, reinterpret_cast<OVERLAPPED*>(this)))
    return;
  // Let the next post try again.
  InterlockedExchange(&have_work_, 0);
  RecordProblem(COMPLETION_POST_ERROR);
  NoteScheduleWorkError();
}

void MessagePumpForIO::ScheduleDelayedWork(const TimeTicks& delayed_work_time) {
  // Loop thread only: the wait is recomputed before the next sleep.
  delayed_work_time_ = delayed_work_time;
}

bool MessagePumpForIO::RegisterIOHandler(HANDLE file, IOHandler* handler) {
  return CreateIoCompletionPort(file, port_.Get(), reinterpret_cast<ULONG_PTR>(handler), 1) ==
         port_.Get();
}

void MessagePumpForIO::DoRunLoop() {
  for (;;) {
    bool more_work_is_plausible = state_->delegate->DoWork();
    if (state_->should_quit)
      break;

    more_work_is_plausible |= WaitForIOCompletion(0, nullptr);
    if (state_->should_quit)
      break;

    more_work_is_plausible |= state_->delegate->DoDelayedWork(&delayed_work_time_);
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
  }
}

void MessagePumpForIO::WaitForWork() {
  int delay = GetCurrentDelay();
  WaitForIOCompletion(delay < 0 ? INFINITE : static_cast<DWORD>(delay), nullptr);
}

bool MessagePumpForIO::WaitForIOCompletion(DWORD timeout, IOHandler* filter) {
  IOItem item;
  if (!MatchCompletedIOItem(filter, &item)) {
    if (!GetIOItem(timeout, &item))
      return false;
    if (ProcessInternalIOItem(item))
      return true;
    if (filter && item.handler != filter) {
      // Kept for the handler's own turn.
      completed_io_.push_back(item);
      return true;
    }
  }
  item.handler->OnIOCompleted(item.context, item.bytes_transferred, item.error);
  return true;
}

bool MessagePumpForIO::GetIOItem(DWORD timeout, IOItem* item) {
  DWORD bytes = 0;
  ULONG_PTR key = 0;
  OVERLAPPED* overlapped = nullptr;
  DWORD error = 0;
  if (!GetQueuedCompletionStatus(port_.Get(), &bytes, &key, &overlapped, timeout)) {
    if (!overlapped)
      return false;  // timed out
    error = GetLastError();
    bytes = 0;
  }
  item->handler = reinterpret_cast<IOHandler*>(key);
  item->context = reinterpret_cast<IOContext*>(overlapped);
  item->bytes_transferred = bytes;
  item->error = error;
  return true;
}

bool MessagePumpForIO::ProcessInternalIOItem(const IOItem& item) {
  if (reinterpret_cast<void*>(item.handler) == this &&
      reinterpret_cast<void*>(item.context) == this) {
    // The wake-up of ScheduleWork: the next post may send another.
    InterlockedExchange(&have_work_, 0);
    return true;
  }
  return false;
}

bool MessagePumpForIO::MatchCompletedIOItem(IOHandler* filter, IOItem* item) {
  for (auto it = completed_io_.begin(); it != completed_io_.end(); ++it) {
    if (!filter || it->handler == filter) {
      *item = *it;
      completed_io_.erase(it);
      return true;
    }
  }
  return false;
}

}  // namespace base

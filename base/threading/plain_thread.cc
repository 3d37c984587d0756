#include "base/threading/plain_thread.h"

#include "base/logging.h"
#include "base/strings/string_number_conversions.h"

namespace base {

PlainThread::PlainThread(const std::string& name_prefix) : PlainThread(name_prefix, 0) {}

PlainThread::PlainThread(const std::string& name_prefix, size_t stack_size)
    : name_prefix_(name_prefix),
      stack_size_(stack_size),
      start_event_(SyncEvent::MANUAL, SyncEvent::NOT_SIGNALED) {}

PlainThread::~PlainThread() = default;

bool PlainThread::Start() {
  HANDLE handle = nullptr;
  bool created =
      OsThread::Create(stack_size_, this, joinable_ ? &handle : nullptr, priority_);
  if (!created) {
    // Waiting for a start that never comes would hang the caller for good.
    PLOG(ERROR) << "could not create thread \"" << name_prefix_ << "\"";
    return false;
  }
  thread_handle_.Set(handle);
  start_event_.Wait();
  return true;
}

void PlainThread::Join() {
  if (!thread_handle_.IsValid())
    return;
  OsThread::Join(thread_handle_.Take());
  joined_ = true;
}

void PlainThread::ThreadMain() {
  thread_id_ = GetCurrentThreadId();
  OsThread::SetName(name_prefix_ + "/" + IntToString(static_cast<int32_t>(thread_id_)));
  start_event_.Signal();
  Run();
}

}  // namespace base

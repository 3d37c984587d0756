#include "desktop/windows/installer/ipc/mailslot_writer.h"

#include <string.h>

#include <algorithm>

#include "base/logging.h"
#include "desktop/windows/installer/ipc/installer_message.h"

namespace installer {

namespace {

void (*g_drain_time_over_hook)() = nullptr;

}  // namespace

MailslotWriter::MailslotWriter(base::ScopedHandle mailslot,
                               std::vector<base::ScopedHandle> reader_gone)
    : mailslot_(std::move(mailslot)), reader_gone_(std::move(reader_gone)) {
  base::MessageLoopForIO* loop = base::MessageLoopForIO::Current();
  bound_ = loop && loop->RegisterIOHandler(mailslot_.Get(), this);
  if (!bound_) VLOG(1) << "Mailslot cannot use a completion port; writing synchronously";
}

MailslotWriter::~MailslotWriter() {
  VLOG(1) << "Closing mailslot.";
  // The last messages of a run (its error or success) are often still queued here,
  // behind step reports that only move the progress on: those go first.
  const size_t dropped = DropQueuedSteps();
  Drain();
  if (pending_) {
    VLOG(1) << "I/O still pending on mailslot.";
    CancelIo(mailslot_.Get());
  }
  mailslot_.Close();
  while (pending_)
    base::MessageLoopForIO::Current()->WaitForIOCompletion(INFINITE, this);
  VLOG(1) << "Messages unsent: " << queue_.size() + dropped;
}

void MailslotWriter::Queue(std::unique_ptr<base::SerialBuffer> message) {
  queue_.push_back(std::move(message));
  StartWrite();
}

void MailslotWriter::StartWrite() {
  while (!pending_ && !queue_.empty() && mailslot_.IsValid()) {
    const base::SerialBuffer& message = *queue_.front();
    const DWORD size = static_cast<DWORD>(message.size());
    if (bound_) {
      memset(&context_.overlapped, 0, sizeof(context_.overlapped));
      if (!WriteFile(mailslot_.Get(), message.data(), size, nullptr, &context_.overlapped) &&
          GetLastError() != ERROR_IO_PENDING) {
        if (!OnWriteFailed(GetLastError())) return;
        continue;
      }
      // A write that finished at once still posts its completion.
      pending_ = true;
      return;
    }
    OVERLAPPED overlapped = {};
    base::ScopedHandle done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    overlapped.hEvent = done.Get();
    DWORD written = 0;
    if (!done.IsValid() ||
        (!WriteFile(mailslot_.Get(), message.data(), size, &written, &overlapped) &&
         (GetLastError() != ERROR_IO_PENDING ||
          !GetOverlappedResult(mailslot_.Get(), &overlapped, &written, TRUE)))) {
      if (!OnWriteFailed(GetLastError())) return;
      continue;
    }
    queue_.pop_front();
  }
}

bool MailslotWriter::OnWriteFailed(DWORD error) {
  SetLastError(error);
  PLOG(ERROR) << "Cannot write to mailslot";
  if (IsTransientError(error)) return false;
  // Written never, so waiting would only hold back every later message.
  queue_.pop_front();
  return true;
}

void MailslotWriter::OnIOCompleted(base::MessageLoopForIO::IOContext* context,
                                   DWORD /*bytes_transferred*/, DWORD error) {
  DCHECK_EQ(&context_, context);
  pending_ = false;
  if (error != 0 && error != ERROR_OPERATION_ABORTED) {
    SetLastError(error);
    PLOG(ERROR) << "Cannot write to mailslot";
  }
  // Gone either way: a failed completion is not retried.
  if (!queue_.empty()) queue_.pop_front();
  StartWrite();
}

size_t MailslotWriter::DropQueuedSteps() {
  // A write in flight still uses the front message.
  const auto first = queue_.begin() + (pending_ ? 1 : 0);
  const auto kept = std::remove_if(first, queue_.end(),
                                   [](const std::unique_ptr<base::SerialBuffer>& message) {
                                     return IsStepMessage(*message);
                                   });
  const size_t dropped = static_cast<size_t>(queue_.end() - kept);
  queue_.erase(kept, queue_.end());
  return dropped;
}

void MailslotWriter::Drain() {
  const base::TimeTicks deadline =
      base::TimeTicks::Now() + base::TimeDelta::FromMilliseconds(kDrainTimeMs);
  bool time_over = false;
  while (mailslot_.IsValid() && (pending_ || !queue_.empty())) {
    if (!pending_) {
      StartWrite();
      // Nothing in flight with messages left: a transient failure; give up.
      if (!pending_) return;
    }
    if (ReaderGone()) {
      VLOG(1) << "The mailslot's reader is gone";
      return;
    }
    const int64_t left = (deadline - base::TimeTicks::Now()).InMillisecondsRoundedUp();
    if (left <= 0 && !time_over) {
      time_over = true;
      if (g_drain_time_over_hook) g_drain_time_over_hook();
      if (reader_gone_.empty()) return;
      // A busy or paused reader: what is left is the run's outcome, which it must get.
      LOG(INFO) << "The mailslot's reader has not read for " << kDrainTimeMs
                << " ms; waiting for it to read or to be gone";
    }
    // Whether the reader is gone is looked at between waits for the write.
    const DWORD wait = reader_gone_.empty() ? static_cast<DWORD>(left) : kReaderCheckMs;
    base::MessageLoopForIO::Current()->WaitForIOCompletion(wait, this);
  }
}

bool MailslotWriter::ReaderGone() const {
  std::vector<HANDLE> handles;
  for (const base::ScopedHandle& handle : reader_gone_) handles.push_back(handle.Get());
  return !handles.empty() &&
         WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE, 0) !=
             WAIT_TIMEOUT;
}

// static
void MailslotWriter::SetDrainTimeOverHookForTesting(void (*hook)()) {
  g_drain_time_over_hook = hook;
}

// static
bool MailslotWriter::IsTransientError(DWORD error) {
  switch (error) {
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
    case ERROR_NO_SYSTEM_RESOURCES:
    case ERROR_NONPAGED_SYSTEM_RESOURCES:
    case ERROR_PAGED_SYSTEM_RESOURCES:
    case ERROR_WORKING_SET_QUOTA:
    case ERROR_NOT_ENOUGH_QUOTA:
    case ERROR_INVALID_USER_BUFFER:
      return true;
    default:
      return false;
  }
}

}  // namespace installer

#include "desktop/windows/installer/ipc/mailslot_reader.h"

#include <string.h>

#include "base/bind.h"
#include "base/logging.h"
#include "desktop/windows/installer/ipc/mailslot.h"

namespace installer {

namespace {

// Completions still to be delivered when a flush starts may take this long each.
constexpr DWORD kFlushCompletionWaitMs = 1000;

}  // namespace

MailslotReader::MailslotReader(base::ScopedHandle mailslot, Receiver* receiver)
    : mailslot_(std::move(mailslot)),
      receiver_(receiver),
      buffer_(kMailslotMessageSize),
      weak_factory_(this) {
  base::MessageLoopForIO* loop = base::MessageLoopForIO::Current();
  if (loop && loop->RegisterIOHandler(mailslot_.Get(), this)) {
    StartRead();
    return;
  }
  // Some systems refuse to bind a mailslot to a completion port, and their
  // "overlapped" reads block: look at it now and then instead.
  VLOG(1) << "Mailslot cannot use a completion port (" << GetLastError() << "); polling it";
  polling_ = true;
  Poll();
}

MailslotReader::~MailslotReader() {
  VLOG(1) << "Closing mailslot";
  weak_factory_.InvalidateWeakPtrs();
  if (pending_) {
    VLOG(1) << "I/O still pending on mailslot.";
    CancelIo(mailslot_.Get());
  }
  mailslot_.Close();
  // The cancelled read still completes; it must not land in freed memory.
  while (pending_)
    base::MessageLoopForIO::Current()->WaitForIOCompletion(INFINITE, this);
}

void MailslotReader::StartRead() {
  if (!mailslot_.IsValid() || stopped_) return;
  memset(&context_.overlapped, 0, sizeof(context_.overlapped));
  if (!ReadFile(mailslot_.Get(), buffer_.data(), static_cast<DWORD>(kMailslotMessageSize),
                nullptr, &context_.overlapped)) {
    DWORD error = GetLastError();
    if (error != ERROR_IO_PENDING) {
      StopReading(error);
      return;
    }
  }
  // A read that finished at once still posts its completion.
  pending_ = true;
}

void MailslotReader::OnIOCompleted(base::MessageLoopForIO::IOContext* context,
                                   DWORD bytes_transferred, DWORD error) {
  DCHECK_EQ(&context_, context);
  pending_ = false;
  if (!mailslot_.IsValid()) return;
  if (error != 0) {
    // One failed read ends nothing: the next message is read as usual.
    SetLastError(error);
    PLOG(WARNING) << "A mailslot read completed with an error";
  } else if (bytes_transferred != 0) {
    Deliver(buffer_.data(), bytes_transferred);
  }
  // A polling reader has no read in flight to restart.
  if (!polling_) StartRead();
}

bool MailslotReader::HasWaitingMessage(DWORD* size) {
  DWORD next = MAILSLOT_NO_MESSAGE;
  DWORD count = 0;
  if (!GetMailslotInfo(mailslot_.Get(), nullptr, &next, &count, nullptr)) {
    StopReading(GetLastError());
    return false;
  }
  *size = next;
  return next != MAILSLOT_NO_MESSAGE;
}

void MailslotReader::Poll() {
  if (!ReadWaitingMessagesSynchronously()) return;
  base::MessageLoop::Current()->task_runner()->PostDelayedTask(
      FROM_HERE, base::Bind(&MailslotReader::Poll, weak_factory_.GetWeakPtr()),
      base::TimeDelta::FromMilliseconds(kPollIntervalMs));
}

bool MailslotReader::ReadWaitingMessagesSynchronously() {
  DWORD size = 0;
  while (!stopped_ && HasWaitingMessage(&size)) {
    // A larger message than the mailslot allows may still have got in; it is read
    // whole (or it would block the mailslot) and dropped.
    std::vector<char> bytes(size > kMailslotMessageSize ? size : kMailslotMessageSize);
    OVERLAPPED overlapped = {};
    base::ScopedHandle done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    overlapped.hEvent = done.Get();
    DWORD read = 0;
    // A message waits, so this returns without waiting for a writer.
    if (!done.IsValid() ||
        (!ReadFile(mailslot_.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read,
                   &overlapped) &&
         (GetLastError() != ERROR_IO_PENDING ||
          !GetOverlappedResult(mailslot_.Get(), &overlapped, &read, TRUE)))) {
      StopReading(GetLastError());
      return false;
    }
    if (read > kMailslotMessageSize) {
      LOG(ERROR) << "Dropping a mailslot message of " << read << " bytes";
      continue;
    }
    if (read != 0) Deliver(bytes.data(), read);
  }
  return !stopped_;
}

void MailslotReader::ReadWaitingMessages() {
  if (polling_) {
    // A read that fails for good was logged and stopped the reader; the messages read
    // before it are delivered, and there is nothing more to hand over.
    (void)ReadWaitingMessagesSynchronously();
    return;
  }
  base::MessageLoopForIO* loop = base::MessageLoopForIO::Current();
  // Completions already in the port first: their messages have left the mailslot.
  while (pending_ && loop->WaitForIOCompletion(0, this)) {
  }
  DWORD size = 0;
  while (pending_ && HasWaitingMessage(&size)) {
    if (!loop->WaitForIOCompletion(kFlushCompletionWaitMs, this)) break;
  }
}

void MailslotReader::Deliver(const char* bytes, DWORD size) {
  base::SerialBuffer view(bytes, size);
  receiver_->OnMailslotMessage(view);
}

void MailslotReader::StopReading(DWORD error) {
  SetLastError(error);
  PLOG(ERROR) << "Cannot read from mailslot";
  stopped_ = true;
}

}  // namespace installer

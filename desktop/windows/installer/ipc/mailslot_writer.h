// MailslotWriter: writes queued messages to one mailslot on an I/O thread, in order, one
// write in flight. A reader that does not read makes the writes wait. Where the system cannot bind the handle to the thread's completion
// port it writes synchronously (a mailslot write never waits for the reader). A message
// that cannot be written is dropped, so it never holds back the ones behind it. Lives
// and dies on the I/O thread.
#ifndef DESKTOP_WINDOWS_INSTALLER_IPC_MAILSLOT_WRITER_H_
#define DESKTOP_WINDOWS_INSTALLER_IPC_MAILSLOT_WRITER_H_

#include <windows.h>

#include <deque>
#include <memory>
#include <vector>

#include "base/message_loop/message_loop_for_io.h"
#include "base/serial_buffer.h"
#include "base/time/time.h"
#include "base/win/scoped_handle.h"

namespace installer {

class MailslotWriter : public base::MessageLoopForIO::IOHandler {
 public:
  // How long closing waits for queued messages to be written when nothing tells when
  // the reader is gone.
  static constexpr int kDrainTimeMs = 2000;
  // How often closing looks whether the reader is gone.
  static constexpr DWORD kReaderCheckMs = 100;

  // Takes `mailslot`, opened for overlapped writing, and `reader_gone` (may be empty):
  // handles of which one is signalled once the reader reads no more (its process, an
  // event it sets when it stops).
  MailslotWriter(base::ScopedHandle mailslot, std::vector<base::ScopedHandle> reader_gone);
  // Drops the step reports still queued, then writes the rest in order until the reader
  // is gone (without `reader_gone`, for up to kDrainTimeMs) and cancels what is left;
  // the dropped steps count among the unsent.
  ~MailslotWriter() override;
  MailslotWriter(const MailslotWriter&) = delete;
  MailslotWriter& operator=(const MailslotWriter&) = delete;

  void Queue(std::unique_ptr<base::SerialBuffer> message);

  size_t queued() const { return queue_.size(); }

  // base::MessageLoopForIO::IOHandler:
  void OnIOCompleted(base::MessageLoopForIO::IOContext* context, DWORD bytes_transferred,
                     DWORD error) override;

  // Errors after which the same write may well succeed later.
  static bool IsTransientError(DWORD error);

  // Runs `hook` on the writer's thread when a close has waited kDrainTimeMs.
  static void SetDrainTimeOverHookForTesting(void (*hook)());

 private:
  // Writes from the front of the queue until a write is in flight, the queue is empty
  // or a transient failure keeps the front message for a later try.
  void StartWrite();
  // False when the front message stays queued (transient failure).
  bool OnWriteFailed(DWORD error);
  // Removes the queued step reports but one being written; returns how many.
  size_t DropQueuedSteps();
  void Drain();
  // Whether one of `reader_gone_` is signalled.
  bool ReaderGone() const;

  base::ScopedHandle mailslot_;
  std::vector<base::ScopedHandle> reader_gone_;
  bool bound_ = false;
  std::deque<std::unique_ptr<base::SerialBuffer>> queue_;
  base::MessageLoopForIO::IOContext context_;
  bool pending_ = false;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_IPC_MAILSLOT_WRITER_H_

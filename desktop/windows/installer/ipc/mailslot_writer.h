// MailslotWriter: writes queued messages to one mailslot on an I/O thread, in order, one
// write in flight. Where the system cannot bind the handle to the thread's completion
// port it writes synchronously (a mailslot write never waits for the reader). A message
// that cannot be written is dropped, so it never holds back the ones behind it. Lives
// and dies on the I/O thread.
#ifndef DESKTOP_WINDOWS_INSTALLER_IPC_MAILSLOT_WRITER_H_
#define DESKTOP_WINDOWS_INSTALLER_IPC_MAILSLOT_WRITER_H_

#include <windows.h>

#include <deque>
#include <memory>

#include "base/message_loop/message_loop_for_io.h"
#include "base/serial_buffer.h"
#include "base/time/time.h"
#include "base/win/scoped_handle.h"

namespace installer {

class MailslotWriter : public base::MessageLoopForIO::IOHandler {
 public:
  // How long closing waits for queued messages to be written.
  static constexpr int kDrainTimeMs = 2000;

  // Takes `mailslot`, opened for overlapped writing.
  explicit MailslotWriter(base::ScopedHandle mailslot);
  // Gives the queue up to kDrainTimeMs to be written, then cancels the rest.
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

 private:
  // Writes from the front of the queue until a write is in flight, the queue is empty
  // or a transient failure keeps the front message for a later try.
  void StartWrite();
  // False when the front message stays queued (transient failure).
  bool OnWriteFailed(DWORD error);
  void Drain();

  base::ScopedHandle mailslot_;
  bool bound_ = false;
  std::deque<std::unique_ptr<base::SerialBuffer>> queue_;
  base::MessageLoopForIO::IOContext context_;
  bool pending_ = false;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_IPC_MAILSLOT_WRITER_H_

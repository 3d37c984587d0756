// MailslotReader: reads the messages of one mailslot on an I/O thread and hands each to
// its receiver there. It keeps one overlapped read in flight through the thread's
// completion port; where the system cannot bind a mailslot to a port, it polls the
// mailslot instead, so no thread ever blocks on it. Lives and dies on the I/O thread.
#ifndef DESKTOP_WINDOWS_INSTALLER_IPC_MAILSLOT_READER_H_
#define DESKTOP_WINDOWS_INSTALLER_IPC_MAILSLOT_READER_H_

#include <windows.h>

#include <vector>

#include "base/memory/weak_ptr.h"
#include "base/message_loop/message_loop_for_io.h"
#include "base/serial_buffer.h"
#include "base/time/time.h"
#include "base/win/scoped_handle.h"

namespace installer {

class MailslotReader : public base::MessageLoopForIO::IOHandler {
 public:
  class Receiver {
   public:
    virtual ~Receiver() = default;
    // A view of the bytes, valid during the call only.
    virtual void OnMailslotMessage(const base::SerialBuffer& message) = 0;
  };

  // How often a mailslot that cannot use the completion port is looked at.
  static constexpr int kPollIntervalMs = 15;

  // Takes `mailslot` (a mailslot server handle) and starts reading at once.
  MailslotReader(base::ScopedHandle mailslot, Receiver* receiver);
  // Cancels the read in flight and waits for its completion.
  ~MailslotReader() override;
  MailslotReader(const MailslotReader&) = delete;
  MailslotReader& operator=(const MailslotReader&) = delete;

  // Hands over every message already in the mailslot before returning, so that a
  // caller that knows the writer has ended misses none of its messages.
  void ReadWaitingMessages();

  bool polling() const { return polling_; }
  // Tests only: the context of the reader's overlapped read.
  base::MessageLoopForIO::IOContext* context_for_testing() { return &context_; }

  // base::MessageLoopForIO::IOHandler:
  void OnIOCompleted(base::MessageLoopForIO::IOContext* context, DWORD bytes_transferred,
                     DWORD error) override;

 private:
  void StartRead();
  // Whether a message waits; false also when the mailslot cannot be asked.
  bool HasWaitingMessage(DWORD* size);
  // Polling: reads what waits, then looks again after the interval.
  void Poll();
  // Polling: reads every waiting message; false when reading failed for good.
  [[nodiscard]] bool ReadWaitingMessagesSynchronously();
  void Deliver(const char* bytes, DWORD size);
  void StopReading(DWORD error);

  base::ScopedHandle mailslot_;
  Receiver* receiver_;
  std::vector<char> buffer_;
  base::MessageLoopForIO::IOContext context_;
  bool pending_ = false;
  bool polling_ = false;
  bool stopped_ = false;
  base::WeakPtrFactory<MailslotReader> weak_factory_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_IPC_MAILSLOT_READER_H_

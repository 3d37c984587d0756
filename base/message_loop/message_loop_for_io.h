// MessageLoopForIO: the I/O loop's extra operations, over a MessageLoop of TYPE_IO.
//
//   if (!MessageLoopForIO::Current()->RegisterIOHandler(pipe, this)) ... // not bindable
//   ReadFile(pipe, buffer, size, nullptr, &context_.overlapped);   // OnIOCompleted later
#ifndef BASE_MESSAGE_LOOP_MESSAGE_LOOP_FOR_IO_H_
#define BASE_MESSAGE_LOOP_MESSAGE_LOOP_FOR_IO_H_

#include <windows.h>

#include "base/message_loop/message_loop.h"
#include "base/message_loop/message_pump_io.h"

namespace base {

// Adds no state: any MessageLoop of TYPE_IO may be used through this class.
class MessageLoopForIO : public MessageLoop {
 public:
  typedef MessagePumpForIO::IOHandler IOHandler;
  typedef MessagePumpForIO::IOContext IOContext;

  // Builds an I/O loop bound to the calling thread.
  MessageLoopForIO() : MessageLoop(TYPE_IO) {}

  // The calling thread's loop when it is an I/O loop, else null.
  static MessageLoopForIO* Current();

  // False when |file| cannot be bound to the loop's completion port.
  [[nodiscard]] bool RegisterIOHandler(HANDLE file, IOHandler* handler);
  bool WaitForIOCompletion(DWORD timeout, IOHandler* filter);

 private:
  MessagePumpForIO* io_pump() const { return static_cast<MessagePumpForIO*>(pump()); }
};

static_assert(sizeof(MessageLoopForIO) == sizeof(MessageLoop), "no state of its own");

}  // namespace base

#endif  // BASE_MESSAGE_LOOP_MESSAGE_LOOP_FOR_IO_H_

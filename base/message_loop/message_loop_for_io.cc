#include "base/message_loop/message_loop_for_io.h"

namespace base {

// static
MessageLoopForIO* MessageLoopForIO::Current() {
  MessageLoop* loop = MessageLoop::Current();
  if (!loop || !loop->IsType(TYPE_IO))
    return nullptr;
  return static_cast<MessageLoopForIO*>(loop);
}

bool MessageLoopForIO::RegisterIOHandler(HANDLE file, IOHandler* handler) {
  return io_pump()->RegisterIOHandler(file, handler);
}

bool MessageLoopForIO::WaitForIOCompletion(DWORD timeout, IOHandler* filter) {
  return io_pump()->WaitForIOCompletion(timeout, filter);
}

}  // namespace base

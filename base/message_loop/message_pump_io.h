// MessagePumpForIO: the pump of I/O loops. It sleeps on an I/O completion port and
// delivers each completed overlapped request to the handler registered for its file;
// a wake-up from another thread is one completion packet of the pump itself.
#ifndef BASE_MESSAGE_LOOP_MESSAGE_PUMP_IO_H_
#define BASE_MESSAGE_LOOP_MESSAGE_PUMP_IO_H_

#include <windows.h>

#include <list>

#include "base/message_loop/message_pump_win.h"
#include "base/win/scoped_handle.h"

namespace base {

class MessagePumpForIO : public MessagePumpWin {
 public:
  // Per-request record; embed it in your own and pass &context.overlapped to the call.
  struct IOContext {
    IOContext();
    OVERLAPPED overlapped;
  };

  class IOHandler {
   public:
    virtual ~IOHandler() = default;
    // |error| is 0 on success; a failed request reports 0 bytes.
    virtual void OnIOCompleted(IOContext* context, DWORD bytes_transferred,
                               DWORD error) = 0;
  };

  MessagePumpForIO();
  ~MessagePumpForIO() override;

  void ScheduleWork() override;
  void ScheduleDelayedWork(const TimeTicks& delayed_work_time) override;

  // Completions of |file| go to |handler| from now on. Loop thread. False when the
  // file cannot be bound to the port (some handle kinds cannot); the caller then has
  // to do its I/O another way.
  [[nodiscard]] bool RegisterIOHandler(HANDLE file, IOHandler* handler);

  // Waits up to |timeout| ms (INFINITE allowed) for one completion and delivers it.
  // With a |filter|, completions for other handlers are kept for a later wait. True
  // when something arrived (a wake-up included).
  bool WaitForIOCompletion(DWORD timeout, IOHandler* filter);

  HANDLE port() const { return port_.Get(); }

 private:
  struct IOItem {
    IOHandler* handler;
    IOContext* context;
    DWORD bytes_transferred;
    DWORD error;
  };

  void DoRunLoop() override;
  void WaitForWork();
  bool GetIOItem(DWORD timeout, IOItem* item);
  bool ProcessInternalIOItem(const IOItem& item);
  bool MatchCompletedIOItem(IOHandler* filter, IOItem* item);

  ScopedHandle port_;
  std::list<IOItem> completed_io_;
};

}  // namespace base

#endif  // BASE_MESSAGE_LOOP_MESSAGE_PUMP_IO_H_

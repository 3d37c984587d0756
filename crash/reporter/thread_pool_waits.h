// Registration of thread-pool waits, behind an interface so that tests can make a
// registration fail or move a callback to another thread.
#ifndef CRASH_REPORTER_THREAD_POOL_WAITS_H_
#define CRASH_REPORTER_THREAD_POOL_WAITS_H_

#include <windows.h>

namespace crash_reporter {

class ThreadPoolWaits {
 public:
  virtual ~ThreadPoolWaits() = default;

  // RegisterWaitForSingleObject.
  [[nodiscard]] virtual bool Register(HANDLE* wait, HANDLE object, WAITORTIMERCALLBACK callback,
                                      void* context, ULONG flags) = 0;
  // UnregisterWaitEx: |completion| INVALID_HANDLE_VALUE waits for running callbacks,
  // null does not.
  [[nodiscard]] virtual bool Unregister(HANDLE wait, HANDLE completion) = 0;

  // The system's.
  static ThreadPoolWaits* System();
};

}  // namespace crash_reporter

#endif  // CRASH_REPORTER_THREAD_POOL_WAITS_H_

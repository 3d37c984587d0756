#include "crash/reporter/thread_pool_waits.h"

namespace crash_reporter {

namespace {

class SystemThreadPoolWaits : public ThreadPoolWaits {
 public:
  bool Register(HANDLE* wait, HANDLE object, WAITORTIMERCALLBACK callback, void* context,
                ULONG flags) override {
    return RegisterWaitForSingleObject(wait, object, callback, context, INFINITE, flags) != FALSE;
  }
  bool Unregister(HANDLE wait, HANDLE completion) override {
    return UnregisterWaitEx(wait, completion) != FALSE;
  }
};

}  // namespace

ThreadPoolWaits* ThreadPoolWaits::System() {
  static SystemThreadPoolWaits* const waits = new SystemThreadPoolWaits;
  return waits;
}

}  // namespace crash_reporter

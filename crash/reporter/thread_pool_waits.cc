#include "crash/reporter/thread_pool_waits.h"

#include "base/win/scoped_generic.h"

namespace crash_reporter {

namespace {

class SystemThreadPoolWaits : public ThreadPoolWaits {
 public:
  bool Register(HANDLE* wait, HANDLE object, WAITORTIMERCALLBACK callback, void* context,
                ULONG flags) override {
    return RegisterWaitForSingleObject(wait, object, callback, context, INFINITE, flags) != FALSE;
  }
  bool Unregister(HANDLE wait, HANDLE completion) override {
    // The server keeps its waits as plain values behind this seam; the owner gives each
    // one back.
    return base::ScopedRegisteredWait(wait).Unregister(completion);
  }
};

}  // namespace

ThreadPoolWaits* ThreadPoolWaits::System() {
  static SystemThreadPoolWaits* const waits = new SystemThreadPoolWaits;
  return waits;
}

}  // namespace crash_reporter

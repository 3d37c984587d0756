#include "base/win/scoped_generic.h"

#include <userenv.h>
#include <winhttp.h>

#include "base/logging.h"

namespace base {

void WinHttpHandleTraits::Free(void* handle) {
  if (!WinHttpCloseHandle(handle)) PLOG(ERROR) << "WinHttpCloseHandle";
}

void TimerQueueTimerTraits::Free(HANDLE timer) {
  if (!DeleteTimerQueueTimer(nullptr, timer, INVALID_HANDLE_VALUE))
    PLOG(ERROR) << "DeleteTimerQueueTimer";
}

void EnvironmentBlockTraits::Free(void* block) { DestroyEnvironmentBlock(block); }

}  // namespace base

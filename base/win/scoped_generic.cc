#include "base/win/scoped_generic.h"

#include <winhttp.h>

#include "base/logging.h"

namespace base {

void WinHttpHandleTraits::Free(void* handle) {
  if (!WinHttpCloseHandle(handle)) PLOG(ERROR) << "WinHttpCloseHandle";
}

}  // namespace base

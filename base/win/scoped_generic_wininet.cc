// The WinINet owner's close, apart from scoped_generic.cc: wininet.h and winhttp.h cannot
// both be included in one file.
#include "base/win/scoped_generic.h"

#include <wininet.h>

#include "base/logging.h"

namespace base {

void WinInetHandleTraits::Free(void* handle) {
  if (!InternetCloseHandle(handle)) PLOG(ERROR) << "InternetCloseHandle";
}

}  // namespace base

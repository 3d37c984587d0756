#include "base/sys_info.h"

#include <windows.h>

namespace base {

int64_t QueryPhysicalMemoryBytes() {
  MEMORYSTATUSEX status = {};
  status.dwLength = sizeof(status);
  if (!GlobalMemoryStatusEx(&status)) return 0;
  if (status.ullTotalPhys > static_cast<DWORDLONG>(INT64_MAX)) return INT64_MAX;
  return static_cast<int64_t>(status.ullTotalPhys);
}

}  // namespace base

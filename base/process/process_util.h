// Facts about processes: the parent of a process and this process's creation time.
#ifndef BASE_PROCESS_PROCESS_UTIL_H_
#define BASE_PROCESS_PROCESS_UTIL_H_

#include <windows.h>
#include <stdint.h>

#include "base/time/time.h"

namespace base {

// The id of the process that created |process|; 0 when the system no longer lists it or
// cannot be asked.
uint32_t GetParentProcessId(HANDLE process);
// The same for the process of id |process_id|.
uint32_t GetParentProcessId(uint32_t process_id);

// When this process was created; the null time when the system cannot tell.
Time ProcessCreationTime();

}  // namespace base

#endif  // BASE_PROCESS_PROCESS_UTIL_H_

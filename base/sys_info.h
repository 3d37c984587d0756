// Facts about the machine.
#ifndef BASE_SYS_INFO_H_
#define BASE_SYS_INFO_H_

#include <stdint.h>

namespace base {

// The installed physical memory in bytes; 0 when the system cannot tell, INT64_MAX when
// the total does not fit.
int64_t QueryPhysicalMemoryBytes();

}  // namespace base

#endif  // BASE_SYS_INFO_H_

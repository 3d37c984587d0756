#include "base/rand_util.h"

#include <windows.h>

#include "base/immediate_crash.h"
#include "base/logging.h"

// RtlGenRandom; advapi32 exports it under this name only.
extern "C" BOOLEAN NTAPI SystemFunction036(PVOID buffer, ULONG length);

namespace base {

void RandBytes(void* output, size_t length) {
  char* out = static_cast<char*>(output);
  while (length > 0) {
    const ULONG chunk = length > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<ULONG>(length);
    if (!SystemFunction036(out, chunk)) {
      LOG(FATAL) << "the system random generator failed";
      ImmediateCrash();
    }
    out += chunk;
    length -= chunk;
  }
}

uint64_t RandUint64() {
  uint64_t value;
  RandBytes(&value, sizeof(value));
  return value;
}

int RandInt(int min, int max) {
  DCHECK_LE(min, max);
  const uint64_t range = static_cast<uint64_t>(static_cast<int64_t>(max) - min) + 1;
  // Values above the largest whole multiple of |range| would favour small results.
  const uint64_t max_acceptable = UINT64_MAX - (UINT64_MAX % range) - 1;
  uint64_t value;
  do {
    value = RandUint64();
  } while (value > max_acceptable);
  return static_cast<int>(static_cast<int64_t>(min) + static_cast<int64_t>(value % range));
}

}  // namespace base

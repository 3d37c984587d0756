#include "base/guid.h"

#include <stdio.h>

#include "base/rand_util.h"

namespace base {

std::string GuidTextFromRandomValues(uint64_t high, uint64_t low) {
  high = (high & ~uint64_t{0xF000}) | 0x4000;                              // version 4
  low = (low & uint64_t{0x3FFFFFFFFFFFFFFF}) | uint64_t{0x8000000000000000};  // RFC 4122
  char text[37];
  snprintf(text, sizeof(text), "%08x-%04x-%04x-%04x-%012llx",
           static_cast<unsigned>(high >> 32), static_cast<unsigned>((high >> 16) & 0xFFFF),
           static_cast<unsigned>(high & 0xFFFF), static_cast<unsigned>(low >> 48),
           static_cast<unsigned long long>(low & uint64_t{0xFFFFFFFFFFFF}));
  return std::string(text, 36);
}

std::string GenerateGuid() {
  uint64_t values[2];
  RandBytes(values, sizeof(values));
  return GuidTextFromRandomValues(values[0], values[1]);
}

}  // namespace base

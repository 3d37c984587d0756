// Random (version 4) GUID texts such as "6f1d3a0c-7b2e-4c55-9a1e-0d4f6b8e2a17".
#ifndef BASE_GUID_H_
#define BASE_GUID_H_

#include <stdint.h>

#include <string>

namespace base {

// A new random GUID: 36 lower-case characters, no braces.
std::string GenerateGuid();

// The text of the GUID held in two 64-bit halves, the version and variant bits set.
std::string GuidTextFromRandomValues(uint64_t high, uint64_t low);

}  // namespace base

#endif  // BASE_GUID_H_

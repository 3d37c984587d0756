// The fixed version information of a module file.
#ifndef CRASH_UTIL_MODULE_VERSION_H_
#define CRASH_UTIL_MODULE_VERSION_H_

#include <windows.h>

#include <string>

namespace crash_reporter {

// The root block of |path|'s version resource, its flags masked by the flags mask; false
// (logged) when it cannot be read.
[[nodiscard]] bool GetModuleVersion(const std::wstring& path, VS_FIXEDFILEINFO* version);

}  // namespace crash_reporter

#endif  // CRASH_UTIL_MODULE_VERSION_H_

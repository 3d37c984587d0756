// Small services over Windows: the instrumented-image check, win32k availability,
// shell-link application identity, and the diagnosis of a failed bitmap allocation.
#ifndef BASE_WIN_WIN_UTIL_H_
#define BASE_WIN_WIN_UTIL_H_

#include <windows.h>
#include <propsys.h>

#include "base/win/windows_version.h"

namespace base {

// The module (EXE or DLL) whose image holds this code.
HMODULE GetCurrentModuleHandle();

// True when this module's image carries the ".thunks" and ".syzygy" sections of an
// instrumenting rewriter. Computed once.
bool IsInstrumentedImage();

// False when a mitigation policy forbids this process win32k calls. Computed once.
bool IsWin32kAvailableForProcess();

// The shell link's application user model id (a string) and dual-mode flag (a boolean);
// the headers lack the second.
extern const PROPERTYKEY kAppUserModelId;
extern const PROPERTYKEY kAppUserModelIsDualMode;

// Writes the application user model id, or the dual-mode flag, into a shell link's
// property store and commits it; false on failure.
[[nodiscard]] bool SetAppIdForPropertyStore(IPropertyStore* property_store, const wchar_t* app_id);
[[nodiscard]] bool SetDualModeForPropertyStore(IPropertyStore* property_store, bool dual_mode);

// Called when creating a bitmap failed: gathers the figures that tell why (last error,
// GDI and USER object counts, memory use, a small test bitmap, the counts of other
// processes) into its stack frame and ends the process, so that the crash dump shows
// them. |header| may be null.
[[noreturn]] void CrashOnBitmapAllocationFailure(BITMAPINFOHEADER* header, HANDLE section);

// The image check over any module.
bool ImageHasInstrumentationSections(HMODULE module);

typedef BOOL(WINAPI* GetProcessMitigationPolicyFunction)(HANDLE process, int policy,
                                                         void* buffer, SIZE_T length);

// The win32k rule for a version index and a mitigation query (null when the system
// lacks it).
bool IsWin32kAvailable(OsVersion version, GetProcessMitigationPolicyFunction query);

}  // namespace base

#endif  // BASE_WIN_WIN_UTIL_H_

// Checks that run when the installer library is loaded, before any of its own code.
#ifndef DESKTOP_WINDOWS_INSTALLER_STARTUP_CHECKS_H_
#define DESKTOP_WINDOWS_INSTALLER_STARTUP_CHECKS_H_

#include <windows.h>

namespace installer {

// Tells the user and ends the process with exit code 1 when the processor cannot run
// SSE2 instructions, which the compiled code uses everywhere.
void CheckProcessorSupportsSse2();

namespace internal {

// The system calls behind the check, replaceable in tests.
struct ProcessorCheckFunctions {
  BOOL(WINAPI* is_processor_feature_present)(DWORD feature);
  int(WINAPI* message_box)(HWND owner, const wchar_t* text, const wchar_t* caption,
                           UINT type);
  void (*exit)(int code);  // does not return, except in tests
};

void CheckProcessorSupportsSse2(const ProcessorCheckFunctions& functions);

}  // namespace internal

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_STARTUP_CHECKS_H_

// The installer library's C entry points, shared with the host executable.
#ifndef DESKTOP_WINDOWS_INSTALLER_FRONT_END_RUN_INSTALLER_H_
#define DESKTOP_WINDOWS_INSTALLER_FRONT_END_RUN_INSTALLER_H_

#ifdef VELUM_INSTALLER_BUILDING_DLL
#define VELUM_INSTALLER_API __declspec(dllexport)
#else
#define VELUM_INSTALLER_API __declspec(dllimport)
#endif

extern "C" {
// Runs the role chosen by the process command line; true on success. The result is a
// one-byte bool: callers must not declare it as the four-byte Win32 BOOL.
[[nodiscard]] VELUM_INSTALLER_API bool RunInstaller();
typedef bool (*RunInstallerFunction)();
}

static_assert(sizeof(bool) == 1, "RunInstaller returns a one-byte bool");

#endif  // DESKTOP_WINDOWS_INSTALLER_FRONT_END_RUN_INSTALLER_H_

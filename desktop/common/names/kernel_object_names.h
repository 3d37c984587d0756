// The names of the kernel objects (mutexes, events, pipes, mailslots) through which the
// product's processes find each other. Both ends of each object take its name from here.
#ifndef DESKTOP_COMMON_NAMES_KERNEL_OBJECT_NAMES_H_
#define DESKTOP_COMMON_NAMES_KERNEL_OBJECT_NAMES_H_

namespace kernel_objects {

// Per install folder, each named GetKernelObjectName(folder, base, global).
//
// Global mutex: one installation at a time per folder, held by the front end.
constexpr wchar_t kInstallFolderMutexBase[] = L"Velum/Installer";
// Global event: the front end cancels the installation.
constexpr wchar_t kInstallationInterruptedEventPrefix[] = L"VelumInstaller/InstallationInterrupted";
// Global event: the package is complete in the package folder.
constexpr wchar_t kPackageReadyEventPrefix[] = L"VelumInstaller/PackageReady";
// Global event: the uninstalling backend leaves the clean-up batch for the front end to
// start as it ends.
constexpr wchar_t kCleanupBatchLeftEventPrefix[] = L"VelumInstaller/CleanupBatchLeft";
// Local event: the folder-permission helper has granted the access.
constexpr wchar_t kGiveInstallPermissionEventPrefix[] = L"VelumInstaller/GiveInstallPermission";
// Local event: the installation no longer needs the access.
constexpr wchar_t kGiveInstallPermissionUndoEventPrefix[] =
    L"VelumInstaller/GiveInstallPermission/Undo";
// Mailslot on which the backend reports to its front end: this followed by the folder.
constexpr wchar_t kInstallerMailslotPrefix[] = L"velum_installer\\";

// Local mutex of the interactive installer, one per user session: the prefix, the product
// name and the suffix.
constexpr wchar_t kUiLockMutexPrefix[] = L"Local\\";
constexpr wchar_t kUiLockMutexSuffix[] = L"/Installer/UI_lock";

// Crash reporting, each followed by a pid in decimal: the pipe the reporter serves, the
// event it sets once it serves a client, and the event of a reporter that crashed itself.
constexpr wchar_t kCrashPipeNamePrefix[] = L"\\\\.\\pipe\\VelumCrashReporter";
constexpr wchar_t kCrashReporterInitEventPrefix[] = L"VelumCrashReporterInitEvent";
constexpr wchar_t kCrashReporterExceptionEventPrefix[] = L"VelumCrashReporterException";

// Guards the autoupdate global storage in the registry, shared with the browser.
constexpr wchar_t kGlobalStorageMutex[] = L"vauc_registry_mutex";

}  // namespace kernel_objects

#endif  // DESKTOP_COMMON_NAMES_KERNEL_OBJECT_NAMES_H_

// The named events through which the processes of one installation signal each
// other. Each is named for the install folder: GetKernelObjectName(folder,
// prefix, global).
#ifndef DESKTOP_WINDOWS_INSTALLER_INSTALLATION_EVENT_NAMES_H_
#define DESKTOP_WINDOWS_INSTALLER_INSTALLATION_EVENT_NAMES_H_

namespace installer {

// Global: the front end cancels the installation.
constexpr wchar_t kInstallationInterruptedEventPrefix[] = L"VelumInstaller/InstallationInterrupted";
// Global: the package is complete in the package folder.
constexpr wchar_t kPackageReadyEventPrefix[] = L"VelumInstaller/PackageReady";
// Local: the folder-permission helper has granted the access.
constexpr wchar_t kGiveInstallPermissionEventPrefix[] = L"VelumInstaller/GiveInstallPermission";
// Local: the installation no longer needs the access.
constexpr wchar_t kGiveInstallPermissionUndoEventPrefix[] =
    L"VelumInstaller/GiveInstallPermission/Undo";

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_INSTALLATION_EVENT_NAMES_H_

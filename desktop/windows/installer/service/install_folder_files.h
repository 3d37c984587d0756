// Files of the install folder that the installer, its elevated helper, the uninstaller and
// later runs find by name.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_INSTALL_FOLDER_FILES_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_INSTALL_FOLDER_FILES_H_

#include <stddef.h>

namespace installer {

// The installation record.
constexpr wchar_t kStatusFileName[] = L"installation_status.xml";
// The folder of the records earlier installations left and of the runs' notes.
constexpr wchar_t kOldStatusFolderName[] = L"old_status";
// The longest name a run gives a file of its own in the install folder, beside the
// package's: the folder must leave room for it set aside. An earlier record is kept in
// the old-status folder under the second it was moved there ("<folder>\\<record>.<ten
// digits>", until 2286; each size's NUL counts for a separator); every other such name is
// shorter.
constexpr size_t kLongestOwnFileNameSize =
    sizeof(kOldStatusFolderName) / sizeof(wchar_t) + sizeof(kStatusFileName) / sizeof(wchar_t) + 10;
// The program that the shortcuts, the file classes and the uninstall entry start.
constexpr wchar_t kLauncherFileName[] = L"launcher.exe";
// The extension of the browser program's own copy, kept while the launcher takes its name.
constexpr wchar_t kBrowserOldCopyExtension[] = L".old";
// The pinning helpers, one of which a run copies beside the package's files: the one for
// the processor's architecture.
constexpr wchar_t kInstallerHelper64FileName[] = L"installer_helper_64.exe";
constexpr wchar_t kInstallerHelper32FileName[] = L"installer_helper.exe";
constexpr const wchar_t* kInstallerHelperFileNames[] = {kInstallerHelper64FileName,
                                                         kInstallerHelper32FileName};
// The installation's preferences, which the browser, its updates and later runs read.
constexpr wchar_t kInstallerPrefsFileName[] = L"installer_prefs.json";
// The tracking data the package came with, carried to later runs.
constexpr wchar_t kTrackingDataFileName[] = L"server_tracking_data";
// The preference defaults fetched for the installation.
constexpr wchar_t kPrefDefaultOverridesFileName[] = L"pref_default_overrides";

// The names of the install folder itself that installations and upgrades write, beside
// the package's own.
constexpr const wchar_t* kWrittenRootNames[] = {
    kLauncherFileName, kInstallerPrefsFileName, kTrackingDataFileName,
    kPrefDefaultOverridesFileName, kStatusFileName,
};
// Those of them written whole beside their name first, with this extension added, and put
// in place through the transaction.
constexpr wchar_t kStagingExtension[] = L"new";
constexpr const wchar_t* kStagedRootNames[] = {kInstallerPrefsFileName, kStatusFileName};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_INSTALL_FOLDER_FILES_H_

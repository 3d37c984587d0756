// Files of the install folder that the installer, its elevated helper, the uninstaller and
// later runs find by name.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_INSTALL_FOLDER_FILES_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_INSTALL_FOLDER_FILES_H_

namespace installer {

// The installation record.
constexpr wchar_t kStatusFileName[] = L"installation_status.xml";
// The longest names a run gives files of its own in the install folder, beside the
// package's: the folder must leave room for each of them set aside. An earlier record
// is kept in "old_status" under the second it was moved there (ten digits until 2286).
// Every other such name is shorter; a longer one belongs in this list.
constexpr const wchar_t* kLongestOwnFileNames[] = {
    kStatusFileName, L"old_status\\installation_status.xml.0000000000"};
// The program that the shortcuts, the file classes and the uninstall entry start.
constexpr wchar_t kLauncherFileName[] = L"launcher.exe";
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

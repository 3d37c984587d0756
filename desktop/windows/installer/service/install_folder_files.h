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

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_INSTALL_FOLDER_FILES_H_

// Files of the install folder that the installer, its elevated helper, the uninstaller and
// later runs find by name.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_INSTALL_FOLDER_FILES_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_INSTALL_FOLDER_FILES_H_

namespace installer {

// The installation record.
constexpr wchar_t kStatusFileName[] = L"installation_status.xml";
// The program that the shortcuts, the file classes and the uninstall entry start.
constexpr wchar_t kLauncherFileName[] = L"launcher.exe";

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_INSTALL_FOLDER_FILES_H_

// What the installer window tells its owner (the UI controller) about the user's
// decisions.
#ifndef DESKTOP_WINDOWS_INSTALLER_UI_INSTALLER_WINDOW_DELEGATE_H_
#define DESKTOP_WINDOWS_INSTALLER_UI_INSTALLER_WINDOW_DELEGATE_H_

namespace installer {

class InstallerWindowDelegate {
 public:
  virtual ~InstallerWindowDelegate() {}
  // ACCEPT, UNINSTALL or RETRY was clicked.
  virtual void OnAccept() = 0;
  // The user confirmed cancelling, or a fatal error was acknowledged.
  virtual void OnCancel() = 0;
  // FULL_PACKAGE was clicked.
  virtual void OnObtainFullPackage() = 0;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_UI_INSTALLER_WINDOW_DELEGATE_H_

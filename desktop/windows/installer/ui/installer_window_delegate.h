// What the installer window tells its owner (the UI controller) about the user's
// decisions, and what the owner answers the window about the machine.
#ifndef DESKTOP_WINDOWS_INSTALLER_UI_INSTALLER_WINDOW_DELEGATE_H_
#define DESKTOP_WINDOWS_INSTALLER_UI_INSTALLER_WINDOW_DELEGATE_H_

#include <functional>

namespace installer {

// The machine's answers the window needs beyond the settings, given when it is made.
struct InstallerWindowAnswers {
  // Whether the options offer making the browser the default: the system can make it so.
  bool offer_default_browser = true;
  // Whether installing for all users, or into a folder the user cannot write, needs
  // elevation: the buttons that start it then carry the shield.
  std::function<bool(bool all_users, bool install_folder_writable)> needs_elevation;
};

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

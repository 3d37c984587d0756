#include "desktop/windows/installer/front_end/installer_help_switch_table.h"

#include "desktop/common/names/switches.h"

namespace installer {

namespace {
const char kBoolean[] = "[0|1]";
}  // namespace

// The texts are shown to users as they are, including their spelling.
const std::array<InstallerHelpSwitch, 16> InstallerHelpSwitchTable = {{
    {switches::kSilent, nullptr,
     "Run the installer fully unattended. No dialog will be displayed in this mode. If it "
     "isn't running with sufficient privileges, the installer will fail instead of "
     "prompting the user.",
     nullptr},
    {switches::kRunImmediately, nullptr,
     "Run the installer mostly unattended. The installation will start immediately and "
     "the progress dialog will be displayed. The installer will prompt the user for "
     "elevation if needed.",
     nullptr},
    {switches::kLanguage, "LANGUAGE",
     "Install %s in the specified language.This language will also be used during "
     "installation.",
     "The Operating system UI language."},
    {switches::kInstallFolder, "FOLDER", "Install %s in the specified folder.", nullptr},
    {switches::kAllUsers, kBoolean, "If true, install %s for all users on the system.",
     "True when running from an administrative acount."},
    {switches::kCopyOnly, kBoolean,
     "If true, the installer will only copy the files to the installation folder and "
     "will otherwise not perform any modification on the system.",
     "False."},
    {switches::kSingleProfile, kBoolean,
     "If true, the installer will set up %s to use a singleprofile located in the "
     "installation folder.",
     "False."},
    {switches::kSetDefaultBrowser, kBoolean,
     "If true, make %s the default browser for this user or computer.",
     "True for %s Stable."},
    {switches::kDesktopShortcut, kBoolean, "If true, create a shortcut for %s on the desktop.",
     "True."},
    {switches::kStartMenuShortcut, kBoolean, "If true, create a shortcut for %s on the start menu.",
     "True."},
    {switches::kQuickLaunchShortcut, kBoolean,
     "If true, create a shortcut for %s on the quick launch menu.",
     "False on Window 7 and later. True otherwise"},
    {switches::kPinToTaskbar, kBoolean, "If true, pin %s to the taskbar.",
     "True on Window 7 and later. False otherwise."},
    {switches::kImportBrowserData, kBoolean,
     "If true, %s is set up to import user data from the previously default browser "
     "when creating new user profiles.",
     "True."},
    {switches::kEnableStats, kBoolean, "If true, %s will by default gather and report statistics.",
     "True."},
    {switches::kEnableInstallerStats, kBoolean,
     "If true, installer will by default gather and report statistics.", "True."},
    {switches::kLaunchBrowser, kBoolean,
     "If true, %s is launched once the installation is completed.", "True."},
}};

}  // namespace installer

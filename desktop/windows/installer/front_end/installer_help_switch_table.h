// The documented command-line switches of the installer, as the help output lists them.
#ifndef DESKTOP_WINDOWS_INSTALLER_FRONT_END_INSTALLER_HELP_SWITCH_TABLE_H_
#define DESKTOP_WINDOWS_INSTALLER_FRONT_END_INSTALLER_HELP_SWITCH_TABLE_H_

#include <array>

namespace installer {

struct InstallerHelpSwitch {
  const char* name;
  const char* placeholder;  // the value's placeholder; null for a switch without value
  // printf formats whose only conversion, if any, is one "%s" for the product name.
  const char* description;
  const char* default_value;  // null when the help names no default
};

// In the order the help lists them.
extern const std::array<InstallerHelpSwitch, 16> InstallerHelpSwitchTable;

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_FRONT_END_INSTALLER_HELP_SWITCH_TABLE_H_

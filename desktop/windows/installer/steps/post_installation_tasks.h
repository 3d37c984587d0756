// The work after a successful installation that runs as the user: the default browser
// and the component installers after an elevated installation, then the profile
// adjustments and the browser's launch.
#ifndef DESKTOP_WINDOWS_INSTALLER_STEPS_POST_INSTALLATION_TASKS_H_
#define DESKTOP_WINDOWS_INSTALLER_STEPS_POST_INSTALLATION_TASKS_H_

namespace installer {

class InstallationContext;

// Sets up the default browser (not for an uninstallation), starts each recorded
// component's installer for its post-elevation work and then, unless uninstalling,
// FinalizeSuccessfulInstallation.
void RunPostElevationTasks(InstallationContext* context);

// Adjusts the browser profile of the install target and launches the browser when the
// settings ask for it, waiting for the launcher to end.
void FinalizeSuccessfulInstallation(InstallationContext* context);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_STEPS_POST_INSTALLATION_TASKS_H_

// The work of the library's exported RunInstaller: one role of the installer
// process, chosen from the command line, with everything that lives for the
// whole process.
#ifndef DESKTOP_WINDOWS_INSTALLER_FRONT_END_RUN_INSTALLER_PROCESS_H_
#define DESKTOP_WINDOWS_INSTALLER_FRONT_END_RUN_INSTALLER_PROCESS_H_

#include <string>

namespace base {
class Dictionary;
class RunLoop;
}  // namespace base

namespace installer {

class Settings;

// The whole run; the result becomes the process exit status.
[[nodiscard]] bool RunInstallerProcess();

// The result callback of the corrupted-payload box: the accept button (1) and a
// link (3) open the product's website; every result ends the box's run loop.
void OpenWebsiteLink(base::RunLoop* run_loop, int result);

// What the installer takes from its tracking data: the default-browser and
// statistics choices only when both are present (setting `run_immediately`),
// and the logged niuid and medium.
void ApplyTrackingData(const base::Dictionary& tracking, Settings* settings, bool* run_immediately);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_FRONT_END_RUN_INSTALLER_PROCESS_H_

// The steps that give the browser its desktop, Start Menu and Quick Launch shortcuts and
// its taskbar pin, keep them right across upgrades and take them away at uninstallation.
// Every shortcut of an installation is a copy of one master shortcut made in the
// installer's own folder, pointing at the install folder's "launcher.exe" and carrying
// the installation's application id, so that the taskbar groups the browser's windows
// with its pin.
#ifndef DESKTOP_WINDOWS_INSTALLER_STEPS_SHORTCUT_STEPS_H_
#define DESKTOP_WINDOWS_INSTALLER_STEPS_SHORTCUT_STEPS_H_

#include <stdint.h>

#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/result.h"
#include "desktop/windows/installer/steps/installer_step.h"
#include "desktop/windows/installer/service/install_log.h"

namespace installer {

class InstallationContext;

// The string resource that names the shortcut in the stable channel.
const int32_t kShortcutNameStringId = 37070;

// The shortcut file name of this build (in the stable channel the localized string in
// the UI language, English where the resources lack it), and the same with the version before ".lnk" for
// places where the plain name is taken (it ends in a digit, which later upgrades look
// for).
std::wstring GetShortcutFileName();
std::wstring GetVersionedShortcutFileName(const std::string& version);
// The folders the shortcut kinds go to, for all users or the current user; the system's
// unknown ones left out.
std::vector<base::FilePath> GetShortcutFolders(bool all_users);

// "VelumSoftware.VelumWebBrowser." + `app_id`.
std::wstring GetShortcutAppUserModelId(const std::string& app_id);

// The partner pinned beside the browser: "vk" for Russian installations, "facebook"
// otherwise; and the web address its shortcut opens.
std::wstring GetPartnerName(const std::wstring& language);
std::wstring GetPartnerAddress(const std::wstring& partner);

// A shortcut to create: its folder and the new record's field that gets its path.
struct ShortcutToCreate {
  base::FilePath folder;
  std::wstring InstallLog::*record_field;
};

// Makes the master shortcut to `target`, pins it when asked, copies it into each folder
// and, for pinned partner installations, pins the partner shortcut. Fails when the
// master (or the partner shortcut) could not be created; a folder the copy could not
// reach is only logged, and stays out of the record.
base::Result<> CreateShortcuts(InstallationContext* context,
                               const std::vector<ShortcutToCreate>& shortcuts, bool pin,
                               bool use_version_name, const base::FilePath& target);

// Unpins each pinned shortcut and deletes it.
void UnpinShortcut(InstallationContext* context, const std::vector<std::wstring>& shortcuts);

class InstallShortcutsStep : public ContextStep {
 public:
  using ContextStep::ContextStep;
  StepResult Run(int32_t attempt) override;
};

// Moves, keeps, recreates, removes or adds each shortcut of the previous version as the
// request says, and pins, unpins or pins again.
class UpdateShortcutsStep : public ContextStep {
 public:
  using ContextStep::ContextStep;
  StepResult Run(int32_t attempt) override;
};

class RemoveShortcutsStep : public ContextStep {
 public:
  using ContextStep::ContextStep;
  StepResult Run(int32_t attempt) override;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_STEPS_SHORTCUT_STEPS_H_

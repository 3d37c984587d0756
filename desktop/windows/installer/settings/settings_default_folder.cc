// The default install folders, the suggestions offered to the user, and the modes
// that move between them.
#include "desktop/common/names/switches.h"
#include "desktop/windows/installer/settings/settings.h"

#include "base/logging.h"

namespace installer {

base::FilePath Settings::GetDefaultInstallFolder(int sources) const {
  VLOG(1) << "Default install folder from sources: command line "
          << ((sources & SOURCE_COMMAND_LINE) ? 1 : 0) << ", registry "
          << ((sources & SOURCE_REGISTRY) ? 1 : 0) << ", standard "
          << ((sources & SOURCE_STANDARD) ? 1 : 0);
  if ((sources & SOURCE_COMMAND_LINE) && !command_line_install_folder_.empty())
    return command_line_install_folder_;
  if (!flags_[COPY_ONLY] && (sources & SOURCE_REGISTRY) && !registry_install_folder_.empty())
    return registry_install_folder_;
  if (sources & SOURCE_STANDARD) {
    if (flags_[ALL_USERS_FLAG])
      return platform_->GetStandardInstallFolder(true, architecture_);
    if (flags_[COPY_ONLY]) {
      // No drive offered: an empty folder, which the target check rejects.
      return standalone_install_paths_.empty() ? base::FilePath()
                                               : standalone_install_paths_.front();
    }
    return platform_->GetStandardInstallFolder(false, architecture_);
  }
  return base::FilePath();
}

std::vector<base::FilePath> Settings::GetInstallFolderSuggestions() const {
  if (flags_[COPY_ONLY])
    return standalone_install_paths_;
  return std::vector<base::FilePath>(1,
                                     GetDefaultInstallFolder(SOURCE_REGISTRY | SOURCE_STANDARD));
}

bool Settings::SetMode(int mode) {
  VLOG(1) << "Changing Settings using SetMode";
  if (!changeable_)
    return false;
  if (mode != MODE_ALL_USERS && mode != MODE_CURRENT_USER && mode != MODE_STANDALONE)
    return false;
  // The mode's own default counts as suggested too: a standalone mode without any drive
  // offers an empty folder, which the next mode replaces by its default.
  bool folder_was_suggested =
      base::FilePath::CompareIgnoreCase(GetDefaultInstallFolder(SOURCE_REGISTRY | SOURCE_STANDARD).value(),
                                        target_.folder.value()) == 0;
  for (const base::FilePath& suggestion : GetInstallFolderSuggestions()) {
    if (base::FilePath::CompareIgnoreCase(suggestion.value(), target_.folder.value()) == 0)
      folder_was_suggested = true;
  }
  bool keep_single_profile =
      command_line_->HasSwitch(switches::kSingleProfile) || operation_ == OPERATION_UPGRADE;
  bool result;
  if (mode == MODE_STANDALONE) {
    if (!keep_single_profile)
      flags_[SINGLE_PROFILE] = true;
    result = SetCopyOnly(true);
  } else {
    if (!keep_single_profile)
      flags_[SINGLE_PROFILE] = false;
    result = SetCopyOnly(false);
    // Told of the copy-only change before this one, observers hear of it too: a mode box
    // refreshed in between would show the old mode where the folder does not move.
    const bool all_users = mode == MODE_ALL_USERS;
    if (result && operation_ != OPERATION_UPGRADE && !flags_[COPY_ONLY] &&
        flags_[ALL_USERS_FLAG] != all_users) {
      result = SetFlag(ALL_USERS_FLAG, all_users);
    }
  }
  if (folder_was_suggested)
    SetInstallFolder(GetDefaultInstallFolder(SOURCE_REGISTRY | SOURCE_STANDARD));
  return result;
}

}  // namespace installer

// What a run of the installer notes before its first change to the install folder, and
// which shortcut paths a note may name: only the product's shortcut names in the places
// the shortcuts of the run's mode go. Built here because it needs the steps' shortcut
// places; the note's format, its writing and the recovery of the interrupted runs it
// names live in service/interrupted_runs/.
#ifndef DESKTOP_WINDOWS_INSTALLER_RUN_NOTE_BUILDER_H_
#define DESKTOP_WINDOWS_INSTALLER_RUN_NOTE_BUILDER_H_

#include <stdint.h>

#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "desktop/windows/installer/service/interrupted_runs/run_note.h"

namespace installer {

class InstallLog;

// What a run will touch.
struct RunNoteSources {
  RunNote::Operation operation = RunNote::Operation::kInstall;
  int64_t start = 0;
  base::FilePath install_folder;
  // The version folder an installation or upgrade makes, with the package's lists.
  std::wstring subfolder;
  const std::vector<std::string>* files = nullptr;
  const std::vector<std::string>* root_files = nullptr;
  // The installation's record (an upgrade's predecessor, the one uninstalled), or null.
  const InstallLog* existing = nullptr;
  bool all_users = false;
  // The version the run installs.
  std::string version;
};

// The note of a run with `sources`; names as the folder holds them now.
RunNote BuildRunNote(const RunNoteSources& sources);

// Whether `path` is one of the product's shortcut names in a shortcut folder of the mode
// (an all-users one only when `all_users`).
bool IsProductShortcut(const base::FilePath& path, bool all_users);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_RUN_NOTE_BUILDER_H_

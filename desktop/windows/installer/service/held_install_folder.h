// The install folder of a run, held once for the whole run: from before its notes are
// read until the run's transaction has been committed or rolled back. Held without delete
// sharing, neither the folder nor (on Windows) a folder above it can be renamed or
// replaced meanwhile, so every act that goes through this object reaches the folder the
// notes were read from, whatever is put at its name later. A folder that already is a
// link when it is held is taken as the folder it leads to.
//
//   HeldInstallFolder install;
//   base::Result<> held = install.Hold(install_folder);  // before the notes are read
//   install.path();        // as the run names it; every name below it is named from this
//   install.final_path();  // where it really is
//   install.folder();      // the held folder itself
//
//   // One name below it, with every folder on its way, none of them a link:
//   HeldWay way;
//   base::Result<> result = install.HoldBelow(path, DELETE | FILE_READ_ATTRIBUTES,
//                                             FILE_SHARE_READ | FILE_SHARE_WRITE, false, &way);
//   if (result.ok()) way.place.DeleteOnClose();
//   // else IsMissingPlace(result): nothing there; kind kHeldLink: reached through a link
//
//   // Many names in few folders, each folder held and listed once, through this handle:
//   HeldFolders folders(install.path(), install.folder());
//   folders.HoldFile(path, access, share, &file);
//
//   install.RemoveFolderIfEmpty(path);  // an emptied folder below it, through its handle
//   ...                                 // the transaction committed
//   install.ReleaseAndRemoveIfEmpty();  // or Release() after a rollback
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_HELD_INSTALL_FOLDER_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_HELD_INSTALL_FOLDER_H_

#include <windows.h>

#include "base/files/file_path.h"
#include "base/result.h"
#include "desktop/windows/installer/service/held_file.h"

namespace installer {

class HeldInstallFolder {
 public:
  HeldInstallFolder();
  ~HeldInstallFolder();
  HeldInstallFolder(const HeldInstallFolder&) = delete;
  HeldInstallFolder& operator=(const HeldInstallFolder&) = delete;

  // Holds `install_folder`, a folder that exists, following a link there. A failure when
  // it cannot be opened (the system's error), is no folder, or is on a network share.
  // Whatever was held before is let go first.
  [[nodiscard]] base::Result<> Hold(const base::FilePath& install_folder);
  bool is_held() const { return folder_.handle() != nullptr; }

  // The folder as the run names it, without a trailing separator but for a drive's root.
  const base::FilePath& path() const { return path_; }
  const base::FilePath& final_path() const { return folder_.final_path(); }
  const HeldFile& folder() const { return folder_; }

  // Holds `path`, named below path(), for `access` with `share` (a folder when `folder`)
  // with the folders on its way, from this one down through each held handle (HoldBelow).
  base::Result<> HoldBelow(const base::FilePath& path, DWORD access, DWORD share, bool folder,
                           HeldWay* way) const;

  // Removes the folder `path` below it when it lists nothing, through the handle held
  // with its way from this one down: gone once nothing else holds it. A link on the way or
  // at `path` (kind kHeldLink), a file there, or a folder that holds anything stays; a
  // folder that is missing (IsMissingPlace) is no failure's business of the caller's.
  base::Result<> RemoveFolderIfEmpty(const base::FilePath& path) const;

  // Lets the folder go (after a rollback, whose caller removes the folders it made).
  void Release();
  // Lets the folder go after a commit; when the run emptied it, removes it, still the
  // folder it held, and then the folders above its name that this leaves empty, as the
  // commit does for the folders its deletions emptied.
  void ReleaseAndRemoveIfEmpty();

 private:
  base::FilePath path_;
  HeldFile folder_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_HELD_INSTALL_FOLDER_H_

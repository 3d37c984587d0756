#include "desktop/windows/installer/service/held_install_folder.h"

#include <utility>

#include "base/logging.h"

namespace installer {

HeldInstallFolder::HeldInstallFolder() = default;
HeldInstallFolder::~HeldInstallFolder() = default;

base::Result<> HeldInstallFolder::Hold(const base::FilePath& install_folder) {
  Release();
  path_ = install_folder.StripTrailingSeparators();
  if (!folder_.Open(path_, kWayAccess, kWayShare, true)) {
    return base::Failure{GetLastError(), 0, "the install folder " + path_.AsUTF8() +
                                                " cannot be held", path_};
  }
  if (!folder_.is_directory()) {
    folder_ = HeldFile();
    return base::Failure{0, kHeldOtherKind, path_.AsUTF8() + " is no folder", path_};
  }
  return {};
}

base::Result<> HeldInstallFolder::HoldBelow(const base::FilePath& path, DWORD access,
                                            DWORD share, bool folder, HeldWay* way) const {
  if (!is_held()) {
    return base::Failure{ERROR_INVALID_HANDLE, 0, "the install folder is not held", path};
  }
  return installer::HoldBelow(folder_, path_, path, access, share, folder, way);
}

base::Result<> HeldInstallFolder::RemoveFolderIfEmpty(const base::FilePath& path) const {
  HeldWay way;
  base::Result<> held = HoldBelow(path, DELETE | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                                  kWayShare, true, &way);
  if (!held.ok()) return held;
  return RemoveHeldFolderIfEmpty(way.place, path);
}

void HeldInstallFolder::Release() { folder_ = HeldFile(); }

void HeldInstallFolder::ReleaseAndRemoveIfEmpty() {
  if (!is_held() || IsDriveRoot(folder_.final_path())) {
    Release();
    return;
  }
  const base::FilePath final_path = folder_.final_path();
  const FileIdentity identity = folder_.identity();
  Release();
  // Opened again with DELETE once let go: a handle with DELETE held for the whole run
  // would refuse every open of the folder that does not share deletion.
  HeldFile folder;
  bool empty = false;
  if (!folder.Open(final_path, DELETE | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES, kWayShare,
                   false) ||
      folder.is_reparse_point() || !(folder.identity() == identity) ||
      !IsSamePath(folder.final_path(), final_path) || !folder.IsEmptyFolder(&empty) || !empty)
    return;
  if (!folder.DeleteOnClose()) {
    PLOG(WARNING) << "Could not remove the emptied install folder " << final_path.AsUTF8();
    return;
  }
  folder = HeldFile();
  for (base::FilePath parent = path_.DirName(); !IsDriveRoot(parent); parent = parent.DirName()) {
    if (!RemoveDirectoryW(parent.value().c_str())) break;
  }
}

}  // namespace installer

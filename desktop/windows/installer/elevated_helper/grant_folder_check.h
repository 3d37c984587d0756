// Whether the elevated folder-permission helper may give a user full control of a folder.
// The grant is inherited by everything below the folder, so a folder that is (or lies
// under) a reparse point, a drive root, a system or profile folder, or another program's
// folder must never receive it. The decision is made on the folder held open, by its
// final path and file identity, never on the spelling that was asked for.
//
//   const base::Result<base::FilePath> normalized = NormalizeGrantFolder(asked);
//   std::vector<MadeFolder> made;
//   if (normalized.ok() && CheckGrantablePlace(normalized.value(), rules.places).ok() &&
//       CreateMissingFolders(normalized.value(), rules, &made).ok()) {
//     base::Result<base::ScopedHandle> hold =
//         HoldGrantableFolder(normalized.value(), rules, !made.empty());
//     if (hold.ok()) ... act through hold.value() ...
//   }
//   RemoveMadeFoldersIfEmpty(made);  // once the grant is over
// A refusal's failure says why. Where a grant may go is an allow-list, outside every
// protected place (see protected_places.h) and holding none: a folder holding this
// product's own record naming it; an empty folder named as this product's install folder
// directly in a Program Files or Common Files folder; a
// folder made for the request below a Program Files folder, a drive root or a folder
// holding this product's record. Never an all-users installation's folder nor anything
// below it: the system's scheduled update runs its programs.
#ifndef DESKTOP_WINDOWS_INSTALLER_ELEVATED_HELPER_GRANT_FOLDER_CHECK_H_
#define DESKTOP_WINDOWS_INSTALLER_ELEVATED_HELPER_GRANT_FOLDER_CHECK_H_

#include <vector>

#include "base/files/file_path.h"
#include "base/result.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/service/held_file.h"
#include "desktop/windows/installer/elevated_helper/protected_places.h"

namespace installer {

// The folder as the system resolves it: separators normalised, "." and ".." applied,
// short names of existing components made long. Refused unless it is a plain "X:\..."
// path whose every name means what it says: no name the system would trim (trailing
// blanks or dots), no stream suffix (":"), no wildcard or device name.
base::Result<base::FilePath> NormalizeGrantFolder(const base::FilePath& folder);

// A first look by name, before anything is created: refuses a normalized folder that is
// a drive root, is or lies under a reparse point, is or holds one of `places`, or lies
// in one that bars what is below it.
base::Result<> CheckGrantablePlace(const base::FilePath& folder,
                                   const std::vector<ProtectedPlace>& places);

// How a held folder is listed; the system's way, or a test's for a folder that cannot be
// listed (Wine lists every folder its root user can open).
class HeldFolderLister {
 public:
  // Whether the held `folder` lists nothing but "." and ".."; false, with the thread's
  // last error, when it cannot be listed.
  [[nodiscard]] virtual bool IsEmptyFolder(const HeldFile& folder, bool* empty) const = 0;

 protected:
  ~HeldFolderLister() = default;
};

// Lists through the held handle itself.
const HeldFolderLister& SystemHeldFolderLister();

// How a protected place is opened to compare it with the held folder; the system's way,
// or a test's for a place that cannot be opened.
class HeldPlaceOpener {
 public:
  // Opens `path` as HeldFile::Open does for reading attributes, following links; false
  // with the thread's last error.
  [[nodiscard]] virtual bool OpenPlace(const base::FilePath& path, HeldFile* place) const = 0;

 protected:
  ~HeldPlaceOpener() = default;
};

const HeldPlaceOpener& SystemHeldPlaceOpener();

// What a held folder is decided on: the protected places and the ways to list the folder
// and to open the places.
struct GrantRules {
  std::vector<ProtectedPlace> places;
  const HeldFolderLister* lister = &SystemHeldFolderLister();
  const HeldPlaceOpener* opener = &SystemHeldPlaceOpener();
};

// A folder made for a request: where, and which one it was.
struct MadeFolder {
  base::FilePath path;
  FileIdentity identity;
};

// Makes the missing folders of the normalized `folder` one by one, each relative to its
// held parent and without following a link, starting from the nearest existing folder,
// which must be a plain folder whose final path is the one asked for and must be a
// Program Files folder (one of the places that do not bar what is below them), a drive
// root, or a folder holding this product's record naming it, and neither that folder nor
// one above it may hold an all-users installation's record. Refused, with nothing made,
// where a link or another folder stands in the way or that folder is another one. `made`
// receives the folders this call made, the outermost first.
base::Result<> CreateMissingFolders(const base::FilePath& folder, const GrantRules& rules,
                                    std::vector<MadeFolder>* made);

// Removes the `made` folders, innermost first, each only while it is still the folder
// that was made (not a link or another folder in its place) and empty; stops at the first
// it leaves.
void RemoveMadeFoldersIfEmpty(const std::vector<MadeFolder>& made);

// Opens the existing normalized folder without following links and without delete
// sharing (it cannot be renamed or replaced while the handle is open), with the rights to
// read and write its access list, and decides on that handle: its final path must be
// `folder`, and neither its final path nor its file identity may be a drive root or a
// protected place, hold one or lie in one that bars what is below it; it must hold this
// product's installation record naming it, or be empty and either made for this request
// (`made_for_request`) or named as this product's install folder (the configuration's
// visible product name) directly in a Program Files or Common Files folder; neither it nor
// a folder above it may hold the record of an all-users installation. Refused for
// anything it cannot check: a place that exists but cannot be opened, a folder that
// cannot be listed, a record above it that cannot be read.
base::Result<base::ScopedHandle> HoldGrantableFolder(const base::FilePath& folder,
                                                     const GrantRules& rules,
                                                     bool made_for_request = false);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_ELEVATED_HELPER_GRANT_FOLDER_CHECK_H_

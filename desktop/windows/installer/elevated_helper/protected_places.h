// Where an elevated folder grant must never reach: every folder from which another
// account's code runs or is looked up (the system's, every profile, the shell's startup,
// start menu, desktop, documents, data, send-to and template folders of every user and of
// all users wherever they are redirected, every folder of a search path), and the folders
// that hold them. A grant is inherited by everything below the granted folder, so a place
// is refused with the folders above it and, unless it only holds other programs' folders
// (Program Files), with everything below it.
//
//   const base::Result<std::vector<ProtectedPlace>> places = ListProtectedPlaces(token);
//   if (places.ok()) ... CheckGrantablePlace(folder, places.value()) ...
#ifndef DESKTOP_WINDOWS_INSTALLER_ELEVATED_HELPER_PROTECTED_PLACES_H_
#define DESKTOP_WINDOWS_INSTALLER_ELEVATED_HELPER_PROTECTED_PLACES_H_

#include <windows.h>

#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/result.h"

namespace installer {

struct ProtectedPlace {
  // "X:\..." as the system reads it, long names for the part that exists.
  base::FilePath path;
  // Nothing below it may be granted either; false for a place that only holds other
  // programs' folders, inside which a folder's own content decides.
  bool bars_below = true;
};

// `text` as the system resolves it (a full path, names trimmed as the system trims them,
// short names of existing components made long); empty unless it is a "X:\..." path (a
// share, a relative or device path names no place of its own here).
base::FilePath ResolvePlace(const std::wstring& text);

// Adds the places a profile hive names: its redirected shell folders (User Shell Folders)
// and the folders of its PATH (Environment). `user_key` is an open HKEY_USERS\<sid> (a
// test's own key too); %USERPROFILE% in them means `profile` when it is given. Fails for
// a value that exists but cannot be read.
base::Result<> AddHivePlaces(HKEY user_key, const base::FilePath& profile,
                             std::vector<ProtectedPlace>* places);

// Adds the folders of a PATH value, ';'-separated and possibly quoted.
void AddSearchPathPlaces(const std::wstring& path_value, std::vector<ProtectedPlace>* places);

// Every place on this machine: the system's folders, the profiles' root and every profile,
// the known folders of this process's user, of the user of `requester_token` (may be
// null) and of all users, the hives loaded under HKEY_USERS and the machine's PATH.
// Fails when one of them exists but cannot be read.
base::Result<std::vector<ProtectedPlace>> ListProtectedPlaces(HANDLE requester_token);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_ELEVATED_HELPER_PROTECTED_PLACES_H_

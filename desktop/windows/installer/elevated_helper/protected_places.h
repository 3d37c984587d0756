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
#include "base/win/scoped_generic.h"

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

// Opens the hive of a profile whose user is not logged on (its NTUSER.DAT), for reading;
// the system's way, or a test's (Wine loads no hive file).
class ProfileHiveOpener {
 public:
  // ERROR_SUCCESS with `hive` open, ERROR_FILE_NOT_FOUND or ERROR_PATH_NOT_FOUND when the
  // profile has no hive file, else the error that kept it from being read.
  [[nodiscard]] virtual LONG Open(const std::wstring& sid, const base::FilePath& hive_file,
                                  base::ScopedHKEY* hive) const = 0;

 protected:
  ~ProfileHiveOpener() = default;
};

const ProfileHiveOpener& SystemProfileHiveOpener();

// Where the places are read from: the machine's keys, the loaded hives and the hives of
// users not logged on; the system's, or a test's keys in their place.
struct PlaceSources {
  // Holds the profile list and the machine's environment at their system paths.
  HKEY machine = HKEY_LOCAL_MACHINE;
  // Holds a key per loaded hive.
  HKEY users = HKEY_USERS;
  const ProfileHiveOpener* hive_opener = &SystemProfileHiveOpener();
};

// Adds the places a profile hive names: its redirected shell folders (User Shell Folders)
// and the folders of its PATH (Environment). `user_key` is an open hive (a test's own key
// too) that a refusal names as `hive_name`; %USERPROFILE% in them means `profile` when it
// is given. Fails, naming the hive and value, for a value that exists but cannot be read.
base::Result<> AddHivePlaces(HKEY user_key, const std::wstring& hive_name,
                             const base::FilePath& profile, std::vector<ProtectedPlace>* places);

// Adds the folders of a PATH value as cmd reads it: entries end at a ";" outside quotes,
// and the quotes are dropped.
void AddSearchPathPlaces(const std::wstring& path_value, std::vector<ProtectedPlace>* places);

// Every place on this machine: the system's folders, the profiles' root and every profile,
// the known folders of this process's user, of the user of `requester_token` (may be
// null) and of all users, every user's hive (loaded under HKEY_USERS, or read from the
// profile of a user not logged on) and the machine's PATH. Fails when one of them exists
// but cannot be read.
base::Result<std::vector<ProtectedPlace>> ListProtectedPlaces(
    HANDLE requester_token, const PlaceSources& sources = PlaceSources());

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_ELEVATED_HELPER_PROTECTED_PLACES_H_

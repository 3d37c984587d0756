#include "desktop/windows/installer/elevated_helper/grant_folder_check.h"

#include <windows.h>

#include <wchar.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/files/file_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_generic.h"
#include "desktop/common/autoupdate/updatechecker/product_config.h"
#include "desktop/windows/installer/service/held_file.h"
#include "desktop/windows/installer/elevated_helper/long_path.h"
#include "desktop/windows/installer/service/install_folder_files.h"
#include "desktop/windows/installer/service/install_log.h"
#include "desktop/windows/installer/service/install_log_reader.h"

namespace installer {

namespace {

// A refusal: why, and of which path.
base::Failure Refused(std::string why, const base::FilePath& path) {
  return base::Failure{0, 0, std::move(why), path};
}

bool IsDeviceName(const std::wstring& name) {
  // The system takes these as devices whatever extension follows.
  std::wstring stem = name.substr(0, name.find(L'.'));
  while (!stem.empty() && stem.back() == L' ') stem.pop_back();
  for (wchar_t& c : stem) c = towupper(c);
  for (const wchar_t* device : {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"}) {
    if (stem == device) return true;
  }
  return stem.size() == 4 && (stem.compare(0, 3, L"COM") == 0 || stem.compare(0, 3, L"LPT") == 0) &&
         stem[3] >= L'1' && stem[3] <= L'9';
}

// Why the system would read the path component `name` as something else, or null.
const char* RefusedName(const std::wstring& name) {
  if (name.back() == L' ' || name.back() == L'.')
    return "a name ending in a blank or a dot, which the system drops";
  for (wchar_t c : name) {
    if (c < 32 || wcschr(L":*?\"<>|", c)) return "a stream suffix or a reserved character";
  }
  if (IsDeviceName(name)) return "a device name";
  return nullptr;
}

// "X:\a\b" from the components of `text` after its drive, "." and ".." applied; refused
// for a component the system would read otherwise.
base::Result<std::wstring> ApplyComponents(const std::wstring& text) {
  std::vector<std::wstring> names;
  size_t start = 3;
  while (start <= text.size()) {
    size_t end = text.find_first_of(L"\\/", start);
    if (end == std::wstring::npos) end = text.size();
    const std::wstring name = text.substr(start, end - start);
    start = end + 1;
    if (name.empty() || name == L".") continue;
    if (name == L"..") {
      if (!names.empty()) names.pop_back();
      continue;
    }
    if (const char* why = RefusedName(name)) return Refused(why, base::FilePath(text));
    names.push_back(name);
  }
  std::wstring path = std::wstring(1, towupper(text[0])) + L":";
  for (const std::wstring& name : names) path += L"\\" + name;
  if (names.empty()) path += L"\\";
  return path;
}

class SystemLister : public HeldFolderLister {
 public:
  bool IsEmptyFolder(const HeldFile& folder, bool* empty) const override {
    return folder.IsEmptyFolder(empty);
  }
};

class SystemPlaceOpener : public HeldPlaceOpener {
 public:
  bool OpenPlace(const base::FilePath& path, HeldFile* place) const override {
    return place->Open(path, FILE_READ_ATTRIBUTES,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, true);
  }
};

// Why `path` may not be granted beside the protected `place` (compared by name); null
// when it may.
const char* RefusedBeside(const base::FilePath& path, const base::FilePath& place,
                          bool bars_below) {
  if (IsSameOrUnder(place, path)) return "it is or holds the protected folder ";
  if (bars_below && IsSameOrUnder(path, place)) return "it lies in the protected folder ";
  return nullptr;
}

// Refuses a held folder that is a drive root, is or holds a protected place or lies in
// one that bars what is below it, by final path and identity. Each place is opened as
// the checked folder is; one that is absent is compared by name, and one that exists but
// cannot be opened cannot be compared with, which refuses.
base::Result<> CheckGrantableHeldPlace(const HeldFile& target, const GrantRules& rules) {
  const base::FilePath& path = target.final_path();
  if (IsDriveRoot(path)) return Refused("a drive root", path);
  std::vector<ProtectedPlace> places = rules.places;
  // A folder that is its drive's root by another name (a mount point, a drive letter).
  places.push_back(ProtectedPlace{base::FilePath(path.value().substr(0, 3)), false});
  for (const ProtectedPlace& place : places) {
    HeldFile held;
    base::FilePath known = place.path;
    if (rules.opener->OpenPlace(place.path, &held)) {
      known = held.final_path();
      if (held.identity() == target.identity())
        return Refused("it is or holds the protected folder " + known.AsUTF8(), path);
    } else {
      const DWORD error = GetLastError();
      if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
        return base::Failure{error, 0, "it cannot be compared with " + place.path.AsUTF8(),
                             path};
      }
    }
    if (const char* why = RefusedBeside(path, known, place.bars_below))
      return Refused(why + known.AsUTF8(), path);
  }
  return {};
}

// Reads this product's installation record held in `folder` (held against changes while
// it is read) into `log`; refused, with why, when there is none or it is not one to go by.
base::Result<> ReadRecordIn(const base::FilePath& folder, std::unique_ptr<InstallLog>* log) {
  const base::FilePath path = folder.Append(kStatusFileName);
  HeldFile record;
  if (!record.Open(path, GENERIC_READ, FILE_SHARE_READ, false) || record.is_directory())
    return Refused("a folder that holds another program's files", folder);
  // A record reached through a link is another file's word (Wine follows a link it was
  // asked not to: then only the final path tells).
  if (record.is_reparse_point() || !IsSamePath(record.final_path(), path))
    return Refused("a folder whose installation record is a link", folder);
  // The helper's main thread has joined one already; a test's thread may not have.
  const base::ScopedComInitializer com(COINIT_APARTMENTTHREADED);
  InstallLogReader reader;
  reader.ParseFile(log, path, SOURCE_STATUS_FILE);
  if (!*log || (*log)->damaged)
    return Refused("a folder whose installation record cannot be read", folder);
  return {};
}

const char kAllUsersFolder[] = "it is or lies in the folder of an all-users installation ";

// Refuses `folder` when `at` or a folder above it holds this product's record of an
// all-users installation, or a record that cannot tell: the system's scheduled update
// runs the programs of such a folder, and no installation asks the helper for one.
base::Result<> CheckOutsideAllUsersInstallation(base::FilePath at, const base::FilePath& folder) {
  for (;; at = at.DirName()) {
    const DWORD attributes = GetFileAttributesW(at.Append(kStatusFileName).value().c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      std::unique_ptr<InstallLog> log;
      const base::Result<> read = ReadRecordIn(at, &log);
      if (!read.ok()) {
        return Refused("it lies in " + at.AsUTF8() + ", whose installation record cannot tell "
                       "whether it is an all-users installation's: " + read.failure().text,
                       folder);
      }
      if (log->all_users) return Refused(kAllUsersFolder + at.AsUTF8(), folder);
    }
    if (IsDriveRoot(at) || at.DirName() == at) return {};
  }
}

// Whether the held folder holds this product's installation record naming `folder`.
base::Result<> CheckRecordOf(const base::FilePath& folder) {
  std::unique_ptr<InstallLog> log;
  const base::Result<> read = ReadRecordIn(folder, &log);
  if (!read.ok()) return read;
  if (log->all_users) return Refused(kAllUsersFolder + folder.AsUTF8(), folder);
  const base::Result<base::FilePath> named =
      NormalizeGrantFolder(base::FilePath(log->install_path));
  if (!named.ok() || !IsSamePath(named.value(), folder))
    return Refused("a folder whose installation record names another folder", folder);
  return {};
}

// Whether the held `folder` is one of the places that only hold other programs' folders
// (Program Files and Common Files), by identity. One that cannot be opened is not it.
bool IsProgramFolder(const HeldFile& folder, const GrantRules& rules) {
  for (const ProtectedPlace& place : rules.places) {
    HeldFile held;
    if (!place.bars_below && rules.opener->OpenPlace(place.path, &held) &&
        held.identity() == folder.identity()) {
      return true;
    }
  }
  return false;
}

// Whether an empty held folder that the request did not make may be granted: only this
// product's own, named as its install folder right in a Program Files or Common Files
// folder. Any other empty folder there may be another program's or the system's, made and
// left empty.
base::Result<> CheckEmptyFolderPlace(const HeldFile& target, const GrantRules& rules) {
  HeldFile parent;
  const base::FilePath path = target.final_path();
  const std::wstring own_name = base::UTF8ToWide(GetVisibleProductName());
  if (!IsDriveRoot(path) &&
      base::FilePath::CompareIgnoreCase(path.BaseName().value(), own_name) == 0 &&
      parent.Open(path.DirName(), FILE_READ_ATTRIBUTES,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, false) &&
      IsProgramFolder(parent, rules)) {
    return {};
  }
  return Refused("an empty folder that this request did not make and that is not this "
                 "product's own (\"" + base::WideToUTF8(own_name) +
                     "\" directly in a Program Files folder or a Common Files folder): "
                     "choose a new folder name, and the folder is made for the installation",
                 path);
}

// Whether new folders may be made in the held `existing`: a Program Files folder, a drive
// root, or this product's folder; any other holds another program's or a user's folders.
base::Result<> CheckNewFolderParent(const HeldFile& existing, const GrantRules& rules,
                                    const base::FilePath& folder) {
  const base::Result<> outside = CheckOutsideAllUsersInstallation(existing.final_path(), folder);
  if (!outside.ok()) return outside;
  if (IsDriveRoot(existing.final_path()) || IsProgramFolder(existing, rules) ||
      CheckRecordOf(existing.final_path()).ok()) {
    return {};
  }
  return Refused("a new folder whose nearest existing folder " + existing.final_path().AsUTF8() +
                     " is not a Program Files folder, a drive root or a folder holding this "
                     "product's record naming it",
                 folder);
}

}  // namespace

const HeldFolderLister& SystemHeldFolderLister() {
  static const SystemLister lister;
  return lister;
}

const HeldPlaceOpener& SystemHeldPlaceOpener() {
  static const SystemPlaceOpener opener;
  return opener;
}

base::Result<base::FilePath> NormalizeGrantFolder(const base::FilePath& folder) {
  const std::wstring& text = folder.value();
  const bool drive_path = text.size() >= 3 && iswalpha(text[0]) && text[1] == L':' &&
                          (text[2] == L'\\' || text[2] == L'/');
  if (!drive_path) return Refused("not a plain absolute path", folder);
  const base::Result<std::wstring> applied = ApplyComponents(text);
  if (!applied.ok()) return applied.failure();
  // Whatever the system itself reads otherwise is refused too.
  wchar_t full[MAX_PATH] = {};
  const DWORD length = GetFullPathNameW(text.c_str(), MAX_PATH, full, nullptr);
  if (length == 0 || length >= MAX_PATH ||
      !IsSamePath(base::FilePath(full), base::FilePath(applied.value()))) {
    return Refused("the system reads the path otherwise", folder);
  }
  const base::Result<base::FilePath> path = WithLongNames(base::FilePath(applied.value()));
  if (!path.ok()) return Refused("the path cannot be resolved", folder);
  return path.value();
}

base::Result<> CheckGrantablePlace(const base::FilePath& folder,
                                   const std::vector<ProtectedPlace>& places) {
  if (IsDriveRoot(folder)) return Refused("a drive root", folder);
  base::FilePath reparse_point;
  if (FindReparsePoint(folder, base::FilePath(), &reparse_point))
    return Refused("the reparse point " + reparse_point.AsUTF8(), folder);
  for (const ProtectedPlace& place : places) {
    if (const char* why = RefusedBeside(folder, place.path, place.bars_below))
      return Refused(why + place.path.AsUTF8(), folder);
  }
  return {};
}

base::Result<> CreateMissingFolders(const base::FilePath& folder, const GrantRules& rules,
                                    std::vector<MadeFolder>* made) {
  made->clear();
  std::vector<std::wstring> missing;
  base::FilePath existing = folder;
  while (GetFileAttributesW(existing.value().c_str()) == INVALID_FILE_ATTRIBUTES) {
    if (IsDriveRoot(existing)) return Refused("its drive cannot be found", folder);
    missing.push_back(existing.BaseName().value());
    existing = existing.DirName();
  }
  if (missing.empty()) return {};
  // Held without delete sharing: it cannot be renamed or replaced while the folders
  // below it are made.
  HeldFile parent;
  if (!parent.Open(existing, FILE_LIST_DIRECTORY | FILE_ADD_SUBDIRECTORY | FILE_TRAVERSE |
                                 FILE_READ_ATTRIBUTES,
                   FILE_SHARE_READ | FILE_SHARE_WRITE, false)) {
    return base::Failure{GetLastError(), 0, "the folder above it cannot be held", existing};
  }
  if (parent.is_reparse_point() || !parent.is_directory() ||
      !IsSamePath(parent.final_path(), existing)) {
    return Refused("the folder above it is " + parent.final_path().AsUTF8(), folder);
  }
  const base::Result<> allowed = CheckNewFolderParent(parent, rules, folder);
  if (!allowed.ok()) return allowed;
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    HeldFile child;
    bool created = false;
    if (!child.CreateChildFolder(parent, *it, &created))
      return base::Failure{GetLastError(), 0, "it cannot be created", parent.final_path()};
    if (created) made->push_back(MadeFolder{child.final_path(), child.identity()});
    // One that appeared meanwhile as a link or a file is opened, not followed: refused.
    if (child.is_reparse_point() || !child.is_directory())
      return Refused("a reparse point or a file stands in its way", child.final_path());
    parent = std::move(child);
  }
  return {};
}

void RemoveMadeFoldersIfEmpty(const std::vector<MadeFolder>& made) {
  for (auto it = made.rbegin(); it != made.rend(); ++it) {
    HeldFile folder;
    bool empty = false;
    // Removed through the handle that was checked: a link or another folder put in its
    // place, or one that holds anything, stays.
    if (!folder.Open(it->path, DELETE | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, false) ||
        folder.is_reparse_point() || !folder.is_directory() ||
        !(folder.identity() == it->identity) || !IsSamePath(folder.final_path(), it->path) ||
        !folder.IsEmptyFolder(&empty) || !empty || !folder.DeleteOnClose()) {
      return;
    }
  }
}

base::Result<base::ScopedHandle> HoldGrantableFolder(const base::FilePath& folder,
                                                     const GrantRules& rules,
                                                     bool made_for_request) {
  // Without delete sharing neither the folder nor any folder above it can be renamed
  // while the handle is open, so its path keeps naming what was checked.
  HeldFile target;
  if (!target.Open(folder, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | READ_CONTROL | WRITE_DAC,
                   FILE_SHARE_READ | FILE_SHARE_WRITE, false)) {
    return base::Failure{GetLastError(), 0, "the folder cannot be opened and identified", folder};
  }
  if (target.is_reparse_point()) return Refused("a reparse point", folder);
  if (!target.is_directory()) return Refused("not a folder", folder);
  // A link, a short name or a trimmed name above the folder makes the system's path of
  // it differ from the one that was checked.
  if (!IsSamePath(target.final_path(), folder))
    return Refused("the folder is " + target.final_path().AsUTF8(), folder);
  const base::Result<> place = CheckGrantableHeldPlace(target, rules);
  if (!place.ok()) return place.failure();
  const base::Result<> outside = CheckOutsideAllUsersInstallation(folder.DirName(), folder);
  if (!outside.ok()) return outside.failure();
  bool empty = false;
  if (!rules.lister->IsEmptyFolder(target, &empty))
    return base::Failure{GetLastError(), 0, "the folder cannot be listed", folder};
  const base::Result<> allowed = !empty             ? CheckRecordOf(folder)
                                 : made_for_request ? base::Result<>()
                                                    : CheckEmptyFolderPlace(target, rules);
  if (!allowed.ok()) return allowed.failure();
  return target.TakeHandle();
}

}  // namespace installer

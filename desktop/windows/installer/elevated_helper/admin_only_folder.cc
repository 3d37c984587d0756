#include "desktop/windows/installer/elevated_helper/admin_only_folder.h"

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>
#include <stdint.h>

#include <vector>

#include "base/base_paths_win.h"
#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/guid.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/rand_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_generic.h"
#include "desktop/windows/installer/service/held_file.h"
#include "desktop/windows/installer/security/access_control.h"

namespace installer {

namespace {

// Owned by the Administrators, full control for them and the system only, inherited by
// what is put inside, nothing inherited from the parent.
const wchar_t kAdminOnlySecurity[] = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
const wchar_t kFolderPrefix[] = L"VelumInstaller-";
const wchar_t kLockExtension[] = L".lck";
// How many of the folders named as runs' one run looks at: a standard user may make
// thousands of them, and each costs opening it and reading its owner.
const size_t kSweepLimit = 16;

[[nodiscard]] bool GetTempParent(base::FilePath* parent) {
  base::FilePath windows;
  if (!base::PathRegistry::Get(base::DIR_WINDOWS, &windows)) {
    LOG(ERROR) << "Cannot find the Windows folder";
    return false;
  }
  *parent = windows.Append(L"Temp");
  return true;
}

base::FilePath LockOf(const base::FilePath& folder) {
  return base::FilePath(folder.value() + kLockExtension);
}

// Whether a run holds the lock of `folder`. A lock nobody holds (left by a machine that
// stopped before the close could delete it) is deleted here.
bool IsLive(const base::FilePath& folder) {
  if (DeleteFileW(LockOf(folder).value().c_str())) return false;
  const DWORD error = GetLastError();
  return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
}

// The ended run's folder `path` of the held `parent`, when it is one to remove.
bool IsEndedRunFolder(const HeldFile& parent, const base::FilePath& path,
                      OwnerCheck is_administrators) {
  HeldFile folder;
  if (!folder.Open(path, READ_CONTROL | FILE_LIST_DIRECTORY,
                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, false)) {
    return false;
  }
  // Decided on the folder held: not a link, right in `parent`, made by an administrator.
  if (!folder.is_directory() || folder.is_reparse_point() ||
      base::FilePath::CompareIgnoreCase(folder.final_path().value(),
                                        parent.final_path().Append(path.BaseName()).value()) !=
          0 ||
      !is_administrators(folder.handle())) {
    LOG(WARNING) << "Leaving " << path.AsUTF8() << ": not a folder an elevated run made";
    return false;
  }
  return true;
}

}  // namespace

bool BuildAdminOnlySecurity(base::ScopedLocalAlloc<>* descriptor) {
  PSECURITY_DESCRIPTOR raw = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kAdminOnlySecurity, SDDL_REVISION_1,
                                                            &raw, nullptr)) {
    PLOG(ERROR) << "Cannot build the security of an administrators' folder";
    return false;
  }
  descriptor->Reset(raw);
  return true;
}

bool IsOwnedByAdministrators(HANDLE folder) {
  std::vector<uint8_t> owner;
  return GetObjectOwnerSid(folder, SE_FILE_OBJECT, &owner) &&
         (IsWellKnownSid(owner.data(), WinBuiltinAdministratorsSid) ||
          IsWellKnownSid(owner.data(), WinLocalSystemSid));
}

void RemoveEndedAdminOnlyFolders(const base::FilePath& given_parent, OwnerCheck is_administrators) {
  base::FilePath parent = given_parent;
  if (parent.empty() && !GetTempParent(&parent)) return;
  HeldFile held_parent;
  if (!held_parent.Open(parent, FILE_LIST_DIRECTORY,
                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, true)) {
    PLOG(WARNING) << "Cannot look for ended runs' folders in " << parent.AsUTF8();
    return;
  }
  // A fair random few, so that folders planted to be listed first cannot keep an ended
  // run's folder from ever being looked at.
  std::vector<base::FilePath> sample;
  base::FileEnumerator entries(parent, false, base::FileEnumerator::DIRECTORIES,
                               std::wstring(kFolderPrefix) + L"*");
  size_t seen = 0;
  for (base::FilePath path = entries.Next(); !path.empty(); path = entries.Next(), ++seen) {
    if (sample.size() < kSweepLimit) {
      sample.push_back(path);
      continue;
    }
    const uint64_t slot = base::RandUint64() % (seen + 1);
    if (slot < kSweepLimit) sample[static_cast<size_t>(slot)] = path;
  }
  for (const base::FilePath& path : sample) {
    if (IsLive(path) || !IsEndedRunFolder(held_parent, path, is_administrators)) continue;
    LOG(INFO) << "Removing the folder of an ended run: " << path.AsUTF8();
    if (!base::DeleteFile(path, true)) LOG(WARNING) << "Unable to remove " << path.AsUTF8();
  }
}

AdminOnlyFolder::~AdminOnlyFolder() { Remove(); }

void AdminOnlyFolder::Remove() {
  if (!path_.empty() && !base::DeleteFile(path_, true))
    LOG(WARNING) << "Could not remove " << path_.AsUTF8();
  path_.clear();
  lock_.Close();
}

bool AdminOnlyFolder::Create() {
  base::FilePath parent;
  return GetTempParent(&parent) && CreateIn(parent, &IsOwnedByAdministrators);
}

bool AdminOnlyFolder::CreateIn(const base::FilePath& parent, OwnerCheck is_administrators) {
  RemoveEndedAdminOnlyFolders(parent, is_administrators);
  base::ScopedLocalAlloc<> descriptor;
  if (!BuildAdminOnlySecurity(&descriptor)) return false;
  SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor.Get(), FALSE};
  // A random name that must be new: a folder made beforehand by someone else is never
  // taken.
  const base::FilePath folder =
      parent.Append(kFolderPrefix + base::UTF8ToWide(base::GenerateGuid()));
  // The lock first: a folder without one is an ended run's to any other run.
  lock_.Set(CreateFileW(LockOf(folder).value().c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ,
                        &attributes, CREATE_NEW,
                        FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
  if (!lock_.IsValid()) {
    PLOG(ERROR) << "Cannot create the lock of " << folder.AsUTF8();
    return false;
  }
  if (!CreateDirectoryW(folder.value().c_str(), &attributes)) {
    PLOG(ERROR) << "Cannot create " << folder.AsUTF8();
    lock_.Close();
    return false;
  }
  path_ = folder;
  return true;
}

bool AdminOnlyFolder::CopyIn(const base::FilePath& source, const wchar_t* name,
                             base::FilePath* copy) {
  *copy = path_.Append(name);
  // A plain copy takes the folder's inherited access list, not the source's.
  if (path_.empty() || !CopyFileW(source.value().c_str(), copy->value().c_str(), TRUE)) {
    PLOG(ERROR) << "Cannot copy " << source.AsUTF8() << " to " << copy->AsUTF8();
    return false;
  }
  return true;
}

}  // namespace installer

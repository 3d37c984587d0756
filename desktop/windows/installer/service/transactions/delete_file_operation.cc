#include "desktop/windows/installer/service/transactions/delete_file_operation.h"

#include <windows.h>
#include <wchar.h>

#include <string>

#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/time/time.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/security/access_control.h"
#include "desktop/windows/installer/service/transactions/path_state.h"

namespace installer {

namespace {

// Set-aside names tried for one path within one second.
const int kMaxSetAsideNames = 100;

// Renames within the folder. Unlike MoveUnsafe it never falls back to copying a folder
// and deleting the original: when a file inside is in use that deletion stops halfway
// and leaves the folder half emptied, its only whole copy under the temporary name.
[[nodiscard]] bool Rename(const base::FilePath& from, const base::FilePath& to) {
  if (from.value().size() >= MAX_PATH || to.value().size() >= MAX_PATH) return false;
  return MoveFileExW(from.value().c_str(), to.value().c_str(), MOVEFILE_REPLACE_EXISTING) !=
         FALSE;
}

// ".<seconds>.old", or ".<seconds>.<counter>.old" past the first name of a second.
std::wstring SetAsideSuffix(int64_t seconds, int counter) {
  const std::wstring count = counter ? L"." + std::to_wstring(counter) : std::wstring();
  return L"." + std::to_wstring(seconds) + count + L".old";
}

}  // namespace

bool IsProgramFile(const base::FilePath& path) {
  const std::wstring extension = path.Extension();
  return base::FilePath::CompareIgnoreCase(extension, L".exe") == 0 ||
         base::FilePath::CompareIgnoreCase(extension, L".dll") == 0;
}

bool ChooseSetAsideName(const base::FilePath& path,
                        const std::function<PathState(const base::FilePath&)>& state,
                        base::FilePath* chosen) {
  // A file replaced twice within one second would meet its first set-aside copy under
  // the same name: a counter after the seconds tells them apart.
  const int64_t seconds = base::Time::Now().ToTimeT();
  for (int counter = 0; counter < kMaxSetAsideNames; ++counter) {
    *chosen = path.AddExtension(SetAsideSuffix(seconds, counter));
    switch (state(*chosen)) {
      case PathState::kMissing:
        return true;
      case PathState::kUnknown:
        return false;
      case PathState::kExists:
        break;
    }
  }
  LOG(ERROR) << "Temporary file with name" << chosen->value() << "already exists";
  return false;
}

size_t LongestSetAsideSuffixSize() {
  return SetAsideSuffix(base::Time::Now().ToTimeT(), kMaxSetAsideNames - 1).size();
}

bool ParseSetAsideName(const std::wstring& name, std::wstring* original, int64_t* seconds) {
  static const wchar_t kSuffix[] = L".old";
  const size_t suffix_size = wcslen(kSuffix);
  if (name.size() <= suffix_size ||
      base::FilePath::CompareIgnoreCase(name.substr(name.size() - suffix_size), kSuffix) != 0)
    return false;
  std::wstring rest = name.substr(0, name.size() - suffix_size);
  // Takes the all-digit last extension of `rest` off.
  auto take_number = [&rest](std::wstring* digits) {
    const size_t dot = rest.rfind(L'.');
    if (dot == std::wstring::npos || dot == 0 || dot + 1 == rest.size()) return false;
    for (size_t i = dot + 1; i < rest.size(); ++i) {
      if (rest[i] < L'0' || rest[i] > L'9') return false;
    }
    *digits = rest.substr(dot + 1);
    rest.resize(dot);
    return true;
  };
  // "<name>.<seconds>" or "<name>.<seconds>.<counter>". A time of this century has ten
  // digits and a counter far fewer: that tells them apart when the name itself ends in
  // digits ("1.0.100.0").
  const size_t kMinSecondsDigits = 9;
  const size_t kMaxSecondsDigits = 18;
  std::wstring stamp;
  if (!take_number(&stamp)) return false;
  if (stamp.size() < kMinSecondsDigits && !take_number(&stamp)) return false;
  if (stamp.size() < kMinSecondsDigits || stamp.size() > kMaxSecondsDigits) return false;
  *original = rest;
  *seconds = std::stoll(stamp);
  return true;
}

DeleteFileOperation::DeleteFileOperation(const base::FilePath& path, bool check_in_use,
                                         bool remove_empty_parents,
                                         FileAttributesReader read_attributes)
    // Without a trailing separator: "<folder>\\.<seconds>.old" would lie inside the folder.
    : path_(path.StripTrailingSeparators()),
      check_in_use_(check_in_use),
      remove_empty_parents_(remove_empty_parents),
      read_attributes_(read_attributes) {}

bool IsSetAsideCopyRemoved(bool moved, bool restore_failed, const base::FilePath& path,
                           const base::FilePath& copy) {
  if (!moved) return false;
  if (restore_failed) {
    LOG(ERROR) << "Keeping " << copy.value() << ", the only copy of " << path.value();
    return false;
  }
  VLOG(1) << "Actual removal of " << copy.value();
  return true;
}

DeleteFileOperation::~DeleteFileOperation() {
  if (!IsSetAsideCopyRemoved(moved_, restore_failed_, path_, temporary_path_)) return;
  if (!base::DeleteFile(temporary_path_, true) && temporary_path_.value().size() < MAX_PATH) {
    MoveFileExW(temporary_path_.value().c_str(), nullptr,
                MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT);
  }
  if (!remove_empty_parents_) return;
  base::FilePath folder = path_.DirName();
  while (RemoveDirectoryW(folder.value().c_str())) {
    const base::FilePath parent = folder.DirName();
    if (parent == folder) break;
    folder = parent;
  }
}

bool DeleteFileOperation::Do(Transaction& /*nested*/) {
  VLOG(1) << "Preparing file " << path_.value() << " for removal";
  switch (GetPathState(path_, nullptr, read_attributes_)) {
    case PathState::kMissing:
      VLOG(1) << "File does not exist. Nothing to do";
      return true;
    case PathState::kUnknown:
      return false;
    case PathState::kExists:
      break;
  }
  if (!ChooseSetAsideName(
          path_,
          [this](const base::FilePath& name) {
            return GetPathState(name, nullptr, read_attributes_);
          },
          &temporary_path_))
    return false;
  if (!HasAccess(path_.value(), kFileObject, kDeleteAccess)) {
    if (!GrantAccessToCurrentUser(path_.value(), kFileObject, kDeleteAccess, true, nullptr)) {
      LOG(ERROR) << "Cannot obtain proper permissions on the file";
      return false;
    }
    // The access stays granted; the next attempt on this path finds it.
    return false;
  }
  if (!Rename(path_, temporary_path_)) {
    LOG(ERROR) << "File removal failed";
    return false;
  }
  VLOG(1) << "File moved successfully to " << temporary_path_.value();

  if (check_in_use_ && IsProgramFile(path_)) {
    base::ScopedHandle file(CreateFileW(temporary_path_.value().c_str(), GENERIC_WRITE,
                                        FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid()) {
      PLOG(ERROR) << "Attempt to open the file for writing failed";
      // Still set aside when it cannot go back: the rollback that follows tries again.
      moved_ = !Rename(temporary_path_, path_);
      LOG(ERROR) << "File removal failed";
      return false;
    }
  }
  moved_ = true;
  return true;
}

void DeleteFileOperation::Rollback() {
  if (!moved_) return;
  if (Rename(temporary_path_, path_)) {
    moved_ = false;
    return;
  }
  PLOG(ERROR) << "Could not move " << temporary_path_.value() << " back to " << path_.value();
  restore_failed_ = true;
}

}  // namespace installer

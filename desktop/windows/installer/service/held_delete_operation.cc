#include "desktop/windows/installer/service/held_delete_operation.h"

#include <windows.h>

#include <aclapi.h>

#include <utility>

#include "base/logging.h"
#include "desktop/windows/installer/security/access_control.h"
#include "desktop/windows/installer/service/transactions/delete_file_operation.h"
#include "desktop/windows/installer/service/transactions/path_state.h"

namespace installer {

namespace {

// The security calls on one name of a held folder, each through a handle opened there
// for what the call needs and checked to be that name: a grant never reaches another
// file through a link, nor one that has another name elsewhere (a hard link).
class HeldFileSecurity : public NamedSecurityInfo {
 public:
  HeldFileSecurity(const HeldFile& folder, std::wstring name)
      : folder_(folder), name_(std::move(name)) {}

  DWORD Get(const std::wstring& /*object_name*/, uint32_t object_type,
            SECURITY_INFORMATION information, PSID* owner, PSID* group, PACL* dacl,
            PSECURITY_DESCRIPTOR* descriptor) override {
    HeldFile file;
    const DWORD error = Open(READ_CONTROL, false, &file);
    if (error != ERROR_SUCCESS) return error;
    return GetSecurityInfo(file.handle(), static_cast<SE_OBJECT_TYPE>(object_type), information,
                           owner, group, dacl, nullptr, descriptor);
  }

  DWORD Set(const std::wstring& /*object_name*/, uint32_t object_type,
            SECURITY_INFORMATION information, PSID owner, PSID group, PACL dacl) override {
    // The list is merged with what the file inherits, read through the same handle.
    DWORD access = READ_CONTROL;
    if (information & DACL_SECURITY_INFORMATION) access |= WRITE_DAC;
    if (information & OWNER_SECURITY_INFORMATION) access |= WRITE_OWNER;
    HeldFile file;
    const DWORD error = Open(access, true, &file);
    if (error != ERROR_SUCCESS) return error;
    return SetSecurityInfo(file.handle(), static_cast<SE_OBJECT_TYPE>(object_type), information,
                           owner, group, dacl, nullptr);
  }

 private:
  DWORD Open(DWORD access, bool single_name, HeldFile* file) const {
    const base::Result<> held =
        HoldChild(folder_, folder_.final_path().Append(name_), access | FILE_READ_ATTRIBUTES,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, false, false, file);
    if (!held.ok()) return held.failure().error ? held.failure().error : ERROR_ACCESS_DENIED;
    BY_HANDLE_FILE_INFORMATION information = {};
    if (!GetFileInformationByHandle(file->handle(), &information)) return GetLastError();
    if (single_name && information.nNumberOfLinks != 1) {
      LOG(ERROR) << file->final_path().AsUTF8() << " has other names: its rights stay";
      return ERROR_ACCESS_DENIED;
    }
    return ERROR_SUCCESS;
  }

  const HeldFile& folder_;
  const std::wstring name_;
};

}  // namespace

HeldDeleteOperation::HeldDeleteOperation(std::shared_ptr<HeldTree> tree,
                                         const base::FilePath& path, bool check_in_use,
                                         bool remove_empty_parents, bool* refused)
    // Without a trailing separator: "<folder>\\.<seconds>.old" would lie inside the folder.
    : tree_(std::move(tree)),
      path_(path.StripTrailingSeparators()),
      check_in_use_(check_in_use),
      remove_empty_parents_(remove_empty_parents),
      refused_(refused) {}

HeldDeleteOperation::~HeldDeleteOperation() {
  if (!IsSetAsideCopyRemoved(moved_, restore_failed_, path_, temporary_path_)) return;
  // Through its handle alone: a removal at restart would go by a path that a link put on
  // its way meanwhile could lead elsewhere.
  if (!file_.DeleteOnClose())
    PLOG(WARNING) << "Could not remove " << temporary_path_.AsUTF8() << "; it stays";
  file_ = HeldFile();
  if (remove_empty_parents_) tree_->RemoveEmptied(path_.DirName());
}

bool HeldDeleteOperation::Do(Transaction& /*nested*/) {
  VLOG(1) << "Preparing file " << path_.value() << " for removal";
  if (!tree_) {
    LOG(ERROR) << "File removal failed";
    return false;
  }
  const HeldFile* folder = nullptr;
  const base::Result<> held =
      tree_->HoldFile(path_, DELETE | READ_CONTROL | FILE_READ_ATTRIBUTES,
                      FILE_SHARE_READ | FILE_SHARE_WRITE, &folder, &file_);
  if (IsMissingPlace(held)) {
    VLOG(1) << "File does not exist. Nothing to do";
    return true;
  }
  if (!held.ok() && held.failure().kind != 0) {
    Refuse(held.failure());
    return false;
  }
  // Without delete access to the name itself: granted below.
  if (!held.ok() && (held.failure().error != ERROR_ACCESS_DENIED || !folder)) {
    LOG(ERROR) << base::DescribeFailure(held.failure());
    LOG(ERROR) << "File removal failed";
    return false;
  }
  const std::wstring name = path_.BaseName().value();
  if (!ChooseSetAsideName(
          path_,
          [folder](const base::FilePath& candidate) {
            HeldFile taken;
            if (taken.OpenChild(*folder, candidate.BaseName().value(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE))
              return PathState::kExists;
            const DWORD error = GetLastError();
            return error == ERROR_FILE_NOT_FOUND ? PathState::kMissing : PathState::kUnknown;
          },
          &temporary_path_))
    return false;
  HeldFileSecurity security(*folder, name);
  if (!held.ok() || !HasAccess(path_.value(), kFileObject, kDeleteAccess, &security)) {
    // The access stays granted; the next attempt on this name finds it.
    if (!GrantDeleteAccess(*folder)) LOG(ERROR) << "Cannot obtain proper permissions on the file";
    return false;
  }
  if (!file_.MoveInto(*folder, temporary_path_.BaseName().value())) {
    PLOG(ERROR) << "File removal failed";
    return false;
  }
  VLOG(1) << "File moved successfully to " << temporary_path_.value();
  if (!CheckNotInUse(*folder)) return false;
  moved_ = true;
  return true;
}

bool HeldDeleteOperation::GrantDeleteAccess(const HeldFile& folder) {
  HeldFileSecurity security(folder, path_.BaseName().value());
  return GrantAccessToCurrentUser(path_.value(), kFileObject, kDeleteAccess, true, nullptr,
                                  &security);
}

bool HeldDeleteOperation::CheckNotInUse(const HeldFile& folder) {
  // A link is no program: what it leads to is not this deletion's.
  if (!check_in_use_ || !IsProgramFile(path_) || file_.is_reparse_point()) return true;
  HeldFile writable;
  if (writable.OpenChild(folder, temporary_path_.BaseName().value(),
                         GENERIC_WRITE | FILE_READ_ATTRIBUTES, FILE_SHARE_DELETE))
    return true;
  PLOG(ERROR) << "Attempt to open the file for writing failed";
  // Still set aside when it cannot go back: the rollback that follows tries again.
  moved_ = !file_.MoveInto(folder, path_.BaseName().value());
  LOG(ERROR) << "File removal failed";
  return false;
}

void HeldDeleteOperation::Rollback() {
  if (!moved_) return;
  const HeldFile* folder = nullptr;
  if (tree_->HoldFolder(path_.DirName(), &folder).ok() &&
      file_.MoveInto(*folder, path_.BaseName().value())) {
    moved_ = false;
    return;
  }
  PLOG(ERROR) << "Could not move " << temporary_path_.value() << " back to " << path_.value();
  restore_failed_ = true;
}

void HeldDeleteOperation::Refuse(const base::Failure& failure) {
  if (refused_) *refused_ = true;
  if (failure.kind == kHeldOtherKind)
    LOG(WARNING) << "Not removing the folder " << path_.AsUTF8() << " named as a file";
  else
    LOG(WARNING) << "Keeping " << path_.AsUTF8() << ", reached through a link: " << failure.text;
}

}  // namespace installer

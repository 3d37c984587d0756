#include "desktop/windows/installer/service/transactions/create_reg_key_operation.h"

#include "base/logging.h"
#include "base/win/registry.h"
#include "desktop/windows/installer/service/transactions/registry_key_names.h"

namespace installer {

CreateRegKeyOperation::CreateRegKeyOperation(HKEY root, const std::wstring& key_path,
                                             REGSAM view_flags, NamedSecurityInfo* security)
    : key_path_(key_path), root_(root), view_flags_(view_flags), security_(security) {}

CreateRegKeyOperation::~CreateRegKeyOperation() {
  RestoreSecurityIfSaved(&saved_access_);
}

bool CreateRegKeyOperation::Do(Transaction& /*nested*/) {
  VLOG(1) << "Attempting to create registry key " << key_path_ << " under " << root_;
  base::RegistryKey key;
  const LONG result = key.Open(root_, key_path_.c_str(), view_flags_ | KEY_QUERY_VALUE);
  if (result == ERROR_SUCCESS) {
    key.Close();
    VLOG(1) << "The key already exists. No need to do anything.";
    return true;
  }
  // Only a successful open proves the key is there; any other error than "not found"
  // leaves its state unknown, and creating "over" it could end in deleting it.
  if (result != ERROR_FILE_NOT_FOUND) {
    LOG(ERROR) << "Failed to open key " << GetRegistryObjectName(root_, key_path_);
    return false;
  }

  VLOG(1) << "Attempting to find the nearest existing ancestor.";
  std::wstring current(key_path_.c_str());
  std::wstring parent;
  LONG ancestor_result;
  for (;;) {
    parent = GetParentKeyPath(current);
    if (parent == current) {
      LOG(ERROR) << "No existing ancestor found.";
      return false;
    }
    base::RegistryKey ancestor;
    ancestor_result = ancestor.Open(root_, parent.c_str(), view_flags_ | KEY_CREATE_SUB_KEY);
    if (ancestor_result == ERROR_SUCCESS || ancestor_result == ERROR_ACCESS_DENIED) break;
    if (ancestor_result != ERROR_FILE_NOT_FOUND) {
      LOG(ERROR) << "Existing ancestor could not be opened.";
      return false;
    }
    current = parent;
  }
  VLOG(1) << "Ancestor found: " << parent;

  const std::wstring ancestor_name = GetRegistryObjectName(root_, parent);
  const uint32_t object_type = GetRegistrySecurityObjectType(root_, parent, view_flags_);
  if (ancestor_result == ERROR_ACCESS_DENIED ||
      !HasAccess(ancestor_name, object_type, KEY_QUERY_VALUE | KEY_SET_VALUE, security_)) {
    VLOG(1) << "No access to" << ancestor_name;
    if (!GrantAccessToCurrentUser(ancestor_name, object_type, KEY_CREATE_SUB_KEY, false,
                                  &saved_access_, security_)) {
      LOG(ERROR) << "Failed obtaining permissions on " << ancestor_name;
      return false;
    }
  }

  created_top_key_ = current;
  base::RegistryKey created;
  if (created.Create(root_, key_path_.c_str(), view_flags_ | KEY_ALL_ACCESS) != ERROR_SUCCESS) {
    LOG(ERROR) << "Failed creating key.";
    return false;
  }
  return true;
}

void CreateRegKeyOperation::Rollback() {
  if (created_top_key_.empty()) return;
  const LONG result = DeleteRegistryKeyTree(root_, created_top_key_, view_flags_);
  if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND) {
    LOG(ERROR) << "Failed to delete key "
               << GetRegistryObjectName(root_, created_top_key_);
  }
}

}  // namespace installer

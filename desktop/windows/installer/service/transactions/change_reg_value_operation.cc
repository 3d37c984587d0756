#include "desktop/windows/installer/service/transactions/change_reg_value_operation.h"

#include "base/logging.h"
#include "base/win/registry.h"
#include "desktop/windows/installer/service/transactions/create_reg_key_operation.h"
#include "desktop/windows/installer/service/transactions/registry_key_names.h"
#include "desktop/windows/installer/service/transactions/transaction.h"

namespace installer {

namespace {

const REGSAM kValueAccess = KEY_QUERY_VALUE | KEY_SET_VALUE;

const BYTE* DataOrNull(const std::vector<BYTE>& data) {
  return data.empty() ? nullptr : data.data();
}

}  // namespace

ChangeRegValueOperation::ChangeRegValueOperation(HKEY root, const std::wstring& key_path,
                                                 const std::wstring& value_name,
                                                 const void* data, uint32_t type,
                                                 uint32_t size, REGSAM view_flags,
                                                 NamedSecurityInfo* security)
    : root_(root),
      key_path_(key_path),
      value_name_(value_name),
      new_type_(type),
      view_flags_(view_flags),
      security_(security) {
  if (data && size)
    new_data_.assign(static_cast<const BYTE*>(data), static_cast<const BYTE*>(data) + size);
}

ChangeRegValueOperation::~ChangeRegValueOperation() {
  RestoreSecurityIfSaved(&saved_access_);
}

bool ChangeRegValueOperation::Do(Transaction& nested) {
  VLOG(1) << "Attempting to change registry value at " << root_ << ": " << key_path_ << " - "
          << value_name_ << ". New Type:" << new_type_;
  const REGSAM access = view_flags_ | kValueAccess;
  base::RegistryKey key;
  LONG result = key.Open(root_, key_path_.c_str(), access);
  if (result == ERROR_FILE_NOT_FOUND) {
    VLOG(1) << "Key does not exist,";
    if (new_type_ == kDeleteValue) {
      VLOG(1) << "but we are trying to remove the value, nothing to do.";
      return true;
    }
    VLOG(1) << "try to create it.";
    if (!nested.Execute(
            std::make_unique<CreateRegKeyOperation>(root_, key_path_, view_flags_, security_)))
      return false;
    result = key.Open(root_, key_path_.c_str(), access);
  }

  const std::wstring object_name = GetRegistryObjectName(root_, key_path_);
  const uint32_t object_type = GetRegistrySecurityObjectType(root_, key_path_, view_flags_);
  if (result == ERROR_SUCCESS && HasAccess(object_name, object_type, kValueAccess, security_)) {
    // Ready to read and write.
  } else if (result == ERROR_SUCCESS || result == ERROR_ACCESS_DENIED) {
    VLOG(1) << "We don't have enough permissions on the key.";
    if (saved_access_ || !GrantAccessToCurrentUser(object_name, object_type, kValueAccess, false,
                                                   &saved_access_, security_)) {
      LOG(ERROR) << "Failed to obtain sufficient permissions on " << object_name;
      return false;
    }
    if (key.Open(root_, key_path_.c_str(), access) != ERROR_SUCCESS) {
      LOG(ERROR) << "Failed to open " << object_name;
      return false;
    }
  } else {
    LOG(ERROR) << "Failed to open " << object_name;
    return false;
  }

  const wchar_t* name = value_name_.c_str();
  DWORD old_size = 0;
  result = RegQueryValueExW(key.Handle(), name, nullptr, nullptr, nullptr, &old_size);
  if (result == ERROR_FILE_NOT_FOUND) {
    VLOG(1) << "The value doesn't already exist.";
    old_type_ = kDeleteValue;
  } else if (result != ERROR_SUCCESS) {
    LOG(ERROR) << "Failed to read " << value_name_ << " from " << object_name;
    return false;
  } else {
    old_data_.assign(old_size, 0);
    DWORD type = 0;
    result = RegQueryValueExW(key.Handle(), name, nullptr, &type,
                              old_data_.empty() ? nullptr : old_data_.data(), &old_size);
    if (result != ERROR_SUCCESS) {
      LOG(ERROR) << "Failed to read " << value_name_ << " from " << object_name
                 << " (but we succeeded before).";
      return false;
    }
    old_data_.resize(old_size);
    old_type_ = type;
    VLOG(1) << "Value read successfully.";
  }

  if (new_type_ != kDeleteValue) {
    if (RegSetValueExW(key.Handle(), name, 0, new_type_, DataOrNull(new_data_),
                       static_cast<DWORD>(new_data_.size())) != ERROR_SUCCESS) {
      LOG(ERROR) << "Failed writing " << value_name_ << " to " << object_name;
      return false;
    }
  } else if (old_type_ == kDeleteValue) {
    VLOG(1) << "We are supposed to remove the value. Nothing to do.";
    return true;
  } else if (RegDeleteValueW(key.Handle(), name) != ERROR_SUCCESS) {
    LOG(ERROR) << "Failed to remove " << value_name_ << " from " << object_name;
    return false;
  }
  VLOG(1) << "Value changed successfully.";
  changed_ = true;
  return true;
}

void ChangeRegValueOperation::Rollback() {
  if (!changed_) return;
  // Opened by path now, not through a handle kept from Do: a later operation may have
  // deleted the key and its rollback, which ran first, re-created it. A handle to the
  // deleted key would write nowhere.
  base::RegistryKey key;
  LONG result = key.Open(root_, key_path_.c_str(), view_flags_ | kValueAccess);
  const wchar_t* name = value_name_.c_str();
  if (result == ERROR_SUCCESS) {
    result = old_type_ == kDeleteValue
                 ? RegDeleteValueW(key.Handle(), name)
                 : RegSetValueExW(key.Handle(), name, 0, old_type_, DataOrNull(old_data_),
                                  static_cast<DWORD>(old_data_.size()));
  }
  if (result != ERROR_SUCCESS) {
    LOG(ERROR) << "Failed to restore " << value_name_ << " in "
               << GetRegistryObjectName(root_, key_path_);
    return;
  }
  changed_ = false;
}

}  // namespace installer

#include "desktop/windows/installer/service/transactions/delete_reg_key_operation.h"

#include "base/logging.h"
#include "base/win/registry.h"
#include "desktop/windows/installer/security/access_control.h"
#include "desktop/windows/installer/service/transactions/registry_key_names.h"

namespace installer {

namespace {

// Query, set, create subkey, enumerate subkeys, notify, delete, read control.
const REGSAM kTreeAccess = 0x3001F;
// Read and delete.
const uint32_t kNeededAccess = 0x30019;
const SECURITY_INFORMATION kSavedSecurity =
    GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | LABEL_SECURITY_INFORMATION;

// |descriptor| (self-relative) with |dacl| in place of its own DACL.
[[nodiscard]] bool WithDacl(const std::vector<BYTE>& descriptor, PACL dacl,
                            std::vector<BYTE>* result) {
  PSECURITY_DESCRIPTOR current = const_cast<BYTE*>(descriptor.data());
  SECURITY_DESCRIPTOR absolute;
  if (!InitializeSecurityDescriptor(&absolute, SECURITY_DESCRIPTOR_REVISION)) return false;
  PSID group = nullptr;
  PACL sacl = nullptr;
  BOOL defaulted = FALSE, present = FALSE;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  if (!GetSecurityDescriptorGroup(current, &group, &defaulted) ||
      !SetSecurityDescriptorGroup(&absolute, group, defaulted) ||
      !GetSecurityDescriptorSacl(current, &present, &sacl, &defaulted) ||
      (present && !SetSecurityDescriptorSacl(&absolute, TRUE, sacl, defaulted)) ||
      !SetSecurityDescriptorDacl(&absolute, TRUE, dacl, FALSE) ||
      !GetSecurityDescriptorControl(current, &control, &revision)) {
    return false;
  }
  const SECURITY_DESCRIPTOR_CONTROL kept = SE_DACL_PROTECTED | SE_DACL_AUTO_INHERITED;
  SetSecurityDescriptorControl(&absolute, kept, control & kept);
  DWORD size = 0;
  MakeSelfRelativeSD(&absolute, nullptr, &size);
  result->assign(size, 0);
  return MakeSelfRelativeSD(&absolute, result->data(), &size) != FALSE;
}

// The rights this operation granted itself on one key: given back when the key is not
// deleted after all (a deleted key's saved descriptor already holds the old DACL).
struct GrantedAccess {
  ~GrantedAccess() {
    if (!deleted) RestoreSecurityIfSaved(&saved);
  }
  std::unique_ptr<SavedSecurity> saved;
  bool deleted = false;
};

// Opens |key_path| for saving and deleting, granting the current user the rights it
// lacks (recorded in |granted|).
[[nodiscard]] bool OpenForDeletion(HKEY root, const std::wstring& key_path,
                                   const std::wstring& object_name, REGSAM view_flags,
                                   NamedSecurityInfo* security, base::RegistryKey* key,
                                   GrantedAccess* granted) {
  const REGSAM access = view_flags | kTreeAccess;
  const uint32_t object_type = GetRegistrySecurityObjectType(root, key_path, view_flags);
  LONG result = key->Open(root, key_path.c_str(), access);
  if (result == ERROR_SUCCESS && HasAccess(object_name, object_type, kNeededAccess, security))
    return true;
  if (result != ERROR_SUCCESS && result != ERROR_ACCESS_DENIED) {
    LOG(ERROR) << "Failed to open key " << object_name;
    return false;
  }
  VLOG(1) << "Insufficient permissions on the key";
  if (!GrantAccessToCurrentUser(object_name, object_type, kTreeAccess, false, &granted->saved,
                                security)) {
    LOG(ERROR) << "Unable to obtain sufficient permissions on key" << object_name;
    return false;
  }
  if (key->Open(root, key_path.c_str(), access) != ERROR_SUCCESS) {
    LOG(ERROR) << "Failed to open key " << object_name;
    return false;
  }
  return true;
}

// The key's group, DACL and label into |record|; the DACL as it was before |granted|.
[[nodiscard]] bool SaveSecurity(const base::RegistryKey& key, const std::wstring& object_name,
                                const SavedSecurity* granted, SavedRegistryKey* record) {
  DWORD descriptor_size = 0;
  LONG result = RegGetKeySecurity(key.Handle(), kSavedSecurity, nullptr, &descriptor_size);
  if (result != ERROR_SUCCESS && result != ERROR_INSUFFICIENT_BUFFER) {
    LOG(ERROR) << "Failed to obtain security descriptor for " << object_name;
    return false;
  }
  record->security_descriptor.assign(descriptor_size, 0);
  if (RegGetKeySecurity(key.Handle(), kSavedSecurity, record->security_descriptor.data(),
                        &descriptor_size) != ERROR_SUCCESS) {
    LOG(ERROR) << "Failed to obtain security descriptor for " << object_name
               << "(but we succeeded earlier)";
    return false;
  }
  if (!granted) return true;
  std::vector<BYTE> original;
  if (!WithDacl(record->security_descriptor, granted->old_dacl(), &original)) {
    LOG(ERROR) << "Failed to obtain security descriptor for " << object_name;
    return false;
  }
  record->security_descriptor.swap(original);
  return true;
}

// Every value of the key into |record|, in enumeration order.
[[nodiscard]] bool SaveValues(const base::RegistryKey& key, const std::wstring& object_name,
                              SavedRegistryKey* record) {
  DWORD value_count = 0, longest_value_name = 0, largest_data = 0;
  if (RegQueryInfoKeyW(key.Handle(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                       &value_count, &longest_value_name, &largest_data, nullptr,
                       nullptr) != ERROR_SUCCESS) {
    LOG(ERROR) << "Failed to obtain key info for " << object_name;
    return false;
  }
  VLOG(1) << value_count << " values";
  std::vector<wchar_t> value_name(longest_value_name + 1);
  std::vector<BYTE> data(largest_data ? largest_data : 1);
  for (DWORD index = 0; index < value_count; ++index) {
    DWORD name_length = static_cast<DWORD>(value_name.size());
    DWORD data_size = static_cast<DWORD>(data.size());
    DWORD type = REG_NONE;
    if (RegEnumValueW(key.Handle(), index, value_name.data(), &name_length, nullptr, &type,
                      data.data(), &data_size) != ERROR_SUCCESS) {
      LOG(ERROR) << "Failed to obtain value nr " << index;
      return false;
    }
    SavedRegistryValue value;
    value.name.assign(value_name.data(), name_length);
    value.type = type;
    value.data.assign(data.data(), data.data() + data_size);
    record->values.push_back(std::move(value));
  }
  return true;
}

}  // namespace

DeleteRegKeyOperation::DeleteRegKeyOperation(HKEY root, const std::wstring& key_path,
                                             REGSAM view_flags, NamedSecurityInfo* security)
    : key_path_(key_path), root_(root), view_flags_(view_flags), security_(security) {}

DeleteRegKeyOperation::~DeleteRegKeyOperation() = default;

bool DeleteRegKeyOperation::Do(Transaction& /*nested*/) {
  VLOG(1) << "Attempting to delete registry key " << key_path_ << " under " << root_;
  const std::wstring object_name = GetRegistryObjectName(root_, key_path_);
  if (!IsDeletableKeyPath(root_, key_path_)) {
    LOG(ERROR) << "Refusing to delete the key " << object_name;
    return false;
  }
  base::RegistryKey key;
  const LONG result = key.Open(root_, key_path_.c_str(), view_flags_ | KEY_QUERY_VALUE);
  key.Close();
  if (result == ERROR_FILE_NOT_FOUND) {
    VLOG(1) << "Key does not exist. Nothing to do.";
    return true;
  }
  if (result != ERROR_SUCCESS && result != ERROR_ACCESS_DENIED) {
    LOG(ERROR) << "Failed to open key " << object_name;
    return false;
  }
  return DeleteAndSaveRecursive(key_path_, object_name);
}

bool DeleteRegKeyOperation::DeleteAndSaveRecursive(const std::wstring& key_path,
                                                   const std::wstring& object_name) {
  VLOG(1) << "DeleteAndSaveRecursive : " << key_path;
  std::unique_ptr<SavedRegistryKey> record(new SavedRegistryKey);
  record->key_path = key_path;
  base::RegistryKey key;
  GrantedAccess granted;
  if (!OpenForDeletion(root_, key_path, object_name, view_flags_, security_, &key, &granted) ||
      !SaveSecurity(key, object_name, granted.saved.get(), record.get()) ||
      !SaveValues(key, object_name, record.get())) {
    return false;
  }
  // Recorded before the subkeys: a rollback rebuilds parents first.
  saved_keys_.push_back(std::move(record));
  if (!DeleteSubkeys(key, key_path, object_name)) return false;
  key.Close();
  granted.deleted = RegDeleteKeyExW(root_, key_path.c_str(), view_flags_, 0) == ERROR_SUCCESS;
  return granted.deleted;
}

bool DeleteRegKeyOperation::DeleteSubkeys(const base::RegistryKey& key,
                                          const std::wstring& key_path,
                                          const std::wstring& object_name) {
  DWORD longest_subkey = 0;
  if (RegQueryInfoKeyW(key.Handle(), nullptr, nullptr, nullptr, nullptr, &longest_subkey,
                       nullptr, nullptr, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
    LOG(ERROR) << "Failed to obtain key info for " << object_name;
    return false;
  }
  std::vector<wchar_t> subkey_name(longest_subkey + 1);
  for (;;) {
    DWORD name_length = static_cast<DWORD>(subkey_name.size());
    // Always index 0: the subkey handled last is gone.
    const LONG result = RegEnumKeyExW(key.Handle(), 0, subkey_name.data(), &name_length,
                                      nullptr, nullptr, nullptr, nullptr);
    if (result == ERROR_NO_MORE_ITEMS) return true;
    if (result != ERROR_SUCCESS) {
      LOG(ERROR) << "Failed to read a subkey";
      return false;
    }
    const std::wstring child(subkey_name.data(), name_length);
    if (!DeleteAndSaveRecursive(std::wstring(key_path.c_str()) + L"\\" + child,
                                std::wstring(object_name.c_str()) + L"\\" + child)) {
      return false;
    }
  }
}

void DeleteRegKeyOperation::Rollback() {
  for (const std::unique_ptr<SavedRegistryKey>& saved : saved_keys_) {
    SECURITY_ATTRIBUTES attributes = {};
    attributes.nLength = sizeof(attributes);
    attributes.lpSecurityDescriptor = saved->security_descriptor.data();
    attributes.bInheritHandle = FALSE;
    base::RegistryKey key;
    DWORD disposition = 0;
    if (key.Create(root_, saved->key_path.c_str(), view_flags_ | kTreeAccess, &attributes,
                   &disposition) != ERROR_SUCCESS) {
      LOG(ERROR) << "Failed to restore key " << saved->key_path;
      continue;
    }
    // A key that was never deleted keeps what it holds now.
    if (disposition != REG_CREATED_NEW_KEY) continue;
    // Wine ignores the descriptor given at creation: set group and DACL once more where
    // the rights allow (on Windows the creation already did).
    base::RegistryKey security;
    if (security.Open(root_, saved->key_path.c_str(), view_flags_ | WRITE_DAC | WRITE_OWNER) ==
        ERROR_SUCCESS) {
      RegSetKeySecurity(security.Handle(), GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                        saved->security_descriptor.data());
    }
    for (const SavedRegistryValue& value : saved->values) {
      RegSetValueExW(key.Handle(), value.name.c_str(), 0, value.type,
                     value.data.empty() ? nullptr : value.data.data(),
                     static_cast<DWORD>(value.data.size()));
    }
  }
}

}  // namespace installer

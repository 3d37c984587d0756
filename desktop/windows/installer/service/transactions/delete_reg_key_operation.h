// Deletes a registry key with everything below it, saving each key's values and security
// descriptor first so that a rollback can rebuild the tree.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_DELETE_REG_KEY_OPERATION_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_DELETE_REG_KEY_OPERATION_H_

#include <windows.h>

#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "desktop/windows/installer/security/access_control.h"
#include "desktop/windows/installer/service/transactions/transaction_operation.h"

namespace base {
class RegistryKey;
}

namespace installer {

// One value of a deleted key.
struct SavedRegistryValue {
  std::wstring name;
  uint32_t type = REG_NONE;
  std::vector<BYTE> data;
};

// One deleted key: its path below the root, its group, DACL and label (self-relative)
// and its values in enumeration order.
struct SavedRegistryKey {
  std::wstring key_path;
  std::vector<BYTE> security_descriptor;
  std::vector<SavedRegistryValue> values;
};

class DeleteRegKeyOperation : public TransactionOperation {
 public:
  // |view_flags| is 0, KEY_WOW64_64KEY or KEY_WOW64_32KEY.
  // |security| reads and writes the keys' access lists (tests pass one for what Wine lacks).
  DeleteRegKeyOperation(HKEY root, const std::wstring& key_path, REGSAM view_flags,
                        NamedSecurityInfo* security = SystemNamedSecurityInfo());
  ~DeleteRegKeyOperation() override;

  [[nodiscard]] bool Do(Transaction& nested) override;
  void Rollback() override;

  // Saves and deletes |key_path| and its subkeys; |object_name| is its security name.
  [[nodiscard]] bool DeleteAndSaveRecursive(const std::wstring& key_path,
                                            const std::wstring& object_name);

  // A key always stands before its subkeys.
  const std::vector<std::unique_ptr<SavedRegistryKey>>& saved_keys() const {
    return saved_keys_;
  }

 private:
  // Saves and deletes every subkey of |key| (|key_path|, security name |object_name|).
  [[nodiscard]] bool DeleteSubkeys(const base::RegistryKey& key, const std::wstring& key_path,
                     const std::wstring& object_name);

  std::wstring key_path_;
  HKEY root_;
  std::vector<std::unique_ptr<SavedRegistryKey>> saved_keys_;
  REGSAM view_flags_;
  NamedSecurityInfo* const security_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_DELETE_REG_KEY_OPERATION_H_

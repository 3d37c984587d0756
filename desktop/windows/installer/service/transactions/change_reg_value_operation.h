// Sets or deletes one registry value and remembers the earlier one for the rollback. A
// missing key is created through a nested CreateRegKeyOperation; rights that the
// operation grants itself on the key are given back when it is destroyed.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_CHANGE_REG_VALUE_OPERATION_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_CHANGE_REG_VALUE_OPERATION_H_

#include <windows.h>

#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "desktop/windows/installer/security/access_control.h"
#include "desktop/windows/installer/service/transactions/transaction_operation.h"

namespace installer {

class ChangeRegValueOperation : public TransactionOperation {
 public:
  // The type that deletes the value.
  static const uint32_t kDeleteValue = 0xFFFFFFFF;

  // Copies |size| bytes of |data|. An empty |value_name| names the default value.
  // |view_flags| is 0, KEY_WOW64_64KEY or KEY_WOW64_32KEY.
  // |security| reads and writes the keys' access lists (tests pass one for what Wine lacks).
  ChangeRegValueOperation(HKEY root, const std::wstring& key_path,
                          const std::wstring& value_name, const void* data, uint32_t type,
                          uint32_t size, REGSAM view_flags,
                          NamedSecurityInfo* security = SystemNamedSecurityInfo());
  ~ChangeRegValueOperation() override;

  [[nodiscard]] bool Do(Transaction& nested) override;
  void Rollback() override;

 private:
  HKEY root_;
  std::wstring key_path_;
  std::wstring value_name_;
  uint32_t old_type_ = kDeleteValue;
  uint32_t new_type_;
  std::vector<BYTE> old_data_;
  std::vector<BYTE> new_data_;
  bool changed_ = false;
  std::unique_ptr<SavedSecurity> saved_access_;
  REGSAM view_flags_;
  NamedSecurityInfo* const security_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_CHANGE_REG_VALUE_OPERATION_H_

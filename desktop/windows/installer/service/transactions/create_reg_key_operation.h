// Creates a registry key with every missing parent; a rollback deletes the topmost key it
// created with everything below. Rights granted on the existing ancestor are given back
// when the operation is destroyed.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_CREATE_REG_KEY_OPERATION_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_CREATE_REG_KEY_OPERATION_H_

#include <windows.h>

#include <memory>
#include <string>

#include "desktop/windows/installer/security/access_control.h"
#include "desktop/windows/installer/service/transactions/transaction_operation.h"

namespace installer {

class CreateRegKeyOperation : public TransactionOperation {
 public:
  // |view_flags| is 0, KEY_WOW64_64KEY or KEY_WOW64_32KEY.
  // |security| reads and writes the keys' access lists (tests pass one for what Wine lacks).
  CreateRegKeyOperation(HKEY root, const std::wstring& key_path, REGSAM view_flags,
                        NamedSecurityInfo* security = SystemNamedSecurityInfo());
  ~CreateRegKeyOperation() override;

  [[nodiscard]] bool Do(Transaction& nested) override;
  void Rollback() override;

  // The topmost key Do created; empty when it created none.
  const std::wstring& created_top_key() const { return created_top_key_; }

 private:
  std::wstring key_path_;
  HKEY root_;
  std::wstring created_top_key_;
  std::unique_ptr<SavedSecurity> saved_access_;
  REGSAM view_flags_;
  NamedSecurityInfo* const security_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_CREATE_REG_KEY_OPERATION_H_

// Registry tables: static rows that describe values to set or delete and keys to delete,
// with "{Name}" placeholders in key paths, value names and string data.
//
//   Transaction transaction;
//   for (const RegistryEntryDefinition& row : kTable) {
//     std::unique_ptr<TransactionOperation> operation;
//     if (!RegistryEntry(row, &resolver).Apply(root, &operation)) return false;
//     if (operation && !transaction.Execute(std::move(operation))) {
//       transaction.Rollback();
//       return false;
//     }
//   }
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_REGISTRY_ENTRY_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_REGISTRY_ENTRY_H_

#include <windows.h>

#include <stdint.h>

#include <memory>
#include <string>

#include "desktop/windows/installer/security/access_control.h"
#include "desktop/windows/installer/service/placeholder_resolver.h"
#include "desktop/windows/installer/service/transactions/transaction_operation.h"

namespace installer {

// The row types beyond the registry's own (REG_NONE, REG_SZ, REG_EXPAND_SZ, REG_BINARY,
// REG_DWORD).
const uint32_t kRegistryDeleteValue = 0xFFFFFFFF;
const uint32_t kRegistryDeleteKey = 0xFFFFFFFE;

struct RegistryEntryDefinition {
  const wchar_t* key_template;
  // Null for the key's default value.
  const wchar_t* value_name_template;
  uint32_t type;
  // REG_SZ, REG_EXPAND_SZ: const wchar_t* template; REG_BINARY: const char* bytes up to
  // the NUL; REG_DWORD: the value itself.
  uintptr_t data;
  // The lowest OS version index (base::OsVersion) the row applies on.
  int32_t min_os_version;
  // Null for any root, else the only root the row applies to.
  HKEY root_condition;
  // The row applies when this is not above the build's stream number.
  int32_t min_stream;
  // Passed with the value to the installation record.
  int32_t clean_level;
  // 0 or KEY_WOW64_32KEY.
  REGSAM view_flags;
};

class RegistryEntry {
 public:
  // |resolver| is borrowed and must outlive Apply; |security| is given to the operations.
  RegistryEntry(const RegistryEntryDefinition& definition, PlaceholderResolver* resolver,
                NamedSecurityInfo* security = SystemNamedSecurityInfo());

  // The row's operation for |root| in *operation (cleared first): none when the row does
  // not apply. Values that are set are noted in the resolver's registry list for |root|.
  // False only for an unsupported type.
  [[nodiscard]] bool Apply(HKEY root, std::unique_ptr<TransactionOperation>* operation);

  // Replaces each "{Name}" by the resolver's text in one pass: substituted text is never
  // scanned again. A "{" without a later "}" stays as it is. Null gives empty.
  std::wstring ExpandTemplate(const wchar_t* text_template);

 private:
  RegistryEntryDefinition definition_;
  PlaceholderResolver* resolver_;
  NamedSecurityInfo* security_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_REGISTRY_ENTRY_H_

#include "desktop/windows/installer/service/registry_entry.h"

#include <string.h>

#include <vector>

#include "base/win/windows_version.h"
#include "desktop/windows/installer/service/install_log.h"
#include "desktop/common/autoupdate/updatechecker/product_config.h"
#include "desktop/windows/installer/service/transactions/change_reg_value_operation.h"
#include "desktop/windows/installer/service/transactions/delete_reg_key_operation.h"

namespace installer {

RegistryEntry::RegistryEntry(const RegistryEntryDefinition& definition,
                             PlaceholderResolver* resolver, NamedSecurityInfo* security)
    : definition_(definition), resolver_(resolver), security_(security) {}

bool RegistryEntry::Apply(HKEY root, std::unique_ptr<TransactionOperation>* operation) {
  operation->reset();
  if (base::GetWindowsVersion() < definition_.min_os_version) return true;
  if (definition_.root_condition && definition_.root_condition != root) return true;
  if (definition_.min_stream > GetChannel()) return true;

  if (definition_.type == kRegistryDeleteKey) {
    operation->reset(new DeleteRegKeyOperation(root, ExpandTemplate(definition_.key_template),
                                               definition_.view_flags, security_));
    return true;
  }

  std::vector<BYTE> data;
  switch (definition_.type) {
    case REG_NONE:
    case kRegistryDeleteValue:
      break;
    case REG_SZ:
    case REG_EXPAND_SZ: {
      const std::wstring text =
          ExpandTemplate(reinterpret_cast<const wchar_t*>(definition_.data));
      // An empty text is written without its NUL.
      if (!text.empty()) {
        const BYTE* bytes = reinterpret_cast<const BYTE*>(text.c_str());
        data.assign(bytes, bytes + (text.size() + 1) * sizeof(wchar_t));
      }
      break;
    }
    case REG_BINARY: {
      const char* bytes = reinterpret_cast<const char*>(definition_.data);
      if (bytes) data.assign(bytes, bytes + strlen(bytes));
      break;
    }
    case REG_DWORD: {
      const uint32_t number = static_cast<uint32_t>(definition_.data);
      const BYTE* bytes = reinterpret_cast<const BYTE*>(&number);
      data.assign(bytes, bytes + sizeof(number));
      break;
    }
    default:
      return false;
  }

  const std::wstring key_path = ExpandTemplate(definition_.key_template);
  const std::wstring value_name = ExpandTemplate(definition_.value_name_template);
  std::vector<InstallLog::RegistryKey>* registry_log = resolver_->GetRegistryLog(root);
  const uint32_t size = static_cast<uint32_t>(data.size());
  const BYTE* bytes = data.empty() ? nullptr : data.data();
  operation->reset(new ChangeRegValueOperation(root, key_path, value_name, bytes,
                                               definition_.type, size,
                                               definition_.view_flags, security_));
  // Noted now, whether or not the caller's execution of the operation succeeds.
  if (registry_log && definition_.type != kRegistryDeleteValue) {
    // Binary data goes to the record as the row's NUL-terminated byte string, whose
    // terminator stands for an empty value ("00").
    const void* logged = bytes;
    if (definition_.type == REG_BINARY) {
      const char* text = reinterpret_cast<const char*>(definition_.data);
      logged = text ? text : "";
    }
    InstallLog::AddRegistryValue(*registry_log, key_path, value_name, logged, definition_.type,
                                 size, definition_.clean_level);
  }
  return true;
}

std::wstring RegistryEntry::ExpandTemplate(const wchar_t* text_template) {
  if (!text_template) return std::wstring();
  const std::wstring text(text_template);
  std::wstring result;
  size_t position = 0;
  for (;;) {
    const size_t open = text.find(L'{', position);
    if (open == std::wstring::npos) break;
    const size_t close = text.find(L'}', open);
    if (close == std::wstring::npos) break;
    result.append(text, position, open - position);
    result += resolver_->Resolve(text.substr(open + 1, close - open - 1));
    position = close + 1;
  }
  result.append(text, position, std::wstring::npos);
  return result;
}

}  // namespace installer

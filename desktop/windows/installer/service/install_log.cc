#include "desktop/windows/installer/service/install_log.h"

#include <stdio.h>
#include <string.h>

#include <utility>

#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"

namespace installer {

namespace {

const char* const kRegistryTypeNames[] = {
    "REG_NONE",
    "REG_SZ",
    "REG_EXPAND_SZ",
    "REG_BINARY",
    "REG_DWORD",
    "REG_DWORD_BIG_ENDIAN",
    "REG_LINK",
    "REG_MULTI_SZ",
    "REG_RESOURCE_LIST",
    "REG_FULL_RESOURCE_DESCRIPTOR",
    "REG_RESOURCE_REQUIREMENTS_LIST",
    "REG_QWORD",
};

const uint32_t kRegSz = 1;
const uint32_t kRegExpandSz = 2;
const uint32_t kRegBinary = 3;
const uint32_t kRegDword = 4;

std::string DataAsText(const void* data, uint32_t type, uint32_t size) {
  // No data is empty text whatever the type; never read through a null pointer.
  if (!data) return std::string();
  char digits[16];
  switch (type) {
    case kRegSz:
    case kRegExpandSz:
      return base::WideToUTF8(static_cast<const wchar_t*>(data));
    case kRegBinary: {
      // The first byte is always written: callers pass NUL-terminated byte strings,
      // so an empty value is recorded as its terminator, "00".
      const unsigned char* bytes = static_cast<const unsigned char*>(data);
      snprintf(digits, sizeof(digits), "%.2x", bytes[0]);
      std::string text = digits;
      for (uint32_t i = 1; i < size; ++i) {
        snprintf(digits, sizeof(digits), ",%.2x", bytes[i]);
        text += digits;
      }
      return text;
    }
    case kRegDword: {
      // Never read past the data given, whatever its size.
      uint32_t value = 0;
      memcpy(&value, data, size < sizeof(value) ? size : sizeof(value));
      snprintf(digits, sizeof(digits), "%.8lx", static_cast<unsigned long>(value));
      return digits;
    }
    default:
      return std::string();
  }
}

}  // namespace

InstallLog::Component::Component(std::string name, std::wstring path)
    : name(std::move(name)), path(std::move(path)) {}

InstallLog::RegistryValue::RegistryValue() = default;

InstallLog::RegistryKey::RegistryKey() = default;

InstallLog::InstallLog(uint32_t source) : source(source) {}

InstallLog::InstallLog(const InstallLog& other) : source(other.source) {}

InstallLog::~InstallLog() = default;

std::string InstallLog::GetSuffixedAppId() const {
  return app_id + "1";
}

// static
void InstallLog::AddRegistryValue(std::vector<RegistryKey>& keys,
                                  const std::wstring& key_path,
                                  const std::wstring& value_name, const void* data,
                                  uint32_t type, uint32_t size, int32_t clean) {
  std::string path = base::WideToUTF8(key_path);
  RegistryKey* key = nullptr;
  for (auto it = keys.rbegin(); it != keys.rend(); ++it) {
    if (base::EqualsCaseInsensitiveASCII(it->path, path)) {
      key = &*it;
      if (clean > key->clean) key->clean = clean;
      break;
    }
  }
  if (!key) {
    keys.emplace_back();
    key = &keys.back();
    key->clean = clean;
    key->path = std::move(path);
  }
  RegistryValue value;
  if (type < sizeof(kRegistryTypeNames) / sizeof(kRegistryTypeNames[0]))
    value.type = kRegistryTypeNames[type];
  value.name = base::WideToUTF8(value_name);
  value.data = DataAsText(data, type, size);
  key->values.push_back(std::move(value));
}

}  // namespace installer

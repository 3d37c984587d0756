#include "base/environment.h"

#include <windows.h>

#include <vector>

#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"

namespace base {

namespace {

// Exactly |name|, as the system compares it.
[[nodiscard]] bool GetVariable(StringPiece name, std::string* value) {
  const std::wstring wide_name = UTF8ToWide(name);
  DWORD size = GetEnvironmentVariableW(wide_name.c_str(), nullptr, 0);
  if (size == 0)
    return false;
  if (!value)
    return true;
  std::vector<wchar_t> buffer;
  for (;;) {
    buffer.assign(size, L'\0');
    SetLastError(ERROR_SUCCESS);  // an empty value also reads as 0
    const DWORD result = GetEnvironmentVariableW(wide_name.c_str(), buffer.data(), size);
    // Another thread may grow or remove the variable between the two calls.
    if (result < size) {
      if (result == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND)
        return false;
      break;
    }
    size = result;
  }
  *value = WideToUTF8(std::wstring(buffer.data()));
  return true;
}

class ProcessEnvironment : public Environment {
 public:
  bool GetVar(StringPiece name, std::string* value) override {
    return internal::GetVarWithCaseRetry(name, value, &GetVariable);
  }

  bool HasVar(StringPiece name) override { return GetVar(name, nullptr); }

  bool SetVar(StringPiece name, const std::string& value) override {
    return SetEnvironmentVariableW(UTF8ToWide(name).c_str(), UTF8ToWide(value).c_str()) !=
           FALSE;
  }

  bool UnSetVar(StringPiece name) override {
    return SetEnvironmentVariableW(UTF8ToWide(name).c_str(), nullptr) != FALSE;
  }
};

}  // namespace

Environment::~Environment() = default;

std::unique_ptr<Environment> Environment::Create() {
  return std::unique_ptr<Environment>(new ProcessEnvironment());
}

namespace internal {

bool GetVarWithCaseRetry(StringPiece name, std::string* value,
                         const VariableLookup& lookup) {
  if (lookup(name, value))
    return true;
  // Only the first character decides which way the whole name is flipped.
  if (name.empty())
    return false;
  const char first = name[0];
  if (first >= 'a' && first <= 'z')
    return lookup(ToUpperASCII(name), value);
  if (first >= 'A' && first <= 'Z')
    return lookup(ToLowerASCII(name), value);
  return false;
}

}  // namespace internal

}  // namespace base

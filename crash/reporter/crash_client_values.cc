#include "crash/reporter/crash_client_values.h"

#include <tlhelp32.h>

#include <memory>

#include "base/environment.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/string_util.h"
#include "base/strings/stringprintf.h"
#include "base/win/scoped_handle.h"
#include "desktop/common/autoupdate/updatechecker/product_config.h"

namespace crash_reporter {

namespace {

constexpr size_t kBuildStampLength = 8;
constexpr size_t kBuildIdDigits = 6;
constexpr int32_t kNightlyChannel = 2;
constexpr int32_t kReleaseChannel = 4;

// False when |name| is unset.
[[nodiscard]] bool LookupVariable(base::StringPiece name, std::string* value) {
  std::unique_ptr<base::Environment> environment(base::Environment::Create());
  return environment->GetVar(name, value);
}

std::string GetVariable(base::StringPiece name) {
  std::string value;
  if (!LookupVariable(name, &value)) return std::string();
  return value;
}

std::string GetProductVariableName(base::StringPiece suffix) {
  return base::ToUpperASCII(installer::GetProductName()) + "_" + suffix.as_string();
}

typedef BOOL(WINAPI* GetPolicyFunction)(LPDWORD);
typedef BOOL(WINAPI* SetPolicyFunction)(DWORD);

void* GetKernel32Function(const char* name) {
  HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
  return kernel32 ? reinterpret_cast<void*>(GetProcAddress(kernel32, name)) : nullptr;
}

}  // namespace

std::string GetProductEnvironmentVariable(base::StringPiece suffix) {
  return GetVariable(GetProductVariableName(suffix));
}

std::string GetCrashEmail() { return GetProductEnvironmentVariable("CRASH_EMAIL"); }

bool IsTrueEnvironmentValue(base::StringPiece value) {
  return value == "1" || base::EqualsCaseInsensitiveASCII(value, "yes") ||
         base::EqualsCaseInsensitiveASCII(value, "true");
}

bool GetKeepLogs(bool default_value) {
  std::string value;
  // An empty value is read like no value at all.
  if (!LookupVariable(GetProductVariableName("CRASH_KEEP_LOGS"), &value) || value.empty())
    return default_value;
  return IsTrueEnvironmentValue(value);
}

std::string GetCrashLogDirOverride() { return GetVariable("VELUM_CRASH_LOG_DIR"); }
std::string GetHarborTestValue() { return GetVariable("VELUM_CRASH_REPORTER_HARBOR_TEST"); }
std::string GetCrashOrigin() { return GetVariable("VELUM_CRASH_ORIGIN"); }

std::string FormatBuildIdKey(base::StringPiece build_stamp, int build_id_number) {
  std::string stamp = build_stamp.substr(0, kBuildStampLength).as_string();
  stamp.resize(kBuildStampLength, '0');
  std::string number = base::IntToString(build_id_number);
  if (number.size() > kBuildIdDigits) number = number.substr(number.size() - kBuildIdDigits);
  return stamp + std::string(kBuildIdDigits - number.size(), '0') + number;
}

std::string GetBuildIdKey() {
  return FormatBuildIdKey(installer::GetBuildTimestamp(), installer::GetBuildIdNumber());
}

std::string FormatReleaseChannelKey(int32_t channel, const std::string& channel_name) {
  if (channel == kNightlyChannel) return "nightly";
  if (channel == kReleaseChannel) return "release";
  return channel_name;
}

std::string GetReleaseChannelKey() {
  return FormatReleaseChannelKey(installer::GetChannel(), installer::GetChannelName());
}

std::string GetSymbolsPackageName(const base::FilePath& program) {
  return base::EndsWith(program.RemoveExtension().value(), L"_browsertests",
                        base::CompareCase::SENSITIVE)
             ? "tests-syms"
             : "browser-syms";
}

bool GetProcessExceptionPolicy(DWORD* flags) {
  auto get = reinterpret_cast<GetPolicyFunction>(
      GetKernel32Function("GetProcessUserModeExceptionPolicy"));
  return get && get(flags);
}

bool SetProcessExceptionPolicy(DWORD flags) {
  auto set = reinterpret_cast<SetPolicyFunction>(
      GetKernel32Function("SetProcessUserModeExceptionPolicy"));
  return set && set(flags);
}

std::string GetExceptionPolicyKey() {
  DWORD flags = 0;
  if (!GetProcessExceptionPolicy(&flags)) return std::string();
  return base::StringPrintf("0x%04lx", flags);
}

std::string GetIsWow64Key() {
  BOOL is_wow64 = FALSE;
  if (!IsWow64Process(GetCurrentProcess(), &is_wow64)) return std::string();
  return is_wow64 ? "1" : "0";
}

base::FilePath GetOwnProgramPath() {
  wchar_t program[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, program, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return base::FilePath();
  return base::FilePath(base::StringPiece16(program, length));
}

base::FilePath GetParentProcessImagePath() {
  base::ScopedHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot.IsValid()) return base::FilePath();
  const DWORD own_id = GetCurrentProcessId();
  DWORD parent_id = 0;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more;
       more = Process32NextW(snapshot.Get(), &entry)) {
    if (entry.th32ProcessID == own_id) {
      parent_id = entry.th32ParentProcessID;
      break;
    }
  }
  if (parent_id == 0) return base::FilePath();
  base::ScopedHandle parent(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, parent_id));
  if (!parent.IsValid()) return base::FilePath();
  wchar_t path[MAX_PATH];
  DWORD length = MAX_PATH;
  if (!QueryFullProcessImageNameW(parent.Get(), 0, path, &length)) return base::FilePath();
  return base::FilePath(base::StringPiece16(path, length));
}

}  // namespace crash_reporter

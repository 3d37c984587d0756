#include "crash/reporter/crash_client_info.h"

#include "base/command_line.h"
#include "base/strings/utf_string_conversions.h"
#include "crash/reporter/crash_client_values.h"
#include "crash/reporter/installer_crash_client_config.h"

namespace crash_reporter {

CrashClientInfo::CrashClientInfo() = default;
CrashClientInfo::~CrashClientInfo() = default;

bool CrashClientInfo::IsAllowedKey(base::StringPiece key) const {
  return allowed_keys_.count(key.as_string()) != 0;
}

void CrashClientInfo::SetKey(base::StringPiece key, base::StringPiece value) const {
  if (!IsAllowedKey(key)) return;
  SetCrashKeyValue(base::UTF8ToWide(key), base::UTF8ToWide(value));
}

void CrashClientInfo::ClearKey(base::StringPiece key) const {
  ClearCrashKeyValue(base::UTF8ToWide(key));
}

std::unique_ptr<CrashClientInfo> BuildCrashClientInfo(const std::wstring& process_type) {
  std::unique_ptr<CrashClientInfo> info(new CrashClientInfo);
  const base::CommandLine* command_line = base::CommandLine::ForCurrentProcess();
  const base::CommandLine no_command_line(base::CommandLine::NO_PROGRAM);
  info->custom_info_ = FillCrashClientCustomInfo(
      &info->holder_, GetOwnProgramPath(), process_type, std::wstring(),
      command_line ? *command_line : no_command_line, GetCrashClientConfig());
  info->allowed_keys_ = GetAllowedCrashKeyNames();
  return info;
}

}  // namespace crash_reporter

#include "crash/reporter/crash_client_config.h"

namespace crash_reporter {

CrashClientConfig::~CrashClientConfig() = default;

bool CrashClientConfig::IsBrowserProcessType(const std::wstring& process_type) {
  return process_type == L"browser";
}

bool CrashClientConfig::GetAlternativeCrashDumpLocation(base::FilePath*) { return false; }

void CrashClientConfig::GetProductNameAndVersion(const base::FilePath&, std::wstring*,
                                                 std::wstring*, std::wstring*,
                                                 std::wstring*) {}

bool CrashClientConfig::GetCrashDumpLocation(base::FilePath*) { return false; }

bool CrashClientConfig::GetCrashMetricsLocation(base::FilePath*) { return false; }

size_t CrashClientConfig::RegisterCrashKeys() { return 0; }

bool CrashClientConfig::IsRunningUnattended() { return true; }

bool CrashClientConfig::IsDumpLocationPrivate() { return false; }

}  // namespace crash_reporter

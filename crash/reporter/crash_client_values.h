// The values a crash client reports about its build and its environment: the build
// crash keys, the crash-reporting environment variables and a few process facts.
#ifndef CRASH_REPORTER_CRASH_CLIENT_VALUES_H_
#define CRASH_REPORTER_CRASH_CLIENT_VALUES_H_

#include <windows.h>
#include <stdint.h>

#include <string>

#include "base/files/file_path.h"
#include "base/strings/string_piece.h"

namespace crash_reporter {

// The variable named by the product name in upper case, "_" and |suffix|
// ("VELUM_CRASH_EMAIL"); empty when unset.
std::string GetProductEnvironmentVariable(base::StringPiece suffix);
// "VELUM_CRASH_EMAIL".
std::string GetCrashEmail();
// "VELUM_CRASH_KEEP_LOGS": |default_value| when unset; true for "1", "yes" or "true"
// (ASCII case-insensitive).
bool GetKeepLogs(bool default_value);
// "VELUM_CRASH_LOG_DIR", "VELUM_CRASH_REPORTER_HARBOR_TEST", "VELUM_CRASH_ORIGIN".
std::string GetCrashLogDirOverride();
std::string GetHarborTestValue();
std::string GetCrashOrigin();
// Whether an environment value of crash reporting reads as true.
bool IsTrueEnvironmentValue(base::StringPiece value);

// "BuildID": the build stamp cut or padded with "0" to 8 characters, then the build id
// number's last 6 digits, zero-padded: 14 characters.
std::string GetBuildIdKey();
std::string FormatBuildIdKey(base::StringPiece build_stamp, int build_id_number);
// "ReleaseChannel": "nightly" for channel 2, "release" for 4, else the channel name.
std::string GetReleaseChannelKey();
std::string FormatReleaseChannelKey(int32_t channel, const std::string& channel_name);
// "symbols-package": "tests-syms" for a program whose name without extension ends with
// "_browsertests", else "browser-syms".
std::string GetSymbolsPackageName(const base::FilePath& program);
// "exception_policy": the user-mode exception policy flags as "0x%04x"; empty where the
// system lacks the call.
std::string GetExceptionPolicyKey();
// "is_wow64": "1" or "0"; empty when unknown.
std::string GetIsWow64Key();

// kernel32's GetProcessUserModeExceptionPolicy, looked up at run time: not every
// system exports it. False when it is missing or fails.
[[nodiscard]] bool GetProcessExceptionPolicy(DWORD* flags);
// Sets the policy through SetProcessUserModeExceptionPolicy; false when it is missing.
[[nodiscard]] bool SetProcessExceptionPolicy(DWORD flags);

// The path of this process's own program; empty when it does not fit MAX_PATH.
base::FilePath GetOwnProgramPath();

// The image path of the parent process; empty on any failure.
base::FilePath GetParentProcessImagePath();

}  // namespace crash_reporter

#endif  // CRASH_REPORTER_CRASH_CLIENT_VALUES_H_

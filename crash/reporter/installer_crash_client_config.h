// The installer's answers to the crash client's questions, and the crash keys an
// installer process declares.
#ifndef CRASH_REPORTER_INSTALLER_CRASH_CLIENT_CONFIG_H_
#define CRASH_REPORTER_INSTALLER_CRASH_CLIENT_CONFIG_H_

#include <stddef.h>

#include <set>
#include <string>

#include "crash/reporter/crash_client_config.h"
#include "crash/util/crash_keys.h"

namespace crash_reporter {

// The longest value one custom-info slot holds.
constexpr size_t kCrashKeyChunkMaxLength = 63;

// Path keys the dump folder and the crash statistics file are registered under.
constexpr int kCrashDumpsPathKey = 2002;
constexpr int kCrashMetricsPathKey = 2015;

class InstallerCrashClientConfig : public CrashClientConfig {
 public:
  InstallerCrashClientConfig() = default;
  ~InstallerCrashClientConfig() override;

  // The product configuration's crash product name, the product version, no special
  // build, the channel name.
  void GetProductNameAndVersion(const base::FilePath& exe_path, std::wstring* product,
                                std::wstring* version, std::wstring* special,
                                std::wstring* channel) override;
  // "VELUM_CRASH_LOG_DIR" when set, else the registered dump folder.
  [[nodiscard]] bool GetCrashDumpLocation(base::FilePath* path) override;
  [[nodiscard]] bool GetCrashMetricsLocation(base::FilePath* path) override;
  // Declares GetInstallerCrashKeys() with chunks of 63 characters.
  size_t RegisterCrashKeys() override;
  bool IsRunningUnattended() override;
};

// The process-wide configuration, created on first use.
CrashClientConfig* GetCrashClientConfig();

// The declared keys, in declaration order.
const CrashKey* GetInstallerCrashKeys(size_t* count);

// The keys an installer process may store: the declared ones except the browser's
// renderer and navigation diagnostics, a key longer than one slot by its chunk names.
std::set<std::string> GetAllowedCrashKeyNames();

}  // namespace crash_reporter

#endif  // CRASH_REPORTER_INSTALLER_CRASH_CLIENT_CONFIG_H_

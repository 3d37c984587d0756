// The questions a crash client asks about its product. This base answers for a product
// that configures nothing; the installer's answers are InstallerCrashClientConfig.
#ifndef CRASH_REPORTER_CRASH_CLIENT_CONFIG_H_
#define CRASH_REPORTER_CRASH_CLIENT_CONFIG_H_

#include <stddef.h>

#include <string>

#include "base/files/file_path.h"

namespace crash_reporter {

class CrashClientConfig {
 public:
  CrashClientConfig() = default;
  CrashClientConfig(const CrashClientConfig&) = delete;
  CrashClientConfig& operator=(const CrashClientConfig&) = delete;
  virtual ~CrashClientConfig();

  // Whether |process_type| is the browser's own: "browser".
  virtual bool IsBrowserProcessType(const std::wstring& process_type);
  // A dump folder that the custom info names; false when there is none to name.
  [[nodiscard]] virtual bool GetAlternativeCrashDumpLocation(base::FilePath* path);
  // The product, version, special build and channel reported for |exe_path|. The base
  // leaves the outputs untouched.
  virtual void GetProductNameAndVersion(const base::FilePath& exe_path, std::wstring* product,
                                        std::wstring* version, std::wstring* special,
                                        std::wstring* channel);
  // The folder dumps are written to.
  [[nodiscard]] virtual bool GetCrashDumpLocation(base::FilePath* path);
  // The crash statistics file.
  [[nodiscard]] virtual bool GetCrashMetricsLocation(base::FilePath* path);
  // Declares the crash keys and returns the number of storage slots they need.
  virtual size_t RegisterCrashKeys();
  // Whether no user watches the process; the custom info then names the dump folder.
  virtual bool IsRunningUnattended();
  // Whether the dump folder must stay out of the custom info.
  virtual bool IsDumpLocationPrivate();
};

}  // namespace crash_reporter

#endif  // CRASH_REPORTER_CRASH_CLIENT_CONFIG_H_

// The crash client information of a process: its custom info and the crash keys it may
// store there.
#ifndef CRASH_REPORTER_CRASH_CLIENT_INFO_H_
#define CRASH_REPORTER_CRASH_CLIENT_INFO_H_

#include <memory>
#include <set>
#include <string>

#include "base/strings/string_piece.h"
#include "crash/reporter/crash_client_custom_info.h"

namespace crash_reporter {

class CrashClientInfo {
 public:
  CrashClientInfo();
  CrashClientInfo(const CrashClientInfo&) = delete;
  CrashClientInfo& operator=(const CrashClientInfo&) = delete;
  ~CrashClientInfo();

  const CustomClientInfo& custom_info() const { return custom_info_; }
  bool IsAllowedKey(base::StringPiece key) const;

  // Stores |key| when it is allowed; other keys are dropped.
  void SetKey(base::StringPiece key, base::StringPiece value) const;
  void ClearKey(base::StringPiece key) const;

 private:
  friend std::unique_ptr<CrashClientInfo> BuildCrashClientInfo(const std::wstring&);

  CrashClientCustomInfo holder_;
  CustomClientInfo custom_info_ = {nullptr, 0};
  std::set<std::string> allowed_keys_;
};

// The information of this process as |process_type| ("installer"): its program, the
// process command line and the installer's configuration.
std::unique_ptr<CrashClientInfo> BuildCrashClientInfo(const std::wstring& process_type);

}  // namespace crash_reporter

#endif  // CRASH_REPORTER_CRASH_CLIENT_INFO_H_

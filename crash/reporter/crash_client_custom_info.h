// The custom info of a crash client: fixed name/value entries in the client's memory that
// the reporter reads with every dump. The first entries describe the process; after them
// come 256 slots that crash keys fill in as they are set.
#ifndef CRASH_REPORTER_CRASH_CLIENT_CUSTOM_INFO_H_
#define CRASH_REPORTER_CRASH_CLIENT_CUSTOM_INFO_H_

#include <stddef.h>

#include <map>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/strings/string_piece.h"
#include "base/synchronization/lock.h"
#include "crash/reporter/crash_pipe_message.h"

namespace base {
class CommandLine;
}

namespace crash_reporter {

class CrashClientConfig;

constexpr size_t kMaxCrashKeySlots = 256;
constexpr wchar_t kUnspecifiedCrashKeyName[] = L"unspecified-crash-key";

// Owns the entries. Once filled their addresses stay fixed for the holder's life: the
// reporter was told where they are.
class CrashClientCustomInfo {
 public:
  CrashClientCustomInfo();
  CrashClientCustomInfo(const CrashClientCustomInfo&) = delete;
  CrashClientCustomInfo& operator=(const CrashClientCustomInfo&) = delete;
  ~CrashClientCustomInfo();

  CustomClientInfo custom_info() const { return {entries_.data(), entries_.size()}; }

 private:
  friend CustomClientInfo FillCrashClientCustomInfo(CrashClientCustomInfo*,
                                                    const base::FilePath&,
                                                    const std::wstring&, const std::wstring&,
                                                    const base::CommandLine&,
                                                    CrashClientConfig*);
  friend void SetCrashKeyValue(base::StringPiece16, base::StringPiece16);
  friend void ClearCrashKeyValue(base::StringPiece16);

  base::Lock lock_;
  std::vector<CustomInfoEntry> entries_;
  size_t first_key_slot_ = 0;
  std::map<std::wstring, size_t> key_slots_;
};

// Fills |info| for the process (product, version and channel from |config|), adds the
// 256 empty crash-key slots, makes |info| the target of SetCrashKeyValue and returns
// its entries. Call once per holder.
CustomClientInfo FillCrashClientCustomInfo(CrashClientCustomInfo* info,
                                           const base::FilePath& exe_path,
                                           const std::wstring& process_type,
                                           const std::wstring& profile_type,
                                           const base::CommandLine& command_line,
                                           CrashClientConfig* config);

// Both cut to 63 characters. A new key takes the next free slot; once 256 keys are
// mapped a new key is dropped. Any thread.
void SetCrashKeyValue(base::StringPiece16 key, base::StringPiece16 value);
// Empties the value of a mapped key (its slot stays taken). Any thread.
void ClearCrashKeyValue(base::StringPiece16 key);

// The "plugin-path-chunk-<n>" values of |path|: its last 256 characters in pieces of 63.
std::vector<std::wstring> GetPluginPathChunks(base::StringPiece16 path);

// Copies |text| cut to 63 characters, NUL-terminated.
void CopyCustomInfoText(wchar_t (&destination)[kCustomInfoTextLength],
                        base::StringPiece16 text);

}  // namespace crash_reporter

#endif  // CRASH_REPORTER_CRASH_CLIENT_CUSTOM_INFO_H_
